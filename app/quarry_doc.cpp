#include "app/quarry_doc.h"
#include "app/app_state.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QTimer>

#include "app/file_names.h"
#include "app/quarry_view.h"
#include "search/host.h"

namespace quarry {

CQuarryDoc::CQuarryDoc(QObject* parent) : QObject(parent) {
    connect(&text_, &DocumentText::EncodingWidened, this, &CQuarryDoc::OnEncodingWidened);
    // The windows mark a modified document in their titles.
    connect(&text_, &DocumentText::ModifiedChanged, this, &CQuarryDoc::TitleChanged);
}

void CQuarryDoc::SetTitle(const QString& title) {
    title_ = title;
    emit TitleChanged();
}

bool CQuarryDoc::IsModified() const {
    return text_.IsModified();
}

QString CQuarryDoc::ShownTitle() const {
    return IsModified() ? QStringLiteral("*") + title_ : title_;
}

void CQuarryDoc::SetModifiedFlag(bool modified) {
    text_.SetModified(modified);
}

void CQuarryDoc::OnNewDocument(const QString& title) {
    text_.LoadBytes({});
    path_.clear();
    SetTitle(title);
}

bool CQuarryDoc::OnOpenDocument(const QString& path) {
    return OpenInPieces(path, {}) == OpenResult::Opened;
}

CQuarryDoc::OpenResult CQuarryDoc::OpenInPieces(
    const QString& path, const std::function<bool(int64_t done, int64_t total)>& between) {
    QFile file;
    if (!OpenFileBytes(path, file)) {
        return OpenResult::Failed;
    }
    const int64_t total = file.size();
    const int64_t pieceBytes = std::max<int64_t>(loadPieceBytes, 1);
    // One piece's room, reused: the file never sits in memory twice. (A file
    // that tells no size, as some of /proc, is read in whole pieces.)
    const int64_t room = total > 0 ? std::min(pieceBytes, total) : pieceBytes;
    const auto piece = std::make_unique<char[]>(size_t(room));
    if (between) {
        // Nothing is read yet: done is 0 while the room is made.
        text_.BeginLoad(total, [&between, total] { between(0, total); });
    } else {
        text_.BeginLoad(total);
    }
    int64_t done = 0;
    OpenResult result = OpenResult::Opened;
    for (;;) {
        const int64_t got = file.read(piece.get(), room);
        if (got < 0 || file.error() != QFileDevice::NoError) {
            result = OpenResult::Failed;
            break;
        }
        if (got == 0) {
            break;
        }
        text_.LoadPiece(std::string_view(piece.get(), size_t(got)));
        done += got;
        if (done < total && between && !between(done, total)) {
            result = OpenResult::Cancelled;
            break;
        }
    }
    text_.EndLoad(result == OpenResult::Opened);
    if (result != OpenResult::Opened) {
        return result;
    }
    path_ = QFileInfo(path).absoluteFilePath();
    SetTitle(ShownFileName(QFileInfo(path).fileName()));
    return result;
}

bool CQuarryDoc::OnSaveDocument(const QString& path, QString* error) {
    // A name Qt would write under other bytes is written by its own bytes.
    if (!QtCanName(path)) {
        if (!WriteFileBytes(path, text_.SaveBytes(), error)) {
            return false;
        }
        text_.SetModified(false);
        return true;
    }
    // A failed or interrupted save leaves the old file as it was.
    QSaveFile file(path);
    errno = 0;
    bool saved = file.open(QIODevice::WriteOnly);
    if (saved) {
        const QByteArray bytes = text_.SaveBytes();
        saved = file.write(bytes) == bytes.size() && file.commit();
    }
    if (!saved) {
        const int reason = errno;
        if (error != nullptr) {
            // Qt's text is "Unknown error" for some failures (a full disk at
            // the commit): the system's reason then says what happened.
            *error = file.errorString();
            if ((error->isEmpty() || *error == QStringLiteral("Unknown error")) && reason != 0) {
                *error = QString::fromLocal8Bit(std::strerror(reason));
            }
        }
        return false;
    }
    text_.SetModified(false);
    return true;
}

QString CQuarryDoc::SaveAsStart() const {
    if (!path_.isEmpty()) {
        return path_;  // its own folder, under its own name
    }
    const QString folder = fileOpenDir.isEmpty() ? QDir::homePath() : fileOpenDir;
    return QDir(folder).filePath(title_);
}

bool CQuarryDoc::DoFileSave() {
    return DoSave(path_);
}

bool CQuarryDoc::DoSave(const QString& path) {
    QString target = path;
    if (target.isEmpty()) {
        target = QFileDialog::getSaveFileName(QApplication::activeWindow(),
                                              QStringLiteral("Save As"), SaveAsStart());
        if (target.isEmpty()) {
            return false;
        }
    }
    QString error;
    if (!OnSaveDocument(target, &error)) {
        QMessageBox::warning(QApplication::activeWindow(), QStringLiteral("Quarry!"),
                             QStringLiteral("%1\nFailed to save document.\n%2").arg(target, error));
        return false;
    }
    if (QFileInfo(target).absoluteFilePath() != path_) {
        path_ = QFileInfo(target).absoluteFilePath();
        SetTitle(ShownFileName(QFileInfo(target).fileName()));
        emit SavedAs(path_);
    }
    return true;
}

bool CQuarryDoc::SaveModified() {
    if (!IsModified()) {
        return true;
    }
    const auto answer = QMessageBox::question(
        QApplication::activeWindow(), QStringLiteral("Quarry!"),
        QStringLiteral("Save changes to %1?").arg(path_.isEmpty() ? title_ : ShownFileName(path_)),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::Cancel) {
        return false;
    }
    if (answer == QMessageBox::Yes) {
        return DoFileSave();
    }
    return true;
}

void CQuarryDoc::AddView(CQuarryView* view) {
    views_.append(view);
}

void CQuarryDoc::RemoveView(CQuarryView* view) {
    views_.removeAll(view);
}

void CQuarryDoc::OnEncodingWidened(QChar character) {
    // Told after the edit has finished; the character stays in the text.
    const QString name = title_;
    const uint code = character.unicode();
    QTimer::singleShot(0, this, [name, code] {
        const QString hex = QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        const QString text =
            QStringLiteral(
                "The character U+%1 has no byte in the 8-bit encoding this document "
                "was read with.\nThe character is kept: \"%2\" will be saved as "
                "UTF-8.")
                .arg(hex, name);
        ShowMessage(text.toStdString(), "Quarry! Message");
    });
}

}  // namespace quarry
