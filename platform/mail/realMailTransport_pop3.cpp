// The POP3 half of the real transport: "LIST" and "DELE n" (RcvMail2), "SAVE n" (RcvMail), and the
// concurrent listing of several mailboxes. Every call is one session: connect, log in, work, QUIT.
#include "pop3Client.h"
#include "realMailTransport.h"
#include "summaryRecord.h"
#include "uidlCache.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
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
    c.extraCaFile = o.extraCaFile;
    return c;
}

// A server's words must not pass for the refused-login keyword the windows look for.
QString quoted(QString detail) {
    detail.replace(QStringLiteral("PASSWORD"), QStringLiteral("password"));
    return detail;
}

QString withDetail(const QString& text, const QString& detail) {
    return detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QStringLiteral(")");
}

QString addressText(const pop3::ServerAddress& a) {
    const QString host = a.host.contains(u':') ? QStringLiteral("[") + a.host + QStringLiteral("]") : a.host;
    return host + QStringLiteral(":") + QString::number(a.port);
}

QString errorText(const pop3::Client& client, const pop3::ServerAddress& address) {
    const QString detail = quoted(client.errorDetail());
    switch (client.errorKind()) {
    case pop3::ErrorKind::BadCredentialText:
        return QStringLiteral("アカウントかパスワードに使えない文字 (改行など) があります");
    case pop3::ErrorKind::Unreachable:
        return withDetail(QStringLiteral("サーバーに接続できません: ") + addressText(address), detail);
    case pop3::ErrorKind::TlsNotOffered:
        return withDetail(QStringLiteral("サーバーが暗号化 (STLS) に応じないため、パスワードを送りませんでした。"
                                         "暗号化なしで接続するには pop3:// を付けてください"),
                          detail);
    case pop3::ErrorKind::Tls:
        return withDetail(QStringLiteral("TLS で接続できません"), detail);
    case pop3::ErrorKind::Certificate:
        return withDetail(QStringLiteral("サーバー証明書を確認できません"), detail);
    case pop3::ErrorKind::LoginRefused:
        // The keyword PASSWORD tells the windows that the login was refused.
        return QStringLiteral("PASSWORD: ") +
               withDetail(QStringLiteral("ログインが拒否されました。アカウントとパスワードを確かめてください"),
                          client.errorDetail());
    case pop3::ErrorKind::Timeout:
        return QStringLiteral("サーバーの応答がありません (タイムアウト)");
    case pop3::ErrorKind::Deadline:
        return QStringLiteral("サーバーの応答が遅すぎるため打ち切りました (タイムアウト)");
    case pop3::ErrorKind::Dropped:
        return QStringLiteral("サーバーとの接続が途中で切れました");
    case pop3::ErrorKind::ServerError:
        return withDetail(QStringLiteral("サーバーがエラーを返しました"), detail);
    case pop3::ErrorKind::Protocol:
        return withDetail(QStringLiteral("サーバーの応答を読めません"), detail);
    case pop3::ErrorKind::TooLarge:
        return QStringLiteral("サーバーの応答が大きすぎます");
    case pop3::ErrorKind::TooManyMessages:
        return withDetail(QStringLiteral("メールが多すぎます (一覧できるのは 1 つのメールボックスにつき ") +
                              QString::number(pop3::ClientOptions{}.maxMessages) + QStringLiteral(" 通まで)"),
                          detail);
    case pop3::ErrorKind::None:
        break;
    }
    return QStringLiteral("サーバーとの通信に失敗しました");
}

// pop3:// over STLS with a certificate that could not be verified: encrypted, but to whom is unknown.
QString unverifiedNote(const pop3::Client& client) {
    if (client.unverifiedIdentity().isEmpty())
        return {};
    return withDetail(QStringLiteral("暗号化して接続しましたが、サーバーの身元 (証明書) は確認できていません"),
                      client.unverifiedIdentity());
}

// "DELE 3", "SAVE 12": the number after the keyword, or 0.
int commandNumber(const QString& command, const QString& keyword) {
    if (!command.startsWith(keyword))
        return 0;
    const QStringView digits = QStringView(command).mid(keyword.size());
    if (digits.isEmpty() || digits.size() > 9 || digits.startsWith(u'0'))
        return 0;
    int n = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return 0;
        n = n * 10 + (c.unicode() - u'0');
    }
    return n;
}

struct Target {
    std::optional<pop3::ServerAddress> address;
    QString error;
};

Target resolve(const QString& server) {
    Target t;
    if (server.trimmed().isEmpty()) {
        t.error = QStringLiteral("サーバーが設定されていません");
        return t;
    }
    t.address = pop3::parseServerText(server);
    if (!t.address)
        t.error = QStringLiteral("サーバーの指定が正しくありません: ") + server.trimmed().left(100);
    return t;
}

QString unknownCommand(const QString& command) {
    QString shown = command.left(40);
    for (QChar& c : shown)
        if (c.unicode() < 0x20)
            c = u' ';
    return QStringLiteral("知らないコマンドです: ") + shown;
}

// What each transport listed last, per mailbox: the UIDLs in server order. The windows delete by
// position ("DELE 3" is the third row they showed); when another mail program has deleted or added
// messages since, position 3 is a different message. A deletion therefore first asks the server for
// the UIDL of message n and refuses when it is not the one that was listed as n.
class Listings {
public:
    static Listings& instance() {
        static Listings listings;
        return listings;
    }
    void remember(const RealMailTransport* t, const QString& key, QList<QByteArray> uids) {
        QMutexLocker lock(&mutex_);
        byTransport_[t].insert(key, std::move(uids));
    }
    void forget(const RealMailTransport* t, const QString& key) {
        QMutexLocker lock(&mutex_);
        byTransport_[t].remove(key);
    }
    void forgetAll(const RealMailTransport* t) {
        QMutexLocker lock(&mutex_);
        byTransport_.remove(t);
    }
    // The whole listing, or empty when unknown.
    QList<QByteArray> listed(const RealMailTransport* t, const QString& key) const {
        QMutexLocker lock(&mutex_);
        return byTransport_.value(t).value(key);
    }
    // After "DELE n" the messages behind n move up by one, as the server numbers them in the next session.
    void deleted(const RealMailTransport* t, const QString& key, int n, const QByteArray& uid) {
        QMutexLocker lock(&mutex_);
        auto it = byTransport_.find(t);
        if (it == byTransport_.end())
            return;
        auto box = it->find(key);
        if (box != it->end() && n <= box->size() && box->at(n - 1) == uid)
            box->removeAt(n - 1);
    }

private:
    mutable QMutex mutex_;
    QHash<const RealMailTransport*, QHash<QString, QList<QByteArray>>> byTransport_;
};

QString mailboxKey(const QString& server, const QString& account) {
    return server.trimmed().toLower() + QStringLiteral("\n") + account;
}

MailResult listMailbox(const RealMailTransport* self, const TransportOptions& options, const QString& server,
                       const QString& account, const QString& password, const QString& folder) {
    const Target target = resolve(server);
    if (!target.address)
        return MailResult::text(target.error);
    pop3::Client client(clientOptions(options));
    if (!client.login(*target.address, account, password))
        return MailResult::text(errorText(client, *target.address));

    QList<QByteArray> uids;
    const bool haveUids = client.uidl(&uids);
    int count = int(uids.size());
    if (!haveUids) {
        // No UIDL: no cache either, every message's headers are fetched.
        if (client.state() != pop3::Client::State::Transaction || !client.stat(&count))
            return MailResult::text(errorText(client, *target.address));
    }

    const UidlCache cache(haveUids && QFileInfo(folder).isDir() ? folder : QString(), server, account);
    const QHash<QByteArray, QString> known = cache.load();
    // Some servers give different messages the same UIDL: such a UIDL names no one message, so its
    // messages' headers are neither taken from the cache nor stored in it.
    QHash<QByteArray, int> occurrences;
    for (const QByteArray& uid : uids)
        ++occurrences[uid];
    const auto unique = [&](int n) {
        return haveUids && occurrences.value(uids[n - 1]) == 1;
    };
    QHash<QByteArray, QString> keep;
    QStringList records(count);
    QList<int> wanted;
    for (int n = 1; n <= count; ++n) {
        if (unique(n)) {
            const auto it = known.constFind(uids[n - 1]);
            if (it != known.constEnd()) {
                records[n - 1] = *it;
                keep.insert(it.key(), *it);
                continue;
            }
        }
        wanted.append(n);
    }
    const bool fetched = client.topHeaders(wanted, [&](int n, bool ok, const QByteArray& headers) {
        if (!ok) { // the listing of one summary may fail: the message still counts
            records[n - 1] = buildSummaryRecord({}, {}, {});
            return;
        }
        records[n - 1] = summaryFromHeaders(headers);
        if (unique(n))
            keep.insert(uids[n - 1], records[n - 1]);
    });
    if (!fetched)
        return MailResult::text(errorText(client, *target.address));
    // The listing is complete whatever QUIT brings; the session still ends politely (bounded).
    client.quit();
    if (haveUids)
        Listings::instance().remember(self, mailboxKey(server, account), uids);
    else
        Listings::instance().forget(self, mailboxKey(server, account));
    if (haveUids && keep != known)
        cache.save(keep);
    return MailResult::array(records).withNote(unverifiedNote(client));
}

MailResult deleteMessage(const RealMailTransport* self, const TransportOptions& options, const QString& server,
                         const QString& account, const QString& password, int number) {
    const Target target = resolve(server);
    if (!target.address)
        return MailResult::text(target.error);
    pop3::Client client(clientOptions(options));
    if (!client.login(*target.address, account, password))
        return MailResult::text(errorText(client, *target.address));
    const QString key = mailboxKey(server, account);
    const QList<QByteArray> listing = Listings::instance().listed(self, key);
    const QByteArray listed = listing.value(number - 1);
    if (!listed.isEmpty()) {
        QByteArray now;
        QList<QByteArray> all;
        // A UIDL the server gave several messages cannot tell which one n names: then the whole
        // listing must be as it was.
        const bool repeated = listing.count(listed) > 1;
        const bool known = repeated ? client.uidl(&all) : client.uidlOf(number, &now);
        if (!known && client.state() != pop3::Client::State::Transaction)
            return MailResult::text(errorText(client, *target.address));
        if (repeated ? all != listing : now != listed) {
            client.quit();
            Listings::instance().forget(self, key);
            return MailResult::text(QStringLiteral("メールボックスの中身が変わっていたため、メール ") +
                                    QString::number(number) +
                                    QStringLiteral(" を削除しませんでした。一覧を取り直してください"));
        }
    }
    if (client.deleteAndQuit(number)) {
        if (!listed.isEmpty())
            Listings::instance().deleted(self, key, number, listed);
        return MailResult::done(QStringLiteral("メール ") + QString::number(number) +
                                QStringLiteral(" を削除しました"));
    }
    if (client.state() == pop3::Client::State::Failed && client.errorKind() != pop3::ErrorKind::ServerError)
        return MailResult::text(errorText(client, *target.address) + QStringLiteral("。削除は確定していません"));
    return MailResult::text(QStringLiteral("メール ") + QString::number(number) +
                            QStringLiteral(" を削除できません: ") + errorText(client, *target.address));
}

MailResult saveMessage(const TransportOptions& options, const QString& server, const QString& account,
                       const QString& password, int number, const QString& folder) {
    const Target target = resolve(server);
    if (!target.address)
        return MailResult::text(target.error);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return MailResult::text(QStringLiteral("保存先のフォルダがありません: ") + folder);
    const QDir dir(folder);
    // The message goes into a hidden temporary file first and gets its name only when it is complete.
    QTemporaryFile part(dir.filePath(QStringLiteral(".korimo-XXXXXX.part")));
    if (!part.open())
        return MailResult::text(QStringLiteral("保存先に書き込めません: ") + folder);

    pop3::Client client(clientOptions(options));
    if (!client.login(*target.address, account, password))
        return MailResult::text(errorText(client, *target.address));
    if (!client.retrieve(number, &part)) {
        if (client.state() == pop3::Client::State::Transaction && client.errorKind() == pop3::ErrorKind::ServerError) {
            client.quit();
            return MailResult::text(QStringLiteral("メール ") + QString::number(number) +
                                    QStringLiteral(" を取り込めません: ") + errorText(client, *target.address));
        }
        if (client.state() == pop3::Client::State::Transaction)
            return MailResult::text(QStringLiteral("保存先に書き込めません: ") + folder);
        return MailResult::text(errorText(client, *target.address));
    }
    client.quit();
    if (!part.flush() || ::fsync(part.handle()) != 0)
        return MailResult::text(QStringLiteral("保存先に書き込めません: ") + folder);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = QStringLiteral("mail-") + stamp + QStringLiteral("-") +
                             QString::number(QRandomGenerator::global()->generate() & 0xffffff, 16) +
                             QStringLiteral(".eml");
        const QString path = QFileInfo(dir.filePath(name)).absoluteFilePath();
        // rename() never replaces an existing file; on a clash the next name is tried.
        if (part.rename(path)) {
            part.setAutoRemove(false);
            return MailResult::array({path});
        }
    }
    return MailResult::text(QStringLiteral("保存先に書き込めません: ") + folder);
}

} // namespace

RealMailTransport::RealMailTransport(TransportOptions options) : options_(std::move(options)) {}

RealMailTransport::~RealMailTransport() {
    Listings::instance().forgetAll(this);
}

MailResult RealMailTransport::RcvMail2(const QString& server, const QString& account, const QString& password,
                                       const QString& command, const QString& folder) {
    if (command == QStringLiteral("LIST"))
        return listMailbox(this, options_, server, account, password, folder);
    if (const int n = commandNumber(command, QStringLiteral("DELE ")); n > 0)
        return deleteMessage(this, options_, server, account, password, n);
    return MailResult::text(unknownCommand(command));
}

MailResult RealMailTransport::RcvMail(const QString& server, const QString& account, const QString& password,
                                      const QString& command, const QString& folder) {
    if (const int n = commandNumber(command, QStringLiteral("SAVE ")); n > 0)
        return saveMessage(options_, server, account, password, n, folder);
    return MailResult::text(unknownCommand(command));
}

QList<MailResult> RealMailTransport::ListMailboxes(const QList<Mailbox>& boxes, const QString& folder) {
    // One worker per mailbox; each writes only its own slot.
    std::vector<MailResult> results(size_t(boxes.size()));
    std::vector<std::thread> workers;
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        const Mailbox box = boxes[i];
        MailResult* slot = &results[size_t(i)];
        if (box.server.trimmed().isEmpty()) {
            *slot = RcvMail2(box.server, box.account, box.password, QStringLiteral("LIST"), folder); // no network
            continue;
        }
        workers.emplace_back([this, box, slot, folder] {
            *slot = RcvMail2(box.server, box.account, box.password, QStringLiteral("LIST"), folder);
        });
    }
    for (std::thread& w : workers)
        w.join();
    return QList<MailResult>(results.begin(), results.end());
}

} // namespace korimo
