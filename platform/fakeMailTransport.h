// A scripted transport for tests of the windows and the check cycle: it records every call and
// answers from mailboxes held in memory (keyed by server), or from a queue of canned results.
#pragma once

#include "mailTransport.h"

#include <QHash>
#include <QMutex>
#include <QQueue>
#include <functional>

namespace korimo {

class FakeMailTransport : public MailTransport {
public:
    struct Call {
        QString op; // "SendMail", "RcvMail2", "RcvMail", "ReadMail"
        QStringList args;
        bool operator==(const Call&) const = default;
    };

    // A mailbox held in memory: its summary records in server order. "LIST" answers them, "DELE n"
    // removes record n, "SAVE n" writes rawMessages[n-1] (or the record) into a new file.
    struct Box {
        QString password; // a different password makes every call answer the refusal text
        QStringList summaries;
        QList<QByteArray> rawMessages;
        QString failure;   // when not empty, every call answers this text
        QString note = {}; // given with every listing
    };

    void setBox(const QString& server, Box box);
    Box box(const QString& server) const;

    // Canned results, used before the in-memory mailboxes when not empty.
    void queueReceive(MailResult r);
    void queueSend(QString r);
    // ReadMail's answer; by default {"Body: " + the file's text}.
    std::function<MailResult(const QString& path, const QString& fields, const QString& folder)> readMail;

    QList<Call> calls() const;
    void clearCalls();

    static QString summary(const QString& subject, const QString& from, const QString& date);
    static QString refusal() { return QStringLiteral("-ERR PASSWORD refused"); }

    QString SendMail(const QString& server, const QString& recipients, const QString& sender, const QString& subject,
                     const QString& body, const QString& attachment) override;
    MailResult RcvMail2(const QString& server, const QString& account, const QString& password, const QString& command,
                        const QString& folder) override;
    MailResult RcvMail(const QString& server, const QString& account, const QString& password, const QString& command,
                       const QString& folder) override;
    MailResult ReadMail(const QString& path, const QString& fields, const QString& folder) override;

private:
    void record(QString op, QStringList args);
    mutable QMutex mutex_;
    QHash<QString, Box> boxes_;
    QQueue<MailResult> receiveQueue_;
    QQueue<QString> sendQueue_;
    QList<Call> calls_;
    int savedFiles_ = 0;
};

} // namespace korimo
