#include "fakeMailTransport.h"

#include <QFile>

namespace korimo {

void FakeMailTransport::setBox(const QString& server, Box b) {
    QMutexLocker lock(&mutex_);
    boxes_.insert(server, std::move(b));
}

FakeMailTransport::Box FakeMailTransport::box(const QString& server) const {
    QMutexLocker lock(&mutex_);
    return boxes_.value(server);
}

void FakeMailTransport::queueReceive(MailResult r) {
    QMutexLocker lock(&mutex_);
    receiveQueue_.enqueue(std::move(r));
}

void FakeMailTransport::queueSend(QString r) {
    QMutexLocker lock(&mutex_);
    sendQueue_.enqueue(std::move(r));
}

QList<FakeMailTransport::Call> FakeMailTransport::calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
}

void FakeMailTransport::clearCalls() {
    QMutexLocker lock(&mutex_);
    calls_.clear();
}

QString FakeMailTransport::summary(const QString& subject, const QString& from, const QString& date) {
    return QStringLiteral("Subject: ") + subject + QStringLiteral(" From: ") + from + QStringLiteral(" Date:  ") + date;
}

void FakeMailTransport::record(QString op, QStringList args) {
    calls_.append(Call{std::move(op), std::move(args)});
}

QString FakeMailTransport::SendMail(const QString& server, const QString& recipients, const QString& sender,
                                    const QString& subject, const QString& body, const QString& attachment) {
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("SendMail"), {server, recipients, sender, subject, body, attachment});
    return sendQueue_.isEmpty() ? QString() : sendQueue_.dequeue();
}

MailResult FakeMailTransport::RcvMail2(const QString& server, const QString& account, const QString& password,
                                       const QString& command, const QString& folder) {
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("RcvMail2"), {server, account, password, command, folder});
    if (!receiveQueue_.isEmpty())
        return receiveQueue_.dequeue();
    if (server.isEmpty())
        return MailResult::text(QStringLiteral("no server"));
    auto it = boxes_.find(server);
    if (it == boxes_.end())
        return MailResult::text(QStringLiteral("cannot reach ") + server);
    if (!it->failure.isEmpty())
        return MailResult::text(it->failure);
    if (it->password != password)
        return MailResult::text(refusal());
    if (command == u"LIST")
        return MailResult::array(it->summaries).withNote(it->note);
    if (command.startsWith(u"DELE ")) {
        const int n = command.mid(5).toInt();
        if (n < 1 || n > it->summaries.size())
            return MailResult::text(QStringLiteral("-ERR no such message"));
        it->summaries.removeAt(n - 1);
        if (n - 1 < it->rawMessages.size())
            it->rawMessages.removeAt(n - 1);
        return MailResult::done(QStringLiteral("+OK deleted"));
    }
    return MailResult::text(QStringLiteral("unknown command"));
}

MailResult FakeMailTransport::RcvMail(const QString& server, const QString& account, const QString& password,
                                      const QString& command, const QString& folder) {
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("RcvMail"), {server, account, password, command, folder});
    if (!receiveQueue_.isEmpty())
        return receiveQueue_.dequeue();
    auto it = boxes_.find(server);
    if (it == boxes_.end())
        return MailResult::text(QStringLiteral("cannot reach ") + server);
    if (!it->failure.isEmpty())
        return MailResult::text(it->failure);
    if (it->password != password)
        return MailResult::text(refusal());
    if (!command.startsWith(u"SAVE "))
        return MailResult::text(QStringLiteral("unknown command"));
    const int n = command.mid(5).toInt();
    if (n < 1 || n > it->summaries.size())
        return MailResult::text(QStringLiteral("-ERR no such message"));
    const QByteArray bytes =
        n - 1 < it->rawMessages.size() ? it->rawMessages.at(n - 1) : it->summaries.at(n - 1).toUtf8();
    const QString path = folder + QStringLiteral("/fake-") + QString::number(++savedFiles_) + QStringLiteral(".eml");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return MailResult::text(QStringLiteral("cannot write ") + path);
    return MailResult::array({path});
}

MailResult FakeMailTransport::ReadMail(const QString& path, const QString& fields, const QString& folder) {
    std::function<MailResult(const QString&, const QString&, const QString&)> custom;
    {
        QMutexLocker lock(&mutex_);
        record(QStringLiteral("ReadMail"), {path, fields, folder});
        custom = readMail;
    }
    if (custom)
        return custom(path, fields, folder);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return MailResult::text(QStringLiteral("cannot read ") + path);
    return MailResult::array({QStringLiteral("Body: ") + QString::fromUtf8(f.readAll())});
}

} // namespace korimo
