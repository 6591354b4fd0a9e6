#include "mailWire.h"

#include <QDataStream>
#include <QIODevice>
#include <concepts>
#include <cstring>
#include <type_traits>

namespace korimo::wire {

namespace {

constexpr char kTag[4] = {'K', 'O', 'R', 'M'};
constexpr quint8 kVersion = 1;
constexpr quint32 kMaxItems = 1000000; // any list in a frame (a mailbox holds at most 100,000 messages)

// Each record's fields in the order they travel, written down once: the writer and the reader below
// both walk them (v is const for the writer).
template <class T, class U>
concept Is = std::same_as<std::remove_const_t<T>, U>;
bool fields(Is<Mailbox> auto& v, auto& f) {
    return f(v.server) && f(v.account) && f(v.password);
}
bool fields(Is<TransportOptions> auto& v, auto& f) {
    return f(v.connectTimeoutMs) && f(v.readTimeoutMs) && f(v.sessionBaseMs) && f(v.caFile) && f(v.accounts);
}
bool fields(Is<MessageRef> auto& v, auto& f) {
    return f(v.mailbox) && f(v.number) && f(v.uid);
}
bool fields(Is<OutgoingMail> auto& v, auto& f) {
    return f(v.server) && f(v.recipients) && f(v.sender) && f(v.subject) && f(v.body) && f(v.attachment);
}
bool fields(Is<Request> auto& v, auto& f) {
    return f(v.operation) && f(v.options) && f(v.boxes) && f(v.cacheFolder) && f(v.message) && f(v.folder) &&
           f(v.path) && f(v.saveAttachments) && f(v.mail);
}
bool fields(Is<MessageSummary> auto& v, auto& f) {
    return f(v.number) && f(v.uid) && f(v.subject) && f(v.from) && f(v.date);
}
bool fields(Is<Listing> auto& v, auto& f) {
    return f(v.messages) && f(v.unverifiedServer);
}
bool fields(Is<Done> auto&, auto&) {
    return true;
}
bool fields(Is<Sent> auto& v, auto& f) {
    return f(v.unverifiedServer);
}
bool fields(Is<SavedAttachment> auto& v, auto& f) {
    return f(v.fileName) && f(v.saved) && f(v.problem);
}
bool fields(Is<MailMessage> auto& v, auto& f) {
    return f(v.subject) && f(v.from) && f(v.date) && f(v.body) && f(v.attachments) && f(v.partsOmitted);
}
bool fields(Is<MailError> auto& v, auto& f) {
    return f(v.kind) && f(v.detail);
}

struct Writer {
    QDataStream& s;
    template <class V> bool put(const V& v) {
        s << v;
        return true;
    }
    bool operator()(const QString& v) { return put(v); }
    bool operator()(const QByteArray& v) { return put(v); }
    bool operator()(bool v) { return put(v); }
    bool operator()(int v) { return put(qint32(v)); }
    bool operator()(Operation v) { return put(quint8(v)); }
    bool operator()(MailErrorKind v) { return put(qint32(v)); }
    template <class T> bool operator()(const QList<T>& list) {
        s << quint32(list.size());
        for (const T& item : list)
            (*this)(item);
        return true;
    }
    template <class T> bool operator()(const MailOutcome<T>& v) {
        s << v.ok();
        return v.ok() ? (*this)(v.value()) : (*this)(v.error());
    }
    template <class T> bool operator()(const T& record) { return fields(record, *this); }
};

// A value to read into: MailOutcome has no empty state of its own.
template <class T> struct Blank {
    static T make() { return T{}; }
};
template <class T> struct Blank<MailOutcome<T>> {
    static MailOutcome<T> make() { return MailError{}; }
};

// Returns false once the stream is short or a value is out of range.
struct Reader {
    QDataStream& s;
    bool ok() const { return s.status() == QDataStream::Ok; }
    bool operator()(QString& v) { return (s >> v, ok()); }
    bool operator()(QByteArray& v) { return (s >> v, ok()); }
    bool operator()(bool& v) { return (s >> v, ok()); }
    bool operator()(int& v) {
        qint32 i = 0;
        s >> i;
        v = i;
        return ok();
    }
    bool operator()(Operation& v) {
        quint8 op = 0;
        s >> op;
        v = Operation(op);
        return ok() && op >= quint8(Operation::ListAll) && op <= quint8(Operation::Send);
    }
    bool operator()(MailErrorKind& v) {
        qint32 kind = 0;
        s >> kind;
        v = MailErrorKind(kind);
        return ok() && kind >= int(MailErrorKind::NotConfigured) && kind <= int(MailErrorKind::HelperFailed);
    }
    template <class T> bool operator()(QList<T>& list) {
        quint32 n = 0;
        s >> n;
        if (!ok() || n > kMaxItems)
            return false;
        list.clear();
        for (quint32 i = 0; i < n; ++i) {
            T item = Blank<T>::make();
            if (!(*this)(item))
                return false;
            list.append(std::move(item));
        }
        return true;
    }
    template <class T> bool operator()(MailOutcome<T>& v) {
        bool good = false;
        if (!(*this)(good))
            return false;
        T value = Blank<T>::make();
        MailError error;
        if (good ? !(*this)(value) : !(*this)(error))
            return false;
        v = good ? MailOutcome<T>(std::move(value)) : MailOutcome<T>(std::move(error));
        return true;
    }
    template <class T> bool operator()(T& record) { return fields(record, *this); }
};

template <class T> QByteArray frame(const T& value) {
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_6_4);
    s.writeRawData(kTag, sizeof kTag);
    s << kVersion;
    Writer{s}(value);
    return bytes;
}

// A frame's whole value, or nothing: a wrong tag or version, a short or out-of-range value, or bytes
// left over.
template <class T> std::optional<T> unframe(const QByteArray& bytes) {
    QDataStream s(bytes);
    s.setVersion(QDataStream::Qt_6_4);
    char tag[sizeof kTag] = {};
    quint8 version = 0;
    if (s.readRawData(tag, sizeof tag) != int(sizeof tag) || std::memcmp(tag, kTag, sizeof tag) != 0)
        return std::nullopt;
    s >> version;
    T value = Blank<T>::make();
    if (version != kVersion || !Reader{s}(value) || !s.atEnd())
        return std::nullopt;
    return value;
}

} // namespace

QByteArray encode(const Request& r) {
    return frame(r);
}

std::optional<Request> decodeRequest(const QByteArray& bytes) {
    if (bytes.size() > kMaxRequestBytes)
        return std::nullopt;
    std::optional<Request> r = unframe<Request>(bytes);
    const bool oneBox = r && (r->operation == Operation::Remove || r->operation == Operation::Save);
    if (!r || r->boxes.size() > kMailboxCount || (oneBox && r->boxes.size() != 1) || r->options.connectTimeoutMs <= 0 ||
        r->options.readTimeoutMs <= 0 || r->options.sessionBaseMs <= 0)
        return std::nullopt;
    return r;
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
    std::optional<QList<MailOutcome<Listing>>> listings = unframe<QList<MailOutcome<Listing>>>(bytes);
    if (listings && listings->size() > kMailboxCount)
        return std::nullopt;
    return listings;
}
std::optional<MailOutcome<Done>> decodeDone(const QByteArray& bytes) {
    return unframe<MailOutcome<Done>>(bytes);
}
std::optional<MailOutcome<QString>> decodeSaved(const QByteArray& bytes) {
    return unframe<MailOutcome<QString>>(bytes);
}
std::optional<MailOutcome<MailMessage>> decodeMessage(const QByteArray& bytes) {
    return unframe<MailOutcome<MailMessage>>(bytes);
}
std::optional<MailOutcome<Sent>> decodeSent(const QByteArray& bytes) {
    return unframe<MailOutcome<Sent>>(bytes);
}

} // namespace korimo::wire
