#include "search_dialog/search_replace_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <thread>

#include "search/expression.h"
#include "search/host.h"
#include "search/settings_file.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"
#include "search_dialog/live_highlight.h"
#include "search_dialog/search_target.h"
#include "ui/dialog_units.h"
#include "ui/expr_combo_box.h"
#include "ui/manual.h"

namespace quarry {
namespace {

constexpr const char* kTitle = "Search and Replace by Regular Expression";
constexpr const char* kResultTooLargeText =
    "The result does not fit into memory as a whole, so it was not written.\n"
    "No document was changed. Limit the search or work on a smaller text.";
constexpr const char* kTextTooLargeText =
    "The document's text does not fit into memory as a whole, so it was not searched.\n"
    "No document was changed.";
constexpr const char* kSettingsDamaged =
    "settings.dat is damaged: only its first part was read (the file is kept as settings.dat.bak)";
constexpr const char* kSettingsNotAFile = "settings.dat is not a file: the defaults are used";

// 9-point Courier New for the expression fields and the substitution line,
// made once and kept for the run.
const QFont& ExpressionFont() {
    static const QFont font = [] {
        QFont f(QStringLiteral("Courier New"));
        f.setStyleHint(QFont::TypeWriter);
        f.setFixedPitch(true);
        f.setPointSize(9);
        return f;
    }();
    return font;
}

// Where the window system tells us nothing about the frame (offscreen, no
// window manager, not yet mapped), a tool window's sizing border of 4 pixels
// and its small caption of 19 stand in for it.
constexpr QSize kNominalFrame(8, 27);

std::string Utf8(const QString& text) {
    return text.toStdString();
}

QStringList FromUtf8(const std::vector<std::string>& list) {
    QStringList out;
    out.reserve(qsizetype(list.size()));
    for (const std::string& s : list) {
        out.append(QString::fromStdString(s));
    }
    return out;
}

std::vector<std::string> ToUtf8(const QStringList& list) {
    std::vector<std::string> out;
    out.reserve(size_t(list.size()));
    for (const QString& s : list) {
        out.push_back(Utf8(s));
    }
    return out;
}

// A result goes into the editor in pieces this large, the events handled in
// between: Cancel is heard and the windows repaint while a big one loads.
constexpr int32_t kResultPiece = 2 << 20;

}  // namespace

LayoutMetrics LayoutMetrics::For(const DialogUnits& du) {
    const auto x = [&](int px) { return (px * du.BaseX() + 3) / 6; };
    const auto y = [&](int px) { return (px * du.BaseY() + 6) / 13; };
    LayoutMetrics m;
    m.minWidth = x(m.minWidth);
    m.minHeight = y(m.minHeight);
    m.fieldGap = x(m.fieldGap);
    m.substitutionGap = x(m.substitutionGap);
    m.buttonGap = x(m.buttonGap);
    m.statusGap = y(m.statusGap);
    m.bottomGap = y(m.bottomGap);
    return m;
}

CSearchReplaceDlg::CSearchReplaceDlg(SearchTarget& target, std::string settingsPath,
                                     QWidget* parent)
    : QDialog(parent),
      target_(target),
      settingsPath_(std::move(settingsPath)),
      bulkThreads_(static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))) {
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint);
    setWindowTitle(QString::fromLatin1(kTitle));
    setFont(DialogUnits::TemplateFont());
    setSizeGripEnabled(false);
    const DialogUnits du(font());
    metrics_ = LayoutMetrics::For(du);
    BuildTemplate(du);
    resize(du.X(336), du.Y(135));
    setMinimumSize(metrics_.minWidth - kNominalFrame.width(),
                   metrics_.minHeight - kNominalFrame.height());
    connect(&runner_, &SearchRunner::Progress, ui_.progress, &QProgressBar::setValue);
    OnInitDialog();
}

CSearchReplaceDlg::~CSearchReplaceDlg() {
    if (!settingsWritten_) {
        WriteSettings();
    }
}

void CSearchReplaceDlg::BuildTemplate(const DialogUnits& du) {
    auto add = [&](const char* name, auto* w, int x, int y, int cx, int cy) {
        w->setGeometry(du.Rect(x, y, cx, cy));
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    auto button = [&](const char* name, const char* text, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setAutoDefault(false);
        return add(name, b, x, y, cx, cy);
    };
    auto label = [&](const char* name, const char* text, int x, int y, int cx, int cy) {
        return add(name, new QLabel(QString::fromUtf8(text), this), x, y, cx, cy);
    };
    auto number = [&](const char* name, int x, int y, int cx, int cy) {
        auto* e = new QLineEdit(this);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Digits only, as typed; texts set by the program pass unchecked.
        e->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        return add(name, e, x, y, cx, cy);
    };
    auto check = [&](const char* name, const char* text, int x, int y, int cx, int cy) {
        auto* c = add(name, new QCheckBox(QString::fromUtf8(text), this), x, y, cx, cy);
        // Where the box is taller than the template's line, it keeps the
        // line's centre rather than lose its lower edge.
        const int need = c->sizeHint().height();
        if (c->height() < need) {
            c->setGeometry(c->x(), c->y() - (need - c->height()) / 2, c->width(), need);
        }
        return c;
    };

    // In the template's order, which is also the tab order.
    ui_.search = button("search", "&Search", 277, 22, 52, 14);
    ui_.search->setDefault(true);
    ui_.replace = button("replace", "&Replace", 277, 38, 52, 14);
    ui_.replaceAll = button("replaceAll", "Replace &All", 277, 54, 52, 14);
    ui_.listMatchings = button("listMatchings", "&List Matchings", 277, 70, 52, 14);
    ui_.close = button("close", "&Close", 277, 106, 52, 14);
    label("", "Character", 19, 60, 32, 8);
    ui_.character = number("character", 55, 60, 32, 12);
    ui_.home = button("home", "&Home", 88, 59, 24, 14);
    label("", "Line", 36, 74, 14, 10);
    ui_.line = number("line", 55, 73, 32, 12);
    label("", "Column", 27, 87, 25, 10);
    ui_.column = number("column", 55, 87, 32, 12);
    ui_.limitOn = check("limitOn", "Limit Search Depth to", 128, 57, 88, 9);
    ui_.limitValue = number("limitValue", 217, 55, 29, 12);
    ui_.newFile = check("newFile", "Create New File", 128, 69, 102, 10);
    ui_.matchCase = check("matchCase", "Match Case", 128, 80, 99, 11);
    ui_.matchLineBreaks = check("matchLineBreaks", "Match Linebreaks", 128, 93, 93, 8);
    ui_.statusPlaceholder = label("statusPlaceholder", "Static", 7, 105, 114, 8);
    ui_.statusPlaceholder->hide();
    ui_.progress = add("progress", new QProgressBar(this), 7, 118, 264, 10);
    ui_.progress->setTextVisible(false);
    ui_.cancel = button("cancel", "Abbrechen", 171, 114, 50, 14);
    ui_.cancel->hide();
    ui_.ok = button("ok", "OK", 223, 114, 50, 14);
    ui_.ok->hide();
    searchLabel_ = label("", "Search E&xpr.", 11, 9, 44, 8);
    ui_.searchPlaceholder = add("searchPlaceholder", new QComboBox(this), 55, 7, 213, 206);
    ui_.searchPlaceholder->hide();
    rewriteLabel_ = label("", "Rewri&te Expr.", 10, 25, 45, 8);
    ui_.rewritePlaceholder = add("rewritePlaceholder", new QComboBox(this), 55, 22, 213, 244);
    ui_.rewritePlaceholder->hide();
    label("", "Substitution", 14, 41, 38, 8);
    ui_.substitutionPlaceholder = label("substitutionPlaceholder", "", 56, 40, 202, 10);
    ui_.substitutionPlaceholder->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ui_.substitutionPlaceholder->hide();
    WidenPositionFields();

    for (const auto& [button, command] :
         {std::pair{ui_.search, Command::kSearch}, std::pair{ui_.replace, Command::kReplace},
          std::pair{ui_.replaceAll, Command::kReplaceAll},
          std::pair{ui_.listMatchings, Command::kListMatchings}}) {
        const Command c = command;
        connect(button, &QPushButton::clicked, this, [this, c] { RunCommand(c); });
    }
    connect(ui_.close, &QPushButton::clicked, this, &CSearchReplaceDlg::OnCancel);
    connect(ui_.cancel, &QPushButton::clicked, this, &CSearchReplaceDlg::OnCancel);
    connect(ui_.home, &QPushButton::clicked, this, &CSearchReplaceDlg::OnHome);
    connect(ui_.character, &QLineEdit::textChanged, this, &CSearchReplaceDlg::OnCharacterChanged);
    for (QLineEdit* field : {ui_.line, ui_.column}) {
        connect(field, &QLineEdit::textChanged, this, &CSearchReplaceDlg::OnLineColumnChanged);
    }
    connect(ui_.limitOn, &QCheckBox::toggled, this, &CSearchReplaceDlg::OnLimitToggled);
}

void CSearchReplaceDlg::WidenPositionFields() {
    // The template's fields hold 6 digits; a text of up to 2 GiB has offsets
    // of 10. The fields widen to hold them, and Home and the options to their
    // right move over by as much.
    QLineEdit* character = ui_.character;
    QStyleOptionFrame option;
    option.initFrom(character);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, character);
    const QSize text(character->fontMetrics().horizontalAdvance(QStringLiteral("2147483647")),
                     character->height());
    // The edit's own margin of 2 pixels each side comes on top of the style's.
    const int need =
        style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, character).width() + 4;
    const int extra = need - character->width();
    if (extra <= 0) {
        return;
    }
    for (QLineEdit* field : {ui_.character, ui_.line, ui_.column}) {
        field->resize(field->width() + extra, field->height());
    }
    for (QWidget* c :
         std::initializer_list<QWidget*>{ui_.home, ui_.limitOn, ui_.limitValue, ui_.newFile,
                                         ui_.matchCase, ui_.matchLineBreaks}) {
        c->move(c->x() + extra, c->y());
    }
}

void CSearchReplaceDlg::OnInitDialog() {
    // The expression fields, the substitution line and the status line take
    // the places of their placeholders, which stay hidden.
    const auto makeCombo = [this](QWidget* placeholder, const char* name, int extraListHeight) {
        auto* combo = new CExprComboBox(this);
        combo->setFont(ExpressionFont());
        const QRect r = placeholder->geometry();
        const int height = std::min(combo->sizeHint().height(), DialogUnits(font()).Y(15));
        combo->setGeometry(r.x(), r.y(), r.width(), height);
        // The drop-down list reaches as far as the placeholder plus the extra.
        const int itemHeight = std::max(1, combo->fontMetrics().height() + 2);
        combo->setMaxVisibleItems(std::max(1, (r.height() + extraListHeight) / itemHeight));
        combo->setObjectName(QString::fromLatin1(name));
        combo->show();
        return combo;
    };
    ui_.searchExpr = makeCombo(ui_.searchPlaceholder, "searchExpr", 280);
    ui_.rewriteExpr = makeCombo(ui_.rewritePlaceholder, "rewriteExpr", 180);
    ui_.rewriteExpr->SetSyntax(ExprSyntax::kRewrite);
    // Alt+X and Alt+T reach the fields from anywhere in the dialog; the
    // main window's menu keys stay live over it and are not taken.
    searchLabel_->setBuddy(ui_.searchExpr);
    rewriteLabel_->setBuddy(ui_.rewriteExpr);
    const auto makeLine = [this](QWidget* placeholder, const char* name, const QFont& f) {
        auto* line = new QLabel(this);
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(false);
        line->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        line->setFont(f);
        line->setGeometry(placeholder->geometry());
        line->setObjectName(QString::fromLatin1(name));
        line->show();
        return line;
    };
    ui_.substitution = makeLine(ui_.substitutionPlaceholder, "substitution", ExpressionFont());
    ui_.status = makeLine(ui_.statusPlaceholder, "status", font());
    // Made last, they would come last in the tab order; the expressions come
    // first for the keyboard.
    setTabOrder(ui_.searchExpr, ui_.rewriteExpr);
    setTabOrder(ui_.rewriteExpr, ui_.search);

    ReadSettings();
    // Made before the first SetRunning, which tells it of the idle state.
    live_ = new LiveHighlighter(
        target_,
        [this] {
            return LiveQuery{ui_.searchExpr->currentText(), ReadOptions()};
        },
        this);
    live_->enabled = [this] { return !running; };
    live_->showCount = [this](const QString& words) { ui_.status->setText(words); };
    connect(ui_.searchExpr, &QComboBox::editTextChanged, live_, [this] {
        if (!recordingHistories_) {
            live_->Schedule(true);
        }
    });
    for (QCheckBox* box : {ui_.matchCase, ui_.matchLineBreaks, ui_.limitOn}) {
        connect(box, &QCheckBox::toggled, live_, [this] { live_->Schedule(true); });
    }
    connect(ui_.limitValue, &QLineEdit::textChanged, live_, [this] { live_->Schedule(true); });
    SetRunning(false);
    // The expression the dialog opens with is marked and counted, unless the
    // status line has a word about the settings to show.
    live_->Schedule(ui_.status->text().isEmpty());
    UpdatePositionFields();
    const QSize outer = OuterSize();
    LayoutControls(outer.width(), outer.height());
    ui_.progress->setRange(0, 100);
}

void CSearchReplaceDlg::ReadSettings() {
    SettingsRecord record = DefaultSettings();
    const SettingsLoad load = LoadSettingsFile(settingsPath_, record);
    ui_.searchExpr->LoadHistory(FromUtf8(record.searchHistory));
    ui_.rewriteExpr->LoadHistory(FromUtf8(record.rewriteHistory));
    // No size stored: the template's. A stored size larger than the screen
    // (a damaged file) is cut to it, so the window can be seen and painted.
    storedOuter_ =
        record.width > 0 && record.height > 0 ? QSize(record.width, record.height) : OuterSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        storedOuter_ = storedOuter_.boundedTo(screen->availableGeometry().size());
    }
    ResizeOuter(storedOuter_.width(), storedOuter_.height());
    restoredOuter_ = storedOuter_.expandedTo(QSize(metrics_.minWidth, metrics_.minHeight));
    restoredInner_ = size();
    ui_.limitOn->setChecked(record.limitOn);
    ui_.newFile->setChecked(record.newFile);
    ui_.matchCase->setChecked(record.matchCase);
    ui_.limitValue->setText(QString::fromStdString(record.limitValue));
    ui_.matchLineBreaks->setChecked(record.matchLineBreaks);
    if (load == SettingsLoad::Damaged) {
        SetStatus(QString::fromLatin1(kSettingsDamaged));
    } else if (load == SettingsLoad::NotAFile) {
        SetStatus(QString::fromLatin1(kSettingsNotAFile));
    }
}

void CSearchReplaceDlg::WriteSettings() {
    settingsWritten_ = true;
    SettingsRecord record;
    record.searchHistory = ToUtf8(ui_.searchExpr->History());
    record.rewriteHistory = ToUtf8(ui_.rewriteExpr->History());
    // The window manager may tell of the frame only after the window has
    // been sized for the stored outer size: measured then, the same window
    // would be stored a few pixels smaller at every showing. A window the
    // user did not resize keeps the size it was given.
    const QSize outer = size() == restoredInner_ ? restoredOuter_ : OuterSize();
    record.width = outer.width();
    record.height = outer.height();
    record.limitOn = ui_.limitOn->isChecked();
    record.newFile = ui_.newFile->isChecked();
    record.matchCase = ui_.matchCase->isChecked();
    record.limitValue = Utf8(ui_.limitValue->text());
    record.matchLineBreaks = ui_.matchLineBreaks->isChecked();
    std::string error;
    if (!SaveSettingsFile(settingsPath_, record, &error)) {
        // Only while the main window is still there to show it over.
        const QWidget* owner = target_.OwnerWindow();
        if (owner != nullptr && owner->isVisible()) {
            ShowMessage("The search settings could not be saved to\n" + settingsPath_ + "\n" +
                        error);
        }
    }
}

void CSearchReplaceDlg::keyPressEvent(QKeyEvent* event) {
    // F1, unused by the fields, reaches the dialog: the manual at its topic.
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OpenManual(QString::fromLatin1(kManualTopicDialog));
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSearchReplaceDlg::done(int result) {
    live_->Stop();
    if (!settingsWritten_) {
        WriteSettings();
    }
    QDialog::done(result);
}

void CSearchReplaceDlg::reject() {
    OnCancel();
}

void CSearchReplaceDlg::OnCancel() {
    if (running) {
        runner_.RequestCancel();
        return;
    }
    done(QDialog::Rejected);
}

QSize CSearchReplaceDlg::MeasuredFrame() const {
    return frameGeometry().size() - geometry().size();
}

QSize CSearchReplaceDlg::FrameExtra() const {
    const QSize extra = windowFrame ? windowFrame() : MeasuredFrame();
    return extra.isEmpty() ? kNominalFrame : extra;
}

QSize CSearchReplaceDlg::OuterSize() const {
    return size() + FrameExtra();
}

void CSearchReplaceDlg::ResizeOuter(int width, int height) {
    const QSize extra = FrameExtra();
    resize(std::max(width, metrics_.minWidth) - extra.width(),
           std::max(height, metrics_.minHeight) - extra.height());
}

void CSearchReplaceDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (storedOuter_.isValid()) {
        ResizeOuter(storedOuter_.width(), storedOuter_.height());
        storedOuter_ = QSize();
        restoredInner_ = size();
    }
}

void CSearchReplaceDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (sizeGuard_ || ui_.status == nullptr) {
        return;
    }
    QSize outer = OuterSize();
    if (outer.width() < metrics_.minWidth || outer.height() < metrics_.minHeight) {
        sizeGuard_ = true;
        ResizeOuter(outer.width(), outer.height());
        sizeGuard_ = false;
        outer = outer.expandedTo(QSize(metrics_.minWidth, metrics_.minHeight));
    }
    LayoutControls(outer.width(), outer.height());
}

void CSearchReplaceDlg::LayoutControls(int w, int h) {
    if (ui_.status == nullptr) {
        return;
    }
    // Anchored to the bottom edge.
    for (const auto& [c, gap] : {std::pair<QWidget*, int>{ui_.status, metrics_.statusGap},
                                 std::pair<QWidget*, int>{ui_.close, metrics_.bottomGap},
                                 std::pair<QWidget*, int>{ui_.progress, metrics_.bottomGap}}) {
        c->move(c->x(), h - c->height() - gap);
    }
    // Widths follow the right edge; the buttons keep to it. Qt's combos keep
    // their selection through a resize: the selection the opening made
    // survives the window manager's first resize.
    const int W = std::max(w, metrics_.minWidth);
    for (QWidget* c : std::initializer_list<QWidget*>{ui_.rewriteExpr, ui_.searchExpr, ui_.status,
                                                      ui_.progress}) {
        c->resize(W - metrics_.fieldGap - c->x(), c->height());
    }
    ui_.substitution->resize(W - metrics_.substitutionGap - ui_.substitution->x(),
                             ui_.substitution->height());
    for (QPushButton* b : {ui_.close, ui_.listMatchings, ui_.replaceAll, ui_.replace, ui_.search}) {
        b->move(W - b->width() - metrics_.buttonGap, b->y());
    }
    ui_.home->raise();
    ui_.character->raise();
    update();
}

void CSearchReplaceDlg::SetRunning(bool run) {
    // Flags first: whatever the repaint below dispatches must see them, and a
    // Cancel from then on must not be forgotten.
    running = run;
    runner_.ResetCancel();
    if (run) {
        QWidget* focus = QApplication::focusWidget();
        focusBeforeRun_ = focus != nullptr && isAncestorOf(focus) ? focus : nullptr;
    }
    // Close turns into Cancel and stays enabled; the limit's value is
    // enabled only while the limit is on.
    ui_.close->setText(run ? QStringLiteral("&Cancel") : QStringLiteral("&Close"));
    ui_.close->setEnabled(true);
    for (QWidget* c : std::initializer_list<QWidget*>{
             ui_.search, ui_.replace, ui_.replaceAll, ui_.listMatchings, ui_.ok, ui_.cancel,
             ui_.home, ui_.character, ui_.searchExpr, ui_.rewriteExpr, ui_.limitOn, ui_.line,
             ui_.column, ui_.newFile, ui_.matchCase, ui_.matchLineBreaks}) {
        c->setEnabled(!run);
    }
    ui_.limitValue->setEnabled(!run && ui_.limitOn->isChecked());
    // While running, the inputs are disabled and lose the focus: it goes back
    // to where the user left it, or to the search expression.
    if (!run && focusBeforeRun_ && focusBeforeRun_->isEnabled()) {
        focusBeforeRun_->setFocus(Qt::OtherFocusReason);
        focusBeforeRun_ = nullptr;
    } else if (!run) {
        ui_.searchExpr->setFocus(Qt::OtherFocusReason);
    }
    if (run && !waitCursor_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        waitCursor_ = true;
    } else if (!run && waitCursor_) {
        QApplication::restoreOverrideCursor();
        waitCursor_ = false;
    }
    // A command's document shows no live highlights while it runs; they come
    // back afterwards, with the command's words left in the status line.
    if (live_ != nullptr && run) {
        live_->Stop();
    } else if (live_ != nullptr) {
        live_->Schedule(false);
    }
    // The text searched must stay the text shown until the result is in: no
    // view of the document takes edits while a command runs.
    target_.Busy(run);
    if (!run) {
        // The active document may have changed while the command ran.
        UpdatePositionFields();
    }
    ui_.progress->setValue(0);
    if (run && isVisible()) {
        // Show the running state before the text is streamed out; input waits
        // for the search thread's event loop.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void CSearchReplaceDlg::FocusSearchExpression() {
    ui_.searchExpr->setFocus(Qt::ShortcutFocusReason);
    // Typing replaces the expression; Enter runs it again.
    ui_.searchExpr->lineEdit()->selectAll();
}

void CSearchReplaceDlg::RecordHistories() {
    recordingHistories_ = true;
    for (CExprComboBox* combo : {ui_.searchExpr, ui_.rewriteExpr}) {
        const QString text = combo->currentText();
        // Letter case aside, an entry is kept once, where it was used last.
        const int old = combo->findText(text, Qt::MatchFixedString);
        if (old >= 0) {
            combo->removeItem(old);
        }
        combo->insertItem(0, text);
        if (combo->count() > kHistoryLimit) {
            combo->removeItem(kHistoryLimit);
        }
        combo->setEditText(text);
    }
    recordingHistories_ = false;
}

int32_t CSearchReplaceDlg::ReadInteger(const QLineEdit* field) {
    return SearchLimitFrom(true, field->text().toStdString());
}

void CSearchReplaceDlg::SetNumberField(QLineEdit* field, int64_t value) {
    positionSyncEnabled_ = false;
    const int caret = field->hasSelectedText() ? field->selectionStart() : field->cursorPosition();
    field->setText(QString::number(value));
    field->setCursorPosition(std::min<int>(caret, int(field->text().size())));
    positionSyncEnabled_ = true;
}

SearchOptions CSearchReplaceDlg::ReadOptions() const {
    SearchOptions options;
    options.matchCase = ui_.matchCase->isChecked();
    options.lineMode = !ui_.matchLineBreaks->isChecked();
    options.newFile = ui_.newFile->isChecked();
    options.searchLimit =
        SearchLimitFrom(ui_.limitOn->isChecked(), ui_.limitValue->text().toStdString());
    return options;
}

void CSearchReplaceDlg::UpdatePositionFields() {
    if (!target_.HasDocument()) {
        return;
    }
    int64_t start = 0;
    int64_t end = 0;
    target_.GetSelection(start, end);
    const int64_t line = target_.LineOf(end);
    SetNumberField(ui_.character, end);
    SetNumberField(ui_.line, line);
    SetNumberField(ui_.column, end - target_.LineStart(line));
}

void CSearchReplaceDlg::OnViewChanged() {
    if (!running) {
        live_->Schedule(false);
    }
}

void CSearchReplaceDlg::OnActiveDocumentChanged() {
    // A command keeps to the document it started on.
    if (running) {
        return;
    }
    // The highlights and the count move to the new document.
    live_->Schedule(true);
    if (target_.HasDocument()) {
        UpdatePositionFields();
        return;
    }
    positionSyncEnabled_ = false;
    for (QLineEdit* field : {ui_.character, ui_.line, ui_.column}) {
        field->clear();
    }
    positionSyncEnabled_ = true;
}

void CSearchReplaceDlg::OnCharacterChanged() {
    if (!positionSyncEnabled_) {
        return;
    }
    if (target_.HasDocument()) {
        target_.SetSelection(0, std::max(ReadInteger(ui_.character), 0));
    }
}

void CSearchReplaceDlg::OnLineColumnChanged() {
    if (!positionSyncEnabled_) {
        return;
    }
    if (!target_.HasDocument()) {
        return;
    }
    int64_t lineStart = target_.LineStart(std::max(ReadInteger(ui_.line), 0));
    if (lineStart < 0) {
        // Beyond the last line: the end of the text.
        lineStart = target_.Length();
    }
    target_.SetSelection(0, lineStart + std::max(ReadInteger(ui_.column), 0));
}

void CSearchReplaceDlg::OnLimitToggled() {
    ui_.limitValue->setEnabled(!running && ui_.limitOn->isChecked());
}

void CSearchReplaceDlg::OnHome() {
    SetNumberField(ui_.character, 0);
    if (target_.HasDocument()) {
        target_.SetSelection(0, 0);
    }
    substitution_.clear();
    ui_.substitution->clear();
    SetStatus(QString());
}

void CSearchReplaceDlg::SetStatus(const QString& text) {
    if (live_ != nullptr) {
        live_->StatusTaken();
    }
    ui_.status->setText(text);
}

void CSearchReplaceDlg::SetSubstitution(const std::string& bytes) {
    substitution_ = bytes;
    substitutionMode_ = target_.Mode();
    ui_.substitution->setText(target_.FromDocumentBytes(bytes));
}

bool CSearchReplaceDlg::RunOnSearchThread(const std::function<void()>& work) {
    if (runner_.Run(work)) {
        return true;
    }
    ShowMessage("The search could not start: no thread with a " +
                std::to_string(kSearchStackBytes >> 20) + " MiB stack could be made.");
    return false;
}

void CSearchReplaceDlg::RunCommand(Command command) {
    if (running) {
        return;  // one command at a time: the matcher's state is shared
    }
    RecordHistories();
    if (!target_.HasDocument()) {
        SetStatus(QString::fromLatin1(kStatusNoDocument));
        return;
    }
    const SearchOptions options = ReadOptions();
    // An expression holding a character the document's encoding lacks can
    // match nothing there and could not be written into it.
    const std::optional<std::string> pattern =
        target_.ToDocumentBytes(ui_.searchExpr->currentText());
    const std::optional<std::string> rewrite =
        target_.ToDocumentBytes(ui_.rewriteExpr->currentText());
    if (!pattern || !rewrite) {
        SetStatus(QString::fromLatin1(kStatusInvalid));
        return;
    }
    // A UTF-8 document is searched by characters, an 8-bit one by bytes.
    CExpression expression(pattern->c_str(), &runner_, target_.Mode());
    if (expression.m_nState == CExpression::kInvalid) {
        SetStatus(QString::fromLatin1(kStatusInvalid));
        return;
    }
    if (command == Command::kSearch || command == Command::kReplaceAll) {
        // A rewrite that cannot be expanded would replace every matching by
        // nothing: refuse it before anything runs.
        const RewriteCheck check = expression.CheckRewrite(rewrite->c_str());
        if (check.fault != RewriteFault::kNone) {
            SetStatus(QString::fromLatin1(kStatusInvalidRewrite) + QStringLiteral(": ") +
                      QString::fromStdString(RewriteFaultText(check)));
            return;
        }
    }
    RecordHistories();
    SetRunning(true);
    const std::string busy = RunningStatus(command);
    if (!busy.empty()) {
        SetStatus(QString::fromStdString(busy));
    }
    std::string result;
    switch (command) {
        case Command::kSearch:
            result = RunSearchNext(expression, *rewrite, options);
            break;
        case Command::kReplace:
            result = RunReplace();
            break;
        case Command::kReplaceAll:
        case Command::kListMatchings:
            result = RunBulk(command, expression, *pattern, *rewrite);
            break;
    }
    SetStatus(QString::fromStdString(result));
    SetRunning(false);
}

std::string CSearchReplaceDlg::RunSearchNext(CExpression& expression, const std::string& rewrite,
                                             const SearchOptions& options) {
    // Looked up again: the repaint before may have closed a window.
    if (!target_.HasDocument()) {
        return kStatusNoDocument;
    }
    // Searched in place: the document takes no edits while the command runs.
    const std::string_view text = target_.Text();
    if (text.size() > size_t(kMaxTextBytes)) {
        ShowMessage(kTextTooLargeText);
        return kStatusNotWritten;
    }
    int64_t start = 0;
    int64_t end = 0;
    target_.GetSelection(start, end);
    TextBuffer substitution;
    NextMatching found;
    if (!RunOnSearchThread([&] {
            found = FindNext(expression, text, end, rewrite.c_str(), substitution, options);
        })) {
        return kStatusCancelled;
    }
    const bool cancelled = Cancelled();
    if (found.start >= 0 && !cancelled && target_.HasDocument()) {
        target_.SetSelection(found.start, int64_t{found.start} + found.length);
    }
    SetSubstitution(std::string(substitution.Data(), size_t(substitution.Length())));
    if (found.outcome == SearchOutcome::kStackExhausted) {
        ShowMessage(kStackOverflowText, kStackOverflowTitle, {}, MB_OK);
        return kStatusStackOverflow;
    }
    return ResultStatus(Command::kSearch, cancelled, found.start);
}

std::string CSearchReplaceDlg::RunReplace() {
    if (!target_.HasDocument()) {
        return kStatusNoDocument;
    }
    std::string bytes = substitution_;
    // Made for a document of another encoding: carry the characters over,
    // a character the document's encoding lacks as '?'.
    if (target_.Mode() != substitutionMode_) {
        const QString shown = ui_.substitution->text();
        bytes.clear();
        for (qsizetype i = 0; i < shown.size();) {
            const qsizetype n = shown.at(i).isHighSurrogate() && i + 1 < shown.size() ? 2 : 1;
            bytes += target_.ToDocumentBytes(QStringView(shown).mid(i, n)).value_or("?");
            i += n;
        }
    }
    target_.ReplaceSelection(bytes);
    return ResultStatus(Command::kReplace, false, 0);
}

std::string CSearchReplaceDlg::RunBulk(Command command, CExpression& expression,
                                       const std::string& pattern, const std::string& rewrite) {
    notWritten_ = false;
    const BulkKind kind =
        command == Command::kListMatchings ? BulkKind::List : BulkKind::ReplaceAll;
    const int32_t n = RunBulkOperation(expression, pattern, rewrite.c_str(), kind);
    if (notWritten_) {
        return kStatusNotWritten;
    }
    return ResultStatus(command, Cancelled(), n);
}

int32_t CSearchReplaceDlg::RunBulkOperation(CExpression& expression, const std::string& pattern,
                                            const char* rewrite, BulkKind kind) {
    if (!target_.HasDocument()) {
        return 0;
    }
    const std::string_view input = target_.Text();
    if (input.size() > size_t(kMaxTextBytes)) {
        // Searching a part as if it were the whole could write the part back.
        ShowMessage(kTextTooLargeText);
        notWritten_ = true;
        return 0;
    }
    if (Cancelled()) {
        return 0;
    }
    // As large as the text to start with, within what a buffer can hold.
    TextBuffer output(int32_t(std::min<int64_t>(int64_t(input.size()) + 5, INT32_MAX)));
    const SearchOptions options = ReadOptions();
    const std::string lineBreak = target_.LineBreak();
    BulkThreads threads;
    threads.pattern = pattern.c_str();
    threads.mode = target_.Mode();
    threads.host = &runner_;
    threads.threads = bulkThreads_;
    threads.stackBytes = runner_.StackBytes();
    threads.minPiece = bulkMinPiece_;
    LoopResult result;
    if (!RunOnSearchThread([&] {
            result =
                RunBulkLoop(expression, input, output, rewrite, kind, options, lineBreak, &threads);
        })) {
        notWritten_ = true;
        return 0;
    }
    const int32_t n = result.count;
    if (Cancelled() || result.outcome == SearchOutcome::kCancelled) {
        return n;
    }
    if (result.outcome == SearchOutcome::kStackExhausted) {
        // The text after the point where the stack ran out was never
        // searched: a partial result must not replace the whole one.
        ShowMessage(kStackOverflowText, kStackOverflowTitle, {}, MB_OK);
        notWritten_ = true;
        return n;
    }
    if (result.outcome == SearchOutcome::kOutputShort) {
        // A result that lost pieces must never pass for the whole one.
        ShowMessage(kResultTooLargeText);
        notWritten_ = true;
        return n;
    }
    if (n <= 0) {
        return n;
    }
    if (!target_.HasDocument()) {
        notWritten_ = true;
        return n;
    }
    if (!WriteResult(output, options.newFile)) {
        // Taken back out: the document is as it was.
        return n;
    }
    // The result is in whole: a Cancel heard after its last piece came too
    // late and must not report a changed document as unchanged.
    runner_.ResetCancel();
    return n;
}

bool CSearchReplaceDlg::WriteResult(const TextBuffer& output, bool newDocument) {
    if (newDocument) {
        target_.BeginNewResult(output.Length());
    } else {
        target_.BeginResult(output.Length());
    }
    // The events between steps let Cancel and the windows in; the document
    // stays read-only meanwhile.
    const auto heardCancel = [this] {
        QCoreApplication::processEvents();
        if (!Cancelled()) {
            return false;
        }
        target_.EndResult(false);
        return true;
    };
    while (target_.ClearStep()) {
        if (heardCancel()) {
            return false;
        }
    }
    const std::string_view bytes(output.Data(), size_t(std::max(output.Length(), 0)));
    for (size_t done = 0; done < bytes.size();) {
        const size_t piece = std::min(bytes.size() - done, size_t(kResultPiece));
        target_.AppendResult(bytes.substr(done, piece));
        done += piece;
        if (done < bytes.size()) {
            ui_.progress->setValue(int(done * 100 / bytes.size()));
            if (heardCancel()) {
                return false;
            }
        }
    }
    target_.EndResult(true);
    return true;
}

}  // namespace quarry
