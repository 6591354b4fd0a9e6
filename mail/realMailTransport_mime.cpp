#include "mimeReader.h"
#include "realMailTransport.h"
#include "safeFileName.h"

#include <QFile>

namespace korimo {

MailOutcome<MailMessage> RealMailTransport::read(const QString& path, bool saveAttachments, const QString& folder) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return MailError{MailErrorKind::LocalFile, path};
    // One byte more than the limit tells readMime that the message was longer. (read(n) reserves n bytes
    // at once, so it is used only for files that are really that large.)
    const QByteArray raw = file.size() > kMaxMessageBytes ? file.read(kMaxMessageBytes + 1) : file.readAll();
    if (file.error() != QFile::NoError)
        return MailError{MailErrorKind::LocalFile, path};
    const MimeMessage mime = readMime(raw);
    MailMessage message;
    message.subject = mime.subject;
    message.from = mime.from;
    message.date = mime.date;
    message.body = QString(mime.body).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    message.partsOmitted = mime.partsOmitted;

    std::optional<AttachmentFolder> target;
    if (saveAttachments && !mime.attachments.isEmpty())
        target.emplace(folder);
    for (const MimeAttachment& attachment : mime.attachments) {
        SavedAttachment entry;
        entry.fileName = safeFileName(attachment.suggestedName);
        if (entry.fileName.isEmpty())
            entry.fileName = QStringLiteral("attachment") + extensionForMimeType(attachment.mimeType);
        if (target) {
            const QString saved = target->isOpen() ? target->saveNew(entry.fileName, attachment.data) : QString();
            entry.saved = !saved.isEmpty();
            if (entry.saved)
                entry.fileName = saved;
            else
                entry.problem = target->error();
        }
        message.attachments.append(entry);
    }
    return message;
}

} // namespace korimo
