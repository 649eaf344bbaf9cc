#include "app/editor_transfer.h"

#include <algorithm>

#include "app/document_text.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "search/text_buffer.h"

namespace quarry {

CQuarryView* GetActiveEditor() {
    CQuarryApp* app = CQuarryApp::Instance();
    if (app == nullptr || app->MainWnd() == nullptr) {
        return nullptr;
    }
    return app->MainWnd()->ActiveView();
}

int32_t StreamOut(CQuarryView* editor, TextBuffer& buffer, int /*format*/) {
    return editor->GetDocument()->Text().StreamOut(buffer);
}

void StreamIn(CQuarryView* editor, TextBuffer& buffer, int /*format*/) {
    buffer.readPos = 0;
    editor->GetDocument()->Text().StreamIn(buffer);
    buffer.readPos = buffer.length;
}

void ReplaceSelection(CQuarryView* editor, std::string_view text) {
    editor->ReplaceSelectedBytes(text);
}

}  // namespace quarry
