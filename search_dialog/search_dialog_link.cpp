#include "search_dialog/search_dialog_link.h"

#include <QDir>
#include <QPointer>
#include <QStandardPaths>

#include "search/settings_file.h"
#include "search_dialog/search_replace_dlg.h"
#include "search_dialog/search_target.h"

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

struct Installed {
    SearchTarget* target = nullptr;
    std::string helpFilePath;
};

Installed& Install() {
    static Installed installed;
    return installed;
}

}  // namespace

void InstallSearchDialog(SearchTarget& target, std::string helpFilePath) {
    Install() = Installed{&target, std::move(helpFilePath)};
    SearchDialogLink link;
    link.find = [] { ShowSearchDialog(); };
    link.windowExists = [] { return !Window().isNull(); };
    link.updatePositionFields = [] {
        if (CSearchReplaceDlg* dialog = Window()) {
            dialog->UpdatePositionFields();
        }
    };
    link.activeDocumentChanged = [] {
        if (CSearchReplaceDlg* dialog = Window()) {
            dialog->OnActiveDocumentChanged();
        }
    };
    link.viewChanged = [] {
        if (CSearchReplaceDlg* dialog = Window()) {
            dialog->OnViewChanged();
        }
    };
    target.ConnectDialog(link);
}

CSearchReplaceDlg* ShowSearchDialog() {
    if (CSearchReplaceDlg* dialog = Window()) {
        dialog->raise();
        dialog->activateWindow();
        dialog->FocusSearchExpression();
        return dialog;
    }
    SearchTarget* target = Install().target;
    if (target == nullptr) {
        return nullptr;
    }
    auto* dialog = new CSearchReplaceDlg(*target, SearchSettingsPath(), target->OwnerWindow());
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
    dialog->FocusSearchExpression();
    return dialog;
}

CSearchReplaceDlg* SearchDialogWindow() {
    return Window();
}

std::string SearchSettingsPath() {
    if (!PathOverride().empty()) {
        return PathOverride();
    }
    const QString config =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("quarry"));
    return ChooseSettingsPath(Install().helpFilePath, config.toStdString());
}

void OverrideSearchSettingsPath(std::string path) {
    PathOverride() = std::move(path);
}

}  // namespace quarry
