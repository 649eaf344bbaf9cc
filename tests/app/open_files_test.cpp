#include "app/open_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/child_frame.h"
#include "app/file_names.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/command_ids.h"
#include "search/host.h"
#include "search/text_buffer.h"
#include "ui/about_dlg.h"
#include "ui/progress_dlg.h"

namespace quarry {
namespace {

// Remembers what the operation showed in its progress window.
class ProgressLog : public ProgressDisplay {
  public:
    bool Open(int total) override {
        totals.push_back(total);
        open = true;
        const QCursor* cursor = QApplication::overrideCursor();
        waitCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
        return true;
    }
    void SetText(const QString& text) override { texts << text; }
    void Step() override { ++steps; }
    void Close() override { open = false; }
    std::vector<int> totals;
    QStringList texts;
    int steps = 0;
    bool open = false;
    bool waitCursor = false;
};

struct Shown {
    std::string text;
    MessageTitle title;
    std::vector<std::string> captions;
    int style;
};

const QByteArray kCrLfNul("one\r\ntwo\0three\r\n", 16);
const QByteArray kCtrlZ("before\r\n\x1A after", 15);
const QByteArray kPlain("plain");

class OpenFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SearchDialog() = SearchDialogLink{};
        QSettings(ProfilePath(), QSettings::IniFormat).clear();
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + "/";
        Write("a.txt", kCrLfNul);
        Write("b.txt", kCtrlZ);
        Write("c.txt", kPlain);
        app = std::make_unique<CQuarryApp>();
        ASSERT_TRUE(app->InitInstance({}));
        SetMessageHandler([this](const std::string& text, const MessageTitle& title,
                                 const std::vector<std::string>& captions, int style) {
            shown.push_back({text, title, captions, style});
            return answer;
        });
        hooks.progress = &progress;
    }
    void TearDown() override {
        SetMessageHandler(nullptr);
        for (CQuarryDoc* doc : app->Documents()) {
            doc->SetModifiedFlag(false);
        }
        app.reset();
    }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // The dialog as if the user chose these names in dir with this mode.
    void Choose(const QStringList& names, JoinMode mode) {
        hooks.runDialog = [this, names, mode](QString& f, QStringList& n, JoinMode& m) {
            f = folder;
            n = names;
            m = mode;
            return int(names.size());
        };
    }
    QString Stream(CQuarryDoc* doc) {
        std::string out;
        doc->Text().AppendBytes(out);
        return QString::fromStdString(out);
    }
    CMainFrame* frame() const { return app->MainWnd(); }
    QString ProfileFolder() {
        return QSettings(ProfilePath(), QSettings::IniFormat)
            .value("Quarry/FileOpenDir")
            .toString();
    }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<CQuarryApp> app;
    std::vector<Shown> shown;
    int answer = IDYES;
    ProgressLog progress;
    OpenFilesHooks hooks;
};

TEST(JoinFiles, TextModeTranslatesLineEndsAndStopsAtCtrlZ) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    for (auto [name, bytes] : {std::pair{"a", kCrLfNul}, {"b", kCtrlZ}, {"c", kPlain}}) {
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    TextBuffer buffer;
    int steps = 0;
    ASSERT_EQ(JoinFiles(folder, {"a", "b", "c"}, JoinMode::kText, buffer, [&] { ++steps; }),
              JoinOutcome::Joined);
    EXPECT_EQ(std::string(buffer.Data(), buffer.Length()),
              std::string("one\ntwo\0three\n\nbefore\n\nplain\n", 29));
    EXPECT_EQ(steps, 4);  // one before the first file, one after each

    TextBuffer binary;
    ASSERT_EQ(JoinFiles(folder, {"c", "a", "b"}, JoinMode::kBinary, binary, [] {}),
              JoinOutcome::Joined);
    EXPECT_EQ(std::string(binary.Data(), binary.Length()),
              "plain\none\r\ntwo three\r\n\nbefore\r\n\x1A after\n");
}

TEST_F(OpenFilesTest, JoinAsksThenMakesOneUntitledDocument) {
    Choose({"a.txt", "b.txt", "c.txt"}, JoinMode::kText);
    answer = IDYES;
    OpenFiles(*app, hooks);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              "You have selected 3 files.\nShould they be joined or opened "
              "separately ?");
    EXPECT_EQ(shown[0].title, MessageTitle("join files ?"));
    EXPECT_EQ(shown[0].captions, std::vector<std::string>({"&Join", "&Separately"}));
    EXPECT_EQ(shown[0].style, MB_YESNO);

    // new1 from start-up and the joined new2; the three files stay closed.
    ASSERT_EQ(app->Documents().size(), 2);
    CQuarryDoc* joined = app->Documents().back();
    EXPECT_EQ(joined->GetTitle(), "new2");
    EXPECT_TRUE(joined->GetPathName().isEmpty());
    EXPECT_EQ(frame()->ActiveView()->GetDocument(), joined);
    const QString text = Stream(joined);
    EXPECT_TRUE(text.startsWith("one")) << text.toStdString();
    EXPECT_TRUE(text.contains("before")) << text.toStdString();
    EXPECT_FALSE(text.contains("after")) << text.toStdString();
    EXPECT_TRUE(text.contains("plain")) << text.toStdString();

    EXPECT_EQ(progress.totals, std::vector<int>({4}));
    EXPECT_EQ(progress.texts, QStringList({"Joining 3 files."}));
    EXPECT_EQ(progress.steps, 4);
    EXPECT_FALSE(progress.open);
    EXPECT_TRUE(progress.waitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(ProfileFolder(), folder);
    EXPECT_EQ(fileOpenDir, folder);
}

// Former fault: the joined bytes became a UTF-8 document, so Latin-1 bytes
// were re-encoded (E9 saved as C3 A9) and searched differently than alone.
TEST_F(OpenFilesTest, AJoinedTextKeepsItsBytes) {
    const QByteArray first("caf\xE9=1\r\n");
    const QByteArray second("\x80 5\n");
    for (const auto& [name, bytes] : {std::pair{"l1.txt", first}, std::pair{"l2.txt", second}}) {
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    Choose({"l1.txt", "l2.txt"}, JoinMode::kBinary);
    answer = IDYES;
    OpenFiles(*app, hooks);
    CQuarryDoc* joined = app->Documents().back();
    EXPECT_EQ(joined->Text().SaveBytes(), first + "\n" + second + "\n");
    EXPECT_EQ(joined->Text().Format().encoding, TextEncoding::Bytes8);
    EXPECT_TRUE(joined->IsModified());
}

TEST_F(OpenFilesTest, SeparatelyOpensEachFileAndActivatesOneAlreadyOpen) {
    ASSERT_NE(app->OpenDocumentFile(folder + "b.txt"), nullptr);
    const int before = int(app->Documents().size());
    Choose({"a.txt", "b.txt", "c.txt"}, JoinMode::kBinary);
    answer = IDNO;
    OpenFiles(*app, hooks);
    ASSERT_EQ(shown.size(), 1u);  // only the question
    QStringList titles;
    for (CQuarryDoc* doc : app->Documents()) {
        titles << doc->GetTitle();
    }
    // b.txt was open already: activated, not opened twice.
    EXPECT_EQ(int(app->Documents().size()), before + 2);
    EXPECT_EQ(titles.count("b.txt"), 1);
    EXPECT_TRUE(titles.contains("a.txt"));
    EXPECT_EQ(frame()->ActiveView()->GetDocument()->GetTitle(), "c.txt");
    // Documents load the file as it is, whatever the reading mode.
    for (CQuarryDoc* doc : app->Documents()) {
        if (doc->GetTitle() == "a.txt") {
            EXPECT_EQ(doc->Text().SaveBytes(), kCrLfNul);
        }
    }
    EXPECT_EQ(progress.totals, std::vector<int>({4}));
    EXPECT_EQ(progress.texts, QStringList({"Open 3 files separately"}));
    EXPECT_EQ(progress.steps, 4);
    EXPECT_FALSE(progress.open);
}

TEST_F(OpenFilesTest, OneFileOpensWithoutAQuestion) {
    Choose({"c.txt"}, JoinMode::kBinary);
    OpenFiles(*app, hooks);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(app->Documents().back()->GetTitle(), "c.txt");
    EXPECT_EQ(progress.totals, std::vector<int>({2}));
    EXPECT_EQ(progress.steps, 2);
}

TEST_F(OpenFilesTest, CancelInTheDialogOrTheQuestionOpensNothingButKeepsTheFolder) {
    fileOpenDir = "/somewhere/else/";
    hooks.runDialog = [](QString&, QStringList&, JoinMode&) { return 0; };
    OpenFiles(*app, hooks);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_EQ(ProfileFolder(), "/somewhere/else/");  // written after Cancel too
    // Former fault: a progress window flashed "Open 0 files separately".
    EXPECT_TRUE(progress.texts.isEmpty());
    EXPECT_TRUE(progress.totals.empty());

    progress = ProgressLog{};
    Choose({"a.txt", "b.txt"}, JoinMode::kText);
    answer = IDCANCEL;
    OpenFiles(*app, hooks);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_TRUE(progress.totals.empty());
    EXPECT_EQ(ProfileFolder(), folder);  // the chosen folder was already taken
}

TEST_F(OpenFilesTest, AnUnreadableFileWhileJoiningGivesOnlyItsLineFeed) {
    Choose({"c.txt", "missing.txt", "c.txt"}, JoinMode::kText);
    answer = IDYES;
    OpenFiles(*app, hooks);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].title, MessageTitle("Dateizugriff verweigert"));
    EXPECT_NE(shown[1].text.find((folder + "missing.txt").toStdString()), std::string::npos);
    ASSERT_EQ(app->Documents().size(), 2);
    const QString text = Stream(app->Documents().back());
    EXPECT_EQ(text.count("plain"), 2);
    EXPECT_EQ(progress.steps, 4);
}

TEST_F(OpenFilesTest, AFailingFileWhileOpeningSeparatelyStopsTheRest) {
    Choose({"a.txt", "missing.txt", "c.txt"}, JoinMode::kText);
    answer = IDNO;
    OpenFiles(*app, hooks);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].text, FileAccessDeniedText((folder + "missing.txt").toStdString()));
    EXPECT_EQ(shown[2].text, "Opening more files is not possible.");
    EXPECT_EQ(shown[2].title, std::nullopt);  // the default title
    EXPECT_EQ(shown[2].style, MB_OK);
    QStringList titles;
    for (CQuarryDoc* doc : app->Documents()) {
        titles << doc->GetTitle();
    }
    EXPECT_EQ(titles, QStringList({"new1", "a.txt"}));
    EXPECT_EQ(progress.steps, 2);
    EXPECT_FALSE(progress.open);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // restored on the early way out
}

TEST_F(OpenFilesTest, FilesOfTwoGigabytesAreRefusedBeforeReading) {
    // Sparse: no disk space is used.
    {
        QFile big(folder + "big.bin");
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(qint64(1) << 31));
    }
    Choose({"c.txt", "big.bin"}, JoinMode::kBinary);
    answer = IDYES;
    OpenFiles(*app, hooks);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, QString(kFileTooLarge).arg(folder + "big.bin").toStdString());
    EXPECT_EQ(app->Documents().size(), 1);  // nothing joined, nothing wrapped round

    shown.clear();
    answer = IDNO;
    OpenFiles(*app, hooks);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].text, QString(kFileTooLarge).arg(folder + "big.bin").toStdString());
    EXPECT_EQ(shown[2].text, "Opening more files is not possible.");
    EXPECT_EQ(app->Documents().back()->GetTitle(), "c.txt");

    // Two files that are each below the limit but not together.
    {
        QFile half(folder + "half.bin");
        ASSERT_TRUE(half.open(QIODevice::WriteOnly));
        ASSERT_TRUE(half.resize((qint64(1) << 30) + 10));
    }
    TextBuffer buffer;
    shown.clear();
    EXPECT_EQ(JoinFiles(folder, {"half.bin", "half.bin"}, JoinMode::kBinary, buffer, [] {}),
              JoinOutcome::TooLarge);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, kJoinTooLarge);
    EXPECT_EQ(buffer.Length(), 0);
}

TEST_F(OpenFilesTest, TheDialogOffersFiltersAndModesAndReturnsTheChoice) {
    QString chosenFolder = folder;
    QStringList names = {"unchanged"};
    // Not the dialog's first choice, so that a Cancel that wrote it shows.
    JoinMode mode = JoinMode::kBinary;
    // Cancel changes nothing.
    EXPECT_EQ(RunOpenDialog(chosenFolder, names, mode,
                            [](CMyFileOpenDlg& d) {
                                d.reject();
                                return d.result();
                            }),
              0);
    EXPECT_EQ(names, QStringList({"unchanged"}));
    EXPECT_EQ(mode, JoinMode::kBinary);

    const int n = RunOpenDialog(chosenFolder, names, mode, [&](CMyFileOpenDlg& d) {
        EXPECT_EQ(d.nameFilters(),
                  QStringList({"all files (*.*)", "textfiles (*.txt)",
                               "C/C++ sourcecode (*.c; *.cpp; *.h)", "HTML files (*.htm; *.html)",
                               "XML files (.*xml; *.xsl; *dtd)"}));
        EXPECT_EQ(d.selectedNameFilter(), "all files (*.*)");
        // The patterns are the filters' own, not read out of their texts: all
        // files includes names without a dot, and the XML entry's text names
        // its patterns wrongly.
        auto* model = d.findChild<QFileSystemModel*>();
        EXPECT_NE(model, nullptr);
        auto* types = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        EXPECT_NE(types, nullptr);
        if (model != nullptr && types != nullptr) {
            EXPECT_EQ(model->nameFilters(), QStringList({"*"}));
            types->setCurrentIndex(4);
            emit types->activated(4);
            EXPECT_EQ(model->nameFilters(), QStringList({"*.xml", "*.xsl", "*.dtd"}));
            types->setCurrentIndex(0);
            emit types->activated(0);
            EXPECT_EQ(model->nameFilters(), QStringList({"*"}));
        }
        EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFiles);
        EXPECT_EQ(QDir(d.directory()).absolutePath(), QDir(folder).absolutePath());
        EXPECT_EQ(d.modeList->count(), 2);
        EXPECT_EQ(d.modeList->item(0)->text(), QString::fromUtf8("Bin\xC3\xA4rmodus"));
        EXPECT_EQ(d.modeList->item(1)->text(), "Textmodus");
        EXPECT_EQ(d.modeList->currentRow(), int(JoinMode::kText));
        EXPECT_TRUE(d.modeList->isVisibleTo(&d));
        d.modeList->setCurrentRow(int(JoinMode::kBinary));
        d.selectFile("\"c.txt\" \"a.txt\"");
        static_cast<QDialog&>(d).accept();
        return d.result();
    });
    EXPECT_EQ(n, 2);
    EXPECT_EQ(chosenFolder, folder);
    EXPECT_EQ(names, QStringList({"c.txt", "a.txt"}));
    EXPECT_EQ(mode, JoinMode::kBinary);

    // The mode is not remembered: the next dialog starts with text mode.
    RunOpenDialog(chosenFolder, names, mode, [](CMyFileOpenDlg& d) {
        EXPECT_EQ(d.modeList->currentRow(), int(JoinMode::kText));
        EXPECT_EQ(d.readMode, JoinMode::kText);
        return 0;
    });
}

TEST_F(OpenFilesTest, TheChosenFolderIsRememberedAcrossARestart) {
    OpenFilesHooks viaDialog;
    viaDialog.progress = &progress;
    viaDialog.runDialog = [this](QString& f, QStringList& n, JoinMode& m) {
        return RunOpenDialog(f, n, m, [this](CMyFileOpenDlg& d) {
            d.setDirectory(folder);
            d.selectFile("c.txt");
            static_cast<QDialog&>(d).accept();
            return d.result();
        });
    };
    fileOpenDir.clear();
    OpenFiles(*app, viaDialog);
    EXPECT_EQ(app->Documents().back()->GetTitle(), "c.txt");
    for (CQuarryDoc* doc : app->Documents()) {
        doc->SetModifiedFlag(false);
    }
    app.reset();
    fileOpenDir.clear();

    app = std::make_unique<CQuarryApp>();
    ASSERT_TRUE(app->InitInstance({}));
    EXPECT_EQ(fileOpenDir, folder);
    QString seen;
    QStringList names;
    JoinMode mode = JoinMode::kText;
    RunOpenDialog(fileOpenDir, names, mode, [&](CMyFileOpenDlg& d) {
        seen = QDir(d.directory()).absolutePath() + "/";
        return 0;
    });
    EXPECT_EQ(seen, folder);
}

TEST_F(OpenFilesTest, OpenCommandRunsTheOpenDialog) {
    // The menu command reaches the dialog; closing it opens nothing.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CMyFileOpenDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->reject();
    });
    frame()->Command(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(app->Documents().size(), 1);
    EXPECT_TRUE(shown.empty());
}

// Fault: the dialog gives a name that is not UTF-8 as Qt shows it, with
// U+FFFD for the stray byte, and opening or joining that name failed.
TEST_F(OpenFilesTest, ANameThatIsNotUtf8OpensAndJoinsFromTheDialog) {
    const QByteArray strayName("caf\xe9.txt");
    {
        const QByteArray path = QFile::encodeName(folder) + strayName;
        QFile file;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        file.write("stray\n");
    }
    const QString shownName = QFile::decodeName(strayName);
    ASSERT_TRUE(shownName.contains(QChar(0xFFFD)));
    hooks.runDialog = [this, shownName](QString& f, QStringList& n, JoinMode& m) {
        return RunOpenDialog(f, n, m, [&](CMyFileOpenDlg& d) {
            d.setDirectory(folder);
            d.selectFile(shownName);
            // Qt's own check found no such file and said so in a modal box.
            QTimer::singleShot(3000, &d, [] {
                if (QWidget* box = QApplication::activeModalWidget()) {
                    box->close();
                }
            });
            static_cast<QDialog&>(d).accept();
            return d.result();
        });
    };
    const size_t before = app->Documents().size();
    OpenFiles(*app, hooks);
    ASSERT_EQ(app->Documents().size(), before + 1);
    EXPECT_EQ(Stream(app->Documents().back()), "stray\n");
    EXPECT_TRUE(shown.empty()) << shown.front().text;

    // Joined, the file was left out as missing.
    Choose({FileNameFromBytes(strayName), "c.txt"}, JoinMode::kText);
    answer = IDYES;
    OpenFiles(*app, hooks);
    ASSERT_EQ(app->Documents().size(), before + 2);
    EXPECT_EQ(Stream(app->Documents().back()), "stray\n\nplain\n");
    EXPECT_TRUE(shown.size() == 1 && shown[0].text.find("joined") != std::string::npos);
    ::unlink((QFile::encodeName(folder) + strayName).constData());  // Qt can't remove it
}

}  // namespace
}  // namespace quarry
