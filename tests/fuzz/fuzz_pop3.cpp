// libFuzzer target over what a POP3 server controls: the reply parser (lines, status, capabilities,
// UIDL listings, byte-stuffing) and the summary built from a message's headers. Besides the sanitizers
// it checks the promises the rest of the program relies on: a summary record never holds a control
// or bidi character and always cuts back into exactly the values it was built from.
//
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKORIMO_FUZZ=ON
//   ninja -C build-fuzz fuzz_pop3
//   build-fuzz/tests/fuzz/fuzz_pop3 -max_total_time=60 -max_len=4096 tests/fuzz/corpus/pop3
#include "pop3Protocol.h"
#include "summaryRecord.h"

#include <QString>
#include <cstdlib>

using namespace korimo;
using namespace korimo::pop3;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool clean(const QString& s) {
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x061C || u == 0x200E || u == 0x200F ||
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            return false;
    }
    return true;
}

void checkRecord(const QString& record) {
    check(clean(record));
    check(isWellFormedSummaryRecord(record));
    const SummaryFields f = splitSummaryRecord(record);
    check(buildSummaryRecord(f.subject, f.from, f.date) == record);
    check(f.subject.size() <= maxSummaryFieldLength && f.from.size() <= maxSummaryFieldLength &&
          f.date.size() <= maxSummaryFieldLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // The reply stream, fed in uneven pieces as a socket would deliver it.
    LineBuffer buffer(256);
    QList<QByteArray> body;
    QByteArray line;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype piece = qMin<qsizetype>(1 + (uchar(bytes[pos]) % 97), bytes.size() - pos);
        buffer.append(bytes.sliced(pos, piece));
        pos += piece;
        LineBuffer::Result r;
        while ((r = buffer.takeLine(&line)) == LineBuffer::Line) {
            check(line.size() <= 256 && !line.contains('\n'));
            const Reply reply = parseReply(line);
            check(reply.kind != Reply::Invalid || reply.text.isEmpty());
            isCredentialRefusal(reply);
            int n = 0;
            QByteArray uid;
            if (parseUidlLine(line, &n, &uid))
                check(n > 0 && !uid.isEmpty() && !uid.contains(' '));
            parseStat(line, &n);
            apopTimestamp(line);
            if (unstuff(&line) == BodyLine::Data)
                body.append(line);
        }
        if (r == LineBuffer::TooLong)
            break;
    }
    parseCapabilities(body);

    // The same bytes as a header block, and as a server text.
    checkRecord(summaryFromHeaders(bytes));
    parseServerText(QString::fromUtf8(bytes));

    // Any three values make a record that cuts back exactly.
    const QString text = QString::fromUtf8(bytes);
    const qsizetype third = text.size() / 3;
    checkRecord(buildSummaryRecord(text.left(third), text.mid(third, third), text.mid(2 * third)));
    return 0;
}
