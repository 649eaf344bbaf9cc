#include "ui/about_dlg.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include "res/about_picture.h"
#include "ui/dialog_units.h"
#include "ui/hyperlink.h"
#include "ui/manual.h"

namespace quarry {
namespace {

int CountPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& is) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += is(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return count;
}

TEST(AboutPicture, HasItsSizeRulesMarkNameRevisionAndSlogan) {
    const QColor face(212, 208, 200);
    const QImage picture = DrawAboutPicture(face);
    ASSERT_EQ(picture.size(), QSize(314, 122));
    EXPECT_EQ(picture.depth(), 24);
    // Rules across the top and the middle.
    for (int x : {0, 150, 313}) {
        EXPECT_EQ(picture.pixelColor(x, 0), kAboutDarkBlue) << x;
        EXPECT_EQ(picture.pixelColor(x, 62), kAboutDarkBlue) << x;
    }
    // The face shows between the drawings.
    EXPECT_EQ(picture.pixelColor(2, 120), face);
    EXPECT_EQ(picture.pixelColor(2, 40 + 20), face);
    // The red mark at the left, nowhere else.
    auto red = [](QColor c) { return c.red() > 150 && c.green() < 80 && c.blue() < 80; };
    EXPECT_GT(CountPixels(picture, QRect(0, 4, 36, 56), red), 100);
    EXPECT_EQ(CountPixels(picture, QRect(40, 0, 274, 122), red), 0);
    // Teal revision at the upper right.
    auto teal = [](QColor c) {
        return c.red() < 60 && c.green() > 90 && c.blue() > 90 &&
               std::abs(c.green() - c.blue()) < 30;
    };
    EXPECT_GT(CountPixels(picture, QRect(230, 6, 84, 24), teal), 20);
    // Dark-blue name in the upper part, slogan at the lower right.
    auto blue = [](QColor c) { return c.blue() > 90 && c.red() < 60 && c.green() < 60; };
    EXPECT_GT(CountPixels(picture, QRect(40, 6, 190, 36), blue), 200);
    EXPECT_GT(CountPixels(picture, QRect(157, 66, 157, 56), blue), 200);
    EXPECT_EQ(CountPixels(picture, QRect(0, 66, 50, 56), blue), 0);
}

TEST(AboutDlg, LayoutOfItsTemplateAndLinksSetUpWhenRun) {
    CAboutDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "About Quarry!");
    const DialogUnits du(dialog.font());
    EXPECT_EQ(dialog.size(), QSize(du.X(241), du.Y(146)));
    EXPECT_EQ(dialog.Picture()->pos(), QPoint(du.X(14), du.Y(5)));
    EXPECT_EQ(dialog.Picture()->size(), QSize(314, 122));
    EXPECT_EQ(dialog.OkButton()->text(), "&OK");
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.OkButton()->geometry(), du.Rect(106, 122, 117, 16));
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (qobject_cast<CHyperLink*>(label) == nullptr && label->pixmap().isNull()) {
            labels << label->text();
        }
    }
    labels.sort();
    EXPECT_EQ(labels, QStringList({"licence:", "read:"}));

    bool ran = false;
    AboutBoxRunner() = [&](CAboutDlg& shown) {
        ran = true;
        EXPECT_EQ(&shown, &dialog);
        CHyperLink* web = shown.ManualLink();
        CHyperLink* mail = shown.LicenceLink();
        EXPECT_EQ(web->text(), kManualLinkText);
        EXPECT_EQ(mail->text(), kLicenceLinkText);
        for (CHyperLink* link : {web, mail}) {
            EXPECT_TRUE(link->font().underline());
            EXPECT_EQ(link->font().weight(), QFont::DemiBold);
            // Sized to its text, at its template place.
            EXPECT_EQ(link->width(), QFontMetrics(link->font()).horizontalAdvance(link->text()));
            EXPECT_EQ(link->x(), du.X(47));
        }
        EXPECT_EQ(web->y(), du.Y(94));
        EXPECT_EQ(mail->y(), du.Y(104));
        return int(QDialog::Accepted);
    };
    dialog.DoModal();
    EXPECT_TRUE(ran);
    AboutBoxRunner() = [](CAboutDlg& d) { return d.exec(); };
}

TEST(AboutDlg, ClickingAWebLinkOpensItAndMarksItVisited) {
    CAboutDlg dialog;
    AboutBoxRunner() = [](CAboutDlg& shown) {
        QStringList opened;
        shown.ManualLink()->openTarget = [&](const QString& target) {
            opened << target;
            return kOpenSucceeded;
        };
        shown.ManualLink()->OnClicked();
        EXPECT_EQ(opened, QStringList({ManualUrl()}));
        EXPECT_EQ(shown.ManualLink()->TextColour(), CHyperLink::VisitedColour());
        EXPECT_EQ(shown.LicenceLink()->TextColour(), CHyperLink::LinkColour());
        return int(QDialog::Accepted);
    };
    dialog.DoModal();
    AboutBoxRunner() = [](CAboutDlg& d) { return d.exec(); };
}

// Fault: the links led to a web site and a mail address at example.org, which
// do not exist. They lead to the installed manual and licence file, and a link
// whose file is not there is not shown.
TEST(AboutDlg, TheLinksLeadToFilesThatExist) {
    QTemporaryDir dir;
    const QString licence = dir.filePath("LICENSE");
    QFile file(licence);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("terms\n");
    file.close();
    qputenv("QUARRY_LICENCE", licence.toUtf8());
    for (const bool present : {true, false}) {
        if (!present) {
            ASSERT_TRUE(QFile::remove(licence));
        }
        CAboutDlg dialog;
        AboutBoxRunner() = [&](CAboutDlg& shown) {
            for (CHyperLink* link : {shown.ManualLink(), shown.LicenceLink()}) {
                EXPECT_FALSE(link->Target().contains("example.org"));
                EXPECT_FALSE(link->text().contains("example.org"));
                if (link->isVisibleTo(&shown)) {
                    const QUrl target(link->Target());
                    EXPECT_TRUE(target.isLocalFile()) << link->Target().toStdString();
                    EXPECT_TRUE(QFileInfo(target.toLocalFile()).isFile())
                        << link->Target().toStdString();
                }
            }
            EXPECT_TRUE(shown.ManualLink()->isVisibleTo(&shown));  // made in the build tree
            EXPECT_EQ(QUrl(shown.ManualLink()->Target()).toLocalFile(), ManualPath());
            // Without it, only a licence file installed elsewhere is linked.
            EXPECT_EQ(shown.LicenceLink()->isVisibleTo(&shown), !LicencePath().isEmpty());
            if (present) {
                EXPECT_EQ(QUrl(shown.LicenceLink()->Target()).toLocalFile(), licence);
            }
            return int(QDialog::Accepted);
        };
        dialog.DoModal();
    }
    qunsetenv("QUARRY_LICENCE");
    AboutBoxRunner() = [](CAboutDlg& d) { return d.exec(); };
}

TEST(AboutDlg, RealModalRunEndsOnOk) {
    QWidget owner;
    owner.show();
    QTimer::singleShot(0, [&owner] {
        auto* shown = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->parentWidget(), &owner);
        shown->OkButton()->click();
    });
    RunAboutBox(&owner);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace quarry
