// CHyperLink: a static text turned into a clickable link (semi-bold,
// underlined, link colours, hover colour, pointing hand, tool tip with the
// target), and the opening of a target through the desktop.
#pragma once

#include <QColor>
#include <QLabel>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quarry {

// Result codes of opening a target: greater than 32 is success.
inline constexpr int kOpenSucceeded = 33;
inline constexpr int SE_ERR_FNF = 2;
inline constexpr int SE_ERR_NOASSOC = 31;

// "Unable to open hyperlink:\n\n" and the text for the code.
QString OpenFailureText(int code);

// The window rectangle shrunk to a text extent by the alignment: vertically
// centred or top-aligned, horizontally centred, right- or left-aligned.
QRect FitRectToText(const QRect& window, const QSize& extent, Qt::Alignment alignment);

// A program and its arguments, never a shell command line.
struct CommandLine {
    QString program;
    QStringList arguments;
};

// Splits a desktop entry's Exec value into words (double quotes and their
// backslash escapes, "%%" for a percent sign), cuts it at its first file or
// URL placeholder and appends the target as one argument. None when no
// program is left.
std::optional<CommandLine> BrowserCommand(const QString& execLine, const QString& target);

// How a target reaches the desktop; replaceable for tests.
struct ShellLaunch {
    // The desktop's opener (xdg-open behind QDesktopServices).
    std::function<bool(const QString& target)> openUrl;
    // The Exec value of the default web browser's desktop entry; empty when
    // there is none.
    std::function<QString()> browserExecLine;
    // Starts a program detached with its arguments.
    std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
};
ShellLaunch DesktopShell();

// The opener first, then the default web browser with the target; > 32 on
// success, else a failure code for OpenFailureText.
int OpenTarget(const QString& target, const ShellLaunch& shell = DesktopShell());

class CHyperLink : public QLabel {
    Q_OBJECT
  public:
    explicit CHyperLink(QWidget* parent = nullptr);
    CHyperLink(const QString& text, QWidget* parent);

    // Attaches the link behaviour to the control as it now stands (text,
    // geometry, alignment, font): target from the text or text from the
    // target, link font, fitting, cursor and tool tip.
    void PreSubclassWindow();

    void SetTarget(const QString& url);
    QString Target() const { return target_; }
    void SetVisitedState(bool visited);
    bool Visited() const { return visited_; }
    void EnableUnderline(bool underline);
    void SetFitToText(bool fit) { fitToText_ = fit; }
    bool Hovering() const { return hovering_; }

    // The colour the text is drawn in now.
    QColor TextColour() const;
    static QColor LinkColour() { return QColor(0, 0, 238); }
    static QColor VisitedColour() { return QColor(85, 26, 139); }
    QColor HoverColour() const { return hoverColour_; }

    // Opens the target: visited on success, else a beep and the failure box.
    void OnClicked();
    // Replaceable for tests: the opening and the failure report.
    std::function<int(const QString&)> openTarget;
    std::function<void(int code)> reportOpenFailure;
    static void ReportOpenFailure(int code);

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void FitWindowToText();
    void ApplyColour();
    void SetHovering(bool hovering);

    QColor hoverColour_;
    bool hovering_ = false;
    bool visited_ = false;
    bool underline_ = true;
    bool fitToText_ = true;
    bool attached_ = false;
    QString target_;
};

}  // namespace quarry
