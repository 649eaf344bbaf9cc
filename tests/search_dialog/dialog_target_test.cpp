// The search dialog over a test double of its target: what a command does to
// the document's text, apart from any editor.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "search/host.h"
#include "search_dialog/search_replace_dlg.h"
#include "tests/search_dialog/dialog_fixture.h"
#include "tests/search_dialog/fake_target.h"
#include "ui/expr_combo_box.h"

namespace quarry {
namespace {

class DialogOverTarget : public DialogOverFakeTarget {
  protected:
    void Run(Command command, const QString& search, const QString& rewrite, bool newFile) {
        dlg->SearchCombo()->setEditText(search);
        dlg->RewriteCombo()->setEditText(rewrite);
        dlg->Ui().newFile->setChecked(newFile);
        dlg->RunCommand(command);
    }
    QString Status() const { return dlg->StatusLine()->text(); }

    // More than one piece of result: lines of "ab".
    static std::string BigText() {
        std::string text;
        for (int i = 0; i < 1'200'000; ++i) {
            text += "ab\n";
        }
        return text;
    }
};

// Fault: a Cancel (or the close box) heard while the result was loading into
// the editor did nothing, and the replacement was applied anyway.
TEST_F(DialogOverTarget, CancelWhileTheResultLoadsLeavesTheDocumentAsItWas) {
    const std::string original = BigText();
    for (const bool newFile : {false, true}) {
        SCOPED_TRACE(newFile ? "into a new document" : "in place");
        target.text = original;
        target.appended = 0;
        target.busyCalls.clear();
        target.onAppend = [this] {
            if (target.appended == 1) {
                dlg->reject();  // the close box, while running: Cancel
            }
        };
        Run(Command::kReplaceAll, "a", "x", newFile);
        EXPECT_EQ(Status(), "Cancelled");
        EXPECT_EQ(target.appended, 1);
        EXPECT_EQ(target.text, original);
        EXPECT_TRUE(target.newDocuments.empty());
        EXPECT_EQ(target.busyCalls, (std::vector<bool>{true, false}));
        EXPECT_FALSE(dlg->running);
    }
}

// Fault: keystrokes typed into the document while Replace All ran were
// silently replaced by the result. The document is busy (read-only) from
// before its text is copied until the whole result is in.
TEST_F(DialogOverTarget, ResultGoesInWholeWhileTheDocumentIsBusy) {
    target.text = BigText();
    int notBusy = 0;
    target.onAppend = [&] { notBusy += target.busy ? 0 : 1; };
    Run(Command::kReplaceAll, "(a)(b)", "\\2\\1", false);
    EXPECT_EQ(Status(), "1200000 matchings replaced");
    EXPECT_GT(target.appended, 1);
    EXPECT_EQ(notBusy, 0);
    EXPECT_FALSE(target.busy);
    std::string expected;
    for (int i = 0; i < 1'200'000; ++i) {
        expected += "ba\n";
    }
    EXPECT_EQ(target.text, expected);
    EXPECT_TRUE(messages.empty());
}

// List Matchings and Replace All in line mode are cut at line starts and run
// on several threads. The cut text must be searched with the document's own
// mode, options and line break, or the pieces' joined result would differ
// from one thread's (bytes mode splits «é», a lost option changes the count).
TEST_F(DialogOverTarget, SeveralThreadsGiveWhatOneThreadGives) {
    std::string original;
    for (int i = 0; i < 400; ++i) {
        original += "Caf\xc3\xa9 " + std::to_string(i) + (i % 3 == 0 ? "\r\n" : "\n");
        if (i % 7 == 0) {
            original += "\r\n";  // empty lines at some cuts
        }
    }
    target.lineBreak = "\r\n";
    dlg->Ui().limitOn->setChecked(true);
    struct Case {
        Command command;
        const char* search;
        const char* rewrite;
        bool newFile;
    };
    const Case cases[] = {
        {Command::kListMatchings, "caf.", "", true},
        {Command::kListMatchings, "[0-9]+$", "", true},
        {Command::kReplaceAll, "(\\w+) ([0-9]+)$", "\\2=\\U\\1", false},
        {Command::kReplaceAll, ".$", "<\\0>", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.search);
        std::vector<std::string> results;
        std::vector<QString> statuses;
        for (const int threads : {1, 2}) {
            dlg->SetBulkThreads(threads, 64);
            target.text = original;
            target.newDocuments.clear();
            Run(c.command, QString::fromUtf8(c.search), QString::fromUtf8(c.rewrite), c.newFile);
            statuses.push_back(Status());
            results.push_back(
                c.newFile ? (target.newDocuments.empty() ? std::string() : target.newDocuments[0])
                          : target.text);
        }
        EXPECT_TRUE(statuses[0].endsWith(QLatin1String("matchings listed")) ||
                    statuses[0].endsWith(QLatin1String("matchings replaced")))
            << statuses[0].toStdString();
        EXPECT_EQ(statuses[1], statuses[0]);
        EXPECT_EQ(results[1], results[0]);
        EXPECT_NE(results[0], original);
    }
    EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace quarry
