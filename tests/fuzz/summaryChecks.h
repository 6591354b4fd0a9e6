// The fuzz targets' FUZZ_CHECK(), and what they check of summary fields beside the sanitizers: each is
// bounded and holds no control or bidi character, whatever the header held.
#pragma once

#include "summaryFields.h"

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
    return s.size() <= korimo::maxSummaryFieldLength && !s.endsWith(u' ') && !s.startsWith(u' ');
}

// f as the summary shows it: clean, and cleaning it again changes nothing.
inline void checkFields(const korimo::SummaryFields& f) {
    FUZZ_CHECK(clean(f.subject) && clean(f.from) && clean(f.date));
    FUZZ_CHECK(korimo::isCleanSummaryValue(f.subject) && korimo::isCleanSummaryValue(f.from) &&
               korimo::isCleanSummaryValue(f.date));
    FUZZ_CHECK(korimo::summaryFields(f.subject, f.from, f.date) == f);
}

} // namespace fuzzcheck
