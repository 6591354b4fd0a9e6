// libFuzzer target over the header-only summary path: the reply to "TOP n 0" as a server sends it, cut
// into lines and unstuffed as the client does, streamed through the filter that keeps only the fields a
// summary needs, made into summary fields, kept in the UIDL cache and read back. The fields are bounded
// and control-free whatever the block holds; the filter keeps bounded bytes, and for fields within its
// limit it changes nothing the summary would show.
#include "pop3Protocol.h"
#include "summaryChecks.h"
#include "uidlCache.h"

#include <QHash>
#include <QTemporaryDir>

using namespace korimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir folder;
    static const UidlCache cache(folder.path(), QStringLiteral("pop.example.jp"), QStringLiteral("taro"));
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    pop3::LineBuffer buffer(64 * 1024);
    buffer.append(bytes);
    QByteArray whole, line;
    pop3::SummaryHeaderFilter filter;
    while (buffer.takeLine(&line) == pop3::LineBuffer::Line && pop3::unstuff(&line) == pop3::BodyLine::Data) {
        filter.feed(line);
        whole.append(line);
        whole.append("\r\n");
    }
    const QByteArray headers = filter.headers();
    FUZZ_CHECK(headers.size() <= 3 * pop3::SummaryHeaderFilter::maxFieldBytes);

    const SummaryFields fields = summaryFromHeaders(headers);
    fuzzcheck::checkFields(fields);

    // Fields within the filter's limit: the summary is the one the whole header block gives.
    if (whole.size() < pop3::SummaryHeaderFilter::maxFieldBytes)
        FUZZ_CHECK(summaryFromHeaders(whole) == fields);

    // The cache gives back what it was given (one in sixteen inputs: it writes a file each time).
    if (size > 0 && (data[0] & 0x0f) == 0) {
        const QHash<QByteArray, SummaryFields> entries{{QByteArray("uid-1"), fields}};
        FUZZ_CHECK(cache.save(entries) && cache.load() == entries);
    }
    return 0;
}
