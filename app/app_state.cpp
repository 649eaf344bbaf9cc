#include "app/app_state.h"

namespace quarry {

int32_t editorFontSize = 0;
QString editorFaceName;
int wordWrapEnabled = 0;
QString fileOpenDir;

QFont EditorFont(const QString& face, int twips) {
    // At most the first 31 characters of the face are applied.
    QFont font(face.left(31));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setBold(false);
    font.setPointSizeF(twips / 20.0);
    return font;
}

SearchDialogLink& SearchDialog() {
    static SearchDialogLink link;
    return link;
}

}  // namespace quarry
