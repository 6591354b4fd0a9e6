#include "smtpSender.h"

#include <QFile>
#include <QUrl>
#include <algorithm>
#include <curl/curl.h>
#include <mutex>
#include <tuple>
#include <utility>

namespace korimo {
namespace {

struct Upload {
    const QByteArray* bytes;
    qsizetype offset = 0;
};

size_t readUpload(char* buffer, size_t size, size_t count, void* userdata) {
    auto* upload = static_cast<Upload*>(userdata);
    const qsizetype left = upload->bytes->size() - upload->offset;
    const qsizetype n = std::min<qsizetype>(left, static_cast<qsizetype>(size * count));
    std::memcpy(buffer, upload->bytes->constData() + upload->offset, static_cast<size_t>(n));
    upload->offset += n;
    return static_cast<size_t>(n);
}

// What a command other than the mail transfer answers (NOOP's reply) is not wanted on stdout.
size_t discardReply(char*, size_t size, size_t count, void*) {
    return size * count;
}

// Whether the latest EHLO reply of the session offered SMTPUTF8. Fed by libcurl's protocol trace.
struct Capabilities {
    bool smtpUtf8 = false;
};

int traceProtocol(CURL*, curl_infotype type, char* data, size_t size, void* userdata) {
    auto* caps = static_cast<Capabilities*>(userdata);
    const QByteArrayView line(data, static_cast<qsizetype>(size));
    if (type == CURLINFO_HEADER_OUT && line.size() >= 5 &&
        QByteArrayView(line.first(5)).compare("EHLO ", Qt::CaseInsensitive) == 0)
        caps->smtpUtf8 = false; // a new EHLO (after STARTTLS) replaces what the earlier one offered
    if (type == CURLINFO_HEADER_IN && line.size() >= 4 && line.startsWith("250") &&
        (line[3] == '-' || line[3] == ' ')) {
        const QByteArray keyword = line.sliced(4).trimmed().toByteArray().toUpper();
        if (keyword == "SMTPUTF8")
            caps->smtpUtf8 = true;
    }
    return 0;
}

// The part of an address before its last '@' holds something other than ASCII.
bool hasNonAsciiLocalPart(const QString& address) {
    const QString local = address.left(address.lastIndexOf(QLatin1Char('@')));
    return std::any_of(local.begin(), local.end(), [](QChar c) { return c.unicode() > 0x7F; });
}

MailError smtpError(CURLcode code, const char* detail, long response) {
    MailErrorKind kind = MailErrorKind::Protocol;
    switch (code) {
    case CURLE_LOGIN_DENIED:
        kind = MailErrorKind::LoginRefused;
        break;
    case CURLE_USE_SSL_FAILED:
        kind = MailErrorKind::TlsRefused;
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        kind = MailErrorKind::Unreachable;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        kind = MailErrorKind::TimedOut;
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
        kind = MailErrorKind::TlsFailed;
        break;
    default:
        kind = response >= 400 ? MailErrorKind::ServerRefused : MailErrorKind::Protocol;
        break;
    }
    QString why = QString::fromUtf8(detail).trimmed();
    if (why.isEmpty())
        why = QString::fromUtf8(curl_easy_strerror(code));
    if (response > 0 && !why.contains(QString::number(response)))
        why += QStringLiteral(", %1").arg(response);
    return {kind, QStringLiteral("SMTP: ") + why};
}

} // namespace

SmtpEndpoint parseSmtpServer(const QString& server) {
    SmtpEndpoint e;
    QString text = server.trimmed();
    QString scheme;
    if (text.startsWith(QStringLiteral("smtps://"), Qt::CaseInsensitive)) {
        scheme = QStringLiteral("smtps");
        e.tls = SmtpEndpoint::Tls::Implicit;
        e.port = 465;
    } else if (text.startsWith(QStringLiteral("smtp://"), Qt::CaseInsensitive)) {
        scheme = QStringLiteral("smtp");
        e.tls = SmtpEndpoint::Tls::IfOffered;
        e.port = 25;
    } else if (text.contains(QStringLiteral("://"))) {
        e.valid = false;
        return e;
    } else {
        scheme = QStringLiteral("smtp");
        e.port = 587;
    }
    if (text.contains(QStringLiteral("://")))
        text = text.mid(text.indexOf(QStringLiteral("://")) + 3);
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userInfo = text.left(at);
        text = text.mid(at + 1);
        const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
        e.user = QUrl::fromPercentEncoding(userInfo.left(colon).toUtf8());
        e.password = colon < 0 ? QString() : QUrl::fromPercentEncoding(userInfo.mid(colon + 1).toUtf8());
    }
    // host, host:port, [v6], [v6]:port
    QString host = text;
    QString port;
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        if (close < 0) {
            e.valid = false;
            return e;
        }
        port = host.mid(close + 1);
        host = host.mid(1, close - 1);
        if (!port.isEmpty() && !port.startsWith(QLatin1Char(':')))
            host.clear();
        port = port.mid(1);
    } else if (host.count(QLatin1Char(':')) == 1) {
        port = host.mid(host.indexOf(QLatin1Char(':')) + 1);
        host = host.left(host.indexOf(QLatin1Char(':')));
    }
    bool ok = true;
    if (!port.isEmpty())
        e.port = port.toInt(&ok);
    static const QString bad = QStringLiteral("/?#@ \t\r\n");
    const bool badHost = host.isEmpty() || std::any_of(host.begin(), host.end(), [](QChar c) {
                             return bad.contains(c) || c.unicode() < 0x20 || c.unicode() == 0x7F;
                         });
    if (!ok || e.port <= 0 || e.port > 65535 || badHost) {
        e.valid = false;
        return e;
    }
    e.host = host;
    const QString urlHost = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    e.url = QStringLiteral("%1://%2:%3").arg(scheme, urlHost).arg(e.port);
    return e;
}

void chooseCredentials(SmtpEndpoint& endpoint, const QString& sender, const QList<Mailbox>& accounts) {
    if (!endpoint.user.isEmpty())
        return;
    for (const Mailbox& box : accounts) {
        if (!box.server.isEmpty() && !box.account.isEmpty() && box.account.compare(sender, Qt::CaseInsensitive) == 0) {
            endpoint.user = box.account;
            endpoint.password = box.password;
            return;
        }
    }
}

MailOutcome<Sent> sendSmtp(const SmtpEndpoint& endpoint, const QString& sender, const QStringList& recipients,
                           const QByteArray& bytes, const SmtpSendOptions& options) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl)
        return MailError{MailErrorKind::Protocol, QStringLiteral("SMTP: curl_easy_init")};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist* rcpt = nullptr;
    for (const QString& r : recipients)
        rcpt = curl_slist_append(rcpt, ("<" + r.toUtf8() + ">").constData());
    const QByteArray url = endpoint.url.toUtf8();
    const QByteArray from = "<" + sender.toUtf8() + ">";
    const QByteArray user = endpoint.user.toUtf8();
    const QByteArray password = endpoint.password.toUtf8();
    const QByteArray caFile = QFile::encodeName(options.caFile);
    Upload upload{&bytes};
    Capabilities caps;
    QString needsUtf8;
    QStringList addresses = recipients;
    addresses.append(sender);
    for (const QString& address : std::as_const(addresses)) {
        if (needsUtf8.isEmpty() && hasNonAsciiLocalPart(address))
            needsUtf8 = address;
    }

    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     endpoint.tls == SmtpEndpoint::Tls::IfOffered ? static_cast<long>(CURLUSESSL_TRY)
                                                                  : static_cast<long>(CURLUSESSL_ALL));
    if (!caFile.isEmpty()) { // instead of the system's store
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, traceProtocol);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &caps);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L); // feeds traceProtocol; prints nothing
    // Bounded waits: connecting, each reply, a stalled upload, and the whole session.
    const long readSeconds = std::max(1L, static_cast<long>((options.readTimeoutMs + 999) / 1000));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, readSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, readSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(options.connectTimeoutMs) + 20L * options.readTimeoutMs);

    // One session. With smtp:// the user accepted plaintext, so a STARTTLS certificate that cannot be
    // verified is no reason to give up: the handshake failed before anything was sent, and a second
    // session goes on encrypted without verifying (never worse than plaintext, never plaintext).
    const auto session = [&](bool verify) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
        upload.offset = 0;
        caps = Capabilities{};
        errorBuffer[0] = 0;
        // An address whose local part is not ASCII can only travel with SMTPUTF8 (which libcurl declares by
        // itself when the server offers it). Whether it does is known only after EHLO: a first transfer
        // on the same connection logs in and sends NOOP, and the message follows only when it is offered.
        CURLcode code = CURLE_OK;
        if (!needsUtf8.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "NOOP");
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discardReply);
            code = curl_easy_perform(curl);
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
        }
        std::optional<MailError> result;
        if (code != CURLE_OK) {
            long response = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
            result = smtpError(code, errorBuffer, response);
        } else if (!needsUtf8.isEmpty() && !caps.smtpUtf8) {
            result = MailError{MailErrorKind::ServerRefused, QStringLiteral("SMTPUTF8: ") + needsUtf8};
        } else {
            curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
            curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
            curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(curl, CURLOPT_READFUNCTION, readUpload);
            curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
            curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
            code = curl_easy_perform(curl);
            long response = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
            // The whole body went out after the server's 354 and then no final reply came: the server may
            // have queued the message before the connection broke.
            if (code != CURLE_OK && response == 354 && upload.offset == bytes.size())
                result = MailError{MailErrorKind::OutcomeUnknown,
                                   QStringLiteral("SMTP: ") +
                                       QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code))};
            else if (code != CURLE_OK)
                result = smtpError(code, errorBuffer, response);
        }
        return std::pair{code, result};
    };
    Sent sent;
    auto [code, result] = session(true);
    if (code == CURLE_PEER_FAILED_VERIFICATION && endpoint.tls == SmtpEndpoint::Tls::IfOffered) {
        sent.unverifiedServer = endpoint.host;
        std::tie(code, result) = session(false);
    }
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(curl);
    if (result)
        return *result;
    return sent;
}

} // namespace korimo
