#include "app/file_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QUrl>

#include <cerrno>
#include <cstring>

namespace quarry {
namespace {

constexpr char16_t kStrayBase = 0xDC00;

// Length of the UTF-8 character at text[i], or 0 when none starts there.
int Utf8Length(QByteArrayView text, qsizetype i) {
    const auto b = [&](qsizetype k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(i);
    int n = 0;
    char32_t min = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, min = 0x80, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, min = 0x800, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size()) {
        return 0;
    }
    for (int k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no characters.
    if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        return 0;
    }
    return n;
}

}  // namespace

QString FileNameFromBytes(QByteArrayView bytes) {
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const int n = Utf8Length(bytes, i);
        if (n == 0) {
            name += QChar(char16_t(kStrayBase + static_cast<unsigned char>(bytes[i])));
            ++i;
        } else {
            name += QString::fromUtf8(bytes.sliced(i, n));
            i += n;
        }
    }
    return name;
}

QByteArray FileNameBytes(const QString& name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype from = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool stray = c >= kStrayBase + 0x80 && c <= kStrayBase + 0xFF &&
                           !(i > 0 && name[i - 1].isHighSurrogate());
        if (stray) {
            bytes += QStringView(name).sliced(from, i - from).toUtf8();
            bytes += char(c - kStrayBase);
            from = i + 1;
        }
    }
    bytes += QStringView(name).sliced(from).toUtf8();
    return bytes;
}

bool QtCanName(const QString& name) {
    return QFile::encodeName(name) == FileNameBytes(name);
}

QString ShownFileName(const QString& name) {
    if (QtCanName(name)) {
        return name;
    }
    return QString::fromUtf8(FileNameBytes(name));  // stray bytes become U+FFFD
}

QString FileNameFromShown(const QString& shown) {
    constexpr QChar kReplacement(0xFFFD);
    if (!shown.contains(kReplacement) || !shown.startsWith(QLatin1Char('/'))) {
        return shown;
    }
    QByteArray path;
    for (const QString& part : shown.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!part.contains(kReplacement)) {
            path += '/' + part.toUtf8();
            continue;
        }
        DIR* dir = ::opendir(path.isEmpty() ? "/" : path.constData());
        if (dir == nullptr) {
            return shown;
        }
        QByteArray found;
        int fits = 0;
        while (const dirent* entry = ::readdir(dir)) {
            if (QFile::decodeName(entry->d_name) == part) {
                found = entry->d_name;
                ++fits;
            }
        }
        ::closedir(dir);
        if (fits != 1) {
            return shown;  // none, or several that only differ in stray bytes
        }
        path += '/' + found;
    }
    return FileNameFromBytes(path);
}

QString FileNameOfUrl(const QUrl& url) {
    if (!url.isLocalFile()) {
        return {};
    }
    const QByteArray path =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return FileNameFromBytes(path);
}

bool OpenFileBytes(const QString& name, QFile& file) {
    const int fd = ::open(FileNameBytes(name).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // The descriptor goes with the QFile, which reads as for any other name.
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool ReadFileBytes(const QString& name, QByteArray& bytes) {
    QFile file;
    if (!OpenFileBytes(name, file)) {
        return false;
    }
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}

bool WriteFileBytes(const QString& name, const QByteArray& bytes, QString* error) {
    const QByteArray target = FileNameBytes(name);
    QByteArray temp = target + ".XXXXXX";
    const auto fail = [&](int reason, int fd) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temp.constData());
        }
        if (error != nullptr) {
            *error = QString::fromLocal8Bit(std::strerror(reason));
        }
        return false;
    };
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(errno, -1);
    }
    // The old file's permissions, or a new file's as the umask makes them.
    struct stat old {};
    mode_t mode = 0;
    if (::stat(target.constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0) {
        return fail(errno, fd);
    }
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno, fd);
        }
        done += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int reason = errno;
        ::unlink(temp.constData());
        return fail(reason, -1);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int reason = errno;
        ::unlink(temp.constData());
        return fail(reason, -1);
    }
    return true;
}

}  // namespace quarry
