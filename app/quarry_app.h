// CQuarryApp: start-up, the documents, the profile and the application-level
// commands (New, Open, Print Setup, Exit, About).
#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>

#include <functional>
#include <memory>

#include "app/quarry_doc.h"

class QPrinter;

namespace quarry {

class CMainFrame;
class CQuarryDoc;
class CQuarryView;
class TextBuffer;

// Where the profile (last Open folder, recent files) lived before it moved to
// the user's configuration folder: read once, when the new one does not exist.
inline constexpr const char* kRegistryKey = "Local AppWizard-Generated Applications";
inline constexpr const char* kProfileSection = "Quarry";
inline constexpr const char* kFileOpenDirEntry = "FileOpenDir";
inline constexpr int kRecentFileCount = 10;

// The profile: quarry.conf in Quarry's folder of the user's configuration
// (~/.config/quarry/quarry.conf).
QString ProfilePath();
// Opens the profile, taking over the old place's entries the first time.
std::unique_ptr<QSettings> OpenProfile();

class CQuarryApp : public QObject {
    Q_OBJECT
  public:
    CQuarryApp();
    ~CQuarryApp() override;

    static CQuarryApp* Instance();

    // Start-up in its fixed order; false ends the process.
    bool InitInstance(const QStringList& arguments);
    // Names of the start-up steps in the order they ran.
    QStringList startupSteps;
    // A print switch on the command line printed a document: nothing more to do.
    bool quitAfterStartup = false;

    CMainFrame* MainWnd() const { return mainFrame_.get(); }
    QString HelpFilePath() const { return helpFilePath_; }
    QSettings& Profile() { return *profile_; }

    // File New: a new empty document newN with its window, made active.
    // prepare runs on the document before it is listed or shown.
    CQuarryDoc* OnFileNew(const std::function<void(CQuarryDoc*)>& prepare = {});
    // Opens a file as a document, or activates it when it is open already.
    // A file of more than one piece is read piece by piece with the events
    // handled in between, under the progress window with its Cancel; a
    // cancelled open gives none and leaves no document behind.
    CQuarryDoc* OpenDocumentFile(const QString& path);
    // The last OpenDocumentFile that gave none was cancelled, not refused.
    bool LastOpenCancelled() const { return openCancelled_; }
    // A new UTF-8 document holding the buffer's bytes as one undo step.
    void NewDocumentFromText(const TextBuffer& buffer);
    // A new, modified document holding the buffer's bytes as a file's, in the
    // encoding and line-end style detected for them, so that they are saved
    // back unchanged.
    void NewDocumentFromFileBytes(const TextBuffer& buffer);
    // Another window on the document of the active one.
    void OnWindowNew();
    void OnFileOpen();
    void OnFilePrintSetup();
    void OnAppExit();
    void OnAppAbout();
    // Runs the About box when it is connected.
    std::function<void()> aboutBox;
    // Connects the About box: at the end of start-up and on Help > About.
    void ConnectAboutBox();

    const QList<CQuarryDoc*>& Documents() const { return documents_; }
    // Closes every window of the document without asking, then the document.
    void CloseDocument(CQuarryDoc* document);
    // Its last window has closed.
    void DocumentClosed(CQuarryDoc* document);
    QPrinter* Printer();

    QStringList RecentFiles() const { return recentFiles_; }
    void AddToRecentFileList(const QString& path);
    // Opens a file of the recent-file list; one that no longer opens has had
    // its message and leaves the list.
    CQuarryDoc* OpenRecentFile(const QString& path);
    void SaveRecentFileList();

  private:
    // A window for the document with a new view, or with view when given.
    void CreateView(CQuarryDoc* document, CQuarryView* view = nullptr);
    void ShowMainWindow();
    CQuarryDoc::OpenResult LoadDocument(CQuarryDoc* document, const QString& path);
    bool ProcessShellCommand(const QStringList& arguments);

    std::unique_ptr<QSettings> profile_;
    std::unique_ptr<CMainFrame> mainFrame_;
    std::unique_ptr<QPrinter> printer_;
    QList<CQuarryDoc*> documents_;
    QStringList recentFiles_;
    QString helpFilePath_;
    int untitledCount_ = 0;
    bool openCancelled_ = false;
};

}  // namespace quarry
