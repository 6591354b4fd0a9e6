// The POP3 half of the real transport: list, remove and save, on our own client (Qt Network). It needs
// neither libcurl nor GMime, so a program that only checks mailboxes links neither.
#pragma once

#include "mailTransport.h"
#include "transportOptions.h"

namespace korimo {

class Pop3Transport {
public:
    explicit Pop3Transport(TransportOptions options = {}) : options_(std::move(options)) {}

    const TransportOptions& options() const { return options_; }

    // As the MailTransport calls of the same names.
    MailOutcome<Listing> list(const Mailbox& box, const QString& cacheFolder) const;
    QList<MailOutcome<Listing>> listAll(const QList<Mailbox>& boxes, const QString& cacheFolder) const;
    MailOutcome<Done> remove(const Mailbox& box, const MessageRef& message) const;
    MailOutcome<QString> save(const Mailbox& box, const MessageRef& message, const QString& folder) const;

private:
    TransportOptions options_;
};

} // namespace korimo
