// libFuzzer target over what a POP3 server controls: the reply parser (lines, status, capabilities,
// UIDL listings, byte-stuffing) and the summary built from a message's headers. Besides the sanitizers
// it checks the promises the rest of the program relies on: the summary fields a hostile header gives
// are bounded and hold no control or bidi character.
//
//   scripts/fuzz.sh 60 pop3      (configures build-fuzz with clang and -DKORIMO_FUZZ=ON)
#include "charsets.h"
#include "pop3Protocol.h"
#include "summaryChecks.h"

#include <QString>

using namespace korimo;
using namespace korimo::pop3;

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
            FUZZ_CHECK(line.size() <= 256 && !line.contains('\n'));
            const Reply reply = parseReply(line);
            FUZZ_CHECK(reply.kind != Reply::Invalid || reply.text.isEmpty());
            isCredentialRefusal(reply);
            int n = 0;
            QByteArray uid;
            if (parseUidlLine(line, &n, &uid))
                FUZZ_CHECK(n > 0 && !uid.isEmpty() && !uid.contains(' '));
            parseStat(line, &n);
            apopTimestamp(line);
            if (unstuff(&line) == BodyLine::Data)
                body.append(line);
        }
        if (r == LineBuffer::TooLong)
            break;
    }
    parseCapabilities(body);

    // The same bytes as a header block, as three values to clean, and as a server text.
    fuzzcheck::checkFields(summaryFromHeaders(bytes));
    const QString text = QString::fromUtf8(bytes);
    const qsizetype third = text.size() / 3;
    fuzzcheck::checkFields(summaryFields(text.left(third), text.mid(third, third), text.mid(2 * third)));
    parseServerText(text);
    return 0;
}
