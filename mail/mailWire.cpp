#include "mailWire.h"

#include <QDataStream>
#include <QIODevice>
#include <cstring>

namespace korimo::wire {

namespace {

constexpr char kTag[4] = {'K', 'O', 'R', 'M'};
constexpr quint8 kVersion = 1;
constexpr quint32 kMaxItems = 1000000; // any list in a frame (a mailbox holds at most 100,000 messages)

// Writing: one put() for each type; reading: get() returns false once the stream is short or a value is
// out of range. Declared first, as the list and outcome templates call one another's types.
void put(QDataStream& s, const Mailbox& v);
void put(QDataStream& s, const MessageSummary& v);
void put(QDataStream& s, const SavedAttachment& v);
void put(QDataStream& s, const Listing& v);
void put(QDataStream& s, const MailMessage& v);
void put(QDataStream& s, const Done&);
void put(QDataStream& s, const Sent& v);
template <class T> void put(QDataStream& s, const MailOutcome<T>& v);
bool get(QDataStream& s, Mailbox& v);
bool get(QDataStream& s, MessageSummary& v);
bool get(QDataStream& s, SavedAttachment& v);

void put(QDataStream& s, const QString& v) {
    s << v;
}
void put(QDataStream& s, const QByteArray& v) {
    s << v;
}
void put(QDataStream& s, bool v) {
    s << v;
}
void put(QDataStream& s, qint32 v) {
    s << v;
}
template <class T> void put(QDataStream& s, const QList<T>& list) {
    s << quint32(list.size());
    for (const T& item : list)
        put(s, item);
}
void put(QDataStream& s, const Mailbox& v) {
    put(s, v.server);
    put(s, v.account);
    put(s, v.password);
}
void put(QDataStream& s, const TransportOptions& v) {
    put(s, qint32(v.connectTimeoutMs));
    put(s, qint32(v.readTimeoutMs));
    put(s, qint32(v.sessionBaseMs));
    put(s, v.caFile);
    put(s, v.accounts);
}
void put(QDataStream& s, const MessageRef& v) {
    put(s, qint32(v.mailbox));
    put(s, qint32(v.number));
    put(s, v.uid);
}
void put(QDataStream& s, const OutgoingMail& v) {
    put(s, v.server);
    put(s, v.recipients);
    put(s, v.sender);
    put(s, v.subject);
    put(s, v.body);
    put(s, v.attachment);
}
void put(QDataStream& s, const MessageSummary& v) {
    put(s, qint32(v.number));
    put(s, v.uid);
    put(s, v.subject);
    put(s, v.from);
    put(s, v.date);
}
void put(QDataStream& s, const Listing& v) {
    put(s, v.messages);
    put(s, v.unverifiedServer);
}
void put(QDataStream&, const Done&) {}
void put(QDataStream& s, const Sent& v) {
    put(s, v.unverifiedServer);
}
void put(QDataStream& s, const SavedAttachment& v) {
    put(s, v.fileName);
    put(s, v.saved);
    put(s, v.problem);
}
void put(QDataStream& s, const MailMessage& v) {
    put(s, v.subject);
    put(s, v.from);
    put(s, v.date);
    put(s, v.body);
    put(s, v.attachments);
    put(s, v.partsOmitted);
}
template <class T> void put(QDataStream& s, const MailOutcome<T>& v) {
    put(s, v.ok());
    if (v.ok()) {
        put(s, v.value());
    } else {
        put(s, qint32(v.error().kind));
        put(s, v.error().detail);
    }
}

bool get(QDataStream& s, QString& v) {
    return (s >> v).status() == QDataStream::Ok;
}
bool get(QDataStream& s, QByteArray& v) {
    return (s >> v).status() == QDataStream::Ok;
}
bool get(QDataStream& s, bool& v) {
    return (s >> v).status() == QDataStream::Ok;
}
bool get(QDataStream& s, int& v) {
    qint32 i = 0;
    s >> i;
    v = i;
    return s.status() == QDataStream::Ok;
}
template <class T> bool get(QDataStream& s, QList<T>& list) {
    quint32 n = 0;
    s >> n;
    if (s.status() != QDataStream::Ok || n > kMaxItems)
        return false;
    list.clear();
    for (quint32 i = 0; i < n; ++i) {
        T item;
        if (!get(s, item))
            return false;
        list.append(std::move(item));
    }
    return true;
}
bool get(QDataStream& s, Mailbox& v) {
    return get(s, v.server) && get(s, v.account) && get(s, v.password);
}
bool get(QDataStream& s, TransportOptions& v) {
    return get(s, v.connectTimeoutMs) && get(s, v.readTimeoutMs) && get(s, v.sessionBaseMs) && get(s, v.caFile) &&
           get(s, v.accounts) && v.connectTimeoutMs > 0 && v.readTimeoutMs > 0 && v.sessionBaseMs > 0;
}
bool get(QDataStream& s, MessageRef& v) {
    return get(s, v.mailbox) && get(s, v.number) && get(s, v.uid);
}
bool get(QDataStream& s, OutgoingMail& v) {
    return get(s, v.server) && get(s, v.recipients) && get(s, v.sender) && get(s, v.subject) && get(s, v.body) &&
           get(s, v.attachment);
}
bool get(QDataStream& s, MessageSummary& v) {
    return get(s, v.number) && get(s, v.uid) && get(s, v.subject) && get(s, v.from) && get(s, v.date);
}
bool get(QDataStream& s, Listing& v) {
    return get(s, v.messages) && get(s, v.unverifiedServer);
}
bool get(QDataStream&, Done&) {
    return true;
}
bool get(QDataStream& s, Sent& v) {
    return get(s, v.unverifiedServer);
}
bool get(QDataStream& s, SavedAttachment& v) {
    return get(s, v.fileName) && get(s, v.saved) && get(s, v.problem);
}
bool get(QDataStream& s, MailMessage& v) {
    return get(s, v.subject) && get(s, v.from) && get(s, v.date) && get(s, v.body) && get(s, v.attachments) &&
           get(s, v.partsOmitted);
}
bool get(QDataStream& s, MailError& v) {
    int kind = 0;
    if (!get(s, kind) || kind < int(MailErrorKind::NotConfigured) || kind > int(MailErrorKind::HelperFailed))
        return false;
    v.kind = MailErrorKind(kind);
    return get(s, v.detail);
}
template <class T> bool get(QDataStream& s, std::optional<MailOutcome<T>>& v) {
    bool ok = false;
    if (!get(s, ok))
        return false;
    if (ok) {
        T value;
        if (!get(s, value))
            return false;
        v.emplace(std::move(value));
    } else {
        MailError error;
        if (!get(s, error))
            return false;
        v.emplace(std::move(error));
    }
    return true;
}
template <class T> QByteArray frame(const T& value) {
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_6_4);
    s.writeRawData(kTag, sizeof kTag);
    s << kVersion;
    put(s, value);
    return bytes;
}

// Reads a frame's value with read(stream); nothing may be left over.
template <class T, class Read> std::optional<T> unframe(const QByteArray& bytes, Read read) {
    QDataStream s(bytes);
    s.setVersion(QDataStream::Qt_6_4);
    char tag[sizeof kTag] = {};
    quint8 version = 0;
    if (s.readRawData(tag, sizeof tag) != int(sizeof tag) || std::memcmp(tag, kTag, sizeof tag) != 0)
        return std::nullopt;
    s >> version;
    if (version != kVersion)
        return std::nullopt;
    std::optional<T> value = read(s);
    if (!value || s.status() != QDataStream::Ok || !s.atEnd())
        return std::nullopt;
    return value;
}

template <class T> std::optional<MailOutcome<T>> decodeOutcome(const QByteArray& bytes) {
    return unframe<MailOutcome<T>>(bytes, [](QDataStream& s) {
        std::optional<MailOutcome<T>> v;
        return get(s, v) ? v : std::nullopt;
    });
}

} // namespace

QByteArray encode(const Request& r) {
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_6_4);
    s.writeRawData(kTag, sizeof kTag);
    s << kVersion << quint8(r.operation);
    put(s, r.options);
    put(s, r.boxes);
    put(s, r.cacheFolder);
    put(s, r.message);
    put(s, r.folder);
    put(s, r.path);
    put(s, r.saveAttachments);
    put(s, r.mail);
    return bytes;
}

std::optional<Request> decodeRequest(const QByteArray& bytes) {
    if (bytes.size() > kMaxRequestBytes)
        return std::nullopt;
    return unframe<Request>(bytes, [](QDataStream& s) -> std::optional<Request> {
        Request r;
        quint8 op = 0;
        s >> op;
        if (op < quint8(Operation::ListAll) || op > quint8(Operation::Send))
            return std::nullopt;
        r.operation = Operation(op);
        if (!get(s, r.options) || !get(s, r.boxes) || !get(s, r.cacheFolder) || !get(s, r.message) ||
            !get(s, r.folder) || !get(s, r.path) || !get(s, r.saveAttachments) || !get(s, r.mail))
            return std::nullopt;
        const bool oneBox = r.operation == Operation::Remove || r.operation == Operation::Save;
        if (r.boxes.size() > kMailboxCount || (oneBox && r.boxes.size() != 1))
            return std::nullopt;
        return r;
    });
}

QByteArray encode(const QList<MailOutcome<Listing>>& reply) {
    return frame(reply);
}
QByteArray encode(const MailOutcome<Done>& reply) {
    return frame(reply);
}
QByteArray encode(const MailOutcome<QString>& reply) {
    return frame(reply);
}
QByteArray encode(const MailOutcome<MailMessage>& reply) {
    return frame(reply);
}
QByteArray encode(const MailOutcome<Sent>& reply) {
    return frame(reply);
}

std::optional<QList<MailOutcome<Listing>>> decodeListings(const QByteArray& bytes) {
    return unframe<QList<MailOutcome<Listing>>>(bytes,
                                                [](QDataStream& s) -> std::optional<QList<MailOutcome<Listing>>> {
                                                    quint32 n = 0;
                                                    s >> n;
                                                    if (s.status() != QDataStream::Ok || n > quint32(kMailboxCount))
                                                        return std::nullopt;
                                                    QList<MailOutcome<Listing>> list;
                                                    for (quint32 i = 0; i < n; ++i) {
                                                        std::optional<MailOutcome<Listing>> one;
                                                        if (!get(s, one))
                                                            return std::nullopt;
                                                        list.append(std::move(*one));
                                                    }
                                                    return list;
                                                });
}
std::optional<MailOutcome<Done>> decodeDone(const QByteArray& bytes) {
    return decodeOutcome<Done>(bytes);
}
std::optional<MailOutcome<QString>> decodeSaved(const QByteArray& bytes) {
    return decodeOutcome<QString>(bytes);
}
std::optional<MailOutcome<MailMessage>> decodeMessage(const QByteArray& bytes) {
    return decodeOutcome<MailMessage>(bytes);
}
std::optional<MailOutcome<Sent>> decodeSent(const QByteArray& bytes) {
    return decodeOutcome<Sent>(bytes);
}

} // namespace korimo::wire
