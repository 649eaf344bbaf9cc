// Files that go wrong under the shell: saving into a read-only folder, onto
// a full disk or interrupted half-way; files that vanish or turn unreadable
// between the open dialog and their reading; files too large to hold.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/open_files.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "search/host.h"
#include "search/text_buffer.h"
#include "tests/support/fault_support.h"
#include "ui/progress_dlg.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace quarry {
namespace {

// A progress window that runs `onStep` at each step: the open command's
// moments between the dialog and the reading of each file.
class SteppingProgress : public ProgressDisplay {
  public:
    bool Open(int) override { return true; }
    void SetText(const QString&) override {}
    void Step() override {
        if (onStep) {
            onStep(steps);
        }
        ++steps;
    }
    void Close() override {}
    std::function<void(int)> onStep;
    int steps = 0;
};

class FileFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        SearchDialog() = SearchDialogLink{};
        QSettings(ProfilePath(), QSettings::IniFormat).clear();
        app = std::make_unique<CQuarryApp>();
        ASSERT_TRUE(app->InitInstance({}));
        SetMessageHandler([this](const std::string& text, const MessageTitle& title,
                                 const std::vector<std::string>&, int) {
            shown.push_back({text, title.value_or("")});
            return int(IDYES);
        });
    }
    void TearDown() override {
        SetMessageHandler(nullptr);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (CQuarryDoc* doc : app->Documents()) {
            doc->SetModifiedFlag(false);
        }
        app.reset();
    }
    QString Write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return dir.filePath(name);
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    // An opened document whose text was then changed.
    CQuarryDoc* OpenChanged(const QString& path, const QByteArray& newText) {
        CQuarryDoc* doc = app->OpenDocumentFile(path);
        EXPECT_NE(doc, nullptr);
        if (doc != nullptr) {
            doc->Text().LoadBytes(newText);
            doc->SetModifiedFlag(true);
        }
        return doc;
    }
    // Saves with the framework's failure box answered; returns its text.
    QString SaveAndReadTheBox(CQuarryDoc* doc, bool& saved) {
        QString text;
        QTimer::singleShot(0, [&text] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                box->close();
            }
        });
        saved = doc->DoFileSave();
        QApplication::processEvents();
        return text;
    }
    QStringList Entries() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    struct Shown {
        std::string text;
        std::string title;
    };
    QTemporaryDir dir;
    std::unique_ptr<CQuarryApp> app;
    std::vector<Shown> shown;
};

const QByteArray kOriginal("the original\r\nas it was\r\n");

QByteArray LongText() {
    QByteArray text;
    for (int i = 0; i < 20000; ++i) {
        text += "a line of the new text " + QByteArray::number(i) + "\r\n";
    }
    return text;
}

// --- saving ---

TEST_F(FileFaults, SavingIntoAReadOnlyFolderKeepsTheFileAndTheChanges) {
    const QString path = Write("doc.txt", kOriginal);
    CQuarryDoc* doc = OpenChanged(path, "changed\r\n");
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    test::PermissionsHoldForRoot permissions;
    ASSERT_TRUE(permissions.holds());
    bool saved = true;
    const QString box = SaveAndReadTheBox(doc, saved);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(box.startsWith(path + "\nFailed to save document.\n")) << box.toStdString();
    EXPECT_GT(box.size(), path.size() + 26) << "the reason follows: " << box.toStdString();
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(Read(path), kOriginal);
    EXPECT_EQ(Entries(), QStringList{"doc.txt"});
}

TEST_F(FileFaults, SavingOntoAFullDiskKeepsTheFileAndTheChanges) {
    const QString path = Write("doc.txt", kOriginal);
    CQuarryDoc* doc = OpenChanged(path, LongText());
    ASSERT_NE(doc, nullptr);
    bool saved = true;
    QString box;
    {
        test::FileSizeLimit full(4096);
        ASSERT_TRUE(full.holds());
        box = SaveAndReadTheBox(doc, saved);
    }
    EXPECT_FALSE(saved);
    EXPECT_TRUE(box.startsWith(path + "\nFailed to save document.\n")) << box.toStdString();
    // Former fault: the reason read "Unknown error".
    EXPECT_FALSE(box.contains("Unknown error")) << box.toStdString();
    EXPECT_GT(box.size(), path.size() + 26) << "the reason follows: " << box.toStdString();
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(Read(path), kOriginal);
    EXPECT_EQ(Entries(), QStringList{"doc.txt"}) << "the partial temporary file is gone";
    // With room again the same save goes through.
    EXPECT_TRUE(doc->DoFileSave());
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(Read(path), LongText());
}

// Former fault: Save As started in the program's working folder with the
// name filled in, so Enter wrote a copy somewhere else.
TEST_F(FileFaults, SaveAsStartsAtTheDocumentsOwnFile) {
    const QString path = Write("doc.txt", kOriginal);
    CQuarryDoc* doc = OpenChanged(path, "changed\r\n");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->SaveAsStart(), QFileInfo(path).absoluteFilePath());
    CQuarryDoc* fresh = app->OnFileNew();
    fileOpenDir = dir.path() + "/";
    EXPECT_EQ(QFileInfo(fresh->SaveAsStart()).absoluteFilePath(),
              QFileInfo(dir.filePath(fresh->GetTitle())).absoluteFilePath());
}

TEST_F(FileFaults, ASaveInterruptedHalfWayLeavesTheOriginalFile) {
    const QString path = Write("doc.txt", kOriginal);
    CQuarryDoc* doc = OpenChanged(path, LongText());
    ASSERT_NE(doc, nullptr);
    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The process ends by SIGXFSZ at the file-size limit, in the middle
        // of writing, as if the machine had stopped there.
        signal(SIGXFSZ, SIG_DFL);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &limit);
        doc->OnSaveDocument(path);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the save was not interrupted";
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(Read(path), kOriginal);
    // The half-written temporary file is all that is left besides it.
    for (const QString& name : Entries()) {
        if (name != "doc.txt") {
            EXPECT_TRUE(name.startsWith("doc.txt.")) << name.toStdString();
            EXPECT_EQ(QFileInfo(dir.filePath(name)).size(), 4096);
        }
    }
}

// --- opening ---

TEST_F(FileFaults, FilesThatVanishOrTurnUnreadableBeforeTheyAreReadAreReportedAndJoiningGoesOn) {
    Write("a.txt", "first\r\n");
    Write("gone.txt", "vanishes\r\n");
    Write("locked.txt", "turns unreadable\r\n");
    Write("dir.txt", "becomes a folder\r\n");
    Write("z.txt", "last\r\n");
    const QString folder = dir.path() + "/";
    SteppingProgress progress;
    test::PermissionsHoldForRoot permissions;
    ASSERT_TRUE(permissions.holds());
    // The sizes are taken from all four first; the faults come after.
    progress.onStep = [&](int step) {
        if (step == 0) {
            QFile::remove(folder + "gone.txt");
            chmod(QFile::encodeName(folder + "locked.txt").constData(), 0);
            QFile::remove(folder + "dir.txt");
            QDir(folder).mkdir("dir.txt");
        }
    };
    OpenFilesHooks hooks;
    hooks.progress = &progress;
    hooks.runDialog = [&](QString& f, QStringList& names, JoinMode& mode) {
        f = folder;
        names = {"a.txt", "gone.txt", "locked.txt", "dir.txt", "z.txt"};
        mode = JoinMode::kText;
        return int(names.size());
    };
    OpenFiles(*app, hooks);
    ASSERT_EQ(shown.size(), 4u);  // the join question, then one per bad file
    for (const char* name : {"gone.txt", "locked.txt", "dir.txt"}) {
        const auto it = std::find_if(shown.begin(), shown.end(), [&](const Shown& s) {
            return s.text == FileAccessDeniedText((folder + name).toStdString());
        });
        ASSERT_NE(it, shown.end()) << name;
        EXPECT_EQ(it->title, kFileAccessDeniedTitle);
    }
    ASSERT_EQ(app->Documents().size(), 2);
    std::string text;
    app->Documents().back()->Text().AppendBytes(text);
    EXPECT_EQ(text, "first\n\n\n\n\nlast\n\n") << "each bad file gives only its line break";
}

TEST_F(FileFaults, FilesOfTwoGigabytesAreRefusedWhicheverWayTheyAreOpened) {
    // Sparse: no disk space is used. 4 GiB + 5 would pass for 5 bytes in 32 bits.
    for (const qint64 size : {qint64(1) << 31, (qint64(1) << 32) + 5}) {
        const QString path = dir.filePath(QStringLiteral("big%1.bin").arg(size));
        {
            QFile big(path);
            ASSERT_TRUE(big.open(QIODevice::WriteOnly));
            ASSERT_TRUE(big.resize(size));
        }
        shown.clear();
        // Dropped files, the recent-file list and the command line come here.
        // Were the file read, that would take gigabytes and minutes: the
        // alarm ends the test first.
        alarm(30);
        EXPECT_EQ(app->OpenDocumentFile(path), nullptr);
        alarm(0);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, QString(kFileTooLarge).arg(path).toStdString());
        EXPECT_EQ(app->Documents().size(), 1);

        TextBuffer buffer;
        shown.clear();
        EXPECT_EQ(JoinFiles(dir.path() + "/", {QFileInfo(path).fileName()}, JoinMode::kBinary,
                            buffer, [] {}),
                  JoinOutcome::TooLarge);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, QString(kFileTooLarge).arg(path).toStdString());
        EXPECT_EQ(buffer.Length(), 0);
    }
}

}  // namespace
}  // namespace quarry
