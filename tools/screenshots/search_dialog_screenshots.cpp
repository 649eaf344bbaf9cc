// Not a test: renders the search dialog idle (coloured expressions, a marked
// group, a substitution), during a Replace All (Cancel, progress) and
// resized, as PNG files in the folder given (default: the current one).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "search_dialog/search_dialog_link.h"
#include "search_dialog/search_replace_dlg.h"
#include "ui/expr_combo_box.h"

using namespace quarry;

namespace {

void Save(QWidget* w, const QString& path) {
    QApplication::processEvents();
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "can't write %s\n", qPrintable(path));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    OverrideSearchSettingsPath(QDir(dir.path()).filePath("settings.dat").toStdString());
    auto app = std::make_unique<CQuarryApp>();
    if (!app->InitInstance({})) {
        return 1;
    }
    InstallSearchDialog(*app->MainWnd(), app->HelpFilePath().toStdString());
    CQuarryView* view = app->MainWnd()->ActiveView();
    QByteArray text;
    for (int i = 0; i < 400000; ++i) {
        text += "key" + QByteArray::number(i) + "=" + QByteArray::number(i * 7) + "\n";
    }
    view->GetDocument()->Text().LoadBytes(text);
    view->SetSel(0, 0);

    CSearchReplaceDlg* dialog = ShowSearchDialog();
    dialog->SearchCombo()->setEditText(QStringLiteral("(\\w+)=(\\d+)[^\\]a-z]+\\x4F:2"));
    dialog->RewriteCombo()->setEditText(QStringLiteral("\\2=\\1\\t\\U!"));
    dialog->RecordHistories();
    dialog->SearchCombo()->setEditText(QStringLiteral("(\\w+)=(\\d+)"));
    dialog->RewriteCombo()->setEditText(QStringLiteral("\\2=\\1\\t"));
    dialog->RunCommand(Command::kSearch);
    // The group suffix marks group 2 (it is searched for too, so it comes
    // after the Search).
    dialog->SearchCombo()->setEditText(QStringLiteral("(\\w+)=(\\d+):2"));
    dialog->Ui().close->setFocus();
    Save(dialog, out + "/search_dialog_idle.png");

    // During a run: grab once the bar has moved, then let the run go on.
    bool grabbed = false;
    QObject::connect(dialog->ProgressBar(), &QProgressBar::valueChanged, dialog, [&](int value) {
        if (!grabbed && value >= 20) {
            grabbed = true;
            Save(dialog, out + "/search_dialog_running.png");
            dialog->OnCancel();
        }
    });
    dialog->Ui().newFile->setChecked(true);
    dialog->RunCommand(Command::kReplaceAll);
    if (!grabbed) {
        std::fprintf(stderr, "the run ended before the bar moved\n");
    }

    dialog->ResizeOuter(860, 380);
    QApplication::processEvents();
    Save(dialog, out + "/search_dialog_resized.png");
    dialog->ResizeOuter(100, 100);
    QApplication::processEvents();
    Save(dialog, out + "/search_dialog_minimum.png");
    Save(app->MainWnd(), out + "/search_dialog_main_window.png");

    for (CQuarryDoc* doc : app->Documents()) {
        doc->SetModifiedFlag(false);
    }
    delete dialog;
    app.reset();
    return 0;
}
