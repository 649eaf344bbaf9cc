// Live highlighting over a test double of the target: the marks and the count
// shown while the expression is typed, against what the commands find.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <vector>

#include "search/host.h"
#include "search_dialog/live_highlight.h"
#include "search_dialog/search_replace_dlg.h"
#include "tests/search_dialog/dialog_fixture.h"
#include "tests/search_dialog/fake_target.h"
#include "ui/expr_combo_box.h"

namespace quarry {
namespace {

class LiveHighlight : public DialogOverFakeTarget {
  protected:
    // Types an expression and waits for what it shows.
    void Type(const QString& expression) {
        dlg->SearchCombo()->setEditText(expression);
        dlg->Live().RunNow();
        Settle();
    }
    void Settle() {
        QTRY_VERIFY_WITH_TIMEOUT(dlg->Live().Idle(), 20000);
        QCoreApplication::processEvents();
    }
    QString Status() const { return dlg->StatusLine()->text(); }
    // The marked bytes, one per line, as a listing writes them.
    std::string Marked() const {
        std::string out;
        for (const auto& [from, to] : target.highlights) {
            out += target.text.substr(size_t(from), size_t(to - from)) + "\n";
        }
        return out;
    }
};

// The count shown while typing is the count List Matchings reports for the
// same expression and options, and the marks are the matchings it lists.
TEST_F(LiveHighlight, CountAndMarksAreWhatListMatchingsFinds) {
    struct Case {
        const char* expression;
        bool matchCase;
        bool matchLineBreaks;
        int limit;  // -1: no limit
        TextMode mode;
    };
    const std::vector<Case> cases = {
        {"a+", false, false, 1024, TextMode::kUtf8},
        {"A+", true, false, 1024, TextMode::kUtf8},
        {"A+", false, false, 1024, TextMode::kUtf8},
        {"b\\nc", false, true, -1, TextMode::kUtf8},
        {"b\\nc", false, false, -1, TextMode::kUtf8},
        {"x.*y", false, false, 4, TextMode::kUtf8},
        {"x.*y", false, false, -1, TextMode::kUtf8},
        {"\\w+$", false, false, 1024, TextMode::kUtf8},
        {"\xc3\xa9.", false, false, 1024, TextMode::kUtf8},
        {"\xc3\xa9.", false, false, 1024, TextMode::kBytes},
        {"zz", false, false, 1024, TextMode::kUtf8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.expression) + (c.mode == TextMode::kBytes ? " bytes" : ""));
        target.text = "xaaybz a\nAb\ncA xy xaay\n\xc3\xa9t\xc3\xa9\xc3\xa9 a\n";
        target.mode = c.mode;
        target.newDocuments.clear();
        dlg->Ui().matchCase->setChecked(c.matchCase);
        dlg->Ui().matchLineBreaks->setChecked(c.matchLineBreaks);
        dlg->Ui().limitOn->setChecked(c.limit >= 0);
        dlg->Ui().limitValue->setText(QString::number(std::max(c.limit, 0)));
        dlg->Ui().newFile->setChecked(true);
        const QString expression = c.mode == TextMode::kBytes ? QString::fromLatin1(c.expression)
                                                              : QString::fromUtf8(c.expression);
        Type(expression);
        const QString live = Status();
        const std::string marked = Marked();

        dlg->RunCommand(Command::kListMatchings);
        const QString listed = Status();
        int32_t count = 0;
        if (listed != QString::fromLatin1(kStatusNotFound)) {
            ASSERT_TRUE(listed.endsWith(" matchings listed")) << listed.toStdString();
            count = listed.section(' ', 0, 0).toInt();
        }
        EXPECT_EQ(live, LiveCountText(count)) << listed.toStdString();
        EXPECT_EQ(marked, target.newDocuments.empty() ? "" : target.newDocuments.back());
    }
}

// Only the part the view shows is marked; the count is the whole text's.
TEST_F(LiveHighlight, OnlyTheVisiblePartIsMarked) {
    target.text = "ab\nab\nab\nab\n";
    target.visibleStart = 3;
    target.visibleEnd = 9;
    Type("b");
    EXPECT_EQ(target.highlights, (ByteRanges{{4, 5}, {7, 8}}));
    EXPECT_EQ(Status(), "4 matchings");
}

// The count stops at its bound and says so.
TEST_F(LiveHighlight, ACountPastTheBoundReadsMoreThanIt) {
    target.text.clear();
    for (int i = 0; i < kLiveCountCap + 1; ++i) {
        target.text += "a\n";
    }
    target.visibleEnd = 4;
    Type("a");
    EXPECT_EQ(Status(), "more than 10,000 matchings");
    EXPECT_EQ(target.highlights, (ByteRanges{{0, 1}, {2, 3}}));
    target.text.resize(target.text.size() - 2);
    Type("a");
    EXPECT_EQ(Status(), "10,000 matchings");
}

TEST_F(LiveHighlight, AnInvalidOrEmptyExpressionTakesTheMarksAndTheCountAway) {
    target.text = "one two one\n";
    Type("one");
    ASSERT_EQ(target.highlights, (ByteRanges{{0, 3}, {8, 11}}));
    ASSERT_EQ(Status(), "2 matchings");

    Type("one**");
    EXPECT_TRUE(target.highlights.empty());
    EXPECT_EQ(Status(), "");

    Type("t");
    ASSERT_EQ(target.highlights, (ByteRanges{{4, 5}}));
    ASSERT_EQ(Status(), "1 matching");

    Type("");
    EXPECT_TRUE(target.highlights.empty());
    EXPECT_EQ(Status(), "");

    // Closing the dialog takes them away too.
    Type("o");
    ASSERT_FALSE(target.highlights.empty());
    dlg->reject();
    EXPECT_TRUE(target.highlights.empty());
}

// A keystroke while the run for the one before is still searching: that run's
// result, arriving last, must not replace the newer one.
TEST_F(LiveHighlight, AResultOfAnExpressionTypedBeforeNeverShows) {
    target.text = "aaa b\n";
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> firstStarted{false};
    std::atomic<bool> first{true};
    dlg->Live().workerStarted = [&, released] {
        if (first.exchange(false)) {
            firstStarted = true;
            released.wait();
        }
    };
    dlg->SearchCombo()->setEditText(QStringLiteral("a"));
    dlg->Live().RunNow();
    QTRY_VERIFY_WITH_TIMEOUT(firstStarted.load(), 20000);

    dlg->SearchCombo()->setEditText(QStringLiteral("b"));
    dlg->Live().RunNow();
    QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("1 matching"), 20000);
    EXPECT_EQ(target.highlights, (ByteRanges{{4, 5}}));

    release.set_value();
    Settle();
    EXPECT_EQ(Status(), "1 matching");
    EXPECT_EQ(target.highlights, (ByteRanges{{4, 5}}));
}

// A command's document shows no marks while the command runs, and the
// command's result stays in the status line when they come back.
TEST_F(LiveHighlight, NoMarksWhileACommandRuns) {
    target.text = "one two one\n";
    Type("one");
    ASSERT_FALSE(target.highlights.empty());
    std::vector<size_t> marksWhileRunning;
    target.onAppend = [&] { marksWhileRunning.push_back(target.highlights.size()); };
    dlg->Ui().newFile->setChecked(true);
    dlg->RunCommand(Command::kListMatchings);
    ASSERT_FALSE(marksWhileRunning.empty());
    EXPECT_EQ(marksWhileRunning, std::vector<size_t>(marksWhileRunning.size(), 0));
    Settle();
    EXPECT_EQ(target.highlights, (ByteRanges{{0, 3}, {8, 11}}));
    EXPECT_EQ(Status(), "2 matchings listed");
}

}  // namespace
}  // namespace quarry
