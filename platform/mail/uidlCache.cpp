#include "uidlCache.h"

#include "summaryRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <algorithm>

namespace korimo {

namespace {

// Version 2: the trailer's digest is BLAKE2b-256 (version 1's SHA-256 took four times as long, and a
// check reads the whole file). A version-1 file is ignored and replaced at the next save.
const QByteArray kMagic = "KORIMO-POP3-UIDL-CACHE 2";
constexpr qint64 kMaxFileSize = 64LL * 1024 * 1024;

QByteArray digestOf(QByteArrayView content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Blake2b_256).toHex();
}

// The file's hash already proves that it holds what save() wrote, and save() writes only well-formed
// records; this cheaper test keeps the steady-state check fast and still guarantees that no control
// or bidi character reaches the windows.
bool plausibleRecord(const QString& record) {
    if (!record.startsWith(QStringLiteral("Subject:")))
        return false;
    for (QChar c : record) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x061C || u == 0x200E || u == 0x200F ||
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            return false;
    }
    return record.contains(QStringLiteral(" From:")) && record.contains(QStringLiteral(" Date: "));
}

} // namespace

UidlCache::UidlCache(const QString& folder, const QString& server, const QString& account) {
    const QByteArray key = server.trimmed().toLower().toUtf8() + '\n' + account.toUtf8();
    identity_ = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
    if (!folder.isEmpty())
        path_ = QDir(folder).filePath(QStringLiteral("pop3-") + QString::fromLatin1(identity_.left(32)) +
                                      QStringLiteral(".uidlcache"));
}

QHash<QByteArray, QString> UidlCache::load() const {
    QHash<QByteArray, QString> records;
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
    // Line by line in place: content ends in '\n', so every line has its end.
    qsizetype entries = 0;
    for (qsizetype pos = head.size(); pos < content.size();) {
        const qsizetype lf = content.indexOf('\n', pos);
        const QByteArrayView line(content.constData() + pos, lf - pos);
        pos = lf + 1;
        const qsizetype tab = line.indexOf('\t');
        // The UIDL in lower-case hex exactly as save() writes it.
        if (tab <= 0 || tab % 2 != 0)
            return {};
        const QByteArrayView hexUid = line.first(tab);
        if (!std::all_of(hexUid.begin(), hexUid.end(),
                         [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
            return {};
        const QString record = QString::fromUtf8(line.sliced(tab + 1));
        if (!plausibleRecord(record))
            return {};
        records.insert(QByteArray::fromHex(hexUid.toByteArray()), record);
        ++entries;
    }
    if (entries != count)
        return {};
    return records;
}

bool UidlCache::save(const QHash<QByteArray, QString>& records) const {
    if (path_.isEmpty())
        return false;
    QList<QByteArray> uids = records.keys();
    std::sort(uids.begin(), uids.end());
    QByteArray content = kMagic + "\nID " + identity_ + '\n';
    for (const QByteArray& uid : std::as_const(uids)) {
        const QString& record = records[uid];
        if (!isWellFormedSummaryRecord(record)) // never write what load() would refuse
            continue;
        content += uid.toHex() + '\t' + record.toUtf8() + '\n';
    }
    const qsizetype entries = content.count('\n') - 2;
    content += "END " + QByteArray::number(entries) + ' ' + digestOf(content) + '\n';
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
