// Reading a saved message: its headers, the body as plain text and the attachments, with GMime doing the
// MIME parsing and our own charset decoding doing the text. Nothing here writes files.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace korimo {

// Limits that keep a hostile message from costing unbounded time or memory.
inline constexpr qsizetype kMaxMessageBytes = 64 * 1024 * 1024;
inline constexpr int kMaxDelimiterLines = 20000; // lines starting with "--" handed to the parser
inline constexpr int kMaxDepth = 64;             // nesting of multiparts we walk into
inline constexpr int kMaxAttachments = 1000;
inline constexpr qsizetype kMaxHeaderChars = 16 * 1024; // of subject, sender and date

struct MimeAttachment {
    QString suggestedName; // decoded, not yet made safe
    QString mimeType;      // "image/png"
    QByteArray data;       // transfer encoding undone
};

struct MimeMessage {
    QString subject; // one line each, decoded
    QString from;
    QString date;
    QString body; // plain text with CR LF line ends
    QList<MimeAttachment> attachments;
    bool partsOmitted = false; // a limit cut the message short
};

MimeMessage readMime(const QByteArray& raw);

// What the parser is given: boundary parameters that are not plain ASCII are disabled (GMime 3.2.13 can
// loop on them), and the message is cut before the line that would exceed kMaxDelimiterLines.
// Returns true when it had to cut.
bool prepareForParser(QByteArray& raw);

// Readable plain text from HTML: tags dropped, block ends as line breaks, scripts and styles left out,
// entities decoded. Line ends are LF.
QString htmlToText(const QString& html);

// Every line end (CR LF, LF or a lone CR) becomes exactly one CR LF.
QString toCrLf(const QString& text);

// A file name extension fitting a MIME type ("image/png" -> ".png"), "" when unknown.
QString extensionForMimeType(const QString& mimeType);

} // namespace korimo
