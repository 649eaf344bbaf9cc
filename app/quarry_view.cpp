#include "app/quarry_view.h"

#include <Qsci/qscicommand.h>
#include <Qsci/qscicommandset.h>
#include <Qsci/qsciprinter.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>
#include <memory>

#include "app/app_state.h"
#include "app/document_text.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "res/command_ids.h"
#include "res/resource_tables.h"

namespace quarry {
namespace {

using Sci = QsciScintillaBase;

// Line breaks of any style in pasted text become the document's own, as
// typing Enter would make them.
QString WithLineBreaks(const QString& text, LineEndStyle style) {
    QString out;
    out.reserve(text.size());
    const QString eol = QString::fromLatin1(LineBreakBytes(style));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            out += eol;
        } else if (c == u'\n' || c == QChar(0x2029)) {
            out += eol;
        } else {
            out += c;
        }
    }
    return out;
}

// Typed text the view inserts itself in an 8-bit document: printable
// characters without a command modifier.
bool IsTypedText(const QKeyEvent* event) {
    const QString text = event->text();
    if (text.isEmpty() ||
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        return false;
    }
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

CQuarryView::CQuarryView(CQuarryDoc* document, QWidget* parent)
    : QsciScintilla(parent), document_(document) {
    DocumentText& text = document->Text();
    text.AttachView(this);
    // No margins: the text starts at the window edge.
    for (int margin = 0; margin < 5; ++margin) {
        setMarginWidth(margin, 0);
    }
    setWrapMode(QsciScintilla::WrapNone);
    // Whole-line layouts are cached for the visible lines only: a 20 MB line
    // is laid out when shown, not kept for every line of the document.
    SendScintilla(SCI_SETLAYOUTCACHE, static_cast<unsigned long>(SC_CACHE_PAGE));
    // The menu comes when the right button is released, as the editor's own
    // menu 159, not Scintilla's.
    setContextMenuPolicy(Qt::PreventContextMenu);
    // The main window's accelerators (font steps, undo, paste...) go to the
    // application's commands, not to Scintilla's own key map.
    for (const Accelerator& acc : AcceleratorTable128()) {
        const int key = int(acc.key) | int(acc.modifiers & ~Qt::KeypadModifier);
        for (QsciCommand* command : standardCommands()->commands()) {
            if (command->key() == key) {
                command->setKey(0);
            }
            if (command->alternateKey() == key) {
                command->setAlternateKey(0);
            }
        }
    }
    ApplyEditorFont(editorFaceName, editorFontSize);
    ApplyFormat();
    connect(&text, &DocumentText::FormatChanged, this, &CQuarryView::ApplyFormat);
    document_->AddView(this);
}

CQuarryView::~CQuarryView() {
    document_->RemoveView(this);
}

void CQuarryView::ApplyFormat() {
    const DocFormat& format = document_->Text().Format();
    SendScintilla(SCI_SETCODEPAGE, static_cast<unsigned long>(
                                       format.encoding == TextEncoding::Utf8 ? SC_CP_UTF8 : 0));
    // Scintilla sets how bytes above 0x7F are drawn only in the editor that
    // changes the code page (the document's hidden buffer), so every view
    // sets them itself. A byte that is not part of a UTF-8 character
    // shows its hex value; in an 8-bit document so do 0x80..0x9F, C1 controls
    // drawn as nothing otherwise (a representation's text is drawn as Latin-1
    // there, so their Windows-1252 glyphs can't be given).
    for (int b = 0x80; b < 0x100; ++b) {
        const char key[2] = {char(b), 0};
        if (format.encoding == TextEncoding::Utf8 || b < 0xA0) {
            const QByteArray shown = "x" + QByteArray::number(b, 16).toUpper();
            SendScintilla(SCI_SETREPRESENTATION, key, shown.constData());
        } else {
            SendScintilla(SCI_CLEARREPRESENTATION, reinterpret_cast<uintptr_t>(key), 0L);
        }
    }
}

void CQuarryView::ApplyEditorFont(const QString& face, int twips) {
    editorFont_ = EditorFont(face, twips);
    setFont(editorFont_);
    appliedFontSize = twips;
}

void CQuarryView::ApplyFontSize(int twips) {
    editorFont_.setPointSizeF(twips / 20.0);
    setFont(editorFont_);
    appliedFontSize = twips;
}

void CQuarryView::OnInitialUpdate() {
    // Half an inch on every side of printed pages.
    marginTwips = 720;
}

void CQuarryView::OnActivateView(bool activate) {
    if (!activate) {
        return;
    }
    if (appliedFontSize != editorFontSize) {
        ApplyFontSize(editorFontSize);
    }
    RewrapIfChanged();
}

void CQuarryView::RewrapIfChanged() {
    if (m_nWordWrap != wordWrapEnabled) {
        m_nWordWrap = wordWrapEnabled;
        setWrapMode(m_nWordWrap != 0 ? QsciScintilla::WrapWord : QsciScintilla::WrapNone);
    }
}

void CQuarryView::focusInEvent(QFocusEvent* event) {
    QsciScintilla::focusInEvent(event);
    OnActivateView(true);
}

void CQuarryView::OnReduceFontsize() {
    editorFontSize -= kFontStep;
    ApplyFontSize(editorFontSize);
}

void CQuarryView::OnIncreaseFontsize() {
    editorFontSize += kFontStep;
    ApplyFontSize(editorFontSize);
}

void CQuarryView::OnWordWrapping() {
    wordWrapEnabled = wordWrapEnabled == 0 ? 1 : 0;
    RewrapIfChanged();
}

QByteArray CQuarryView::InputBytes(const QString& text) const {
    DocumentText& doc = document_->Text();
    const std::string bytes =
        doc.InputBytes(WithLineBreaks(text, doc.Format().lineEnd), const_cast<CQuarryView*>(this));
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

void CQuarryView::InsertBytes(std::string_view bytes) {
    if (isReadOnly()) {
        return;
    }
    ReplaceSelectionBytes(this, bytes);
    const long end = SendScintilla(SCI_GETSELECTIONEND);
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(end), end);
    SendScintilla(SCI_SCROLLCARET);
}

void CQuarryView::OnEditPaste() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasText() || isReadOnly()) {
        return;
    }
    const QByteArray bytes = InputBytes(data->text());
    InsertBytes(std::string_view(bytes.constData(), size_t(bytes.size())));
}

bool CQuarryView::canInsertFromMimeData(const QMimeData* source) const {
    // Dropped files are opened as documents by the main window.
    if (source->hasUrls()) {
        return false;
    }
    return source->hasText();
}

QByteArray CQuarryView::fromMimeData(const QMimeData* source, bool& rectangular) const {
    rectangular = false;
    return source->hasText() ? InputBytes(source->text()) : QByteArray();
}

QMimeData* CQuarryView::toMimeData(const QByteArray& text, bool /*rectangular*/) const {
    auto* data = new QMimeData;
    data->setText(DecodeText(text, document_->Text().Format().encoding));
    return data;
}

void CQuarryView::keyPressEvent(QKeyEvent* event) {
    // Scintilla would take the characters as Latin-1 and lose those of
    // Windows-1252's 0x80..0x9F: the view makes the bytes.
    if (document_->Text().Format().encoding == TextEncoding::Bytes8 && IsTypedText(event) &&
        !isReadOnly()) {
        const QByteArray bytes = InputBytes(event->text());
        SendScintilla(SCI_BEGINUNDOACTION);
        SendScintilla(SCI_REPLACESEL, 0UL, bytes.constData());
        SendScintilla(SCI_ENDUNDOACTION);
        event->accept();
        return;
    }
    QsciScintilla::keyPressEvent(event);
}

void CQuarryView::inputMethodEvent(QInputMethodEvent* event) {
    if (document_->Text().Format().encoding == TextEncoding::Bytes8 &&
        !event->commitString().isEmpty() && event->preeditString().isEmpty() && !isReadOnly()) {
        const QByteArray bytes = InputBytes(event->commitString());
        SendScintilla(SCI_REPLACESEL, 0UL, bytes.constData());
        event->accept();
        return;
    }
    QsciScintilla::inputMethodEvent(event);
}

void CQuarryView::OnNextPane() {
    if (auto* frame = CQuarryApp::Instance()->MainWnd()) {
        frame->MdiArea()->activateNextSubWindow();
    }
}

void CQuarryView::OnPrevPane() {
    if (auto* frame = CQuarryApp::Instance()->MainWnd()) {
        frame->MdiArea()->activatePreviousSubWindow();
    }
}

void CQuarryView::PrintDocument(QPrinter* printer) {
    auto* sciPrinter = dynamic_cast<QsciPrinter*>(printer);
    if (sciPrinter == nullptr) {
        return;
    }
    const double marginPoints = marginTwips / 20.0;
    printer->setPageMargins(QMarginsF(marginPoints, marginPoints, marginPoints, marginPoints),
                            QPageLayout::Point);
    sciPrinter->setWrapMode(QsciScintilla::WrapWord);
    // The page shows the editor font at its own size, not the view's zoom.
    sciPrinter->setMagnification(0);
    int from = -1;
    int to = -1;
    if (printer->printRange() == QPrinter::Selection && HasSelection()) {
        int64_t start = 0;
        int64_t end = 0;
        GetSel(start, end);
        from = LineFromChar(start);
        to = LineFromChar(end);
    }
    sciPrinter->printRange(this, from, to);
}

void CQuarryView::OnFilePrint() {
    QPrinter* printer = CQuarryApp::Instance()->Printer();
    QPrintDialog dialog(printer, this);
    if (HasSelection()) {
        dialog.setOption(QAbstractPrintDialog::PrintSelection);
    }
    if (dialog.exec() == QDialog::Accepted) {
        PrintDocument(printer);
    }
}

void CQuarryView::OnFilePrintDirect() {
    PrintDocument(CQuarryApp::Instance()->Printer());
}

void CQuarryView::OnFilePrintPreview() {
    QPrintPreviewDialog preview(CQuarryApp::Instance()->Printer(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* printer) { PrintDocument(printer); });
    preview.exec();
}

bool CQuarryView::HandlesCommand(int id) const {
    switch (id) {
        case ID_EDIT_UNDO:
        case ID_EDIT_CUT:
        case ID_EDIT_COPY:
        case ID_EDIT_PASTE:
        case ID_EDIT_SELECT_ALL:
        case ID_VIEW_REDUCE_FONTSIZE:
        case ID_VIEW_INCREASE_FONTSIZE:
        case ID_VIEW_WORD_WRAPPING:
        case ID_NEXT_PANE:
        case ID_PREV_PANE:
        case ID_FILE_PRINT:
        case ID_FILE_PRINT_DIRECT:
        case ID_FILE_PRINT_PREVIEW:
            return true;
        default:
            return false;
    }
}

bool CQuarryView::IsCommandEnabled(int id) const {
    switch (id) {
        case ID_EDIT_UNDO:
            return isUndoAvailable() && !isReadOnly();
        case ID_EDIT_CUT:
        case ID_EDIT_COPY:
            return HasSelection();
        case ID_EDIT_PASTE: {
            const QMimeData* data = QApplication::clipboard()->mimeData();
            return data != nullptr && data->hasText();
        }
        case ID_VIEW_REDUCE_FONTSIZE:
            return editorFontSize >= kReduceFontMinimum;
        case ID_VIEW_INCREASE_FONTSIZE:
            return editorFontSize <= kIncreaseFontMaximum;
        default:
            return HandlesCommand(id);
    }
}

bool CQuarryView::IsCommandChecked(int id) const {
    return id == ID_VIEW_WORD_WRAPPING && wordWrapEnabled == 1;
}

bool CQuarryView::OnCommand(int id) {
    if (!HandlesCommand(id)) {
        return false;
    }
    // A disabled command does nothing, also when it arrives by keyboard.
    if (!IsCommandEnabled(id)) {
        return true;
    }
    switch (id) {
        case ID_EDIT_UNDO:
            undo();
            break;
        case ID_EDIT_CUT:
            cut();
            break;
        case ID_EDIT_COPY:
            copy();
            break;
        case ID_EDIT_PASTE:
            OnEditPaste();
            break;
        case ID_EDIT_SELECT_ALL:
            selectAll();
            break;
        case ID_VIEW_REDUCE_FONTSIZE:
            OnReduceFontsize();
            break;
        case ID_VIEW_INCREASE_FONTSIZE:
            OnIncreaseFontsize();
            break;
        case ID_VIEW_WORD_WRAPPING:
            OnWordWrapping();
            break;
        case ID_NEXT_PANE:
            OnNextPane();
            break;
        case ID_PREV_PANE:
            OnPrevPane();
            break;
        case ID_FILE_PRINT:
            OnFilePrint();
            break;
        case ID_FILE_PRINT_DIRECT:
            OnFilePrintDirect();
            break;
        case ID_FILE_PRINT_PREVIEW:
            OnFilePrintPreview();
            break;
        default:
            break;
    }
    return true;
}

QMenu* CQuarryView::CreateContextMenu() {
    CMainFrame* frame = CQuarryApp::Instance()->MainWnd();
    return BuildMenu(ContextMenu159().front(), nullptr, [this, frame](QAction* action, int id) {
        action->setEnabled(frame != nullptr ? frame->IsCommandEnabled(id) : IsCommandEnabled(id));
        connect(action, &QAction::triggered, this, [this, id] {
            if (CMainFrame* f = CQuarryApp::Instance()->MainWnd()) {
                f->OnCommand(id);
            } else {
                OnCommand(id);
            }
        });
    });
}

void CQuarryView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        std::unique_ptr<QMenu> menu(CreateContextMenu());
        menu->exec(event->globalPosition().toPoint());
    }
    QsciScintilla::mouseReleaseEvent(event);
}

void CQuarryView::contextMenuEvent(QContextMenuEvent* event) {
    // Menu 159 comes on the right button's release instead.
    event->accept();
}

void CQuarryView::GetSel(int64_t& start, int64_t& end) {
    GetSelectionBytes(this, start, end);
}

void CQuarryView::SetSel(int64_t start, int64_t end) {
    SetSelectionBytes(this, start, end);
    SendScintilla(SCI_SCROLLCARET);
}

int CQuarryView::LineFromChar(int64_t byte) {
    return int(SendScintilla(SCI_LINEFROMPOSITION,
                             static_cast<unsigned long>(std::max<int64_t>(byte, 0))));
}

int64_t CQuarryView::LineIndex(int line) {
    if (line < 0 || line >= SendScintilla(SCI_GETLINECOUNT)) {
        return -1;
    }
    return SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
}

bool CQuarryView::HasSelection() const {
    return SendScintilla(SCI_GETSELECTIONEMPTY) == 0;
}

QByteArray CQuarryView::SelectedBytes() const {
    const long start = SendScintilla(SCI_GETSELECTIONSTART);
    const long end = SendScintilla(SCI_GETSELECTIONEND);
    const std::string_view bytes = document_->Text().Bytes();
    return QByteArray(bytes.data() + start, qsizetype(end - start));
}

}  // namespace quarry
