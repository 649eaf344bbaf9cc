#include "app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "app/app_state.h"
#include "app/child_frame.h"
#include "app/commands.h"
#include "app/document_text.h"
#include "app/file_names.h"
#include "app/lock_keys.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/command_ids.h"
#include "res/images.h"
#include "res/resource_tables.h"
#include "ui/manual.h"

namespace quarry {
namespace {

// The manual is a web page: the desktop's browser shows it, at a context's
// topic where the context has one.
bool DefaultHtmlHelp(const QString& path, int command, uint32_t data) {
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        return false;
    }
    QUrl url = QUrl::fromLocalFile(path);
    if (command == HH_HELP_CONTEXT) {
        const QString topic = ManualTopicOf(data);
        if (topic.isEmpty()) {
            return false;  // no topic of its own: the start of the manual follows
        }
        url.setFragment(topic);
    }
    return QDesktopServices::openUrl(url);
}

}  // namespace

CMainFrame::CMainFrame(CQuarryApp* app) : htmlHelp(DefaultHtmlHelp), app_(app) {
    setWindowIcon(AppIcon());
    setAcceptDrops(true);
}

CMainFrame::~CMainFrame() {
    // Windows closing during destruction must not reach a half-destroyed frame.
    if (mdi_ != nullptr) {
        disconnect(mdi_, nullptr, this, nullptr);
    }
    disconnect(QApplication::clipboard(), nullptr, this, nullptr);
    qApp->removeEventFilter(this);
}

bool CMainFrame::OnCreate() {
    mdi_ = new QMdiArea(this);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Documents are tabs, as in every editor the user knows; Cascade, Tile
    // and Arrange Icons turn them into windows, and Tabs back.
    mdi_->setViewMode(QMdiArea::TabbedView);
    mdi_->setDocumentMode(true);
    mdi_->setTabsClosable(true);
    mdi_->setTabsMovable(true);
    setCentralWidget(mdi_);
    commands_ = std::make_unique<CommandActions>(this);
    BindCommands();
    const auto readClipboard = [this] {
        const QMimeData* data = QApplication::clipboard()->mimeData();
        clipboardHasText_ = data != nullptr && data->hasText();
        UpdateCommands();
    };
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, readClipboard);
    readClipboard();
    connect(mdi_, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);

    // The toolbar shows the commands' own actions, with the theme's icon
    // where the desktop has one and the strip's image otherwise.
    toolBar_ = new QToolBar(QStringLiteral("Standard"), this);
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    const QImage strip = MapSystemColours(DrawToolbarStrip(), palette());
    if (strip.isNull()) {
        return false;
    }
    for (const ToolbarButton& button : ToolbarButtons()) {
        if (button.id == ID_SEPARATOR) {
            toolBar_->addSeparator();
            continue;
        }
        const QPixmap image = QPixmap::fromImage(strip.copy(
            button.image * kToolbarImageWidth, 0, kToolbarImageWidth, kToolbarImageHeight));
        QAction* action = Command(button.id);
        action->setIcon(QIcon::fromTheme(QString::fromLatin1(button.themeIcon), QIcon(image)));
        toolBar_->addAction(action);
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);

    // Status bar: the message pane, then CAP, NUM and SCRL.
    idleMessage_ = new QLabel(LoadString(IDS_IDLE_MESSAGE));
    statusBar()->addWidget(idleMessage_, 1);
    for (int id : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL}) {
        auto* indicator = new QLabel(LoadString(id));
        indicator->setObjectName(QStringLiteral("indicator%1").arg(id));
        indicator->setFrameShape(QFrame::Panel);
        indicator->setFrameShadow(QFrame::Sunken);
        indicator->setAlignment(Qt::AlignCenter);
        indicator->setMinimumWidth(indicator->fontMetrics().horizontalAdvance(LoadString(id)) + 8);
        statusBar()->addPermanentWidget(indicator);
        indicators_.append(indicator);
    }
    UpdateIndicators();
    qApp->installEventFilter(this);

    for (const Popup& popup : NoDocumentMenu()) {
        noDocumentMenu_.append(BuildPopup(popup));
    }
    for (const Popup& popup : DocumentMenu()) {
        documentMenu_.append(BuildPopup(popup));
    }
    SelectMenu(false);

    UpdateFrameTitle();
    UpdateCommands();
    return true;
}

QAction* CMainFrame::Command(int id) const {
    return commands_ != nullptr ? commands_->Action(id) : nullptr;
}

void CMainFrame::BindCommands() {
    using Rule = CommandActions::Rule;
    const auto always = [] { return true; };
    const auto withView = [this] { return ActiveView() != nullptr; };
    // A command of the active editor: enabled only with one, and then when
    // can says so.
    const auto bindView = [this](int id, std::function<void(CQuarryView&)> run,
                                 std::function<bool(const CQuarryView&)> can = {},
                                 std::function<bool()> checked = {}) {
        commands_->Bind(id, Rule{[this, run] {
                                     if (CQuarryView* view = ActiveView()) {
                                         run(*view);
                                     }
                                 },
                                 [this, can] {
                                     const CQuarryView* view = ActiveView();
                                     return view != nullptr && (!can || can(*view));
                                 },
                                 std::move(checked)});
    };
    const auto doc = [this]() -> CQuarryDoc* {
        CQuarryView* view = ActiveView();
        return view != nullptr ? view->GetDocument() : nullptr;
    };

    CommandActions& c = *commands_;
    c.Bind(ID_FILE_NEW, {[this] { app_->OnFileNew(); }, always});
    c.Bind(ID_FILE_OPEN, {[this] { app_->OnFileOpen(); }, always});
    c.Bind(ID_FILE_CLOSE, {[this, doc] {
                               CQuarryDoc* d = doc();
                               if (!SearchDialog().running && d->SaveModified()) {
                                   d->SetModifiedFlag(false);
                                   app_->CloseDocument(d);
                               }
                           },
                           withView});
    c.Bind(ID_FILE_SAVE, {[doc] { doc()->DoFileSave(); }, withView});
    c.Bind(ID_FILE_SAVE_AS, {[doc] { doc()->DoSave(QString()); }, withView});
    bindView(ID_FILE_PRINT, [](CQuarryView& v) { v.OnFilePrint(); });
    bindView(ID_FILE_PRINT_PREVIEW, [](CQuarryView& v) { v.OnFilePrintPreview(); });
    c.Bind(ID_FILE_PRINT_SETUP, {[this] { app_->OnFilePrintSetup(); }, always});
    c.Bind(ID_APP_EXIT, {[this] { app_->OnAppExit(); }, always});

    // A text shown cut into display lines is a read-only copy with no
    // history of its own; the search commands still edit the document, and
    // their edits are undone there.
    const auto history = [](const CQuarryView& v) -> QsciScintilla* {
        return v.ShowsLongLines() ? v.GetDocument()->Text().Buffer() : const_cast<CQuarryView*>(&v);
    };
    bindView(
        ID_EDIT_UNDO, [history](CQuarryView& v) { history(v)->undo(); },
        [history](const CQuarryView& v) {
            return history(v)->isUndoAvailable() && !history(v)->isReadOnly();
        });
    bindView(
        ID_EDIT_REDO, [history](CQuarryView& v) { history(v)->redo(); },
        [history](const CQuarryView& v) {
            return history(v)->isRedoAvailable() && !history(v)->isReadOnly();
        });
    // A text shown cut into display lines is read-only.
    bindView(
        ID_EDIT_CUT, [](CQuarryView& v) { v.cut(); },
        [](const CQuarryView& v) { return v.HasSelection() && !v.ShowsLongLines(); });
    bindView(
        ID_EDIT_COPY, [](CQuarryView& v) { v.copy(); },
        [](const CQuarryView& v) { return v.HasSelection(); });
    bindView(
        ID_EDIT_PASTE, [](CQuarryView& v) { v.OnEditPaste(); },
        [this](const CQuarryView& v) { return clipboardHasText_ && !v.ShowsLongLines(); });
    bindView(ID_EDIT_SELECT_ALL, [](CQuarryView& v) { v.selectAll(); });
    c.Bind(ID_EDIT_FIND, {[] {
                              if (SearchDialog().find) {
                                  SearchDialog().find();
                              }
                          },
                          always});

    // Checked by the bars' own setting, which holds also while the window is
    // not shown yet.
    c.Bind(ID_VIEW_TOOLBAR, {[this] { toolBar_->setVisible(toolBar_->isHidden()); }, always,
                             [this] { return toolBar_ != nullptr && !toolBar_->isHidden(); }});
    c.Bind(ID_VIEW_STATUS_BAR, {[this] { statusBar()->setVisible(statusBar()->isHidden()); },
                                always, [this] { return !statusBar()->isHidden(); }});
    bindView(
        ID_VIEW_REDUCE_FONTSIZE, [](CQuarryView& v) { v.OnReduceFontsize(); },
        [](const CQuarryView&) { return editorFontSize >= kReduceFontMinimum; });
    bindView(
        ID_VIEW_INCREASE_FONTSIZE, [](CQuarryView& v) { v.OnIncreaseFontsize(); },
        [](const CQuarryView&) { return editorFontSize <= kIncreaseFontMaximum; });
    bindView(
        ID_VIEW_WORD_WRAPPING, [](CQuarryView& v) { v.OnWordWrapping(); }, {},
        [] { return wordWrapEnabled == 1; });
    bindView(
        ID_VIEW_LINE_ENDS, [](CQuarryView& v) { v.OnLineEnds(); }, {},
        [] { return CQuarryView::lineEndsVisible; });
    bindView(
        ID_VIEW_LINE_NUMBERS, [](CQuarryView& v) { v.OnLineNumbers(); }, {},
        [] { return CQuarryView::lineNumbersVisible; });

    bindView(ID_NEXT_PANE, [](CQuarryView& v) { v.OnNextPane(); });
    bindView(ID_PREV_PANE, [](CQuarryView& v) { v.OnPrevPane(); });
    c.Bind(ID_WINDOW_NEW, {[this] { app_->OnWindowNew(); }, withView});
    c.Bind(ID_WINDOW_CASCADE, {[this] {
                                   ShowAsWindows();
                                   mdi_->cascadeSubWindows();
                               },
                               withView});
    c.Bind(ID_WINDOW_TILE_HORZ, {[this] {
                                     ShowAsWindows();
                                     mdi_->tileSubWindows();
                                 },
                                 withView});
    c.Bind(ID_WINDOW_ARRANGE, {[this] {
                                   ShowAsWindows();
                                   ArrangeIcons();
                               },
                               withView});
    c.Bind(ID_WINDOW_TABS, {[this] { mdi_->setViewMode(QMdiArea::TabbedView); }, withView,
                            [this] { return mdi_->viewMode() == QMdiArea::TabbedView; }});

    c.Bind(ID_HELP, {[this] { WinHelp(kMainFrameHelpContext, HELP_CONTEXT); }, always});
    c.Bind(ID_APP_ABOUT, {[this] { app_->OnAppAbout(); }, always});
    // Context help (Shift+F1) has no help of its own to show: it stays
    // disabled.
}

QMenu* CMainFrame::BuildPopup(const Popup& popup) {
    QMenu* menu = commands_->BuildMenu(popup, this);
    for (QAction* action : menu->actions()) {
        if (action->data().toInt() == ID_FILE_MRU_FILE1) {
            recentPlaceholders_.insert(menu, action);
        }
    }
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenu(menu); });
    return menu;
}

void CMainFrame::SelectMenu(bool documentMenu) {
    if (documentMenu == showsDocumentMenu_ && !menuBar()->actions().isEmpty()) {
        return;
    }
    showsDocumentMenu_ = documentMenu;
    menuBar()->clear();
    for (QMenu* menu : documentMenu ? documentMenu_ : noDocumentMenu_) {
        menuBar()->addMenu(menu);
    }
}

void CMainFrame::UpdateMenu(QMenu* menu) {
    UpdateCommands();
    if (QAction* placeholder = recentPlaceholders_.value(menu)) {
        FillRecentFiles(menu, placeholder);
    }
    if (menu->actions().contains(Command(ID_WINDOW_TABS))) {
        FillWindowList(menu);
    }
}

void CMainFrame::FillRecentFiles(QMenu* menu, QAction* placeholder) {
    // The entries stand where the placeholder is; the placeholder shows
    // (disabled) only while the list is empty.
    QList<QAction*>& entries = recentEntries_[menu];
    for (QAction* action : entries) {
        menu->removeAction(action);
        action->deleteLater();
    }
    entries.clear();
    const QStringList files = app_->RecentFiles();
    placeholder->setVisible(files.isEmpty());
    placeholder->setEnabled(false);
    for (int k = 0; k < files.size(); ++k) {
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(k + 1).arg(files[k]), menu);
        action->setStatusTip(CommandPrompt(ID_FILE_MRU_FILE1));
        const QString path = files[k];
        connect(action, &QAction::triggered, this, [this, path] { app_->OpenRecentFile(path); });
        menu->insertAction(placeholder, action);
        entries.append(action);
    }
}

void CMainFrame::FillWindowList(QMenu* menu) {
    for (QAction* action : windowListActions_) {
        menu->removeAction(action);
        action->deleteLater();
    }
    windowListActions_.clear();
    const QList<QMdiSubWindow*> windows = mdi_->subWindowList();
    if (windows.isEmpty()) {
        return;
    }
    windowListActions_.append(menu->addSeparator());
    for (int k = 0; k < windows.size(); ++k) {
        QMdiSubWindow* window = windows[k];
        QAction* action =
            menu->addAction(QStringLiteral("&%1 %2").arg(k + 1).arg(window->windowTitle()));
        action->setCheckable(true);
        action->setChecked(window == mdi_->currentSubWindow());
        connect(action, &QAction::triggered, this,
                [this, window] { mdi_->setActiveSubWindow(window); });
        windowListActions_.append(action);
    }
}

CChildFrame* CMainFrame::MDIGetActive() const {
    if (mdi_ == nullptr) {
        return nullptr;
    }
    // The current window stays current while another top-level window (the
    // search dialog) has the focus.
    if (auto* current = qobject_cast<CChildFrame*>(mdi_->currentSubWindow())) {
        return current;
    }
    // Tabbed, the area can come back active with no window active in it;
    // the tab shown is still the current document.
    if (shownChild_ && mdi_->subWindowList().contains(shownChild_)) {
        return shownChild_;
    }
    return nullptr;
}

CQuarryView* CMainFrame::ActiveView() const {
    CChildFrame* child = MDIGetActive();
    return child != nullptr ? child->GetActiveView() : nullptr;
}

void CMainFrame::AddChild(CChildFrame* child) {
    mdi_->addSubWindow(child);
    CQuarryView* view = child->GetActiveView();
    connect(view, &QsciScintilla::selectionChanged, this, &CMainFrame::UpdateCommands);
    connect(&view->GetDocument()->Text(), &DocumentText::Changed, this,
            &CMainFrame::UpdateCommands);
    connect(view->GetDocument(), &CQuarryDoc::TitleChanged, this, &CMainFrame::UpdateFrameTitle);
    child->ActivateFrame();
    OnSubWindowActivated();
}

void CMainFrame::OnSubWindowActivated() {
    CChildFrame* active = MDIGetActive();
    // A closing tab is still in the area's list; the documents tell.
    SelectMenu(!app_->Documents().isEmpty());
    if (active != nullptr && active != lastActive_ && active->GetActiveView() != nullptr) {
        active->GetActiveView()->OnActivateView(true);
    }
    const bool changed = active != lastActive_;
    lastActive_ = active;
    if (active != nullptr) {
        shownChild_ = active;
    }
    UpdateFrameTitle();
    UpdateCommands();
    WatchActiveView();
    // The dialog's position fields show the caret of the document it works on.
    if (changed && SearchDialog().activeDocumentChanged) {
        SearchDialog().activeDocumentChanged();
    }
}

void CMainFrame::UpdateFrameTitle() {
    // The resource's padding would double the space before the dash.
    QString title = LoadString(IDR_MAINFRAME).trimmed();
    if (CQuarryView* view = ActiveView()) {
        title += QStringLiteral(" - ") + view->GetDocument()->ShownTitle();
    }
    if (title != windowTitle()) {
        settingTitle_ = true;
        setWindowTitle(title);
        settingTitle_ = false;
    }
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A maximised document window appends " - [its title]" to ours; the
    // document is named once.
    if (event->type() == QEvent::WindowTitleChange && !settingTitle_) {
        UpdateFrameTitle();
    }
}

void CMainFrame::UpdateCommands() {
    if (commands_ != nullptr) {
        commands_->Update();
    }
}

void CMainFrame::ShowAsWindows() {
    if (mdi_->viewMode() == QMdiArea::SubWindowView) {
        return;
    }
    mdi_->setViewMode(QMdiArea::SubWindowView);
    // Out of the tabs, each window comes back in its normal state, so that
    // the arrangement that follows can place it.
    for (QMdiSubWindow* window : mdi_->subWindowList()) {
        window->showNormal();
    }
}

void CMainFrame::ArrangeIcons() {
    // Minimised windows in rows along the bottom edge, left to right.
    const QRect area = mdi_->viewport()->rect();
    int x = 0;
    int y = area.bottom() + 1;
    int rowHeight = 0;
    for (QMdiSubWindow* window : mdi_->subWindowList(QMdiArea::CreationOrder)) {
        if (!window->isMinimized()) {
            continue;
        }
        const QSize size = window->size();
        if (x > 0 && x + size.width() > area.width()) {
            x = 0;
            y -= rowHeight;
            rowHeight = 0;
        }
        rowHeight = std::max(rowHeight, size.height());
        window->move(x, y - size.height());
        x += size.width();
    }
}

void CMainFrame::WinHelp(uint32_t data, int command) {
    const uint32_t context = command == HELP_CONTEXT ? data : 0;
    const QString path = ManualPath();
    if (!htmlHelp(path, HH_HELP_CONTEXT, context)) {
        htmlHelp(path, HH_DISPLAY_TOPIC, 0);
    }
}

void CMainFrame::UpdateIndicators() {
    const LockKeyState keys = QueryLockKeys();
    const bool on[] = {keys.caps, keys.num, keys.scroll};
    const int ids[] = {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};
    for (int k = 0; k < indicators_.size(); ++k) {
        if (keys.known) {
            // A pane shows its text while its key is on and is blank otherwise.
            indicators_[k]->setText(on[k] ? LoadString(ids[k]) : QString());
            indicators_[k]->setEnabled(true);
        } else {
            // The window system does not tell: the names are shown unlit.
            indicators_[k]->setText(LoadString(ids[k]));
            indicators_[k]->setEnabled(false);
        }
    }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    // A key is matched against the shortcuts of enabled actions only: the
    // states are brought up to date before, as a change of the text's
    // read-only state or of the undo history announces itself to nobody.
    if (event->type() == QEvent::ShortcutOverride) {
        UpdateCommands();
    }
    if (event->type() == QEvent::KeyRelease || event->type() == QEvent::WindowActivate) {
        if (event->type() == QEvent::KeyRelease || watched == this) {
            UpdateIndicators();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // While a search runs, the window stays and nothing is asked.
    if (SearchDialog().running) {
        event->ignore();
        return;
    }
    for (CQuarryDoc* doc : app_->Documents()) {
        if (!doc->SaveModified()) {
            event->ignore();
            return;
        }
    }
    app_->SaveRecentFileList();
    const QList<CQuarryDoc*> docs = app_->Documents();
    for (CQuarryDoc* doc : docs) {
        doc->SetModifiedFlag(false);
        app_->CloseDocument(doc);
    }
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    // Opened once the drop has finished: a big file is read with the events
    // handled in between, which must not happen inside the drop.
    auto* data = new QMimeData;
    data->setParent(this);
    data->setUrls(event->mimeData()->urls());
    event->acceptProposedAction();
    QTimer::singleShot(0, this, [this, data] {
        OpenDroppedFiles(data);
        delete data;
    });
}

void CMainFrame::OpenDroppedFiles(const QMimeData* data) {
    for (const QUrl& url : data->urls()) {
        // Cancel while one is read stops the rest.
        if (url.isLocalFile() && app_->OpenDocumentFile(FileNameOfUrl(url)) == nullptr &&
            app_->LastOpenCancelled()) {
            break;
        }
    }
}

}  // namespace quarry
