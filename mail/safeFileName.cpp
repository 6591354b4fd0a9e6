#include "safeFileName.h"

#include <QList>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace korimo {
namespace {

bool isBidiControl(char32_t c) {
    return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x061C;
}

// Controls, bidi controls, line separators, and the invisible format characters (zero-width space and
// joiners, word joiner, soft hyphen, BOM, tags...) that make two names look alike.
bool isUnwanted(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || isBidiControl(c) || c == 0x2028 || c == 0x2029 ||
           (c >= 0xD800 && c <= 0xDFFF) || QChar::category(c) == QChar::Other_Format;
}

// The longest prefix of text whose UTF-8 form fits in maxBytes, never splitting a character.
QString cutToBytes(const QString& text, qsizetype maxBytes) {
    QString out;
    qsizetype bytes = 0;
    for (const uint u : text.toUcs4()) {
        const char32_t c = u;
        const qsizetype len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (bytes + len > maxBytes)
            break;
        bytes += len;
        out.append(QString::fromUcs4(&c, 1));
    }
    return out;
}

// Splits "stem.ext" where ext is short enough to be a real extension; "" when there is none.
void splitExtension(const QString& name, QString& stem, QString& ext) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && name.size() - dot <= 16) {
        stem = name.left(dot);
        ext = name.mid(dot);
    } else {
        stem = name;
        ext.clear();
    }
}

QString fitName(const QString& stem, const QString& ext) {
    const qsizetype extBytes = ext.toUtf8().size();
    return cutToBytes(stem, kMaxFileNameBytes - extBytes) + ext;
}

bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Gives the finished temporary file its name unless that name exists (a symlink included).
// Returns 0, or the errno (EEXIST when taken).
int publish(int dirFd, const QByteArray& tmp, const QByteArray& target) {
    if (::syscall(SYS_renameat2, dirFd, tmp.constData(), dirFd, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    // File systems without RENAME_NOREPLACE: link() never replaces and never follows a symlink at target.
    if (::linkat(dirFd, tmp.constData(), dirFd, target.constData(), 0) == 0) {
        ::unlinkat(dirFd, tmp.constData(), 0);
        return 0;
    }
    return errno;
}

} // namespace

QString safeFileName(const QString& suggested) {
    QString name = suggested;
    // Directory parts of either convention: only the last component counts.
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0)
        name = name.mid(slash + 1);
    QString clean;
    for (const uint u : name.toUcs4()) {
        const char32_t c = u;
        if (!isUnwanted(c))
            clean.append(QString::fromUcs4(&c, 1));
    }
    clean = clean.trimmed();
    // No hidden files, no "." or "..", nothing a command would take for an option, nothing Qt would
    // take for one of its resources (":name"): leading dots, dashes, colons and blanks go; trailing
    // dots and blanks too.
    qsizetype start = 0;
    while (start < clean.size() && (clean.at(start) == QLatin1Char('.') || clean.at(start) == QLatin1Char('-') ||
                                    clean.at(start) == QLatin1Char(':') || clean.at(start).isSpace()))
        ++start;
    clean = clean.mid(start);
    while (!clean.isEmpty() && (clean.endsWith(QLatin1Char('.')) || clean.back().isSpace()))
        clean.chop(1);
    clean = clean.trimmed();
    if (clean.isEmpty())
        return {};
    QString stem, ext;
    splitExtension(clean, stem, ext);
    if (stem.isEmpty())
        return {};
    return fitName(stem, ext);
}

QString numberedFileName(const QString& name, int n) {
    QString stem, ext;
    splitExtension(name, stem, ext);
    const QString suffix = QStringLiteral(" (%1)").arg(n) + ext;
    return fitName(stem, suffix);
}

AttachmentFolder::AttachmentFolder(const QString& path) {
    const QByteArray p = path.toUtf8();
    fd_ = p.isEmpty() ? -1 : ::open(p.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        error_ = QStringLiteral("フォルダを開けません: ") + path;
}

AttachmentFolder::~AttachmentFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

QString AttachmentFolder::saveNew(const QString& name, const QByteArray& data) {
    if (fd_ < 0)
        return {};
    // The temporary name starts with a dot, which safe names never do, so it cannot meet a final name.
    QByteArray tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = ".korimo-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".part";
        fd = ::openat(fd_, tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error_ = QStringLiteral("添付ファイルを作れません: ") + QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    const int writeErr = errno;
    ::close(fd);
    if (!written) {
        ::unlinkat(fd_, tmp.constData(), 0);
        error_ = QStringLiteral("添付ファイルを書けません: ") + QString::fromLocal8Bit(std::strerror(writeErr));
        return {};
    }
    for (int n = 1; n <= 10000; ++n) {
        const QString candidate = n == 1 ? name : numberedFileName(name, n);
        const int err = publish(fd_, tmp, candidate.toUtf8());
        if (err == 0)
            return candidate;
        if (err != EEXIST) {
            ::unlinkat(fd_, tmp.constData(), 0);
            error_ = QStringLiteral("添付ファイルを保存できません: ") + QString::fromLocal8Bit(std::strerror(err));
            return {};
        }
    }
    ::unlinkat(fd_, tmp.constData(), 0);
    error_ = QStringLiteral("添付ファイルの名前が空いていません");
    return {};
}

} // namespace korimo
