#include "search/host.h"

#include <utility>

namespace quarry {
namespace {

MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}

}  // namespace

void SetMessageHandler(MessageHandler handler) {
    Handler() = std::move(handler);
}

int ShowMessage(const std::string& text, const MessageTitle& title,
                const std::vector<std::string>& captions, int style) {
    const MessageHandler& handler = Handler();
    return handler ? handler(text, title, captions, style) : IDCANCEL;
}

std::string FileAccessDeniedText(const std::string& fileName) {
    return "Auf die Datei  \"" + fileName +
           "\"  kann nicht zugegriffen werden.\nSie wird möglicherweise von einer anderen "
           "Anwedung verwendet";
}

void ShowFileAccessDenied(const std::string& fileName) {
    ShowMessage(FileAccessDeniedText(fileName), kFileAccessDeniedTitle, {}, MB_OK);
}

}  // namespace quarry
