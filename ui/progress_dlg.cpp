#include "ui/progress_dlg.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "res/images.h"
#include "ui/dialog_units.h"

namespace quarry {
namespace {

// Bitmap statics take their bitmap's size at the place of the template's
// control.
QLabel* BitmapStatic(QWidget* parent, const QPixmap& bitmap, QPoint at) {
    auto* label = new QLabel(parent);
    label->setPixmap(bitmap);
    label->move(at);
    label->adjustSize();
    return label;
}

// Drops user input meant for any window but one, and the shortcuts it would
// trigger elsewhere; a close request from the window system is refused.
// What the program sends itself passes.
class InputOnlyFor : public QObject {
  public:
    explicit InputOnlyFor(QWidget* window) : window_(window) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~InputOnlyFor() override { QCoreApplication::instance()->removeEventFilter(this); }
    InputOnlyFor(const InputOnlyFor&) = delete;
    InputOnlyFor& operator=(const InputOnlyFor&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
                // Sent by Qt, not by the window system, on a key typed anywhere.
                break;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ContextMenu:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::Close:
                if (!event->spontaneous()) {
                    return false;
                }
                break;
            default:
                return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (window_ == nullptr || (widget != nullptr && widget->window() == window_)) {
            return false;
        }
        event->ignore();
        return true;
    }

  private:
    QPointer<QWidget> window_;
};

}  // namespace

CProgressDlg::~CProgressDlg() {
    Close();
}

bool CProgressDlg::Open(int total) {
    Close();
    QWidget* owner = VisibleMainWindow();
    auto* window = new QDialog(owner);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    // A title bar without a close box: only the operation closes it.
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->setWindowTitle(QStringLiteral("Progress View"));
    window->setFont(DialogUnits::TemplateFont());
    const DialogUnits du(window->font());
    window->setFixedSize(du.X(264), du.Y(74));

    auto* icon = new QLabel(window);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setGeometry(du.X(10), du.Y(8), 32, 32);
    const BannerBitmaps& banners = Banners();
    BitmapStatic(window, banners.productName, QPoint(du.X(36), du.Y(7)));
    BitmapStatic(window, banners.notice, QPoint(du.X(60), du.Y(20)));

    if (!textFont_) {
        QFont font(QStringLiteral("Arial"));
        font.setStyleHint(QFont::SansSerif);
        font.setPointSizeF(8.5);
        textFont_ = font;
    }
    text_ = new QLabel(window);
    text_->setObjectName(QStringLiteral("text1011"));
    text_->setGeometry(du.Rect(7, 40, 250, 8));
    text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    text_->setFont(*textFont_);

    bar_ = new QProgressBar(window);
    bar_->setObjectName(QStringLiteral("progress1012"));
    bar_->setGeometry(du.Rect(7, 56, 250, 11));
    bar_->setTextVisible(false);
    // The control holds a 16-bit range end.
    rangeMax_ = total & 0xFFFF;
    position_ = 0;
    // An empty range shows an empty bar (Qt would animate a busy bar).
    bar_->setRange(0, rangeMax_ > 0 ? rangeMax_ : 1);
    bar_->setValue(0);

    // The template's OK and Abbrechen buttons exist but are hidden; work
    // that can be cancelled shows Abbrechen.
    for (const char* caption : {"OK", "Abbrechen"}) {
        auto* button = new QPushButton(QString::fromUtf8(caption), window);
        button->hide();
        cancel_ = button;
    }
    cancel_->setObjectName(QStringLiteral("cancel2"));
    cancel_->setGeometry(du.Rect(199, 36, 50, 14));
    cancelRequested_ = false;
    QObject::connect(cancel_, &QPushButton::clicked, window, [this] { cancelRequested_ = true; });
    // Escape, which closes a dialog, cancels too.
    QObject::connect(window, &QDialog::rejected, window, [this] { cancelRequested_ = true; });

    window_ = window;
    window->adjustSize();
    const QRect area = owner != nullptr ? owner->frameGeometry()
                                        : QApplication::primaryScreen()->availableGeometry();
    // A window's position is that of its frame.
    auto centre = [&] {
        QRect frame = window->frameGeometry();
        frame.moveCenter(area.center());
        window->move(frame.topLeft());
    };
    centre();
    window->show();
    centre();  // the frame is known once shown
    Paint();
    return true;
}

void CProgressDlg::SetText(const QString& text) {
    if (text_) {
        text_->setText(text);
        Paint();
    }
}

void CProgressDlg::Step() {
    if (!bar_) {
        return;
    }
    // Past the end the bar starts over, as the control does.
    position_ = position_ + 1 > rangeMax_ ? position_ + 1 - rangeMax_ - 1 : position_ + 1;
    bar_->setValue(rangeMax_ > 0 ? position_ : 0);
    Paint();
}

void CProgressDlg::Close() {
    if (window_) {
        delete window_.data();
    }
    window_ = nullptr;
    bar_ = nullptr;
    text_ = nullptr;
    cancel_ = nullptr;
}

void CProgressDlg::SetCancellable(bool cancellable) {
    cancelRequested_ = false;
    if (cancel_) {
        cancel_->setVisible(cancellable);
    }
}

void CProgressDlg::HandleEvents() {
    if (!window_) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    InputOnlyFor modal(window_);
    QApplication::processEvents();
}

void CProgressDlg::Paint() {
    if (!window_) {
        return;
    }
    window_->repaint();
    // Lets the window system map and expose the window; input stays queued
    // until the operation is done.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

CProgressDlg& ProgressDialog() {
    static CProgressDlg dialog;
    return dialog;
}

}  // namespace quarry
