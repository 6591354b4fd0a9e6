// Composing the message that SendMail hands to the SMTP server: headers, the text in ISO-2022-JP when it
// fits (the NEC row-13 characters such as ① included) or else UTF-8, and at most one attachment.
#pragma once

#include "mailTransport.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace korimo {

struct OutgoingMessage {
    QString from;   // the sender's address
    QStringList to; // recipients' addresses, empty entries already removed
    QString subject;
    QString body;       // any line ends; normalised to CR LF exactly once, the last line ending too
    QString attachment; // path of one file, or ""
    QDateTime date = QDateTime::currentDateTime();
};

struct ComposedMessage {
    QByteArray bytes; // CR LF throughout, ready for SMTP DATA (without the dot-stuffing)
    QString error;    // not empty: nothing may be sent
    MailErrorKind errorKind = MailErrorKind::Unsendable; // with an error: LocalFile or TooLarge for the attachment
};

// The largest attachment we read into a message.
inline constexpr qsizetype kMaxAttachmentBytes = 32 * 1024 * 1024;

// "" when the address may go into an envelope or a header (one addr-spec with an '@', no blanks, no
// control characters, no '<' '>' ',' ';' '"' '(' ')' '\'), else the error text.
QString checkAddress(const QString& address);

// Refuses CR, LF and NUL (and every other control character) in the subject and the attachment's name,
// checks every address, and builds the message.
ComposedMessage composeMessage(const OutgoingMessage& message);

// text in ISO-2022-JP (RFC 1468, with the NEC row-13 characters), ending in ASCII mode; nothing when
// some character has no place in it (half-width katakana, emoji, IBM extensions, ESC).
std::optional<QByteArray> encodeIso2022Jp(const QString& text);

// A header value as RFC 2047 encoded words (ISO-2022-JP when it fits, else UTF-8), folded; plain
// printable ASCII of at most 900 characters is returned unchanged.
QByteArray encodeHeaderWords(const QString& text);

} // namespace korimo
