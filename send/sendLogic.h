// What the send window checks before it hands a message to the transport, without any widget: the
// checks in their order, the recipient text and the body's line ends.
#pragma once

#include "mailTransport.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace korimo {

// What the window holds when "送信" is pressed.
struct SendForm {
    bool attach = false;   // Check2
    QString attachment;    // Text5
    QString subject;       // Combo1's text
    QString body;          // Text4
    QString server;        // Text1
    QStringList addresses; // SendAddresses, one per row of List1
    QList<bool> selected;  // List1's selection, one per row
    QString sender;        // Text3
};

// The first failing check, in the order the window makes them.
enum class SendCheck {
    Ok,
    AttachmentMissing, // "添付ファイルが存在しません"
    SubjectEmpty,      // no message: the focus goes to the subject box
    BodyEmpty,         // "本文が空です"
    ServerEmpty,       // "SMTPが空です"
    NoRecipient,       // "宛先が空です"
    SenderEmpty,       // "あなたのメールアドレスが空です"
};

// The text the user is shown for a failed check; "" for Ok and SubjectEmpty.
QString sendCheckMessage(SendCheck check);
// The text shown when the transport could not send: a send whose outcome is unknown (the connection
// broke before the server's last reply) is no plain error and is shown as it is.
QString sendFailureText(const MailError& error);

// The addresses of the selected rows in list order. A selected row with an empty address still adds
// its (empty) entry. nullopt when no row is selected.
std::optional<QStringList> selectedRecipients(const QStringList& addresses, const QList<bool>& selected);

// The body with CR LF line breaks: every LF not already preceded by CR gets one.
QString bodyWithCrLf(const QString& body);

struct SendValidation {
    SendCheck check = SendCheck::Ok;
    OutgoingMail request; // filled only when check is Ok
};

// Runs the checks in order and stops at the first failure. "Empty" means no characters at all:
// blanks are not trimmed. The attachment is tested only when attach is set, through fileExists
// (FileExists by default), so a folder or a matching wildcard passes.
SendValidation validateSend(const SendForm& form, const std::function<int(const QString&)>& fileExists = {});

} // namespace korimo
