// The POP3 transport: list, remove and save. Every call is one session: connect, log in, work, QUIT.
#include "pop3Client.h"
#include "pop3Transport.h"
#include "summaryFields.h"
#include "uidlCache.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <thread>
#include <unistd.h>
#include <vector>

namespace korimo {

namespace {

pop3::ClientOptions clientOptions(const TransportOptions& o) {
    pop3::ClientOptions c;
    c.connectTimeoutMs = o.connectTimeoutMs;
    c.readTimeoutMs = o.readTimeoutMs;
    c.sessionBaseMs = o.sessionBaseMs;
    c.caFile = o.caFile;
    return c;
}

QString addressText(const pop3::ServerAddress& a) {
    const QString host = a.host.contains(u':') ? QStringLiteral("[") + a.host + QStringLiteral("]") : a.host;
    return host + QStringLiteral(":") + QString::number(a.port);
}

QString joined(const QString& a, const QString& b) {
    return a.isEmpty() ? b : b.isEmpty() ? a : a + QStringLiteral(": ") + b;
}

// The client's last failure as an error.
MailError errorOf(const pop3::Client& client, const pop3::ServerAddress& address) {
    const QString detail = client.errorDetail();
    switch (client.errorKind()) {
    case pop3::ErrorKind::BadCredentialText:
        return {MailErrorKind::BadCredentials, {}};
    case pop3::ErrorKind::Unreachable:
        return {MailErrorKind::Unreachable, joined(addressText(address), detail)};
    case pop3::ErrorKind::TlsNotOffered:
        return {MailErrorKind::TlsRefused, joined(QStringLiteral("STLS"), detail)};
    case pop3::ErrorKind::Tls:
    case pop3::ErrorKind::Certificate:
        return {MailErrorKind::TlsFailed, detail};
    case pop3::ErrorKind::LoginRefused:
        return {MailErrorKind::LoginRefused, detail};
    case pop3::ErrorKind::Timeout:
        return {MailErrorKind::TimedOut, {}};
    case pop3::ErrorKind::Deadline:
        return {MailErrorKind::TimedOut, QStringLiteral("サーバーの応答が遅すぎるため打ち切りました")};
    case pop3::ErrorKind::Dropped:
        return {MailErrorKind::Unreachable, QStringLiteral("サーバーとの接続が途中で切れました")};
    case pop3::ErrorKind::ServerError:
        return {MailErrorKind::ServerRefused, detail};
    case pop3::ErrorKind::TooLarge:
        return {MailErrorKind::TooLarge, QStringLiteral("サーバーの応答が大きすぎます")};
    case pop3::ErrorKind::TooManyMessages:
        return {MailErrorKind::TooLarge,
                QStringLiteral("メールが多すぎます: 一覧できるのは 1 つのメールボックスにつき ") +
                    QString::number(pop3::ClientOptions{}.maxMessages) + QStringLiteral(" 通まで")};
    case pop3::ErrorKind::Protocol:
    case pop3::ErrorKind::None:
        break;
    }
    return {MailErrorKind::Protocol, detail};
}

// One POP3 session for list, save and remove: the server text resolved, connected, logged in.
class Session {
public:
    explicit Session(const TransportOptions& options) : client(clientOptions(options)) {}

    std::optional<MailError> open(const Mailbox& box) {
        if (box.server.trimmed().isEmpty())
            return MailError{MailErrorKind::NotConfigured, {}};
        const std::optional<pop3::ServerAddress> parsed = pop3::parseServerText(box.server);
        if (!parsed)
            return MailError{MailErrorKind::NotConfigured, box.server.trimmed().left(100)};
        address = *parsed;
        if (!client.login(address, box.account, box.password))
            return error();
        return std::nullopt;
    }
    MailError error() const { return errorOf(client, address); }
    bool usable() const { return client.state() == pop3::Client::State::Transaction; }
    // pop3:// over STLS with a certificate that could not be verified: encrypted, but to whom is unknown.
    QString unverifiedServer() const {
        const QString why = client.unverifiedIdentity();
        return why.isEmpty() ? QString() : joined(address.host, why);
    }

    // Whether message ref.number is still the one listed: its UIDL must be ref.uid, and no other message
    // may carry that UIDL now (then the number could name either). A listing without UIDLs is trusted.
    std::optional<MailError> checkStill(const MessageRef& ref) {
        if (ref.uid.isEmpty())
            return std::nullopt;
        QList<QByteArray> uids;
        if (!client.uidl(&uids))
            return usable() ? MailError{MailErrorKind::MailboxChanged, QStringLiteral("UIDL")} : error();
        if (uids.value(ref.number - 1) != ref.uid || uids.count(ref.uid) != 1) {
            client.quit();
            return MailError{MailErrorKind::MailboxChanged, QString::number(ref.number)};
        }
        return std::nullopt;
    }

    pop3::Client client;
    pop3::ServerAddress address;
};

} // namespace

MailOutcome<Listing> Pop3Transport::list(const Mailbox& box, const QString& cacheFolder) const {
    Session session(options_);
    if (const auto failed = session.open(box))
        return *failed;
    pop3::Client& client = session.client;

    QList<QByteArray> uids;
    const bool haveUids = client.uidl(&uids);
    int count = int(uids.size());
    // No UIDL: no cache either, every message's headers are fetched.
    if (!haveUids && (!session.usable() || !client.stat(&count)))
        return session.error();

    const UidlCache cache(haveUids && QFileInfo(cacheFolder).isDir() ? cacheFolder : QString(), box.server,
                          box.account);
    const QHash<QByteArray, SummaryFields> known = cache.load();
    // Some servers give different messages the same UIDL: such a UIDL names no one message, so its
    // messages' headers are neither taken from the cache nor stored in it.
    QHash<QByteArray, int> occurrences;
    for (const QByteArray& uid : std::as_const(uids))
        ++occurrences[uid];
    const auto unique = [&](int n) {
        return haveUids && occurrences.value(uids[n - 1]) == 1;
    };
    Listing listing;
    listing.messages.resize(count);
    qsizetype reused = 0; // cached summaries still listed
    QHash<QByteArray, SummaryFields> fresh;
    QList<int> wanted;
    const auto fill = [&](int n, const SummaryFields& f) {
        MessageSummary& m = listing.messages[n - 1];
        m.subject = f.subject;
        m.from = f.from;
        m.date = f.date;
    };
    for (int n = 1; n <= count; ++n) {
        listing.messages[n - 1].number = n;
        if (haveUids)
            listing.messages[n - 1].uid = uids[n - 1];
        if (unique(n)) {
            const auto it = known.constFind(uids[n - 1]);
            if (it != known.constEnd()) {
                fill(n, *it);
                ++reused;
                continue;
            }
        }
        wanted.append(n);
    }
    // The listing is complete whatever QUIT brings; the session still ends politely (bounded).
    const bool fetched = client.topHeaders(
        wanted,
        [&](int n, bool ok, const QByteArray& headers) {
            if (!ok) // the summary of one message may fail: the message still counts, with empty fields
                return;
            const SummaryFields f = summaryFromHeaders(headers);
            fill(n, f);
            if (unique(n))
                fresh.insert(uids[n - 1], f);
        },
        pop3::Client::Then::Quit);
    if (!fetched)
        return session.error();
    // The cache is written only when it changes: a summary was fetched, or a cached message has gone.
    if (haveUids && (!fresh.isEmpty() || reused != known.size())) {
        QHash<QByteArray, SummaryFields> keep = std::move(fresh);
        for (int n = 1; n <= count; ++n)
            if (const auto it = known.constFind(uids[n - 1]); unique(n) && it != known.constEnd())
                keep.insert(it.key(), *it);
        cache.save(keep);
    }
    listing.unverifiedServer = session.unverifiedServer();
    return listing;
}

QList<MailOutcome<Listing>> Pop3Transport::listAll(const QList<Mailbox>& boxes, const QString& cacheFolder) const {
    // One worker per mailbox; each writes only its own slot.
    std::vector<std::optional<MailOutcome<Listing>>> results(size_t(boxes.size()));
    std::vector<std::thread> workers;
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        std::optional<MailOutcome<Listing>>* slot = &results[size_t(i)];
        if (boxes[i].server.trimmed().isEmpty()) {
            slot->emplace(MailError{MailErrorKind::NotConfigured, {}});
            continue;
        }
        workers.emplace_back([this, box = boxes[i], slot, cacheFolder] { slot->emplace(list(box, cacheFolder)); });
    }
    for (std::thread& w : workers)
        w.join();
    QList<MailOutcome<Listing>> out;
    out.reserve(boxes.size());
    for (auto& r : results)
        out.append(std::move(*r));
    return out;
}

MailOutcome<Done> Pop3Transport::remove(const Mailbox& box, const MessageRef& message) const {
    if (message.number <= 0) // no listing numbers a message so
        return MailError{MailErrorKind::MailboxChanged, QString::number(message.number)};
    Session session(options_);
    if (const auto failed = session.open(box))
        return *failed;
    if (const auto changed = session.checkStill(message))
        return *changed;
    if (session.client.deleteAndQuit(message.number))
        return Done{};
    // DELE went out and the connection broke before the answers: the server may have committed it.
    if (session.client.state() == pop3::Client::State::Failed &&
        session.client.errorKind() != pop3::ErrorKind::ServerError)
        return MailError{MailErrorKind::OutcomeUnknown, session.error().detail};
    return session.error();
}

MailOutcome<QString> Pop3Transport::save(const Mailbox& box, const MessageRef& message, const QString& folder) const {
    if (message.number <= 0)
        return MailError{MailErrorKind::MailboxChanged, QString::number(message.number)};
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return MailError{MailErrorKind::LocalFile, folder};
    const QDir dir(folder);
    // The message goes into a hidden temporary file first and gets its name only when it is complete.
    QTemporaryFile part(dir.filePath(QStringLiteral(".korimo-XXXXXX.part")));
    if (!part.open())
        return MailError{MailErrorKind::LocalFile, folder};

    Session session(options_);
    if (const auto failed = session.open(box))
        return *failed;
    if (const auto changed = session.checkStill(message))
        return *changed;
    pop3::Client& client = session.client;
    if (!client.retrieve(message.number, &part, pop3::Client::Then::Quit)) {
        if (client.state() != pop3::Client::State::Failed && client.errorKind() == pop3::ErrorKind::None)
            return MailError{MailErrorKind::LocalFile, folder}; // the server's bytes came, the file took them not
        return session.error();
    }
    if (!part.flush() || ::fsync(part.handle()) != 0)
        return MailError{MailErrorKind::LocalFile, folder};
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = QStringLiteral("mail-") + stamp + QStringLiteral("-") +
                             QString::number(QRandomGenerator::global()->generate() & 0xffffff, 16) +
                             QStringLiteral(".eml");
        const QString path = QFileInfo(dir.filePath(name)).absoluteFilePath();
        // rename() never replaces an existing file; on a clash the next name is tried.
        if (part.rename(path)) {
            part.setAutoRemove(false);
            return path;
        }
    }
    return MailError{MailErrorKind::LocalFile, folder};
}

} // namespace korimo
