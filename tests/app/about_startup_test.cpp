#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "res/command_ids.h"
#include "ui/about_dlg.h"
#include "ui/hyperlink.h"
#include "ui/manual.h"

namespace quarry {
namespace {

class AboutAtStartUp : public ::testing::Test {
  protected:
    void SetUp() override {
        SearchDialog() = SearchDialogLink{};
        QSettings(ProfilePath(), QSettings::IniFormat).clear();
    }
    void TearDown() override {
        AboutBoxRunner() = [](CAboutDlg& d) { return d.exec(); };
        if (app) {
            for (CQuarryDoc* doc : app->Documents()) {
                doc->SetModifiedFlag(false);
            }
        }
        app.reset();
    }
    std::unique_ptr<CQuarryApp> app;
};

TEST_F(AboutAtStartUp, ShowsOverTheMainWindowBeforeStartUpEnds) {
    app = std::make_unique<CQuarryApp>();
    app->ConnectAboutBox();
    bool returned = false;
    int runs = 0;
    AboutBoxRunner() = [&](CAboutDlg& dialog) {
        if (++runs == 1) {
            EXPECT_FALSE(returned);  // start-up waits for the box
        }
        EXPECT_TRUE(app->MainWnd()->isVisible());
        EXPECT_EQ(dialog.parentWidget(), app->MainWnd());
        EXPECT_EQ(dialog.windowTitle(), "About Quarry!");
        EXPECT_EQ(app->Documents().size(), 1);
        EXPECT_EQ(app->Documents().value(0)->GetTitle(), "new1");
        EXPECT_EQ(dialog.ManualLink()->Target(), ManualUrl());
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(app->InitInstance({}));
    returned = true;
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(app->startupSteps.back(), "about");

    // Help > About shows it again.
    app->MainWnd()->Command(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(runs, 2);
}

TEST_F(AboutAtStartUp, TheModalBoxHoldsStartUpUntilClosed) {
    app = std::make_unique<CQuarryApp>();
    app->ConnectAboutBox();
    bool closedByUser = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isModal());
        EXPECT_TRUE(app->MainWnd()->isVisible());
        closedByUser = true;
        box->OkButton()->click();
    });
    ASSERT_TRUE(app->InitInstance({}));
    EXPECT_TRUE(closedByUser);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace quarry
