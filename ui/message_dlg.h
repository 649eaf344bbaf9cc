// CMessageDlg: the application's own modal message dialog, and the message
// handler that routes every ShowMessage of the search core to it.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <optional>

#include "search/host.h"

class QFrame;
class QLabel;
class QPushButton;
class QTextEdit;

namespace quarry {

inline constexpr const char* kDefaultMessageTitle = "Quarry! Message";

class CMessageDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CMessageDlg(QWidget* parent = nullptr);

    // Set before DoModal. No title gives the default title; no captions keeps
    // the template captions.
    std::optional<QString> title = QString::fromLatin1(kDefaultMessageTitle);
    std::optional<QString> text;
    std::optional<QStringList> captions;
    int style = MB_OK;

    // Runs the dialog; IDOK, IDCANCEL, IDYES or IDNO.
    int DoModal();

    // Template controls by id (6, 7, 1, 2 for the buttons, 1000 for the text).
    QPushButton* Button(int id) const;
    QTextEdit* TextField() const { return textField_; }

    void reject() override;

  protected:
    // Applies title, text, captions and button layout; run by DoModal.
    void OnInitDialog();

  private:
    QLabel* icon_;
    QLabel* productBanner_;
    QLabel* headingBanner_;
    QFrame* rule_;
    QTextEdit* textField_;
    QPushButton* yes_;
    QPushButton* ok_;
    QPushButton* no_;
    QPushButton* cancel_;
};

// Builds the dialog over the application's main window, runs it and returns
// the button that closed it.
int RunMessageDialog(const std::optional<QString>& text, const std::optional<QString>& title,
                     const std::optional<QStringList>& captions, int style);

// Makes the message dialog the handler of quarry::ShowMessage.
// Makes the message dialog the handler of ShowMessage. Messages raised on
// another thread (a search thread) are shown on the user-interface thread
// while the raising thread waits for the answer.
void InstallMessageDialog();

// A message handler that runs inner on the application's main thread (the
// caller waits for the answer); directly when called there already.
MessageHandler OnUiThread(MessageHandler inner);

}  // namespace quarry
