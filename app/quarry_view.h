// CQuarryView: the editor of one document window and the control the search
// commands read, select in and replace in. It shows the document's bytes as
// they are in the file; positions handed to the search side are byte offsets.
//
// Scintilla lays a line out whole before drawing any of it: about a second
// per megabyte of line here, and again at nearly every click or key. A document with a line longer
// than kLongLineBytes is therefore shown from a read-only copy in which every
// line longer than kDisplayLineBytes is cut into display lines (on a UTF-8
// character start); the document's bytes stay untouched in DocumentText, and
// every offset the view takes or hands out is an offset of those bytes.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QLabel;
class QMenu;
class QPrinter;

namespace quarry {

class CQuarryDoc;

// A line above this length (about 1 s of layout) makes the views show the
// document read-only, cut into display lines.
inline constexpr int64_t kLongLineBytes = 512 * 1024;
// Length of a display line of such a document: a screen of them lays out in
// about 0.1 s.
inline constexpr size_t kDisplayLineBytes = 512;

// True when a line (ended by LF, CR or CR LF) of text is longer than limit.
bool HasLineLongerThan(std::string_view text, size_t limit);
// The text with a LF put in every limit bytes of each longer line, never
// before a UTF-8 continuation byte when utf8; cuts receives the offsets of
// text before which one was put, ascending.
std::string CutLongLines(std::string_view text, size_t limit, bool utf8,
                         std::vector<int64_t>& cuts);

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

    void OnReduceFontsize();
    void OnIncreaseFontsize();
    void OnWordWrapping();
    // View > Line Ends: line ends shown in every view, or in none.
    void OnLineEnds();
    static bool lineEndsVisible;
    // View > Line Numbers: a margin with the line numbers in every view, or
    // in none; kept for the session.
    void OnLineNumbers();
    static bool lineNumbersVisible;
    // Width of the line-number margin in pixels; 0 while hidden.
    int LineNumberWidth() const;

    // The document is shown cut into display lines, read-only.
    bool ShowsLongLines() const { return longLines_; }
    // Offsets between the text shown and the document's bytes. A byte at a
    // cut is shown after the display break, or before it with beforeCut.
    int64_t ByteFromShown(int64_t shown) const;
    int64_t ShownFromByte(int64_t byte, bool beforeCut = false) const;
    void OnEditPaste();
    void OnNextPane();
    void OnPrevPane();
    void OnFilePrint();
    void OnFilePrintPreview();
    // Lays the text out on the printer's pages in the editor font. Pages come
    // from Scintilla's own layout, so the printer must be a QsciPrinter; any
    // other printer gets nothing.
    void PrintDocument(QPrinter* printer);

    // The editor's context menu, its items the main frame's commands; the
    // caller owns it. Null without a main frame.
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
    // Replaces the selection's bytes in the document as one undo step and
    // selects what was put in, also while the view shows a cut copy or is
    // read-only (a command's edit).
    void ReplaceSelectedBytes(std::string_view bytes);

    // The document's bytes the window shows now, whole lines.
    void VisibleBytes(int64_t& start, int64_t& end);
    // Marks byte ranges [first, second) of the document with the live search
    // indicator, in place of the marks before; none takes them away. A mark
    // is no edit: no undo step, no modified flag.
    void ShowLiveMarks(const std::vector<std::pair<int64_t, int64_t>>& ranges);

  signals:
    // The lines the window shows were laid out anew (font size, zoom, word
    // wrap): a different part of the text may be in view without a scroll.
    void LayoutChanged();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    QByteArray fromMimeData(const QMimeData* source, bool& rectangular) const override;
    QMimeData* toMimeData(const QByteArray& text, bool rectangular) const override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void RewrapIfChanged();
    void ApplyWrap();
    void HandleKey(QKeyEvent* event);
    // Notes a change of the document's bytes for the next Settle.
    void OnBytesChanged(int position, int type, const char* text, int length);
    void ScheduleSettle();
    // Brings what is shown in step with the bytes: enters or leaves the cut
    // display, or cuts the text afresh after a change.
    void Settle();
    void EnterLongLines();
    void LeaveLongLines();
    void FillShownCopy();
    void UpdateNotice();
    // Shows or hides the line-number margin, as wide as the last line's
    // number needs.
    void ApplyLineNumbers();
    // Code page follows the document; how bytes without a glyph of their own
    // are drawn is set per view.
    void ApplyFormat();
    // Characters typed or pasted as the document's bytes, line breaks in the
    // document's style.
    QByteArray InputBytes(const QString& text) const;

    CQuarryDoc* document_;
    QFont editorFont_;

    bool longLines_ = false;
    // The Scintilla document of the cut copy while longLines_.
    void* shownDoc_ = nullptr;
    // Offsets of the bytes before which a display break is shown.
    std::vector<int64_t> cuts_;
    bool settlePending_ = false;
    bool settleQueued_ = false;
    // cuts_ no longer describe the shown copy: the bytes changed elsewhere.
    bool cutsStale_ = false;
    bool filling_ = false;
    // Bytes changed since the last Settle, in normal display.
    int64_t changedFrom_ = -1;
    int64_t changedTo_ = -1;
    QLabel* notice_ = nullptr;
    // Digits the line-number margin was last sized for; 0 while hidden.
    int lineNumberDigits_ = 0;
};

}  // namespace quarry
