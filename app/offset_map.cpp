#include "app/offset_map.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace quarry {
namespace {

constexpr int kChunk = 64 * 1024;

bool IsHighSurrogate(QChar c) {
    return c.unicode() >= 0xD800 && c.unicode() < 0xDC00;
}
bool IsLowSurrogate(QChar c) {
    return c.unicode() >= 0xDC00 && c.unicode() < 0xE000;
}

}  // namespace

QString DocumentRange(QTextDocument* document, int from, int to) {
    if (to <= from) {
        return {};
    }
    QTextCursor cursor(document);
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    return cursor.selectedText();
}

OffsetMap::OffsetMap(QTextDocument* document, const DocFormat* format, QObject* parent)
    : QObject(parent), document_(document), format_(format) {
    Reset();
    connect(document_, &QTextDocument::contentsChange, this, &OffsetMap::OnContentsChange);
}

void OffsetMap::Reset() {
    checkpoints_.assign(1, Checkpoint{0, 0});
    complete_ = false;
    totalBytes_ = 0;
}

int OffsetMap::EndPosition() const {
    return std::max(0, document_->characterCount() - 1);
}

void OffsetMap::OnContentsChange(int position, int /*removed*/, int /*added*/) {
    // Bytes before `position` are unchanged. The checkpoint at `position` itself
    // goes too, as the character before it may have been half of a pair.
    auto it = std::lower_bound(checkpoints_.begin() + 1, checkpoints_.end(), position,
                               [](const Checkpoint& cp, int pos) { return cp.pos < pos; });
    checkpoints_.erase(it, checkpoints_.end());
    complete_ = false;
}

void OffsetMap::Extend(int pos, int64_t byte) {
    const int end = EndPosition();
    if (complete_) {
        return;
    }
    // Far targets read the whole text at once: much cheaper per character than
    // many range reads, at the price of one copy of the text.
    const Checkpoint first = checkpoints_.back();
    const bool far = (pos != INT32_MAX && int64_t(std::min(pos, end)) - first.pos > kRawScan) ||
                     (byte != INT64_MAX && byte - first.byte > 2 * int64_t(kRawScan));
    const QString raw = far ? document_->toRawText() : QString();
    while (!complete_) {
        const Checkpoint last = checkpoints_.back();
        if (last.pos >= pos || last.byte > byte) {
            return;
        }
        int chunkEnd = std::min(end, last.pos + kChunk);
        QString rangeText;
        QStringView text;
        if (far) {
            text = QStringView(raw).mid(last.pos, chunkEnd - last.pos);
        } else {
            rangeText = DocumentRange(document_, last.pos, chunkEnd);
            text = rangeText;
        }
        // Never end a chunk between the halves of a pair.
        if (chunkEnd < end && !text.isEmpty() && IsHighSurrogate(text.back())) {
            text.chop(1);
            --chunkEnd;
        }
        int64_t bytes = last.byte;
        int sinceCheckpoint = 0;
        const qsizetype n = text.size();
        for (qsizetype i = 0; i < n; ++i) {
            if (sinceCheckpoint >= kSpacing && !IsLowSurrogate(text[i])) {
                checkpoints_.push_back(Checkpoint{last.pos + int(i), bytes});
                sinceCheckpoint = 0;
            }
            bytes += StreamByteCount(text, i, *format_);
            ++sinceCheckpoint;
        }
        if (chunkEnd >= end) {
            complete_ = true;
            totalBytes_ = bytes;
        } else {
            checkpoints_.push_back(Checkpoint{chunkEnd, bytes});
        }
    }
}

int64_t OffsetMap::ByteOffset(int pos) {
    const int end = EndPosition();
    pos = std::clamp(pos, 0, end);
    if (pos > 0 && pos < end && IsLowSurrogate(document_->characterAt(pos)) &&
        IsHighSurrogate(document_->characterAt(pos - 1))) {
        --pos;
    }
    Extend(pos, INT64_MAX);
    auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), pos,
                               [](int p, const Checkpoint& cp) { return p < cp.pos; });
    const Checkpoint& cp = *(it - 1);
    if (cp.pos == pos) {
        return cp.byte;
    }
    const QString text = DocumentRange(document_, cp.pos, pos);
    int64_t bytes = cp.byte;
    for (qsizetype i = 0; i < text.size(); ++i) {
        bytes += StreamByteCount(text, i, *format_);
    }
    return bytes;
}

int OffsetMap::PositionOf(int64_t byte) {
    if (byte <= 0) {
        return 0;
    }
    Extend(INT32_MAX, byte);
    auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), byte,
                               [](int64_t b, const Checkpoint& cp) { return b < cp.byte; });
    const Checkpoint& cp = *(it - 1);
    const int stop = it == checkpoints_.end() ? EndPosition() : it->pos;
    const QString text = DocumentRange(document_, cp.pos, stop);
    int64_t bytes = cp.byte;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int n = StreamByteCount(text, i, *format_);
        if (n == 0) {
            continue;  // low half of a pair, counted with its high half
        }
        if (bytes + n > byte) {
            return cp.pos + int(i);
        }
        bytes += n;
    }
    return stop;
}

int64_t OffsetMap::ByteLength() {
    Extend(INT32_MAX, INT64_MAX);
    return totalBytes_;
}

}  // namespace quarry
