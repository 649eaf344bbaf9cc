#include "ui/about_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include <tuple>

#include "res/about_picture.h"
#include "ui/dialog_units.h"
#include "ui/hyperlink.h"
#include "ui/manual.h"

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

    // The links lead to files installed with the program: no address that
    // may not exist.
    manualLabel_ = new QLabel(QStringLiteral("read:"), this);
    manualLabel_->setGeometry(du.Rect(21, 94, 22, 8));
    manual_ = new CHyperLink(QString::fromLatin1(kManualLinkText), this);
    manual_->setObjectName(QStringLiteral("manualLink"));
    manual_->setGeometry(du.Rect(47, 94, 78, 9));
    licenceLabel_ = new QLabel(QStringLiteral("licence:"), this);
    licenceLabel_->setGeometry(du.Rect(15, 104, 28, 8));
    licence_ = new CHyperLink(QString::fromLatin1(kLicenceLinkText), this);
    licence_->setObjectName(QStringLiteral("licenceLink"));
    licence_->setGeometry(du.Rect(47, 104, 76, 9));
    for (QLabel* label : {manualLabel_, static_cast<QLabel*>(manual_), licenceLabel_,
                          static_cast<QLabel*>(licence_)}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    for (QLabel* label : {manualLabel_, licenceLabel_}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    }
    // Bound like the template's controls: the link behaviour attaches now.
    manual_->PreSubclassWindow();
    licence_->PreSubclassWindow();

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
    const QString manual = ManualUrl();
    const QString licence = LicencePath();
    manual_->SetTarget(manual);
    licence_->SetTarget(licence.isEmpty() ? QString() : QUrl::fromLocalFile(licence).toString());
    for (auto [label, link, target] : {std::tuple{manualLabel_, manual_, manual},
                                       std::tuple{licenceLabel_, licence_, licence}}) {
        label->setVisible(!target.isEmpty());
        link->setVisible(!target.isEmpty());
        link->EnableUnderline(true);
    }
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
