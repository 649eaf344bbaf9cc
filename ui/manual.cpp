#include "ui/manual.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace quarry {

QString ManualPath() {
    QStringList candidates;
    const QString fromEnvironment = qEnvironmentVariable("QUARRY_MANUAL");
    if (!fromEnvironment.isEmpty()) {
        candidates << fromEnvironment;
    }
    const QString programDir = QCoreApplication::applicationDirPath();
    if (!programDir.isEmpty()) {
        candidates << QDir(programDir).filePath(QStringLiteral("../share/doc/quarry/manual.html"));
    }
#ifdef QUARRY_MANUAL_INSTALLED
    candidates << QStringLiteral(QUARRY_MANUAL_INSTALLED);
#endif
#ifdef QUARRY_MANUAL_BUILT
    candidates << QStringLiteral(QUARRY_MANUAL_BUILT);
#endif
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile()) {
            return QFileInfo(path).absoluteFilePath();
        }
    }
    return {};
}

QString LicencePath() {
    QStringList candidates;
    const QString fromEnvironment = qEnvironmentVariable("QUARRY_LICENCE");
    if (!fromEnvironment.isEmpty()) {
        candidates << fromEnvironment;
    }
    const QString programDir = QCoreApplication::applicationDirPath();
    if (!programDir.isEmpty()) {
        candidates << QDir(programDir).filePath(QStringLiteral("../share/doc/quarry/LICENSE"));
    }
#ifdef QUARRY_LICENCE_INSTALLED
    candidates << QStringLiteral(QUARRY_LICENCE_INSTALLED);
#endif
#ifdef QUARRY_LICENCE_SOURCE
    candidates << QStringLiteral(QUARRY_LICENCE_SOURCE);
#endif
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile()) {
            return QFileInfo(path).absoluteFilePath();
        }
    }
    return {};
}

QString ManualUrl(const QString& topic) {
    const QString path = ManualPath();
    if (path.isEmpty()) {
        return {};
    }
    QUrl url = QUrl::fromLocalFile(path);
    if (!topic.isEmpty()) {
        url.setFragment(topic);
    }
    return url.toString();
}

QString ManualTopicOf(uint32_t context) {
    return context == kSearchDialogHelpContext ? QString::fromLatin1(kManualTopicDialog)
                                               : QString();
}

bool OpenManual(const QString& topic) {
    const QString url = ManualUrl(topic);
    return !url.isEmpty() && QDesktopServices::openUrl(QUrl(url));
}

}  // namespace quarry
