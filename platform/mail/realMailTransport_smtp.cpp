#include "messageComposer.h"
#include "realMailTransport.h"
#include "smtpSender.h"

namespace korimo {

QString RealMailTransport::SendMail(const QString& server, const QString& recipients, const QString& sender,
                                    const QString& subject, const QString& body, const QString& attachment) {
    OutgoingMessage message;
    message.from = sender;
    message.subject = subject;
    message.body = body;
    message.attachment = attachment;
    // The window joins the selected addresses with TAB; an empty entry (a row without an address) is skipped.
    for (const QString& to : recipients.split(QLatin1Char('\t'))) {
        if (!to.isEmpty())
            message.to.append(to);
    }
    if (message.to.isEmpty())
        return QStringLiteral("宛先がありません");
    // Everything is checked and composed before any connection is made.
    const ComposedMessage composed = composeMessage(message);
    if (!composed.error.isEmpty())
        return composed.error;
    SmtpEndpoint endpoint = parseSmtpServer(server);
    if (!endpoint.error.isEmpty())
        return endpoint.error;
    chooseCredentials(endpoint, sender, options().accounts);
    SmtpSendOptions send;
    send.connectTimeoutMs = options().connectTimeoutMs;
    send.readTimeoutMs = options().readTimeoutMs;
    send.extraCaFile = options().extraCaFile;
    return sendSmtp(endpoint, sender, message.to, composed.bytes, send);
}

} // namespace korimo
