// The summary fields of messages already seen, by UIDL, so that a check fetches headers (TOP n 0)
// only for messages that are new since the last one. One file per mailbox in the data folder; its name
// is a hash of server and account, never anything a server sent. The cache only saves work: every
// count comes from the server's UIDL listing, and a file that is damaged, truncated, from another
// version or for another mailbox is ignored (and replaced at the next save).
#pragma once

#include "summaryFields.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace korimo {

class UidlCache {
public:
    // folder empty: a cache that never loads or saves anything.
    UidlCache(const QString& folder, const QString& server, const QString& account);

    const QString& path() const { return path_; }

    // The fields stored by the last save, or none when the file is missing or not exactly as we write it.
    QHash<QByteArray, SummaryFields> load() const;
    // Replaces the file atomically (mode 0600). false when it could not be written.
    bool save(const QHash<QByteArray, SummaryFields>& entries) const;

private:
    QString path_;
    QByteArray identity_; // hex SHA-256 of server and account, also written inside the file
};

} // namespace korimo
