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

std::string EscapeControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string FileAccessDeniedText(const std::string& fileName) {
    return "Auf die Datei  \"" + EscapeControls(fileName) +
           "\"  kann nicht zugegriffen werden.\nSie wird möglicherweise von einer anderen "
           "Anwedung verwendet";
}

void ShowFileAccessDenied(const std::string& fileName) {
    ShowMessage(FileAccessDeniedText(fileName), kFileAccessDeniedTitle, {}, MB_OK);
}

}  // namespace quarry
