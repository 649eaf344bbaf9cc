#include "app/quarry_app.h"

#include <sys/stat.h>

#include <Qsci/qsciprinter.h>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMessageBox>
#include <QPageSetupDialog>

#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>

#include <algorithm>

#include "app/app_state.h"
#include "app/child_frame.h"
#include "app/file_names.h"
#include "app/main_frame.h"
#include "app/open_files.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/command_ids.h"
#include "res/images.h"
#include "res/resource_tables.h"
#include "search/host.h"
#include "search/text_buffer.h"
#include "ui/about_dlg.h"
#include "ui/message_dlg.h"
#include "ui/progress_dlg.h"

namespace quarry {
namespace {

CQuarryApp* theApp = nullptr;

constexpr const char* kRecentSection = "Recent File List";

}  // namespace

CQuarryApp::CQuarryApp() {
    theApp = this;
}

CQuarryApp::~CQuarryApp() {
    if (mainFrame_) {
        for (CQuarryDoc* doc : documents_) {
            doc->SetModifiedFlag(false);
        }
        mainFrame_.reset();
    }
    if (theApp == this) {
        theApp = nullptr;
    }
}

CQuarryApp* CQuarryApp::Instance() {
    return theApp;
}

bool CQuarryApp::InitInstance(const QStringList& arguments) {
    // Qt draws its own widgets: no three-dimensional look to switch on.
    startupSteps << QStringLiteral("editor settings");
    editorFontSize = 185;
    editorFaceName = QStringLiteral("Courier New");
    wordWrapEnabled = 0;

    startupSteps << QStringLiteral("banners");
    if (!LoadBanners(QApplication::palette())) {
        return false;
    }

    startupSteps << QStringLiteral("profile");
    profile_ = OpenProfile();
    recentFiles_.clear();
    profile_->beginGroup(QString::fromLatin1(kRecentSection));
    for (int k = 1; k <= kRecentFileCount; ++k) {
        const QString file = profile_->value(QStringLiteral("File%1").arg(k)).toString();
        if (!file.isEmpty()) {
            recentFiles_.append(file);
        }
    }
    profile_->endGroup();
    fileOpenDir = profile_
                      ->value(QStringLiteral("%1/%2").arg(QString::fromLatin1(kProfileSection),
                                                          QString::fromLatin1(kFileOpenDirEntry)),
                              QString())
                      .toString();
    // The message dialog shows every message of the core from here on.
    InstallMessageDialog();

    // The editor is part of Qt: there is no library to load and check.
    startupSteps << QStringLiteral("document template");

    startupSteps << QStringLiteral("main window");
    mainFrame_ = std::make_unique<CMainFrame>(this);
    if (!mainFrame_->OnCreate()) {
        mainFrame_.reset();
        return false;
    }
    // Dropped files: the main window accepts them (CMainFrame::dropEvent).
    // The desktop entry registers the application with the shell.

    startupSteps << QStringLiteral("command line");
    if (!ProcessShellCommand(arguments)) {
        return false;
    }

    startupSteps << QStringLiteral("help file");
    QString help = QCoreApplication::applicationFilePath();
    const QFileInfo exe(help);
    help = exe.path() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".HLP");
    helpFilePath_ = help.replace(QStringLiteral(".HLP"), QStringLiteral(".chm"));

    if (quitAfterStartup) {
        return true;
    }
    startupSteps << QStringLiteral("show");
    ShowMainWindow();
    // The About box is shown here once it is connected.
    if (aboutBox) {
        startupSteps << QStringLiteral("about");
        aboutBox();
    }
    return true;
}

void CQuarryApp::ShowMainWindow() {
    if (!mainFrame_->isVisible()) {
        mainFrame_->resize(900, 640);
        mainFrame_->show();
    }
}

bool CQuarryApp::ProcessShellCommand(const QStringList& arguments) {
    // No argument: a new document. A file name: that file. "/p file" (or
    // "-p") prints it on the default printer, "/pt file printer" on the
    // named one; then the application ends.
    if (arguments.isEmpty()) {
        return OnFileNew() != nullptr;
    }
    const QString first = arguments.front();
    const bool print = first == QStringLiteral("/p") || first == QStringLiteral("-p");
    const bool printTo = first == QStringLiteral("/pt") || first == QStringLiteral("-pt");
    if ((print || printTo) && arguments.size() >= 2) {
        CQuarryDoc* doc = OpenDocumentFile(arguments[1]);
        if (doc == nullptr) {
            return false;
        }
        QsciPrinter printer;
        if (printTo && arguments.size() >= 3) {
            printer.setPrinterName(arguments[2]);
        }
        doc->Views().front()->PrintDocument(&printer);
        quitAfterStartup = true;
        return true;
    }
    // Every file named opens (a desktop entry passes several); one that can't
    // has had its message, and start-up goes on with the others. A big one
    // is read in pieces under the progress window: the main window shows
    // first, so the user sees something at once.
    for (const QString& path : arguments) {
        if (QFileInfo(path).size() > CQuarryDoc::loadPieceBytes) {
            ShowMainWindow();
            break;
        }
    }
    bool opened = false;
    for (const QString& path : arguments) {
        opened = OpenDocumentFile(path) != nullptr || opened;
    }
    return opened || OnFileNew() != nullptr;
}

void CQuarryApp::CreateView(CQuarryDoc* document, CQuarryView* view) {
    if (view == nullptr) {
        view = new CQuarryView(document);
    }
    auto* frame = new CChildFrame(view);
    view->OnInitialUpdate();
    for (CQuarryView* other : document->Views()) {
        if (auto* f = qobject_cast<CChildFrame*>(other->parentWidget())) {
            f->UpdateTitle();
        }
    }
    mainFrame_->AddChild(frame);
}

QString ProfilePath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("quarry/quarry.conf"));
}

std::unique_ptr<QSettings> OpenProfile() {
    const bool first = !QFileInfo::exists(ProfilePath());
    auto profile = std::make_unique<QSettings>(ProfilePath(), QSettings::IniFormat);
    if (first) {
        QSettings old(QString::fromLatin1(kRegistryKey), LoadString(IDS_APP_TITLE));
        for (const QString& key : old.allKeys()) {
            profile->setValue(key, old.value(key));
        }
        profile->sync();
    }
    return profile;
}

CQuarryDoc* CQuarryApp::OnFileNew(const std::function<void(CQuarryDoc*)>& prepare) {
    auto* doc = new CQuarryDoc(this);
    doc->OnNewDocument(QStringLiteral("new%1").arg(++untitledCount_));
    if (prepare) {
        prepare(doc);
    }
    documents_.append(doc);
    connect(doc, &CQuarryDoc::SavedAs, this, &CQuarryApp::AddToRecentFileList);
    CreateView(doc);
    return doc;
}

CQuarryDoc* CQuarryApp::OpenDocumentFile(const QString& path) {
    openCancelled_ = false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (CQuarryDoc* doc : documents_) {
        if (doc->GetPathName() == absolute && !doc->Views().isEmpty()) {
            if (auto* frame = qobject_cast<CChildFrame*>(doc->Views().front()->parentWidget())) {
                frame->ActivateFrame();
            }
            return doc;
        }
    }
    // Opening a FIFO would wait for a writer, and a device or socket has no
    // end: only regular files are opened (a folder fails as before).
    // The name's own bytes, which Qt's file classes may not reach.
    struct stat info {};
    const bool found = ::stat(FileNameBytes(path).constData(), &info) == 0;
    const std::string shown = ShownFileName(path).toStdString();
    if (found && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        ShowMessage(NotRegularFileText(shown, info.st_mode), kFileAccessDeniedTitle);
        return nullptr;
    }
    // Lengths are 32-bit: such a file is refused before anything is read.
    if (found && S_ISREG(info.st_mode) && info.st_size > kLargestFile) {
        ShowMessage(QString::fromLatin1(kFileTooLarge).arg(ShownFileName(path)).toStdString());
        return nullptr;
    }
    auto* doc = new CQuarryDoc(this);
    // The view comes first, on the empty text: a Scintilla view put on a
    // 100 MB text counts its lines for 30 ms and more in one step, while one
    // that is there as the pieces come in counts them piece by piece.
    auto* view = new CQuarryView(doc);
    const CQuarryDoc::OpenResult result = LoadDocument(doc, path);
    if (result != CQuarryDoc::OpenResult::Opened) {
        delete view;
        delete doc;
        openCancelled_ = result == CQuarryDoc::OpenResult::Cancelled;
        if (!openCancelled_) {
            ShowFileAccessDenied(shown);
        }
        return nullptr;
    }
    documents_.append(doc);
    connect(doc, &CQuarryDoc::SavedAs, this, &CQuarryApp::AddToRecentFileList);
    CreateView(doc, view);
    AddToRecentFileList(doc->GetPathName());
    return doc;
}

CQuarryDoc::OpenResult CQuarryApp::LoadDocument(CQuarryDoc* document, const QString& path) {
    if (QFileInfo(path).size() <= CQuarryDoc::loadPieceBytes) {
        return document->OpenInPieces(path, {});
    }
    // The Open command's progress window is up already; anyone else's open
    // brings its own.
    CProgressDlg& progress = ProgressDialog();
    const bool ownWindow = progress.Window() == nullptr;
    const int64_t pieces =
        (QFileInfo(path).size() + CQuarryDoc::loadPieceBytes - 1) / CQuarryDoc::loadPieceBytes;
    if (ownWindow) {
        progress.Open(int(std::min<int64_t>(pieces, 0xFFFF)));
        progress.SetText(QStringLiteral("Opening %1").arg(QFileInfo(path).fileName()));
    }
    progress.SetCancellable(true);
    const CQuarryDoc::OpenResult result =
        document->OpenInPieces(path, [&progress, ownWindow](int64_t done, int64_t) {
            if (ownWindow && done > 0) {
                progress.Step();
            }
            progress.HandleEvents();
            return !progress.CancelRequested();
        });
    progress.SetCancellable(false);
    if (ownWindow) {
        progress.Close();
    }
    return result;
}

void CQuarryApp::NewDocumentFromText(const TextBuffer& buffer) {
    OnFileNew();
    CQuarryView* view = mainFrame_->ActiveView();
    if (view == nullptr) {
        return;
    }
    view->setUpdatesEnabled(false);
    view->GetDocument()->Text().StreamIn(buffer);
    view->setUpdatesEnabled(true);
}

void CQuarryApp::NewDocumentFromFileBytes(const TextBuffer& buffer) {
    OnFileNew();
    CQuarryView* view = mainFrame_->ActiveView();
    if (view == nullptr) {
        return;
    }
    view->setUpdatesEnabled(false);
    CQuarryDoc* doc = view->GetDocument();
    doc->Text().LoadBytes(QByteArrayView(buffer.Data(), buffer.Length()));
    // Not saved anywhere yet: closing it asks, as for any new text.
    doc->SetModifiedFlag(buffer.Length() > 0);
    view->setUpdatesEnabled(true);
}

void CQuarryApp::OnWindowNew() {
    CQuarryView* view = mainFrame_->ActiveView();
    if (view != nullptr) {
        CreateView(view->GetDocument());
    }
}

void CQuarryApp::CloseDocument(CQuarryDoc* document) {
    const QList<CQuarryView*> views = document->Views();
    for (CQuarryView* view : views) {
        if (auto* frame = qobject_cast<CChildFrame*>(view->parentWidget())) {
            frame->CloseWithoutAsking();
        }
    }
    if (documents_.contains(document)) {
        DocumentClosed(document);
    }
}

void CQuarryApp::DocumentClosed(CQuarryDoc* document) {
    documents_.removeAll(document);
    document->deleteLater();
    if (mainFrame_) {
        mainFrame_->OnSubWindowActivated();
    }
}

void CQuarryApp::OnFileOpen() {
    OpenFiles(*this);
}

void CQuarryApp::ConnectAboutBox() {
    aboutBox = [this] { RunAboutBox(mainFrame_.get()); };
}

QPrinter* CQuarryApp::Printer() {
    if (!printer_) {
        printer_ = std::make_unique<QsciPrinter>(QPrinter::HighResolution);
    }
    return printer_.get();
}

void CQuarryApp::OnFilePrintSetup() {
    QPageSetupDialog dialog(Printer(), mainFrame_.get());
    dialog.exec();
}

void CQuarryApp::OnAppExit() {
    if (SearchDialog().running) {
        return;
    }
    mainFrame_->close();
}

void CQuarryApp::OnAppAbout() {
    if (aboutBox) {
        aboutBox();
    }
}

void CQuarryApp::AddToRecentFileList(const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    recentFiles_.removeAll(path);
    recentFiles_.prepend(path);
    while (recentFiles_.size() > kRecentFileCount) {
        recentFiles_.removeLast();
    }
}

CQuarryDoc* CQuarryApp::OpenRecentFile(const QString& path) {
    CQuarryDoc* doc = OpenDocumentFile(path);
    if (doc == nullptr && !openCancelled_) {
        recentFiles_.removeAll(path);
        SaveRecentFileList();
    }
    return doc;
}

void CQuarryApp::SaveRecentFileList() {
    if (!profile_) {
        return;
    }
    profile_->beginGroup(QString::fromLatin1(kRecentSection));
    for (int k = 1; k <= kRecentFileCount; ++k) {
        const QString key = QStringLiteral("File%1").arg(k);
        if (k <= recentFiles_.size()) {
            profile_->setValue(key, recentFiles_[k - 1]);
        } else {
            profile_->remove(key);
        }
    }
    profile_->endGroup();
    profile_->sync();
}

}  // namespace quarry
