// CQuarryView: the editor of one document window and the control the search
// commands read, select in and replace in. Positions handed to the search
// side are byte offsets of the text in stream form (DocumentText).
#pragma once

#include <QPlainTextEdit>

#include <cstdint>

class QMenu;
class QPrinter;

namespace quarry {

class CQuarryDoc;

class CQuarryView : public QPlainTextEdit {
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
    // Lays the text out on the printer's pages in the editor font.
    void PrintDocument(QPrinter* printer);

    // Menu 159 with its items' states; the caller owns it.
    QMenu* CreateContextMenu();

    // Selection and lines in byte offsets of the stream form.
    void GetSel(int64_t& start, int64_t& end);
    void SetSel(int64_t start, int64_t end);
    int LineFromChar(int64_t byte);
    int64_t LineIndex(int line);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    void RewrapIfChanged();
    // Inserts plain text for the selection as one undo step, caret after it.
    void InsertPlainText(const QString& text);

    CQuarryDoc* document_;
};

}  // namespace quarry
