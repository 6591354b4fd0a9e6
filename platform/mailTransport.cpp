#include "mailTransport.h"

namespace korimo {

QList<MailResult> MailTransport::ListMailboxes(const QList<Mailbox>& boxes, const QString& folder) {
    QList<MailResult> results;
    results.reserve(boxes.size());
    for (const Mailbox& box : boxes) {
        if (box.server.isEmpty())
            results.append(MailResult::text(QString()));
        else
            results.append(RcvMail2(box.server, box.account, box.password, QStringLiteral("LIST"), folder));
    }
    return results;
}

} // namespace korimo
