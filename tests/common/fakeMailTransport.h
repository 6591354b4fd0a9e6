// A scripted transport for window and check tests: mailboxes held in memory (keyed by server), canned
// errors taken before them, and a log of every call with its typed arguments.
#pragma once

#include "mailTransport.h"

#include <QHash>
#include <QMutex>
#include <QQueue>
#include <functional>

namespace korimo {

class FakeMailTransport : public MailTransport {
public:
    struct Box {
        QString password;               // another password is refused (LoginRefused)
        QList<MessageSummary> messages; // numbers are given at listing; an empty uid gets one
        QList<QByteArray> raw;          // what save() writes for message n (else its subject)
        QString unverifiedServer = {};
    };
    struct Call {
        QString op; // "send", "list", "remove", "save", "read"
        QString server;
        MessageRef ref = {};
        QString arg = {}; // list/save: folder; read: path; send: the recipients joined by ","
        bool operator==(const Call&) const = default;
    };

    void setBox(const QString& server, Box box);
    Box box(const QString& server) const;
    QQueue<MailError> errors; // the next calls fail with these, in order, before any mailbox is asked
    QList<OutgoingMail> sent;
    std::function<MailOutcome<MailMessage>(const QString& path, bool saveAttachments)> readMail;
    QList<Call> calls() const;
    static MessageSummary msg(const QString& subject, const QString& from = QStringLiteral("a@b.example"));

    MailOutcome<Sent> send(const OutgoingMail& mail) override;
    MailOutcome<Listing> list(const Mailbox& box, const QString& cacheFolder) override;
    MailOutcome<Done> remove(const Mailbox& box, const MessageRef& message) override;
    MailOutcome<QString> save(const Mailbox& box, const MessageRef& message, const QString& folder) override;
    MailOutcome<MailMessage> read(const QString& path, bool saveAttachments, const QString& folder) override;

private:
    // Logs the call; the canned error, the mailbox's refusal or a stale ref, else the mailbox.
    std::optional<MailError> enter(Call call, const Mailbox* login, Box** box, const MessageRef* ref = nullptr);
    mutable QMutex mutex_;
    QHash<QString, Box> boxes_;
    QList<Call> calls_;
    int serial_ = 0;
};

} // namespace korimo
