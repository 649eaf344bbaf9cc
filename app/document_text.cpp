#include "app/document_text.h"

#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

#include "search/text_buffer.h"

namespace quarry {
namespace {

constexpr int kStreamChunk = 64 * 1024;

}  // namespace

DocumentText::DocumentText(QObject* parent)
    : QObject(parent), document_(new QTextDocument(this)), map_(document_, &format_, this) {
    document_->setDocumentLayout(new QPlainTextDocumentLayout(document_));
    connect(document_, &QTextDocument::contentsChange, this, &DocumentText::OnContentsChange);
}

void DocumentText::SetFormat(const DocFormat& format) {
    format_ = format;
    map_.Reset();
}

void DocumentText::LoadBytes(QByteArrayView bytes) {
    format_ = DetectFormat(bytes);
    map_.Reset();
    document_->setPlainText(DecodeFile(bytes, format_));
    document_->setModified(false);
}

QByteArray DocumentText::SaveBytes() const {
    return EncodeFile(document_->toRawText(), format_);
}

void DocumentText::AppendStream(std::string& out) const {
    // One read of the whole text: far cheaper than reading it in ranges.
    EncodeStreamAppend(document_->toRawText(), format_, out);
}

int32_t DocumentText::StreamOut(TextBuffer& buffer) const {
    // Room for the text with CR LF breaks and some multi-byte characters.
    const int64_t estimate = int64_t(document_->characterCount()) + document_->blockCount();
    buffer.Reserve(int32_t(std::min<int64_t>(estimate * 12 / 10, INT32_MAX - 2)));
    buffer.length = 0;
    if (buffer.data != nullptr) {
        buffer.data[0] = 0;
    }
    std::string bytes;
    bytes.reserve(size_t(estimate));
    AppendStream(bytes);
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
    const QString text =
        DecodeStream(QByteArrayView(bytes.data(), qsizetype(bytes.size())), format_);
    QTextCursor cursor(document_);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    if (text.isEmpty()) {
        cursor.removeSelectedText();
    } else {
        cursor.insertText(text);
    }
    cursor.endEditBlock();
}

void DocumentText::ReplaceSelection(QTextCursor& cursor, std::string_view bytes) {
    const QString text =
        DecodeStream(QByteArrayView(bytes.data(), qsizetype(bytes.size())), format_);
    const int start = cursor.selectionStart();
    cursor.beginEditBlock();
    if (text.isEmpty()) {
        cursor.removeSelectedText();
    } else {
        cursor.insertText(text);
    }
    cursor.endEditBlock();
    // Select exactly what went in: a lone LF from a rewrite became one line
    // break here, so the byte length of `bytes` would miss the end.
    cursor.setPosition(start);
    cursor.setPosition(start + int(text.size()), QTextCursor::KeepAnchor);
}

void DocumentText::GetSelection(const QTextCursor& cursor, int64_t& start, int64_t& end) {
    start = map_.ByteOffset(cursor.selectionStart());
    end = map_.ByteOffset(cursor.selectionEnd());
}

void DocumentText::SetSelection(QTextCursor& cursor, int64_t start, int64_t end) {
    cursor.setPosition(map_.PositionOf(start));
    cursor.setPosition(map_.PositionOf(end), QTextCursor::KeepAnchor);
}

int DocumentText::LineFromByte(int64_t byte) {
    return document_->findBlock(map_.PositionOf(byte)).blockNumber();
}

int64_t DocumentText::LineStartByte(int line) {
    const QTextBlock block = document_->findBlockByNumber(line);
    if (!block.isValid()) {
        return -1;
    }
    return map_.ByteOffset(block.position());
}

std::optional<std::string> DocumentText::ToDocumentBytes(QStringView text) const {
    if (FirstUnencodable(text, format_) >= 0) {
        return std::nullopt;
    }
    return EncodeStream(text, format_);
}

void DocumentText::OnContentsChange(int position, int /*removed*/, int added) {
    if (format_.encoding != TextEncoding::Bytes8 || added <= 0) {
        return;
    }
    const int end = document_->characterCount() - 1;
    const QString inserted =
        DocumentRange(document_, std::min(position, end), std::min(position + added, end));
    const qsizetype bad = FirstUnencodable(inserted, format_);
    if (bad < 0) {
        return;
    }
    // Keep the character: the document becomes UTF-8 rather than lose it on save.
    format_.encoding = TextEncoding::Utf8;
    map_.Reset();
    emit EncodingWidened(inserted[bad]);
}

}  // namespace quarry
