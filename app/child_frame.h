// CChildFrame: a document window inside the main frame's MDI area, holding
// one CQuarryView. Always shown maximised.
#pragma once

#include <QMdiSubWindow>

namespace quarry {

class CQuarryView;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
  public:
    explicit CChildFrame(CQuarryView* view, QWidget* parent = nullptr);

    CQuarryView* GetActiveView() const { return view_; }
    // Shows the window, always maximised, whatever was asked for.
    void ActivateFrame();
    void UpdateTitle();
    // Closes without the save question (the document was dealt with).
    void CloseWithoutAsking();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnSelectionChange();

    CQuarryView* view_;
    bool force_ = false;
};

}  // namespace quarry
