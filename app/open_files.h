// The Open command: the multi-select open dialog with its reading-mode list,
// and the opening of the chosen files one by one or joined into one new
// document.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

#include "search/text_buffer.h"

class QListWidget;

namespace quarry {

class CQuarryApp;
class ProgressDisplay;

// Lengths are 32-bit: a file or a joined text of this size can't be held.
inline constexpr int64_t kLargestFile = INT32_MAX - 4;

inline constexpr const char* kJoinQuestion =
    "You have selected %1 files.\nShould they be joined or opened separately ?";
inline constexpr const char* kJoinTitle = "join files ?";
inline constexpr const char* kMemoryDenied =
    "The System has denied the required Memory.\nMaybe there is not enough memory for this "
    "operation.";
inline constexpr const char* kOpenMoreImpossible = "Opening more files is not possible.";
inline constexpr const char* kFileTooLarge =
    "The file  \"%1\"  is too large: a document holds less than 2 GB.";
inline constexpr const char* kJoinTooLarge =
    "The selected files are too large to be joined: a document holds less than 2 GB.";

class CMyFileOpenDlg : public QFileDialog {
    Q_OBJECT
  public:
    CMyFileOpenDlg(QWidget* parent, const QString& folder);

    // The filter texts as the user sees them, and the patterns of each.
    static QStringList FilterTexts();
    static QStringList FilterPatterns(int index);

    // Taken from the list when the dialog closes.
    JoinMode readMode = JoinMode::kText;
    QListWidget* modeList = nullptr;

    void done(int result) override;
    // Also takes files whose names are not UTF-8, which Qt's own check
    // would call missing.
    void accept() override;

  private:
    void OnInitDialog();
    void ApplyFilter(const QString& text);
};

// Runs the open dialog. On OK: folder becomes the chosen folder with a
// trailing separator, names the chosen file names in the dialog's order,
// readMode the chosen mode; returns their count. On Cancel returns 0 and
// changes nothing. The modal run is replaceable for tests.
using OpenDialogRunner = std::function<int(CMyFileOpenDlg&)>;
int RunOpenDialog(QString& folder, QStringList& names, JoinMode& readMode,
                  const OpenDialogRunner& run = {});

enum class JoinOutcome { Joined, TooLarge, NoMemory };

// Joins the files in list order into buffer, one LF after each. A file that
// can't be read shows the access-denied message and contributes only its LF.
// step runs once before the first file and once after each.
JoinOutcome JoinFiles(const QString& folder, const QStringList& names, JoinMode readMode,
                      TextBuffer& buffer, const std::function<void()>& step);

// What OpenFiles uses besides the application; replaceable for tests.
struct OpenFilesHooks {
    std::function<int(QString& folder, QStringList& names, JoinMode& readMode)> runDialog;
    ProgressDisplay* progress = nullptr;  // the global progress window when none
};

// File > Open.
void OpenFiles(CQuarryApp& app, const OpenFilesHooks& hooks = {});

}  // namespace quarry
