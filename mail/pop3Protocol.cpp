#include "pop3Protocol.h"

#include <QCryptographicHash>
#include <QHostAddress>

namespace korimo::pop3 {

namespace {

bool parsePort(QStringView text, quint16* port) {
    if (text.isEmpty() || text.size() > 5)
        return false;
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < 1 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

bool plausibleHostName(QStringView host) {
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (QChar c : host) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c == u'/' || c == u'@' || c == u'?' || c == u'#' ||
            c == u'\\' || c == u'[' || c == u']' || c == u':' || c == u'%')
            return false;
    }
    return true;
}

} // namespace

std::optional<ServerAddress> parseServerText(const QString& text) {
    QStringView rest = QStringView(text).trimmed();
    ServerAddress a;
    quint16 defaultPort = 995;
    bool bare = false;
    if (rest.startsWith(u"pop3s://", Qt::CaseInsensitive)) {
        rest = rest.mid(8);
        a.implicitTls = true;
    } else if (rest.startsWith(u"pop3://", Qt::CaseInsensitive)) {
        rest = rest.mid(7);
        a.tlsRequired = false;
        defaultPort = 110;
    } else {
        bare = true;
    }
    if (rest.endsWith(u'/'))
        rest.chop(1);

    QStringView host;
    QStringView portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        host = rest.mid(1, close - 1);
        QHostAddress literal;
        if (!literal.setAddress(host.toString()) || literal.protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
        const QStringView after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':'))
                return std::nullopt;
            portText = after.mid(1);
            if (portText.isEmpty())
                return std::nullopt;
        }
    } else {
        const qsizetype colon = rest.indexOf(u':');
        if (colon >= 0) {
            host = rest.left(colon);
            portText = rest.mid(colon + 1);
            if (portText.isEmpty())
                return std::nullopt;
        } else {
            host = rest;
        }
        if (!plausibleHostName(host))
            return std::nullopt;
    }
    a.host = host.toString();
    a.port = defaultPort;
    if (!portText.isEmpty() && !parsePort(portText, &a.port))
        return std::nullopt;
    if (bare)
        a.implicitTls = a.port == 995;
    return a;
}

Reply parseReply(QByteArrayView line) {
    Reply r;
    QByteArrayView rest;
    if (line.startsWith("+OK") && (line.size() == 3 || line[3] == ' ')) {
        r.kind = Reply::Ok;
        rest = line.sliced(3);
    } else if (line.startsWith("-ERR") && (line.size() == 4 || line[4] == ' ')) {
        r.kind = Reply::Err;
        rest = line.sliced(4);
    } else if (line.startsWith("+") && (line.size() == 1 || line[1] == ' ')) {
        r.kind = Reply::Continue;
        rest = line.sliced(1);
    } else {
        return r;
    }
    if (rest.startsWith(" "))
        rest = rest.sliced(1);
    r.text = rest.toByteArray();
    if (r.kind != Reply::Continue && rest.startsWith("[")) {
        const qsizetype close = rest.indexOf(']');
        if (close > 1 && close < 64)
            r.respCode = rest.sliced(1, close - 1).toByteArray().toUpper();
    }
    return r;
}

bool isCredentialRefusal(const Reply& reply) {
    if (reply.kind != Reply::Err)
        return false;
    // A server that is busy, locked or broken has not judged the password.
    return !(reply.respCode.startsWith("SYS") || reply.respCode == "IN-USE" || reply.respCode == "LOGIN-DELAY" ||
             reply.respCode == "UNAVAILABLE");
}

Capabilities parseCapabilities(const QList<QByteArray>& lines) {
    Capabilities caps;
    caps.known = true;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> words = line.simplified().split(' ');
        const QByteArray name = words.value(0).toUpper();
        if (name == "PIPELINING")
            caps.pipelining = true;
        else if (name == "STLS")
            caps.stls = true;
        else if (name == "TOP")
            caps.top = true;
        else if (name == "UIDL")
            caps.uidl = true;
        else if (name == "USER")
            caps.user = true;
        else if (name == "SASL")
            for (qsizetype i = 1; i < words.size(); ++i)
                if (!words[i].isEmpty())
                    caps.sasl.append(words[i].toUpper());
    }
    return caps;
}

QByteArray apopTimestamp(QByteArrayView greetingText) {
    const qsizetype open = greetingText.indexOf('<');
    if (open < 0)
        return {};
    const qsizetype close = greetingText.indexOf('>', open);
    if (close < 0)
        return {};
    const QByteArrayView stamp = greetingText.sliced(open, close - open + 1);
    if (stamp.indexOf('@') < 0 || stamp.size() > 256)
        return {};
    for (char c : stamp)
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return {};
    return stamp.toByteArray();
}

bool parseUidlLine(QByteArrayView line, int* number, QByteArray* uid) {
    const qsizetype space = line.indexOf(' ');
    if (space <= 0 || space > 9)
        return false;
    int n = 0;
    for (char c : line.first(space)) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    QByteArrayView id = line.sliced(space + 1);
    while (id.endsWith(' '))
        id.chop(1);
    if (n < 1 || id.isEmpty() || id.size() > 512)
        return false;
    for (char c : id)
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return false;
    *number = n;
    *uid = id.toByteArray();
    return true;
}

bool parseStat(QByteArrayView text, int* count) {
    const qsizetype space = text.indexOf(' ');
    const QByteArrayView digits = space < 0 ? text : text.first(space);
    if (digits.isEmpty() || digits.size() > 9)
        return false;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *count = n;
    return true;
}

void LineBuffer::append(QByteArrayView bytes) {
    if (start_ > 0 && start_ >= data_.size() / 2) {
        data_.remove(0, start_);
        start_ = 0;
    }
    data_.append(bytes);
}

LineBuffer::Result LineBuffer::takeLine(QByteArray* line) {
    const qsizetype lf = data_.indexOf('\n', start_ + scanned_);
    if (lf < 0) {
        scanned_ = data_.size() - start_;
        return scanned_ > maxLine_ ? TooLong : NeedMore;
    }
    qsizetype end = lf;
    lastCrLf_ = end > start_ && data_[end - 1] == '\r';
    if (lastCrLf_)
        --end;
    if (end - start_ > maxLine_)
        return TooLong;
    *line = data_.mid(start_, end - start_);
    start_ = lf + 1;
    scanned_ = 0;
    if (start_ == data_.size()) {
        data_.clear();
        start_ = 0;
    }
    return Line;
}

BodyLine unstuff(QByteArray* line) {
    if (line->startsWith('.')) {
        if (line->size() == 1)
            return BodyLine::End;
        line->remove(0, 1);
    }
    return BodyLine::Data;
}

void SummaryHeaderFilter::feed(QByteArrayView line) {
    if (ended_)
        return;
    // Lines are told apart exactly as headerValue() reads the whole block, so the kept fields give the
    // summary the whole block would give.
    if (line.isEmpty()) {
        ended_ = true;
        return;
    }
    if (line.front() == ' ' || line.front() == '\t') {
        if (current_ < 0)
            return;
    } else {
        static const QByteArrayView names[3] = {"subject", "from", "date"};
        current_ = -1;
        const qsizetype colon = line.indexOf(':');
        const QByteArrayView name = colon > 0 ? line.first(colon).trimmed() : QByteArrayView();
        for (int i = 0; i < 3 && !name.isEmpty(); ++i) {
            if (order_[i] < 0 && name.compare(names[i], Qt::CaseInsensitive) == 0) {
                current_ = i;
                order_[i] = seen_++;
                break;
            }
        }
        if (current_ < 0)
            return;
    }
    QByteArray& field = fields_[current_];
    const qsizetype room = maxFieldBytes - field.size();
    if (room <= 2)
        return;
    field.append(line.first(qMin(line.size(), room - 2)));
    field.append("\r\n");
}

QByteArray SummaryHeaderFilter::headers() const {
    QByteArray out;
    for (int k = 0; k < seen_; ++k)
        for (int i = 0; i < 3; ++i)
            if (order_[i] == k)
                out += fields_[i];
    return out;
}

QByteArray saslPlain(QByteArrayView user, QByteArrayView password) {
    QByteArray message;
    message.append('\0');
    message.append(user);
    message.append('\0');
    message.append(password);
    return message.toBase64();
}

QByteArray apopDigest(QByteArrayView timestamp, QByteArrayView password) {
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(timestamp);
    md5.addData(password);
    return md5.result().toHex();
}

} // namespace korimo::pop3
