#include "ui/hyperlink.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace quarry {
namespace {

TEST(HyperLinkFit, ShrinksTheWindowByTheAlignmentRules) {
    const QRect window(10, 20, 100, 30);
    const QSize text(60, 14);
    // Left-aligned keeps its left edge, right-aligned its right edge.
    EXPECT_EQ(FitRectToText(window, text, Qt::AlignLeft), QRect(10, 20, 60, 14));
    EXPECT_EQ(FitRectToText(window, text, Qt::AlignRight), QRect(50, 20, 60, 14));
    // Centred: (100 - 60) / 2 off each side, (30 - 14) / 2 off top and bottom.
    EXPECT_EQ(FitRectToText(window, text, Qt::AlignHCenter | Qt::AlignVCenter),
              QRect(30, 28, 60, 14));
    // Odd differences round toward the middle staying where it was.
    const QRect odd(0, 0, 101, 31);
    const QRect fitted = FitRectToText(odd, text, Qt::AlignCenter);
    EXPECT_EQ(fitted, QRect(20, 8, 61, 15));
    EXPECT_EQ(fitted.center(), odd.center());
    // A text wider than the window widens it the same way.
    EXPECT_EQ(FitRectToText(QRect(0, 0, 40, 10), QSize(60, 10), Qt::AlignRight),
              QRect(-20, 0, 60, 10));
}

TEST(HyperLinkFailure, TextsByCode) {
    const QString prefix = "Unable to open hyperlink:\n\n";
    EXPECT_EQ(OpenFailureText(26), prefix + "A sharing violation occurred. ");
    EXPECT_EQ(OpenFailureText(0), prefix + "The operating system is out\nof memory or resources.");
    EXPECT_EQ(OpenFailureText(2), prefix + "The specified file was not found.");
    EXPECT_EQ(OpenFailureText(5),
              prefix + "The operating system denied\naccess to the specified file.");
    EXPECT_EQ(OpenFailureText(11),
              prefix + "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    EXPECT_EQ(OpenFailureText(30), prefix +
                                       "The DDE transaction could not\nbe completed because other "
                                       "DDE transactions\nwere being processed.");
    EXPECT_EQ(OpenFailureText(31),
              prefix + "There is no application associated\nwith the given filename extension.");
    EXPECT_EQ(OpenFailureText(32), prefix + "The specified dynamic-link library was not found.");
    EXPECT_EQ(OpenFailureText(4), prefix + "Unknown Error (4) occurred.");
    EXPECT_EQ(OpenFailureText(-7), prefix + "Unknown Error (-7) occurred.");
}

struct FakeShell {
    bool openerWorks = false;
    QString exec;
    bool startWorks = true;
    std::vector<QStringList> started;  // program first
    int openerCalls = 0;
    ShellLaunch Launch() {
        ShellLaunch shell;
        shell.openUrl = [this](const QString&) {
            ++openerCalls;
            return openerWorks;
        };
        shell.browserExecLine = [this] { return exec; };
        shell.startDetached = [this](const QString& program, const QStringList& args) {
            started.push_back(QStringList{program} + args);
            return startWorks;
        };
        return shell;
    }
};

TEST(OpenTarget, OpenerFirstThenTheDefaultBrowserWithTheTarget) {
    FakeShell shell;
    shell.openerWorks = true;
    shell.exec = "firefox %u";
    EXPECT_GT(OpenTarget("https://a.example/", shell.Launch()), 32);
    EXPECT_TRUE(shell.started.empty());

    shell.openerWorks = false;
    EXPECT_GT(OpenTarget("https://a.example/", shell.Launch()), 32);
    ASSERT_EQ(shell.started.size(), 1u);
    EXPECT_EQ(shell.started[0], QStringList({"firefox", "https://a.example/"}));

    // No browser entry: the opener's failure stands.
    shell.exec.clear();
    EXPECT_EQ(OpenTarget("mailto:x@a.example", shell.Launch()), SE_ERR_NOASSOC);
    // The browser can't be started.
    shell.exec = "nobrowser %U";
    shell.startWorks = false;
    EXPECT_EQ(OpenTarget("https://a.example/", shell.Launch()), SE_ERR_FNF);
    // An empty target never reaches the opener.
    shell.openerCalls = 0;
    shell.exec.clear();
    EXPECT_LE(OpenTarget("", shell.Launch()), 32);
    EXPECT_EQ(shell.openerCalls, 0);
}

TEST(OpenTarget, BrowserCommandIsCutAtThePlaceholderAndNeverGoesThroughAShell) {
    const QString target = "https://a.example/?q=$(rm -rf ~);echo `x` \"quoted\" & more";
    auto command = BrowserCommand("\"/opt/My Browser/browser\" --new-window %U --extra", target);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->program, "/opt/My Browser/browser");
    EXPECT_EQ(command->arguments, QStringList({"--new-window", target}));

    // Quoted placeholder, escapes inside quotes, percent signs.
    command = BrowserCommand("browser \"--title=a \\\"b\\\"\" 100%% \"%u\" tail", target);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->arguments, QStringList({"--title=a \"b\"", "100%", target}));

    // A placeholder inside a word keeps the word's start; other field codes
    // expand to nothing.
    command = BrowserCommand("browser %i --url=%u", target);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->arguments, QStringList({"--url=", target}));

    // Without a placeholder the target is appended.
    command = BrowserCommand("browser --private", target);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->arguments, QStringList({"--private", target}));

    // However long the target, it goes whole as one argument.
    const QString longTarget = "https://a.example/" + QString(5000, QChar('x'));
    command = BrowserCommand("browser %u", longTarget);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->arguments, QStringList({longTarget}));

    EXPECT_FALSE(BrowserCommand("%u", target));
    EXPECT_FALSE(BrowserCommand("   ", target));
}

class LinkHost : public ::testing::Test {
  protected:
    QWidget dialog;
};

TEST_F(LinkHost, AttachingTakesTargetFromTextAndTextFromTarget) {
    CHyperLink fromText("https://a.example/", &dialog);
    fromText.setGeometry(5, 5, 400, 20);
    fromText.PreSubclassWindow();
    EXPECT_EQ(fromText.Target(), "https://a.example/");
    EXPECT_EQ(fromText.toolTip(), "https://a.example/");

    CHyperLink fromTarget(&dialog);
    fromTarget.setGeometry(5, 30, 400, 20);
    fromTarget.SetTarget("mailto:x@a.example");
    fromTarget.PreSubclassWindow();
    EXPECT_EQ(fromTarget.text(), "mailto:x@a.example");
    EXPECT_EQ(fromTarget.toolTip(), "mailto:x@a.example");

    // Semi-bold, underlined, pointing hand, plain text.
    EXPECT_EQ(fromText.font().weight(), QFont::DemiBold);
    EXPECT_TRUE(fromText.font().underline());
    EXPECT_EQ(fromText.cursor().shape(), Qt::PointingHandCursor);
    fromText.EnableUnderline(false);
    EXPECT_FALSE(fromText.font().underline());
    fromText.EnableUnderline(true);
    EXPECT_TRUE(fromText.font().underline());

    // A new target changes the tool tip.
    fromText.SetTarget("https://b.example/");
    EXPECT_EQ(fromText.toolTip(), "https://b.example/");
}

TEST_F(LinkHost, WindowFitsItsTextKeepingTheAlignedEdge) {
    CHyperLink left("short", &dialog);
    left.setGeometry(10, 10, 300, 40);
    left.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    left.PreSubclassWindow();
    const QFontMetrics metrics(left.font());
    EXPECT_EQ(left.geometry(), QRect(10, 10, metrics.horizontalAdvance("short"), metrics.height()));

    CHyperLink right("short", &dialog);
    right.setGeometry(10, 60, 300, 40);
    right.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    right.PreSubclassWindow();
    EXPECT_EQ(right.geometry().right(), 309);
    EXPECT_EQ(right.width(), metrics.horizontalAdvance("short"));
    EXPECT_EQ(right.geometry().center().y(), QRect(10, 60, 300, 40).center().y());

    CHyperLink fixed("short", &dialog);
    fixed.setGeometry(10, 110, 300, 40);
    fixed.SetFitToText(false);
    fixed.PreSubclassWindow();
    EXPECT_EQ(fixed.geometry(), QRect(10, 110, 300, 40));
}

TEST_F(LinkHost, HoverVisitedAndLinkColours) {
    CHyperLink link("https://a.example/", &dialog);
    link.setGeometry(0, 0, 200, 20);
    link.PreSubclassWindow();
    EXPECT_EQ(link.TextColour(), QColor(0, 0, 238));
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 238));

    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), link.mapToGlobal(QPointF(3, 3)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&link, &move);
    EXPECT_TRUE(link.Hovering());
    EXPECT_EQ(link.palette().color(QPalette::WindowText), link.HoverColour());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    EXPECT_FALSE(link.Hovering());
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 238));

    link.SetVisitedState(true);
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(85, 26, 139));
}

TEST_F(LinkHost, ClickOpensTheTargetAndReportsAFailure) {
    CHyperLink link("https://a.example/", &dialog);
    link.setGeometry(0, 0, 200, 20);
    link.PreSubclassWindow();
    QStringList opened;
    std::vector<int> reported;
    int result = 26;
    link.openTarget = [&](const QString& target) {
        opened << target;
        return result;
    };
    link.reportOpenFailure = [&](int code) { reported.push_back(code); };

    auto click = [&] {
        const QPointF at(4, 4);
        QMouseEvent press(QEvent::MouseButtonPress, at, link.mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, link.mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&link, &press);
        QApplication::sendEvent(&link, &release);
    };
    click();
    EXPECT_EQ(opened, QStringList({"https://a.example/"}));
    EXPECT_EQ(reported, std::vector<int>({26}));
    EXPECT_FALSE(link.Visited());

    result = kOpenSucceeded;
    click();
    EXPECT_TRUE(link.Visited());
    EXPECT_EQ(reported.size(), 1u);
    EXPECT_EQ(link.TextColour(), QColor(85, 26, 139));
}

}  // namespace
}  // namespace quarry
