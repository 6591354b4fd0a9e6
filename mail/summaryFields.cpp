#include "summaryFields.h"

#include "charsets.h"

#include <algorithm>

namespace korimo {

namespace {

bool isBidiControl(char16_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isControlOrBidi(char16_t u) {
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || isBidiControl(u);
}

// One line of display text. sanitizeForLine() does the work; the loop below only makes sure that no
// control or bidi character gets through whatever that function lets pass. Cleaning a cleaned value
// changes nothing: so the blanks a cut leaves at the end go too.
QString cleanValue(const QString& value) {
    QString out = sanitizeForLine(value);
    if (std::any_of(out.cbegin(), out.cend(), [](QChar c) { return isControlOrBidi(c.unicode()); })) {
        QString kept;
        kept.reserve(out.size());
        for (QChar c : std::as_const(out)) {
            const char16_t u = c.unicode();
            if (isBidiControl(u))
                continue;
            kept.append(u < 0x20 || (u >= 0x7f && u < 0xa0) ? QChar(u' ') : c);
        }
        out = kept;
    }
    out = std::move(out).trimmed();
    if (out.size() > maxSummaryFieldLength) {
        qsizetype cut = maxSummaryFieldLength;
        if (out.at(cut).isLowSurrogate())
            --cut;
        out = out.first(cut).trimmed();
    }
    return out;
}

} // namespace

SummaryFields summaryFields(const QString& subject, const QString& from, const QString& date) {
    return {cleanValue(subject), cleanValue(from), cleanValue(date)};
}

bool isCleanSummaryValue(const QString& value) {
    if (value.size() > maxSummaryFieldLength || value != value.trimmed())
        return false;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || isBidiControl(u))
            return false;
    }
    return true;
}

QByteArray headerValue(QByteArrayView headers, QByteArrayView name) {
    QByteArray value;
    bool inField = false;
    qsizetype pos = 0;
    while (pos < headers.size()) {
        qsizetype lf = headers.indexOf('\n', pos);
        if (lf < 0)
            lf = headers.size();
        QByteArrayView line = headers.sliced(pos, lf - pos);
        pos = lf + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break; // end of the header block
        if (line.front() == ' ' || line.front() == '\t') {
            if (inField)
                value.append(line); // unfolding removes the line break only
            continue;
        }
        if (inField)
            break;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        if (line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            inField = true;
            value = line.sliced(colon + 1).toByteArray();
            if (value.isNull())
                value = QByteArray("");
        }
    }
    return inField ? value.trimmed() : QByteArray();
}

QString senderText(QByteArrayView raw) {
    QString out;
    qsizetype pos = 0;
    while (pos < raw.size()) {
        const qsizetype quote = raw.indexOf('"', pos);
        out += decodeHeaderText(raw.sliced(pos, (quote < 0 ? raw.size() : quote) - pos));
        if (quote < 0)
            break;
        // A quoted string: its backslash escapes undone, then decoded like any other text (encoded
        // words inside quotes are common). An unclosed quote runs to the end.
        QByteArray quoted;
        qsizetype i = quote + 1;
        for (; i < raw.size() && raw[i] != '"'; ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size())
                ++i;
            quoted.append(raw[i]);
        }
        out += decodeHeaderText(quoted);
        pos = i + 1;
    }
    return out;
}

SummaryFields summaryFromHeaders(QByteArrayView headers) {
    return summaryFields(decodeHeaderText(headerValue(headers, "Subject")), senderText(headerValue(headers, "From")),
                         decodeHeaderText(headerValue(headers, "Date")));
}

} // namespace korimo
