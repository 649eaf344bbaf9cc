#include <QApplication>

#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "res/images.h"
#include "search_dialog/search_dialog_link.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(quarry::AppIcon());
    quarry::CQuarryApp app;
    app.ConnectAboutBox();
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!app.InitInstance(arguments)) {
        return 1;
    }
    quarry::InstallSearchDialog(*app.MainWnd(), app.HelpFilePath().toStdString());
    if (app.quitAfterStartup) {
        return 0;
    }
    return QApplication::exec();
}
