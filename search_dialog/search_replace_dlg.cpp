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

#include "search/expression.h"
#include "search/host.h"
#include "search/settings_file.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"
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

// The controls SetRunning enables and disables, in the order it visits them.
constexpr int kRunningControls[] = {1018, 1019, 1020, 1021, 1022, 1,    2,    1024, 1023,
                                    104,  105,  1031, 1034, 1026, 1027, 1032, 1033, 1035};

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
    : QDialog(parent), target_(target), settingsPath_(std::move(settingsPath)) {
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
    connect(&runner_, &SearchRunner::Progress, progressBar_, &QProgressBar::setValue);
    OnInitDialog();
}

CSearchReplaceDlg::~CSearchReplaceDlg() {
    if (!settingsWritten_) {
        WriteSettings();
    }
}

void CSearchReplaceDlg::BuildTemplate(const DialogUnits& du) {
    auto add = [&](int id, QWidget* w, int x, int y, int cx, int cy) {
        w->setGeometry(du.Rect(x, y, cx, cy));
        if (id != 0) {
            w->setObjectName(QStringLiteral("id%1").arg(id));
            controls_.insert(id, w);
        }
        return w;
    };
    auto button = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setAutoDefault(false);
        add(id, b, x, y, cx, cy);
        return b;
    };
    auto label = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        add(id, l, x, y, cx, cy);
        return l;
    };
    auto number = [&](int id, int x, int y, int cx, int cy) {
        auto* e = new QLineEdit(this);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Digits only, as typed; texts set by the program pass unchecked.
        e->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        add(id, e, x, y, cx, cy);
        return e;
    };
    auto check = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* c = new QCheckBox(QString::fromUtf8(text), this);
        add(id, c, x, y, cx, cy);
        // Where the box is taller than the template's line, it keeps the
        // line's centre rather than lose its lower edge.
        const int need = c->sizeHint().height();
        if (c->height() < need) {
            c->setGeometry(c->x(), c->y() - (need - c->height()) / 2, c->width(), need);
        }
        return c;
    };

    // In the template's order, which is also the tab order.
    QPushButton* search = button(1018, "&Search", 277, 22, 52, 14);
    search->setDefault(true);
    button(1019, "&Replace", 277, 38, 52, 14);
    button(1020, "Replace &All", 277, 54, 52, 14);
    button(1021, "&List Matchings", 277, 70, 52, 14);
    button(1022, "&Close", 277, 106, 52, 14);
    label(0, "Character", 19, 60, 32, 8);
    number(1023, 55, 60, 32, 12);
    button(1024, "&Home", 88, 59, 24, 14);
    label(0, "Line", 36, 74, 14, 10);
    number(1026, 55, 73, 32, 12);
    label(0, "Column", 27, 87, 25, 10);
    number(1027, 55, 87, 32, 12);
    check(1031, "Limit Search Depth to", 128, 57, 88, 9);
    number(1034, 217, 55, 29, 12);
    check(1032, "Create New File", 128, 69, 102, 10);
    check(1033, "Match Case", 128, 80, 99, 11);
    check(1035, "Match Linebreaks", 128, 93, 93, 8);
    label(1025, "Static", 7, 105, 114, 8)->hide();
    progressBar_ = new QProgressBar(this);
    progressBar_->setTextVisible(false);
    add(1012, progressBar_, 7, 118, 264, 10);
    button(2, "Abbrechen", 171, 114, 50, 14)->hide();
    button(1, "OK", 223, 114, 50, 14)->hide();
    searchLabel_ = label(0, "Search E&xpr.", 11, 9, 44, 8);
    auto* searchPlaceholder = new QComboBox(this);
    add(101, searchPlaceholder, 55, 7, 213, 206)->hide();
    rewriteLabel_ = label(0, "Rewri&te Expr.", 10, 25, 45, 8);
    auto* rewritePlaceholder = new QComboBox(this);
    add(1014, rewritePlaceholder, 55, 22, 213, 244)->hide();
    label(0, "Substitution", 14, 41, 38, 8);
    QLabel* substitutionPlaceholder = label(1017, "", 56, 40, 202, 10);
    substitutionPlaceholder->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    substitutionPlaceholder->hide();
    WidenPositionFields();

    connect(search, &QPushButton::clicked, this, [this] { RunCommand(kCmdSearch); });
    for (int id : {kCmdReplace, kCmdReplaceAll, kCmdListMatchings}) {
        connect(static_cast<QPushButton*>(Control(id)), &QPushButton::clicked, this,
                [this, id] { RunCommand(id); });
    }
    connect(static_cast<QPushButton*>(Control(1022)), &QPushButton::clicked, this,
            &CSearchReplaceDlg::OnCancel);
    connect(static_cast<QPushButton*>(Control(2)), &QPushButton::clicked, this,
            &CSearchReplaceDlg::OnCancel);
    connect(static_cast<QPushButton*>(Control(1024)), &QPushButton::clicked, this,
            &CSearchReplaceDlg::OnHome);
    connect(static_cast<QLineEdit*>(Control(1023)), &QLineEdit::textChanged, this,
            &CSearchReplaceDlg::OnCharacterChanged);
    for (int id : {1026, 1027}) {
        connect(static_cast<QLineEdit*>(Control(id)), &QLineEdit::textChanged, this,
                &CSearchReplaceDlg::OnLineColumnChanged);
    }
    connect(static_cast<QCheckBox*>(Control(1031)), &QCheckBox::toggled, this,
            &CSearchReplaceDlg::OnLimitToggled);
}

void CSearchReplaceDlg::WidenPositionFields() {
    // The template's fields hold 6 digits; a text of up to 2 GiB has offsets
    // of 10. The fields widen to hold them, and Home and the options to their
    // right move over by as much.
    auto* character = static_cast<QLineEdit*>(Control(1023));
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
    for (int id : {1023, 1026, 1027}) {
        QWidget* field = Control(id);
        field->resize(field->width() + extra, field->height());
    }
    for (int id : {1024, 1031, 1034, 1032, 1033, 1035}) {
        QWidget* c = Control(id);
        c->move(c->x() + extra, c->y());
    }
}

void CSearchReplaceDlg::OnInitDialog() {
    // The expression fields, the substitution line and the status line take
    // the places of their placeholders, which stay hidden.
    const auto makeCombo = [this](int placeholderId, int id, int extraListHeight) {
        QWidget* placeholder = Control(placeholderId);
        auto* combo = new CExprComboBox(this);
        combo->setFont(ExpressionFont());
        const QRect r = placeholder->geometry();
        const int height = std::min(combo->sizeHint().height(), DialogUnits(font()).Y(15));
        combo->setGeometry(r.x(), r.y(), r.width(), height);
        // The drop-down list reaches as far as the placeholder plus the extra.
        const int itemHeight = std::max(1, combo->fontMetrics().height() + 2);
        combo->setMaxVisibleItems(std::max(1, (r.height() + extraListHeight) / itemHeight));
        combo->setObjectName(QStringLiteral("id%1").arg(id));
        controls_.insert(id, combo);
        combo->show();
        return combo;
    };
    searchCombo_ = makeCombo(101, 104, 280);
    rewriteCombo_ = makeCombo(1014, 105, 180);
    rewriteCombo_->SetSyntaxMode(0);
    // Alt+X and Alt+T reach the fields from anywhere in the dialog; the
    // main window's menu keys stay live over it and are not taken.
    searchLabel_->setBuddy(searchCombo_);
    rewriteLabel_->setBuddy(rewriteCombo_);
    const auto makeLine = [this](int placeholderId, int id, const QFont& f) {
        auto* line = new QLabel(this);
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(false);
        line->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        line->setFont(f);
        line->setGeometry(Control(placeholderId)->geometry());
        line->setObjectName(QStringLiteral("id%1").arg(id));
        controls_.insert(id, line);
        line->show();
        return line;
    };
    substitutionLine_ = makeLine(1017, 106, ExpressionFont());
    statusLine_ = makeLine(1025, 107, font());
    // Made last, they would come last in the tab order; the expressions come
    // first for the keyboard.
    setTabOrder(searchCombo_, rewriteCombo_);
    setTabOrder(rewriteCombo_, Control(1018));

    ReadSettings();
    SetRunning(false);
    UpdatePositionFields();
    const QSize outer = OuterSize();
    LayoutControls(outer.width(), outer.height());
    progressBar_->setRange(0, 100);
}

void CSearchReplaceDlg::ReadSettings() {
    SettingsRecord record = DefaultSettings();
    const SettingsLoad load = LoadSettingsFile(settingsPath_, record);
    searchCombo_->LoadHistory(FromUtf8(record.searchHistory));
    rewriteCombo_->LoadHistory(FromUtf8(record.rewriteHistory));
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
    SetChecked(1031, record.limitOn);
    SetChecked(1032, record.newFile);
    SetChecked(1033, record.matchCase);
    static_cast<QLineEdit*>(Control(1034))->setText(QString::fromStdString(record.limitValue));
    SetChecked(1035, record.matchLineBreaks);
    if (load == SettingsLoad::Damaged) {
        SetStatus(QString::fromLatin1(kSettingsDamaged));
    } else if (load == SettingsLoad::NotAFile) {
        SetStatus(QString::fromLatin1(kSettingsNotAFile));
    }
}

void CSearchReplaceDlg::WriteSettings() {
    settingsWritten_ = true;
    SettingsRecord record;
    record.searchHistory = ToUtf8(searchCombo_->History());
    record.rewriteHistory = ToUtf8(rewriteCombo_->History());
    // The window manager may tell of the frame only after the window has
    // been sized for the stored outer size: measured then, the same window
    // would be stored a few pixels smaller at every showing. A window the
    // user did not resize keeps the size it was given.
    const QSize outer = size() == restoredInner_ ? restoredOuter_ : OuterSize();
    record.width = outer.width();
    record.height = outer.height();
    record.limitOn = IsChecked(1031);
    record.newFile = IsChecked(1032);
    record.matchCase = IsChecked(1033);
    record.limitValue = Utf8(static_cast<QLineEdit*>(Control(1034))->text());
    record.matchLineBreaks = IsChecked(1035);
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
    if (sizeGuard_ || statusLine_ == nullptr) {
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
    if (statusLine_ == nullptr) {
        return;
    }
    // Anchored to the bottom edge.
    for (const auto& [id, gap] :
         {std::pair{107, metrics_.statusGap}, std::pair{1022, metrics_.bottomGap},
          std::pair{1012, metrics_.bottomGap}}) {
        if (QWidget* c = Control(id)) {
            c->move(c->x(), h - c->height() - gap);
        }
    }
    // Widths follow the right edge; the buttons keep to it.
    const int W = std::max(w, metrics_.minWidth);
    for (int id : {105, 104, 1022, 1021, 1020, 1019, 1018, 106, 1024, 1023, 107, 1012}) {
        QWidget* c = Control(id);
        if (c == nullptr) {
            continue;
        }
        switch (id) {
            case 104:
            case 105:
            case 107:
            case 1012:
                // Qt's combos keep their selection through a resize: the
                // selection the opening made survives the window manager's
                // first resize.
                c->resize(W - metrics_.fieldGap - c->x(), c->height());
                break;
            case 106:
                c->resize(W - metrics_.substitutionGap - c->x(), c->height());
                break;
            case 1023:
            case 1024:
                c->raise();
                break;
            default:
                c->move(W - c->width() - metrics_.buttonGap, c->y());
                break;
        }
    }
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
    for (int id : kRunningControls) {
        QWidget* c = Control(id);
        if (c == nullptr) {
            continue;
        }
        if (id == 1022) {
            static_cast<QPushButton*>(c)->setText(run ? QStringLiteral("&Cancel")
                                                      : QStringLiteral("&Close"));
            c->setEnabled(true);
        } else if (id == 1034) {
            c->setEnabled(!run && IsChecked(1031));
        } else {
            c->setEnabled(!run);
        }
    }
    // While running, the inputs are disabled and lose the focus: it goes back
    // to where the user left it, or to the search expression.
    if (!run && focusBeforeRun_ && focusBeforeRun_->isEnabled()) {
        focusBeforeRun_->setFocus(Qt::OtherFocusReason);
        focusBeforeRun_ = nullptr;
    } else if (!run) {
        searchCombo_->setFocus(Qt::OtherFocusReason);
    }
    if (run && !waitCursor_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        waitCursor_ = true;
    } else if (!run && waitCursor_) {
        QApplication::restoreOverrideCursor();
        waitCursor_ = false;
    }
    // The text searched must stay the text shown until the result is in: no
    // view of the document takes edits while a command runs.
    target_.Busy(run);
    if (!run) {
        // The active document may have changed while the command ran.
        UpdatePositionFields();
    }
    progressBar_->setValue(0);
    if (run && isVisible()) {
        // Show the running state before the text is streamed out; input waits
        // for the search thread's event loop.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void CSearchReplaceDlg::FocusSearchExpression() {
    searchCombo_->setFocus(Qt::ShortcutFocusReason);
    // Typing replaces the expression; Enter runs it again.
    searchCombo_->lineEdit()->selectAll();
}

void CSearchReplaceDlg::RecordHistories() {
    for (CExprComboBox* combo : {searchCombo_, rewriteCombo_}) {
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
}

bool CSearchReplaceDlg::IsChecked(int id) const {
    auto* box = qobject_cast<QCheckBox*>(Control(id));
    return box != nullptr && box->checkState() == Qt::Checked;
}

void CSearchReplaceDlg::SetChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(id))) {
        box->setChecked(checked);
    }
}

int32_t CSearchReplaceDlg::ReadInteger(int id) const {
    QWidget* c = Control(id);
    if (c == nullptr) {
        return -1;
    }
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(c)) {
        text = edit->text();
    } else if (auto* l = qobject_cast<QLabel*>(c)) {
        text = l->text();
    }
    return SearchLimitFrom(true, text.toStdString());
}

void CSearchReplaceDlg::SetNumberField(int id, int64_t value) {
    positionSyncEnabled_ = false;
    if (auto* edit = qobject_cast<QLineEdit*>(Control(id))) {
        const int caret = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
        edit->setText(QString::number(value));
        edit->setCursorPosition(std::min<int>(caret, int(edit->text().size())));
    }
    positionSyncEnabled_ = true;
}

SearchOptions CSearchReplaceDlg::ReadOptions() const {
    SearchOptions options;
    options.matchCase = IsChecked(1033);
    options.lineMode = !IsChecked(1035);
    options.newFile = IsChecked(1032);
    const auto* field = static_cast<const QLineEdit*>(Control(1034));
    options.searchLimit = SearchLimitFrom(IsChecked(1031), field->text().toStdString());
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
    SetNumberField(1023, end);
    SetNumberField(1026, line);
    SetNumberField(1027, end - target_.LineStart(line));
}

void CSearchReplaceDlg::OnActiveDocumentChanged() {
    // A command keeps to the document it started on.
    if (running) {
        return;
    }
    if (target_.HasDocument()) {
        UpdatePositionFields();
        return;
    }
    positionSyncEnabled_ = false;
    for (int id : {1023, 1026, 1027}) {
        if (auto* field = qobject_cast<QLineEdit*>(Control(id))) {
            field->clear();
        }
    }
    positionSyncEnabled_ = true;
}

void CSearchReplaceDlg::OnCharacterChanged() {
    if (!positionSyncEnabled_) {
        return;
    }
    if (target_.HasDocument()) {
        target_.SetSelection(0, std::max(ReadInteger(1023), 0));
    }
}

void CSearchReplaceDlg::OnLineColumnChanged() {
    if (!positionSyncEnabled_) {
        return;
    }
    if (!target_.HasDocument()) {
        return;
    }
    int64_t lineStart = target_.LineStart(std::max(ReadInteger(1026), 0));
    if (lineStart < 0) {
        // Beyond the last line: the end of the text.
        lineStart = target_.Length();
    }
    target_.SetSelection(0, lineStart + std::max(ReadInteger(1027), 0));
}

void CSearchReplaceDlg::OnLimitToggled() {
    if (QWidget* field = Control(1034)) {
        field->setEnabled(!running && IsChecked(1031));
    }
}

void CSearchReplaceDlg::OnHome() {
    SetNumberField(1023, 0);
    if (target_.HasDocument()) {
        target_.SetSelection(0, 0);
    }
    substitution_.clear();
    substitutionLine_->clear();
    statusLine_->clear();
}

void CSearchReplaceDlg::SetStatus(const QString& text) {
    statusLine_->setText(text);
}

void CSearchReplaceDlg::SetSubstitution(const std::string& bytes) {
    substitution_ = bytes;
    substitutionMode_ = target_.Mode();
    substitutionLine_->setText(target_.FromDocumentBytes(bytes));
}

bool CSearchReplaceDlg::RunOnSearchThread(const std::function<void()>& work) {
    if (runner_.Run(work)) {
        return true;
    }
    ShowMessage("The search could not start: no thread with a " +
                std::to_string(kSearchStackBytes >> 20) + " MiB stack could be made.");
    return false;
}

void CSearchReplaceDlg::RunCommand(int command) {
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
    const std::optional<std::string> pattern = target_.ToDocumentBytes(searchCombo_->currentText());
    const std::optional<std::string> rewrite =
        target_.ToDocumentBytes(rewriteCombo_->currentText());
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
    if (command == kCmdSearch || command == kCmdReplaceAll) {
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
        case kCmdSearch:
            result = RunSearchNext(expression, *rewrite, options);
            break;
        case kCmdReplace:
            result = RunReplace();
            break;
        case kCmdReplaceAll:
        case kCmdListMatchings:
            result = RunBulk(command, expression, *rewrite);
            break;
        default:
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
    return ResultStatus(kCmdSearch, cancelled, found.start);
}

std::string CSearchReplaceDlg::RunReplace() {
    if (!target_.HasDocument()) {
        return kStatusNoDocument;
    }
    std::string bytes = substitution_;
    // Made for a document of another encoding: carry the characters over,
    // a character the document's encoding lacks as '?'.
    if (target_.Mode() != substitutionMode_) {
        const QString shown = substitutionLine_->text();
        bytes.clear();
        for (qsizetype i = 0; i < shown.size();) {
            const qsizetype n = shown.at(i).isHighSurrogate() && i + 1 < shown.size() ? 2 : 1;
            bytes += target_.ToDocumentBytes(QStringView(shown).mid(i, n)).value_or("?");
            i += n;
        }
    }
    target_.ReplaceSelection(bytes);
    return ResultStatus(kCmdReplace, false, 0);
}

std::string CSearchReplaceDlg::RunBulk(int command, CExpression& expression,
                                       const std::string& rewrite) {
    notWritten_ = false;
    const BulkKind kind = command == kCmdListMatchings ? BulkKind::List : BulkKind::ReplaceAll;
    const int32_t n = RunBulkOperation(expression, rewrite.c_str(), kind);
    if (notWritten_) {
        return kStatusNotWritten;
    }
    return ResultStatus(command, Cancelled(), n);
}

int32_t CSearchReplaceDlg::RunBulkOperation(CExpression& expression, const char* rewrite,
                                            BulkKind kind) {
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
    LoopResult result;
    if (!RunOnSearchThread([&] {
            result = RunBulkLoop(expression, input, output, rewrite, kind, options, lineBreak);
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
            progressBar_->setValue(int(done * 100 / bytes.size()));
            if (heardCancel()) {
                return false;
            }
        }
    }
    target_.EndResult(true);
    return true;
}

}  // namespace quarry
