// The fuzz targets' FUZZ_CHECK(), and what they check of a summary record beside the sanitizers: it
// holds no control or bidi character, and it cuts back (both by the transport's cut and by the
// list's) into exactly the values it was built from.
#pragma once

#include "summaryCut.h"
#include "summaryRecord.h"

#include <QString>
#include <cstdio>
#include <cstdlib>

namespace fuzzcheck {

inline void checkAt(bool condition, const char* file, int line) {
    if (condition)
        return;
    std::fprintf(stderr, "check failed at %s:%d\n", file, line);
    std::abort();
}
// Aborts, naming the failed check, when condition is false.
#define FUZZ_CHECK(...) fuzzcheck::checkAt((__VA_ARGS__), __FILE__, __LINE__)

inline bool clean(const QString& s) {
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x061C || u == 0x200E || u == 0x200F ||
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            return false;
    }
    return true;
}

inline void checkRecord(const QString& record, const korimo::SummaryFields& expected) {
    FUZZ_CHECK(clean(record));
    FUZZ_CHECK(korimo::isWellFormedSummaryRecord(record));
    const korimo::SummaryFields f = korimo::splitSummaryRecord(record);
    FUZZ_CHECK(f == expected);
    FUZZ_CHECK(korimo::cutSummary(record) == korimo::SummaryCells{f.subject, f.from, f.date});
    FUZZ_CHECK(f.subject.size() <= korimo::maxSummaryFieldLength && f.from.size() <= korimo::maxSummaryFieldLength &&
               f.date.size() <= korimo::maxSummaryFieldLength);
}

} // namespace fuzzcheck
