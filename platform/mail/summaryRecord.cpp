#include "summaryRecord.h"

#include "charsets.h"

#include <algorithm>

namespace korimo {

namespace {

const QString kSubject = QStringLiteral("Subject:");
const QString kFrom = QStringLiteral(" From:");
const QString kDate = QStringLiteral(" Date: ");

bool isBidiControl(char16_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// One line of display text. sanitizeForLine() does the work; the loop below only makes sure that no
// control or bidi character can end up in a record whatever that function lets through. Cleaning a
// cleaned value changes nothing, which is what lets a record cut back into exactly its values: so
// the blanks a cut leaves at the end go too.
bool isControlOrBidi(char16_t u) {
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || isBidiControl(u);
}

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

// Whether cleanValue() leaves value as it is: no control or bidi character, no white space at either
// end, no two ASCII blanks in a row, not over the length limit.
bool isClean(QStringView value) {
    if (value.size() > maxSummaryFieldLength)
        return false;
    if (value.isEmpty())
        return true;
    if (value.front().isSpace() || value.back().isSpace())
        return false;
    bool blank = false;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (isControlOrBidi(u) || (u == u' ' && blank))
            return false;
        blank = u == u' ';
    }
    return true;
}

void neutralise(QString* value, const QString& keyword) {
    // "Date:" becomes "Date：" (full-width colon): the record's own separators stay the last ones.
    const QString replacement = keyword.left(keyword.size() - 1) + QChar(u'\uFF1A');
    value->replace(keyword, replacement);
}

} // namespace

SummaryFields summaryFields(const QString& subject, const QString& from, const QString& date) {
    SummaryFields fields{cleanValue(subject), cleanValue(from), cleanValue(date)};
    neutralise(&fields.from, QStringLiteral(" From:"));
    neutralise(&fields.date, QStringLiteral("Date:"));
    return fields;
}

QString buildSummaryRecord(const QString& subject, const QString& from, const QString& date) {
    const SummaryFields f = summaryFields(subject, from, date);
    return kSubject + f.subject + kFrom + f.from + kDate + f.date;
}

SummaryFields splitSummaryRecord(const QString& record) {
    SummaryFields fields;
    qsizetype end = record.size();
    const qsizetype r = record.lastIndexOf(kDate);
    if (r >= 0) {
        fields.date = record.mid(r + kDate.size());
        end = r;
    }
    const qsizetype q = end >= kFrom.size() ? record.lastIndexOf(kFrom, end - kFrom.size()) : -1;
    const qsizetype subjectStart = record.startsWith(kSubject) ? kSubject.size() : 0;
    if (q >= subjectStart) {
        fields.from = record.mid(q + kFrom.size(), end - q - kFrom.size());
        end = q;
    }
    if (end > subjectStart)
        fields.subject = record.mid(subjectStart, end - subjectStart);
    return fields;
}

bool isWellFormedSummaryRecord(const QString& record) {
    // The same as buildSummaryRecord(split) == record, without building: cleaning never lengthens a
    // value, so the two are equal exactly when both separators were found and every value is one that
    // cleaning and neutralising leave as it is.
    if (!record.startsWith(kSubject))
        return false;
    const SummaryFields f = splitSummaryRecord(record);
    return record.size() ==
               kSubject.size() + f.subject.size() + kFrom.size() + f.from.size() + kDate.size() + f.date.size() &&
           isClean(f.subject) && isClean(f.from) && isClean(f.date) && !f.from.contains(kFrom) &&
           !f.date.contains(QStringLiteral("Date:"));
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

QString summaryFromHeaders(QByteArrayView headers) {
    return buildSummaryRecord(decodeHeaderText(headerValue(headers, "Subject")),
                              senderText(headerValue(headers, "From")), decodeHeaderText(headerValue(headers, "Date")));
}

} // namespace korimo
