// Renders the open dialog with its reading-mode list, the progress window and
// the About box into PNG files, for looking at the layout under Xvfb:
//   open_files_screenshots OUTPUT_DIR [FOLDER]
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>

#include "app/main_frame.h"
#include "app/open_files.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "ui/about_dlg.h"
#include "ui/progress_dlg.h"

namespace {

// The window with its frame, as the screen shows it.
void Grab(QWidget* window, const QString& path) {
    QApplication::processEvents();
    const QRect frame = window->frameGeometry();
    QPixmap shot =
        window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (shot.isNull() || QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        shot = window->grab();
    }
    shot.save(path);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    const QString out = args.value(1, QStringLiteral("."));
    const QString folder = args.value(2, QDir::currentPath());
    QDir().mkpath(out);
    quarry::CQuarryApp app;
    if (!app.InitInstance({})) {
        return 1;
    }
    QTimer::singleShot(400, [&] {
        auto* open = new quarry::CMyFileOpenDlg(app.MainWnd(), folder);
        open->show();
        QTimer::singleShot(400, [&, open] {
            Grab(open, out + QStringLiteral("/open_dialog.png"));
            delete open;

            quarry::CProgressDlg& progress = quarry::ProgressDialog();
            progress.Open(4);
            progress.SetText(QStringLiteral("Joining 3 files."));
            progress.Step();
            progress.Step();
            QTimer::singleShot(400, [&] {
                Grab(progress.Window(), out + QStringLiteral("/progress.png"));
                progress.Close();

                auto* about = new quarry::CAboutDlg(app.MainWnd());
                about->show();
                QTimer::singleShot(400, [&, about] {
                    Grab(about, out + QStringLiteral("/about.png"));
                    delete about;
                    for (auto* doc : app.Documents()) {
                        doc->SetModifiedFlag(false);
                    }
                    QApplication::quit();
                });
            });
        });
    });
    return QApplication::exec();
}
