// The subject, sender and date of a listed message, made fit for one line of a list: decoded, free of
// control and bidi characters, trimmed and at most maxSummaryFieldLength characters each.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace korimo {

struct SummaryFields {
    QString subject, from, date;
    bool operator==(const SummaryFields&) const = default;
};

inline constexpr qsizetype maxSummaryFieldLength = 1000;

// The values cleaned and bounded as described above. Cleaning them again changes nothing.
SummaryFields summaryFields(const QString& subject, const QString& from, const QString& date);

// Whether a text could be a cleaned value (the header cache checks what it loads with this).
bool isCleanSummaryValue(const QString& value);

// A From (or other address) header value as a reader sees it: quoted strings without their quotes
// and backslash escapes, encoded words and raw 8-bit text decoded, the rest as it stands:
// "Yamada, Taro \"Boss\"" <taro@example.jp>  ->  Yamada, Taro "Boss" <taro@example.jp>
QString senderText(QByteArrayView raw);

// The fields of a message whose header block (as TOP n 0 returns it) is headers: Subject decoded for
// display (RFC 2047, raw 8-bit text), From as senderText(), Date as it stands.
SummaryFields summaryFromHeaders(QByteArrayView headers);

// The unfolded raw value of the first header field called name (case-insensitive), or a null array.
QByteArray headerValue(QByteArrayView headers, QByteArrayView name);

} // namespace korimo
