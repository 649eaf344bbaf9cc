#include "app/document_text.h"

#include <Qsci/qsciscintilla.h>

#include <QAccessible>
#include <QAccessibleWidget>

#include <algorithm>
#include <chrono>
#include <future>

#include "search/text_buffer.h"

namespace quarry {
namespace {

using Sci = QsciScintillaBase;

constexpr int kStreamChunk = 64 * 1024;
// The old text goes in pieces this large when a result replaces it, so that
// no one step holds up the event loop on a big text.
constexpr int64_t kClearPiece = 8 << 20;
// Marks the undo step that turned an 8-bit document into UTF-8.
constexpr int kWidenToken = 0x51574944;
// The editors tell of modifications before they happen, not after: for an
// insertion or a deletion told afterwards, QScintilla counts the characters
// from the text's start to the change for its accessibility events, whether
// or not anyone listens, so every keystroke near the end of a 100 MB text,
// and every piece of a result appended, would cost a pass over the text.
// (A notification passes the mask when any of its bits does, so the mask
// names the kinds wanted and none of the flags that go with every kind.)
constexpr unsigned long kModificationEvents =
    Sci::SC_MOD_BEFOREINSERT | Sci::SC_MOD_BEFOREDELETE | Sci::SC_MOD_CONTAINER;
// Marks an undo step that changes no byte.
constexpr int kNoChangeToken = 0x514E4F50;
// Room left free behind a text loaded or put in whole: Scintilla grows a
// full buffer by copying it to a new one, which for the first character
// typed into a 100 MB text cost a 100 MB allocation and copy.
constexpr int64_t kEditRoom = 1 << 20;
// From this size on, a load makes its room on another thread.
constexpr int64_t kAllocateAside = 16 << 20;
// The view's own document, given back by DetachView.
constexpr const char* kOwnDocProperty = "quarryOwnDocument";

int EolMode(LineEndStyle style) {
    switch (style) {
        case LineEndStyle::CrLf:
            return Sci::SC_EOL_CRLF;
        case LineEndStyle::Cr:
            return Sci::SC_EOL_CR;
        case LineEndStyle::Lf:
            break;
    }
    return Sci::SC_EOL_LF;
}

// Lifts the document's read-only state for one edit made by a command.
class WritableFor {
  public:
    explicit WritableFor(QsciScintillaBase* editor)
        : editor_(editor), readOnly_(editor->SendScintilla(Sci::SCI_GETREADONLY) != 0) {
        if (readOnly_) {
            editor_->SendScintilla(Sci::SCI_SETREADONLY, 0UL);
        }
    }
    ~WritableFor() {
        if (readOnly_) {
            editor_->SendScintilla(Sci::SCI_SETREADONLY, 1UL);
        }
    }
    WritableFor(const WritableFor&) = delete;
    WritableFor& operator=(const WritableFor&) = delete;

  private:
    QsciScintillaBase* editor_;
    bool readOnly_;
};

// Appends bytes, NULs included.
void AppendRaw(QsciScintillaBase* editor, std::string_view bytes) {
    if (!bytes.empty()) {
        editor->SendScintilla(Sci::SCI_APPENDTEXT, static_cast<unsigned long>(bytes.size()),
                              bytes.data());
    }
}

// QScintilla's accessible for an editor turns the caret's byte position into
// a character count from the text's start on every update of the view, that
// is on every paint: with the caret at the end of a 100 MB text, each
// repaint and keystroke costs a second. While no assistive technology is
// listening, the editors get the plain widget's accessible instead. The
// factory has to come before QScintilla's, which the first editor installs.
QAccessibleInterface* EditorAccessible(const QString& /*className*/, QObject* object) {
    auto* editor = qobject_cast<QsciScintillaBase*>(object);
    if (editor == nullptr || QAccessible::isActive()) {
        return nullptr;
    }
    return new QAccessibleWidget(editor, QAccessible::EditableText);
}

std::unique_ptr<QsciScintilla> MakeBuffer() {
    static const bool installed = [] {
        QAccessible::installFactory(EditorAccessible);
        return true;
    }();
    (void)installed;
    return std::make_unique<QsciScintilla>();
}

}  // namespace

DocumentText::DocumentText(QObject* parent) : QObject(parent), buffer_(MakeBuffer()) {
    buffer_->setAttribute(Qt::WA_DontShowOnScreen);
    // No lexer ever styles the text, so Scintilla's style byte per text byte
    // would only double the memory and every move of the buffer's gap (the
    // first edit far from the last one moves the text behind it).
    ownDoc_ = buffer_->SendScintillaPtrResult(Sci::SCI_GETDOCPOINTER);
    buffer_->SendScintilla(Sci::SCI_ADDREFDOCUMENT, 0UL, ownDoc_);
    auto* doc = reinterpret_cast<void*>(buffer_->SendScintilla(
        Sci::SCI_CREATEDOCUMENT, 0UL, long(Sci::SC_DOCUMENTOPTION_STYLES_NONE)));
    buffer_->SendScintilla(Sci::SCI_SETDOCPOINTER, 0UL, doc);
    buffer_->SendScintilla(Sci::SCI_RELEASEDOCUMENT, 0UL, doc);
    buffer_->SendScintilla(Sci::SCI_SETWRAPMODE, static_cast<unsigned long>(Sci::SC_WRAP_NONE));
    buffer_->SendScintilla(Sci::SCI_SETMODEVENTMASK, kModificationEvents);
    connect(buffer_.get(), &QsciScintilla::modificationChanged, this,
            &DocumentText::ModifiedChanged);
    connect(buffer_.get(), &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int, int type, const char*, int, int, int, int, int, int token, int) {
                OnModified(type, token);
            });
    SetFormat(DocFormat{});
}

DocumentText::~DocumentText() {
    // QScintilla releases the document it made itself.
    buffer_->SendScintilla(Sci::SCI_SETDOCPOINTER, 0UL, ownDoc_);
    buffer_->SendScintilla(Sci::SCI_RELEASEDOCUMENT, 0UL, ownDoc_);
}

void DocumentText::SetFormat(const DocFormat& format) {
    format_ = format;
    // Code page and EOL mode belong to the Scintilla document, so every view
    // of it follows.
    buffer_->SendScintilla(
        Sci::SCI_SETCODEPAGE,
        static_cast<unsigned long>(format.encoding == TextEncoding::Utf8 ? Sci::SC_CP_UTF8 : 0));
    buffer_->SendScintilla(Sci::SCI_SETEOLMODE,
                           static_cast<unsigned long>(EolMode(format.lineEnd)));
    emit FormatChanged();
}

void DocumentText::LoadBytes(QByteArrayView bytes) {
    BeginLoad(bytes.size());
    LoadPiece(std::string_view(bytes.data(), size_t(bytes.size())));
    EndLoad(true);
}

void DocumentText::BeginLoad(int64_t size, const std::function<void()>& waiting) {
    loading_ = std::make_unique<FormatDetector>();
    WritableFor writable(buffer_.get());
    buffer_->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 0UL);
    buffer_->SendScintilla(Sci::SCI_CLEARALL);
    Allocate(size + kEditRoom, waiting);
}

void DocumentText::Allocate(int64_t size, const std::function<void()>& waiting) {
    const auto room = static_cast<unsigned long>(size);
    if (!waiting || size < kAllocateAside) {
        buffer_->SendScintilla(Sci::SCI_ALLOCATE, room);
        return;
    }
    // Scintilla zero-fills the room it makes: 65 ms for 100 MB on a quiet
    // machine, most of it page faults. Making room for an empty text only
    // touches its storage, which no view or event handler reaches meanwhile.
    QsciScintilla* buffer = buffer_.get();
    std::future<void> allocated = std::async(
        std::launch::async, [buffer, room] { buffer->SendScintilla(Sci::SCI_ALLOCATE, room); });
    while (allocated.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        waiting();
    }
    allocated.get();
}

void DocumentText::LoadPiece(std::string_view bytes) {
    if (loading_) {
        loading_->Feed(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    }
    WritableFor writable(buffer_.get());
    AppendRaw(buffer_.get(), bytes);
}

void DocumentText::EndLoad(bool keep) {
    const DocFormat format = loading_ ? loading_->Result() : DocFormat{};
    loading_.reset();
    if (!keep) {
        WritableFor writable(buffer_.get());
        buffer_->SendScintilla(Sci::SCI_CLEARALL);
    }
    SetFormat(keep ? format : DocFormat{});
    buffer_->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 1UL);
    buffer_->SendScintilla(Sci::SCI_EMPTYUNDOBUFFER);
    SetModified(false);
    emit Loaded();
}

std::string_view DocumentText::Bytes() const {
    const auto length = size_t(buffer_->SendScintilla(Sci::SCI_GETLENGTH));
    // Closes the gap of Scintilla's buffer: one move, then the bytes in place.
    const auto* data =
        static_cast<const char*>(buffer_->SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
    return data == nullptr ? std::string_view() : std::string_view(data, length);
}

QByteArray DocumentText::SaveBytes() const {
    const std::string_view bytes = Bytes();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

void DocumentText::AppendBytes(std::string& out) const {
    out.append(Bytes());
}

int64_t DocumentText::ByteLength() const {
    return buffer_->SendScintilla(Sci::SCI_GETLENGTH);
}

int32_t DocumentText::StreamOut(TextBuffer& buffer) const {
    const std::string_view bytes = Bytes();
    buffer.Reserve(int32_t(std::min<size_t>(bytes.size() + 1, INT32_MAX - 2)));
    buffer.length = 0;
    if (buffer.data != nullptr) {
        buffer.data[0] = 0;
    }
    // A buffer that cannot grow keeps what fitted, like a short stream.
    size_t done = 0;
    while (done < bytes.size()) {
        const auto count = int32_t(std::min<size_t>(bytes.size() - done, kStreamChunk));
        if (!buffer.Append(bytes.data() + done, count)) {
            break;
        }
        done += size_t(count);
    }
    return buffer.length;
}

void DocumentText::StreamIn(const TextBuffer& buffer) {
    StreamIn(std::string_view(buffer.Data(), size_t(std::max(buffer.length, 0))));
}

void DocumentText::StreamIn(std::string_view bytes) {
    ReplaceAllBytes(buffer_.get(), bytes);
}

void DocumentText::BeginReplacement(int64_t resultLength, const std::function<void()>& waiting,
                                    bool undoable) {
    replacementFromSavePoint_ = buffer_->SendScintilla(Sci::SCI_GETMODIFY) == 0;
    replacementClearLeft_ = ByteLength();
    replacementOldLength_ = replacementClearLeft_;
    replacementLength_ = resultLength;
    replacementKeptByte_ = false;
    replacementAppended_ = 0;
    replacementUndoable_ = undoable;
    if (undoable) {
        buffer_->SendScintilla(Sci::SCI_BEGINUNDOACTION);
    } else {
        buffer_->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 0UL);
    }
    if (replacementClearLeft_ == 0) {
        ReserveReplacement(waiting);
    }
}

void DocumentText::ReserveReplacement(const std::function<void()>& waiting) {
    // Room for the whole result at once: grown piece by piece, the buffer
    // would be copied whole at every growth step. No room is given back:
    // making room is a no-op while there is enough.
    Allocate(replacementLength_ + kEditRoom, waiting);
}

bool DocumentText::ClearReplacementStep() {
    if (replacementClearLeft_ > 0) {
        // From the end: nothing behind the cut moves.
        const int64_t piece = std::min<int64_t>(replacementClearLeft_, kClearPiece);
        replacementClearLeft_ -= piece;
        WritableFor writable(buffer_.get());
        // Deleting the whole text would give Scintilla's storage back, and
        // room for the result would be made afresh, zero-filled, in one step
        // (70 ms for 100 MB): while the result needs at least half the room,
        // one byte stays until the result is in, the result going in before it.
        const bool keepStorage = replacementClearLeft_ == 0 && replacementLength_ > 0 &&
                                 replacementLength_ * 2 >= replacementOldLength_;
        if (keepStorage) {
            replacementKeptByte_ = true;
            if (piece > 1) {
                buffer_->SendScintilla(Sci::SCI_DELETERANGE, 0UL, long(piece - 1));
            }
        } else {
            buffer_->SendScintilla(Sci::SCI_DELETERANGE,
                                   static_cast<unsigned long>(replacementClearLeft_), long(piece));
        }
        if (replacementClearLeft_ == 0) {
            ReserveReplacement();
        }
    }
    return replacementClearLeft_ > 0;
}

void DocumentText::AppendReplacement(std::string_view bytes) {
    while (ClearReplacementStep()) {
    }
    WritableFor writable(buffer_.get());
    if (!replacementKeptByte_) {
        AppendRaw(buffer_.get(), bytes);
    } else if (!bytes.empty()) {
        const auto at = static_cast<unsigned long>(replacementAppended_);
        buffer_->SendScintilla(Sci::SCI_SETTARGETSTART, at);
        buffer_->SendScintilla(Sci::SCI_SETTARGETEND, at);
        buffer_->SendScintilla(Sci::SCI_REPLACETARGET, static_cast<unsigned long>(bytes.size()),
                               bytes.data());
    }
    replacementAppended_ += int64_t(bytes.size());
}

void DocumentText::EndReplacement(bool keep) {
    if (keep) {
        while (ClearReplacementStep()) {
        }
    }
    replacementClearLeft_ = 0;
    WritableFor writable(buffer_.get());
    if (keep && replacementKeptByte_) {
        buffer_->SendScintilla(Sci::SCI_DELETERANGE,
                               static_cast<unsigned long>(replacementAppended_), 1L);
    }
    replacementKeptByte_ = false;
    if (!replacementUndoable_) {
        replacementUndoable_ = true;
        if (!keep) {
            buffer_->SendScintilla(Sci::SCI_CLEARALL);
        }
        buffer_->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 1UL);
        if (keep) {
            SetModified(true);
        } else if (replacementFromSavePoint_) {
            SetModified(false);
        }
        return;
    }
    buffer_->SendScintilla(Sci::SCI_ENDUNDOACTION);
    if (keep) {
        return;
    }
    buffer_->SendScintilla(Sci::SCI_UNDO);
    // A step that changes nothing cuts the partial result off the redo list.
    buffer_->SendScintilla(Sci::SCI_ADDUNDOACTION, static_cast<unsigned long>(kNoChangeToken), 0L);
    if (replacementFromSavePoint_) {
        buffer_->SendScintilla(Sci::SCI_SETSAVEPOINT);
    }
}

bool DocumentText::IsModified() const {
    return forcedModified_ || buffer_->SendScintilla(Sci::SCI_GETMODIFY) != 0;
}

void DocumentText::SetModified(bool modified) {
    forcedModified_ = modified;
    if (!modified) {
        buffer_->SendScintilla(Sci::SCI_SETSAVEPOINT);
    }
    emit ModifiedChanged();
}

void DocumentText::SetReadOnly(bool readOnly) {
    buffer_->SendScintilla(Sci::SCI_SETREADONLY, readOnly ? 1UL : 0UL);
}

bool DocumentText::IsReadOnly() const {
    return buffer_->SendScintilla(Sci::SCI_GETREADONLY) != 0;
}

std::optional<std::string> DocumentText::ToDocumentBytes(QStringView text) const {
    return EncodeText(text, format_.encoding);
}

std::string DocumentText::InputBytes(QStringView text, QsciScintillaBase* editor) {
    if (std::optional<std::string> bytes = EncodeText(text, format_.encoding)) {
        return *std::move(bytes);
    }
    // Keep the character: the document becomes UTF-8 rather than lose it on save.
    QChar missing;
    for (const QChar ch : text) {
        if (CharToByte(ch.unicode()) < 0) {
            missing = ch;
            break;
        }
    }
    Widen(editor);
    emit EncodingWidened(missing);
    return text.toUtf8().toStdString();
}

void DocumentText::Widen(QsciScintillaBase* editor) {
    const std::string_view old = Bytes();
    const auto utf8Offset = [&old](int64_t byte) {
        const auto cut = size_t(std::clamp<int64_t>(byte, 0, int64_t(old.size())));
        return int64_t(DecodeText(QByteArrayView(old.data(), qsizetype(cut)), TextEncoding::Bytes8)
                           .toUtf8()
                           .size());
    };
    int64_t anchor = 0;
    int64_t caret = 0;
    if (editor != nullptr) {
        anchor = utf8Offset(editor->SendScintilla(Sci::SCI_GETANCHOR));
        caret = utf8Offset(editor->SendScintilla(Sci::SCI_GETCURRENTPOS));
    }
    const QByteArray utf8 =
        DecodeText(QByteArrayView(old.data(), qsizetype(old.size())), TextEncoding::Bytes8)
            .toUtf8();
    // The re-encoding and the edit that needed it are one undo step, marked by
    // a container action whose undo and redo switch the encoding back and
    // forth: undoing the edit gives back the file's own bytes and encoding.
    // The step closes once the edit has been made, which every input path
    // does before control returns to the event loop.
    buffer_->SendScintilla(Sci::SCI_BEGINUNDOACTION);
    buffer_->SendScintilla(Sci::SCI_ADDUNDOACTION, static_cast<unsigned long>(kWidenToken), 0L);
    SetEncoding(TextEncoding::Utf8);
    {
        WritableFor writable(buffer_.get());
        buffer_->SendScintilla(Sci::SCI_CLEARALL);
        AppendRaw(buffer_.get(), std::string_view(utf8.data(), size_t(utf8.size())));
    }
    QMetaObject::invokeMethod(
        this, [this] { buffer_->SendScintilla(Sci::SCI_ENDUNDOACTION); }, Qt::QueuedConnection);
    if (editor != nullptr) {
        editor->SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(anchor), long(caret));
    }
}

void DocumentText::SetEncoding(TextEncoding encoding) {
    DocFormat format = format_;
    format.encoding = encoding;
    SetFormat(format);
}

void DocumentText::AttachView(QsciScintilla* view) const {
    // The document QScintilla made for the view stays alive for it: it is
    // the one QScintilla releases when the view goes.
    if (!view->property(kOwnDocProperty).isValid()) {
        void* own = view->SendScintillaPtrResult(Sci::SCI_GETDOCPOINTER);
        view->SendScintilla(Sci::SCI_ADDREFDOCUMENT, 0UL, own);
        view->setProperty(kOwnDocProperty, QVariant::fromValue(own));
    }
    // The EOL mode belongs to the document: it comes with it.
    view->SendScintilla(Sci::SCI_SETDOCPOINTER, 0UL,
                        buffer_->SendScintillaPtrResult(Sci::SCI_GETDOCPOINTER));
    view->SendScintilla(Sci::SCI_SETMODEVENTMASK, kModificationEvents);
}

void DocumentText::DetachView(QsciScintilla* view) {
    const QVariant own = view->property(kOwnDocProperty);
    if (!own.isValid()) {
        return;
    }
    view->SendScintilla(Sci::SCI_SETDOCPOINTER, 0UL, own.value<void*>());
    view->SendScintilla(Sci::SCI_RELEASEDOCUMENT, 0UL, own.value<void*>());
    view->setProperty(kOwnDocProperty, QVariant());
}

void DocumentText::OnModified(int type, int token) {
    if ((type & (Sci::SC_MOD_BEFOREINSERT | Sci::SC_MOD_BEFOREDELETE)) != 0) {
        emit AboutToChange();
        if (!changePending_) {
            changePending_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    changePending_ = false;
                    emit Changed();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    if ((type & Sci::SC_MOD_CONTAINER) == 0 || token != kWidenToken) {
        return;
    }
    // Undo runs back past the re-encoding: the bytes are 8-bit again.
    if ((type & Sci::SC_PERFORMED_UNDO) != 0) {
        SetEncoding(TextEncoding::Bytes8);
    } else if ((type & Sci::SC_PERFORMED_REDO) != 0) {
        SetEncoding(TextEncoding::Utf8);
    }
}

void ReplaceSelectionBytes(QsciScintillaBase* editor, std::string_view bytes) {
    WritableFor writable(editor);
    const long start = editor->SendScintilla(Sci::SCI_GETSELECTIONSTART);
    const long end = editor->SendScintilla(Sci::SCI_GETSELECTIONEND);
    editor->SendScintilla(Sci::SCI_BEGINUNDOACTION);
    editor->SendScintilla(Sci::SCI_SETTARGETSTART, static_cast<unsigned long>(start));
    editor->SendScintilla(Sci::SCI_SETTARGETEND, static_cast<unsigned long>(end));
    editor->SendScintilla(Sci::SCI_REPLACETARGET, static_cast<unsigned long>(bytes.size()),
                          bytes.data());
    editor->SendScintilla(Sci::SCI_ENDUNDOACTION);
    editor->SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(start),
                          long(start + long(bytes.size())));
}

void ReplaceAllBytes(QsciScintillaBase* editor, std::string_view bytes) {
    WritableFor writable(editor);
    editor->SendScintilla(Sci::SCI_BEGINUNDOACTION);
    editor->SendScintilla(Sci::SCI_CLEARALL);
    AppendRaw(editor, bytes);
    editor->SendScintilla(Sci::SCI_ENDUNDOACTION);
}

void GetSelectionBytes(QsciScintillaBase* editor, int64_t& start, int64_t& end) {
    start = editor->SendScintilla(Sci::SCI_GETSELECTIONSTART);
    end = editor->SendScintilla(Sci::SCI_GETSELECTIONEND);
}

void SetSelectionBytes(QsciScintillaBase* editor, int64_t start, int64_t end) {
    const int64_t length = editor->SendScintilla(Sci::SCI_GETLENGTH);
    start = std::clamp<int64_t>(start, 0, length);
    end = std::clamp<int64_t>(end, 0, length);
    editor->SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(start), long(end));
}

}  // namespace quarry
