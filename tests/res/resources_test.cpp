#include <QApplication>
#include <QPalette>

#include <gtest/gtest.h>

#include "res/command_ids.h"
#include "res/images.h"
#include "res/resource_tables.h"

namespace quarry {
namespace {

TEST(Images, SystemColoursReplaceOnlyTheFourGreys) {
    QImage image(5, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(0, 0, 0));
    image.setPixel(1, 0, qRgb(128, 128, 128));
    image.setPixel(2, 0, qRgb(192, 192, 192));
    image.setPixel(3, 0, qRgb(255, 255, 255));
    image.setPixel(4, 0, qRgb(0, 0, 128));
    QPalette palette;
    palette.setColor(QPalette::ButtonText, QColor(1, 2, 3));
    palette.setColor(QPalette::Dark, QColor(4, 5, 6));
    palette.setColor(QPalette::Button, QColor(7, 8, 9));
    palette.setColor(QPalette::Light, QColor(10, 11, 12));
    const QImage mapped = MapSystemColours(image, palette);
    EXPECT_EQ(QColor(mapped.pixel(0, 0)), QColor(1, 2, 3));
    EXPECT_EQ(QColor(mapped.pixel(1, 0)), QColor(4, 5, 6));
    EXPECT_EQ(QColor(mapped.pixel(2, 0)), QColor(7, 8, 9));
    EXPECT_EQ(QColor(mapped.pixel(3, 0)), QColor(10, 11, 12));
    EXPECT_EQ(QColor(mapped.pixel(4, 0)), QColor(0, 0, 128));  // the dark blue stays
}

TEST(Images, BannersHaveTheirSizesAndALightGreyBackground) {
    const struct {
        int id;
        QSize size;
    } banners[] = {
        {IDB_PRODUCT_NAME, {137, 25}}, {IDB_NOTICE, {95, 15}}, {IDB_MESSAGEBOX, {87, 16}}};
    for (const auto& b : banners) {
        const QImage image = DrawBanner(b.id);
        ASSERT_EQ(image.size(), b.size) << b.id;
        EXPECT_EQ(QColor(image.pixel(image.width() - 1, image.height() - 1)),
                  QColor(192, 192, 192));
        // Some dark blue lettering, and no colour outside the 16 of the bitmap.
        int blue = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y) | 0xFF000000u;
                blue += c == qRgb(0, 0, 128);
                EXPECT_TRUE(c == qRgb(0, 0, 128) || c == qRgb(192, 192, 192)) << b.id;
            }
        }
        EXPECT_GT(blue, 20) << b.id;
    }
    EXPECT_TRUE(DrawBanner(999).isNull());
    EXPECT_TRUE(LoadBanners(QApplication::palette()));
}

TEST(Images, IconsAreDrawnAtEverySize) {
    for (int size : {16, 32, 48}) {
        const QImage app = DrawAppIcon(size);
        const QImage doc = DrawDocumentIcon(size);
        EXPECT_EQ(app.size(), QSize(size, size));
        EXPECT_NE(app.pixel(size / 2, size / 2), 0u);
        EXPECT_NE(doc.pixel(size / 2, size / 2), 0u);
        EXPECT_EQ(qAlpha(app.pixel(0, 0)), 0);  // transparent corner
    }
    EXPECT_FALSE(AppIcon().isNull());
}

TEST(StringTable, PromptsAndTooltipsSplitAtTheLineBreak) {
    EXPECT_EQ(CommandPrompt(ID_EDIT_FIND), "Open the search dialog.");
    EXPECT_EQ(CommandTooltip(ID_EDIT_FIND), "Search...");
    EXPECT_EQ(CommandPrompt(ID_VIEW_INCREASE_FONTSIZE), "Increase the editor's fontsize.");
    EXPECT_EQ(CommandTooltip(ID_VIEW_REDUCE_FONTSIZE), "Reduce Fontsize");
    EXPECT_EQ(LoadString(ID_VIEW_WORD_WRAPPING), "");  // no prompt of its own
    EXPECT_EQ(LoadString(IDR_MAINFRAME), " Quarry! ");
    EXPECT_EQ(LoadString(IDS_APP_TITLE), "Quarry!");
    EXPECT_EQ(LoadString(IDS_IDLE_MESSAGE), "For Help, press F1");
    EXPECT_EQ(LoadString(IDR_QUARRYTYPE).split('\n'),
              QStringList({"", "new", "Quarry", "", "", "Quarry.Document", "Quarry Document"}));
}

TEST(Toolbar, ThirteenImagesInButtonOrder) {
    int images = 0;
    int expectedImage = 0;
    for (const ToolbarButton& b : ToolbarButtons()) {
        if (b.id == ID_SEPARATOR) {
            continue;
        }
        EXPECT_EQ(b.image, expectedImage++);
        ++images;
    }
    EXPECT_EQ(images, kToolbarImageCount);
    EXPECT_EQ(DrawToolbarStrip().size(), QSize(kToolbarImageWidth * 13, kToolbarImageHeight));
}

}  // namespace
}  // namespace quarry
