// The summary record of one message, as a "LIST" result carries it:
//
//     "Subject:" subject " From:" from " Date: " date
//
// The keywords "Subject", "From" and "Date" in this order, each followed by one colon; one blank
// between a value and the next keyword; one more blank after "Date:". With p, q, r the 1-based
// positions of the keywords, the subject runs from p+8 to q-2, the sender from q+5 to r-2 and the
// date from r+6 to the end.
//
// How to cut a record. A subject may well contain "From" or "Date" ("Date of the meeting", "Fwd:
// From the office"), so cutting at the FIRST "From" and "Date" splits such a subject wrongly. Cut
// from the right instead, as splitSummaryRecord() does:
//   1. r = the LAST occurrence of " Date: " (blank, Date, colon, blank); the date is everything after it;
//   2. q = the LAST occurrence of " From:" that ends at or before r; the sender lies between q+6 and r;
//   3. the subject is everything between "Subject:" (the first 8 characters) and q.
// buildSummaryRecord() guarantees that this is exact for every record it builds: the sender never
// contains " From:" and the date never contains "Date:" (their colon is replaced by a full-width
// "：" in those rare places), while the subject may contain anything. No value contains NUL, CR, LF,
// TAB, other control characters or bidi controls, and each value is at most maxFieldLength characters.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace korimo {

struct SummaryFields {
    QString subject, from, date;
    bool operator==(const SummaryFields&) const = default;
};

inline constexpr qsizetype maxSummaryFieldLength = 1000;

// The values as a record holds them: sanitised and bounded as described above, and the two colons
// replaced. Cleaning them again changes nothing.
SummaryFields summaryFields(const QString& subject, const QString& from, const QString& date);

// The record for these values: "Subject:", then summaryFields(), with the separators between them.
QString buildSummaryRecord(const QString& subject, const QString& from, const QString& date);

// Cuts a record from the right (see above). A text that is not a record gives empty fields for the parts
// it lacks: without " Date: " the date is empty, without " From:" the sender is, and the subject is
// whatever follows "Subject:".
SummaryFields splitSummaryRecord(const QString& record);

// Whether text is a record exactly as buildSummaryRecord() makes them (used to vet a cache).
bool isWellFormedSummaryRecord(const QString& record);

// A From (or other address) header value as a reader sees it: quoted strings without their quotes
// and backslash escapes, encoded words and raw 8-bit text decoded, the rest as it stands:
// "Yamada, Taro \"Boss\"" <taro@example.jp>  ->  Yamada, Taro "Boss" <taro@example.jp>
QString senderText(QByteArrayView raw);

// The record for a message whose header block (as TOP n 0 returns it) is headers: Subject decoded for
// display (RFC 2047, raw 8-bit text), From as senderText(), Date as it stands.
QString summaryFromHeaders(QByteArrayView headers);

// The unfolded raw value of the first header field called name (case-insensitive), or a null array.
QByteArray headerValue(QByteArrayView headers, QByteArrayView name);

} // namespace korimo
