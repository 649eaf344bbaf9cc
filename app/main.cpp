#include <QApplication>

#include "app/quarry_app.h"
#include "res/images.h"
#include "search/dialog/search_dialog_link.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(quarry::AppIcon());
    quarry::CQuarryApp app;
    quarry::InstallSearchDialog();
    app.ConnectAboutBox();
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!app.InitInstance(arguments)) {
        return 1;
    }
    if (app.quitAfterStartup) {
        return 0;
    }
    return QApplication::exec();
}
