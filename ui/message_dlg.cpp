#include "ui/message_dlg.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTextEdit>
#include <QTextFrame>
#include <QThread>

#include "res/images.h"
#include "ui/dialog_units.h"

namespace quarry {
namespace {

// The colour menus are drawn on.
QColor MenuColour() {
    return QApplication::palette("QMenu").color(QPalette::Window);
}

}  // namespace

CMessageDlg::CMessageDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogUnits::TemplateFont());
    const DialogUnits du(font());
    setFixedSize(du.X(238), du.Y(126));

    icon_ = new QLabel(this);
    icon_->setPixmap(AppIcon().pixmap(32, 32));
    icon_->setGeometry(du.X(12), du.Y(8), 32, 32);

    // Bitmap statics take their bitmap's size at the place of the template's
    // control.
    const BannerBitmaps& banners = Banners();
    productBanner_ = new QLabel(this);
    productBanner_->setPixmap(banners.productName);
    productBanner_->move(du.X(35), du.Y(7));
    productBanner_->adjustSize();
    headingBanner_ = new QLabel(this);
    headingBanner_->setPixmap(banners.messageBox);
    headingBanner_->move(du.X(36), du.Y(19));
    headingBanner_->adjustSize();

    rule_ = new QFrame(this);
    rule_->setObjectName(QStringLiteral("rule1006"));
    rule_->setGeometry(du.X(7), du.Y(39), du.X(224 + 7) - du.X(7), 1);
    rule_->setAutoFillBackground(true);
    QPalette rulePalette = rule_->palette();
    rulePalette.setColor(QPalette::Window, Qt::black);
    rule_->setPalette(rulePalette);

    textField_ = new QTextEdit(this);
    textField_->setGeometry(du.Rect(13, 45, 218, 57));
    textField_->setReadOnly(true);
    textField_->setTextInteractionFlags(Qt::NoTextInteraction);
    textField_->setFocusPolicy(Qt::NoFocus);
    textField_->setFrameShape(QFrame::NoFrame);
    textField_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    textField_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    textField_->setContextMenuPolicy(Qt::NoContextMenu);
    // Disabled: no selection and no scrolling, so a long text is cut at the
    // field's edge. Its palette keeps the text black all the same.
    textField_->setEnabled(false);

    yes_ = new QPushButton(QStringLiteral("&JA"), this);
    yes_->setGeometry(du.Rect(7, 105, 72, 14));
    yes_->setDefault(true);
    yes_->hide();
    yes_->setEnabled(false);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setGeometry(du.Rect(83, 106, 72, 14));
    no_ = new QPushButton(QStringLiteral("&Nein"), this);
    no_->setGeometry(du.Rect(83, 105, 72, 14));
    no_->hide();
    no_->setEnabled(false);
    cancel_ = new QPushButton(QStringLiteral("Abbrechen"), this);
    cancel_->setGeometry(du.Rect(159, 105, 72, 14));
    // Tab order of the template.
    setTabOrder(yes_, ok_);
    setTabOrder(ok_, no_);
    setTabOrder(no_, cancel_);

    connect(yes_, &QPushButton::clicked, this, [this] { done(IDYES); });
    connect(no_, &QPushButton::clicked, this, [this] { done(IDNO); });
    connect(ok_, &QPushButton::clicked, this, [this] { done(IDOK); });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(IDCANCEL); });
}

QPushButton* CMessageDlg::Button(int id) const {
    switch (id) {
        case IDYES:
            return yes_;
        case IDNO:
            return no_;
        case IDOK:
            return ok_;
        case IDCANCEL:
            return cancel_;
        default:
            return nullptr;
    }
}

void CMessageDlg::reject() {
    done(IDCANCEL);
}

void CMessageDlg::OnInitDialog() {
    // The text field: 8.5-point Arial in black on the menu colour, its text
    // starting 10 pixels in from the left edge.
    QFont textFont(QStringLiteral("Arial"));
    textFont.setStyleHint(QFont::SansSerif);
    textFont.setPointSizeF(8.5);
    textFont.setBold(false);
    textField_->setFont(textFont);
    textField_->document()->setDefaultFont(textFont);
    textField_->document()->setDocumentMargin(0);
    QTextFrameFormat frame = textField_->document()->rootFrame()->frameFormat();
    frame.setLeftMargin(10);
    textField_->document()->rootFrame()->setFrameFormat(frame);
    QPalette palette = textField_->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, MenuColour());
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    textField_->setPalette(palette);

    const QStringList* given = captions ? &*captions : nullptr;
    switch (style) {
        case MB_OK:
            if (given != nullptr && !given->isEmpty()) {
                ok_->setText(given->at(0));  // also when empty
            }
            cancel_->setEnabled(false);
            cancel_->hide();
            break;
        case MB_OKCANCEL:
            if (given != nullptr && !given->isEmpty() && !given->at(0).isEmpty()) {
                ok_->setText(given->at(0));
                if (given->size() > 1 && !given->at(1).isEmpty()) {
                    cancel_->setText(given->at(1));
                }
            }
            break;
        case MB_YESNO: {
            ok_->setEnabled(false);
            ok_->hide();
            yes_->setEnabled(true);
            yes_->show();
            no_->setEnabled(true);
            no_->show();
            QPushButton* targets[] = {yes_, no_, cancel_};
            for (int k = 0; given != nullptr && k < 3 && k < given->size(); ++k) {
                if (given->at(k).isEmpty()) {
                    break;
                }
                targets[k]->setText(given->at(k));
            }
            break;
        }
        default:
            break;
    }

    setWindowTitle(title ? *title : QString::fromLatin1(kDefaultMessageTitle));
    if (text) {
        textField_->setPlainText(*text);
    }
    QApplication::beep();

    // Focus to the first enabled button in tab order.
    for (QPushButton* b : {yes_, ok_, no_, cancel_}) {
        if (b->isEnabled() && !b->isHidden()) {
            b->setFocus();
            break;
        }
    }
}

int CMessageDlg::DoModal() {
    OnInitDialog();
    return exec();
}

int RunMessageDialog(const std::optional<QString>& text, const std::optional<QString>& title,
                     const std::optional<QStringList>& captions, int style) {
    CMessageDlg dialog(VisibleMainWindow());
    dialog.text = text;
    dialog.title = title;
    dialog.captions = captions;
    dialog.style = style;
    return dialog.DoModal();
}

void InstallMessageDialog() {
    SetMessageHandler(OnUiThread([](const std::string& text, const MessageTitle& title,
                                    const std::vector<std::string>& captions, int style) {
        std::optional<QStringList> list;
        if (!captions.empty()) {
            list.emplace();
            for (const std::string& c : captions) {
                list->append(QString::fromStdString(c));
            }
        }
        std::optional<QString> shownTitle;
        if (title) {
            shownTitle = QString::fromStdString(*title);
        }
        return RunMessageDialog(QString::fromStdString(text), shownTitle, list, style);
    }));
}

MessageHandler OnUiThread(MessageHandler inner) {
    return [inner = std::move(inner)](const std::string& text, const MessageTitle& title,
                                      const std::vector<std::string>& captions, int style) {
        if (!inner) {
            return static_cast<int>(IDCANCEL);
        }
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr || QThread::currentThread() == app->thread()) {
            return inner(text, title, captions, style);
        }
        int result = IDCANCEL;
        QMetaObject::invokeMethod(
            app, [&] { result = inner(text, title, captions, style); },
            Qt::BlockingQueuedConnection);
        return result;
    };
}

}  // namespace quarry
