#include "search/dialog/search_dialog_link.h"

#include <QDir>
#include <QPointer>
#include <QStandardPaths>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "search/dialog/search_replace_dlg.h"
#include "search/dialog/search_runner.h"
#include "search/settings_file.h"
#include "ui/message_dlg.h"

namespace quarry {
namespace {

QPointer<CSearchReplaceDlg>& Window() {
    static QPointer<CSearchReplaceDlg> window;
    return window;
}

std::string& PathOverride() {
    static std::string path;
    return path;
}

}  // namespace

void InstallSearchDialog() {
    SearchDialogLink& link = SearchDialog();
    link.find = [] { ShowSearchDialog(); };
    link.windowExists = [] { return !Window().isNull(); };
    link.updatePositionFields = [] {
        if (CSearchReplaceDlg* dialog = Window()) {
            dialog->UpdatePositionFields();
        }
    };
}

CSearchReplaceDlg* ShowSearchDialog() {
    if (CSearchReplaceDlg* dialog = Window()) {
        dialog->raise();
        dialog->activateWindow();
        dialog->setFocus();
        return dialog;
    }
    CQuarryApp* app = CQuarryApp::Instance();
    QWidget* owner = app != nullptr ? app->MainWnd() : nullptr;
    auto* dialog = new CSearchReplaceDlg(SearchSettingsPath(), owner);
    Window() = dialog;
    // Its end is its window's end: the next Find builds a new one, which reads
    // the settings this one wrote as it ended.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
        if (Window() == dialog) {
            Window() = nullptr;
        }
        dialog->deleteLater();
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

CSearchReplaceDlg* SearchDialogWindow() {
    return Window();
}

std::string SearchSettingsPath() {
    if (!PathOverride().empty()) {
        return PathOverride();
    }
    CQuarryApp* app = CQuarryApp::Instance();
    const QString help = app != nullptr ? app->HelpFilePath() : QString();
    const QString config =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("quarry"));
    return ChooseSettingsPath(help.toStdString(), config.toStdString());
}

void OverrideSearchSettingsPath(std::string path) {
    PathOverride() = std::move(path);
}

}  // namespace quarry
