// The POP3 protocol without a socket: the mailbox's server text, reply lines, capabilities, UIDL
// listings and the framing of multi-line replies. Everything here is a pure function of the bytes it
// is given, so the client, the tests and the fuzz target share one parser.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

namespace korimo::pop3 {

// Where and how to reach a mailbox, from the text the user typed into its server box:
//   host, host:port         TLS required: implicit TLS on 995 (the default), STLS on any other port
//   pop3s://host[:port]     implicit TLS, default port 995
//   pop3://host[:port]      the user accepts a plaintext login, default port 110; STLS is still used when offered
// IPv6 literals are written in brackets: [::1]:995.
struct ServerAddress {
    QString host;
    quint16 port = 0;
    bool implicitTls = false; // TLS from the first byte
    bool tlsRequired = true;  // never send a password without TLS
    bool operator==(const ServerAddress&) const = default;
};

// nullopt when the text is not one of the forms above.
std::optional<ServerAddress> parseServerText(const QString& text);

// One reply line, without its line end.
struct Reply {
    enum Kind { Ok, Err, Continue, Invalid };
    Kind kind = Invalid;
    QByteArray text;     // what follows "+OK " / "-ERR " / "+ "
    QByteArray respCode; // the bracketed response code of RFC 2449 ("AUTH", "SYS/TEMP", "IN-USE"), upper case
};
Reply parseReply(QByteArrayView line);

// Whether an -ERR to a login command means the credentials were refused, as opposed to a server that
// is busy or broken (RFC 2449 / RFC 3206 response codes).
bool isCredentialRefusal(const Reply& reply);

struct Capabilities {
    bool known = false; // CAPA answered +OK
    bool pipelining = false;
    bool stls = false;
    bool top = false;
    bool uidl = false;
    bool user = false;
    QList<QByteArray> sasl; // upper case
};
// lines: the body of a CAPA reply, already unstuffed.
Capabilities parseCapabilities(const QList<QByteArray>& lines);

// The <...@...> timestamp of an APOP-capable greeting, or empty.
QByteArray apopTimestamp(QByteArrayView greetingText);

// One line of a UIDL listing: message number and unique id (1 to 512 printable non-blank bytes; RFC 1939
// allows 70, servers exceed it). false for anything else.
bool parseUidlLine(QByteArrayView line, int* number, QByteArray* uid);
// The reply text of STAT: "count octets". false when malformed (the count may be up to 999,999,999:
// the caller checks it against its own limit before it relies on it).
bool parseStat(QByteArrayView text, int* count);

// Splits incoming bytes into lines (ending in LF, a CR before it dropped). A line longer than maxLine
// bytes without its end is an error: the caller stops reading from that server.
class LineBuffer {
public:
    explicit LineBuffer(qsizetype maxLine) : maxLine_(maxLine) {}
    void append(QByteArrayView bytes);
    enum Result { Line, NeedMore, TooLong };
    Result takeLine(QByteArray* line);
    // Whether the last line taken ended in CR LF (and not a bare LF).
    bool lastLineEndedInCrLf() const { return lastCrLf_; }
    qsizetype buffered() const { return data_.size() - start_; }
    void setMaxLine(qsizetype maxLine) { maxLine_ = maxLine; }

private:
    QByteArray data_;
    qsizetype start_ = 0;
    qsizetype scanned_ = 0; // bytes after start_ already searched for LF
    qsizetype maxLine_;
    bool lastCrLf_ = true;
};

// The body of a multi-line reply, line by line: "." alone ends it, a leading "." is removed from the
// other lines (RFC 1939 byte-stuffing). Only a "." line between two CR LF ends a reply; the caller
// treats one with a bare LF as a broken reply (see LineBuffer::lastLineEndedInCrLf).
enum class BodyLine { Data, End };
BodyLine unstuff(QByteArray* line);

// Reads a message header line by line (unstuffed, without line ends) and keeps only what a summary
// needs: the first Subject, From and Date fields with their continuation lines, each cut at
// maxFieldBytes. Everything after the blank line that ends the header is ignored, so memory stays
// bounded however long the header runs.
class SummaryHeaderFilter {
public:
    static constexpr qsizetype maxFieldBytes = 16 * 1024;
    void feed(QByteArrayView line);
    // The kept fields, each line ending in CR LF, in the order they came.
    QByteArray headers() const;

private:
    QByteArray fields_[3]; // Subject, From, Date
    int order_[3] = {-1, -1, -1};
    int seen_ = 0;
    int current_ = -1; // the field whose continuation lines are kept
    bool ended_ = false;
};

// base64 of the SASL PLAIN message: authzid empty, authcid, password.
QByteArray saslPlain(QByteArrayView user, QByteArrayView password);
// The APOP digest: lower-case hex MD5 of timestamp + password.
QByteArray apopDigest(QByteArrayView timestamp, QByteArrayView password);

} // namespace korimo::pop3
