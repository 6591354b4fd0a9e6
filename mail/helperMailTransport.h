// The program's mail transport: each call runs in a short-lived helper process, so the mail libraries
// (Qt Network and TLS for POP3; libcurl and GMime for sending and reading) are never loaded into the
// program that sits in the tray. korimo-mail-helper lists, removes and saves; korimo-message-helper
// sends and reads. The request goes to the helper's standard input and the reply comes back on its
// standard output, both typed (mailWire.h).
//
// A helper that cannot be started, dies or answers with something that is not a reply gives
// HelperFailed; for a deletion or a send it gives OutcomeUnknown instead, as the work may have been
// done. The helpers bound their own work with the transport's deadlines; a helper that still has not
// answered after backstopMs is killed (TimedOut). A helper dies with the program.
#pragma once

#include "mailTransport.h"
#include "transportOptions.h"

namespace korimo {

namespace wire {
struct Request;
}

class HelperMailTransport : public MailTransport {
public:
    static constexpr int kDefaultBackstopMs = 30 * 60 * 1000;

    HelperMailTransport(QString helperFolder, TransportOptions options, int backstopMs = kDefaultBackstopMs);

    MailOutcome<Sent> send(const OutgoingMail& mail) override;
    MailOutcome<Listing> list(const Mailbox& box, const QString& cacheFolder) override;
    QList<MailOutcome<Listing>> listAll(const QList<Mailbox>& boxes, const QString& cacheFolder) override;
    MailOutcome<Done> remove(const Mailbox& box, const MessageRef& message) override;
    MailOutcome<QString> save(const Mailbox& box, const MessageRef& message, const QString& folder) override;
    MailOutcome<MailMessage> read(const QString& path, bool saveAttachments, const QString& folder) override;

private:
    // The helper's reply frame, or the error that stands for it.
    MailOutcome<QByteArray> run(const QString& helper, const wire::Request& request) const;

    QString folder_;
    TransportOptions options_;
    int backstopMs_;
};

// Where the running program's helpers are: beside its executable, or in the installed program's
// library folder (../lib/korimo from a system install's bin).
QString installedHelperFolder();

} // namespace korimo
