#include "ui/progress_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>

#include <gtest/gtest.h>

#include "res/images.h"
#include "ui/dialog_units.h"

namespace quarry {
namespace {

TEST(ProgressDlg, OpensOverTheMainWindowWithTitleTextLineAndBar) {
    ASSERT_TRUE(LoadBanners(QApplication::palette()));
    QMainWindow main;
    main.setGeometry(100, 100, 800, 600);
    main.show();
    CProgressDlg progress;
    ASSERT_TRUE(progress.Open(5));
    QDialog* window = progress.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->parentWidget(), &main);
    EXPECT_EQ(window->windowTitle(), "Progress View");
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->frameGeometry().center(), main.frameGeometry().center());

    const DialogUnits du(window->font());
    EXPECT_EQ(window->size(), QSize(du.X(264), du.Y(74)));
    EXPECT_EQ(progress.Bar()->geometry(), du.Rect(7, 56, 250, 11));
    EXPECT_EQ(progress.TextLine()->geometry(), du.Rect(7, 40, 250, 8));
    EXPECT_DOUBLE_EQ(progress.TextLine()->font().pointSizeF(), 8.5);
    EXPECT_TRUE(progress.TextLine()->text().isEmpty());
    // Both banners sit at their template places.
    int banners = 0;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->pixmap().isNull() && (label->pos() == QPoint(du.X(36), du.Y(7)) ||
                                          label->pos() == QPoint(du.X(60), du.Y(20)))) {
            ++banners;
        }
    }
    EXPECT_EQ(banners, 2);

    progress.SetText("Joining 4 files.");
    EXPECT_EQ(progress.TextLine()->text(), "Joining 4 files.");
    for (int k = 0; k < 5; ++k) {
        progress.Step();
    }
    EXPECT_EQ(progress.Bar()->value(), 5);
    EXPECT_EQ(progress.Bar()->maximum(), 5);
    progress.Close();
    EXPECT_EQ(progress.Window(), nullptr);
}

TEST(ProgressDlg, RangeKeepsTheLowSixteenBitsAndStepsByOne) {
    CProgressDlg progress;
    progress.Open(1);
    EXPECT_EQ(progress.Bar()->minimum(), 0);
    EXPECT_EQ(progress.Bar()->maximum(), 1);
    EXPECT_EQ(progress.Bar()->value(), 0);
    progress.Step();
    EXPECT_EQ(progress.Bar()->value(), progress.Bar()->maximum());  // full after one step

    progress.Open(70000);
    EXPECT_EQ(progress.RangeMax(), 70000 - 65536);
    EXPECT_EQ(progress.Bar()->maximum(), 70000 - 65536);
    EXPECT_EQ(progress.Bar()->value(), 0);

    // 65536 leaves an empty range: the bar stays empty instead of turning
    // into a busy indicator.
    progress.Open(65536);
    EXPECT_EQ(progress.RangeMax(), 0);
    EXPECT_NE(progress.Bar()->maximum(), progress.Bar()->minimum());
    progress.Step();
    EXPECT_EQ(progress.Bar()->value(), 0);

    // Past its end the bar starts over.
    progress.Open(2);
    progress.Step();
    progress.Step();
    EXPECT_EQ(progress.Position(), 2);
    progress.Step();
    EXPECT_EQ(progress.Position(), 0);
    progress.Close();
}

TEST(ProgressDlg, ReopensFreshAndIgnoresCallsWithoutAWindow) {
    CProgressDlg progress;
    progress.SetText("nothing");  // no window yet: no effect, no crash
    progress.Step();
    progress.Close();
    EXPECT_EQ(progress.Window(), nullptr);

    progress.Open(3);
    progress.SetText("Open 2 files separately");
    progress.Step();
    progress.Step();
    progress.Close();
    progress.Step();
    EXPECT_EQ(progress.Window(), nullptr);

    ASSERT_TRUE(progress.Open(3));
    EXPECT_TRUE(progress.Window()->isVisible());
    EXPECT_EQ(progress.Bar()->value(), 0);
    EXPECT_EQ(progress.Position(), 0);
    EXPECT_TRUE(progress.TextLine()->text().isEmpty());
    progress.Close();
    // The global one is a single object for the whole run.
    EXPECT_EQ(&ProgressDialog(), &ProgressDialog());
}

}  // namespace
}  // namespace quarry
