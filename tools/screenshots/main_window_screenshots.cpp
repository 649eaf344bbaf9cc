// Renders the main window with a document and a message dialog into PNG
// files, for looking at the layout (run under Xvfb or offscreen):
//   quarry_screenshots OUTPUT_DIR [FILE]
#include <Qsci/qsciprinter.h>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>

#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "ui/message_dlg.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    const QString out = args.value(1, QStringLiteral("."));
    QDir().mkpath(out);
    quarry::CQuarryApp app;
    QStringList startArgs;
    if (args.size() > 2) {
        startArgs << args[2];
    }
    if (!app.InitInstance(startArgs)) {
        return 1;
    }
    QTimer::singleShot(500, [&] {
        app.MainWnd()->grab().save(out + QStringLiteral("/main_window.png"));
        // A printed page, through the preview.
        if (quarry::CQuarryView* view = app.MainWnd()->ActiveView()) {
            QsciPrinter printer(QPrinter::HighResolution);
            QPrintPreviewWidget preview(&printer);
            QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, view,
                             [view](QPrinter* p) { view->PrintDocument(p); });
            preview.resize(600, 800);
            preview.show();
            preview.updatePreview();
            preview.fitInView();
            QApplication::processEvents();
            preview.grab().save(out + QStringLiteral("/print_preview.png"));
        }
        // The document menu's View popup, with its key hints.
        if (QMenu* view = app.MainWnd()->menuBar()->actions().value(2)->menu()) {
            emit view->aboutToShow();
            view->adjustSize();
            view->grab().save(out + QStringLiteral("/view_menu.png"));
        }
        QTimer::singleShot(300, [&] {
            auto* dialog = qobject_cast<quarry::CMessageDlg*>(QApplication::activeModalWidget());
            if (dialog != nullptr) {
                dialog->grab().save(out + QStringLiteral("/message_dialog.png"));
                dialog->Button(quarry::IDCANCEL)->click();
            }
            QTimer::singleShot(300, [&] {
                auto* join = qobject_cast<quarry::CMessageDlg*>(QApplication::activeModalWidget());
                if (join != nullptr) {
                    join->grab().save(out + QStringLiteral("/message_dialog_ok.png"));
                    join->Button(quarry::IDOK)->click();
                }
                for (auto* doc : app.Documents()) {
                    doc->SetModifiedFlag(false);
                }
                QApplication::quit();
            });
        });
        quarry::ShowMessage(
            "You have selected 3 files.\nShould they be joined or opened separately ?",
            "join files ?", {"&Join", "&Separately"}, quarry::MB_YESNO);
        quarry::ShowFileAccessDenied("/home/user/texts/locked.txt");
    });
    return QApplication::exec();
}
