// CProgressDlg: the modeless "Progress View" window shown while files are
// opened or joined. The work runs on the user-interface thread without
// processing input, so the window paints itself on every change.
#pragma once

#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QString>

#include <optional>

namespace quarry {

// What a long file operation reports its progress to.
class ProgressDisplay {
  public:
    virtual ~ProgressDisplay() = default;
    virtual bool Open(int total) = 0;
    virtual void SetText(const QString& text) = 0;
    virtual void Step() = 0;
    virtual void Close() = 0;
};

class CProgressDlg : public ProgressDisplay {
  public:
    CProgressDlg() = default;
    ~CProgressDlg() override;
    CProgressDlg(const CProgressDlg&) = delete;
    CProgressDlg& operator=(const CProgressDlg&) = delete;

    // Creates and shows the window over the main window with the bar at 0 of
    // the low 16 bits of total, step 1; false when the window can't be made.
    bool Open(int total) override;
    // Without a window these do nothing.
    void SetText(const QString& text) override;
    void Step() override;
    void Close() override;

    // Long work that handles events between its steps (a big file read in
    // pieces) shows the Abbrechen button while cancellable is true.
    void SetCancellable(bool cancellable);
    bool CancelRequested() const { return cancelRequested_; }
    QPushButton* CancelButton() const { return cancel_; }
    // Handles the pending events; user input reaches only this window, as if
    // it were modal, so nothing else starts while the work is half done.
    void HandleEvents();

    QDialog* Window() const { return window_; }
    QProgressBar* Bar() const { return bar_; }
    QLabel* TextLine() const { return text_; }
    // The bar's range end as the control holds it (0 to 65535).
    int RangeMax() const { return rangeMax_; }
    int Position() const { return position_; }

  private:
    void Paint();

    QPointer<QDialog> window_;
    QPointer<QProgressBar> bar_;
    QPointer<QLabel> text_;
    QPointer<QPushButton> cancel_;
    bool cancelRequested_ = false;
    std::optional<QFont> textFont_;
    int rangeMax_ = 0;
    int position_ = 0;
};

// The one progress window of the run.
CProgressDlg& ProgressDialog();

}  // namespace quarry
