// Cutting a message summary record ("Subject:… From:… Date: …", one element of a LIST result) into
// its subject, sender and date. The check's exclusion rules and the receive window's list share it.
#pragma once

#include <QString>

namespace korimo {

struct SummaryCells {
    QString subject, sender, date;
    bool operator==(const SummaryCells&) const = default;
};

// Each keyword is followed by one separator character before its value, and one character stands
// between a value and the next keyword; the date value starts one character later still. With p, q
// and r the 1-based positions of "Subject", "From" and "Date": the subject runs from p + 8 to q - 2,
// the sender from q + 5 to r - 2, the date from r + 6 to the end. A cell whose length comes out
// negative, or that starts beyond the end, is empty; a cell running past the end takes the rest.
//
// "Date" is taken where it stands as a keyword, the last " Date: " of the record, and "From" as the
// last " From:" before it, so that a subject such as "Fw: From: the Osaka office" or a sender named
// "Dates Inc" does not move the cut. A record lacking those keyword forms is cut at the first
// occurrence of each keyword (case-sensitive; a missing keyword counts as position 0).
SummaryCells cutSummary(const QString& record);

} // namespace korimo
