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

// Theme icons for the toolbar where the desktop has them; our strip is the
// fallback.
const char* ThemeIconName(int id) {
    switch (id) {
        case ID_FILE_NEW:
            return "document-new";
        case ID_FILE_OPEN:
            return "document-open";
        case ID_FILE_SAVE:
            return "document-save";
        case ID_EDIT_CUT:
            return "edit-cut";
        case ID_EDIT_COPY:
            return "edit-copy";
        case ID_EDIT_PASTE:
            return "edit-paste";
        case ID_FILE_PRINT:
            return "document-print";
        case ID_VIEW_REDUCE_FONTSIZE:
            return "zoom-out";
        case ID_VIEW_INCREASE_FONTSIZE:
            return "zoom-in";
        case ID_EDIT_FIND:
            return "edit-find";
        case ID_PREV_PANE:
            return "go-previous";
        case ID_NEXT_PANE:
            return "go-next";
        case ID_APP_ABOUT:
            return "help-about";
        default:
            return "";
    }
}

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
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this,
            &CMainFrame::UpdateToolbarState);
    connect(mdi_, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);

    // Toolbar 128.
    toolBar_ = new QToolBar(QStringLiteral("Standard"), this);
    toolBar_->setObjectName(QStringLiteral("toolbar128"));
    toolBar_->setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    const QImage strip = MapSystemColours(DrawToolbarStrip(), palette());
    if (strip.isNull()) {
        return false;
    }
    for (const ToolbarButton& button : Toolbar128()) {
        if (button.id == ID_SEPARATOR) {
            toolBar_->addSeparator();
            continue;
        }
        const QPixmap image = QPixmap::fromImage(strip.copy(
            button.image * kToolbarImageWidth, 0, kToolbarImageWidth, kToolbarImageHeight));
        const QIcon icon =
            QIcon::fromTheme(QString::fromLatin1(ThemeIconName(button.id)), QIcon(image));
        QAction* action = toolBar_->addAction(icon, CommandTooltip(button.id));
        action->setToolTip(CommandTooltip(button.id));
        action->setStatusTip(CommandPrompt(button.id));
        const int id = button.id;
        toolbarIds_.insert(action, id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
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

    // Menus 128 and 129.
    for (const Popup& popup : MainMenu128()) {
        menu128_.append(BuildPopup(popup));
    }
    for (const Popup& popup : DocumentMenu129()) {
        menu129_.append(BuildPopup(popup));
    }
    SelectMenu(false);

    // Accelerator table 128. The actions belong to the window, not to a menu,
    // so the menu labels keep their own key hints.
    for (const Accelerator& acc : AcceleratorTable128()) {
        auto* action = new QAction(this);
        action->setShortcut(QKeySequence(QKeyCombination(acc.modifiers, acc.key)));
        action->setShortcutContext(Qt::WindowShortcut);
        const int id = acc.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        addAction(action);
        accelerators_.append(action);
    }
    UpdateFrameTitle();
    UpdateToolbarState();
    return true;
}

QMenu* BuildMenu(const Popup& popup, QWidget* parent,
                 const std::function<void(QAction*, int)>& configure) {
    auto* menu = new QMenu(QString::fromUtf8(popup.title), parent);
    for (const MenuItem& item : popup.items) {
        if (item.label == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromUtf8(item.label));
        action->setData(item.id);
        action->setStatusTip(CommandPrompt(item.id));
        configure(action, item.id);
    }
    return menu;
}

QMenu* CMainFrame::BuildPopup(const Popup& popup) {
    QMenu* menu = BuildMenu(popup, this, [this](QAction* action, int id) {
        if (id == ID_VIEW_WORD_WRAPPING || id == ID_VIEW_LINE_ENDS || id == ID_VIEW_LINE_NUMBERS ||
            id == ID_VIEW_TOOLBAR || id == ID_VIEW_STATUS_BAR || id == ID_WINDOW_TABS) {
            action->setCheckable(true);
        }
        if (id != ID_FILE_MRU_FILE1) {
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        }
    });
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenuState(menu); });
    return menu;
}

void CMainFrame::SelectMenu(bool documentMenu) {
    if (documentMenu == showsDocumentMenu_ && !menuBar()->actions().isEmpty()) {
        return;
    }
    showsDocumentMenu_ = documentMenu;
    menuBar()->clear();
    for (QMenu* menu : documentMenu ? menu129_ : menu128_) {
        menuBar()->addMenu(menu);
    }
}

void CMainFrame::UpdateMenuState(QMenu* menu) {
    QAction* placeholder = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || !action->data().isValid()) {
            continue;
        }
        const int id = action->data().toInt();
        if (id == ID_FILE_MRU_FILE1 && action->text() == QStringLiteral("Recent File")) {
            placeholder = action;
            continue;
        }
        if (id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST) {
            continue;
        }
        action->setEnabled(IsCommandEnabled(id));
        if (action->isCheckable()) {
            action->setChecked(IsCommandChecked(id));
        }
    }
    if (placeholder != nullptr) {
        FillRecentFiles(menu, placeholder);
    }
    if (menu == menu129_.value(3)) {
        FillWindowList(menu);
    }
}

void CMainFrame::FillRecentFiles(QMenu* menu, QAction* placeholder) {
    // The entries stand where the placeholder is; the placeholder shows
    // (disabled) only while the list is empty.
    for (QAction* action : menu->actions()) {
        const int id = action->data().toInt();
        if (action != placeholder && id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST) {
            menu->removeAction(action);
            action->deleteLater();
        }
    }
    const QStringList files = app_->RecentFiles();
    placeholder->setVisible(files.isEmpty());
    placeholder->setEnabled(false);
    for (int k = 0; k < files.size(); ++k) {
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(k + 1).arg(files[k]), menu);
        action->setData(ID_FILE_MRU_FILE1 + k);
        action->setStatusTip(CommandPrompt(ID_FILE_MRU_FILE1));
        const QString path = files[k];
        connect(action, &QAction::triggered, this, [this, path] { app_->OpenRecentFile(path); });
        menu->insertAction(placeholder, action);
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
    connect(view, &QsciScintilla::selectionChanged, this, &CMainFrame::UpdateToolbarState);
    connect(&view->GetDocument()->Text(), &DocumentText::Changed, this,
            &CMainFrame::UpdateToolbarState);
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
    UpdateToolbarState();
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

void CMainFrame::UpdateToolbarState() {
    for (auto it = toolbarIds_.cbegin(); it != toolbarIds_.cend(); ++it) {
        it.key()->setEnabled(IsCommandEnabled(it.value()));
    }
}

bool CMainFrame::IsCommandEnabled(int id) const {
    CQuarryView* view = ActiveView();
    if (view != nullptr && view->HandlesCommand(id)) {
        return view->IsCommandEnabled(id);
    }
    switch (id) {
        case ID_FILE_NEW:
        case ID_FILE_OPEN:
        case ID_FILE_PRINT_SETUP:
        case ID_APP_EXIT:
        case ID_APP_ABOUT:
        case ID_HELP:
        case ID_EDIT_FIND:
        case ID_VIEW_TOOLBAR:
        case ID_VIEW_STATUS_BAR:
            return true;
        case ID_FILE_CLOSE:
        case ID_FILE_SAVE:
        case ID_FILE_SAVE_AS:
        case ID_WINDOW_NEW:
        case ID_WINDOW_CASCADE:
        case ID_WINDOW_TILE_HORZ:
        case ID_WINDOW_ARRANGE:
        case ID_WINDOW_TABS:
            return view != nullptr;
        default:
            return false;  // a view command without a view
    }
}

bool CMainFrame::IsCommandChecked(int id) const {
    switch (id) {
        case ID_VIEW_TOOLBAR:
            return toolBar_ != nullptr && toolBar_->isVisible();
        case ID_VIEW_STATUS_BAR:
            return statusBar()->isVisible();
        case ID_VIEW_WORD_WRAPPING:
            return wordWrapEnabled == 1;
        case ID_VIEW_LINE_ENDS:
            return CQuarryView::lineEndsVisible;
        case ID_VIEW_LINE_NUMBERS:
            return CQuarryView::lineNumbersVisible;
        case ID_WINDOW_TABS:
            return mdi_->viewMode() == QMdiArea::TabbedView;
        default:
            return false;
    }
}

void CMainFrame::OnCommand(int id) {
    // Routing order: the active view, the main frame, the application.
    CQuarryView* view = ActiveView();
    if (view != nullptr && view->OnCommand(id)) {
        UpdateToolbarState();
        return;
    }
    CQuarryDoc* doc = view != nullptr ? view->GetDocument() : nullptr;
    switch (id) {
        case ID_EDIT_FIND:
            if (SearchDialog().find) {
                SearchDialog().find();
            }
            break;
        case ID_HELP:
            WinHelp(kMainFrameHelpContext, HELP_CONTEXT);
            break;
        case ID_VIEW_TOOLBAR:
            toolBar_->setVisible(!toolBar_->isVisible());
            break;
        case ID_VIEW_STATUS_BAR:
            statusBar()->setVisible(!statusBar()->isVisible());
            break;
        case ID_WINDOW_CASCADE:
            ShowAsWindows();
            mdi_->cascadeSubWindows();
            break;
        case ID_WINDOW_TILE_HORZ:
            ShowAsWindows();
            mdi_->tileSubWindows();
            break;
        case ID_WINDOW_ARRANGE:
            ShowAsWindows();
            ArrangeIcons();
            break;
        case ID_WINDOW_TABS:
            mdi_->setViewMode(QMdiArea::TabbedView);
            break;
        case ID_WINDOW_NEW:
            if (doc != nullptr) {
                app_->OnWindowNew();
            }
            break;
        case ID_FILE_CLOSE:
            if (doc != nullptr && !SearchDialog().running && doc->SaveModified()) {
                doc->SetModifiedFlag(false);
                app_->CloseDocument(doc);
            }
            break;
        case ID_FILE_SAVE:
            if (doc != nullptr) {
                doc->DoFileSave();
            }
            break;
        case ID_FILE_SAVE_AS:
            if (doc != nullptr) {
                doc->DoSave(QString());
            }
            break;
        case ID_FILE_NEW:
            app_->OnFileNew();
            break;
        case ID_FILE_OPEN:
            app_->OnFileOpen();
            break;
        case ID_FILE_PRINT_SETUP:
            app_->OnFilePrintSetup();
            break;
        case ID_APP_EXIT:
            app_->OnAppExit();
            break;
        case ID_APP_ABOUT:
            app_->OnAppAbout();
            break;
        default:
            break;  // context help and view commands without a view
    }
    UpdateToolbarState();
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
