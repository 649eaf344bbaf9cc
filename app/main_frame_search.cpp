// The main window as the search dialog's target: the active document, or
// while a command runs, the document it started on.
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include <algorithm>

#include "app/app_state.h"
#include "app/document_text.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"

namespace quarry {
namespace {

// Tells of a widget's resizing: a taller or wider view shows more text.
class ResizeNotice : public QObject {
  public:
    ResizeNotice(QWidget* watched, std::function<void()> notice)
        : QObject(watched), notice_(std::move(notice)) {
        watched->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            notice_();
        }
        return false;
    }

  private:
    std::function<void()> notice_;
};

}  // namespace

CQuarryView* CMainFrame::TargetView() const {
    if (!busy_) {
        return ActiveView();
    }
    if (pinnedView_) {
        return pinnedView_;
    }
    // The view the command started in was closed; another of the same
    // document will do.
    if (pinnedDoc_ && !pinnedDoc_->Views().isEmpty()) {
        return pinnedDoc_->Views().front();
    }
    return nullptr;
}

void CMainFrame::ConnectDialog(const SearchDialogLink& link) {
    SearchDialogLink& current = SearchDialog();
    current.find = link.find;
    current.windowExists = link.windowExists;
    current.updatePositionFields = link.updatePositionFields;
    current.activeDocumentChanged = link.activeDocumentChanged;
    current.viewChanged = link.viewChanged;
}

QWidget* CMainFrame::OwnerWindow() const {
    return const_cast<CMainFrame*>(this);
}

bool CMainFrame::HasDocument() const {
    return TargetView() != nullptr;
}

TextMode CMainFrame::Mode() const {
    const CQuarryView* view = TargetView();
    return view != nullptr && view->GetDocument()->Text().Format().encoding == TextEncoding::Bytes8
               ? TextMode::kBytes
               : TextMode::kUtf8;
}

std::string CMainFrame::LineBreak() const {
    const CQuarryView* view = TargetView();
    return LineBreakBytes(view != nullptr ? view->GetDocument()->Text().Format().lineEnd
                                          : LineEndStyle::Lf);
}

std::optional<std::string> CMainFrame::ToDocumentBytes(QStringView text) const {
    const CQuarryView* view = TargetView();
    return view != nullptr ? view->GetDocument()->Text().ToDocumentBytes(text)
                           : EncodeText(text, TextEncoding::Utf8);
}

QString CMainFrame::FromDocumentBytes(std::string_view bytes) const {
    const CQuarryView* view = TargetView();
    const TextEncoding encoding =
        view != nullptr ? view->GetDocument()->Text().Format().encoding : TextEncoding::Utf8;
    return DecodeText(QByteArrayView(bytes.data(), qsizetype(bytes.size())), encoding);
}

int64_t CMainFrame::Length() const {
    const CQuarryView* view = TargetView();
    return view != nullptr ? view->GetDocument()->Text().ByteLength() : 0;
}

std::string_view CMainFrame::Text() const {
    const CQuarryView* view = TargetView();
    return view != nullptr ? view->GetDocument()->Text().Bytes() : std::string_view();
}

void CMainFrame::GetSelection(int64_t& start, int64_t& end) const {
    start = 0;
    end = 0;
    if (CQuarryView* view = TargetView()) {
        view->GetSel(start, end);
    }
}

void CMainFrame::SetSelection(int64_t start, int64_t end) {
    if (CQuarryView* view = TargetView()) {
        view->SetSel(start, end);
    }
}

int64_t CMainFrame::LineOf(int64_t offset) const {
    CQuarryView* view = TargetView();
    return view != nullptr ? view->LineFromChar(offset) : 0;
}

int64_t CMainFrame::LineStart(int64_t line) const {
    CQuarryView* view = TargetView();
    if (view == nullptr || line > INT32_MAX) {
        return -1;
    }
    return view->LineIndex(int(line));
}

void CMainFrame::ReplaceSelection(std::string_view bytes) {
    if (CQuarryView* view = TargetView()) {
        view->ReplaceSelectedBytes(bytes);
    }
}

void CMainFrame::BeginResult(int64_t length) {
    CQuarryView* view = TargetView();
    resultDoc_ = view != nullptr ? view->GetDocument() : nullptr;
    resultIsNew_ = false;
    if (resultDoc_) {
        resultDoc_->Text().BeginReplacement(length);
    }
}

void CMainFrame::BeginNewResult(int64_t length) {
    const CQuarryView* view = TargetView();
    if (view == nullptr) {
        resultDoc_ = nullptr;
        return;
    }
    // The result keeps the source's encoding and line break, so its bytes
    // show as they were found and Enter in it inserts the source's break.
    const DocFormat format = view->GetDocument()->Text().Format();
    resultIsNew_ = true;
    // Room for a big result is made before any view shows the document,
    // with the events handled meanwhile, as between the result's pieces. The
    // new document starts as the result, as an opened file starts as its
    // bytes: an undo step back to the empty text would hold a second copy.
    resultDoc_ = app_->OnFileNew([format, length](CQuarryDoc* doc) {
        doc->Text().SetFormat(format);
        doc->Text().SetReadOnly(true);
        doc->Text().BeginReplacement(
            length, [] { QCoreApplication::processEvents(); }, false);
    });
}

bool CMainFrame::ClearStep() {
    return resultDoc_ && resultDoc_->Text().ClearReplacementStep();
}

void CMainFrame::AppendResult(std::string_view bytes) {
    if (resultDoc_) {
        resultDoc_->Text().AppendReplacement(bytes);
    }
}

void CMainFrame::EndResult(bool keep) {
    if (!resultDoc_) {
        return;
    }
    resultDoc_->Text().EndReplacement(keep);
    if (resultIsNew_) {
        resultDoc_->Text().SetReadOnly(false);
        if (!keep) {
            // Closed once the command has ended: while it runs, no document
            // window closes.
            discardedDoc_ = resultDoc_;
        }
    }
    resultDoc_ = nullptr;
}

void CMainFrame::Busy(bool busy) {
    if (pinnedDoc_) {
        pinnedDoc_->Text().SetReadOnly(false);
    }
    pinnedDoc_ = nullptr;
    pinnedView_ = nullptr;
    if (busy) {
        pinnedView_ = ActiveView();
        pinnedDoc_ = pinnedView_ ? pinnedView_->GetDocument() : nullptr;
        if (pinnedDoc_) {
            pinnedDoc_->Text().SetReadOnly(true);
        }
    }
    if (busy) {
        ClearHighlights();
    }
    busy_ = busy;
    SearchDialog().running = busy;
    if (!busy && discardedDoc_) {
        discardedDoc_->SetModifiedFlag(false);
        app_->CloseDocument(discardedDoc_);
        discardedDoc_ = nullptr;
    }
    // The read-only state just changed, which the editor announces to
    // nobody: the toolbar would go on showing Undo, Cut and Paste as the
    // running command left them.
    UpdateCommands();
}

void CMainFrame::VisibleRange(int64_t& start, int64_t& end) const {
    start = 0;
    end = 0;
    if (CQuarryView* view = TargetView()) {
        view->VisibleBytes(start, end);
    }
}

void CMainFrame::SetHighlights(const ByteRanges& ranges) {
    CQuarryView* view = TargetView();
    if (busy_ || view == nullptr) {
        return;
    }
    if (highlighted_ && highlighted_ != view) {
        highlighted_->ShowLiveMarks({});
    }
    highlighted_ = view;
    view->ShowLiveMarks(ranges);
}

void CMainFrame::ClearHighlights() {
    if (highlighted_) {
        highlighted_->ShowLiveMarks({});
    }
    highlighted_ = nullptr;
}

void CMainFrame::WatchActiveView() {
    CQuarryView* view = ActiveView();
    if (view == watched_) {
        return;
    }
    for (const QMetaObject::Connection& c : watching_) {
        disconnect(c);
    }
    watching_.clear();
    delete resizeNotice_;
    watched_ = view;
    if (view == nullptr) {
        return;
    }
    const auto tell = [] {
        if (SearchDialog().viewChanged) {
            SearchDialog().viewChanged();
        }
    };
    // Scrolling, not every repaint: the marks' own repaint must not start
    // another round.
    watching_ << connect(view, &QsciScintillaBase::SCN_UPDATEUI, this, [tell](int updated) {
        if ((updated & (QsciScintillaBase::SC_UPDATE_V_SCROLL |
                        QsciScintillaBase::SC_UPDATE_H_SCROLL)) != 0) {
            tell();
        }
    });
    watching_ << connect(&view->GetDocument()->Text(), &DocumentText::Changed, this, tell);
    watching_ << connect(view, &CQuarryView::LayoutChanged, this, tell);
    watching_ << connect(view, &QsciScintillaBase::SCN_ZOOM, this, tell);
    resizeNotice_ = new ResizeNotice(view, tell);
}

}  // namespace quarry
