// libFuzzer target over the header-only summary path: the reply to "TOP n 0" as a server sends it, cut
// into lines and unstuffed as the client does, kept up to the client's header limit, made into a
// summary record, kept in the UIDL cache and read back, and cut by the list. Every record must hold
// exactly the subject, sender and date its header block decodes to, whatever the block holds.
#include "charsets.h"
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
    QByteArray headers, line;
    while (buffer.takeLine(&line) == pop3::LineBuffer::Line && pop3::unstuff(&line) == pop3::BodyLine::Data) {
        if (headers.size() + line.size() + 2 > 256 * 1024)
            break;
        headers.append(line);
        headers.append("\r\n");
    }

    const QString record = summaryFromHeaders(headers);
    fuzzcheck::checkRecord(record, summaryFields(decodeHeaderText(headerValue(headers, "Subject")),
                                                 senderText(headerValue(headers, "From")),
                                                 decodeHeaderText(headerValue(headers, "Date"))));

    // The cache gives back what it was given (one in sixteen inputs: it writes a file each time).
    if (size > 0 && (data[0] & 0x0f) == 0) {
        const QHash<QByteArray, QString> records{{QByteArray("uid-1"), record}};
        FUZZ_CHECK(cache.save(records) && cache.load() == records);
    }
    return 0;
}
