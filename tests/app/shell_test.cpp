#include <sys/stat.h>

#include <Qsci/qsciprinter.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/app_state.h"
#include "app/child_frame.h"
#include "app/commands.h"
#include "app/editor_transfer.h"
#include "app/file_names.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "app/text_codec.h"
#include "res/command_ids.h"
#include "res/images.h"
#include "res/resource_tables.h"
#include "search/host.h"
#include "search/text_buffer.h"
#include "tests/app/save_support.h"
#include "tests/support/temp_dir.h"
#include "ui/manual.h"
#include "ui/message_dlg.h"
#include "ui/progress_dlg.h"

namespace quarry {
namespace {

class Shell : public ::testing::Test {
  protected:
    void SetUp() override {
        SearchDialog() = SearchDialogLink{};
        QSettings(ProfilePath(), QSettings::IniFormat).clear();
    }
    void TearDown() override {
        SearchDialog() = SearchDialogLink{};
        if (app) {
            for (CQuarryDoc* doc : app->Documents()) {
                doc->SetModifiedFlag(false);
            }
        }
        app.reset();
    }
    void Start(const QStringList& args = {}) {
        app = std::make_unique<CQuarryApp>();
        ASSERT_TRUE(app->InitInstance(args));
        frame = app->MainWnd();
    }
    CQuarryView* Active() const { return frame->ActiveView(); }
    // The bytes a view shows.
    static std::string TextOf(CQuarryView* view) {
        std::string out;
        view->GetDocument()->Text().AppendBytes(out);
        return out;
    }
    // The size Scintilla draws the text at, in points.
    static double DrawnPoints(CQuarryView* view) {
        return double(view->SendScintilla(
                   QsciScintillaBase::SCI_STYLEGETSIZEFRACTIONAL,
                   static_cast<unsigned long>(QsciScintillaBase::STYLE_DEFAULT))) /
               double(QsciScintillaBase::SC_FONT_SIZE_MULTIPLIER);
    }

    std::unique_ptr<CQuarryApp> app;
    CMainFrame* frame = nullptr;
};

// The program's messages come as its own modal dialogs: while in scope, this
// notes each one's text and closes it.
class MessageCatcher {
  public:
    MessageCatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* message = qobject_cast<CMessageDlg*>(QApplication::activeModalWidget())) {
                shown << message->text.value_or(QString());
                message->close();
            }
        });
        timer_.start(20);
    }
    QStringList shown;

  private:
    QTimer timer_;
};

QStringList MenuLabels(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return out;
}

QStringList MenuBarTitles(QMenuBar* bar) {
    QStringList out;
    for (QAction* a : bar->actions()) {
        out << a->text();
    }
    return out;
}

// What a menu bar built from the popups would show: titles, then each
// popup's labels ("-" for a separator).
QList<QStringList> TableMenus(const std::vector<Popup>& popups) {
    QList<QStringList> out;
    for (const Popup& popup : popups) {
        QStringList labels{QString::fromUtf8(popup.title)};
        for (const MenuItem& item : popup.items) {
            labels << (item.label == nullptr ? QStringLiteral("-") : QString::fromUtf8(item.label));
        }
        out << labels;
    }
    return out;
}

QList<QStringList> ShownMenus(QMenuBar* bar) {
    QList<QStringList> out;
    for (QAction* title : bar->actions()) {
        out << (QStringList{title->text()} + MenuLabels(title->menu()));
    }
    return out;
}

QMenu* MenuAt(QMenuBar* bar, int index) {
    return bar->actions().at(index)->menu();
}

TEST_F(Shell, StartupRunsInOrderAndOpensNew1) {
    QSettings(ProfilePath(), QSettings::IniFormat).setValue("Quarry/FileOpenDir", "/data/texts/");
    Start();
    EXPECT_EQ(app->startupSteps,
              QStringList({"editor settings", "banners", "profile", "document template",
                           "main window", "command line", "help file", "show"}));
    EXPECT_EQ(editorFontSize, 185);
    EXPECT_EQ(editorFaceName, "Courier New");
    EXPECT_EQ(wordWrapEnabled, 0);
    EXPECT_EQ(fileOpenDir, "/data/texts/");
    EXPECT_EQ(Banners().productName.size(), QSize(137, 25));
    EXPECT_EQ(Banners().notice.size(), QSize(95, 15));
    EXPECT_EQ(Banners().messageBox.size(), QSize(87, 16));

    ASSERT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(app->Documents().front()->GetTitle(), "new1");
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->windowTitle(), "Quarry! - new1");
    ASSERT_NE(frame->MDIGetActive(), nullptr);
    EXPECT_TRUE(frame->MDIGetActive()->isMaximized());
    EXPECT_TRUE(frame->ShowsDocumentMenu());
    EXPECT_EQ(frame->IdleMessage()->text(), "For Help, press F1");
    // The key panes follow the message pane in order; offscreen there are no
    // lock indicators to read, so they show their names unlit.
    QStringList panes;
    for (int id : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL}) {
        auto* pane = frame->statusBar()->findChild<QLabel*>(QStringLiteral("indicator%1").arg(id));
        ASSERT_NE(pane, nullptr) << id;
        panes << pane->text();
        EXPECT_GT(pane->x(), frame->IdleMessage()->x());
    }
    EXPECT_EQ(panes, QStringList({"CAP", "NUM", "SCRL"}));
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    EXPECT_EQ(app->HelpFilePath(), exe.path() + "/" + exe.completeBaseName() + ".chm");

    // The next document is new2, also maximised.
    CQuarryDoc* second = app->OnFileNew();
    EXPECT_EQ(second->GetTitle(), "new2");
    EXPECT_TRUE(frame->MDIGetActive()->isMaximized());
    EXPECT_EQ(GetActiveEditor(), second->Views().front());
}

TEST_F(Shell, StartWithAFileOpensIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data.txt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("a=1\r\nb=2\r\n");
    file.close();
    Start({path});
    ASSERT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(app->Documents().front()->GetTitle(), "data.txt");
    EXPECT_EQ(TextOf(Active()), "a=1\r\nb=2\r\n");
    EXPECT_EQ(app->RecentFiles().value(0), QFileInfo(path).absoluteFilePath());
    // Opening it again activates the same document.
    app->OnFileNew();
    EXPECT_EQ(app->OpenDocumentFile(path), app->Documents().front());
    EXPECT_EQ(app->Documents().size(), 2);
}

// Former faults: only the first file named opened; a missing one ended
// start-up with no window, and a FIFO blocked it for good.
TEST_F(Shell, EveryFileNamedOpensAndOneThatCannotIsReportedWhileStartUpGoesOn) {
    QTemporaryDir dir;
    for (const char* name : {"one.txt", "two.txt"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(name);
    }
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    MessageCatcher messages;
    Start({dir.filePath("one.txt"), dir.filePath("missing.txt"), fifo, dir.filePath("two.txt")});
    ASSERT_EQ(app->Documents().size(), 2);
    EXPECT_EQ(app->Documents()[0]->GetTitle(), "one.txt");
    EXPECT_EQ(app->Documents()[1]->GetTitle(), "two.txt");
    const QStringList& shown = messages.shown;
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].contains("missing.txt") && shown[0].contains("nicht zugegriffen"))
        << shown[0].toStdString();
    EXPECT_TRUE(shown[1].contains("is a FIFO (named pipe), not a file of text"))
        << shown[1].toStdString();
    app.reset();

    // Nothing opened: a new document, as without a name.
    Start({dir.filePath("missing.txt")});
    ASSERT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(app->Documents()[0]->GetTitle(), "new1");
}

// The profile lives in the user's configuration folder; the old place is
// taken over once, the first time.
TEST_F(Shell, TheProfileLivesInTheConfigurationFolderAndTakesOverTheOldPlaceOnce) {
    // A configuration folder of its own, so that no other test's profile
    // is there.
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    struct Restore {
        QByteArray value;
        ~Restore() {
            if (value.isEmpty()) {
                qunsetenv("XDG_CONFIG_HOME");
            } else {
                qputenv("XDG_CONFIG_HOME", value);
            }
        }
    } restore{previous};
    ASSERT_EQ(ProfilePath(), config.path() + "/quarry/quarry.conf");
    QSettings(kRegistryKey, "Quarry!").setValue("Quarry/FileOpenDir", "/old/place/");
    Start();
    EXPECT_EQ(fileOpenDir, "/old/place/");
    EXPECT_EQ(QSettings(ProfilePath(), QSettings::IniFormat).value("Quarry/FileOpenDir"),
              "/old/place/");
    app.reset();
    QSettings(kRegistryKey, "Quarry!").setValue("Quarry/FileOpenDir", "/changed/");
    Start();
    EXPECT_EQ(fileOpenDir, "/old/place/") << "taken over once only";
    QSettings(kRegistryKey, "Quarry!").clear();
    app.reset();
}

// Former fault: a recent file that was gone stayed in the list for good.
TEST_F(Shell, ARecentFileThatNoLongerOpensLeavesTheList) {
    QTemporaryDir dir;
    const QString kept = dir.filePath("kept.txt");
    const QString gone = dir.filePath("gone.txt");
    for (const QString& path : {kept, gone}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    Start();
    app->AddToRecentFileList(QFileInfo(gone).absoluteFilePath());
    app->AddToRecentFileList(QFileInfo(kept).absoluteFilePath());
    ASSERT_TRUE(QFile::remove(gone));
    MessageCatcher messages;
    EXPECT_EQ(app->OpenRecentFile(gone), nullptr);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("gone.txt"));
    EXPECT_FALSE(app->RecentFiles().contains(QFileInfo(gone).absoluteFilePath()));
    EXPECT_TRUE(app->RecentFiles().contains(QFileInfo(kept).absoluteFilePath()));
}

TEST_F(Shell, MenusShowTheirTablesAndTheirItemsCarryTheirCommands) {
    Start();
    QMenuBar* bar = frame->menuBar();
    EXPECT_TRUE(frame->ShowsDocumentMenu());
    EXPECT_EQ(ShownMenus(bar), TableMenus(DocumentMenu()));
    // Each item stands for its command: it is the command's action or an
    // entry that triggers it, and either way carries the command's number
    // and prompt.
    for (int k = 0; k < bar->actions().size(); ++k) {
        const Popup& popup = DocumentMenu()[k];
        const QList<QAction*> items = MenuAt(bar, k)->actions();
        for (size_t i = 0; i < popup.items.size(); ++i) {
            if (popup.items[i].label == nullptr) {
                continue;
            }
            EXPECT_EQ(items[i]->data().toInt(), popup.items[i].id) << popup.items[i].label;
            EXPECT_EQ(items[i]->statusTip(), CommandPrompt(popup.items[i].id))
                << popup.items[i].label;
            // A menu shows an action's key beside a label without a hint of
            // its own: only the table's hints may show.
            if (!QString::fromUtf8(popup.items[i].label).contains('\t')) {
                EXPECT_TRUE(items[i]->shortcut().isEmpty()) << popup.items[i].label;
            }
        }
    }

    // With no document window, the other menu bar.
    app->CloseDocument(app->Documents().front());
    QApplication::processEvents();
    EXPECT_FALSE(frame->ShowsDocumentMenu());
    EXPECT_EQ(ShownMenus(bar), TableMenus(NoDocumentMenu()));
    EXPECT_EQ(frame->windowTitle(), "Quarry!");
}

// Each key of the table is on its command's action, and no key is bound twice.
TEST_F(Shell, EveryShortcutKeyIsOnItsCommandAndNoKeyIsBoundTwice) {
    Start();
    for (const Accelerator& acc : Accelerators()) {
        const QKeySequence key(QKeyCombination(acc.modifiers, acc.key));
        QAction* command = frame->Command(acc.id);
        ASSERT_NE(command, nullptr) << key.toString().toStdString();
        EXPECT_TRUE(command->shortcuts().contains(key)) << key.toString().toStdString();
        EXPECT_EQ(command->shortcutContext(), Qt::WindowShortcut);
        EXPECT_TRUE(frame->actions().contains(command)) << key.toString().toStdString();
    }
    QHash<QKeySequence, QAction*> owners;
    for (QAction* action : frame->Commands().Actions()) {
        for (const QKeySequence& key : action->shortcuts()) {
            EXPECT_FALSE(owners.contains(key)) << key.toString().toStdString();
            owners.insert(key, action);
        }
    }
}

// The font keys are the number pad's; Ctrl with the main keyboard's plus and
// minus is left to the editor.
TEST_F(Shell, FontKeysAreOnTheNumberPadOnly) {
    Start();
    frame->activateWindow();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    CQuarryView* view = Active();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(editorFontSize, 200);
    QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier);  // main keyboard: not bound
    EXPECT_EQ(editorFontSize, 200);
    QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(editorFontSize, 185);
    QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(editorFontSize, 185);
    // Ctrl+N makes new2 by accelerator.
    QTest::keyClick(view, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(app->Documents().size(), 2);
}

TEST_F(Shell, FontStepsStopAtTheirLimits) {
    Start();
    CQuarryView* view = Active();
    for (int k = 0; k < 11; ++k) {
        EXPECT_TRUE(frame->Command(ID_VIEW_REDUCE_FONTSIZE)->isEnabled()) << k;
        frame->Command(ID_VIEW_REDUCE_FONTSIZE)->trigger();
    }
    EXPECT_EQ(editorFontSize, 20);
    EXPECT_EQ(view->appliedFontSize, 20);
    EXPECT_DOUBLE_EQ(DrawnPoints(view), 1.0);
    EXPECT_FALSE(frame->Command(ID_VIEW_REDUCE_FONTSIZE)->isEnabled());
    frame->Command(ID_VIEW_REDUCE_FONTSIZE)->trigger();  // disabled: no effect
    EXPECT_EQ(editorFontSize, 20);

    editorFontSize = 185;
    for (int k = 0; k < 13; ++k) {
        frame->Command(ID_VIEW_INCREASE_FONTSIZE)->trigger();
    }
    EXPECT_EQ(editorFontSize, 380);
    EXPECT_TRUE(frame->Command(ID_VIEW_INCREASE_FONTSIZE)->isEnabled());
    frame->Command(ID_VIEW_INCREASE_FONTSIZE)->trigger();
    EXPECT_EQ(editorFontSize, 395);
    EXPECT_FALSE(frame->Command(ID_VIEW_INCREASE_FONTSIZE)->isEnabled());
    frame->Command(ID_VIEW_INCREASE_FONTSIZE)->trigger();
    EXPECT_EQ(editorFontSize, 395);
    EXPECT_TRUE(QFontInfo(view->EditorTextFont()).fixedPitch());
}

TEST_F(Shell, OtherViewsCatchUpWithFontAndWrapWhenActivated) {
    Start();
    CQuarryView* first = Active();
    app->OnFileNew();
    CQuarryView* second = Active();
    ASSERT_NE(first, second);
    frame->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(first->parentWidget()));
    ASSERT_EQ(Active(), first);
    frame->Command(ID_VIEW_INCREASE_FONTSIZE)->trigger();
    frame->Command(ID_VIEW_WORD_WRAPPING)->trigger();
    EXPECT_TRUE(frame->Command(ID_VIEW_WORD_WRAPPING)->isChecked());
    EXPECT_EQ(first->wrapMode(), QsciScintilla::WrapWord);
    EXPECT_EQ(second->appliedFontSize, 185);  // not yet active
    EXPECT_EQ(second->wrapMode(), QsciScintilla::WrapNone);

    frame->Command(ID_NEXT_PANE)->trigger();  // F6
    ASSERT_EQ(Active(), second);
    EXPECT_EQ(second->appliedFontSize, 200);
    EXPECT_DOUBLE_EQ(DrawnPoints(second), 10.0);
    EXPECT_EQ(second->m_nWordWrap, 1);
    EXPECT_EQ(second->wrapMode(), QsciScintilla::WrapWord);

    // A window opened afterwards wraps as soon as it is active.
    app->OnFileNew();
    EXPECT_EQ(Active()->wrapMode(), QsciScintilla::WrapWord);
    frame->Command(ID_VIEW_WORD_WRAPPING)->trigger();
    EXPECT_FALSE(frame->Command(ID_VIEW_WORD_WRAPPING)->isChecked());
    EXPECT_EQ(Active()->wrapMode(), QsciScintilla::WrapNone);
}

TEST_F(Shell, NextAndPreviousCycleAndKeepASingleWindow) {
    Start();
    CQuarryView* only = Active();
    EXPECT_TRUE(frame->Command(ID_NEXT_PANE)->isEnabled());
    EXPECT_TRUE(frame->Command(ID_PREV_PANE)->isEnabled());
    frame->Command(ID_NEXT_PANE)->trigger();
    EXPECT_EQ(Active(), only);
    frame->Command(ID_PREV_PANE)->trigger();
    EXPECT_EQ(Active(), only);
    app->OnFileNew();
    app->OnFileNew();
    CQuarryView* third = Active();
    frame->Command(ID_NEXT_PANE)->trigger();
    EXPECT_NE(Active(), third);
    EXPECT_TRUE(frame->MDIGetActive()->isMaximized());
    frame->Command(ID_PREV_PANE)->trigger();
    EXPECT_EQ(Active(), third);
}

TEST_F(Shell, PasteIsPlainAndOneUndoStep) {
    Start();
    CQuarryView* view = Active();
    ReplaceSelection(view, "start end");
    view->SetSel(6, 6);
    auto* mime = new QMimeData;
    mime->setHtml("<b>bold</b> words");
    mime->setText("bold\nwords");
    QApplication::clipboard()->setMimeData(mime);
    ASSERT_TRUE(frame->Command(ID_EDIT_PASTE)->isEnabled());
    frame->Command(ID_EDIT_PASTE)->trigger();
    // Only the plain text came in, its line break in the document's style.
    EXPECT_EQ(TextOf(view), "start bold\nwordsend");
    EXPECT_FALSE(view->HasSelection());
    int64_t s = 0;
    int64_t e = 0;
    view->GetSel(s, e);
    EXPECT_EQ(s, 16);  // after "words"
    EXPECT_EQ(e, 16);
    frame->Command(ID_EDIT_UNDO)->trigger();
    EXPECT_EQ(TextOf(view), "start end");

    QApplication::clipboard()->clear();
    EXPECT_FALSE(frame->Command(ID_EDIT_PASTE)->isEnabled());
}

TEST_F(Shell, CloseAndExitAreRefusedWhileASearchRuns) {
    Start();
    SearchDialog().running = true;
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());
    frame->Command(ID_APP_EXIT)->trigger();
    EXPECT_TRUE(frame->isVisible());
    // Document windows stay too: the running search may be using their editor.
    EXPECT_FALSE(frame->MDIGetActive()->close());
    EXPECT_EQ(app->Documents().size(), 1);
    SearchDialog().running = false;
    frame->Command(ID_APP_EXIT)->trigger();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(app->Documents().isEmpty());
}

TEST_F(Shell, HelpAsksForTheContextThenTheDefaultTopic) {
    Start();
    struct Call {
        QString path;
        int command;
        uint32_t data;
    };
    std::vector<Call> calls;
    bool contextOpens = false;
    frame->htmlHelp = [&](const QString& path, int command, uint32_t data) {
        calls.push_back({path, command, data});
        return command == HH_HELP_CONTEXT ? contextOpens : true;
    };
    frame->Command(ID_HELP)->trigger();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].command, HH_HELP_CONTEXT);
    EXPECT_EQ(calls[0].data, kMainFrameHelpContext);
    EXPECT_EQ(calls[0].path, ManualPath());
    EXPECT_EQ(calls[1].command, HH_DISPLAY_TOPIC);
    EXPECT_EQ(calls[1].data, 0u);
    calls.clear();
    contextOpens = true;
    frame->WinHelp(5, HELP_CONTEXT);
    ASSERT_EQ(calls.size(), 1u);  // the context opened: no second request
    EXPECT_EQ(calls[0].data, 5u);
    calls.clear();
    frame->WinHelp(77, 0);  // not a context request: context 0
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].data, 0u);
}

// Catches what the program asks the desktop to open, so that no browser
// starts during a test.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void Open(const QUrl& url) { urls << url; }
};

// Former fault: F1 looked for a .chm file that never exists, so it did nothing
// while the status bar said "For Help, press F1".
TEST_F(Shell, HelpOpensTheManualAtItsStartAndTheDialogsTopic) {
    Start();
    ASSERT_FALSE(ManualPath().isEmpty());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    frame->Command(ID_HELP)->trigger();
    frame->WinHelp(kSearchDialogHelpContext, HELP_CONTEXT);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[0].toLocalFile(), ManualPath());
    EXPECT_TRUE(catcher.urls[0].fragment().isEmpty());
    EXPECT_EQ(catcher.urls[1].toLocalFile(), ManualPath());
    EXPECT_EQ(catcher.urls[1].fragment(), kManualTopicDialog);
}

TEST_F(Shell, ToolbarButtonsAreTheirCommandsWithTooltipsAndPrompts) {
    Start();
    const QList<QAction*> shown = frame->ToolBar()->actions();
    ASSERT_EQ(shown.size(), static_cast<qsizetype>(ToolbarButtons().size()));
    for (size_t k = 0; k < ToolbarButtons().size(); ++k) {
        const int id = ToolbarButtons()[k].id;
        if (id == ID_SEPARATOR) {
            EXPECT_TRUE(shown[k]->isSeparator()) << k;
            continue;
        }
        // The button is the command's own action, so it shares its state
        // with the menu item and the keys.
        EXPECT_EQ(shown[k], frame->Command(id)) << k;
        EXPECT_EQ(shown[k]->toolTip(), CommandTooltip(id)) << k;
        EXPECT_FALSE(shown[k]->toolTip().isEmpty()) << k;
        EXPECT_EQ(shown[k]->statusTip(), CommandPrompt(id)) << k;
        EXPECT_FALSE(shown[k]->icon().isNull()) << k;
    }
    const QImage strip = DrawToolbarStrip();
    EXPECT_EQ(strip.size(), QSize(247, 20));
    // Each of the 13 images has something drawn on the grey.
    for (int k = 0; k < 13; ++k) {
        const QImage cell = strip.copy(k * 19, 0, 19, 20);
        int drawn = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 19; ++x) {
                drawn += cell.pixel(x, y) != qRgb(192, 192, 192);
            }
        }
        EXPECT_GT(drawn, 10) << "image " << k;
    }
    // Without a document, editing buttons are disabled and Find is not.
    app->CloseDocument(app->Documents().front());
    EXPECT_FALSE(frame->ToolBar()->actions().at(4)->isEnabled());  // Cut
    EXPECT_TRUE(frame->ToolBar()->actions().at(12)->isEnabled());  // Find
}

TEST_F(Shell, ContextMenuShowsItsTable) {
    Start();
    std::unique_ptr<QMenu> menu(Active()->CreateContextMenu());
    ASSERT_NE(menu, nullptr);
    const QStringList table = TableMenus(EditorContextMenu()).front().mid(1);
    EXPECT_EQ(MenuLabels(menu.get()), table);
    EXPECT_FALSE(menu->actions().at(2)->isEnabled());  // Cut without a selection
    EXPECT_TRUE(menu->actions().at(6)->isEnabled());   // Find
    // Its items name the commands in their own words and still run them.
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    menu.reset(Active()->CreateContextMenu());
    ASSERT_TRUE(menu->actions().at(4)->isEnabled());
    menu->actions().at(4)->trigger();
    EXPECT_EQ(Active()->text(), "pasted");
}

TEST_F(Shell, EveryCommandIsReachableFromAMenuOrAKey) {
    Start();
    QSet<int> inMenus;
    for (const auto* menu : {&DocumentMenu(), &NoDocumentMenu()}) {
        for (const Popup& popup : *menu) {
            for (const MenuItem& item : popup.items) {
                inMenus.insert(item.id);
            }
        }
    }
    for (QAction* action : frame->Commands().Actions()) {
        EXPECT_TRUE(inMenus.contains(action->data().toInt()) || !action->shortcuts().isEmpty())
            << action->text().toStdString();
    }
    // Every toolbar button is also a command of the document menu.
    for (const ToolbarButton& button : ToolbarButtons()) {
        EXPECT_TRUE(button.id == ID_SEPARATOR || inMenus.contains(button.id)) << button.id;
    }
}

TEST_F(Shell, EveryEnabledCommandHasAHandler) {
    Start();
    QApplication::clipboard()->setText(QStringLiteral("x"));
    Active()->SetSel(0, 0);
    Active()->InsertBytes("some text");
    Active()->SetSel(0, 4);
    frame->UpdateCommands();
    QList<QAction*> disabled;
    for (QAction* action : frame->Commands().Actions()) {
        if (action->isEnabled()) {
            EXPECT_TRUE(frame->Commands().IsBound(action)) << action->text().toStdString();
        } else {
            disabled << action;
        }
    }
    // With a document, a selection and text to paste, all but Redo (nothing
    // undone) and context help (no handler).
    EXPECT_EQ(disabled,
              QList<QAction*>({frame->Command(ID_EDIT_REDO), frame->Command(ID_CONTEXT_HELP)}));
}

TEST_F(Shell, EditorTransferWorksOnTheActiveEditor) {
    Start();
    CQuarryView* editor = GetActiveEditor();
    ASSERT_EQ(editor, Active());
    TextBuffer buffer;
    EXPECT_EQ(StreamOut(editor, buffer), 0);
    EXPECT_EQ(buffer.Data()[0], '\0');
    TextBuffer in;
    in.Append("x=1\r\ny=2\r\n", 10);
    StreamIn(editor, in);
    EXPECT_EQ(TextOf(editor), "x=1\r\ny=2\r\n");
    EXPECT_EQ(StreamOut(editor, buffer), 10);
    editor->SetSel(5, 8);
    EXPECT_EQ(editor->SelectedBytes(), "y=2");
    EXPECT_EQ(editor->LineFromChar(5), 1);
    EXPECT_EQ(editor->LineIndex(1), 5);
    ReplaceSelection(editor, "2=y");
    int64_t s = 0;
    int64_t e = 0;
    editor->GetSel(s, e);
    EXPECT_EQ(s, 5);
    EXPECT_EQ(e, 8);
    frame->Command(ID_EDIT_UNDO)->trigger();
    EXPECT_EQ(TextOf(editor), "x=1\r\ny=2\r\n");
    frame->Command(ID_EDIT_UNDO)->trigger();  // the whole stream-in in one step
    EXPECT_EQ(TextOf(editor), "");

    app->NewDocumentFromText(in);
    EXPECT_EQ(app->Documents().back()->GetTitle(), "new2");
    EXPECT_EQ(TextOf(GetActiveEditor()), "x=1\r\ny=2\r\n");

    for (CQuarryDoc* doc : app->Documents()) {
        doc->SetModifiedFlag(false);
    }
    const QList<CQuarryDoc*> docs = app->Documents();
    for (CQuarryDoc* doc : docs) {
        app->CloseDocument(doc);
    }
    EXPECT_EQ(GetActiveEditor(), nullptr);
}

TEST_F(Shell, ArrangeIconsLinesUpMinimisedWindowsAtTheBottom) {
    Start();
    app->OnFileNew();
    app->OnFileNew();
    const QList<QMdiSubWindow*> windows = frame->MdiArea()->subWindowList(QMdiArea::CreationOrder);
    frame->Command(ID_WINDOW_CASCADE)->trigger();  // out of the maximised state
    EXPECT_FALSE(windows[2]->isMaximized());
    windows[0]->showMinimized();
    windows[1]->showMinimized();
    windows[0]->move(200, 10);
    ASSERT_TRUE(windows[0]->isMinimized());
    ASSERT_TRUE(windows[1]->isMinimized());
    frame->Command(ID_WINDOW_ARRANGE)->trigger();
    const int bottom = frame->MdiArea()->viewport()->rect().bottom() + 1;
    EXPECT_EQ(windows[0]->geometry().left(), 0);
    EXPECT_EQ(windows[0]->geometry().bottom() + 1, bottom);
    EXPECT_EQ(windows[1]->geometry().left(), windows[0]->geometry().right() + 1);
    EXPECT_EQ(windows[1]->geometry().bottom() + 1, bottom);
}

// Documents are tabs from the start; Cascade, Tile and Arrange Icons turn them
// into windows and arrange them, and Tabs turns them back.
TEST_F(Shell, DocumentsAreTabsUntilTheWindowsAreArranged) {
    Start();
    app->OnFileNew();
    app->OnFileNew();
    QMdiArea* mdi = frame->MdiArea();
    EXPECT_EQ(mdi->viewMode(), QMdiArea::TabbedView);
    auto* tabs = mdi->findChild<QTabBar*>();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "new3");
    EXPECT_TRUE(frame->Command(ID_WINDOW_TABS)->isChecked());
    mdi->setActiveSubWindow(mdi->subWindowList().front());
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "new1");

    for (const int id : {ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_ARRANGE}) {
        frame->Command(ID_WINDOW_TABS)->trigger();
        ASSERT_EQ(mdi->viewMode(), QMdiArea::TabbedView);
        frame->Command(id)->trigger();
        EXPECT_EQ(mdi->viewMode(), QMdiArea::SubWindowView) << id;
        EXPECT_FALSE(frame->Command(ID_WINDOW_TABS)->isChecked());
        if (id != ID_WINDOW_ARRANGE) {
            // Arranged side by side or overlapping: no window covers the area.
            for (QMdiSubWindow* window : mdi->subWindowList()) {
                EXPECT_FALSE(window->isMaximized()) << id;
                EXPECT_LT(window->width() * window->height(),
                          mdi->viewport()->width() * mdi->viewport()->height())
                    << id;
            }
        }
    }
    // A new document comes as the active one in either view.
    app->OnFileNew();
    EXPECT_EQ(frame->MDIGetActive()->GetActiveView()->GetDocument()->GetTitle(), "new4");
    frame->Command(ID_WINDOW_TABS)->trigger();
    app->OnFileNew();
    tabs = mdi->findChild<QTabBar*>();  // made afresh for the tabbed view
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "new5");
}

// View > Line Numbers shows a margin of line numbers in every editor, as wide
// as the line count needs, until it is switched off again.
TEST_F(Shell, LineNumbersShowInEveryEditorAndWidenWithTheLineCount) {
    Start();
    CQuarryView* first = Active();
    EXPECT_EQ(first->LineNumberWidth(), 0);
    EXPECT_FALSE(frame->Command(ID_VIEW_LINE_NUMBERS)->isChecked());
    frame->Command(ID_VIEW_LINE_NUMBERS)->trigger();
    EXPECT_TRUE(frame->Command(ID_VIEW_LINE_NUMBERS)->isChecked());
    const int narrow = first->LineNumberWidth();
    EXPECT_GT(narrow, 0);
    app->OnFileNew();  // a later editor shows them too
    CQuarryView* second = Active();
    EXPECT_EQ(second->LineNumberWidth(), narrow);

    // A six-digit line count needs a wider margin, typed or loaded.
    second->GetDocument()->Text().LoadBytes(QByteArray(120000, '\n'));
    QApplication::processEvents();
    const int wide = second->LineNumberWidth();
    EXPECT_GT(wide, narrow);
    EXPECT_EQ(first->LineNumberWidth(), narrow);
    ReplaceSelection(first, QByteArray(1000, '\n').toStdString());
    QApplication::processEvents();
    EXPECT_GT(first->LineNumberWidth(), narrow);
    EXPECT_LT(first->LineNumberWidth(), wide);
    // The numbers are drawn in the editor's font, and follow its size.
    frame->Command(ID_VIEW_INCREASE_FONTSIZE)->trigger();
    frame->Command(ID_VIEW_INCREASE_FONTSIZE)->trigger();
    EXPECT_GT(second->LineNumberWidth(), wide);

    frame->Command(ID_VIEW_LINE_NUMBERS)->trigger();
    EXPECT_EQ(first->LineNumberWidth(), 0);
    EXPECT_EQ(second->LineNumberWidth(), 0);
    EXPECT_FALSE(frame->Command(ID_VIEW_LINE_NUMBERS)->isChecked());
}

TEST_F(Shell, NewWindowShowsTheSameDocument) {
    Start();
    CQuarryView* first = Active();
    frame->Command(ID_WINDOW_NEW)->trigger();
    CQuarryView* second = Active();
    ASSERT_NE(first, second);
    EXPECT_EQ(first->SendScintilla(QsciScintillaBase::SCI_GETDOCPOINTER),
              second->SendScintilla(QsciScintillaBase::SCI_GETDOCPOINTER));
    EXPECT_EQ(frame->MDIGetActive()->windowTitle(), "new1:2");
    EXPECT_TRUE(frame->MDIGetActive()->isMaximized());
    ReplaceSelection(second, "shared");
    EXPECT_EQ(TextOf(first), "shared");
    // Closing one window of two keeps the document without asking.
    EXPECT_TRUE(frame->MDIGetActive()->close());
    QApplication::processEvents();
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(frame->MDIGetActive()->windowTitle(), "*new1");
}

// Fault: the titles did not change after an edit or a Replace All, so nothing
// showed that closing would ask; and the frame's title had a double space.
TEST_F(Shell, AModifiedDocumentIsMarkedInTheTitlesUntilSavedOrUndone) {
    Start();
    CQuarryView* view = Active();
    EXPECT_EQ(frame->windowTitle(), "Quarry! - new1");
    ReplaceSelection(view, "text");
    EXPECT_EQ(frame->MDIGetActive()->windowTitle(), "*new1");
    EXPECT_EQ(frame->windowTitle(), "Quarry! - *new1");
    view->SendScintilla(QsciScintillaBase::SCI_UNDO);
    EXPECT_EQ(frame->MDIGetActive()->windowTitle(), "new1");
    EXPECT_EQ(frame->windowTitle(), "Quarry! - new1");
    // A text never saved but worth keeping is marked too.
    view->GetDocument()->SetModifiedFlag(true);
    EXPECT_EQ(frame->windowTitle(), "Quarry! - *new1");
    view->GetDocument()->SetModifiedFlag(false);
    EXPECT_EQ(frame->windowTitle(), "Quarry! - new1");
}

TEST_F(Shell, SaveWritesTheBytesItRead) {
    QTemporaryDir dir;
    const QString path = dir.filePath("latin.txt");
    const QByteArray bytes("caf\xE9\r\nna\xEFve\r\n\x80\r\n");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    Start({path});
    EXPECT_EQ(SaveAndReadBack(frame, app->Documents().front(), path), bytes);
}

TEST_F(Shell, PrintsOnPagesWithHalfInchMargins) {
    Start();
    CQuarryView* view = Active();
    EXPECT_EQ(view->marginTwips, 720);
    QString text;
    for (int k = 0; k < 300; ++k) {
        text += QStringLiteral("line %1 of the printed text\n").arg(k);
    }
    ReplaceSelection(view, text.toStdString());
    QTemporaryDir dir;
    QsciPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("out.pdf"));
    view->PrintDocument(&printer);
    const QMarginsF margins = printer.pageLayout().margins(QPageLayout::Point);
    EXPECT_DOUBLE_EQ(margins.left(), 36.0);
    EXPECT_DOUBLE_EQ(margins.top(), 36.0);
    QFile pdf(dir.filePath("out.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    // 300 lines of a 9.25-point font need more than one page.
    EXPECT_GE(
        bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page "),
        2);
}

TEST_F(Shell, PrintPreviewRendersThePages) {
    Start();
    ReplaceSelection(Active(), "preview text\r\nsecond line");
    bool shown = false;
    QTimer::singleShot(200, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            shown = w->inherits("QPrintPreviewDialog");
            w->close();
        }
    });
    frame->Command(ID_FILE_PRINT_PREVIEW)->trigger();
    EXPECT_TRUE(shown);
}

// Every name goes back to its own bytes; a UTF-8 name is Qt's own QString.
TEST(FileNames, BytesRoundTripAndUtf8NamesAreQtsOwn) {
    for (int b = 1; b < 256; ++b) {
        const QByteArray bytes = QByteArray("a") + char(b) + "\xC3\xA9\xF0\x9F\x98\x80z";
        EXPECT_EQ(FileNameBytes(FileNameFromBytes(bytes)), bytes) << b;
    }
    for (const char* odd : {"\xC3", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF5\x80\x80\x80",
                            "\xFF\xFE", "x\xE9\xE9y"}) {
        EXPECT_EQ(FileNameBytes(FileNameFromBytes(odd)), QByteArray(odd)) << odd;
        EXPECT_FALSE(QtCanName(FileNameFromBytes(odd))) << odd;
    }
    const QByteArray utf8 = "/tmp/caf\xC3\xA9 \xE2\x82\xAC.txt";
    EXPECT_EQ(FileNameFromBytes(utf8), QFile::decodeName(utf8));
    EXPECT_TRUE(QtCanName(FileNameFromBytes(utf8)));
    EXPECT_EQ(ShownFileName(FileNameFromBytes("caf\xE9")), QString::fromUtf8("caf\uFFFD"));
}

// Fault: a file whose name is not UTF-8 ("caf\xE9.txt", made under a Latin-1
// locale) failed to open, from the command line and by drag and drop: Qt
// decodes names as UTF-8 and the byte was lost.
TEST_F(Shell, AFileWhoseNameIsNotUtf8OpensAndSavesUnderItsOwnName) {
    test::TempDir dir;
    const std::string raw = dir.Path() + "/caf\xE9.txt";
    {
        std::ofstream out(raw, std::ios::binary);
        out << "caf\xE9 au lait\n";
    }
    // As main() takes it from argv.
    const QString name = FileNameFromBytes(QByteArray::fromStdString(raw));
    Start({name});
    ASSERT_EQ(app->Documents().size(), 1);
    CQuarryDoc* doc = app->Documents().front();
    EXPECT_EQ(doc->GetTitle(), QString::fromUtf8("caf\uFFFD.txt"));
    EXPECT_EQ(TextOf(Active()), "caf\xE9 au lait\n");

    // Saved back under the same bytes, nothing beside it.
    ReplaceSelection(Active(), "un ");
    frame->Command(ID_FILE_SAVE)->trigger();
    EXPECT_FALSE(doc->IsModified());
    std::ifstream in(raw, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "un caf\xE9 au lait\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);

    // Dropped, as a file manager puts it: the name's bytes percent-encoded.
    app->CloseDocument(doc);
    QMimeData mime;
    mime.setUrls(
        {QUrl::fromEncoded("file://" + QByteArray::fromStdString(raw).toPercentEncoding("/"))});
    frame->OpenDroppedFiles(&mime);
    ASSERT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(TextOf(Active()), "un caf\xE9 au lait\n");
}

TEST_F(Shell, DroppedFilesOpenAsDocumentsAndRecentFilesPersist) {
    QTemporaryDir dir;
    QStringList paths;
    for (const char* name : {"one.txt", "two.txt"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(name);
        paths << QFileInfo(file).absoluteFilePath();
    }
    Start();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1])});
    frame->OpenDroppedFiles(&mime);
    ASSERT_EQ(app->Documents().size(), 3);
    EXPECT_EQ(app->Documents().at(1)->GetTitle(), "one.txt");
    EXPECT_EQ(app->Documents().at(2)->GetTitle(), "two.txt");
    EXPECT_EQ(app->RecentFiles(), QStringList({paths[1], paths[0]}));
    frame->Command(ID_APP_EXIT)->trigger();
    QSettings profile(ProfilePath(), QSettings::IniFormat);
    EXPECT_EQ(profile.value("Recent File List/File1").toString(), paths[1]);
    EXPECT_EQ(profile.value("Recent File List/File2").toString(), paths[0]);
    app.reset();
    // The next start shows them in the File menu.
    Start();
    EXPECT_EQ(app->RecentFiles(), QStringList({paths[1], paths[0]}));
}

TEST_F(Shell, TheUserIsToldWhenAnEightBitDocumentTurnsUtf8) {
    QTemporaryDir dir;
    const QString path = dir.filePath("latin.txt");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("caf\xE9\n");
    }
    Start({path});
    std::vector<std::string> shown;
    SetMessageHandler(
        [&](const std::string& text, const MessageTitle&, const std::vector<std::string>&, int) {
            shown.push_back(text);
            return int(IDOK);
        });
    Active()->setFocus();
    QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf16(u"\u4E2D"));
    QApplication::sendEvent(Active(), &typed);
    QApplication::processEvents();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("U+4E2D"), std::string::npos);
    EXPECT_NE(shown[0].find("UTF-8"), std::string::npos);
    SetMessageHandler(nullptr);
    EXPECT_EQ(app->Documents().front()->Text().SaveBytes(),
              "\xE4\xB8\xAD"
              "caf\xC3\xA9\n");
}

TEST_F(Shell, RightButtonReleaseShowsMenu159AndKeyboardPasteIsPlain) {
    Start();
    CQuarryView* view = Active();
    QStringList seen;
    QTimer::singleShot(50, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            seen = MenuLabels(menu);
            menu->close();
        }
    });
    QTest::mouseRelease(view->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
    EXPECT_EQ(seen.value(0), "&Undo\tStrg+Z");
    EXPECT_EQ(seen.size(), 7);

    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    view->setFocus();
    auto* mime = new QMimeData;
    mime->setHtml("<i>rich</i>");
    mime->setText("rich");
    QApplication::clipboard()->setMimeData(mime);
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(TextOf(view), "rich");
}

TEST_F(Shell, SelectionChangesReachTheSearchDialogOnlyWhileItsWindowExists) {
    Start();
    int updates = 0;
    bool exists = false;
    SearchDialog().windowExists = [&] { return exists; };
    SearchDialog().updatePositionFields = [&] { ++updates; };
    CQuarryView* view = Active();
    ReplaceSelection(view, "abc\r\ndef");
    EXPECT_EQ(updates, 0);
    exists = true;
    view->SetSel(5, 5);
    EXPECT_GT(updates, 0);
    const int before = updates;
    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_GT(updates, before);
}

TEST_F(Shell, FindWorksWithoutADocument) {
    Start();
    int finds = 0;
    SearchDialog().find = [&] { ++finds; };
    app->CloseDocument(app->Documents().front());
    EXPECT_TRUE(frame->Command(ID_EDIT_FIND)->isEnabled());
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    QTest::keyClick(frame, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(finds, 1);
    frame->ToolBar()->actions().at(12)->trigger();
    EXPECT_EQ(finds, 2);
}

TEST_F(Shell, ClosingAsksAboutModifiedDocumentsAndCanBeCancelled) {
    Start();
    ReplaceSelection(Active(), "unsaved");
    ASSERT_TRUE(app->Documents().front()->IsModified());
    QString question;
    auto answer = [&](QMessageBox::StandardButton button) {
        QTimer::singleShot(50, [&question, button] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                question = box->text();
                box->button(button)->click();
            }
        });
    };
    answer(QMessageBox::Cancel);
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(question, "Save changes to new1?");
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(app->Documents().size(), 1);
    answer(QMessageBox::No);
    frame->Command(ID_APP_EXIT)->trigger();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(app->Documents().isEmpty());
}

TEST_F(Shell, ToolbarAndStatusBarToggleWithCheckMarks) {
    Start();
    EXPECT_TRUE(frame->Command(ID_VIEW_TOOLBAR)->isChecked());
    EXPECT_TRUE(frame->Command(ID_VIEW_STATUS_BAR)->isChecked());
    frame->Command(ID_VIEW_TOOLBAR)->trigger();
    frame->Command(ID_VIEW_STATUS_BAR)->trigger();
    EXPECT_FALSE(frame->ToolBar()->isVisible());
    EXPECT_FALSE(frame->statusBar()->isVisible());
    EXPECT_FALSE(frame->Command(ID_VIEW_TOOLBAR)->isChecked());
    EXPECT_FALSE(frame->Command(ID_VIEW_STATUS_BAR)->isChecked());
    frame->Command(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_TRUE(frame->ToolBar()->isVisible());
}

TEST_F(Shell, AboutBoxComesLastAtStartUp) {
    app = std::make_unique<CQuarryApp>();
    bool windowShown = false;
    app->aboutBox = [&] { windowShown = app->MainWnd()->isVisible(); };
    ASSERT_TRUE(app->InitInstance({}));
    frame = app->MainWnd();
    EXPECT_EQ(app->startupSteps.back(), "about");
    EXPECT_TRUE(windowShown);  // shown over the main window and its new1
}

// Fault guarded: Scintilla takes typed characters of an 8-bit document as
// Latin-1, which has no byte for Windows-1252's euro sign at 0x80.
TEST_F(Shell, TypingIntoAnEightBitDocumentGivesItsBytes) {
    Start();
    CQuarryView* view = Active();
    view->GetDocument()->Text().LoadBytes(QByteArray("caf\xE9\n"));
    ASSERT_EQ(view->GetDocument()->Text().Format().encoding, TextEncoding::Bytes8);
    view->SetSel(4, 4);
    view->setFocus();
    QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf16(u"\u20AC\u00FC"));
    QApplication::sendEvent(view, &typed);
    EXPECT_EQ(TextOf(view), "caf\xE9\x80\xFC\n");
    int64_t s = 0;
    int64_t e = 0;
    view->GetSel(s, e);
    EXPECT_EQ(e, 6);
    frame->Command(ID_EDIT_UNDO)->trigger();
    EXPECT_EQ(TextOf(view), "caf\xE9\n");
}

TEST_F(Shell, PastedLineBreaksTakeTheDocumentsStyleAndCopyGivesItsCharacters) {
    Start();
    CQuarryView* view = Active();
    view->GetDocument()->Text().LoadBytes(QByteArray("x\r\n\x80y\r\n"));
    ASSERT_EQ(view->GetDocument()->Text().Format().lineEnd, LineEndStyle::CrLf);
    view->SetSel(0, 0);
    auto* mime = new QMimeData;
    mime->setText("a\nb\rc\r\n");
    QApplication::clipboard()->setMimeData(mime);
    frame->Command(ID_EDIT_PASTE)->trigger();
    EXPECT_EQ(TextOf(view), "a\r\nb\r\nc\r\nx\r\n\x80y\r\n");
    // Copy: the 8-bit bytes reach the clipboard as their characters.
    view->SetSel(12, 14);
    frame->Command(ID_EDIT_COPY)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf16(u"\u20ACy"));
    // Pasting them back writes the same bytes.
    view->SetSel(0, 0);
    frame->Command(ID_EDIT_PASTE)->trigger();
    EXPECT_EQ(TextOf(view).substr(0, 2), "\x80y");
}

TEST_F(Shell, SavingAnUnmodifiedDocumentWritesItsExactBytes) {
    QTemporaryDir dir;
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
    }
    const std::vector<QByteArray> files = {"lf\n",
                                           "crlf\r\n",
                                           "cr\r",
                                           "mixed\r\nlf\nlone cr\rend",
                                           "utf8 \xC3\xA4\xE2\x82\xAC\n",
                                           "8-bit caf\xE9\x81\n",
                                           QByteArray("nul\0bytes\0", 10),
                                           "no final break",
                                           "",
                                           all};
    Start();
    int k = 0;
    for (const QByteArray& bytes : files) {
        const QString path = dir.filePath(QStringLiteral("f%1.txt").arg(k++));
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        CQuarryDoc* doc = app->OpenDocumentFile(path);
        ASSERT_NE(doc, nullptr);
        EXPECT_FALSE(doc->IsModified());
        const QString copy = path + ".saved";
        ASSERT_TRUE(doc->OnSaveDocument(copy));
        QFile saved(copy);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), bytes) << bytes.toStdString();
    }
}

// Restores the size of the pieces a file is read in.
class PieceSize {
  public:
    explicit PieceSize(int64_t bytes) : saved_(CQuarryDoc::loadPieceBytes) {
        CQuarryDoc::loadPieceBytes = bytes;
    }
    ~PieceSize() { CQuarryDoc::loadPieceBytes = saved_; }
    PieceSize(const PieceSize&) = delete;
    PieceSize& operator=(const PieceSize&) = delete;

  private:
    int64_t saved_;
};

// A file of many pieces (3 bytes each here, so every cut falls inside some
// CR LF or UTF-8 character) opens with its exact bytes and the format
// detected over the whole of it.
TEST_F(Shell, AFileReadInPiecesKeepsItsBytesAndFormat) {
    QTemporaryDir dir;
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
    }
    const std::vector<QByteArray> files = {"lf\nlf\n",
                                           "crlf\r\ncrlf\r\n",
                                           "cr\rcr\r",
                                           "mixed\r\nlf\nlone cr\rend\r\n\r\n",
                                           "utf8 \xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\n",
                                           "8-bit caf\xE9\x81\r\n",
                                           QByteArray("nul\0bytes\0", 10),
                                           "no final break",
                                           all};
    Start();
    const PieceSize pieces(3);
    int k = 0;
    for (const QByteArray& bytes : files) {
        const QString path = dir.filePath(QStringLiteral("p%1.txt").arg(k++));
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        CQuarryDoc* doc = app->OpenDocumentFile(path);
        ASSERT_NE(doc, nullptr);
        EXPECT_FALSE(doc->IsModified());
        EXPECT_FALSE(doc->Text().Buffer()->isUndoAvailable());
        EXPECT_EQ(doc->Text().Format(), DetectFormat(bytes)) << bytes.toStdString();
        EXPECT_EQ(doc->Text().SaveBytes(), bytes) << bytes.toStdString();
        // The progress window of the load is gone.
        EXPECT_EQ(ProgressDialog().Window(), nullptr);
    }
}

// Cancel in the progress window while a file is read in pieces: no document,
// no window and no message are left, and the next open works.
TEST_F(Shell, CancelWhileAFileIsReadInPiecesLeavesNoDocument) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    Start();
    const QList<CQuarryDoc*> before = app->Documents();
    const int windows = int(frame->MdiArea()->subWindowList().size());
    const PieceSize pieces(100);
    bool cancelShown = false;
    bool messageShown = false;
    // Clicks Cancel in the events handled between two pieces, once shown.
    QTimer clicker;
    clicker.setInterval(0);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        QPushButton* cancel = ProgressDialog().CancelButton();
        if (cancel != nullptr && cancel->isVisible()) {
            cancelShown = true;
            clicker.stop();
            QTest::mouseClick(cancel, Qt::LeftButton);
        }
    });
    clicker.start();
    QTimer::singleShot(300, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            messageShown = true;
            w->close();
        }
    });
    EXPECT_EQ(app->OpenDocumentFile(path), nullptr);
    EXPECT_TRUE(cancelShown);
    EXPECT_TRUE(app->LastOpenCancelled());
    EXPECT_EQ(app->Documents(), before);
    EXPECT_EQ(int(frame->MdiArea()->subWindowList().size()), windows);
    EXPECT_EQ(ProgressDialog().Window(), nullptr);
    QTest::qWait(400);
    EXPECT_FALSE(messageShown);
    // Not refused: it stays in the recent-file list's reach and opens whole.
    CQuarryDoc* doc = app->OpenDocumentFile(path);
    ASSERT_NE(doc, nullptr);
    EXPECT_FALSE(app->LastOpenCancelled());
    EXPECT_EQ(doc->Text().ByteLength(), 4096);
}

// Fault guarded: bytes 0x80..0x9F of an 8-bit document are C1 controls to
// Scintilla and were drawn as nothing, so a byte could be there unseen.
TEST_F(Shell, ControlBytesOfAnEightBitDocumentShowTheirHexValue) {
    Start();
    CQuarryView* view = Active();
    const auto shown = [view](const char* key) {
        char text[16] = {};
        view->SendScintilla(QsciScintillaBase::SCI_GETREPRESENTATION, key, text);
        return std::string(text);
    };
    view->GetDocument()->Text().LoadBytes(QByteArray("\x80\x9F\xE9"));
    EXPECT_EQ(shown("\x80"), "x80");
    EXPECT_EQ(shown("\x9F"), "x9F");
    EXPECT_EQ(shown("\xE9"), "");  // Latin-1 has a glyph for it
    // In UTF-8 a byte on its own is one that is not part of a character.
    view->GetDocument()->Text().LoadBytes(QByteArray("\xE2\x82\xAC"));
    EXPECT_EQ(shown("\xE9"), "xE9");
    view->GetDocument()->Text().LoadBytes(QByteArray("caf\xE9"));
    EXPECT_EQ(shown("\xE9"), "");
}

// Scintilla's own key map may not take the main window's accelerators, and
// keeps the keys the application has no command for (Redo).
TEST_F(Shell, UndoByAcceleratorAndRedoByScintillasKey) {
    Start();
    CQuarryView* view = Active();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    view->setFocus();
    ReplaceSelection(view, "one");
    ReplaceSelection(view, "two");
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(TextOf(view), "one");
    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(TextOf(view), "two");
    // Ctrl with the number pad's minus steps the font, not Scintilla's zoom.
    const int before = editorFontSize;
    QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(editorFontSize, before - kFontStep);
    EXPECT_EQ(view->SendScintilla(QsciScintillaBase::SCI_GETZOOM), 0);
}

// Fault: the Edit menu had no Redo, so an undone edit could be brought back
// only by a key nobody was told of.
TEST_F(Shell, RedoIsInTheEditMenuAndUndoAndRedoAreEnabledExactlyWhenTheyCanAct) {
    Start();
    CQuarryView* view = Active();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    view->setFocus();
    QMenu* edit = MenuAt(frame->menuBar(), 1);
    const auto action = [edit](int id) -> QAction* {
        emit edit->aboutToShow();  // the menu's items are brought up to date as it opens
        for (QAction* a : edit->actions()) {
            if (a->data().toInt() == id) {
                return a;
            }
        }
        return nullptr;
    };
    ASSERT_NE(action(ID_EDIT_REDO), nullptr);
    EXPECT_EQ(action(ID_EDIT_REDO)->text(), "&Redo\tCtrl+Y");
    EXPECT_FALSE(action(ID_EDIT_UNDO)->isEnabled());
    EXPECT_FALSE(action(ID_EDIT_REDO)->isEnabled());

    ReplaceSelection(view, "one");
    view->SetSel(3, 3);
    ReplaceSelection(view, " two");
    EXPECT_TRUE(action(ID_EDIT_UNDO)->isEnabled());
    EXPECT_FALSE(action(ID_EDIT_REDO)->isEnabled());
    action(ID_EDIT_UNDO)->trigger();
    EXPECT_EQ(TextOf(view), "one");
    // One more step to undo, and one to redo.
    EXPECT_TRUE(action(ID_EDIT_UNDO)->isEnabled());
    EXPECT_TRUE(action(ID_EDIT_REDO)->isEnabled());
    action(ID_EDIT_REDO)->trigger();
    EXPECT_EQ(TextOf(view), "one two");
    EXPECT_FALSE(action(ID_EDIT_REDO)->isEnabled());

    // Both keys redo.
    for (const QKeyCombination key :
         {QKeyCombination(Qt::ControlModifier, Qt::Key_Y),
          QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z)}) {
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(TextOf(view), "one");
        QTest::keyClick(view, key.key(), key.keyboardModifiers());
        EXPECT_EQ(TextOf(view), "one two");
    }
    action(ID_EDIT_UNDO)->trigger();
    action(ID_EDIT_UNDO)->trigger();
    EXPECT_EQ(TextOf(view), "");
    EXPECT_FALSE(action(ID_EDIT_UNDO)->isEnabled());
    EXPECT_TRUE(action(ID_EDIT_REDO)->isEnabled());
    // A new edit ends what could be redone.
    ReplaceSelection(view, "new");
    EXPECT_FALSE(action(ID_EDIT_REDO)->isEnabled());
}

// Fault: zooming out, a smaller font or word wrap brought new lines into view
// without live marks: the dialog heard only of scrolls, resizes and edits.
TEST_F(Shell, TheDialogHearsOfEveryChangeOfWhatTheViewShows) {
    Start();
    int told = 0;
    SearchDialog().viewChanged = [&] { ++told; };
    CQuarryView* view = Active();
    ASSERT_NE(view, nullptr);
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"smaller font", [&] { view->OnReduceFontsize(); }},
        {"larger font", [&] { view->OnIncreaseFontsize(); }},
        {"word wrap", [&] { view->OnWordWrapping(); }},
        {"zoom", [&] { view->SendScintilla(QsciScintillaBase::SCI_SETZOOM, -3); }},
    };
    for (const auto& [name, change] : changes) {
        const int before = told;
        change();
        EXPECT_GT(told, before) << name;
    }
    view->OnWordWrapping();  // back as the profile had it
}

}  // namespace
}  // namespace quarry

#include "shell_test.moc"
