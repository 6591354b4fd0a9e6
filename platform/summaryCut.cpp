#include "summaryCut.h"

#include <limits>

namespace korimo {

namespace {

// The characters from the 1-based position start, count of them; a negative count or a start before
// the text gives nothing, a start beyond the end gives nothing, a count beyond the end takes the rest.
QString midOrEmpty(const QString& text, qsizetype start, qsizetype count) {
    if (count < 0 || start < 1 || start > text.size())
        return QString();
    return text.mid(start - 1, count);
}

// 1-based position of the last occurrence of keyword that starts at 0-based index from or earlier;
// 0 when there is none.
qsizetype lastPosition(const QString& text, QStringView keyword, qsizetype from) {
    if (from < 0)
        return 0;
    return text.lastIndexOf(keyword, from) + 1;
}

} // namespace

SummaryCells cutSummary(const QString& record) {
    const qsizetype p = record.indexOf(u"Subject") + 1;
    const qsizetype r = lastPosition(record, u"Date", record.size() - 1);
    // "From" ending before the date keyword; with no date keyword, the last one in the record.
    const qsizetype q = lastPosition(record, u"From", r > 0 ? r - 5 : record.size() - 1);
    const qsizetype s = p + 8;
    const qsizetype f = q + 5;
    // The date's start is held in 16 bits; a record too long for that leaves it at 0 (the whole record).
    const qsizetype d = r + 5 > std::numeric_limits<qint16>::max() ? 0 : r + 5;

    SummaryCells cells;
    cells.subject = midOrEmpty(record, s, f - s - 6);
    cells.sender = midOrEmpty(record, f, d - f - 6);
    const qsizetype tail = record.size() - d;
    cells.date = tail < 0 ? QString() : record.right(tail);
    return cells;
}

} // namespace korimo
