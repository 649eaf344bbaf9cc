// CAboutDlg: the modal "About Quarry!" box with the About picture and links
// to what is installed with the program: the manual and the licence terms.
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace quarry {

class CHyperLink;

inline constexpr const char* kManualLinkText = "the Quarry manual";
inline constexpr const char* kLicenceLinkText = "the licence terms";

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Runs the box modally; its result is not used.
    int DoModal();

    CHyperLink* ManualLink() const { return manual_; }
    CHyperLink* LicenceLink() const { return licence_; }
    QLabel* Picture() const { return picture_; }
    QPushButton* OkButton() const { return ok_; }

  protected:
    // Targets and underlining of the links; a link to a file that is not
    // there is not shown. Run by DoModal.
    void OnInitDialog();

  private:
    QLabel* picture_;
    QLabel* manualLabel_;
    CHyperLink* manual_;
    QLabel* licenceLabel_;
    CHyperLink* licence_;
    QPushButton* ok_;
};

// Runs the About box over the main window. The modal run is replaceable so
// that tests can drive the box without blocking.
void RunAboutBox(QWidget* parent);
std::function<int(CAboutDlg&)>& AboutBoxRunner();

}  // namespace quarry
