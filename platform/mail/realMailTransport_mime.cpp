#include "readMail.h"
#include "realMailTransport.h"
#include "safeFileName.h"

#include <QFile>

namespace korimo {

ReadMailOutcome readMailFile(const QString& path, bool saveAttachments, const QString& folder) {
    ReadMailOutcome outcome;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.error = QStringLiteral("メールファイルを開けません: ") + path;
        return outcome;
    }
    // One byte more than the limit tells readMime that the message was longer. (read(n) reserves n bytes
    // at once, so it is used only for files that are really that large.)
    const QByteArray raw = file.size() > kMaxMessageBytes ? file.read(kMaxMessageBytes + 1) : file.readAll();
    if (file.error() != QFile::NoError) {
        outcome.error = QStringLiteral("メールファイルを読めません: ") + path;
        return outcome;
    }
    outcome.readable = true;
    outcome.message = readMime(raw);
    if (outcome.message.partsOmitted)
        outcome.notes.append(QStringLiteral("[このメールは大きすぎるか複雑すぎるため、一部を省略しました]"));

    std::optional<AttachmentFolder> target;
    if (saveAttachments && !outcome.message.attachments.isEmpty())
        target.emplace(folder);
    int listed = 0;
    for (const MimeAttachment& attachment : std::as_const(outcome.message.attachments)) {
        if (target) {
            QString name = safeFileName(attachment.suggestedName);
            if (name.isEmpty())
                name = QStringLiteral("attachment") + extensionForMimeType(attachment.mimeType);
            const QString saved = target->isOpen() ? target->saveNew(name, attachment.data) : QString();
            if (saved.isEmpty()) {
                outcome.notes.append(
                    QStringLiteral("[添付ファイル「%1」を保存できませんでした: %2]").arg(name, target->error()));
                continue;
            }
            outcome.savedNames.append(saved);
        }
        outcome.fileElements.append(QStringLiteral("File %1").arg(++listed));
    }
    return outcome;
}

QString bodyWithNotes(const ReadMailOutcome& outcome) {
    if (outcome.notes.isEmpty())
        return outcome.message.body;
    return outcome.notes.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n") + outcome.message.body;
}

MailResult RealMailTransport::ReadMail(const QString& path, const QString& fields, const QString& folder) {
    const bool save = !fields.contains(QStringLiteral("nofile:"));
    const ReadMailOutcome outcome = readMailFile(path, save, folder);
    if (!outcome.readable)
        return MailResult::text(outcome.error);
    QStringList items = outcome.fileElements;
    items.append(QStringLiteral("Body: ") + bodyWithNotes(outcome));
    return MailResult::array(items);
}

} // namespace korimo
