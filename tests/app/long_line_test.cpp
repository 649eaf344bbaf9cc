#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/document_text.h"
#include "app/editor_transfer.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/command_ids.h"
#include "tests/app/save_support.h"

namespace quarry {
namespace {

using Sci = QsciScintillaBase;

class ShellLongLines : public ::testing::Test {
  protected:
    void SetUp() override {
        SearchDialog() = SearchDialogLink{};
        QSettings(ProfilePath(), QSettings::IniFormat).clear();
    }
    void TearDown() override {
        if (app) {
            for (CQuarryDoc* doc : app->Documents()) {
                doc->SetModifiedFlag(false);
            }
        }
        app.reset();
        CQuarryView::lineEndsVisible = false;
    }
    void Start(const QStringList& args = {}) {
        app = std::make_unique<CQuarryApp>();
        ASSERT_TRUE(app->InitInstance(args));
        frame = app->MainWnd();
    }
    // Opens a file of these bytes.
    void StartWith(const QByteArray& bytes) {
        path = dir.filePath("long.txt");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
        file.close();
        Start({path});
    }
    CQuarryView* Active() const { return frame->ActiveView(); }
    static QByteArray BytesOf(CQuarryView* view) { return view->GetDocument()->Text().SaveBytes(); }
    // What the view shows, display breaks included.
    static QByteArray Shown(CQuarryView* view) {
        const long length = view->SendScintilla(Sci::SCI_GETLENGTH);
        const auto* data =
            static_cast<const char*>(view->SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
        return QByteArray(data, length);
    }
    static QByteArray ShownSelection(CQuarryView* view) {
        const long start = view->SendScintilla(Sci::SCI_GETSELECTIONSTART);
        const long end = view->SendScintilla(Sci::SCI_GETSELECTIONEND);
        return Shown(view).mid(start, end - start);
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<CQuarryApp> app;
    CMainFrame* frame = nullptr;
};

// A CR LF text whose second line is over the limit and made of two-byte
// characters after one ASCII byte, so that a cut every kDisplayLineBytes
// bytes would fall inside a character; a four-byte one sits near the end.
QByteArray LongLineText() {
    QByteArray line = "a";
    while (line.size() < kLongLineBytes + 1000) {
        line += "\xC3\xA9";
    }
    line += "\xF0\x9F\x98\x80z";
    return "head\r\n" + line + "\r\ntail\r\n";
}

TEST(ShellLongLineCuts, CutsEveryLimitBytesOfLongerLinesOnly) {
    std::vector<int64_t> cuts;
    EXPECT_EQ(CutLongLines("abcdefgh\r\nab\rabcd", 3, false, cuts), "abc\ndef\ngh\r\nab\rabc\nd");
    EXPECT_EQ(cuts, (std::vector<int64_t>{3, 6, 16}));
}

// Fault guarded: a cut between a UTF-8 lead byte and its continuation bytes
// shows two broken characters instead of one.
TEST(ShellLongLineCuts, ACutNeverSplitsAUtf8Character) {
    std::vector<int64_t> cuts;
    // "a" then U+00E9 U+1F600: cuts at 4 would fall inside both.
    EXPECT_EQ(CutLongLines("a\xC3\xA9\xF0\x9F\x98\x80"
                           "bcd",
                           4, true, cuts),
              "a\xC3\xA9\n\xF0\x9F\x98\x80\nbcd");
    EXPECT_EQ(cuts, (std::vector<int64_t>{3, 7}));
    // Bytes that are no character are cut where the limit falls.
    EXPECT_EQ(CutLongLines("\x80\x80\x80\x80\x80\x80", 4, true, cuts),
              "\x80\x80\x80\x80\n\x80\x80");
}

TEST(ShellLongLineCuts, CrAloneEndsALine) {
    EXPECT_FALSE(HasLineLongerThan("abc\rdef\nghi", 3));
    EXPECT_TRUE(HasLineLongerThan("abc\rdefg\nghi", 3));
    EXPECT_TRUE(HasLineLongerThan("ab\nabcd", 3));
    EXPECT_FALSE(HasLineLongerThan("", 0));
}

TEST_F(ShellLongLines, ShownCutAndReadOnlyWithANoticeAndSavedByteForByte) {
    const QByteArray bytes = LongLineText();
    StartWith(bytes);
    CQuarryView* view = Active();
    ASSERT_TRUE(view->ShowsLongLines());
    EXPECT_TRUE(view->isReadOnly());
    auto* notice = view->findChild<QLabel*>(QStringLiteral("longLineNotice"));
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisibleTo(view));
    EXPECT_TRUE(notice->text().contains(QStringLiteral("Read-only")));
    // Every display line of the long line is short and starts on a character.
    const QByteArray shown = Shown(view);
    EXPECT_GT(shown.size(), bytes.size());
    const long lines = view->SendScintilla(Sci::SCI_GETLINECOUNT);
    for (long line = 0; line < lines; ++line) {
        const long start =
            view->SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
        EXPECT_LE(view->SendScintilla(Sci::SCI_LINELENGTH, static_cast<unsigned long>(line)),
                  long(kDisplayLineBytes) + 2);
        ASSERT_NE(static_cast<unsigned char>(shown.at(start)) & 0xC0, 0x80) << "line " << line;
    }
    // A display line that continues a line of the bytes is marked as such.
    const auto marked = [view](unsigned long line) {
        return (view->SendScintilla(Sci::SCI_MARKERGET, line) & (1 << 1)) != 0;
    };
    EXPECT_FALSE(marked(0));
    EXPECT_FALSE(marked(1));
    EXPECT_TRUE(marked(2));
    // The last piece of the long line, then "tail" and the empty last line.
    EXPECT_TRUE(marked(static_cast<unsigned long>(lines - 3)));
    EXPECT_FALSE(marked(static_cast<unsigned long>(lines - 2)));
    EXPECT_GT(view->SendScintilla(Sci::SCI_GETMARGINWIDTHN, 1UL), 0);
    // The bytes, not the copy, are saved.
    EXPECT_EQ(SaveAndReadBack(frame, app->Documents().front(), path), bytes);
}

// Fault guarded: a search selecting its matching by byte offsets in a view
// whose text has display breaks selects bytes shifted by the breaks before it.
TEST_F(ShellLongLines, SelectingBytesSelectsTheSameBytesOnScreenAndBack) {
    const QByteArray bytes = LongLineText();
    StartWith(bytes);
    CQuarryView* view = Active();
    ASSERT_TRUE(view->ShowsLongLines());
    const int64_t lineStart = 6;
    const int64_t cut = lineStart + 511;  // the first cut, moved back onto a character
    const int64_t emoji = bytes.indexOf("\xF0\x9F\x98\x80");
    const std::vector<std::pair<int64_t, int64_t>> ranges = {{0, 3},
                                                             {2, 40},
                                                             {cut - 3, cut + 5},
                                                             {cut, cut + 2},
                                                             {cut - 2, cut},
                                                             {cut, cut},
                                                             {300000, 300999},
                                                             {emoji - 1, emoji + 5},
                                                             {0, bytes.size()},
                                                             {bytes.size(), bytes.size()}};
    for (const auto& [start, end] : ranges) {
        view->SetSel(start, end);
        int64_t gotStart = -1;
        int64_t gotEnd = -1;
        view->GetSel(gotStart, gotEnd);
        EXPECT_EQ(gotStart, start);
        EXPECT_EQ(gotEnd, end);
        const QByteArray expected = bytes.mid(start, end - start);
        EXPECT_EQ(view->SelectedBytes(), expected) << start << ".." << end;
        // What is marked on screen is those bytes with display breaks between.
        QByteArray marked = ShownSelection(view);
        marked.replace("\n", "");
        QByteArray expectedNoLf = expected;
        expectedNoLf.replace("\n", "");
        EXPECT_EQ(marked, expectedNoLf) << start << ".." << end;
    }
    // The other way: a selection made on screen (a mouse drag) is read as
    // the bytes under it.
    // Both ends on a character's first byte, three display breaks between.
    const QByteArray shown = Shown(view);
    const auto onCharacter = [&shown](long at) {
        while ((static_cast<unsigned char>(shown.at(at)) & 0xC0) == 0x80) {
            ++at;
        }
        return at;
    };
    const long from = onCharacter(view->SendScintilla(Sci::SCI_POSITIONFROMLINE, 3UL) - 9);
    const long to = onCharacter(view->SendScintilla(Sci::SCI_POSITIONFROMLINE, 6UL) + 1);
    view->SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(from), long(to));
    int64_t start = 0;
    int64_t end = 0;
    view->GetSel(start, end);
    QByteArray onScreen = shown.mid(from, to - from);
    onScreen.replace("\n", "");
    EXPECT_EQ(bytes.mid(start, end - start), onScreen);
    // Copy gives the bytes, without the display breaks.
    frame->Command(ID_EDIT_COPY)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toUtf8(), onScreen);
}

// Fault guarded: typing, pasting, cutting or deleting in the cut copy would
// change what is shown but not the bytes, or put display breaks into them.
TEST_F(ShellLongLines, EditsAreRefusedWhileShownCut) {
    const QByteArray bytes = LongLineText();
    StartWith(bytes);
    CQuarryView* view = Active();
    ASSERT_TRUE(view->ShowsLongLines());
    view->SetSel(100, 2000);
    QTest::keyClicks(view, "xyz");
    QTest::keyClick(view, Qt::Key_Delete);
    QTest::keyClick(view, Qt::Key_Backspace);
    QTest::keyClick(view, Qt::Key_Return);
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    EXPECT_FALSE(frame->Command(ID_EDIT_PASTE)->isEnabled());
    EXPECT_FALSE(frame->Command(ID_EDIT_CUT)->isEnabled());
    frame->Command(ID_EDIT_PASTE)->trigger();
    frame->Command(ID_EDIT_CUT)->trigger();
    view->InsertBytes("inserted");
    QApplication::processEvents();
    EXPECT_EQ(BytesOf(view), bytes);
    EXPECT_FALSE(view->GetDocument()->IsModified());
    EXPECT_TRUE(view->ShowsLongLines());
}

// Fault guarded: the search dialog's Replace and Replace All write through
// the view; in the cut copy they would change only what is shown.
TEST_F(ShellLongLines, ACommandsReplacementReachesTheBytes) {
    QByteArray bytes = LongLineText();
    StartWith(bytes);
    CQuarryView* view = Active();
    ASSERT_TRUE(view->ShowsLongLines());
    const int64_t start = 6 + 511 - 3;  // across the first cut
    view->SetSel(start, start + 8);
    ReplaceSelection(view, "[X]");
    bytes.replace(start, 8, "[X]");
    EXPECT_EQ(BytesOf(view), bytes);
    int64_t gotStart = 0;
    int64_t gotEnd = 0;
    view->GetSel(gotStart, gotEnd);
    EXPECT_EQ(gotStart, start);
    EXPECT_EQ(gotEnd, start + 3);
    EXPECT_TRUE(view->GetDocument()->IsModified());
    // A later replacement lands on the right bytes too, after the copy was cut afresh.
    QApplication::processEvents();
    view->SetSel(bytes.size() - 6, bytes.size() - 2);
    ReplaceSelection(view, "!");
    bytes.replace(bytes.size() - 6, 4, "!");
    EXPECT_EQ(BytesOf(view), bytes);
    // Replace All leaves only short lines: the view shows the bytes again, editable.
    view->GetDocument()->Text().StreamIn(std::string_view("short\r\nlines\r\n"));
    QApplication::processEvents();
    EXPECT_EQ(BytesOf(view), QByteArray("short\r\nlines\r\n"));
    EXPECT_FALSE(view->ShowsLongLines());
    EXPECT_FALSE(view->isReadOnly());
    EXPECT_EQ(view->SendScintilla(Sci::SCI_GETMARGINWIDTHN, 1UL), 0);
    EXPECT_EQ(view->SendScintilla(Sci::SCI_GETDOCPOINTER),
              view->GetDocument()->Text().Buffer()->SendScintilla(Sci::SCI_GETDOCPOINTER));
}

TEST_F(ShellLongLines, ALineGrowingPastTheLimitShowsTheDocumentCut) {
    Start();
    CQuarryView* view = Active();
    frame->Command(ID_WINDOW_NEW)->trigger();
    CQuarryView* second = Active();
    ASSERT_FALSE(view->ShowsLongLines());
    const std::string line(size_t(kLongLineBytes) + 1, 'a');
    ReplaceSelection(second, line);
    QApplication::processEvents();
    EXPECT_TRUE(view->ShowsLongLines());
    EXPECT_TRUE(second->ShowsLongLines());
    EXPECT_EQ(BytesOf(view).toStdString(), line);
    view->SetSel(0, 10);
    EXPECT_EQ(view->SelectedBytes(), QByteArray(10, 'a'));
}

TEST_F(ShellLongLines, LineEndsCommandShowsLineEndsInEveryView) {
    Start();
    CQuarryView* first = Active();
    frame->Command(ID_WINDOW_NEW)->trigger();
    CQuarryView* second = Active();
    EXPECT_FALSE(frame->Command(ID_VIEW_LINE_ENDS)->isChecked());
    EXPECT_EQ(first->SendScintilla(Sci::SCI_GETVIEWEOL), 0);
    frame->Command(ID_VIEW_LINE_ENDS)->trigger();
    EXPECT_TRUE(frame->Command(ID_VIEW_LINE_ENDS)->isChecked());
    EXPECT_EQ(first->SendScintilla(Sci::SCI_GETVIEWEOL), 1);
    EXPECT_EQ(second->SendScintilla(Sci::SCI_GETVIEWEOL), 1);
    // A window opened later shows them as well.
    frame->Command(ID_FILE_NEW)->trigger();
    EXPECT_EQ(Active()->SendScintilla(Sci::SCI_GETVIEWEOL), 1);
    frame->Command(ID_VIEW_LINE_ENDS)->trigger();
    EXPECT_FALSE(frame->Command(ID_VIEW_LINE_ENDS)->isChecked());
    EXPECT_EQ(first->SendScintilla(Sci::SCI_GETVIEWEOL), 0);
    EXPECT_EQ(Active()->SendScintilla(Sci::SCI_GETVIEWEOL), 0);
}

}  // namespace
}  // namespace quarry
