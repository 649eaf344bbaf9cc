// The real search dialog over the real shell, offscreen: commands, status
// words, histories, options, position fields, running state and settings.
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/child_frame.h"
#include "app/editor_transfer.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/command_ids.h"
#include "search/settings_file.h"
#include "search_dialog/live_highlight.h"
#include "search_dialog/search_dialog_link.h"
#include "search_dialog/search_replace_dlg.h"
#include "search_dialog/search_runner.h"
#include "tests/support/fault_support.h"
#include "tests/support/paint_counter.h"
#include "ui/expr_combo_box.h"
#include "ui/manual.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QSize& s, std::ostream* os) {
    *os << s.width() << "x" << s.height();
}
QT_END_NAMESPACE

namespace quarry {
namespace {

class SearchDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        settingsPath = QDir(dir.path()).filePath("settings.dat").toStdString();
        OverrideSearchSettingsPath(settingsPath);
        SearchDialog() = SearchDialogLink{};
        QSettings(ProfilePath(), QSettings::IniFormat).clear();
        app = std::make_unique<CQuarryApp>();
        ASSERT_TRUE(app->InitInstance({}));
        InstallSearchDialog(*app->MainWnd(), app->HelpFilePath().toStdString());
        // After start-up, which installs the message dialog.
        SetMessageHandler(OnUiThread([this](const std::string& text, const MessageTitle&,
                                            const std::vector<std::string>&, int) {
            messages.push_back(text);
            return int(IDOK);
        }));
        frame = app->MainWnd();
    }
    void TearDown() override {
        if (app) {
            for (CQuarryDoc* doc : app->Documents()) {
                doc->SetModifiedFlag(false);
            }
        }
        if (CSearchReplaceDlg* d = SearchDialogWindow()) {
            delete d;
        }
        app.reset();
        SearchDialog() = SearchDialogLink{};
        SetMessageHandler(nullptr);
        OverrideSearchSettingsPath({});
    }

    CSearchReplaceDlg* Open() {
        frame->Command(ID_EDIT_FIND)->trigger();
        return SearchDialogWindow();
    }
    CQuarryView* Active() const { return frame->ActiveView(); }
    // A loaded text with the caret at its start.
    void SetText(const QByteArray& bytes) {
        Active()->GetDocument()->Text().LoadBytes(bytes);
        Active()->SetSel(0, 0);
    }
    static std::string Stream(CQuarryView* view) {
        std::string out;
        view->GetDocument()->Text().AppendBytes(out);
        return out;
    }
    void Expressions(const QString& search, const QString& rewrite) {
        dlg->SearchCombo()->setEditText(search);
        dlg->RewriteCombo()->setEditText(rewrite);
    }
    QString Status() const { return dlg->StatusLine()->text(); }
    static std::string FocusName() {
        const QWidget* w = QApplication::focusWidget();
        const QWidget* a = QApplication::activeWindow();
        return std::string("focus ") + (w ? w->metaObject()->className() : "none") + " " +
               (w ? w->objectName().toStdString() : "") + ", active " +
               (a ? a->metaObject()->className() : "none");
    }
    std::pair<int64_t, int64_t> Selection() const {
        int64_t s = 0;
        int64_t e = 0;
        Active()->GetSel(s, e);
        return {s, e};
    }

    QTemporaryDir dir;
    std::string settingsPath;
    std::unique_ptr<CQuarryApp> app;
    CMainFrame* frame = nullptr;
    CSearchReplaceDlg* dlg = nullptr;
    std::vector<std::string> messages;
};

TEST_F(SearchDialogTest, FindOpensTheDialogOnceAndLeavesTheEditorsUsable) {
    EXPECT_FALSE(SearchDialog().windowExists());
    dlg = Open();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->isModal());
    EXPECT_EQ(dlg->windowTitle(), "Search and Replace by Regular Expression");
    EXPECT_TRUE(SearchDialog().windowExists());
    // Find again focuses the same window rather than making a second.
    frame->Command(ID_EDIT_FIND)->trigger();
    EXPECT_EQ(SearchDialogWindow(), dlg);
    // The main window and its editor still take input.
    EXPECT_TRUE(frame->isEnabled());
    EXPECT_TRUE(Active()->isEnabled());

    // Defaults of a first showing.
    EXPECT_TRUE(dlg->Ui().limitOn->isChecked());
    EXPECT_EQ(dlg->Ui().limitValue->text(), "1024");
    EXPECT_TRUE(dlg->Ui().newFile->isChecked());
    EXPECT_FALSE(dlg->Ui().matchCase->isChecked());
    EXPECT_FALSE(dlg->Ui().matchLineBreaks->isChecked());
    EXPECT_EQ(dlg->RewriteCombo()->Syntax(), ExprSyntax::kRewrite);
    EXPECT_EQ(dlg->SearchCombo()->Syntax(), ExprSyntax::kSearch);
    EXPECT_EQ(dlg->ProgressBar()->maximum(), 100);
    EXPECT_EQ(dlg->Ui().close->text(), "&Close");
    const SearchDialogControls& ui = dlg->Ui();
    for (QWidget* c : std::initializer_list<QWidget*>{ui.searchPlaceholder, ui.rewritePlaceholder,
                                                      ui.substitutionPlaceholder,
                                                      ui.statusPlaceholder, ui.ok, ui.cancel}) {
        EXPECT_FALSE(c->isVisible()) << c->objectName().toStdString();
    }

    dlg->OnCancel();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(SearchDialogWindow(), nullptr);
    EXPECT_FALSE(SearchDialog().windowExists());
}

// Fault: the open dialog repainted its expression fields endlessly while
// idle (most of a core, more with a large document open).
TEST_F(SearchDialogTest, AnIdleOpenDialogPaintsNothing) {
    SetText(QByteArray(200000, 'x'));
    dlg = Open();
    ASSERT_NE(dlg, nullptr);
    const int flash = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);  // a blinking caret is a change
    Expressions("(\\w+)=(\\d+)", "\\2=\\1");
    // The expression's live highlights and count are a change; idle is after.
    QTRY_VERIFY(dlg->Live().Idle());
    test::PaintCounter counter{dlg};
    for (QWidget* w : dlg->findChildren<QWidget*>()) {
        counter.Watch(w);
    }
    counter.Run(150);  // the first showing
    counter.Run(400);
    EXPECT_EQ(counter.Total(), 0) << counter.Painted().toStdString();
    QApplication::setCursorFlashTime(flash);
}

// Fault: the dialog opened with the focus in the Character field, so typing
// an expression moved the editor's selection instead; and a command left the
// focus there too.
TEST_F(SearchDialogTest, OpeningFocusesTheSearchExpressionWithItsTextSelected) {
    SetText("one two three\n");
    dlg = Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
    Expressions("t\\w+", "<\\0>");
    dlg->RecordHistories();
    dlg->OnCancel();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Active()->SetSel(4, 4);

    dlg = Open();  // by the menu, the toolbar or Ctrl+F alike
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
    QLineEdit* search = dlg->SearchCombo()->lineEdit();
    EXPECT_TRUE(dlg->SearchCombo()->hasFocus()) << FocusName();
    EXPECT_EQ(search->selectedText(), "t\\w+");
    QTest::keyClicks(QApplication::focusWidget(), "12");
    EXPECT_EQ(dlg->SearchCombo()->currentText(), "12");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{4}, int64_t{4}));

    // A command gives the focus back to where it was.
    dlg->SearchCombo()->setEditText("t\\w+");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(Status(), "Ready");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{4}, int64_t{7}));
    EXPECT_TRUE(dlg->SearchCombo()->hasFocus()) << FocusName();
    dlg->Ui().line->setFocus();
    dlg->RunCommand(Command::kSearch);
    EXPECT_TRUE(dlg->Ui().line->hasFocus()) << FocusName();

    // The labels' keys reach the fields (keys the main window's menus leave
    // free: its menu bar's are live over the dialog too), and tabbing into a
    // field selects it.
    QTest::keyClick(dlg, Qt::Key_T, Qt::AltModifier);
    EXPECT_TRUE(dlg->RewriteCombo()->hasFocus()) << FocusName();
    EXPECT_EQ(dlg->RewriteCombo()->lineEdit()->selectedText(), "<\\0>");
    QTest::keyClick(dlg, Qt::Key_X, Qt::AltModifier);
    EXPECT_TRUE(dlg->SearchCombo()->hasFocus()) << FocusName();
    search->deselect();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(dlg->RewriteCombo()->hasFocus()) << FocusName();
    EXPECT_EQ(dlg->RewriteCombo()->lineEdit()->selectedText(), "<\\0>");

    // Find while the dialog is open focuses the expression again.
    Active()->setFocus();
    frame->Command(ID_EDIT_FIND)->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
    EXPECT_TRUE(dlg->SearchCombo()->hasFocus()) << FocusName();
    EXPECT_EQ(search->selectedText(), "t\\w+");
}

// Fault: switching, opening or closing a document left the Character, Line
// and Column fields showing the caret of the document active before.
TEST_F(SearchDialogTest, PositionFieldsFollowTheActiveDocument) {
    SetText("abc\ndef\n");
    Active()->SetSel(5, 5);
    QMdiSubWindow* first = frame->MdiArea()->currentSubWindow();
    app->OnFileNew();
    SetText("xy");
    Active()->SetSel(1, 1);
    dlg = Open();
    const auto fields = [this] {
        return QStringList{dlg->Ui().character->text(), dlg->Ui().line->text(),
                           dlg->Ui().column->text()};
    };
    EXPECT_EQ(fields(), QStringList({"1", "0", "1"}));
    frame->MdiArea()->setActiveSubWindow(first);
    EXPECT_EQ(fields(), QStringList({"5", "1", "1"}));
    // The fields' own change must not move the caret of the document.
    EXPECT_EQ(Selection(), std::make_pair(int64_t{5}, int64_t{5}));
    app->OnFileNew();
    EXPECT_EQ(fields(), QStringList({"0", "0", "0"}));
    frame->Command(ID_FILE_CLOSE)->trigger();
    QApplication::processEvents();
    EXPECT_EQ(fields(), QStringList({"5", "1", "1"}));
    for (CQuarryDoc* doc : app->Documents()) {
        doc->SetModifiedFlag(false);
        app->CloseDocument(doc);
    }
    QApplication::processEvents();
    EXPECT_EQ(fields(), QStringList({"", "", ""}));
}

// Fault: the Character field showed "1035802" for 31035802; offsets of a text
// up to 2 GiB have 10 digits.
TEST_F(SearchDialogTest, PositionFieldsHoldTenDigits) {
    dlg = Open();
    for (QLineEdit* field : {dlg->Ui().character, dlg->Ui().line, dlg->Ui().column}) {
        const std::string id = field->objectName().toStdString();
        QStyleOptionFrame option;
        option.initFrom(field);
        const QRect inside =
            field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
        // The edit keeps 2 pixels clear each side of its text.
        EXPECT_LE(field->fontMetrics().horizontalAdvance("2147483647"), inside.width() - 4) << id;
    }
    // Home and the options keep clear of the wider fields, and the buttons of
    // them at the smallest size.
    EXPECT_GT(dlg->Ui().home->x(), dlg->Ui().character->geometry().right());
    for (QCheckBox* box :
         {dlg->Ui().limitOn, dlg->Ui().newFile, dlg->Ui().matchCase, dlg->Ui().matchLineBreaks}) {
        EXPECT_GT(box->x(), dlg->Ui().home->geometry().right()) << box->objectName().toStdString();
    }
    const LayoutMetrics& m = dlg->Metrics();
    dlg->ResizeOuter(m.minWidth, m.minHeight);
    QApplication::processEvents();
    EXPECT_GT(dlg->Ui().search->x(), dlg->Ui().limitValue->geometry().right());
}

TEST_F(SearchDialogTest, ReplaceAllIntoANewDocument) {
    SetText("alpha=1, beta=22\nx = 3\ngamma=333\n");
    CQuarryView* source = Active();
    dlg = Open();
    Expressions("(\\w+)=(\\d+)", "\\2=\\1");
    dlg->Ui().replaceAll->click();
    EXPECT_EQ(Status(), "3 matchings replaced");
    EXPECT_FALSE(dlg->running);
    EXPECT_FALSE(SearchDialog().running);
    ASSERT_EQ(app->Documents().size(), 2);
    EXPECT_NE(Active(), source);
    EXPECT_EQ(Stream(Active()), "1=alpha, 22=beta\nx = 3\n333=gamma\n");
    EXPECT_EQ(Stream(source), "alpha=1, beta=22\nx = 3\ngamma=333\n");
    EXPECT_EQ(dlg->SearchCombo()->History(), QStringList{"(\\w+)=(\\d+)"});
    EXPECT_EQ(dlg->RewriteCombo()->History(), QStringList{"\\2=\\1"});
}

// Fault: a result put into a new document un-maximised every window into a
// cascade of small windows in a corner; it comes as the active tab instead.
TEST_F(SearchDialogTest, ANewResultDocumentIsTheActiveTab) {
    SetText("k=1\nj=2\n");
    app->OnFileNew();
    SetText("a=1\nb=2\n");
    dlg = Open();
    Expressions("(\\w)=(\\d)", "\\2=\\1");
    dlg->Ui().replaceAll->click();
    QMdiArea* mdi = frame->MdiArea();
    EXPECT_EQ(mdi->viewMode(), QMdiArea::TabbedView);
    auto* tabs = mdi->findChild<QTabBar*>();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->count(), 3);
    EXPECT_EQ(mdi->currentSubWindow(), mdi->subWindowList().back());
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), mdi->subWindowList().back()->windowTitle());
    EXPECT_EQ(Stream(Active()), "1=a\n2=b\n");
    // It fills the area, as every tab does.
    EXPECT_EQ(mdi->currentSubWindow()->geometry(), mdi->viewport()->rect());
}

// Former fault: a result put into a new document took the new document's LF
// line ends, so a CR LF file's result lost a byte per line when saved.
TEST_F(SearchDialogTest, ResultDocumentsAreSavedWithTheSourcesLineEnds) {
    for (const QByteArray& source : {QByteArray("a=1\r\nb=2\r\n"), QByteArray("a=1\nb=2\n"),
                                     QByteArray("a=1\rb=2\r"), QByteArray("a=1\r\nb=2\nc=3\r")}) {
        SetText(source);
        CQuarryView* view = Active();
        if (!dlg) {
            dlg = Open();
        }
        Expressions("(\\w)=(\\d)", "\\2=\\1");
        dlg->RunCommand(Command::kReplaceAll);
        ASSERT_NE(Active(), view);
        QByteArray expected = source;
        expected.replace("a=1", "1=a").replace("b=2", "2=b").replace("c=3", "3=c");
        // The next source is loaded into this result document.
        EXPECT_EQ(Active()->GetDocument()->Text().SaveBytes(), expected) << source.toStdString();
    }
}

TEST_F(SearchDialogTest, ReplaceAllInPlaceIsOneUndoStepAndNoMatchingChangesNothing) {
    SetText("a1 a2 a3");
    dlg = Open();
    dlg->Ui().newFile->setChecked(false);
    Expressions("a(\\d)", "b\\1");
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), "3 matchings replaced");
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(Stream(Active()), "b1 b2 b3");
    Active()->undo();
    EXPECT_EQ(Stream(Active()), "a1 a2 a3");

    Expressions("zzz", "q");
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), "No matching found");
    EXPECT_EQ(Stream(Active()), "a1 a2 a3");
    EXPECT_FALSE(Active()->isUndoAvailable());
}

// Former fault: a rewrite no matching can expand replaced every matching by
// nothing and reported "2 matchings replaced".
TEST_F(SearchDialogTest, ARewriteThatCannotExpandIsRefusedAndChangesNothing) {
    SetText("name=alice\nid=42\n");
    dlg = Open();
    dlg->Ui().newFile->setChecked(false);
    Expressions("(\\w+)=(\\w+)", "\\9");
    const QString refused =
        "Invalid rewrite expression: refers to group 9 at offset 0, which the search "
        "expression does not have";
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), refused);
    EXPECT_EQ(Stream(Active()), "name=alice\nid=42\n");
    EXPECT_FALSE(Active()->isUndoAvailable());
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), refused);
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{0}));
    // Listing does not use the rewrite.
    dlg->Ui().newFile->setChecked(true);
    dlg->RunCommand(Command::kListMatchings);
    EXPECT_EQ(Status(), "2 matchings listed");
}

TEST_F(SearchDialogTest, SearchThenReplaceThroughTheDocumentEachReplaceUndoable) {
    SetText("x1 x2\nx3");
    dlg = Open();
    Expressions("x(\\d)", "<\\1>");
    const std::vector<std::pair<int64_t, int64_t>> spans = {{0, 2}, {4, 6}, {8, 10}};
    const std::vector<std::string> after = {"<1> x2\nx3", "<1> <2>\nx3", "<1> <2>\n<3>"};
    for (size_t i = 0; i < spans.size(); ++i) {
        dlg->RunCommand(Command::kSearch);
        EXPECT_EQ(Status(), "Ready");
        EXPECT_EQ(Selection(), spans[i]);
        EXPECT_EQ(dlg->SubstitutionLine()->text(), QString("<%1>").arg(i + 1));
        dlg->RunCommand(Command::kReplace);
        EXPECT_EQ(Status(), "Ready");
        EXPECT_EQ(Stream(Active()), after[i]);
        // The inserted text is selected, so the next Search goes on behind it.
        EXPECT_EQ(Selection().second - Selection().first, 3);
    }
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "No matching found");
    EXPECT_EQ(dlg->SubstitutionLine()->text(), "");
    for (size_t i = after.size() - 1; i > 0; --i) {
        Active()->undo();
        EXPECT_EQ(Stream(Active()), after[i - 1]);
    }
    Active()->undo();
    EXPECT_EQ(Stream(Active()), "x1 x2\nx3");
}

// Fault: a command's end gave the text back its editability without telling
// the commands, so after Replace then Search the toolbar's Undo stayed
// disabled (as the running Search had left it) while the editor could undo.
TEST_F(SearchDialogTest, AfterACommandTheEditCommandsFollowTheEditorAgain) {
    SetText("x1 x2");
    dlg = Open();
    Expressions("x(\\d)", "<\\1>");
    dlg->RunCommand(Command::kSearch);
    dlg->RunCommand(Command::kReplace);
    dlg->RunCommand(Command::kSearch);
    ASSERT_EQ(Selection(), std::make_pair(int64_t{4}, int64_t{6}));
    ASSERT_TRUE(Active()->isUndoAvailable());
    EXPECT_TRUE(frame->Command(ID_EDIT_UNDO)->isEnabled());
    EXPECT_TRUE(frame->Command(ID_EDIT_CUT)->isEnabled());
    frame->Command(ID_EDIT_UNDO)->trigger();
    EXPECT_EQ(Stream(Active()), "x1 x2");
}

TEST_F(SearchDialogTest, EnterInTheSearchFieldRunsSearch) {
    SetText("one two");
    dlg = Open();
    Expressions("t\\w+", "");
    dlg->SearchCombo()->setFocus();
    QTest::keyClick(dlg->SearchCombo()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Status(), "Ready");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{4}, int64_t{7}));
    EXPECT_EQ(dlg->SearchCombo()->count(), 1) << "the box itself adds no entry";
}

TEST_F(SearchDialogTest, StatusWordsForFailures) {
    SetText("abc");
    dlg = Open();
    Expressions("a**", "");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "Invalid expression");
    Expressions("", "");
    dlg->RunCommand(Command::kListMatchings);
    EXPECT_EQ(Status(), "Invalid expression");
    Expressions("q", "");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "No matching found");
    dlg->RunCommand(Command::kListMatchings);
    EXPECT_EQ(Status(), "No matching found");
    // A character the document's 8-bit encoding can't hold matches nothing there.
    SetText("caf\xE9");
    ASSERT_EQ(Active()->GetDocument()->Text().Format().encoding, TextEncoding::Bytes8);
    Expressions(QString::fromUtf8("\u2713"), "");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "Invalid expression");

    // Without a document: the status says so and the texts are still recorded.
    for (CQuarryDoc* doc : app->Documents()) {
        doc->SetModifiedFlag(false);
        app->CloseDocument(doc);
    }
    ASSERT_EQ(Active(), nullptr);
    Expressions("kept", "also kept");
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), "No active document");
    EXPECT_EQ(dlg->SearchCombo()->History().value(0), "kept");
    EXPECT_EQ(dlg->RewriteCombo()->History().value(0), "also kept");
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchDialogTest, ListMatchingsInPlaceAndIntoANewDocument) {
    SetText("xaaybz a");
    const bool maximized = frame->MDIGetActive()->isMaximized();
    dlg = Open();
    Expressions("a+", "");
    dlg->RunCommand(Command::kListMatchings);
    EXPECT_EQ(Status(), "2 matchings listed");
    ASSERT_EQ(app->Documents().size(), 2);
    EXPECT_EQ(Stream(Active()), "aa\na\n");
    // The result shows as the active document the way the others do: the
    // windows used to be un-maximised into a cascade in a corner.
    EXPECT_EQ(frame->MDIGetActive()->isMaximized(), maximized);

    frame->MdiArea()->activateNextSubWindow();
    ASSERT_EQ(Stream(Active()), "xaaybz a");
    dlg->Ui().newFile->setChecked(false);
    dlg->RunCommand(Command::kListMatchings);
    EXPECT_EQ(Status(), "2 matchings listed");
    EXPECT_EQ(app->Documents().size(), 2);
    EXPECT_EQ(Stream(Active()), "aa\na\n");

    // An empty first matching is counted and lists nothing.
    Expressions("q*", "");
    dlg->RunCommand(Command::kListMatchings);
    EXPECT_EQ(Status(), "1 matchings listed");
    EXPECT_EQ(Stream(Active()), "");
}

// The live marks are an indicator of the editor, no edit: the document stays
// unmodified with nothing to undo, and the marks go with the dialog.
TEST_F(SearchDialogTest, LiveMarksAreNoEditAndGoWithTheDialog) {
    SetText("one two one\n");
    CQuarryDoc* doc = Active()->GetDocument();
    ASSERT_FALSE(doc->IsModified());
    ASSERT_FALSE(Active()->isUndoAvailable());
    const auto marked = [this](int position) {
        return Active()->SendScintilla(
                   QsciScintillaBase::SCI_INDICATORVALUEAT,
                   static_cast<unsigned long>(QsciScintillaBase::INDIC_CONTAINER),
                   long(position)) != 0;
    };
    dlg = Open();
    Expressions("one", "");
    QTRY_VERIFY(dlg->Live().Idle());
    EXPECT_EQ(Status(), "2 matchings");
    EXPECT_EQ((std::vector<bool>{marked(0), marked(2), marked(3), marked(4), marked(8), marked(10),
                                 marked(11)}),
              (std::vector<bool>{true, true, false, false, true, true, false}));
    EXPECT_FALSE(doc->IsModified());
    EXPECT_FALSE(Active()->isUndoAvailable());

    dlg->reject();
    EXPECT_FALSE(marked(0));
    EXPECT_FALSE(marked(8));
    EXPECT_FALSE(doc->IsModified());
    EXPECT_FALSE(Active()->isUndoAvailable());
}

// The marks follow the view: a part scrolled into view gets its marks.
TEST_F(SearchDialogTest, LiveMarksFollowScrolling) {
    QByteArray text;
    for (int i = 0; i < 3000; ++i) {
        text += "line " + QByteArray::number(i) + " one\n";
    }
    SetText(text);
    const auto marked = [this](int64_t position) {
        return Active()->SendScintilla(
                   QsciScintillaBase::SCI_INDICATORVALUEAT,
                   static_cast<unsigned long>(QsciScintillaBase::INDIC_CONTAINER),
                   long(position)) != 0;
    };
    const int64_t far = Active()->LineIndex(2500) + int64_t(qstrlen("line 2500 "));
    dlg = Open();
    Expressions("one", "");
    QTRY_VERIFY(dlg->Live().Idle());
    EXPECT_EQ(Status(), "3,000 matchings");
    EXPECT_TRUE(marked(qstrlen("line 0 ")));
    EXPECT_FALSE(marked(far));

    Active()->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, 2500UL);
    QTRY_VERIFY(marked(far));
    EXPECT_EQ(Status(), "3,000 matchings");
}

// While a command runs, the user may activate another document; the result
// must still go to the text it was made from, never to the active one.
TEST_F(SearchDialogTest, TargetStaysTheDocumentTheCommandStartedOn) {
    SetText("source");
    CQuarryView* source = Active();
    SearchTarget& target = *frame;
    target.Busy(true);
    EXPECT_TRUE(source->isReadOnly());
    app->OnFileNew();
    ASSERT_NE(Active(), source);
    ReplaceSelection(Active(), "other");
    target.BeginResult(6);
    target.AppendResult("result");
    target.EndResult(true);
    target.SetSelection(0, 3);
    target.Busy(false);
    EXPECT_FALSE(source->isReadOnly());
    EXPECT_EQ(Stream(source), "result");
    EXPECT_EQ(Stream(Active()), "other");
    int64_t s = 0;
    int64_t e = 0;
    source->GetSel(s, e);
    EXPECT_EQ(e, 3);
    // Idle again, the target is the active document.
    EXPECT_EQ(target.Length(), 5);
}

// A new result document that Cancel took back out is closed once the
// command has ended (no document window closes while it runs).
TEST_F(SearchDialogTest, NewResultTakenBackOutIsClosed) {
    SetText("source");
    SearchTarget& target = *frame;
    target.Busy(true);
    target.BeginNewResult(7);
    EXPECT_EQ(app->Documents().size(), 2);
    target.AppendResult("partial");
    target.EndResult(false);
    target.Busy(false);
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(Stream(Active()), "source");
}

TEST_F(SearchDialogTest, ResultsOfAnEightBitDocumentKeepTheirCharacters) {
    // C3 A4 would read as one UTF-8 character; in this 8-bit text it is two.
    SetText("\xC3\xA4=1 \xFF\n");
    ASSERT_EQ(Active()->GetDocument()->Text().Format().encoding, TextEncoding::Bytes8);
    dlg = Open();
    Expressions("(..)=(\\d)", QString::fromUtf8("\\2=\\1 \u00e4"));
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), "1 matchings replaced");
    ASSERT_EQ(app->Documents().size(), 2);
    EXPECT_EQ(Active()->GetDocument()->Text().Format().encoding, TextEncoding::Bytes8);
    EXPECT_EQ(Stream(Active()), "1=\xC3\xA4 \xE4 \xFF\n");
}

TEST_F(SearchDialogTest, HistoriesHoldAHundredMostRecentFirstIgnoringCase) {
    SetText("text");
    dlg = Open();
    for (int i = 0; i <= 100; ++i) {
        Expressions(QString("e%1").arg(i), QString("r%1").arg(i % 3));
        dlg->RecordHistories();
    }
    const QStringList search = dlg->SearchCombo()->History();
    ASSERT_EQ(search.size(), 100);
    EXPECT_EQ(search.first(), "e100");
    EXPECT_EQ(search.last(), "e1") << "the oldest entry e0 left the list";
    EXPECT_EQ(dlg->RewriteCombo()->History(), QStringList({"r1", "r0", "r2"}));

    Expressions("E50", "R2");
    dlg->RecordHistories();
    const QStringList after = dlg->SearchCombo()->History();
    EXPECT_EQ(after.size(), 100);
    EXPECT_EQ(after.first(), "E50");
    EXPECT_EQ(
        after.filter(QRegularExpression("^e50$", QRegularExpression::CaseInsensitiveOption)).size(),
        1);
    EXPECT_EQ(dlg->RewriteCombo()->History(), QStringList({"R2", "r1", "r0"}));
    EXPECT_EQ(dlg->SearchCombo()->currentText(), "E50");
    // An empty text is recorded like any other.
    Expressions("", "");
    dlg->RecordHistories();
    EXPECT_EQ(dlg->SearchCombo()->History().first(), "");
}

TEST_F(SearchDialogTest, SearchLimitAndOptionsAsTheCommandsReadThem) {
    dlg = Open();
    EXPECT_EQ(dlg->ReadOptions().searchLimit, 1024);
    dlg->Ui().limitValue->setText("");
    EXPECT_EQ(dlg->ReadOptions().searchLimit, 0);
    dlg->Ui().limitValue->setText("77");
    static_cast<QCheckBox*>(dlg->Ui().limitOn)->click();
    EXPECT_EQ(dlg->ReadOptions().searchLimit, -1);
    EXPECT_FALSE(dlg->Ui().limitValue->isEnabled()) << "unchecking disables the field at once";
    EXPECT_EQ(dlg->Ui().limitValue->text(), "77");
    static_cast<QCheckBox*>(dlg->Ui().limitOn)->click();
    EXPECT_TRUE(dlg->Ui().limitValue->isEnabled());
    EXPECT_EQ(dlg->ReadOptions().searchLimit, 77);

    EXPECT_TRUE(dlg->ReadOptions().lineMode);
    dlg->Ui().matchLineBreaks->setChecked(true);
    EXPECT_FALSE(dlg->ReadOptions().lineMode);
    dlg->Ui().matchCase->setChecked(true);
    EXPECT_TRUE(dlg->ReadOptions().matchCase);

    // The limit takes effect: «a.*b» never spans more than the limit.
    SetText("a12345678b a1b");
    dlg->Ui().limitValue->setText("5");
    Expressions("a.*b", "");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Selection(), std::make_pair(int64_t{11}, int64_t{14}));
}

TEST_F(SearchDialogTest, PositionFieldsFollowTheCaretAndMoveIt) {
    SetText("abc\r\ndefg\r\nhi");
    dlg = Open();
    Active()->SetSel(0, 7);
    EXPECT_EQ(dlg->Ui().character->text(), "7");
    EXPECT_EQ(dlg->Ui().line->text(), "1");
    EXPECT_EQ(dlg->Ui().column->text(), "2");

    dlg->Ui().character->setText("2");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{2}));
    EXPECT_EQ(dlg->Ui().line->text(), "0");
    EXPECT_EQ(dlg->Ui().column->text(), "2");

    // Line 2 starts at 11; the Column field still holds 2.
    dlg->Ui().line->setText("2");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{13}));
    dlg->Ui().column->setText("1");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{12}));
    EXPECT_EQ(dlg->Ui().character->text(), "12");

    // Beyond the text: the end of it, and the fields show the end.
    dlg->Ui().character->setText("999");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{13}));
    EXPECT_EQ(dlg->Ui().character->text(), "13");
    EXPECT_EQ(dlg->Ui().line->text(), "2");
    EXPECT_EQ(dlg->Ui().column->text(), "2");
    dlg->Ui().character->setText("4");
    dlg->Ui().line->setText("40");
    EXPECT_EQ(Selection().second, 13);

    // The next Search starts at the position typed.
    Expressions("[a-z]", "");
    dlg->Ui().character->setText("5");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Selection(), std::make_pair(int64_t{5}, int64_t{6}));
    EXPECT_EQ(Status(), "Ready");

    dlg->Ui().home->click();
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{0}));
    EXPECT_EQ(dlg->Ui().character->text(), "0");
    EXPECT_EQ(dlg->Ui().line->text(), "0");
    EXPECT_EQ(dlg->Ui().column->text(), "0");
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(dlg->SubstitutionLine()->text(), "");
}

TEST_F(SearchDialogTest, RunningStateBlocksClosingAndCancelStopsTheRun) {
    // Long enough that the run is still going when the event loop first turns.
    QByteArray text;
    for (int i = 0; i < 300000; ++i) {
        text += "key" + QByteArray::number(i) + "=value" + QByteArray::number(i) + "\n";
    }
    SetText(text);
    CQuarryView* source = Active();
    dlg = Open();
    Expressions("(\\w+)=(\\w+)", "\\2=\\1");
    struct Seen {
        bool ran = false;
        bool running = false;
        QString close;
        bool searchEnabled = true;
        bool comboEnabled = true;
        bool mainClosed = true;
        bool childClosed = true;
        bool dialogVisible = false;
    } seen;
    // Checked once the search thread runs; until then the check comes back.
    std::function<void()> check = [&] {
        if (!dlg->Runner().IsRunning()) {
            QTimer::singleShot(1, check);
            return;
        }
        seen.ran = true;
        seen.running = dlg->running && SearchDialog().running;
        seen.close = dlg->Ui().close->text();
        seen.searchEnabled = dlg->Ui().search->isEnabled();
        seen.comboEnabled = dlg->SearchCombo()->isEnabled();
        seen.mainClosed = frame->close();
        seen.childClosed = frame->MDIGetActive()->close();
        // The close box during a run only asks the run to stop.
        dlg->close();
        seen.dialogVisible = dlg->isVisible();
        // A second command can't start while this one runs.
        dlg->RunCommand(Command::kListMatchings);
    };
    QTimer::singleShot(0, check);
    dlg->RunCommand(Command::kReplaceAll);
    ASSERT_TRUE(seen.ran);
    EXPECT_TRUE(seen.running);
    EXPECT_EQ(seen.close, "&Cancel");
    EXPECT_FALSE(seen.searchEnabled);
    EXPECT_FALSE(seen.comboEnabled);
    EXPECT_FALSE(seen.mainClosed);
    EXPECT_FALSE(seen.childClosed);
    EXPECT_TRUE(seen.dialogVisible);

    EXPECT_EQ(Status(), "Cancelled");
    EXPECT_EQ(app->Documents().size(), 1) << "a cancelled Replace All writes nothing";
    EXPECT_EQ(Active(), source);
    EXPECT_EQ(Stream(source), text.toStdString()) << "the document is unchanged";
    EXPECT_FALSE(dlg->running);
    EXPECT_FALSE(SearchDialog().running);
    EXPECT_EQ(dlg->Ui().close->text(), "&Close");
    EXPECT_TRUE(dlg->Ui().search->isEnabled());
    EXPECT_EQ(dlg->ProgressBar()->value(), 0);
    EXPECT_TRUE(frame->isVisible());
    // After the run Escape closes the dialog.
    QTest::keyClick(dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(SearchDialogTest, StackExhaustionShowsTheMessageAndChangesNothing) {
    // The b at the end makes the run over the «a»s worth trying.
    SetText(QByteArray(400000, 'a') + "b");
    dlg = Open();
    // A small search stack, so that an unlimited greedy loop over a group,
    // which nests once per repetition, reaches its end.
    dlg->Runner().SetStackBytes(size_t{2} << 20);
    dlg->Ui().limitOn->setChecked(false);
    dlg->Ui().newFile->setChecked(false);
    Expressions("(a|{aa})*b", "x");
    dlg->RunCommand(Command::kReplaceAll);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], kStackOverflowText);
    EXPECT_EQ(Status(), "No document changed");
    EXPECT_TRUE(Stream(Active()) == std::string(400000, 'a') + "b") << "the document is unchanged";
    EXPECT_FALSE(dlg->running);

    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(Status(), "Stack Overflow");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{0}));
    // The application goes on: a bounded search works on the same text.
    dlg->Ui().limitOn->setChecked(true);
    Expressions("a*", "");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "Ready");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{0}, int64_t{1024}));
}

TEST(LayoutMetrics, TheTemplateFontGivesTheDesignSizesAndWiderFontsScaleThem) {
    EXPECT_EQ(LayoutMetrics::For(DialogUnits(6, 13)), LayoutMetrics{});
    const LayoutMetrics wide = LayoutMetrics::For(DialogUnits(7, 15));
    EXPECT_EQ(wide.minWidth, 608);
    EXPECT_EQ(wide.minHeight, 288);
    EXPECT_EQ(wide.fieldGap, 116);
    EXPECT_EQ(wide.substitutionGap, 128);
    EXPECT_EQ(wide.buttonGap, 18);
    EXPECT_EQ(wide.statusGap, 63);
    EXPECT_EQ(wide.bottomGap, 40);
}

TEST_F(SearchDialogTest, ResizingKeepsTheMinimumAndTheAnchors) {
    dlg = Open();
    dlg->ResizeOuter(300, 100);
    QApplication::processEvents();
    QSize outer = dlg->OuterSize();
    const LayoutMetrics& m = dlg->Metrics();
    EXPECT_EQ(outer, QSize(m.minWidth, m.minHeight));
    // A resize from outside (the user's drag) springs back as well.
    dlg->resize(100, 50);
    QApplication::processEvents();
    EXPECT_EQ(dlg->OuterSize(), QSize(m.minWidth, m.minHeight));

    dlg->ResizeOuter(800, 400);
    QApplication::processEvents();
    outer = dlg->OuterSize();
    ASSERT_EQ(outer, QSize(800, 400));
    for (QPushButton* b : {dlg->Ui().search, dlg->Ui().replace, dlg->Ui().replaceAll,
                           dlg->Ui().listMatchings, dlg->Ui().close}) {
        const std::string id = b->objectName().toStdString();
        EXPECT_EQ(b->x() + b->width(), 800 - m.buttonGap) << id;
        // Clear of the fields to their left.
        EXPECT_GT(b->x(), dlg->Ui().searchExpr->geometry().right()) << id;
        EXPECT_GT(b->x(), dlg->Ui().limitValue->geometry().right()) << id;
    }
    for (QWidget* c : std::initializer_list<QWidget*>{dlg->Ui().searchExpr, dlg->Ui().rewriteExpr,
                                                      dlg->Ui().status, dlg->Ui().progress}) {
        const std::string id = c->objectName().toStdString();
        EXPECT_EQ(c->x() + c->width(), 800 - m.fieldGap) << id;
    }
    EXPECT_EQ(dlg->Ui().substitution->x() + dlg->Ui().substitution->width(),
              800 - m.substitutionGap);
    EXPECT_EQ(dlg->Ui().close->y() + dlg->Ui().close->height(), 400 - m.bottomGap);
    EXPECT_EQ(dlg->Ui().progress->y() + dlg->Ui().progress->height(), 400 - m.bottomGap);
    EXPECT_EQ(dlg->Ui().status->y() + dlg->Ui().status->height(), 400 - m.statusGap);
    // Inputs stay where the template put them.
    const QRect character = dlg->Ui().character->geometry();
    dlg->ResizeOuter(650, 300);
    QApplication::processEvents();
    EXPECT_EQ(dlg->Ui().character->geometry(), character);
    EXPECT_EQ(dlg->Ui().search->x() + dlg->Ui().search->width(), 650 - m.buttonGap);
}

TEST_F(SearchDialogTest, SettingsRoundTripThroughTheDialog) {
    dlg = Open();
    // A first showing without a file, closed at once, writes the default
    // record: 33 bytes with both histories empty.
    const QSize outer = dlg->OuterSize();
    dlg->OnCancel();
    QFile file(QString::fromStdString(settingsPath));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.size(), 33);
    file.close();
    SettingsRecord record;
    ASSERT_EQ(LoadSettingsFile(settingsPath, record), SettingsLoad::Complete);
    EXPECT_EQ(record, DefaultSettings(outer.width(), outer.height()));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    dlg = Open();
    SetText("abc");
    Expressions("first", "one");
    dlg->RecordHistories();
    Expressions(QString::fromUtf8("s\u00e9cond"), "two");
    dlg->RecordHistories();
    dlg->Ui().limitOn->setChecked(false);
    dlg->Ui().limitValue->setText("12x");
    dlg->Ui().newFile->setChecked(false);
    dlg->Ui().matchCase->setChecked(true);
    dlg->Ui().matchLineBreaks->setChecked(true);
    dlg->ResizeOuter(640, 330);
    QApplication::processEvents();
    dlg->OnCancel();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(LoadSettingsFile(settingsPath, record), SettingsLoad::Complete);
    EXPECT_EQ(record.searchHistory, (std::vector<std::string>{"s\xC3\xA9"
                                                              "cond",
                                                              "first"}));
    EXPECT_EQ(record.rewriteHistory, (std::vector<std::string>{"two", "one"}));
    EXPECT_EQ(record.width, 640);
    EXPECT_EQ(record.height, 330);
    EXPECT_FALSE(record.limitOn);
    EXPECT_FALSE(record.newFile);
    EXPECT_TRUE(record.matchCase);
    EXPECT_EQ(record.limitValue, "12x");
    EXPECT_TRUE(record.matchLineBreaks);

    dlg = Open();
    EXPECT_EQ(dlg->SearchCombo()->History(),
              QStringList({QString::fromUtf8("s\u00e9cond"), "first"}));
    EXPECT_EQ(dlg->SearchCombo()->currentText(), QString::fromUtf8("s\u00e9cond"));
    EXPECT_EQ(dlg->RewriteCombo()->currentText(), "two");
    EXPECT_EQ(dlg->OuterSize(), QSize(640, 330));
    EXPECT_FALSE(dlg->Ui().limitOn->isChecked());
    EXPECT_FALSE(dlg->Ui().limitValue->isEnabled());
    EXPECT_EQ(dlg->Ui().limitValue->text(), "12x");
    EXPECT_FALSE(dlg->Ui().newFile->isChecked());
    EXPECT_TRUE(dlg->Ui().matchCase->isChecked());
    EXPECT_TRUE(dlg->Ui().matchLineBreaks->isChecked());
    EXPECT_EQ(Status(), "");
    dlg->Ui().limitOn->setChecked(true);
    EXPECT_EQ(dlg->ReadOptions().searchLimit, 12);
}

// Fault: every showing stored the dialog 2 pixels lower than it was shown,
// down below the minimum height: the window manager told of its frame only
// after the window had been sized from the stored outer size.
TEST_F(SearchDialogTest, ShowingAndClosingKeepsTheStoredSizeExactly) {
    SettingsRecord record = DefaultSettings(700, 313);
    ASSERT_TRUE(SaveSettingsFile(settingsPath, record));
    for (int cycle = 0; cycle < 4; ++cycle) {
        dlg = Open();
        QApplication::processEvents();
        // The frame as the window manager tells of it once the window is up.
        dlg->windowFrame = [] { return QSize(6, 25); };
        dlg->OnCancel();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_EQ(LoadSettingsFile(settingsPath, record), SettingsLoad::Complete);
        EXPECT_EQ(QSize(record.width, record.height), QSize(700, 313)) << "cycle " << cycle;
    }
    // A size below the minimum comes back as the minimum, and stays there.
    const LayoutMetrics m = LayoutMetrics::For(DialogUnits(DialogUnits::TemplateFont()));
    record.height = m.minHeight - 2;
    ASSERT_TRUE(SaveSettingsFile(settingsPath, record));
    for (int cycle = 0; cycle < 2; ++cycle) {
        dlg = Open();
        dlg->windowFrame = [] { return QSize(6, 25); };
        dlg->OnCancel();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_EQ(LoadSettingsFile(settingsPath, record), SettingsLoad::Complete);
        EXPECT_EQ(record.height, m.minHeight) << "cycle " << cycle;
    }
}

TEST_F(SearchDialogTest, SmallOrDamagedSettingsStillGiveAUsableDialog) {
    SettingsRecord stored = DefaultSettings(200, 100);
    stored.searchHistory = {"kept"};
    stored.matchCase = true;
    std::string bytes = SerializeSettings(stored);
    {
        QFile file(QString::fromStdString(settingsPath));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), qint64(bytes.size()));
    }
    dlg = Open();
    EXPECT_EQ(dlg->OuterSize(), QSize(dlg->Metrics().minWidth, dlg->Metrics().minHeight));
    EXPECT_TRUE(dlg->Ui().matchCase->isChecked());
    EXPECT_EQ(Status(), "");
    dlg->OnCancel();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Cut inside the flags: the histories and the size were read, the rest
    // keeps the defaults, and the status line says the file is damaged.
    bytes = SerializeSettings(stored).substr(0, 2 + 5 + 2 + 8 + 2);
    {
        QFile file(QString::fromStdString(settingsPath));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), qint64(bytes.size()));
    }
    dlg = Open();
    EXPECT_EQ(dlg->SearchCombo()->History(), QStringList{"kept"});
    EXPECT_FALSE(dlg->Ui().matchCase->isChecked());
    EXPECT_TRUE(dlg->Ui().limitOn->isChecked());
    EXPECT_EQ(dlg->Ui().limitValue->text(), "1024");
    EXPECT_TRUE(Status().contains("damaged")) << Status().toStdString();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(settingsPath + ".bak")));
    SetText("abc");
    Expressions("b", "");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "Ready");
}

// Former faults: a stored size of 0x7FFFFFFF gave a window never painted
// (and was saved back); a settings.dat that is a FIFO blocked the UI thread.
TEST_F(SearchDialogTest, StoredSizesAreCutToTheScreenAndAFifoIsNotOpened) {
    SettingsRecord stored = DefaultSettings(0x7FFFFFFF, 0x7FFFFFFF);
    std::string bytes = SerializeSettings(stored);
    {
        QFile file(QString::fromStdString(settingsPath));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), qint64(bytes.size()));
    }
    dlg = Open();
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    EXPECT_LE(dlg->frameGeometry().width(), screen.width());
    EXPECT_LE(dlg->frameGeometry().height(), screen.height());
    dlg->OnCancel();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QFile savedFile(QString::fromStdString(settingsPath));
    ASSERT_TRUE(savedFile.open(QIODevice::ReadOnly));
    const QByteArray savedBytes = savedFile.readAll();
    const auto saved =
        ParseSettings(std::string_view(savedBytes.data(), size_t(savedBytes.size())));
    ASSERT_TRUE(saved.has_value());
    EXPECT_LE(saved->width, screen.width());

    ASSERT_TRUE(QFile::remove(QString::fromStdString(settingsPath)));
    ASSERT_EQ(mkfifo(settingsPath.c_str(), 0600), 0);
    dlg = Open();
    EXPECT_EQ(Status(), "settings.dat is not a file: the defaults are used");
    EXPECT_TRUE(dlg->Ui().limitOn->isChecked());
}

// Catches what the dialog asks the desktop to open, so no browser starts.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void Open(const QUrl& url) { urls << url; }
};

TEST_F(SearchDialogTest, F1OpensTheManualAtTheDialogsTopic) {
    dlg = Open();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    QTest::keyClick(dlg->SearchCombo()->lineEdit(), Qt::Key_F1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toLocalFile(), ManualPath());
    EXPECT_EQ(catcher.urls[0].fragment(), kManualTopicDialog);
}

// --- faults ---

TEST_F(SearchDialogTest, AResultThatCannotBeHeldWholeChangesNoDocument) {
    QByteArray text;
    for (int i = 0; i < 2000; ++i) {
        text += "entry " + QByteArray::number(i) + "\r\n";
    }
    SetText(text);
    CQuarryView* source = Active();
    const std::string before = Stream(source);
    const size_t length = before.size();
    dlg = Open();
    struct Run {
        Command command;
        const char* search;
        const char* rewrite;
        bool newFile;
    };
    // Every result outgrows its input; the input's own copy fits.
    for (const Run& run : {Run{Command::kReplaceAll, "[a-z]+", "\\0\\0\\0", false},
                           Run{Command::kReplaceAll, "[a-z]+", "\\0\\0\\0", true},
                           Run{Command::kListMatchings, ".", "", true},
                           Run{Command::kListMatchings, ".", "", false}}) {
        SCOPED_TRACE(std::string(run.search) +
                     (run.newFile ? " into a new document" : " in place"));
        messages.clear();
        dlg->Ui().newFile->setChecked(run.newFile);
        Expressions(run.search, run.rewrite);
        {
            test::FailingGrowth growth(length * 3 / 2);
            dlg->RunCommand(run.command);
            EXPECT_GT(test::FailingGrowth::refused(), 0);
        }
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("so it was not written"), std::string::npos) << messages[0];
        EXPECT_EQ(Status(), "No document changed");
        EXPECT_EQ(app->Documents().size(), 1);
        EXPECT_EQ(Active(), source);
        EXPECT_EQ(Stream(source), before);
        EXPECT_FALSE(source->GetDocument()->IsModified());
        EXPECT_FALSE(dlg->running);
    }
    // The text is searched in place, not copied: with no room for a copy of
    // it, a command whose result fits still goes through whole.
    messages.clear();
    dlg->Ui().newFile->setChecked(true);
    Expressions("entry \\d+", "");
    {
        test::FailingGrowth growth(length / 2);
        dlg->RunCommand(Command::kReplaceAll);
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Status(), "2000 matchings replaced");
    std::string breaks;
    for (int i = 0; i < 2000; ++i) {
        breaks += "\r\n";
    }
    EXPECT_EQ(Stream(Active()), breaks);
    EXPECT_EQ(Stream(source), before);
}

TEST_F(SearchDialogTest, LoopsOverAGroupThatExhaustTheStackAreReportedInEveryCommand) {
    const std::string text = "ab " + std::string(400000, 'a');
    SetText(QByteArray::fromStdString(text));
    dlg = Open();
    // A loop over a group recurses once per repetition (unless every pass is
    // one character, as in «(a|b)*»), however single-byte
    // loops run; a small search stack ends within the text.
    dlg->Runner().SetStackBytes(size_t{1} << 20);
    dlg->Ui().limitOn->setChecked(false);
    dlg->Ui().matchLineBreaks->setChecked(true);
    Active()->SetSel(3, 3);
    Expressions("(a|{aa})*[^a]", "x");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "Stack Overflow");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{3}, int64_t{3}));

    dlg->Ui().newFile->setChecked(false);
    Expressions("(.|{..})*", "<\\1>");
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), "No document changed");
    EXPECT_EQ(Stream(Active()), text) << "the document is unchanged";

    // Former fault: "ab" was listed into a new document as if it were the
    // whole listing, although the long run after it was never searched.
    dlg->Ui().newFile->setChecked(true);
    Expressions("(a|b)(a|b|{ab})*", "");
    dlg->RunCommand(Command::kListMatchings);
    EXPECT_EQ(Status(), "No document changed");
    EXPECT_EQ(app->Documents().size(), 1);

    ASSERT_EQ(messages.size(), 3u);
    for (const std::string& m : messages) {
        EXPECT_EQ(m, kStackOverflowText);
    }
    EXPECT_FALSE(dlg->running);
    EXPECT_TRUE(frame->isVisible());
}

TEST_F(SearchDialogTest, CancelBeforeTheSearchThreadStartsChangesNothing) {
    SetText("a1 a2 a3\n");
    dlg = Open();
    dlg->Ui().newFile->setChecked(false);
    Expressions("a(\\d)", "b\\1");
    // Heard while the running state is painted, before the text is copied.
    QTimer::singleShot(0, dlg, [this] { dlg->OnCancel(); });
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), "Cancelled");
    EXPECT_EQ(Stream(Active()), "a1 a2 a3\n");
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->running);
}

TEST_F(SearchDialogTest, CancelWhileTheResultIsWrittenComesTooLateAndTheResultGoesInWhole) {
    SetText("a1 a2 a3\n");
    CQuarryView* source = Active();
    dlg = Open();
    Expressions("a(\\d)", "b\\1");
    int cancels = 0;
    // The replacement may tell of its change in more than one step; Cancel
    // is pressed at the first.
    auto cancel = [&] {
        if (dlg->running && cancels == 0) {
            ++cancels;
            dlg->OnCancel();
        }
    };
    // In place: Cancel as the document's text is being replaced.
    dlg->Ui().newFile->setChecked(false);
    auto connection =
        QObject::connect(&source->GetDocument()->Text(), &DocumentText::AboutToChange, dlg, cancel);
    dlg->RunCommand(Command::kReplaceAll);
    QObject::disconnect(connection);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(Stream(source), "b1 b2 b3\n");
    EXPECT_EQ(Status(), "3 matchings replaced") << "the document was changed: not \"Cancelled\"";
    EXPECT_TRUE(dlg->isVisible());

    // Into a new document: Cancel as its window comes up.
    cancels = 0;
    dlg->Ui().newFile->setChecked(true);
    Expressions("b\\d", "");
    connection = QObject::connect(frame->MdiArea(), &QMdiArea::subWindowActivated, dlg,
                                  [&](QMdiSubWindow* w) {
                                      if (w != nullptr) {
                                          cancel();
                                      }
                                  });
    dlg->RunCommand(Command::kListMatchings);
    QObject::disconnect(connection);
    EXPECT_EQ(cancels, 1);
    ASSERT_EQ(app->Documents().size(), 2);
    EXPECT_EQ(Stream(Active()), "b1\nb2\nb3\n");
    EXPECT_EQ(Status(), "3 matchings listed");
    EXPECT_FALSE(dlg->running);
}

TEST_F(SearchDialogTest, SettingsThatCannotBeSavedAreReportedAndTheOldFileIsKept) {
    SettingsRecord stored = DefaultSettings(600, 300);
    stored.searchHistory = {"old"};
    const std::string bytes = SerializeSettings(stored);
    {
        QFile file(QString::fromStdString(settingsPath));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), qint64(bytes.size()));
    }
    dlg = Open();
    Expressions("new", "");
    dlg->RecordHistories();
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    {
        test::PermissionsHoldForRoot permissions;
        ASSERT_TRUE(permissions.holds());
        dlg->OnCancel();
    }
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(SearchDialogWindow(), nullptr) << "the dialog closes all the same";
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(
        messages[0].rfind("The search settings could not be saved to\n" + settingsPath + "\n", 0),
        0u)
        << messages[0];
    QFile file(QString::fromStdString(settingsPath));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), bytes);
    // The next showing reads the old file.
    dlg = Open();
    EXPECT_EQ(dlg->SearchCombo()->History(), QStringList{"old"});
}

TEST_F(SearchDialogTest, QuittingDuringARunStopsTheSearchAndWritesNothing) {
    QByteArray text;
    for (int i = 0; i < 300000; ++i) {
        text += "key" + QByteArray::number(i) + "=value" + QByteArray::number(i) + "\n";
    }
    SetText(text);
    CQuarryView* source = Active();
    const std::string before = Stream(source);
    dlg = Open();
    dlg->Ui().newFile->setChecked(false);
    Expressions("(\\w+)=(\\w+)", "\\2=\\1");
    bool quit = false;
    // Once the search thread runs, the session ends (the window system's
    // quit, not a Close the application could refuse).
    std::function<void()> check = [&] {
        if (!dlg->Runner().IsRunning()) {
            QTimer::singleShot(1, check);
            return;
        }
        quit = true;
        QCoreApplication::exit(0);
    };
    QTimer::singleShot(0, check);
    dlg->RunCommand(Command::kReplaceAll);
    // Let later event loops of this process run again.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    ASSERT_TRUE(quit);
    EXPECT_EQ(Status(), "Cancelled");
    EXPECT_EQ(Stream(source), before);
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_FALSE(dlg->running);
    EXPECT_FALSE(dlg->Runner().IsRunning());
}

// Former fault: the search saw every line break as CR LF, so «\n» found
// nothing in an LF file and offsets were off by one per line.
TEST_F(SearchDialogTest, NewlineFindsTheLineBreaksOfAnLfFile) {
    SetText("a\nbc\n");
    dlg = Open();
    Expressions("\\n", "");
    dlg->Ui().matchLineBreaks->setChecked(true);  // matchings may span line breaks
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Status(), "Ready");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{1}, int64_t{2}));
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Selection(), std::make_pair(int64_t{4}, int64_t{5}));
    dlg->Ui().newFile->setChecked(false);
    Expressions("\\n", "|");
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_EQ(Status(), "2 matchings replaced");
    EXPECT_EQ(Stream(Active()), "a|bc|");
}

TEST_F(SearchDialogTest, ListingsEndEachMatchingWithTheSourcesLineBreak) {
    dlg = Open();
    for (const auto& [source, listed] :
         {std::pair{"a1 a2\r\n", "a1\r\na2\r\n"}, std::pair{"a1 a2\n", "a1\na2\n"},
          std::pair{"a1\ra2\r", "a1\ra2\r"}}) {
        SetText(source);
        CQuarryView* view = Active();
        Expressions("a\\d", "");
        dlg->RunCommand(Command::kListMatchings);
        ASSERT_NE(Active(), view) << source;
        EXPECT_EQ(Stream(Active()), listed) << source;
        EXPECT_EQ(Active()->GetDocument()->Text().Format(), view->GetDocument()->Text().Format())
            << source;
    }
}

TEST_F(SearchDialogTest, TheEditorTakesNoEditsWhileACommandRuns) {
    SetText("a1 a2");
    CQuarryView* source = Active();
    dlg = Open();
    dlg->Ui().newFile->setChecked(false);
    Expressions("a(\\d)", "b\\1");
    bool readOnlyDuringRun = false;
    std::string afterTyping;
    // Checked as the running state is painted, before the search thread starts.
    QTimer::singleShot(0, dlg, [&] {
        readOnlyDuringRun = source->isReadOnly();
        source->SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
        source->SendScintilla(QsciScintillaBase::SCI_REPLACESEL, 0UL, "typed");
        afterTyping = Stream(source);
    });
    dlg->RunCommand(Command::kReplaceAll);
    EXPECT_TRUE(readOnlyDuringRun);
    EXPECT_EQ(afterTyping, "a1 a2");
    EXPECT_EQ(Stream(source), "b1 b2") << "the command's own result still goes in";
    EXPECT_FALSE(source->isReadOnly());
}

#ifdef QUARRY_CLI_PATH
// The desktop and quarry-cli search the same bytes: for the same file and
// options their results are the same bytes.
TEST_F(SearchDialogTest, TheDesktopsResultsEqualQuarryClisForTheSameFile) {
    const QByteArray file("alpha=1, beta=22\nx = 3\r\ngamma=333\rdelta=4");
    const QString path = QDir(dir.path()).filePath("same.txt");
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    const auto cli = [&](const QStringList& args) {
        QProcess process;
        process.start(QStringLiteral(QUARRY_CLI_PATH),
                      args + QStringList{"--", "(\\w+)=(\\d+)", path});
        EXPECT_TRUE(process.waitForFinished(30000));
        return process.readAllStandardOutput();
    };
    ASSERT_TRUE(app->OpenDocumentFile(path) != nullptr);
    CQuarryView* source = Active();
    dlg = Open();
    Expressions("(\\w+)=(\\d+)", "\\2:\\1");
    dlg->RunCommand(Command::kReplaceAll);
    ASSERT_NE(Active(), source);
    const QByteArray replaced = cli({"--rewrite", "\\2:\\1"});
    ASSERT_FALSE(replaced.isEmpty());
    EXPECT_EQ(Active()->GetDocument()->Text().SaveBytes(), replaced);

    frame->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(source->parentWidget()));
    ASSERT_EQ(Active(), source);
    dlg->RunCommand(Command::kListMatchings);
    const QByteArray listed = cli({});
    ASSERT_FALSE(listed.isEmpty());
    EXPECT_EQ(Active()->GetDocument()->Text().SaveBytes(), listed);
}
#endif

// The selected text on screen without its display breaks.
std::string ShownSelection(CQuarryView* view) {
    const long start = view->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
    const long end = view->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);
    const auto* data = static_cast<const char*>(
        view->SendScintillaPtrResult(QsciScintillaBase::SCI_GETCHARACTERPOINTER));
    std::string out;
    for (long i = start; i < end; ++i) {
        if (data[i] != '\n') {
            out += data[i];
        }
    }
    return out;
}

// Fault guarded: a matching found in the bytes and selected at the same
// offsets of the cut copy marks other bytes than the ones matched, and
// Replace then overwrites those.
TEST_F(SearchDialogTest, OnALongLineDocumentSearchSelectsAndReplaceReplacesTheMatchedBytes) {
    std::string text = "head\n" + std::string(size_t(kLongLineBytes) + 10, 'a') + "\ntail\n";
    // One matching across the first display break (after byte 5 + 512), one far on.
    text.replace(514, 6, "key=42");
    text.replace(300000, 6, "key=77");
    Active()->GetDocument()->Text().LoadBytes(QByteArray(text.data(), qsizetype(text.size())));
    Active()->SetSel(0, 0);
    ASSERT_TRUE(Active()->ShowsLongLines());
    dlg = Open();
    ASSERT_NE(dlg, nullptr);

    Expressions("key=(\\d+)", "\\1:key");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Selection(), std::make_pair(int64_t{514}, int64_t{520}));
    EXPECT_EQ(ShownSelection(Active()), "key=42");
    Expressions("key=(\\d+)", "\\1:key");
    dlg->RunCommand(Command::kReplace);
    text.replace(514, 6, "42:key");
    EXPECT_TRUE(Stream(Active()) == text);
    Expressions("key=(\\d+)", "\\1:key");
    dlg->RunCommand(Command::kSearch);
    EXPECT_EQ(Selection(), std::make_pair(int64_t{300000}, int64_t{300006}));
    EXPECT_EQ(ShownSelection(Active()), "key=77");
    // Replace All keeps the line long: the view goes on showing it cut.
    Expressions("(\\d+:key)|(key=\\d+)", "K");
    dlg->RunCommand(Command::kReplaceAll);
    text.replace(300000, 6, "K");
    text.replace(514, 6, "K");
    EXPECT_TRUE(Stream(Active()) == text);
    QApplication::processEvents();
    EXPECT_TRUE(Active()->ShowsLongLines());
    EXPECT_TRUE(Active()->isReadOnly());
    Active()->SetSel(512, 517);
    EXPECT_EQ(ShownSelection(Active()), "aaKaa");
    EXPECT_TRUE(messages.empty());
}

// Fault: a document shown cut into display lines is a read-only copy with no
// history, so a Replace or Replace All made there by the dialog could not be
// undone: Undo stayed disabled and Ctrl+Z did nothing.
TEST_F(SearchDialogTest, OnALongLineDocumentTheDialogsEditsAreUndoneAndRedone) {
    const std::string text = "key=1\n" + std::string(size_t(kLongLineBytes) + 10, 'a') + "\n";
    Active()->GetDocument()->Text().LoadBytes(QByteArray(text.data(), qsizetype(text.size())));
    Active()->SetSel(0, 0);
    ASSERT_TRUE(Active()->ShowsLongLines());
    dlg = Open();
    dlg->Ui().newFile->setChecked(false);
    Expressions("key=(\\d)", "\\1:key");
    dlg->RunCommand(Command::kReplaceAll);
    ASSERT_EQ(Status(), "1 matchings replaced");
    ASSERT_EQ(Stream(Active()).substr(0, 6), "1:key\n");
    QApplication::processEvents();
    EXPECT_TRUE(frame->Command(ID_EDIT_UNDO)->isEnabled());
    frame->Command(ID_EDIT_UNDO)->trigger();
    EXPECT_TRUE(Stream(Active()) == text);
    QApplication::processEvents();
    EXPECT_TRUE(Active()->ShowsLongLines());
    EXPECT_TRUE(frame->Command(ID_EDIT_REDO)->isEnabled());
    frame->Command(ID_EDIT_REDO)->trigger();
    EXPECT_EQ(Stream(Active()).substr(0, 6), "1:key\n");

    // By the keys too: the read-only copy has no history of its own, and
    // Ctrl+Z, Ctrl+Y and Ctrl+Shift+Z act on the document's.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    Active()->setFocus();
    QApplication::processEvents();
    QTest::keyClick(Active(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(Stream(Active()) == text);
    QApplication::processEvents();
    QTest::keyClick(Active(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(Stream(Active()).substr(0, 6), "1:key\n");
    QApplication::processEvents();
    QTest::keyClick(Active(), Qt::Key_Z, Qt::ControlModifier);
    QApplication::processEvents();
    QTest::keyClick(Active(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Stream(Active()).substr(0, 6), "1:key\n");
}

}  // namespace
}  // namespace quarry

#include "search_dialog_test.moc"
