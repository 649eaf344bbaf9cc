// File names as the system has them: bytes. A name that is not UTF-8 (made
// under another locale, copied from an old disk) has no QString of its own in
// Qt 6, which decodes every file name as UTF-8 and loses such bytes. Here a
// byte that is no part of a UTF-8 character is carried as the lone surrogate
// U+DC80 + (byte - 0x80), so that the name goes back to the same bytes.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QFile;
class QUrl;

namespace quarry {

// The name's bytes as a QString, each stray byte carried as above.
QString FileNameFromBytes(QByteArrayView bytes);
// The bytes a name stands for: the inverse of FileNameFromBytes.
QByteArray FileNameBytes(const QString& name);
// True when Qt's own file classes reach the file by this name.
bool QtCanName(const QString& name);
// The name for people to read: a stray byte shows as U+FFFD.
QString ShownFileName(const QString& name);
// The file an absolute name from a file dialog stands for. A desktop's own
// dialog hands its choice over as text, where each stray byte of a name has
// become U+FFFD, and Qt cannot reach the file by that name; each part of the
// path holding U+FFFD is looked up among its folder's entries by how Qt shows
// them. The name as it is when it holds no U+FFFD, or when no single entry
// fits.
QString FileNameFromShown(const QString& shown);
// The local file of a dropped URL, its percent-encoded bytes kept.
QString FileNameOfUrl(const QUrl& url);

// Opens the file for reading by its own bytes; false, with errno set, when
// it can't be opened.
bool OpenFileBytes(const QString& name, QFile& file);
// Reads the whole file; false, with errno set, when it can't be read.
bool ReadFileBytes(const QString& name, QByteArray& bytes);
// Writes the file through a temporary file in its folder that replaces it
// only once complete, with the old file's permissions; false, with the
// reason in error, when it can't be written. For names Qt can't reach.
bool WriteFileBytes(const QString& name, const QByteArray& bytes, QString* error);

}  // namespace quarry
