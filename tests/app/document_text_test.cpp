#include "app/document_text.h"

#include <QSignalSpy>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "search/text_buffer.h"

namespace quarry {
namespace {

QByteArray Bytes(std::string_view s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

std::string StreamOf(DocumentText& doc) {
    std::string out;
    doc.AppendStream(out);
    return out;
}

TEST(DocumentTextFile, OpenAndSaveWithoutEditIsLossless) {
    std::vector<QByteArray> files = {
        "lf\nlines\n",
        "crlf\r\nlines\r\n\r\n",
        "cr\rlines\r",
        "mixed\r\nlf\nlone cr\rend",
        "utf8 \xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\n",
        "8-bit caf\xE9 \x81\x9D\xA0 nbsp\n",
        QByteArray("nul\0bytes\0\r\n", 12),
        "\xEF\xBB\xBF"
        "bom\r\n",
        "",
    };
    QByteArray all;
    for (int round = 0; round < 2; ++round) {
        for (int b = 0; b < 256; ++b) {
            all.append(char(b));
        }
    }
    files.push_back(all);
    for (const QByteArray& bytes : files) {
        DocumentText doc;
        doc.LoadBytes(bytes);
        EXPECT_EQ(doc.SaveBytes(), bytes) << bytes.toStdString();
        EXPECT_FALSE(doc.Document()->isModified());
    }
}

TEST(DocumentTextFile, LinesShownAsParagraphsInEveryStyle) {
    for (const char* bytes : {"a\nb\nc", "a\r\nb\r\nc", "a\rb\rc"}) {
        DocumentText doc;
        doc.LoadBytes(Bytes(bytes));
        EXPECT_EQ(doc.Document()->blockCount(), 3) << bytes;
        EXPECT_EQ(StreamOf(doc), "a\r\nb\r\nc");
    }
}

TEST(DocumentTextOffsets, CrLfCountsTwoAndSnapsToLineEnd) {
    DocumentText doc;
    doc.LoadBytes(Bytes("ab\ncd\n"));
    // Positions: a0 b1 |2 c3 d4 |5 end6. Bytes: a0 b1 CR2 LF3 c4 d5 CR6 LF7 end8.
    EXPECT_EQ(doc.ByteOffset(2), 2);
    EXPECT_EQ(doc.ByteOffset(3), 4);
    EXPECT_EQ(doc.ByteOffset(6), 8);
    EXPECT_EQ(doc.ByteLength(), 8);
    EXPECT_EQ(doc.PositionOf(2), 2);
    EXPECT_EQ(doc.PositionOf(3), 2);  // between CR and LF: the line end
    EXPECT_EQ(doc.PositionOf(4), 3);
    EXPECT_EQ(doc.PositionOf(8), 6);
    EXPECT_EQ(doc.PositionOf(100), 6);
    EXPECT_EQ(doc.PositionOf(-5), 0);
    EXPECT_EQ(doc.LineFromByte(3), 0);
    EXPECT_EQ(doc.LineFromByte(4), 1);
    EXPECT_EQ(doc.LineStartByte(1), 4);
    EXPECT_EQ(doc.LineStartByte(2), 8);
    EXPECT_EQ(doc.LineStartByte(3), -1);
}

TEST(DocumentTextOffsets, MultiByteCharactersSnapToTheirStart) {
    DocumentText doc;
    doc.LoadBytes(Bytes("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80x"));
    // ä = 2 bytes, € = 3, U+1F600 = 4 bytes and two positions.
    EXPECT_EQ(doc.ByteOffset(1), 2);
    EXPECT_EQ(doc.ByteOffset(2), 5);
    EXPECT_EQ(doc.ByteOffset(3), 5);  // inside the pair: its start
    EXPECT_EQ(doc.ByteOffset(4), 9);
    EXPECT_EQ(doc.PositionOf(1), 0);
    EXPECT_EQ(doc.PositionOf(3), 1);
    EXPECT_EQ(doc.PositionOf(4), 1);
    EXPECT_EQ(doc.PositionOf(5), 2);
    EXPECT_EQ(doc.PositionOf(8), 2);
    EXPECT_EQ(doc.PositionOf(9), 4);
    EXPECT_EQ(doc.PositionOf(10), 5);

    DocumentText latin;
    latin.LoadBytes(Bytes("\xE9\xE9\n\xE9"));  // one byte each in the 8-bit map
    EXPECT_EQ(latin.Format().encoding, TextEncoding::Bytes8);
    EXPECT_EQ(latin.ByteOffset(4), 5);
    EXPECT_EQ(latin.PositionOf(5), 4);
}

// Brute force: offset of each position from the stream form of the prefix.
void ExpectMapMatchesStream(DocumentText& doc) {
    const QString raw = doc.Document()->toRawText();
    int64_t bytes = 0;
    for (qsizetype i = 0; i <= raw.size(); ++i) {
        const bool lowHalf = i > 0 && i < raw.size() && raw[i].isLowSurrogate();
        if (!lowHalf) {
            ASSERT_EQ(doc.ByteOffset(int(i)), bytes) << "position " << i;
            ASSERT_EQ(doc.PositionOf(bytes), int(i)) << "byte " << bytes;
        }
        if (i < raw.size()) {
            bytes += StreamByteCount(raw, i, doc.Format());
        }
    }
}

TEST(DocumentTextOffsets, StayExactAcrossCheckpointsAndEdits) {
    DocumentText doc;
    std::string file;
    std::mt19937 rng(7);
    const char* pieces[] = {"abc", "\n", "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", " "};
    while (file.size() < size_t(OffsetMap::kSpacing) * 6) {
        file += pieces[rng() % 6];
    }
    doc.LoadBytes(Bytes(file));
    ExpectMapMatchesStream(doc);
    // Edits near the start, the middle and the end drop only later checkpoints;
    // every lookup afterwards must still agree with the text.
    QTextCursor cursor(doc.Document());
    for (int round = 0; round < 6; ++round) {
        const int end = doc.Document()->characterCount() - 1;
        int pos = int(rng() % uint32_t(end));
        if (QChar c = doc.Document()->characterAt(pos); c.isLowSurrogate()) {
            --pos;
        }
        cursor.setPosition(pos);
        if (round % 2 == 0) {
            cursor.insertText(QString::fromUtf16(u"\u00FCber\n\U0001F600"));
        } else {
            cursor.setPosition(std::min(end, pos + 700), QTextCursor::KeepAnchor);
            if (cursor.selectedText().back().isHighSurrogate()) {
                cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
            }
            cursor.removeSelectedText();
        }
        ExpectMapMatchesStream(doc);
    }
}

TEST(DocumentTextOffsets, FarLookupsReadingTheWholeTextAgree) {
    std::string file;
    std::mt19937 rng(11);
    const char* pieces[] = {"key=value", "\n", "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    while (file.size() < size_t(OffsetMap::kRawScan) * 2) {
        file += pieces[rng() % 5];
    }
    DocumentText doc;
    doc.LoadBytes(Bytes(file));
    for (int round = 0; round < 2; ++round) {
        const QString raw = doc.Document()->toRawText();
        // The first lookup goes to the far end, then samples everywhere.
        const int end = int(raw.size());
        std::string stream;
        doc.AppendStream(stream);
        ASSERT_EQ(doc.ByteOffset(end), int64_t(stream.size()));
        ASSERT_EQ(doc.PositionOf(int64_t(stream.size())), end);
        int64_t bytes = 0;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (i % 997 == 0 && !raw[i].isLowSurrogate()) {
                ASSERT_EQ(doc.ByteOffset(int(i)), bytes) << i;
                ASSERT_EQ(doc.PositionOf(bytes), int(i)) << bytes;
            }
            bytes += StreamByteCount(raw, i, doc.Format());
        }
        // An edit at the start drops every checkpoint behind it.
        QTextCursor cursor(doc.Document());
        cursor.insertText(QString::fromUtf16(u"\u00FC\n"));
    }
}

TEST(DocumentTextStream, EmptyDocumentStreamsOutNothing) {
    DocumentText doc;
    TextBuffer buffer;
    buffer.Append("old", 3);
    EXPECT_EQ(doc.StreamOut(buffer), 0);
    EXPECT_EQ(buffer.length, 0);
    EXPECT_EQ(buffer.Data()[0], '\0');
}

TEST(DocumentTextStream, StreamOutGivesCrLfText) {
    DocumentText doc;
    doc.LoadBytes(Bytes("k=1\nv=\xC3\xA4\n"));
    TextBuffer buffer;
    EXPECT_EQ(doc.StreamOut(buffer), 11);
    EXPECT_EQ(std::string(buffer.Data(), size_t(buffer.length)), "k=1\r\nv=\xC3\xA4\r\n");
}

TEST(DocumentTextStream, EveryByteReachesTheSearchSideUnchanged) {
    // No-break space, NUL and the other controls must leave the editor as the
    // same bytes; only the line break becomes CR LF.
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r') {
            all.append(char(b));
        }
    }
    DocumentText doc;
    doc.LoadBytes(all);
    ASSERT_EQ(doc.Format().encoding, TextEncoding::Bytes8);
    std::string expected(all.constData(), size_t(all.size()));
    expected.replace(expected.find('\n'), 1, "\r\n");
    EXPECT_EQ(StreamOf(doc), expected);
    EXPECT_EQ(doc.ByteLength(), int64_t(expected.size()));
    // And back in: the same text again.
    doc.StreamIn(expected);
    EXPECT_EQ(doc.SaveBytes(), all);
}

TEST(DocumentTextStream, StreamInReplacesAllAsOneUndoStep) {
    DocumentText doc;
    doc.LoadBytes(Bytes("first\nsecond\n"));
    doc.StreamIn(std::string_view("one\r\ntwo\r\nthree"));
    EXPECT_EQ(doc.Document()->toPlainText(), "one\ntwo\nthree");
    EXPECT_TRUE(doc.Document()->isModified());
    doc.Document()->undo();
    EXPECT_EQ(doc.SaveBytes(), "first\nsecond\n");
    EXPECT_FALSE(doc.Document()->isUndoAvailable());

    TextBuffer empty;
    doc.StreamIn(empty);
    EXPECT_TRUE(doc.Document()->isEmpty());
}

TEST(DocumentTextStream, ReplaceSelectionSelectsWhatItInserted) {
    DocumentText doc;
    doc.LoadBytes(Bytes("key=1\nx\xC3\xA4y=2\n"));
    QTextCursor cursor(doc.Document());
    doc.SetSelection(cursor, 10, 12);  // "y=" after the two-byte ä
    EXPECT_EQ(cursor.selectedText(), "y=");
    doc.ReplaceSelection(cursor, "Z\r\n\xE2\x82\xAC");
    int64_t s = 0;
    int64_t e = 0;
    doc.GetSelection(cursor, s, e);
    EXPECT_EQ(s, 10);
    EXPECT_EQ(e, 10 + 6);
    EXPECT_EQ(cursor.selectedText(), QString::fromUtf16(u"Z\u2029\u20AC"));
    EXPECT_EQ(doc.SaveBytes(),
              "key=1\nx\xC3\xA4Z\n\xE2\x82\xAC"
              "2\n");
    doc.Document()->undo();
    EXPECT_EQ(doc.SaveBytes(), "key=1\nx\xC3\xA4y=2\n");

    // A lone LF from a rewrite is a line break, and it is selected too.
    QTextCursor caret(doc.Document());
    doc.SetSelection(caret, 0, 0);
    doc.ReplaceSelection(caret, "a\nb");
    doc.GetSelection(caret, s, e);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 4);
    EXPECT_EQ(doc.Document()->blockCount(), 4);
}

TEST(DocumentTextEncoding, EightBitDocumentTurnsUtf8RatherThanLoseACharacter) {
    DocumentText doc;
    doc.LoadBytes(Bytes("caf\xE9\n"));
    ASSERT_EQ(doc.Format().encoding, TextEncoding::Bytes8);
    QSignalSpy spy(&doc, &DocumentText::EncodingWidened);
    QTextCursor cursor(doc.Document());
    cursor.insertText(QString::fromUtf16(u"\u00E8"));  // in the 8-bit map: stays 8-bit
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(doc.SaveBytes(),
              "\xE8"
              "caf\xE9\n");
    cursor.insertText(QString::fromUtf16(u"\u4E2D"));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<QChar>(), QChar(u'\u4E2D'));
    EXPECT_EQ(doc.Format().encoding, TextEncoding::Utf8);
    EXPECT_EQ(doc.SaveBytes(),
              "\xC3\xA8\xE4\xB8\xAD"
              "caf\xC3\xA9\n");
    EXPECT_EQ(doc.ByteOffset(2), 5);  // offsets follow the new encoding
}

TEST(DocumentTextEncoding, ExpressionsBecomeBytesOfTheDocument) {
    DocumentText doc;
    EXPECT_EQ(doc.ToDocumentBytes(u"\u00E9+"), std::optional<std::string>("\xC3\xA9+"));
    doc.LoadBytes(Bytes("\xE9"));
    EXPECT_EQ(doc.ToDocumentBytes(u"\u00E9+"), std::optional<std::string>("\xE9+"));
    EXPECT_EQ(doc.ToDocumentBytes(u"\u4E2D"), std::nullopt);
}

}  // namespace
}  // namespace quarry
