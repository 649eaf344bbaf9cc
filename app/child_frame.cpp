#include "app/child_frame.h"

#include <QCloseEvent>
#include <QMdiArea>

#include "app/app_state.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/images.h"

namespace quarry {

CChildFrame::CChildFrame(CQuarryView* view, QWidget* parent) : QMdiSubWindow(parent), view_(view) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(view_);
    setWindowIcon(DocumentIcon());
    connect(view_, &QsciScintilla::cursorPositionChanged, this, &CChildFrame::OnSelectionChange);
    connect(view_, &QsciScintilla::selectionChanged, this, &CChildFrame::OnSelectionChange);
    // Heard through the view: a closed window loses its view before it goes.
    connect(view_->GetDocument(), &CQuarryDoc::TitleChanged, view_, [this] { UpdateTitle(); });
    UpdateTitle();
}

void CChildFrame::ActivateFrame() {
    showMaximized();
    if (mdiArea() != nullptr) {
        mdiArea()->setActiveSubWindow(this);
    }
    view_->setFocus();
}

void CChildFrame::UpdateTitle() {
    CQuarryDoc* doc = view_->GetDocument();
    const auto& views = doc->Views();
    QString title = doc->ShownTitle();
    if (views.size() > 1) {
        title += QStringLiteral(":%1").arg(views.indexOf(view_) + 1);
    }
    setWindowTitle(title);
}

void CChildFrame::OnSelectionChange() {
    SearchDialogLink& dialog = SearchDialog();
    if (dialog.windowExists && dialog.windowExists() && dialog.updatePositionFields) {
        dialog.updatePositionFields();
    }
}

void CChildFrame::CloseWithoutAsking() {
    force_ = true;
    close();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
    if (view_ == nullptr) {
        event->accept();
        return;
    }
    // A running search works on this editor: it must not go away under it.
    if (SearchDialog().running) {
        event->ignore();
        return;
    }
    CQuarryDoc* doc = view_->GetDocument();
    if (!force_ && doc->Views().size() == 1 && !doc->SaveModified()) {
        event->ignore();
        return;
    }
    event->accept();
    QMdiSubWindow::closeEvent(event);
    // The view leaves its document now, not at the deferred delete.
    setWidget(nullptr);
    delete view_;
    view_ = nullptr;
    if (doc->Views().isEmpty()) {
        CQuarryApp::Instance()->DocumentClosed(doc);
        return;
    }
    for (CQuarryView* other : doc->Views()) {
        if (auto* frame = qobject_cast<CChildFrame*>(other->parentWidget())) {
            frame->UpdateTitle();
        }
    }
}

}  // namespace quarry
