#include "uidlCache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <algorithm>

namespace korimo {

namespace {

// Version 2: subject, sender and date as fields of their own, and the trailer's digest BLAKE2b-256
// (SHA-256 took four times as long, and a check reads the whole file). A version-1 file is ignored and
// replaced at the next save.
const QByteArray kMagic = "KORIMO-POP3-UIDL-CACHE 2";
constexpr qint64 kMaxFileSize = 64LL * 1024 * 1024;

QByteArray digestOf(QByteArrayView content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Blake2b_256).toHex();
}

// The bytes of hex as save() writes it: lower-case, two digits a byte, at least one byte.
bool fromLowerHex(QByteArrayView hex, QByteArray* bytes) {
    if (hex.isEmpty() || hex.size() % 2 != 0)
        return false;
    bytes->resize(hex.size() / 2);
    for (qsizetype i = 0; i < hex.size(); ++i) {
        const char c = hex[i];
        const int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (nibble < 0)
            return false;
        char& byte = (*bytes)[i / 2];
        byte = char(i % 2 == 0 ? nibble << 4 : uchar(byte) | nibble);
    }
    return true;
}

} // namespace

UidlCache::UidlCache(const QString& folder, const QString& server, const QString& account) {
    const QByteArray key = server.trimmed().toLower().toUtf8() + '\n' + account.toUtf8();
    identity_ = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
    if (!folder.isEmpty())
        path_ = QDir(folder).filePath(QStringLiteral("pop3-") + QString::fromLatin1(identity_.left(32)) +
                                      QStringLiteral(".uidlcache"));
}

// One entry per line: hex UIDL, subject, sender and date, separated by TAB (which no cleaned value holds).
QHash<QByteArray, SummaryFields> UidlCache::load() const {
    QHash<QByteArray, SummaryFields> records;
    if (path_.isEmpty())
        return records;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return records;
    const QByteArray data = file.readAll();
    // The last line names the entries and the hash of everything before it.
    if (!data.endsWith('\n'))
        return records;
    const qsizetype trailerStart = data.lastIndexOf('\n', data.size() - 2) + 1;
    const QByteArrayView content(data.constData(), trailerStart);
    const QList<QByteArray> trailer = data.mid(trailerStart).trimmed().split(' ');
    const QByteArray digest = digestOf(content);
    if (trailer.size() != 3 || trailer[0] != "END" || trailer[2] != digest)
        return records;
    const QByteArray head = kMagic + "\nID " + identity_ + '\n';
    bool countOk = false;
    const qsizetype count = trailer[1].toLongLong(&countOk);
    if (!content.startsWith(head) || !countOk || count < 0 || count > content.size())
        return records;
    records.reserve(count);
    // Line by line in place, without a copy of any line: content ends in '\n', so every line has its end.
    qsizetype entries = 0;
    for (qsizetype pos = head.size(); pos < content.size();) {
        const qsizetype lf = content.indexOf('\n', pos);
        QByteArrayView line = content.sliced(pos, lf - pos);
        pos = lf + 1;
        QByteArrayView parts[4];
        for (int i = 0; i < 3; ++i) {
            const qsizetype tab = line.indexOf('\t');
            if (tab < 0)
                return {};
            parts[i] = line.first(tab);
            line = line.sliced(tab + 1);
        }
        parts[3] = line;
        QByteArray uid;
        if (parts[3].contains('\t') || !fromLowerHex(parts[0], &uid))
            return {};
        const SummaryFields fields{QString::fromUtf8(parts[1]), QString::fromUtf8(parts[2]),
                                   QString::fromUtf8(parts[3])};
        if (!isCleanSummaryValue(fields.subject) || !isCleanSummaryValue(fields.from) ||
            !isCleanSummaryValue(fields.date))
            return {};
        records.insert(uid, fields);
        ++entries;
    }
    if (entries != count)
        return {};
    return records;
}

bool UidlCache::save(const QHash<QByteArray, SummaryFields>& entries) const {
    if (path_.isEmpty())
        return false;
    QList<QByteArray> uids = entries.keys();
    std::sort(uids.begin(), uids.end());
    QByteArray content = kMagic + "\nID " + identity_ + '\n';
    for (const QByteArray& uid : std::as_const(uids)) {
        const SummaryFields& f = entries[uid];
        // Never write what load() would refuse.
        if (!isCleanSummaryValue(f.subject) || !isCleanSummaryValue(f.from) || !isCleanSummaryValue(f.date))
            continue;
        content += uid.toHex() + '\t' + f.subject.toUtf8() + '\t' + f.from.toUtf8() + '\t' + f.date.toUtf8() + '\n';
    }
    const qsizetype lines = content.count('\n') - 2;
    content += "END " + QByteArray::number(lines) + ' ' + digestOf(content) + '\n';
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace korimo
