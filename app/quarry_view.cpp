#include "app/quarry_view.h"

#include <QApplication>
#include <QClipboard>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPageLayout>
#include <QPlainTextDocumentLayout>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <memory>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "res/command_ids.h"
#include "res/resource_tables.h"

namespace quarry {

CQuarryView::CQuarryView(CQuarryDoc* document, QWidget* parent)
    : QPlainTextEdit(parent), document_(document) {
    setDocument(document->Document());
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // The menu comes when the right button is released, as the editor's own
    // menu 159, not Qt's standard one.
    setContextMenuPolicy(Qt::PreventContextMenu);
    ApplyEditorFont(editorFaceName, editorFontSize);
    document_->AddView(this);
}

CQuarryView::~CQuarryView() {
    document_->RemoveView(this);
}

void CQuarryView::ApplyEditorFont(const QString& face, int twips) {
    setFont(EditorFont(face, twips));
    appliedFontSize = twips;
}

void CQuarryView::ApplyFontSize(int twips) {
    QFont f = font();
    f.setPointSizeF(twips / 20.0);
    setFont(f);
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
        setLineWrapMode(m_nWordWrap != 0 ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    }
}

void CQuarryView::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
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

void CQuarryView::InsertPlainText(const QString& text) {
    // One repaint for the whole paste; the caret ends after the text.
    setUpdatesEnabled(false);
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.insertText(text);
    cursor.endEditBlock();
    setTextCursor(cursor);
    setUpdatesEnabled(true);
    ensureCursorVisible();
}

void CQuarryView::OnEditPaste() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasText()) {
        return;
    }
    InsertPlainText(data->text());
}

bool CQuarryView::canInsertFromMimeData(const QMimeData* source) const {
    // Dropped files are opened as documents by the main window.
    if (source->hasUrls()) {
        return false;
    }
    return source->hasText();
}

void CQuarryView::insertFromMimeData(const QMimeData* source) {
    if (source->hasText()) {
        InsertPlainText(source->text());
    }
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
    const double marginPoints = marginTwips / 20.0;
    printer->setPageMargins(QMarginsF(marginPoints, marginPoints, marginPoints, marginPoints),
                            QPageLayout::Point);
    std::unique_ptr<QTextDocument> copy;
    if (printer->printRange() == QPrinter::Selection && textCursor().hasSelection()) {
        copy = std::make_unique<QTextDocument>();
        QTextCursor(copy.get()).insertFragment(textCursor().selection());
    } else {
        copy.reset(document()->clone());
    }
    copy->setDefaultFont(font());
    copy->documentLayout()->setPaintDevice(printer);
    copy->setDocumentMargin(0);
    QTextOption option = copy->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    copy->setDefaultTextOption(option);
    copy->setPageSize(printer->pageLayout().paintRectPixels(printer->resolution()).size());
    copy->print(printer);
}

void CQuarryView::OnFilePrint() {
    QPrinter* printer = CQuarryApp::Instance()->Printer();
    QPrintDialog dialog(printer, this);
    if (textCursor().hasSelection()) {
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
            return document()->isUndoAvailable();
        case ID_EDIT_CUT:
        case ID_EDIT_COPY:
            return textCursor().hasSelection();
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
    QPlainTextEdit::mouseReleaseEvent(event);
}

void CQuarryView::GetSel(int64_t& start, int64_t& end) {
    document_->Text().GetSelection(textCursor(), start, end);
}

void CQuarryView::SetSel(int64_t start, int64_t end) {
    QTextCursor cursor = textCursor();
    document_->Text().SetSelection(cursor, start, end);
    setTextCursor(cursor);
}

int CQuarryView::LineFromChar(int64_t byte) {
    return document_->Text().LineFromByte(byte);
}

int64_t CQuarryView::LineIndex(int line) {
    return document_->Text().LineStartByte(line);
}

}  // namespace quarry
