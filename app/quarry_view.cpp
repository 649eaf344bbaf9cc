#include "app/quarry_view.h"

#include <Qsci/qscicommand.h>
#include <Qsci/qscicommandset.h>
#include <Qsci/qsciprinter.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/app_state.h"
#include "app/commands.h"
#include "app/document_text.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "res/resource_tables.h"

namespace quarry {
namespace {

using Sci = QsciScintillaBase;

// Marks a display line that continues the one above in the cut copy.
constexpr int kContinuationMarker = 1;

// Line breaks of any style in pasted text become the document's own, as
// typing Enter would make them.
QString WithLineBreaks(const QString& text, LineEndStyle style) {
    QString out;
    out.reserve(text.size());
    const QString eol = QString::fromLatin1(LineBreakBytes(style));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            out += eol;
        } else if (c == u'\n' || c == QChar(0x2029)) {
            out += eol;
        } else {
            out += c;
        }
    }
    return out;
}

// Typed text the view inserts itself in an 8-bit document: printable
// characters without a command modifier.
bool IsTypedText(const QKeyEvent* event) {
    const QString text = event->text();
    if (text.isEmpty() ||
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        return false;
    }
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    return true;
}

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsLineBreak(char c) {
    return c == '\n' || c == '\r';
}

// The bytes' read-only state lifted for an edit a command makes.
class Writable {
  public:
    explicit Writable(QsciScintillaBase* editor)
        : editor_(editor), readOnly_(editor->SendScintilla(Sci::SCI_GETREADONLY) != 0) {
        editor_->SendScintilla(Sci::SCI_SETREADONLY, 0UL);
    }
    ~Writable() { editor_->SendScintilla(Sci::SCI_SETREADONLY, readOnly_ ? 1UL : 0UL); }
    Writable(const Writable&) = delete;
    Writable& operator=(const Writable&) = delete;

  private:
    QsciScintillaBase* editor_;
    bool readOnly_;
};

}  // namespace

bool CQuarryView::lineEndsVisible = false;
bool CQuarryView::lineNumbersVisible = false;

bool HasLineLongerThan(std::string_view text, size_t limit) {
    // A line longer than limit covers a whole block of limit / 2 bytes that
    // starts at a multiple of it. When every such block holds a line break,
    // the answer takes a few hundred searches of a few bytes each, not one
    // search per line (3,300,000 of them in 100 MB).
    const size_t block = limit / 2;
    if (block > 0) {
        bool everyBlockBreaks = true;
        for (size_t at = 0; at + block <= text.size() && everyBlockBreaks; at += block) {
            everyBlockBreaks = std::memchr(text.data() + at, '\n', block) != nullptr ||
                               std::memchr(text.data() + at, '\r', block) != nullptr;
        }
        if (everyBlockBreaks) {
            return false;
        }
    }
    // memchr finds LF fast; CR is looked for only inside runs already too long.
    size_t pos = 0;
    while (pos < text.size()) {
        const auto* lf =
            static_cast<const char*>(std::memchr(text.data() + pos, '\n', text.size() - pos));
        const size_t end = lf != nullptr ? size_t(lf - text.data()) : text.size();
        size_t from = pos;
        while (end - from > limit) {
            const auto* cr =
                static_cast<const char*>(std::memchr(text.data() + from, '\r', end - from));
            const size_t to = cr != nullptr ? size_t(cr - text.data()) : end;
            if (to - from > limit) {
                return true;
            }
            from = to + 1;
        }
        pos = end + 1;
    }
    return false;
}

std::string CutLongLines(std::string_view text, size_t limit, bool utf8,
                         std::vector<int64_t>& cuts) {
    cuts.clear();
    std::string out;
    out.reserve(text.size() + text.size() / limit + 1);
    const char* b = text.data();
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        size_t end = i;
        while (end < n && !IsLineBreak(b[end])) {
            ++end;
        }
        size_t from = i;
        while (end - from > limit) {
            size_t cut = from + limit;
            if (utf8) {
                // A character is at most 4 bytes: more continuation bytes
                // than 3 are no character, and are cut where they are.
                size_t start = cut;
                while (start > cut - 3 && IsContinuation(b[start])) {
                    --start;
                }
                if (!IsContinuation(b[start]) && start > from) {
                    cut = start;
                }
            }
            out.append(b + from, cut - from);
            out += '\n';
            cuts.push_back(int64_t(cut));
            from = cut;
        }
        out.append(b + from, end - from);
        i = end;
        while (i < n && IsLineBreak(b[i])) {
            out += b[i++];
        }
    }
    return out;
}

CQuarryView::CQuarryView(CQuarryDoc* document, QWidget* parent)
    : QsciScintilla(parent), document_(document) {
    DocumentText& text = document->Text();
    text.AttachView(this);
    // No margins: the text starts at the window edge.
    for (int margin = 0; margin < 5; ++margin) {
        setMarginWidth(margin, 0);
    }
    setWrapMode(QsciScintilla::WrapNone);
    // The cut copy marks each display line that goes on a line of the
    // bytes: its display break is no line end of the document.
    SendScintilla(SCI_MARKERDEFINE, static_cast<unsigned long>(kContinuationMarker),
                  long(SC_MARK_ARROWS));
    // Whole-line layouts are cached for the visible lines only: a 20 MB line
    // is laid out when shown, not kept for every line of the document.
    SendScintilla(SCI_SETLAYOUTCACHE, static_cast<unsigned long>(SC_CACHE_PAGE));
    // The menu comes when the right button is released, as the program's
    // context menu, not Scintilla's.
    setContextMenuPolicy(Qt::PreventContextMenu);
    // The main window's accelerators (font steps, undo, paste...) go to the
    // application's commands, not to Scintilla's own key map.
    for (const Accelerator& acc : Accelerators()) {
        const int key = int(acc.key) | int(acc.modifiers & ~Qt::KeypadModifier);
        for (QsciCommand* command : standardCommands()->commands()) {
            if (command->key() == key) {
                command->setKey(0);
            }
            if (command->alternateKey() == key) {
                command->setAlternateKey(0);
            }
        }
    }
    ApplyEditorFont(editorFaceName, editorFontSize);
    ApplyFormat();
    setEolVisibility(lineEndsVisible);
    ApplyLineNumbers();
    // The margin widens when the line count gains a digit; told once per
    // turn of the event loop, not per keystroke.
    connect(&text, &DocumentText::Changed, this, [this] {
        if (lineNumbersVisible) {
            ApplyLineNumbers();
        }
    });
    connect(&text, &DocumentText::FormatChanged, this, [this] {
        ApplyFormat();
        // An encoding change can move where a character starts.
        if (longLines_) {
            ScheduleSettle();
        }
    });
    connect(text.Buffer(), &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char* bytes, int length) {
                OnBytesChanged(position, type, bytes, length);
            });
    // A text loaded in pieces is looked at once, when whole: cutting it
    // afresh after every piece would cost the text so far each time.
    connect(&text, &DocumentText::Loaded, this, [this] {
        if (longLines_) {
            cutsStale_ = true;
            ScheduleSettle();
        } else if (HasLineLongerThan(document_->Text().Bytes(), size_t(kLongLineBytes))) {
            EnterLongLines();
        }
    });
    document_->AddView(this);
    if (HasLineLongerThan(text.Bytes(), size_t(kLongLineBytes))) {
        EnterLongLines();
    }
}

CQuarryView::~CQuarryView() {
    if (shownDoc_ != nullptr) {
        // The windows around may be half gone: nobody hears of the switch.
        const QSignalBlocker quiet(this);
        SendScintilla(SCI_SETDOCPOINTER, 0UL,
                      document_->Text().Buffer()->SendScintillaPtrResult(SCI_GETDOCPOINTER));
        SendScintilla(SCI_RELEASEDOCUMENT, 0UL, shownDoc_);
    }
    DocumentText::DetachView(this);
    document_->RemoveView(this);
}

int64_t CQuarryView::ByteFromShown(int64_t shown) const {
    if (!longLines_) {
        return shown;
    }
    // Break k stands at shown offset cuts_[k] + k; the count of breaks before
    // shown is what separates the two offsets.
    size_t lo = 0;
    size_t hi = cuts_.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (cuts_[mid] + int64_t(mid) < shown) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return shown - int64_t(lo);
}

int64_t CQuarryView::ShownFromByte(int64_t byte, bool beforeCut) const {
    if (!longLines_) {
        return byte;
    }
    auto k = int64_t(std::upper_bound(cuts_.begin(), cuts_.end(), byte) - cuts_.begin());
    if (beforeCut && k > 0 && cuts_[size_t(k - 1)] == byte) {
        --k;
    }
    return byte + k;
}

void CQuarryView::OnBytesChanged(int position, int type, const char* /*bytes*/, int length) {
    // Editors tell of a change before making it; the change is in place by
    // the time Settle runs from the event loop.
    const bool insert = (type & SC_MOD_BEFOREINSERT) != 0;
    if ((!insert && (type & SC_MOD_BEFOREDELETE) == 0) || document_->Text().IsLoading()) {
        return;
    }
    if (longLines_) {
        cutsStale_ = true;
    } else {
        const int64_t end = insert ? int64_t(position) + length : position;
        changedFrom_ = changedFrom_ < 0 ? position : std::min<int64_t>(changedFrom_, position);
        changedTo_ = std::max(changedTo_, end);
    }
    ScheduleSettle();
}

void CQuarryView::ScheduleSettle() {
    settlePending_ = true;
    if (!settleQueued_) {
        settleQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            settleQueued_ = false;
            Settle();
        });
    }
}

void CQuarryView::Settle() {
    if (!settlePending_) {
        return;
    }
    settlePending_ = false;
    DocumentText& text = document_->Text();
    if (longLines_) {
        if (HasLineLongerThan(text.Bytes(), size_t(kLongLineBytes))) {
            FillShownCopy();
        } else {
            LeaveLongLines();
        }
        return;
    }
    if (changedFrom_ < 0) {
        return;
    }
    // Only the lines the changes touched can have become too long.
    const int64_t length = text.ByteLength();
    const auto from = static_cast<unsigned long>(std::clamp<int64_t>(changedFrom_, 0, length));
    const auto to = static_cast<unsigned long>(std::clamp<int64_t>(changedTo_, 0, length));
    changedFrom_ = changedTo_ = -1;
    QsciScintilla* buffer = text.Buffer();
    const long firstLine = buffer->SendScintilla(SCI_LINEFROMPOSITION, from);
    const long lastLine = buffer->SendScintilla(SCI_LINEFROMPOSITION, to);
    bool tooLong = false;
    if (lastLine - firstLine < 4096) {
        for (long line = firstLine; line <= lastLine && !tooLong; ++line) {
            tooLong = buffer->SendScintilla(SCI_LINELENGTH, static_cast<unsigned long>(line)) >
                      kLongLineBytes;
        }
    } else {
        tooLong = HasLineLongerThan(text.Bytes(), size_t(kLongLineBytes));
    }
    if (tooLong) {
        EnterLongLines();
    }
}

void CQuarryView::EnterLongLines() {
    const long anchor = SendScintilla(SCI_GETANCHOR);
    const long caret = SendScintilla(SCI_GETCURRENTPOS);
    const long firstLine = SendScintilla(SCI_GETFIRSTVISIBLELINE);
    const long firstByte =
        SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(firstLine));
    shownDoc_ = SendScintillaPtrResult(SCI_CREATEDOCUMENT);
    SendScintilla(SCI_SETDOCPOINTER, 0UL, shownDoc_);
    longLines_ = true;
    cuts_.clear();
    cutsStale_ = false;
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    ApplyFormat();
    ApplyWrap();
    setMarginWidth(1, fontMetrics().averageCharWidth() * 2);
    FillShownCopy();
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(ShownFromByte(anchor)),
                  long(ShownFromByte(caret)));
    SendScintilla(SCI_SETFIRSTVISIBLELINE,
                  static_cast<unsigned long>(SendScintilla(
                      SCI_LINEFROMPOSITION, static_cast<unsigned long>(ShownFromByte(firstByte)))));
    UpdateNotice();
}

void CQuarryView::LeaveLongLines() {
    const int64_t length = document_->Text().ByteLength();
    const int64_t anchor = std::min(ByteFromShown(SendScintilla(SCI_GETANCHOR)), length);
    const int64_t caret = std::min(ByteFromShown(SendScintilla(SCI_GETCURRENTPOS)), length);
    longLines_ = false;
    cuts_.clear();
    cuts_.shrink_to_fit();
    // The view's reference goes, then the one made with the copy.
    SendScintilla(SCI_SETDOCPOINTER, 0UL,
                  document_->Text().Buffer()->SendScintillaPtrResult(SCI_GETDOCPOINTER));
    SendScintilla(SCI_RELEASEDOCUMENT, 0UL, shownDoc_);
    shownDoc_ = nullptr;
    setMarginWidth(1, 0);
    ApplyFormat();
    ApplyWrap();
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(anchor), long(caret));
    UpdateNotice();
}

void CQuarryView::FillShownCopy() {
    const DocumentText& text = document_->Text();
    const std::string_view bytes = text.Bytes();
    // After a change made elsewhere the old cuts only approximate the place.
    const auto toByte = [this, &bytes](long shown) {
        return std::min<int64_t>(ByteFromShown(shown), int64_t(bytes.size()));
    };
    const int64_t anchor = toByte(SendScintilla(SCI_GETANCHOR));
    const int64_t caret = toByte(SendScintilla(SCI_GETCURRENTPOS));
    const long firstLine = SendScintilla(SCI_GETFIRSTVISIBLELINE);
    const int64_t firstByte =
        toByte(SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(firstLine)));
    const std::string shown =
        CutLongLines(bytes, kDisplayLineBytes, text.Format().encoding == TextEncoding::Utf8, cuts_);
    cutsStale_ = false;
    filling_ = true;
    {
        Writable writable(this);
        SendScintilla(SCI_CLEARALL);
        SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(shown.size()), shown.data());
        SendScintilla(SCI_EMPTYUNDOBUFFER);
    }
    for (size_t k = 0; k < cuts_.size(); ++k) {
        const long line = SendScintilla(SCI_LINEFROMPOSITION,
                                        static_cast<unsigned long>(cuts_[k] + int64_t(k) + 1));
        SendScintilla(SCI_MARKERADD, static_cast<unsigned long>(line), long(kContinuationMarker));
    }
    SendScintilla(SCI_SETREADONLY, 1UL);
    filling_ = false;
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(ShownFromByte(anchor)),
                  long(ShownFromByte(caret)));
    SendScintilla(SCI_SETFIRSTVISIBLELINE,
                  static_cast<unsigned long>(SendScintilla(
                      SCI_LINEFROMPOSITION, static_cast<unsigned long>(ShownFromByte(firstByte)))));
}

void CQuarryView::UpdateNotice() {
    if (longLines_ && notice_ == nullptr) {
        notice_ = new QLabel(this);
        notice_->setObjectName(QStringLiteral("longLineNotice"));
        notice_->setText(
            QStringLiteral("Read-only: this document has a line longer than %1 KB. Long lines "
                           "are shown cut every %2 bytes; the file keeps its bytes.")
                .arg(kLongLineBytes / 1024)
                .arg(kDisplayLineBytes));
        notice_->setAutoFillBackground(true);
        QPalette palette = notice_->palette();
        palette.setColor(QPalette::Window, QColor(255, 244, 196));
        palette.setColor(QPalette::WindowText, Qt::black);
        notice_->setPalette(palette);
        notice_->setContentsMargins(6, 3, 6, 3);
    }
    if (notice_ != nullptr) {
        notice_->setVisible(longLines_);
        const int height = longLines_ ? notice_->sizeHint().height() : 0;
        setViewportMargins(0, height, 0, 0);
        notice_->setGeometry(0, 0, width(), height);
    }
}

void CQuarryView::paintEvent(QPaintEvent* event) {
    // A copy left uncut by a command's replacement must not be laid out.
    Settle();
    QsciScintilla::paintEvent(event);
}

void CQuarryView::resizeEvent(QResizeEvent* event) {
    QsciScintilla::resizeEvent(event);
    if (notice_ != nullptr && notice_->isVisible()) {
        notice_->setGeometry(0, 0, width(), notice_->sizeHint().height());
    }
}

void CQuarryView::ApplyFormat() {
    const DocFormat& format = document_->Text().Format();
    SendScintilla(SCI_SETCODEPAGE, static_cast<unsigned long>(
                                       format.encoding == TextEncoding::Utf8 ? SC_CP_UTF8 : 0));
    // Scintilla sets how bytes above 0x7F are drawn only in the editor that
    // changes the code page (the document's hidden buffer), so every view
    // sets them itself. A byte that is not part of a UTF-8 character
    // shows its hex value; in an 8-bit document so do 0x80..0x9F, C1 controls
    // drawn as nothing otherwise (a representation's text is drawn as Latin-1
    // there, so their Windows-1252 glyphs can't be given).
    for (int b = 0x80; b < 0x100; ++b) {
        const char key[2] = {char(b), 0};
        if (format.encoding == TextEncoding::Utf8 || b < 0xA0) {
            const QByteArray shown = "x" + QByteArray::number(b, 16).toUpper();
            SendScintilla(SCI_SETREPRESENTATION, key, shown.constData());
        } else {
            SendScintilla(SCI_CLEARREPRESENTATION, reinterpret_cast<uintptr_t>(key), 0L);
        }
    }
}

void CQuarryView::ApplyEditorFont(const QString& face, int twips) {
    editorFont_ = EditorFont(face, twips);
    setFont(editorFont_);
    appliedFontSize = twips;
    lineNumberDigits_ = 0;
    ApplyLineNumbers();
}

void CQuarryView::ApplyFontSize(int twips) {
    editorFont_.setPointSizeF(twips / 20.0);
    setFont(editorFont_);
    appliedFontSize = twips;
    lineNumberDigits_ = 0;  // the digits' width changed with the font
    ApplyLineNumbers();
    emit LayoutChanged();
}

void CQuarryView::ApplyLineNumbers() {
    if (!lineNumbersVisible) {
        if (lineNumberDigits_ != 0) {
            setMarginWidth(0, 0);
            lineNumberDigits_ = 0;
        }
        return;
    }
    const long lines = SendScintilla(SCI_GETLINECOUNT);
    const int digits = std::max<int>(2, int(QString::number(lines).size()));
    if (digits == lineNumberDigits_) {
        return;
    }
    lineNumberDigits_ = digits;
    setMarginType(0, QsciScintilla::NumberMargin);
    setMarginsFont(editorFont_);
    // One digit to spare keeps the numbers off the text.
    setMarginWidth(0, QString(digits + 1, QLatin1Char('9')));
}

int CQuarryView::LineNumberWidth() const {
    return marginWidth(0);
}

void CQuarryView::OnInitialUpdate() {
    // Half an inch on every side of printed pages.
    marginTwips = 720;
}

void CQuarryView::OnActivateView(bool activate) {
    if (!activate) {
        return;
    }
    if (appliedFontSize != editorFontSize) {
        ApplyFontSize(editorFontSize);
    }
    RewrapIfChanged();
}

void CQuarryView::RewrapIfChanged() {
    if (m_nWordWrap != wordWrapEnabled) {
        m_nWordWrap = wordWrapEnabled;
        ApplyWrap();
    }
}

void CQuarryView::ApplyWrap() {
    // Wrapping lays out every line of the cut copy at once (40 s for 20 MB).
    setWrapMode(m_nWordWrap != 0 && !longLines_ ? QsciScintilla::WrapWord
                                                : QsciScintilla::WrapNone);
    emit LayoutChanged();
}

void CQuarryView::focusInEvent(QFocusEvent* event) {
    QsciScintilla::focusInEvent(event);
    OnActivateView(true);
}

void CQuarryView::OnReduceFontsize() {
    editorFontSize -= kFontStep;
    ApplyFontSize(editorFontSize);
}

void CQuarryView::OnIncreaseFontsize() {
    editorFontSize += kFontStep;
    ApplyFontSize(editorFontSize);
}

void CQuarryView::OnWordWrapping() {
    wordWrapEnabled = wordWrapEnabled == 0 ? 1 : 0;
    RewrapIfChanged();
}

void CQuarryView::OnLineEnds() {
    lineEndsVisible = !lineEndsVisible;
    const CQuarryApp* app = CQuarryApp::Instance();
    if (app == nullptr) {
        setEolVisibility(lineEndsVisible);
        return;
    }
    for (const CQuarryDoc* doc : app->Documents()) {
        for (CQuarryView* view : doc->Views()) {
            view->setEolVisibility(lineEndsVisible);
        }
    }
}

void CQuarryView::OnLineNumbers() {
    lineNumbersVisible = !lineNumbersVisible;
    const CQuarryApp* app = CQuarryApp::Instance();
    if (app == nullptr) {
        ApplyLineNumbers();
        return;
    }
    for (const CQuarryDoc* doc : app->Documents()) {
        for (CQuarryView* view : doc->Views()) {
            view->ApplyLineNumbers();
        }
    }
}

QByteArray CQuarryView::InputBytes(const QString& text) const {
    DocumentText& doc = document_->Text();
    const std::string bytes =
        doc.InputBytes(WithLineBreaks(text, doc.Format().lineEnd), const_cast<CQuarryView*>(this));
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

void CQuarryView::InsertBytes(std::string_view bytes) {
    if (isReadOnly()) {
        return;
    }
    ReplaceSelectionBytes(this, bytes);
    const long end = SendScintilla(SCI_GETSELECTIONEND);
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(end), end);
    SendScintilla(SCI_SCROLLCARET);
}

void CQuarryView::OnEditPaste() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasText() || isReadOnly()) {
        return;
    }
    const QByteArray bytes = InputBytes(data->text());
    InsertBytes(std::string_view(bytes.constData(), size_t(bytes.size())));
}

bool CQuarryView::canInsertFromMimeData(const QMimeData* source) const {
    // Dropped files are opened as documents by the main window.
    if (source->hasUrls()) {
        return false;
    }
    return source->hasText();
}

QByteArray CQuarryView::fromMimeData(const QMimeData* source, bool& rectangular) const {
    rectangular = false;
    return source->hasText() ? InputBytes(source->text()) : QByteArray();
}

QMimeData* CQuarryView::toMimeData(const QByteArray& text, bool /*rectangular*/) const {
    auto* data = new QMimeData;
    // The cut copy's display breaks are not the document's.
    data->setText(
        DecodeText(longLines_ ? SelectedBytes() : text, document_->Text().Format().encoding));
    return data;
}

void CQuarryView::keyPressEvent(QKeyEvent* event) {
    // bench/editor_compare reads how long a key takes to handle and draw.
    static const bool timed = qEnvironmentVariableIsSet("QUARRY_KEY_TIMINGS");
    const int key = event->key();
    if (!timed || key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt ||
        key == Qt::Key_Meta) {
        HandleKey(event);
        return;
    }
    QElapsedTimer timer;
    timer.start();
    HandleKey(event);
    viewport()->repaint();
    QString name = QKeySequence(event->keyCombination()).toString(QKeySequence::PortableText);
    name.remove(QLatin1Char(' '));
    std::fprintf(stderr, "quarry-key %s %.1f ms\n", name.isEmpty() ? "?" : qPrintable(name),
                 double(timer.nsecsElapsed()) / 1e6);
}

void CQuarryView::HandleKey(QKeyEvent* event) {
    // Scintilla would take the characters as Latin-1 and lose those of
    // Windows-1252's 0x80..0x9F: the view makes the bytes.
    if (document_->Text().Format().encoding == TextEncoding::Bytes8 && IsTypedText(event) &&
        !isReadOnly()) {
        const QByteArray bytes = InputBytes(event->text());
        SendScintilla(SCI_BEGINUNDOACTION);
        SendScintilla(SCI_REPLACESEL, 0UL, bytes.constData());
        SendScintilla(SCI_ENDUNDOACTION);
        event->accept();
        return;
    }
    QsciScintilla::keyPressEvent(event);
}

void CQuarryView::inputMethodEvent(QInputMethodEvent* event) {
    if (document_->Text().Format().encoding == TextEncoding::Bytes8 &&
        !event->commitString().isEmpty() && event->preeditString().isEmpty() && !isReadOnly()) {
        const QByteArray bytes = InputBytes(event->commitString());
        SendScintilla(SCI_REPLACESEL, 0UL, bytes.constData());
        event->accept();
        return;
    }
    QsciScintilla::inputMethodEvent(event);
}

void CQuarryView::OnNextPane() {
    if (auto* frame = CQuarryApp::Instance()->MainWnd()) {
        frame->MdiArea()->activateNextSubWindow();
    }
}

void CQuarryView::OnPrevPane() {
    if (auto* frame = CQuarryApp::Instance()->MainWnd()) {
        frame->MdiArea()->activatePreviousSubWindow();
    }
}

void CQuarryView::PrintDocument(QPrinter* printer) {
    auto* sciPrinter = dynamic_cast<QsciPrinter*>(printer);
    if (sciPrinter == nullptr) {
        return;
    }
    const double marginPoints = marginTwips / 20.0;
    printer->setPageMargins(QMarginsF(marginPoints, marginPoints, marginPoints, marginPoints),
                            QPageLayout::Point);
    sciPrinter->setWrapMode(QsciScintilla::WrapWord);
    // The page shows the editor font at its own size, not the view's zoom.
    sciPrinter->setMagnification(0);
    int from = -1;
    int to = -1;
    if (printer->printRange() == QPrinter::Selection && HasSelection()) {
        // Lines of what is shown: the cut copy is what gets printed.
        from = int(SendScintilla(SCI_LINEFROMPOSITION,
                                 static_cast<unsigned long>(SendScintilla(SCI_GETSELECTIONSTART))));
        to = int(SendScintilla(SCI_LINEFROMPOSITION,
                               static_cast<unsigned long>(SendScintilla(SCI_GETSELECTIONEND))));
    }
    sciPrinter->printRange(this, from, to);
}

void CQuarryView::OnFilePrint() {
    QPrinter* printer = CQuarryApp::Instance()->Printer();
    QPrintDialog dialog(printer, this);
    if (HasSelection()) {
        dialog.setOption(QAbstractPrintDialog::PrintSelection);
    }
    if (dialog.exec() == QDialog::Accepted) {
        PrintDocument(printer);
    }
}

void CQuarryView::OnFilePrintPreview() {
    QPrintPreviewDialog preview(CQuarryApp::Instance()->Printer(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* printer) { PrintDocument(printer); });
    preview.exec();
}

QMenu* CQuarryView::CreateContextMenu() {
    CMainFrame* frame = CQuarryApp::Instance()->MainWnd();
    if (frame == nullptr) {
        return nullptr;
    }
    // Its items are the frame's commands, so their state is brought up to date.
    frame->UpdateCommands();
    return frame->Commands().BuildMenu(EditorContextMenu().front(), nullptr);
}

void CQuarryView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        if (std::unique_ptr<QMenu> menu{CreateContextMenu()}) {
            menu->exec(event->globalPosition().toPoint());
        }
    }
    QsciScintilla::mouseReleaseEvent(event);
}

void CQuarryView::contextMenuEvent(QContextMenuEvent* event) {
    // The context menu comes on the right button's release instead.
    event->accept();
}

void CQuarryView::GetSel(int64_t& start, int64_t& end) {
    // The cuts follow the view's own edits; only a change made elsewhere
    // needs the copy cut afresh first.
    if (cutsStale_) {
        Settle();
    }
    GetSelectionBytes(this, start, end);
    start = ByteFromShown(start);
    end = ByteFromShown(end);
}

void CQuarryView::SetSel(int64_t start, int64_t end) {
    // Scrolling to the caret lays out its line: the copy must be cut first.
    Settle();
    const int64_t length = document_->Text().ByteLength();
    start = std::clamp<int64_t>(start, 0, length);
    end = std::clamp<int64_t>(end, 0, length);
    // A selection ending at a cut ends before its display break.
    SetSelectionBytes(this, ShownFromByte(start), ShownFromByte(end, end > start));
    SendScintilla(SCI_SCROLLCARET);
}

void CQuarryView::ReplaceSelectedBytes(std::string_view bytes) {
    // Made in the document's bytes, whatever is shown: a cut copy follows
    // at its next Settle.
    int64_t start = 0;
    int64_t end = 0;
    GetSel(start, end);
    QsciScintilla* buffer = document_->Text().Buffer();
    SetSelectionBytes(buffer, start, end);
    ReplaceSelectionBytes(buffer, bytes);
    SetSel(start, start + int64_t(bytes.size()));
}

int CQuarryView::LineFromChar(int64_t byte) {
    // Lines of the document's bytes, whatever is shown.
    return int(document_->Text().Buffer()->SendScintilla(
        SCI_LINEFROMPOSITION, static_cast<unsigned long>(std::max<int64_t>(byte, 0))));
}

int64_t CQuarryView::LineIndex(int line) {
    QsciScintilla* buffer = document_->Text().Buffer();
    if (line < 0 || line >= buffer->SendScintilla(SCI_GETLINECOUNT)) {
        return -1;
    }
    return buffer->SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
}

bool CQuarryView::HasSelection() const {
    return SendScintilla(SCI_GETSELECTIONEMPTY) == 0;
}

QByteArray CQuarryView::SelectedBytes() const {
    const std::string_view bytes = document_->Text().Bytes();
    const auto clamp = [&bytes](int64_t offset) {
        return std::clamp<int64_t>(offset, 0, int64_t(bytes.size()));
    };
    const int64_t start = clamp(ByteFromShown(SendScintilla(SCI_GETSELECTIONSTART)));
    const int64_t end = clamp(ByteFromShown(SendScintilla(SCI_GETSELECTIONEND)));
    return QByteArray(bytes.data() + start, qsizetype(std::max<int64_t>(end - start, 0)));
}

}  // namespace quarry

namespace quarry {

void CQuarryView::VisibleBytes(int64_t& start, int64_t& end) {
    const long first = SendScintilla(SCI_GETFIRSTVISIBLELINE);
    const long rows = SendScintilla(SCI_LINESONSCREEN);
    const long firstLine = SendScintilla(SCI_DOCLINEFROMVISIBLE, static_cast<unsigned long>(first));
    const long lastLine =
        SendScintilla(SCI_DOCLINEFROMVISIBLE, static_cast<unsigned long>(first + rows + 1));
    const int64_t length = document_->Text().ByteLength();
    start = std::min(
        ByteFromShown(SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(firstLine))),
        length);
    end = std::clamp<int64_t>(
        ByteFromShown(SendScintilla(SCI_GETLINEENDPOSITION, static_cast<unsigned long>(lastLine))),
        start, length);
}

void CQuarryView::ShowLiveMarks(const std::vector<std::pair<int64_t, int64_t>>& ranges) {
    // The first indicator left to applications; drawn under the text, so
    // that the selection and the characters stay readable over it.
    constexpr unsigned long kLiveIndicator = INDIC_CONTAINER;
    SendScintilla(SCI_INDICSETSTYLE, kLiveIndicator, long(INDIC_ROUNDBOX));
    SendScintilla(SCI_INDICSETFORE, kLiveIndicator, QColor(255, 200, 0));
    SendScintilla(SCI_INDICSETALPHA, kLiveIndicator, 110L);
    SendScintilla(SCI_INDICSETOUTLINEALPHA, kLiveIndicator, 220L);
    SendScintilla(SCI_INDICSETUNDER, kLiveIndicator, 1L);
    SendScintilla(SCI_SETINDICATORCURRENT, kLiveIndicator);
    const long shownLength = SendScintilla(SCI_GETLENGTH);
    SendScintilla(SCI_INDICATORCLEARRANGE, 0UL, shownLength);
    for (const auto& [from, to] : ranges) {
        const int64_t a = std::min<int64_t>(ShownFromByte(from), shownLength);
        const int64_t b = std::min<int64_t>(ShownFromByte(to, true), shownLength);
        if (b > a) {
            SendScintilla(SCI_INDICATORFILLRANGE, static_cast<unsigned long>(a), long(b - a));
        }
    }
}

}  // namespace quarry
