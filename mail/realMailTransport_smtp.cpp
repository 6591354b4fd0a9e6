#include "messageComposer.h"
#include "realMailTransport.h"
#include "smtpSender.h"

namespace korimo {

MailOutcome<Sent> RealMailTransport::send(const OutgoingMail& mail) {
    OutgoingMessage message;
    message.from = mail.sender;
    message.subject = mail.subject;
    message.body = mail.body;
    message.attachment = mail.attachment;
    for (const QString& to : mail.recipients) { // an empty entry (a row without an address) is skipped
        if (!to.isEmpty())
            message.to.append(to);
    }
    // Everything is checked and composed before any connection is made.
    const ComposedMessage composed = composeMessage(message);
    if (!composed.error.isEmpty())
        return MailError{composed.errorKind, composed.error};
    SmtpEndpoint endpoint = parseSmtpServer(mail.server);
    if (!endpoint.valid)
        return MailError{MailErrorKind::NotConfigured, mail.server.trimmed().left(100)};
    chooseCredentials(endpoint, mail.sender, options().accounts);
    SmtpSendOptions send;
    send.connectTimeoutMs = options().connectTimeoutMs;
    send.readTimeoutMs = options().readTimeoutMs;
    send.caFile = options().caFile;
    return sendSmtp(endpoint, mail.sender, message.to, composed.bytes, send);
}

} // namespace korimo
