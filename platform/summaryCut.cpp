#include "summaryCut.h"

namespace korimo {

namespace {

// Characters of text from 1-based position start, count of them; "" for a negative count or a start
// beyond the end, the rest of the text when count runs past it.
QString cell(const QString& text, qsizetype start, qsizetype count) {
    if (count <= 0 || start < 1 || start > text.size())
        return QString();
    return text.mid(start - 1, count);
}

} // namespace

SummaryCells cutSummary(const QString& record) {
    // 1-based positions, 0 when absent.
    const qsizetype p = record.indexOf(u"Subject") + 1;
    qsizetype q = record.indexOf(u"From") + 1;
    qsizetype r = record.indexOf(u"Date") + 1;

    // The keyword forms the transport writes: " From:" and " Date: ", the date last.
    const qsizetype subjectEnd = p > 0 ? p - 1 + 7 : 0;
    const qsizetype dateAt = record.lastIndexOf(u" Date: ");
    if (dateAt >= subjectEnd && dateAt >= 0) {
        r = dateAt + 2;
        // The last " From:" that ends before that " Date: " (a negative start would search from the end).
        const qsizetype fromAt = dateAt >= 6 ? record.lastIndexOf(u" From:", dateAt - 6) : -1;
        if (fromAt >= subjectEnd)
            q = fromAt + 2;
    }

    const qsizetype s = p + 8;
    const qsizetype f = q + 5;
    const qsizetype d = r + 5;
    SummaryCells cells;
    cells.subject = cell(record, s, f - s - 6);
    cells.sender = cell(record, f, d - f - 6);
    const qsizetype dateLength = record.size() - d;
    cells.date = dateLength > 0 ? record.right(dateLength) : QString();
    return cells;
}

} // namespace korimo
