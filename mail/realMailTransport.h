// The real mail transport: our own POP3 client (Qt Network), SMTP through libcurl, MIME through GMime.
// Every method may be called from any thread; each call is its own network session.
#pragma once

#include "mailTransport.h"

#include <QList>
#include <QString>

namespace korimo {

struct TransportOptions {
    int connectTimeoutMs = 15000; // TCP connect and TLS handshake
    int readTimeoutMs = 30000;    // longest wait for any one reply
    int sessionBaseMs = 60000;    // a POP3 session's overall deadline before it grows with the work (README)
    // Extra PEM certificates to trust beside the system store (the tests' own CA). Empty in the program.
    QString extraCaFile;
    // The user's POP3 mailboxes: SMTP AUTH takes its credentials from the one whose account matches
    // the sender (see the README).
    QList<Mailbox> accounts;
};

class RealMailTransport : public MailTransport {
public:
    explicit RealMailTransport(TransportOptions options = {});

    const TransportOptions& options() const { return options_; }

    // SMTP (realMailTransport_smtp.cpp).
    MailOutcome<Sent> send(const OutgoingMail& mail) override;
    // POP3 (realMailTransport_pop3.cpp).
    MailOutcome<Listing> list(const Mailbox& box, const QString& cacheFolder) override;
    QList<MailOutcome<Listing>> listAll(const QList<Mailbox>& boxes, const QString& cacheFolder) override;
    MailOutcome<Done> remove(const Mailbox& box, const MessageRef& message) override;
    MailOutcome<QString> save(const Mailbox& box, const MessageRef& message, const QString& folder) override;
    // MIME (realMailTransport_mime.cpp).
    MailOutcome<MailMessage> read(const QString& path, bool saveAttachments, const QString& folder) override;

private:
    TransportOptions options_;
};

} // namespace korimo
