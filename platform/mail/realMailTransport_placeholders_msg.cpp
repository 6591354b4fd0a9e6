// TEMPORARY: stand-ins for the constructor and the POP3 methods until realMailTransport_pop3.cpp lands,
// so the message side links on its own. Delete this file when merging the POP3 side.
#include "realMailTransport.h"

namespace korimo {

RealMailTransport::RealMailTransport(TransportOptions options) : options_(std::move(options)) {}
RealMailTransport::~RealMailTransport() = default;

MailResult RealMailTransport::RcvMail2(const QString&, const QString&, const QString&, const QString&, const QString&) {
    return MailResult::text(QStringLiteral("POP3 not built"));
}

MailResult RealMailTransport::RcvMail(const QString&, const QString&, const QString&, const QString&, const QString&) {
    return MailResult::text(QStringLiteral("POP3 not built"));
}

QList<MailResult> RealMailTransport::ListMailboxes(const QList<Mailbox>& boxes, const QString& folder) {
    return MailTransport::ListMailboxes(boxes, folder);
}

} // namespace korimo
