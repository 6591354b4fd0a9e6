// The typed messages between the program and its mail helper process: one request on the helper's
// standard input, one reply on its standard output, each a frame of a tag, a version and the values
// in QDataStream's form. Nothing is parsed back from text; a frame that does not decode completely
// is refused.
#pragma once

#include "mailTransport.h"
#include "transportOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace korimo::wire {

enum class Operation : quint8 { ListAll = 1, Remove, Save, Read, Send };

struct Request {
    Operation operation = Operation::ListAll;
    TransportOptions options;
    QList<Mailbox> boxes; // ListAll: every mailbox; Remove and Save: the one mailbox
    QString cacheFolder;  // ListAll
    MessageRef message;   // Remove, Save
    QString folder;       // Save: where the message goes; Read: where its attachments go
    QString path;         // Read
    bool saveAttachments = false;
    OutgoingMail mail; // Send
};

// Caps on what one side accepts from the other.
inline constexpr qsizetype kMaxRequestBytes = 16 * 1024 * 1024;
inline constexpr qsizetype kMaxReplyBytes = 256 * 1024 * 1024;

QByteArray encode(const Request& request);
std::optional<Request> decodeRequest(const QByteArray& frame);

// One reply for each operation: ListAll QList<MailOutcome<Listing>>, Remove MailOutcome<Done>, Save
// MailOutcome<QString>, Read MailOutcome<MailMessage>, Send MailOutcome<Sent>.
QByteArray encode(const QList<MailOutcome<Listing>>& reply);
QByteArray encode(const MailOutcome<Done>& reply);
QByteArray encode(const MailOutcome<QString>& reply);
QByteArray encode(const MailOutcome<MailMessage>& reply);
QByteArray encode(const MailOutcome<Sent>& reply);
std::optional<QList<MailOutcome<Listing>>> decodeListings(const QByteArray& frame);
std::optional<MailOutcome<Done>> decodeDone(const QByteArray& frame);
std::optional<MailOutcome<QString>> decodeSaved(const QByteArray& frame);
std::optional<MailOutcome<MailMessage>> decodeMessage(const QByteArray& frame);
std::optional<MailOutcome<Sent>> decodeSent(const QByteArray& frame);

} // namespace korimo::wire
