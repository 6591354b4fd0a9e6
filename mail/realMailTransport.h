// The real mail transport in this process: POP3 on our own client (Qt Network), SMTP through libcurl,
// MIME through GMime. Every method may be called from any thread; each call is its own network session.
#pragma once

#include "mailTransport.h"
#include "pop3Transport.h"
#include "transportOptions.h"

namespace korimo {

class RealMailTransport : public MailTransport {
public:
    explicit RealMailTransport(TransportOptions options = {}) : pop3_(std::move(options)) {}

    const TransportOptions& options() const { return pop3_.options(); }

    // SMTP (realMailTransport_smtp.cpp).
    MailOutcome<Sent> send(const OutgoingMail& mail) override;
    // POP3 (realMailTransport_pop3.cpp).
    MailOutcome<Listing> list(const Mailbox& box, const QString& cacheFolder) override {
        return pop3_.list(box, cacheFolder);
    }
    QList<MailOutcome<Listing>> listAll(const QList<Mailbox>& boxes, const QString& cacheFolder) override {
        return pop3_.listAll(boxes, cacheFolder);
    }
    MailOutcome<Done> remove(const Mailbox& box, const MessageRef& message) override {
        return pop3_.remove(box, message);
    }
    MailOutcome<QString> save(const Mailbox& box, const MessageRef& message, const QString& folder) override {
        return pop3_.save(box, message, folder);
    }
    // MIME (realMailTransport_mime.cpp).
    MailOutcome<MailMessage> read(const QString& path, bool saveAttachments, const QString& folder) override;

private:
    Pop3Transport pop3_;
};

} // namespace korimo
