#include "app/document_text.h"

#include <Qsci/qsciscintilla.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <string>

#include "search/text_buffer.h"

namespace quarry {
namespace {

using Sci = QsciScintillaBase;

QByteArray Bytes(std::string_view s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

std::string BytesOf(const DocumentText& doc) {
    std::string out;
    doc.AppendBytes(out);
    return out;
}

long Send(const DocumentText& doc, unsigned int message, unsigned long w = 0, long l = 0) {
    return doc.Buffer()->SendScintilla(message, w, l);
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
        "paragraph separator \xE2\x80\xA9 and \xE2\x90\x8D\n",
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
        EXPECT_EQ(doc.ByteLength(), bytes.size());
        EXPECT_FALSE(doc.IsModified());
        EXPECT_EQ(Send(doc, Sci::SCI_CANUNDO), 0);
    }
}

TEST(DocumentTextFile, EveryBreakIsALineInEveryStyle) {
    for (const char* bytes : {"a\nb\nc", "a\r\nb\r\nc", "a\rb\rc"}) {
        DocumentText doc;
        doc.LoadBytes(Bytes(bytes));
        EXPECT_EQ(Send(doc, Sci::SCI_GETLINECOUNT), 3) << bytes;
        EXPECT_EQ(BytesOf(doc), bytes);
    }
    // Mixed breaks: each one a line of its own, none shown as a symbol.
    DocumentText mixed;
    mixed.LoadBytes(Bytes("a\nb\r\nc\rd"));
    EXPECT_EQ(Send(mixed, Sci::SCI_GETLINECOUNT), 4);
    EXPECT_EQ(Send(mixed, Sci::SCI_POSITIONFROMLINE, 2), 5);
    EXPECT_EQ(Send(mixed, Sci::SCI_POSITIONFROMLINE, 3), 7);
}

TEST(DocumentTextFile, EncodingAndEnterFollowTheFile) {
    DocumentText doc;
    doc.LoadBytes(Bytes("a\r\nb\r\n"));
    EXPECT_EQ(Send(doc, Sci::SCI_GETCODEPAGE), Sci::SC_CP_UTF8);
    EXPECT_EQ(Send(doc, Sci::SCI_GETEOLMODE), Sci::SC_EOL_CRLF);
    Send(doc, Sci::SCI_DOCUMENTEND);
    Send(doc, Sci::SCI_NEWLINE);
    EXPECT_EQ(doc.SaveBytes(), "a\r\nb\r\n\r\n");
    doc.LoadBytes(Bytes("caf\xE9\r"));
    EXPECT_EQ(doc.Format().encoding, TextEncoding::Bytes8);
    EXPECT_EQ(Send(doc, Sci::SCI_GETCODEPAGE), 0);
    EXPECT_EQ(Send(doc, Sci::SCI_GETEOLMODE), Sci::SC_EOL_CR);
}

TEST(DocumentTextOffsets, SelectionsAndLinesAreByteOffsets) {
    DocumentText doc;
    doc.LoadBytes(Bytes("ab\r\n\xC3\xA4\xE2\x82\xAC\n"));
    QsciScintilla* editor = doc.Buffer();
    SetSelectionBytes(editor, 4, 9);  // ä and €
    int64_t s = 0;
    int64_t e = 0;
    GetSelectionBytes(editor, s, e);
    EXPECT_EQ(s, 4);
    EXPECT_EQ(e, 9);
    EXPECT_EQ(Send(doc, Sci::SCI_LINEFROMPOSITION, 3), 0);
    EXPECT_EQ(Send(doc, Sci::SCI_LINEFROMPOSITION, 4), 1);
    EXPECT_EQ(Send(doc, Sci::SCI_POSITIONFROMLINE, 2), 10);
    // Offsets past the text are clamped to its end.
    SetSelectionBytes(editor, -3, 100);
    GetSelectionBytes(editor, s, e);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 10);
}

TEST(DocumentTextStream, EmptyDocumentStreamsOutNothing) {
    DocumentText doc;
    TextBuffer buffer;
    buffer.Append("old", 3);
    EXPECT_EQ(doc.StreamOut(buffer), 0);
    EXPECT_EQ(buffer.length, 0);
    EXPECT_EQ(buffer.Data()[0], '\0');
}

// Fault: the search side saw every line break as CR LF, so «\n» found nothing
// in an LF file and offsets disagreed with quarry-cli's.
TEST(DocumentTextStream, StreamOutGivesTheFileBytes) {
    DocumentText doc;
    doc.LoadBytes(Bytes("k=1\nv=\xC3\xA4\r\nw\r"));
    TextBuffer buffer;
    EXPECT_EQ(doc.StreamOut(buffer), 12);
    EXPECT_EQ(std::string(buffer.Data(), size_t(buffer.length)), "k=1\nv=\xC3\xA4\r\nw\r");
}

TEST(DocumentTextStream, EveryByteReachesTheSearchSideUnchanged) {
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
    }
    DocumentText doc;
    doc.LoadBytes(all);
    ASSERT_EQ(doc.Format().encoding, TextEncoding::Bytes8);
    TextBuffer buffer;
    ASSERT_EQ(doc.StreamOut(buffer), 256);
    EXPECT_EQ(QByteArray(buffer.Data(), buffer.length), all);
    // And back in, reversed: the same bytes again, NULs included.
    std::string reversed(all.rbegin(), all.rend());
    doc.StreamIn(reversed);
    EXPECT_EQ(BytesOf(doc), reversed);
}

TEST(DocumentTextStream, StreamInReplacesAllAsOneUndoStep) {
    DocumentText doc;
    doc.LoadBytes(Bytes("first\nsecond\n"));
    doc.StreamIn(std::string_view("one\r\ntwo\nthree"));
    EXPECT_EQ(BytesOf(doc), "one\r\ntwo\nthree");
    EXPECT_TRUE(doc.IsModified());
    Send(doc, Sci::SCI_UNDO);
    EXPECT_EQ(doc.SaveBytes(), "first\nsecond\n");
    EXPECT_EQ(Send(doc, Sci::SCI_CANUNDO), 0);
    EXPECT_FALSE(doc.IsModified());
    Send(doc, Sci::SCI_REDO);
    EXPECT_EQ(BytesOf(doc), "one\r\ntwo\nthree");

    TextBuffer empty;
    doc.StreamIn(empty);
    EXPECT_EQ(doc.ByteLength(), 0);
}

TEST(DocumentTextStream, ReplaceSelectionSelectsWhatItInserted) {
    DocumentText doc;
    doc.LoadBytes(Bytes("key=1\nx\xC3\xA4y=2\n"));
    QsciScintilla* editor = doc.Buffer();
    SetSelectionBytes(editor, 9, 11);  // "y=" after the two-byte ä
    const std::string inserted("Z\n\0\xE2\x82\xAC", 6);
    ReplaceSelectionBytes(editor, inserted);
    int64_t s = 0;
    int64_t e = 0;
    GetSelectionBytes(editor, s, e);
    EXPECT_EQ(s, 9);
    EXPECT_EQ(e, 9 + 6);
    EXPECT_EQ(BytesOf(doc), std::string("key=1\nx\xC3\xA4Z\n\0\xE2\x82\xAC"
                                        "2\n",
                                        17));
    Send(doc, Sci::SCI_UNDO);
    EXPECT_EQ(doc.SaveBytes(), "key=1\nx\xC3\xA4y=2\n");
}

TEST(DocumentTextState, ReadOnlyStopsTypingButNotCommands) {
    DocumentText doc;
    doc.LoadBytes(Bytes("text"));
    doc.SetReadOnly(true);
    Send(doc, Sci::SCI_DOCUMENTEND);
    doc.Buffer()->SendScintilla(Sci::SCI_REPLACESEL, 0UL, "typed");
    EXPECT_EQ(BytesOf(doc), "text");
    ReplaceSelectionBytes(doc.Buffer(), "!");
    EXPECT_EQ(BytesOf(doc), "text!");
    ReplaceAllBytes(doc.Buffer(), "new");
    EXPECT_EQ(BytesOf(doc), "new");
    EXPECT_TRUE(doc.IsReadOnly());
    doc.SetReadOnly(false);
    doc.Buffer()->SendScintilla(Sci::SCI_REPLACESEL, 0UL, "typed");
    EXPECT_EQ(BytesOf(doc), "typednew");
}

TEST(DocumentTextState, ModifiedFlagFollowsTheSavePoint) {
    DocumentText doc;
    doc.LoadBytes(Bytes("a"));
    EXPECT_FALSE(doc.IsModified());
    ReplaceAllBytes(doc.Buffer(), "b");
    EXPECT_TRUE(doc.IsModified());
    doc.SetModified(false);
    EXPECT_FALSE(doc.IsModified());
    // A text never saved is marked by hand, and stays so until saved.
    doc.SetModified(true);
    EXPECT_TRUE(doc.IsModified());
    doc.SetModified(false);
    EXPECT_FALSE(doc.IsModified());
}

TEST(DocumentTextEncoding, EightBitDocumentTurnsUtf8RatherThanLoseACharacter) {
    DocumentText doc;
    doc.LoadBytes(Bytes("caf\xE9\n"));
    ASSERT_EQ(doc.Format().encoding, TextEncoding::Bytes8);
    QSignalSpy spy(&doc, &DocumentText::EncodingWidened);
    QsciScintilla* editor = doc.Buffer();
    // In the 8-bit map: stays 8-bit.
    EXPECT_EQ(doc.InputBytes(u"\u00E8\u20AC", editor), "\xE8\x80");
    EXPECT_EQ(spy.count(), 0);
    SetSelectionBytes(editor, 4, 4);  // after é
    const std::string bytes = doc.InputBytes(u"\u4E2D", editor);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<QChar>(), QChar(u'\u4E2D'));
    EXPECT_EQ(doc.Format().encoding, TextEncoding::Utf8);
    EXPECT_EQ(bytes, "\xE4\xB8\xAD");
    EXPECT_EQ(doc.SaveBytes(), "caf\xC3\xA9\n");
    EXPECT_EQ(Send(doc, Sci::SCI_GETCODEPAGE), Sci::SC_CP_UTF8);
    EXPECT_TRUE(doc.IsModified());
    // The caret stays after é, now two bytes long.
    int64_t s = 0;
    int64_t e = 0;
    GetSelectionBytes(editor, s, e);
    EXPECT_EQ(s, 5);
    EXPECT_EQ(e, 5);
}

// Fault: the widening dropped the undo history and kept the re-encoded bytes,
// so undoing the paste left every non-ASCII byte of a Latin-1 file saved as
// UTF-8. Undo must give back the file's bytes, its encoding and its unmodified
// state; Redo the edit again.
TEST(DocumentTextEncoding, UndoOfAWideningEditGivesBackTheFileBytesAndEncoding) {
    const std::string original = "caf\xE9\n";
    DocumentText doc;
    doc.LoadBytes(Bytes(original));
    QsciScintilla* editor = doc.Buffer();
    SetSelectionBytes(editor, 5, 5);
    ReplaceSelectionBytes(editor, doc.InputBytes(u"\u6F22\u5B57", editor));
    QCoreApplication::processEvents();
    const std::string widened = "caf\xC3\xA9\n\xE6\xBC\xA2\xE5\xAD\x97";
    ASSERT_EQ(BytesOf(doc), widened);
    ASSERT_EQ(doc.Format().encoding, TextEncoding::Utf8);

    Send(doc, Sci::SCI_UNDO);
    EXPECT_EQ(BytesOf(doc), original);
    EXPECT_EQ(doc.Format().encoding, TextEncoding::Bytes8);
    EXPECT_EQ(Send(doc, Sci::SCI_GETCODEPAGE), 0);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.SaveBytes(), Bytes(original));

    Send(doc, Sci::SCI_REDO);
    EXPECT_EQ(BytesOf(doc), widened);
    EXPECT_EQ(doc.Format().encoding, TextEncoding::Utf8);
    EXPECT_EQ(Send(doc, Sci::SCI_GETCODEPAGE), Sci::SC_CP_UTF8);
    EXPECT_TRUE(doc.IsModified());

    // Edits after the widening undo one by one, the widening last.
    SetSelectionBytes(editor, 0, 0);
    ReplaceSelectionBytes(editor, doc.InputBytes(u"x", editor));
    Send(doc, Sci::SCI_UNDO);
    EXPECT_EQ(BytesOf(doc), widened);
    Send(doc, Sci::SCI_UNDO);
    EXPECT_EQ(BytesOf(doc), original);
    EXPECT_EQ(doc.Format().encoding, TextEncoding::Bytes8);
}

// A result taken back out by Cancel must leave no trace a user could bring
// back: a Redo restoring half a result would pass a partial one for whole.
TEST(DocumentTextState, ResultTakenBackOutLeavesTextStateAndRedoAsBefore) {
    DocumentText doc;
    doc.LoadBytes(Bytes("old text\n"));
    doc.BeginReplacement(9);
    doc.AppendReplacement("new ");
    doc.EndReplacement(false);
    EXPECT_EQ(BytesOf(doc), "old text\n");
    EXPECT_FALSE(doc.IsModified());
    Send(doc, Sci::SCI_REDO);
    EXPECT_EQ(BytesOf(doc), "old text\n");

    doc.SetReadOnly(true);  // as while a command runs
    doc.BeginReplacement(9);
    doc.AppendReplacement("new ");
    doc.AppendReplacement("text\n");
    doc.EndReplacement(true);
    EXPECT_EQ(BytesOf(doc), "new text\n");
    EXPECT_TRUE(doc.IsReadOnly());
    EXPECT_TRUE(doc.IsModified());
    doc.SetReadOnly(false);
    Send(doc, Sci::SCI_UNDO);  // the whole result is one step
    EXPECT_EQ(BytesOf(doc), "old text\n");
}

// The old text goes in several pieces and one of its bytes stays until the
// result is in (the whole text deleted would give Scintilla's storage back):
// the result's bytes, NULs too, and Undo and Redo are exact.
TEST(DocumentTextState, AResultReplacingABigTextIsExactAndOneStep) {
    QByteArray old(20 << 20, '\0');
    for (qsizetype i = 0; i < old.size(); ++i) {
        old[i] = char(i * 7 % 251);
    }
    std::string result(12 << 20, '\0');
    for (size_t i = 0; i < result.size(); ++i) {
        result[i] = char(i * 13 % 241);
    }
    DocumentText doc;
    doc.LoadBytes(old);
    doc.BeginReplacement(int64_t(result.size()));
    int steps = 0;
    while (doc.ClearReplacementStep()) {
        ++steps;
    }
    EXPECT_GE(steps, 2);
    for (size_t done = 0; done < result.size(); done += 3 << 20) {
        doc.AppendReplacement(std::string_view(result).substr(done, 3 << 20));
    }
    doc.EndReplacement(true);
    EXPECT_TRUE(BytesOf(doc) == result);
    Send(doc, Sci::SCI_UNDO);
    EXPECT_TRUE(doc.SaveBytes() == old);
    EXPECT_FALSE(doc.IsModified());
    Send(doc, Sci::SCI_REDO);
    EXPECT_TRUE(BytesOf(doc) == result);
}

// A result put into a new document is its starting text, as a file's bytes
// are: no undo step (it would hold a second copy of the result, a third of
// the memory of a List Matchings as large as its text), modified until saved.
TEST(DocumentTextState, AResultInANewDocumentIsItsStartingTextAndModified) {
    DocumentText doc;
    doc.BeginReplacement(9, {}, false);
    doc.AppendReplacement(std::string_view("new\0", 4));
    doc.AppendReplacement("text\n");
    doc.EndReplacement(true);
    EXPECT_EQ(BytesOf(doc), std::string("new\0text\n", 9));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_FALSE(doc.Buffer()->isUndoAvailable());
    // Edits after it undo back to it, not further.
    Send(doc, Sci::SCI_SETSEL, 0, 0);
    Send(doc, Sci::SCI_REPLACESEL, 0, reinterpret_cast<long>("typed "));
    Send(doc, Sci::SCI_UNDO);
    EXPECT_EQ(BytesOf(doc), std::string("new\0text\n", 9));
    EXPECT_TRUE(doc.IsModified());

    DocumentText cancelled;
    cancelled.BeginReplacement(9, {}, false);
    cancelled.AppendReplacement("new ");
    cancelled.EndReplacement(false);
    EXPECT_EQ(BytesOf(cancelled), "");
    EXPECT_FALSE(cancelled.IsModified());
    EXPECT_FALSE(cancelled.Buffer()->isUndoAvailable());
}

// Fault: QScintilla's accessible for an editor counted the characters from
// the text's start to the caret on every repaint, and its insertion events
// counted them to every change: a second per keystroke and per result piece
// at the end of a 100 MB text. With no assistive technology listening, an
// editor's accessible is the plain widget's and no insertion is told after
// the fact; changes are still told, once per turn of the event loop.
TEST(DocumentTextState, ChangesAreToldWithoutCountingTheText) {
    DocumentText doc;
    QsciScintilla view;
    doc.AttachView(&view);
    ASSERT_FALSE(QAccessible::isActive());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->textInterface(), nullptr);

    QSignalSpy about(&doc, &DocumentText::AboutToChange);
    QSignalSpy changed(&doc, &DocumentText::Changed);
    ReplaceSelectionBytes(&view, "one");
    ReplaceSelectionBytes(doc.Buffer(), "two");
    EXPECT_EQ(about.count(), 2);
    EXPECT_EQ(changed.count(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(view.SendScintilla(Sci::SCI_GETMODEVENTMASK) & Sci::SC_MOD_INSERTTEXT, 0);
    DocumentText::DetachView(&view);
}

// Fault: a text was loaded into storage with no room left over, so the
// first character typed anywhere made Scintilla copy the whole text into new
// storage (105 ms on a 100 MB text).
TEST(DocumentTextState, TheFirstEditAfterALoadKeepsTheStorage) {
    DocumentText doc;
    doc.LoadBytes(QByteArray(1 << 20, 'x'));
    const long before = Send(doc, Sci::SCI_GETCHARACTERPOINTER);
    Send(doc, Sci::SCI_SETSEL, 0, 0);
    Send(doc, Sci::SCI_REPLACESEL, 0, reinterpret_cast<long>("typed"));
    EXPECT_EQ(Send(doc, Sci::SCI_GETCHARACTERPOINTER), before);
    EXPECT_EQ(Send(doc, Sci::SCI_GETLENGTH), (1 << 20) + 5);
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
