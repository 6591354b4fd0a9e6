// Cutting a "LIST" summary record into the subject, sender and date cells that the check and the
// receive window show and test.
#pragma once

#include <QString>

namespace korimo {

struct SummaryCells {
    QString subject, sender, date;
    bool operator==(const SummaryCells&) const = default;
};

// A record reads "Subject", one separator, the subject, one blank, "From", one separator, the sender,
// one blank, "Date", one separator, one blank, the date. The subject runs from two characters after
// "Subject" up to two characters before "From", the sender likewise up to "Date", the date from six
// characters after "Date" to the end. A cell whose count comes out negative is empty.
// "Date" is the last occurrence in the record and "From" the last one before it, so a subject that
// contains those words ("Fw: From the Osaka office") is not cut inside.
SummaryCells cutSummary(const QString& record);

} // namespace korimo
