#include "sendLogic.h"

#include "modSearchFile.h"

#include <algorithm>

namespace korimo {

QString sendCheckMessage(SendCheck check) {
    switch (check) {
    case SendCheck::AttachmentMissing:
        return QStringLiteral("添付ファイルが存在しません");
    case SendCheck::BodyEmpty:
        return QStringLiteral("本文が空です");
    case SendCheck::ServerEmpty:
        return QStringLiteral("SMTPが空です");
    case SendCheck::NoRecipient:
        return QStringLiteral("宛先が空です");
    case SendCheck::SenderEmpty:
        return QStringLiteral("あなたのメールアドレスが空です");
    case SendCheck::Ok:
    case SendCheck::SubjectEmpty:
        break;
    }
    return QString();
}

QString sendFailureText(const MailError& error) {
    return error.kind == MailErrorKind::OutcomeUnknown ? describe(error) : QStringLiteral("エラー") + describe(error);
}

std::optional<QStringList> selectedRecipients(const QStringList& addresses, const QList<bool>& selected) {
    std::optional<QStringList> out;
    const qsizetype rows = std::min(addresses.size(), selected.size());
    for (qsizetype i = 0; i < rows; ++i)
        if (selected.at(i))
            out.emplace(out.value_or(QStringList()) << addresses.at(i));
    return out;
}

QString bodyWithCrLf(const QString& body) {
    QString out;
    out.reserve(body.size() + body.size() / 16);
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c == u'\n' && (i == 0 || body.at(i - 1) != u'\r'))
            out.append(u'\r');
        out.append(c);
    }
    return out;
}

SendValidation validateSend(const SendForm& form, const std::function<int(const QString&)>& fileExists) {
    SendValidation v;
    if (form.attach) {
        const int exists = fileExists ? fileExists(form.attachment) : FileExists(form.attachment);
        if (exists == 0) {
            v.check = SendCheck::AttachmentMissing;
            return v;
        }
    }
    if (form.subject.isEmpty()) {
        v.check = SendCheck::SubjectEmpty;
        return v;
    }
    if (form.body.isEmpty()) {
        v.check = SendCheck::BodyEmpty;
        return v;
    }
    if (form.server.isEmpty()) {
        v.check = SendCheck::ServerEmpty;
        return v;
    }
    const std::optional<QStringList> recipients = selectedRecipients(form.addresses, form.selected);
    if (!recipients) {
        v.check = SendCheck::NoRecipient;
        return v;
    }
    if (form.sender.isEmpty()) {
        v.check = SendCheck::SenderEmpty;
        return v;
    }
    v.request = OutgoingMail{form.server,
                             *recipients,
                             form.sender,
                             form.subject,
                             bodyWithCrLf(form.body),
                             form.attach ? form.attachment : QString()};
    return v;
}

} // namespace korimo
