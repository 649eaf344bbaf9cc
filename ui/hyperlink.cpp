#include "ui/hyperlink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include "res/command_ids.h"
#include "res/resource_tables.h"

namespace quarry {

QString OpenFailureText(int code) {
    QString text;
    switch (code) {
        case 0:
            text = QStringLiteral("The operating system is out\nof memory or resources.");
            break;
        case 2:
            text = QStringLiteral("The specified file was not found.");
            break;
        case 3:
            text = QStringLiteral("The specified path was not found.");
            break;
        case 5:
            text = QStringLiteral("The operating system denied\naccess to the specified file.");
            break;
        case 8:
            text = QStringLiteral("There was not enough memory to complete the operation.");
            break;
        case 11:
            text = QStringLiteral(
                "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
            break;
        case 26:
            text = QStringLiteral("A sharing violation occurred. ");
            break;
        case 27:
            text = QStringLiteral("The filename association is\nincomplete or invalid.");
            break;
        case 28:
            text = QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
            break;
        case 29:
            text = QStringLiteral("The DDE transaction failed.");
            break;
        case 30:
            text = QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE transactions\n"
                "were being processed.");
            break;
        case 31:
            text = QStringLiteral(
                "There is no application associated\nwith the given filename extension.");
            break;
        case 32:
            text = QStringLiteral("The specified dynamic-link library was not found.");
            break;
        default:
            text = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
            break;
    }
    return QStringLiteral("Unable to open hyperlink:\n\n") + text;
}

QRect FitRectToText(const QRect& window, const QSize& extent, Qt::Alignment alignment) {
    int left = window.left();
    int top = window.top();
    int right = window.left() + window.width();
    int bottom = window.top() + window.height();
    if (alignment & Qt::AlignVCenter) {
        const int d = (window.height() - extent.height()) / 2;
        top += d;
        bottom -= d;
    } else {
        bottom = top + extent.height();
    }
    if (alignment & Qt::AlignHCenter) {
        const int d = (window.width() - extent.width()) / 2;
        left += d;
        right -= d;
    } else if (alignment & Qt::AlignRight) {
        left = right - extent.width();
    } else {
        right = left + extent.width();
    }
    return QRect(left, top, right - left, bottom - top);
}

namespace {

// Splits an Exec value into words; each word notes whether it held an
// unquoted field code at its position.
struct ExecWord {
    QString text;
    int placeholderAt = -1;  // position of a file or URL field code in text
};

QList<ExecWord> SplitExec(const QString& exec) {
    QList<ExecWord> words;
    ExecWord word;
    bool inWord = false;
    bool quoted = false;
    bool hadQuotes = false;  // "" is an argument, a lone %i is not
    auto finish = [&] {
        if (inWord && (!word.text.isEmpty() || word.placeholderAt >= 0 || hadQuotes)) {
            words.append(word);
        }
        word = ExecWord{};
        inWord = false;
        hadQuotes = false;
    };
    auto fieldCode = [&](QChar code) {
        if (code == QLatin1Char('%')) {
            word.text += code;
        } else if (QStringLiteral("fFuU").contains(code) && word.placeholderAt < 0) {
            word.placeholderAt = int(word.text.size());
        }
        // Other field codes (icon, name, location) expand to nothing here.
    };
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                word.text += exec[++i];
            } else if (c == QLatin1Char('%') && i + 1 < exec.size()) {
                // A quoted placeholder counts as well.
                fieldCode(exec[++i]);
            } else {
                word.text += c;
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            finish();
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('"')) {
            quoted = true;
            hadQuotes = true;
        } else if (c == QLatin1Char('%') && i + 1 < exec.size()) {
            fieldCode(exec[++i]);
        } else {
            word.text += c;
        }
    }
    finish();
    return words;
}

// The Exec value of a desktop entry file, its string escapes resolved.
QString ReadExecLine(const QString& desktopFile) {
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream in(&file);
    bool inEntry = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inEntry || !line.startsWith(QStringLiteral("Exec"))) {
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || line.left(eq).trimmed() != QStringLiteral("Exec")) {
            continue;
        }
        const QString raw = line.mid(eq + 1).trimmed();
        QString value;
        for (int i = 0; i < raw.size(); ++i) {
            if (raw[i] != QLatin1Char('\\') || i + 1 >= raw.size()) {
                value += raw[i];
                continue;
            }
            const QChar e = raw[++i];
            if (e == QLatin1Char('s')) {
                value += QLatin1Char(' ');
            } else if (e == QLatin1Char('t')) {
                value += QLatin1Char('\t');
            } else if (e == QLatin1Char('n')) {
                value += QLatin1Char('\n');
            } else if (e == QLatin1Char('r')) {
                value += QLatin1Char('\r');
            } else if (e == QLatin1Char('\\')) {
                value += e;
            } else {
                value += QLatin1Char('\\');  // not a string escape: the quoting's own
                value += e;
            }
        }
        return value;
    }
    return {};
}

// The desktop entry name of the default web browser: xdg-settings first, the
// MIME associations of the user and the system second.
QString DefaultBrowserEntry() {
    QProcess settings;
    settings.start(QStringLiteral("xdg-settings"),
                   {QStringLiteral("get"), QStringLiteral("default-web-browser")});
    if (settings.waitForFinished(5000) && settings.exitStatus() == QProcess::NormalExit &&
        settings.exitCode() == 0) {
        const QString name = QString::fromUtf8(settings.readAllStandardOutput()).trimmed();
        if (name.endsWith(QStringLiteral(".desktop"))) {
            return name;
        }
    } else if (settings.state() != QProcess::NotRunning) {
        settings.kill();
        settings.waitForFinished(1000);
    }
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        QSettings list(dir + QStringLiteral("/mimeapps.list"), QSettings::IniFormat);
        for (const char* type : {"x-scheme-handler/http", "text/html"}) {
            const QString value =
                list.value(QStringLiteral("Default Applications/") + QString::fromLatin1(type))
                    .toString();
            const QString first = value.section(QLatin1Char(';'), 0, 0).trimmed();
            if (!first.isEmpty()) {
                return first;
            }
        }
    }
    return {};
}

}  // namespace

std::optional<CommandLine> BrowserCommand(const QString& execLine, const QString& target) {
    CommandLine command;
    QStringList words;
    for (const ExecWord& word : SplitExec(execLine)) {
        if (word.placeholderAt >= 0) {
            const QString before = word.text.left(word.placeholderAt);
            if (!before.isEmpty()) {
                words << before;
            }
            break;  // the placeholder and everything after it go
        }
        words << word.text;
    }
    if (words.isEmpty() || words.front().isEmpty()) {
        return std::nullopt;
    }
    command.program = words.takeFirst();
    command.arguments = words;
    command.arguments << target;
    return command;
}

ShellLaunch DesktopShell() {
    ShellLaunch shell;
    shell.openUrl = [](const QString& target) {
        const QUrl url = QUrl::fromUserInput(target);
        return url.isValid() && QDesktopServices::openUrl(url);
    };
    shell.browserExecLine = [] {
        const QString entry = DefaultBrowserEntry();
        if (entry.isEmpty()) {
            return QString();
        }
        const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
        return path.isEmpty() ? QString() : ReadExecLine(path);
    };
    shell.startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    return shell;
}

int OpenTarget(const QString& target, const ShellLaunch& shell) {
    // The desktop's opener answers only whether it could be asked: no
    // association is the one failure it can name.
    if (!target.isEmpty() && shell.openUrl && shell.openUrl(target)) {
        return kOpenSucceeded;
    }
    const int openerResult = SE_ERR_NOASSOC;
    const QString exec = shell.browserExecLine ? shell.browserExecLine() : QString();
    if (exec.isEmpty()) {
        return openerResult;
    }
    const std::optional<CommandLine> command = BrowserCommand(exec, target);
    if (!command) {
        return openerResult;
    }
    if (!shell.startDetached || !shell.startDetached(command->program, command->arguments)) {
        return SE_ERR_FNF;
    }
    return kOpenSucceeded;
}

CHyperLink::CHyperLink(QWidget* parent) : CHyperLink(QString(), parent) {}

CHyperLink::CHyperLink(const QString& text, QWidget* parent)
    : QLabel(text, parent), hoverColour_(QApplication::palette().color(QPalette::Highlight)) {
    openTarget = [](const QString& target) { return OpenTarget(target); };
    reportOpenFailure = &CHyperLink::ReportOpenFailure;
}

void CHyperLink::PreSubclassWindow() {
    if (target_.isEmpty()) {
        target_ = text();
    }
    if (text().isEmpty()) {
        setText(target_);
    }
    QFont linkFont = font();
    linkFont.setWeight(QFont::DemiBold);  // 600
    linkFont.setUnderline(underline_);
    setFont(linkFont);
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(false);
    setMouseTracking(true);
    attached_ = true;
    FitWindowToText();
    setCursor(Qt::PointingHandCursor);
    setToolTip(target_);
    ApplyColour();
}

void CHyperLink::SetTarget(const QString& url) {
    target_ = url;
    if (attached_) {
        FitWindowToText();
        setToolTip(target_);
    }
}

void CHyperLink::SetVisitedState(bool visited) {
    visited_ = visited;
    ApplyColour();
}

void CHyperLink::EnableUnderline(bool underline) {
    underline_ = underline;
    if (attached_) {
        QFont linkFont = font();
        linkFont.setUnderline(underline);
        setFont(linkFont);
        update();
    }
}

QColor CHyperLink::TextColour() const {
    if (hovering_) {
        return hoverColour_;
    }
    return visited_ ? VisitedColour() : LinkColour();
}

void CHyperLink::ApplyColour() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, TextColour());
    setPalette(p);
    update();
}

void CHyperLink::FitWindowToText() {
    if (!fitToText_) {
        return;
    }
    const QFontMetrics metrics(font());
    const QSize extent(metrics.horizontalAdvance(text()), metrics.height());
    setGeometry(FitRectToText(geometry(), extent, alignment()));
}

void CHyperLink::SetHovering(bool hovering) {
    hovering_ = hovering;
    ApplyColour();
    repaint();
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
    QLabel::mouseMoveEvent(event);
    if (!hovering_) {
        SetHovering(true);
    } else if (!rect().contains(event->position().toPoint())) {
        SetHovering(false);
    }
}

void CHyperLink::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    if (hovering_) {
        SetHovering(false);
    }
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        OnClicked();
    }
}

void CHyperLink::OnClicked() {
    const int result = openTarget ? openTarget(target_) : 0;
    if (result > 32) {
        SetVisitedState(true);
        return;
    }
    visited_ = false;
    QApplication::beep();
    if (reportOpenFailure) {
        reportOpenFailure(result);
    }
}

void CHyperLink::ReportOpenFailure(int code) {
    QMessageBox::warning(QApplication::activeWindow(), LoadString(IDS_APP_TITLE),
                         OpenFailureText(code));
}

}  // namespace quarry
