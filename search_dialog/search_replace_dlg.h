// CSearchReplaceDlg: "Search and Replace by Regular Expression", the window
// from which every search command runs. Its window exists only while shown;
// histories and options live in settings.dat between showings. Commands run
// on a search thread while this dialog and the editors stay responsive.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "engine/text_mode.h"
#include "search_dialog/search_commands.h"
#include "search_dialog/search_runner.h"
#include "ui/dialog_units.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quarry {

class CExprComboBox;
class CExpression;
class LiveHighlighter;
class SearchTarget;
class TextBuffer;

// The pixel sizes the layout works with. They were chosen for the template
// font's base units of 6 x 13 pixels; a dialog font with other base units
// scales them, so that the controls keep clear of each other.
struct LayoutMetrics {
    int minWidth = 521;  // the smallest outer size
    int minHeight = 250;
    int fieldGap = 99;  // the combos, status line and progress bar end this far from the right
    int substitutionGap = 110;  // the substitution line ends this far from the right
    int buttonGap = 15;         // the buttons end this far from the right
    int statusGap = 55;         // the status line ends this far from the bottom
    int bottomGap = 35;         // Close and the progress bar end this far from the bottom

    static LayoutMetrics For(const DialogUnits& du);
    bool operator==(const LayoutMetrics&) const = default;
};

// The dialog's controls. The placeholders of the template stay hidden; the
// expression fields, the substitution line and the status line are made over
// them.
struct SearchDialogControls {
    QPushButton* search = nullptr;
    QPushButton* replace = nullptr;
    QPushButton* replaceAll = nullptr;
    QPushButton* listMatchings = nullptr;
    // Reads "&Cancel" while a command runs.
    QPushButton* close = nullptr;
    QLineEdit* character = nullptr;
    QPushButton* home = nullptr;
    QLineEdit* line = nullptr;
    QLineEdit* column = nullptr;
    QCheckBox* limitOn = nullptr;
    QLineEdit* limitValue = nullptr;
    QCheckBox* newFile = nullptr;
    QCheckBox* matchCase = nullptr;
    QCheckBox* matchLineBreaks = nullptr;
    QProgressBar* progress = nullptr;
    // Hidden: Escape comes to cancel, and ok is never shown.
    QPushButton* cancel = nullptr;
    QPushButton* ok = nullptr;
    QComboBox* searchPlaceholder = nullptr;
    QComboBox* rewritePlaceholder = nullptr;
    QLabel* substitutionPlaceholder = nullptr;
    QLabel* statusPlaceholder = nullptr;
    CExprComboBox* searchExpr = nullptr;
    CExprComboBox* rewriteExpr = nullptr;
    QLabel* substitution = nullptr;
    QLabel* status = nullptr;
};

class CSearchReplaceDlg : public QDialog {
    Q_OBJECT
  public:
    // Builds template 158 and initialises: the controls made over their
    // placeholders, settings read from settingsPath (defaults when it can't
    // be read), idle state, position fields. Commands work on target's
    // document.
    CSearchReplaceDlg(SearchTarget& target, std::string settingsPath, QWidget* parent = nullptr);
    // Writes the settings unless the dialog's end wrote them already.
    ~CSearchReplaceDlg() override;

    static constexpr int kHistoryLimit = 100;

    // A command is running: inputs disabled, Close reads "&Cancel".
    bool running = false;

    // Template controls and those made at initialisation.
    const SearchDialogControls& Ui() const { return ui_; }
    CExprComboBox* SearchCombo() const { return ui_.searchExpr; }
    CExprComboBox* RewriteCombo() const { return ui_.rewriteExpr; }
    QLabel* StatusLine() const { return ui_.status; }
    QLabel* SubstitutionLine() const { return ui_.substitution; }
    QProgressBar* ProgressBar() const { return ui_.progress; }
    SearchRunner& Runner() { return runner_; }
    // Threads for List Matchings and Replace All in line mode (one per core
    // unless set); the smallest piece of text one thread takes.
    void SetBulkThreads(int threads, int32_t minPiece = 1 << 20) {
        bulkThreads_ = threads;
        bulkMinPiece_ = minPiece;
    }

    // Search, Replace, Replace All or List Matchings.
    void RunCommand(Command command);
    void SetRunning(bool run);
    // The keyboard focus in the search expression, its text selected.
    void FocusSearchExpression();
    // Puts the current search and rewrite texts first in their lists.
    void RecordHistories();
    // Character, Line and Column fields from the active editor's caret.
    void UpdatePositionFields();
    // The fields follow the new active document; with none, they are empty.
    void OnActiveDocumentChanged();
    void OnHome();
    // Escape, Close and the close box: stop a running command, else close.
    void OnCancel();
    // The active document's view scrolled or its text changed.
    void OnViewChanged();
    // Marks the matchings of the expression as typed in the active document.
    LiveHighlighter& Live() { return *live_; }

    // The options as the commands read them now.
    SearchOptions ReadOptions() const;
    // The field's text as atoi reads it.
    static int32_t ReadInteger(const QLineEdit* field);
    // Writes a position without its being taken for the user's input.
    void SetNumberField(QLineEdit* field, int64_t value);

    const LayoutMetrics& Metrics() const { return metrics_; }
    // Outer size in pixels: the window with its frame.
    QSize OuterSize() const;
    void ResizeOuter(int width, int height);
    // Places the controls for an outer size of w x h pixels.
    void LayoutControls(int w, int h);

    // The window system's frame around the window (outer minus inner size);
    // replaceable for tests, to stand for a window manager that tells of the
    // frame only once the window is on screen.
    std::function<QSize()> windowFrame;

    // Escape and the close box come here.
    void reject() override;

  protected:
    void done(int result) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void BuildTemplate(const DialogUnits& du);
    void WidenPositionFields();
    void OnInitDialog();
    void ReadSettings();
    void WriteSettings();
    QSize MeasuredFrame() const;
    QSize FrameExtra() const;
    void SetStatus(const QString& text);
    void SetSubstitution(const std::string& bytes);

    std::string RunSearchNext(CExpression& expression, const std::string& rewrite,
                              const SearchOptions& options);
    std::string RunReplace();
    std::string RunBulk(Command command, CExpression& expression, const std::string& pattern,
                        const std::string& rewrite);
    // The bulk operation over the document; sets notWritten_ when a result
    // could not be written whole.
    int32_t RunBulkOperation(CExpression& expression, const std::string& pattern,
                             const char* rewrite, BulkKind kind);
    // Puts a result in, a piece at a time with the events handled between
    // pieces; false when Cancel took it back out.
    bool WriteResult(const TextBuffer& output, bool newDocument);
    bool RunOnSearchThread(const std::function<void()>& work);
    // Cancel or the close box was pressed, or the run was stopped because the
    // application is quitting.
    bool Cancelled() const { return runner_.CancelRequested(); }

    void OnCharacterChanged();
    void OnLineColumnChanged();
    void OnLimitToggled();

    SearchTarget& target_;
    std::string settingsPath_;
    LayoutMetrics metrics_;
    bool settingsWritten_ = false;
    SearchDialogControls ui_;
    QLabel* searchLabel_ = nullptr;
    QLabel* rewriteLabel_ = nullptr;
    // Where the focus was when a command started.
    QPointer<QWidget> focusBeforeRun_;
    SearchRunner runner_;
    int bulkThreads_;
    int32_t bulkMinPiece_ = 1 << 20;
    LiveHighlighter* live_ = nullptr;
    // The substitution as bytes of the document Search ran on.
    std::string substitution_;
    TextMode substitutionMode_ = TextMode::kUtf8;
    bool notWritten_ = false;
    bool positionSyncEnabled_ = true;
    bool sizeGuard_ = false;
    // The histories are being reordered: the fields' text passes through
    // other entries and back, which is no typing.
    bool recordingHistories_ = false;
    bool waitCursor_ = false;
    // The outer size read from the settings, applied again once shown, when
    // the window system knows the frame.
    QSize storedOuter_;
    // The outer size the settings gave and the inner size it came to; the
    // settings get the former back while the window keeps the latter.
    QSize restoredOuter_;
    QSize restoredInner_;
};

}  // namespace quarry
