#include "fakeMailTransport.h"

#include <QFile>

namespace korimo {

void FakeMailTransport::setBox(const QString& server, Box b) {
    QMutexLocker lock(&mutex_);
    for (MessageSummary& m : b.messages)
        if (m.uid.isEmpty())
            m.uid = "uid" + QByteArray::number(++serial_);
    boxes_.insert(server, std::move(b));
}

FakeMailTransport::Box FakeMailTransport::box(const QString& server) const {
    QMutexLocker lock(&mutex_);
    return boxes_.value(server);
}

QList<FakeMailTransport::Call> FakeMailTransport::calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
}

MessageSummary FakeMailTransport::msg(const QString& subject, const QString& from) {
    return MessageSummary{0, {}, subject, from, QStringLiteral("Mon, 1 Jan 2024 09:00:00 +0900")};
}

std::optional<MailError> FakeMailTransport::enter(Call call, const Mailbox* login, Box** box, const MessageRef* ref) {
    calls_.append(call);
    if (!errors.isEmpty())
        return errors.dequeue();
    if (!login)
        return std::nullopt;
    auto it = boxes_.find(login->server);
    if (it == boxes_.end())
        return MailError{MailErrorKind::Unreachable, login->server};
    if (it->password != login->password)
        return MailError{MailErrorKind::LoginRefused, QStringLiteral("-ERR authentication failed")};
    *box = &*it;
    if (ref &&
        (ref->number < 1 || ref->number > it->messages.size() || it->messages.at(ref->number - 1).uid != ref->uid))
        return MailError{MailErrorKind::MailboxChanged, {}}; // the number no longer names the listed message
    return std::nullopt;
}

MailOutcome<Sent> FakeMailTransport::send(const OutgoingMail& mail) {
    QMutexLocker lock(&mutex_);
    if (auto e = enter({QStringLiteral("send"), mail.server, {}, mail.recipients.join(u',')}, nullptr, nullptr))
        return *e;
    sent.append(mail);
    return Sent{};
}

MailOutcome<Listing> FakeMailTransport::list(const Mailbox& login, const QString& cacheFolder) {
    QMutexLocker lock(&mutex_);
    Box* b = nullptr;
    if (auto e = enter({QStringLiteral("list"), login.server, {}, cacheFolder}, &login, &b))
        return *e;
    Listing out{b->messages, b->unverifiedServer};
    for (int i = 0; i < out.messages.size(); ++i)
        out.messages[i].number = i + 1;
    return out;
}

MailOutcome<Done> FakeMailTransport::remove(const Mailbox& login, const MessageRef& ref) {
    QMutexLocker lock(&mutex_);
    Box* b = nullptr;
    if (auto e = enter({QStringLiteral("remove"), login.server, ref}, &login, &b, &ref))
        return *e;
    b->messages.removeAt(ref.number - 1);
    if (ref.number <= b->raw.size())
        b->raw.removeAt(ref.number - 1);
    return Done{};
}

MailOutcome<QString> FakeMailTransport::save(const Mailbox& login, const MessageRef& ref, const QString& folder) {
    QMutexLocker lock(&mutex_);
    Box* b = nullptr;
    if (auto e = enter({QStringLiteral("save"), login.server, ref, folder}, &login, &b, &ref))
        return *e;
    const QByteArray bytes =
        ref.number <= b->raw.size() ? b->raw.at(ref.number - 1) : b->messages.at(ref.number - 1).subject.toUtf8();
    const QString path = folder + QStringLiteral("/fake-%1.eml").arg(++serial_);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return MailError{MailErrorKind::LocalFile, path};
    return path;
}

MailOutcome<MailMessage> FakeMailTransport::read(const QString& path, bool saveAttachments, const QString& folder) {
    QMutexLocker lock(&mutex_);
    if (auto e = enter({QStringLiteral("read"), {}, {}, path + u'|' + folder}, nullptr, nullptr))
        return *e;
    if (readMail)
        return readMail(path, saveAttachments);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return MailError{MailErrorKind::LocalFile, path};
    return MailMessage{{}, {}, {}, QString::fromUtf8(f.readAll()), {}, false};
}

} // namespace korimo
