// Sending one composed message over SMTP with libcurl.
//
// The server text (key smtp of section Past) chooses the connection:
//   host[:port]            submission, port 587 by default, STARTTLS required (never a plaintext fallback)
//   smtps://host[:port]    implicit TLS, port 465 by default
//   smtp://host[:port]     the user's choice of plaintext; STARTTLS is still used when the server offers it,
//                          and its certificate, when it cannot be verified, does not stop the message
// Credentials for AUTH, used only when the server offers AUTH:
//   1. a user part in the server text, "user:password@host" (percent-encoding allowed: %40 for '@');
//   2. otherwise the POP3 mailbox whose account equals the sender's address (letter case ignored).
//   Without either, the message is sent without AUTH.
#pragma once

#include "mailTransport.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace korimo {

struct SmtpEndpoint {
    QString url;  // "smtp://host:587" or "smtps://host:465"
    QString host; // without brackets
    int port = 0;
    enum class Tls { Required, Implicit, IfOffered } tls = Tls::Required;
    QString user;
    QString password;
    bool valid = true; // false: the server text is unusable
};

SmtpEndpoint parseSmtpServer(const QString& server);

// The credentials for sender when the server text carries none (see above).
void chooseCredentials(SmtpEndpoint& endpoint, const QString& sender, const QList<Mailbox>& accounts);

struct SmtpSendOptions {
    int connectTimeoutMs = 15000;
    int readTimeoutMs = 30000; // longest wait for any one reply, and for a stalled upload
    QString caFile;            // PEM certificates trusted instead of the system's store
};

// Sends bytes (CR LF, not dot-stuffed) from sender to every recipient. An address with a non-ASCII local
// part is sent only with SMTPUTF8; a server that does not offer it gets no message (ServerRefused).
// When the connection breaks after the whole body, before the server's final reply, the outcome is
// unknown (OutcomeUnknown): the message may have been delivered. With smtp:// a STARTTLS certificate that
// cannot be verified does not stop the message: Sent::unverifiedServer names the host then.
MailOutcome<Sent> sendSmtp(const SmtpEndpoint& endpoint, const QString& sender, const QStringList& recipients,
                           const QByteArray& bytes, const SmtpSendOptions& options);

} // namespace korimo
