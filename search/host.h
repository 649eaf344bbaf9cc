// What the search core needs from its host (desktop application, command-line
// front end, tests): showing messages, polling for cancellation, showing
// progress. The core never prints or pumps events itself.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

enum MessageStyle { MB_OK = 0, MB_OKCANCEL = 1, MB_YESNO = 4 };
enum MessageResult { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// A message's title; none means the host's default title (an empty title is
// a title too).
using MessageTitle = std::optional<std::string>;

// Shows text (UTF-8, "\n" = line break) under title. captions optionally
// replaces the button captions. The handler is the host's; without one
// ShowMessage answers IDCANCEL and shows nothing.
using MessageHandler = std::function<int(const std::string& text, const MessageTitle& title,
                                         const std::vector<std::string>& captions, int style)>;
void SetMessageHandler(MessageHandler handler);
int ShowMessage(const std::string& text, const MessageTitle& title = std::nullopt,
                const std::vector<std::string>& captions = {}, int style = MB_OK);

// The text with its control characters and backslashes written as escapes
// (a line feed as backslash-n, ESC as backslash-x1b, a backslash doubled), so
// that a file name cannot fake a line of a message.
std::string EscapeControls(std::string_view text);

// "Dateizugriff verweigert" with the file's name.
void ShowFileAccessDenied(const std::string& fileName);
std::string FileAccessDeniedText(const std::string& fileName);
inline constexpr const char* kFileAccessDeniedTitle = "Dateizugriff verweigert";

inline constexpr const char* kStackOverflowTitle = "Stack Overflow";
inline constexpr const char* kStackOverflowText =
    "Stack Overflow!\nThe search requires too much memory. You can do the following:\n"
    "1. Limit the search length to a smaller value\n"
    "2. Make the expression less greedy ( e.g. use @ instead of * )\n"
    "3. Deactivate 'Match Linebreaks'\n"
    "...anyway save your work before proceeding!";

// Cancellation and progress for one search command.
class SearchHost {
  public:
    virtual ~SearchHost() = default;
    // true to go on, false to stop the search. The pieces of a line-mode job
    // on several threads poll it at once, so it must be safe to call from
    // any thread (progress is reported from one thread at a time).
    virtual bool PollCancel() = 0;
    // percent: 0 to 100 of the whole text.
    virtual void ReportProgress(int percent) = 0;
};

}  // namespace quarry
