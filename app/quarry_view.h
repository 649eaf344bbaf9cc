// CQuarryView: the editor of one document window and the control the search
// commands read, select in and replace in. It shows the document's bytes as
// they are in the file; positions handed to the search side are byte offsets.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <cstdint>
#include <string_view>

class QMenu;
class QPrinter;

namespace quarry {

class CQuarryDoc;

class CQuarryView : public QsciScintilla {
    Q_OBJECT
  public:
    explicit CQuarryView(CQuarryDoc* document, QWidget* parent = nullptr);
    ~CQuarryView() override;

    CQuarryDoc* GetDocument() const { return document_; }

    // Editor font height last applied to this view, in twips.
    int appliedFontSize = 0;
    // 0 = no wrapping, 1 = wrap at the window edge.
    int m_nWordWrap = 0;
    // Print margins in twips, set at the first update.
    int marginTwips = 0;

    void ApplyEditorFont(const QString& face, int twips);
    void ApplyFontSize(int twips);
    // The font the text is drawn in (Scintilla's default style).
    QFont EditorTextFont() const { return editorFont_; }
    void OnInitialUpdate();
    // Catches up with the shared font size and word wrap when activated.
    void OnActivateView(bool activate);

    // Command routing: true when the view handles the id.
    bool OnCommand(int id);
    bool HandlesCommand(int id) const;
    bool IsCommandEnabled(int id) const;
    bool IsCommandChecked(int id) const;

    void OnReduceFontsize();
    void OnIncreaseFontsize();
    void OnWordWrapping();
    void OnEditPaste();
    void OnNextPane();
    void OnPrevPane();
    void OnFilePrint();
    void OnFilePrintDirect();
    void OnFilePrintPreview();
    // Lays the text out on the printer's pages in the editor font. Pages come
    // from Scintilla's own layout, so the printer must be a QsciPrinter; any
    // other printer gets nothing.
    void PrintDocument(QPrinter* printer);

    // Menu 159 with its items' states; the caller owns it.
    QMenu* CreateContextMenu();

    // Selection and lines in byte offsets of the document's bytes.
    void GetSel(int64_t& start, int64_t& end);
    void SetSel(int64_t start, int64_t end);
    int LineFromChar(int64_t byte);
    // Start of a line, or -1 past the last line.
    int64_t LineIndex(int line);
    bool HasSelection() const;
    // The selected bytes.
    QByteArray SelectedBytes() const;
    // Inserts bytes for the selection as one undo step, caret after them.
    void InsertBytes(std::string_view bytes);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    QByteArray fromMimeData(const QMimeData* source, bool& rectangular) const override;
    QMimeData* toMimeData(const QByteArray& text, bool rectangular) const override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

  private:
    void RewrapIfChanged();
    // Code page follows the document; how bytes without a glyph of their own
    // are drawn is set per view.
    void ApplyFormat();
    // Characters typed or pasted as the document's bytes, line breaks in the
    // document's style.
    QByteArray InputBytes(const QString& text) const;

    CQuarryDoc* document_;
    QFont editorFont_;
};

}  // namespace quarry
