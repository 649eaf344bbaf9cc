// CAboutDlg: the modal "About Quarry!" box with the About picture and the
// web-site and bug-report links.
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace quarry {

class CHyperLink;

inline constexpr const char* kWebSiteText = "www.quarry.example.org";
inline constexpr const char* kWebSiteTarget = "https://www.quarry.example.org/";
inline constexpr const char* kBugMailAddress = "bugs@quarry.example.org";

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Runs the box modally; its result is not used.
    int DoModal();

    CHyperLink* WebSiteLink() const { return webSite_; }
    CHyperLink* MailLink() const { return mail_; }
    QLabel* Picture() const { return picture_; }
    QPushButton* OkButton() const { return ok_; }

  protected:
    // Targets and underlining of the two links; run by DoModal.
    void OnInitDialog();

  private:
    QLabel* picture_;
    CHyperLink* webSite_;
    CHyperLink* mail_;
    QPushButton* ok_;
};

// Runs the About box over the main window. The modal run is replaceable so
// that tests can drive the box without blocking.
void RunAboutBox(QWidget* parent);
std::function<int(CAboutDlg&)>& AboutBoxRunner();

}  // namespace quarry
