#include "ui/about_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "res/about_picture.h"
#include "ui/dialog_units.h"
#include "ui/hyperlink.h"

namespace quarry {
namespace {

QFont AboutFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("About Quarry!"));
    setFont(AboutFont());
    const DialogUnits du(font());
    setFixedSize(du.X(241), du.Y(146));

    // A bitmap static takes its bitmap's size.
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("picture186"));
    picture_->setPixmap(QPixmap::fromImage(DrawAboutPicture(palette().color(QPalette::Window))));
    picture_->move(du.X(14), du.Y(5));
    picture_->adjustSize();

    auto* visit = new QLabel(QStringLiteral("visit:"), this);
    visit->setGeometry(du.Rect(27, 94, 16, 8));
    webSite_ = new CHyperLink(QString::fromLatin1(kWebSiteText), this);
    webSite_->setObjectName(QStringLiteral("link1037"));
    webSite_->setGeometry(du.Rect(47, 94, 78, 9));
    auto* mailto = new QLabel(QStringLiteral("mailto:"), this);
    mailto->setGeometry(du.Rect(21, 104, 22, 8));
    mail_ = new CHyperLink(QString::fromLatin1(kBugMailAddress), this);
    mail_->setObjectName(QStringLiteral("link1038"));
    mail_->setGeometry(du.Rect(47, 104, 76, 9));
    for (QLabel* label :
         {visit, static_cast<QLabel*>(webSite_), mailto, static_cast<QLabel*>(mail_)}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    // Bound like the template's controls: the link behaviour attaches now.
    webSite_->PreSubclassWindow();
    mail_->PreSubclassWindow();

    ok_ = new QPushButton(QStringLiteral("&OK"), this);
    ok_->setGeometry(du.Rect(106, 122, 117, 16));
    ok_->setDefault(true);
    ok_->setAutoDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    cancel->setGeometry(du.Rect(181, 0, 50, 14));
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CAboutDlg::OnInitDialog() {
    webSite_->SetTarget(QString::fromLatin1(kWebSiteTarget));
    mail_->SetTarget(QStringLiteral("mailto:") + QString::fromLatin1(kBugMailAddress));
    webSite_->EnableUnderline(true);
    mail_->EnableUnderline(true);
    ok_->setFocus();
}

int CAboutDlg::DoModal() {
    OnInitDialog();
    return AboutBoxRunner()(*this);
}

std::function<int(CAboutDlg&)>& AboutBoxRunner() {
    static std::function<int(CAboutDlg&)> runner = [](CAboutDlg& dialog) { return dialog.exec(); };
    return runner;
}

void RunAboutBox(QWidget* parent) {
    CAboutDlg dialog(parent);
    dialog.DoModal();
}

}  // namespace quarry
