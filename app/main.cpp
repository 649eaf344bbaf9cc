#include <QApplication>

#include "app/file_names.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "res/images.h"
#include "search_dialog/search_dialog_link.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(quarry::AppIcon());
    quarry::CQuarryApp app;
    app.ConnectAboutBox();
    // From argv, which QApplication has cleared of its own options: its
    // arguments() decode every name as UTF-8 and lose a name that is not.
    QStringList arguments;
    for (int k = 1; k < argc; ++k) {
        arguments << quarry::FileNameFromBytes(argv[k]);
    }
    if (!app.InitInstance(arguments)) {
        return 1;
    }
    quarry::InstallSearchDialog(*app.MainWnd(), app.HelpFilePath().toStdString());
    if (app.quitAfterStartup) {
        return 0;
    }
    return QApplication::exec();
}
