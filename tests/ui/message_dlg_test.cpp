#include "ui/message_dlg.h"

#include <QApplication>
#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "res/images.h"
#include "ui/dialog_units.h"

namespace quarry {
namespace {

// Runs `act` on the dialog once it is shown modally.
void WhenShown(std::function<void(CMessageDlg*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<CMessageDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

QStringList VisibleButtons(const CMessageDlg& dialog) {
    // Left to right, as the user sees them.
    std::vector<QPushButton*> shown;
    for (int id : {IDYES, IDOK, IDNO, IDCANCEL}) {
        QPushButton* b = dialog.Button(id);
        if (!b->isHidden()) {
            shown.push_back(b);
        }
    }
    std::sort(shown.begin(), shown.end(),
              [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    QStringList out;
    for (QPushButton* b : shown) {
        out << b->text() + (b->isEnabled() ? "" : " (disabled)");
    }
    return out;
}

class MessageDialog : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { LoadBanners(QApplication::palette()); }
};

TEST(DialogUnitsTest, ConvertWithTheFontsBaseUnits) {
    const DialogUnits du(6, 13);  // the classic 8-point dialog font
    EXPECT_EQ(du.X(4), 6);
    EXPECT_EQ(du.Y(8), 13);
    EXPECT_EQ(du.X(238), 357);
    EXPECT_EQ(du.Y(126), 205);
    EXPECT_EQ(du.Rect(83, 106, 72, 14), QRect(125, 172, 108, 23));
    const DialogUnits fromFont(DialogUnits::TemplateFont());
    EXPECT_GT(fromFont.BaseX(), 2);
    EXPECT_GT(fromFont.BaseY(), fromFont.BaseX());
}

TEST_F(MessageDialog, ButtonLayoutsFollowTheStyle) {
    {
        CMessageDlg dialog;
        dialog.style = MB_YESNO;
        dialog.captions = QStringList{"&Join", "&Separately"};
        WhenShown([](CMessageDlg* d) {
            EXPECT_EQ(VisibleButtons(*d), QStringList({"&Join", "&Separately", "Abbrechen"}));
            EXPECT_TRUE(d->Button(IDYES)->isDefault());
            EXPECT_TRUE(d->Button(IDOK)->isHidden());
            EXPECT_FALSE(d->Button(IDOK)->isEnabled());
            d->Button(IDNO)->click();
        });
        EXPECT_EQ(dialog.DoModal(), IDNO);
    }
    {
        CMessageDlg dialog;
        dialog.style = MB_OK;
        dialog.captions = QStringList{""};
        WhenShown([](CMessageDlg* d) {
            EXPECT_EQ(VisibleButtons(*d), QStringList({""}));  // OK without caption
            d->Button(IDOK)->click();
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
    }
    {
        CMessageDlg dialog;
        dialog.style = MB_OKCANCEL;
        dialog.captions = QStringList{"", "Stop"};  // an empty first keeps both
        WhenShown([](CMessageDlg* d) {
            EXPECT_EQ(VisibleButtons(*d), QStringList({"OK", "Abbrechen"}));
            d->reject();  // Escape or the close box
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
    {
        CMessageDlg dialog;
        dialog.style = MB_YESNO;
        dialog.captions = QStringList{"A", "", "C"};  // an empty caption ends the walk
        WhenShown([](CMessageDlg* d) {
            EXPECT_EQ(VisibleButtons(*d), QStringList({"A", "&Nein", "Abbrechen"}));
            d->Button(IDYES)->click();
        });
        EXPECT_EQ(dialog.DoModal(), IDYES);
    }
    {
        CMessageDlg dialog;
        dialog.style = 3;  // any other style: OK and Cancel
        WhenShown([](CMessageDlg* d) {
            EXPECT_EQ(VisibleButtons(*d), QStringList({"OK", "Abbrechen"}));
            d->Button(IDCANCEL)->click();
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
}

TEST_F(MessageDialog, TitleTextAndLayout) {
    CMessageDlg dialog;
    dialog.title = std::nullopt;
    dialog.text = QStringLiteral("line one\nline two");
    WhenShown([](CMessageDlg* d) {
        EXPECT_EQ(d->windowTitle(), "Quarry! Message");
        EXPECT_EQ(d->TextField()->toPlainText(), "line one\nline two");
        EXPECT_TRUE(d->TextField()->isReadOnly());
        EXPECT_FALSE(d->TextField()->isEnabled());  // cannot be scrolled or selected
        EXPECT_EQ(d->TextField()->palette().color(QPalette::Disabled, QPalette::Text),
                  QColor(Qt::black));
        EXPECT_EQ(d->TextField()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_EQ(d->TextField()->palette().color(QPalette::Text), QColor(Qt::black));
        EXPECT_DOUBLE_EQ(d->TextField()->font().pointSizeF(), 8.5);
        // Laid out from dialog units of the dialog's own font.
        const DialogUnits du(d->font());
        EXPECT_EQ(d->size(), QSize(du.X(238), du.Y(126)));
        EXPECT_EQ(d->TextField()->geometry(), du.Rect(13, 45, 218, 57));
        EXPECT_EQ(d->Button(IDOK)->geometry(), du.Rect(83, 106, 72, 14));
        EXPECT_EQ(d->Button(IDYES)->geometry(), du.Rect(7, 105, 72, 14));
        EXPECT_EQ(d->Button(IDCANCEL)->geometry(), du.Rect(159, 105, 72, 14));
        d->Button(IDOK)->click();
    });
    dialog.DoModal();

    CMessageDlg empty;
    empty.title = QString();
    WhenShown([](CMessageDlg* d) {
        EXPECT_EQ(d->windowTitle(), "");
        d->Button(IDOK)->click();
    });
    empty.DoModal();
}

TEST_F(MessageDialog, CoreMessagesReachTheDialog) {
    InstallMessageDialog();
    WhenShown([](CMessageDlg* d) {
        EXPECT_EQ(d->windowTitle(), "Dateizugriff verweigert");
        EXPECT_TRUE(d->TextField()->toPlainText().startsWith("Auf die Datei  \"/no/such\"  kann"));
        EXPECT_TRUE(d->Button(IDCANCEL)->isHidden());
        d->Button(IDOK)->click();
    });
    ShowFileAccessDenied("/no/such");
    WhenShown([](CMessageDlg* d) {
        EXPECT_EQ(VisibleButtons(*d), QStringList({"&Join", "&Separately", "Abbrechen"}));
        d->Button(IDCANCEL)->click();
    });
    EXPECT_EQ(ShowMessage("You have selected 2 files.", "join files ?", {"&Join", "&Separately"},
                          MB_YESNO),
              IDCANCEL);
    SetMessageHandler(nullptr);
}

}  // namespace
}  // namespace quarry
