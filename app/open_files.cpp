#include "app/open_files.h"

#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QListWidget>
#include <QSettings>

#include "app/app_state.h"
#include "app/file_names.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "search/host.h"
#include "search/text_buffer.h"
#include "ui/progress_dlg.h"

namespace quarry {
namespace {

struct Filter {
    const char* text;
    const char* patterns;
};

// "all files" means every file, with or without a dot in its name.
constexpr Filter kFilters[] = {
    {"all files (*.*)", "*"},
    {"textfiles (*.txt)", "*.txt"},
    {"C/C++ sourcecode (*.c; *.cpp; *.h)", "*.c;*.cpp;*.h"},
    {"HTML files (*.htm; *.html)", "*.htm;*.html"},
    {"XML files (.*xml; *.xsl; *dtd)", "*.xml;*.xsl;*.dtd"},
};

std::string LocalPath(const QString& path) {
    return FileNameBytes(path).toStdString();
}

// The file's size by its own bytes (Qt's classes could not reach a name that
// is not UTF-8), or -1 when there is no such file.
int64_t FileSize(const QString& path) {
    struct stat info {};
    return ::stat(FileNameBytes(path).constData(), &info) == 0 ? int64_t{info.st_size} : -1;
}

// The wait cursor and the progress window for the span of the work; every
// way out restores the cursor and closes the window.
class BusyScope {
  public:
    BusyScope(ProgressDisplay& progress, int total) : progress_(progress) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        progress_.Open(total);
    }
    ~BusyScope() {
        QApplication::restoreOverrideCursor();
        progress_.Close();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    ProgressDisplay& progress_;
};

}  // namespace

CMyFileOpenDlg::CMyFileOpenDlg(QWidget* parent, const QString& folder)
    : QFileDialog(parent, QStringLiteral("Open"), folder) {
    // Qt's own dialog: the platform's can't carry the mode list.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFiles);
    setNameFilters(FilterTexts());
    connect(this, &QFileDialog::filterSelected, this, &CMyFileOpenDlg::ApplyFilter);
    // Runs after the dialog's own handling of the choice, which sets the
    // patterns it reads out of the text.
    if (auto* types = findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        connect(types, &QComboBox::activated, this,
                [this](int index) { ApplyFilter(FilterTexts().value(index)); });
    }
    selectNameFilter(FilterTexts().front());
    ApplyFilter(FilterTexts().front());
    OnInitDialog();
}

QStringList CMyFileOpenDlg::FilterTexts() {
    QStringList texts;
    for (const Filter& f : kFilters) {
        texts << QString::fromLatin1(f.text);
    }
    return texts;
}

QStringList CMyFileOpenDlg::FilterPatterns(int index) {
    if (index < 0 || index >= int(std::size(kFilters))) {
        return {};
    }
    return QString::fromLatin1(kFilters[index].patterns).split(QLatin1Char(';'));
}

void CMyFileOpenDlg::ApplyFilter(const QString& text) {
    // The dialog reads patterns out of the filter text; ours are separate
    // from the text, as the texts do not all name them right.
    const int index = int(FilterTexts().indexOf(text));
    if (auto* model = findChild<QFileSystemModel*>()) {
        model->setNameFilters(FilterPatterns(index < 0 ? 0 : index));
    }
}

void CMyFileOpenDlg::OnInitDialog() {
    modeList = new QListWidget(this);
    modeList->setObjectName(QStringLiteral("modeList101"));
    modeList->setSortingEnabled(true);
    modeList->setFixedSize(135, 40);
    modeList->addItem(QStringLiteral("Textmodus"));
    modeList->addItem(QString::fromUtf8("Bin\xC3\xA4rmodus"));
    modeList->setCurrentRow(static_cast<int>(JoinMode::kText));
    readMode = JoinMode::kText;
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(modeList, grid->rowCount(), 1, Qt::AlignLeft);
    }
    resize(width() + 55, height() + 110);
}

void CMyFileOpenDlg::done(int result) {
    readMode = modeList->currentRow() == static_cast<int>(JoinMode::kBinary) ? JoinMode::kBinary
                                                                             : JoinMode::kText;
    QFileDialog::done(result);
}

void CMyFileOpenDlg::accept() {
    // A name handed over with U+FFFD for a stray byte names no file for Qt.
    // When every chosen name is such a file, found by its bytes, the choice
    // stands; anything else goes through the dialog's own check. (Qt's own
    // dialog lists no such name at all; a desktop's dialog does.)
    const QStringList files = selectedFiles();
    bool stray = false;
    bool allFiles = !files.isEmpty();
    for (const QString& file : files) {
        const QString name = FileNameFromShown(file);
        struct stat info {};
        stray = stray || name != file;
        allFiles = allFiles && ::stat(FileNameBytes(name).constData(), &info) == 0 &&
                   !S_ISDIR(info.st_mode);
    }
    if (stray && allFiles) {
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

int RunOpenDialog(QString& folder, QStringList& names, JoinMode& readMode,
                  const OpenDialogRunner& run) {
    CQuarryApp* app = CQuarryApp::Instance();
    CMyFileOpenDlg dialog(app != nullptr ? app->MainWnd() : nullptr, folder);
    const int result = run ? run(dialog) : dialog.exec();
    QStringList chosen = dialog.selectedFiles();
    if (result != QDialog::Accepted || chosen.isEmpty()) {
        return 0;
    }
    // A name that is not UTF-8 comes back as Qt shows it; it is taken back to
    // the file's own bytes here, and split by hand, since Qt's path classes
    // would decode it again.
    for (QString& file : chosen) {
        file = FileNameFromShown(file);
    }
    const QString& first = chosen.front();
    folder = first.left(first.lastIndexOf(QLatin1Char('/')) + 1);
    names.clear();
    for (const QString& file : chosen) {
        names << file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    }
    readMode = dialog.readMode;
    return int(names.size());
}

JoinOutcome JoinFiles(const QString& folder, const QStringList& names, JoinMode readMode,
                      TextBuffer& buffer, const std::function<void()>& step) {
    // The estimate, in 64 bits: lengths are 32-bit, so a file or a total of
    // 2 GB or more is refused before anything is read.
    int64_t estimate = 0;
    for (const QString& name : names) {
        const int64_t size = FileSize(folder + name);
        if (size < 0) {
            continue;
        }
        if (size > kLargestFile) {
            ShowMessage(
                QString::fromLatin1(kFileTooLarge).arg(ShownFileName(folder + name)).toStdString());
            return JoinOutcome::TooLarge;
        }
        estimate += size + 2;
    }
    if (estimate + 1 > kLargestFile) {
        ShowMessage(kJoinTooLarge);
        return JoinOutcome::TooLarge;
    }
    if (!buffer.Reserve(static_cast<int32_t>(estimate + 1))) {
        ShowMessage(kMemoryDenied, std::string());
        return JoinOutcome::NoMemory;
    }
    step();
    for (const QString& name : names) {
        // A file that can't be read has had its message and gives only its
        // line break; one that can't be held must not silently go missing.
        if (buffer.AppendFile(LocalPath(folder + name), readMode) == TextBuffer::kFileNoRoom ||
            !buffer.Append("\n", 1)) {
            ShowMessage(kMemoryDenied, std::string());
            return JoinOutcome::NoMemory;
        }
        step();
    }
    return JoinOutcome::Joined;
}

void OpenFiles(CQuarryApp& app, const OpenFilesHooks& hooks) {
    QStringList names;
    JoinMode readMode = JoinMode::kText;
    const int n = hooks.runDialog ? hooks.runDialog(fileOpenDir, names, readMode)
                                  : RunOpenDialog(fileOpenDir, names, readMode);
    // The folder is remembered after every run of the dialog, Cancel too.
    app.Profile().setValue(QStringLiteral("%1/%2").arg(QString::fromLatin1(kProfileSection),
                                                       QString::fromLatin1(kFileOpenDirEntry)),
                           fileOpenDir);
    app.Profile().sync();

    if (n <= 0) {
        return;  // Cancel: no progress window flashes up for nothing
    }
    bool join = false;
    if (n >= 2) {
        const int answer = ShowMessage(QString::fromLatin1(kJoinQuestion).arg(n).toStdString(),
                                       std::string(kJoinTitle), {"&Join", "&Separately"}, MB_YESNO);
        if (answer == IDCANCEL) {
            return;
        }
        join = answer == IDYES;
    }

    ProgressDisplay& progress = hooks.progress ? *hooks.progress : ProgressDialog();
    const QString folder = fileOpenDir;
    BusyScope busy(progress, n + 1);
    if (join) {
        progress.SetText(QStringLiteral("Joining %1 files.").arg(n));
        TextBuffer buffer;
        if (JoinFiles(folder, names, readMode, buffer, [&] { progress.Step(); }) ==
            JoinOutcome::Joined) {
            // The joined bytes as they are: an 8-bit file must not be
            // re-encoded into a UTF-8 document.
            app.NewDocumentFromFileBytes(buffer);
        }
        return;
    }
    progress.SetText(QStringLiteral("Open %1 files separately").arg(n));
    progress.Step();
    for (const QString& name : names) {
        const QString path = folder + name;
        bool opened = false;
        if (FileSize(path) > kLargestFile) {
            ShowMessage(QString::fromLatin1(kFileTooLarge).arg(ShownFileName(path)).toStdString());
        } else {
            opened = app.OpenDocumentFile(path) != nullptr;
        }
        if (!opened) {
            // Cancel in the progress window stops the rest without a word.
            if (!app.LastOpenCancelled()) {
                ShowMessage(kOpenMoreImpossible);
            }
            return;
        }
        progress.Step();
    }
}

}  // namespace quarry
