// Temporary definitions so that the POP3 side links on its own; the SMTP and MIME halves replace them.
#include "realMailTransport.h"

namespace korimo {

QString RealMailTransport::SendMail(const QString&, const QString&, const QString&, const QString&, const QString&,
                                    const QString&) {
    return QStringLiteral("not available in this build");
}

MailResult RealMailTransport::ReadMail(const QString&, const QString&, const QString&) {
    return MailResult::text(QStringLiteral("not available in this build"));
}

} // namespace korimo
