// CMainFrame: the MDI main window with menus 128/129, accelerator table 128,
// toolbar 128 and the status bar. Commands are routed to the active view, the
// frame itself or the application.
#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>

#include "search_dialog/search_target.h"

class QAction;
class QLabel;
class QMimeData;
class QMdiArea;
class QMenu;
class QToolBar;

namespace quarry {

class CChildFrame;
class CQuarryApp;
class CQuarryDoc;
class CQuarryView;
struct Popup;

// A menu with the popup's items and separators, each item carrying its command
// id and status prompt; configure finishes each item (checkable, connection).
QMenu* BuildMenu(const Popup& popup, QWidget* parent,
                 const std::function<void(QAction*, int)>& configure);

inline constexpr int HELP_CONTEXT = 1;
inline constexpr int HH_DISPLAY_TOPIC = 0;
inline constexpr int HH_HELP_CONTEXT = 15;
// The main frame's help context (resource 128 in the resource help range).
inline constexpr uint32_t kMainFrameHelpContext = 0x20000 + 128;

class CMainFrame : public QMainWindow, public SearchTarget {
    Q_OBJECT
  public:
    explicit CMainFrame(CQuarryApp* app);
    ~CMainFrame() override;

    // Builds toolbar, status bar and menus; false when one can't be made.
    bool OnCreate();

    QMdiArea* MdiArea() const { return mdi_; }
    CChildFrame* MDIGetActive() const;
    CQuarryView* ActiveView() const;

    // Runs a command from a menu, accelerator or toolbar button.
    void OnCommand(int id);
    bool IsCommandEnabled(int id) const;
    bool IsCommandChecked(int id) const;

    // Documents as windows rather than tabs (Cascade, Tile, Arrange Icons).
    void ShowAsWindows();
    // Puts the minimised document windows in a row at the bottom.
    void ArrangeIcons();
    // The help routine: context request first, the default topic second.
    void WinHelp(uint32_t data, int command);
    // Stands for the HTML help call: returns whether a help window opened.
    // Replaceable for tests.
    std::function<bool(const QString& path, int command, uint32_t data)> htmlHelp;

    // The menu bar shows menu 129 while a document window exists, else 128.
    bool ShowsDocumentMenu() const { return showsDocumentMenu_; }
    QToolBar* ToolBar() const { return toolBar_; }
    QLabel* IdleMessage() const { return idleMessage_; }
    QList<QAction*> AcceleratorActions() const { return accelerators_; }

    void AddChild(CChildFrame* child);
    // Another window became active, or a document was opened or closed.
    void OnSubWindowActivated();
    // Opens each dropped file as a document of its own.
    void OpenDroppedFiles(const QMimeData* data);
    void UpdateFrameTitle();
    void UpdateToolbarState();
    // Lights the CAP, NUM and SCRL panes by the keyboard's lock state.
    void UpdateIndicators();

    // The search dialog's target (app/main_frame_search.cpp).
    void ConnectDialog(const SearchDialogLink& link) override;
    QWidget* OwnerWindow() const override;
    bool HasDocument() const override;
    TextMode Mode() const override;
    std::string LineBreak() const override;
    std::optional<std::string> ToDocumentBytes(QStringView text) const override;
    QString FromDocumentBytes(std::string_view bytes) const override;
    int64_t Length() const override;
    std::string_view Text() const override;
    void GetSelection(int64_t& start, int64_t& end) const override;
    void SetSelection(int64_t start, int64_t end) override;
    int64_t LineOf(int64_t offset) const override;
    int64_t LineStart(int64_t line) const override;
    void ReplaceSelection(std::string_view bytes) override;
    void BeginResult(int64_t length) override;
    void BeginNewResult(int64_t length) override;
    bool ClearStep() override;
    void AppendResult(std::string_view bytes) override;
    void EndResult(bool keep) override;
    void Busy(bool busy) override;
    void VisibleRange(int64_t& start, int64_t& end) const override;
    void SetHighlights(const ByteRanges& ranges) override;
    void ClearHighlights() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QMenu* BuildPopup(const struct Popup& popup);
    void UpdateMenuState(QMenu* menu);
    void FillRecentFiles(QMenu* menu, QAction* placeholder);
    void FillWindowList(QMenu* menu);
    void SelectMenu(bool documentMenu);

    CQuarryApp* app_;
    QMdiArea* mdi_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* idleMessage_ = nullptr;
    QList<QLabel*> indicators_;
    QList<QMenu*> menu128_;
    QList<QMenu*> menu129_;
    bool showsDocumentMenu_ = false;
    QList<QAction*> accelerators_;
    QHash<QAction*, int> toolbarIds_;
    QList<QAction*> windowListActions_;
    CChildFrame* lastActive_ = nullptr;
    // The document window last active, which stays the current one.
    QPointer<CChildFrame> shownChild_;

    CQuarryView* TargetView() const;
    bool settingTitle_ = false;
    bool busy_ = false;
    QPointer<CQuarryDoc> pinnedDoc_;
    QPointer<CQuarryView> pinnedView_;
    QPointer<CQuarryDoc> resultDoc_;
    bool resultIsNew_ = false;
    QPointer<CQuarryDoc> discardedDoc_;
    // The view showing the live highlights, and the one whose scrolling and
    // text changes the dialog hears of.
    QPointer<CQuarryView> highlighted_;
    QPointer<CQuarryView> watched_;
    QList<QMetaObject::Connection> watching_;
    QPointer<QObject> resizeNotice_;
    // Follows the active view for the dialog's viewChanged.
    void WatchActiveView();
};

}  // namespace quarry
