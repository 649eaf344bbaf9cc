// CMainFrame: the MDI main window with its two menu bars, shortcut keys,
// toolbar and status bar. Every command is one action (app/commands.h) whose
// handler reaches the active view, the frame itself or the application.
#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>

#include "res/command_ids.h"
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
class CommandActions;
struct Popup;

inline constexpr int HELP_CONTEXT = 1;
inline constexpr int HH_DISPLAY_TOPIC = 0;
inline constexpr int HH_HELP_CONTEXT = 15;
// The main frame's help context: its resource in the resource help range.
inline constexpr uint32_t kMainFrameHelpContext = 0x20000 + IDR_MAINFRAME;

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

    // The commands' actions, shared by menus, keys and toolbar.
    const CommandActions& Commands() const { return *commands_; }
    // The action of a command, found by its number in the tables.
    QAction* Command(int id) const;

    // Documents as windows rather than tabs (Cascade, Tile, Arrange Icons).
    void ShowAsWindows();
    // Puts the minimised document windows in a row at the bottom.
    void ArrangeIcons();
    // The help routine: context request first, the default topic second.
    void WinHelp(uint32_t data, int command);
    // Stands for the HTML help call: returns whether a help window opened.
    // Replaceable for tests.
    std::function<bool(const QString& path, int command, uint32_t data)> htmlHelp;

    // The menu bar shows the document menu while a document window exists.
    bool ShowsDocumentMenu() const { return showsDocumentMenu_; }
    QToolBar* ToolBar() const { return toolBar_; }
    QLabel* IdleMessage() const { return idleMessage_; }

    void AddChild(CChildFrame* child);
    // Another window became active, or a document was opened or closed.
    void OnSubWindowActivated();
    // Opens each dropped file as a document of its own.
    void OpenDroppedFiles(const QMimeData* data);
    void UpdateFrameTitle();
    // Brings every command's enabled and checked state up to date: on a
    // change of window, selection, text, undo state or clipboard.
    void UpdateCommands();
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
    void BindCommands();
    QMenu* BuildPopup(const struct Popup& popup);
    void UpdateMenu(QMenu* menu);
    void FillRecentFiles(QMenu* menu, QAction* placeholder);
    void FillWindowList(QMenu* menu);
    void SelectMenu(bool documentMenu);

    CQuarryApp* app_;
    QMdiArea* mdi_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* idleMessage_ = nullptr;
    QList<QLabel*> indicators_;
    std::unique_ptr<CommandActions> commands_;
    QList<QMenu*> noDocumentMenu_;
    QList<QMenu*> documentMenu_;
    bool showsDocumentMenu_ = false;
    // Kept up to date from the clipboard's change signal: asking the
    // clipboard itself can wait on another program.
    bool clipboardHasText_ = false;
    QHash<QMenu*, QAction*> recentPlaceholders_;
    QHash<QMenu*, QList<QAction*>> recentEntries_;
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
