// libFuzzer target over the message composer. Input: subject NUL body NUL attachment-name NUL bytes.
// Either a refusal for a control character, or a message SMTP carries unchanged (CR LF only, lines of
// at most 998 bytes) that reads back to the same subject, body (last line ended), name and bytes.
// clang-format off
#include <gmime/gmime.h>
// clang-format on

#include "charsets.h"
#include "messageComposer.h"
#include "mimeReader.h"
#include "summaryChecks.h"

#include <QFile>
#include <QTemporaryDir>

using namespace korimo;

namespace {

bool hasControl(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            return true;
    return false;
}

void checkLines(const QByteArray& bytes) {
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            FUZZ_CHECK(i + 1 < bytes.size() && bytes[i + 1] == '\n');
            FUZZ_CHECK(i - lineStart <= 998);
            lineStart = ++i + 1;
        } else {
            FUZZ_CHECK(bytes[i] != '\n');
        }
    }
    FUZZ_CHECK(lineStart == bytes.size()); // the message ends with a line end
}

// The Subject field exactly as the message holds it, decoded by the reader's rules.
QString subjectOf(const QByteArray& bytes) {
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    FUZZ_CHECK(message != nullptr);
    GMimeHeader* header =
        g_mime_header_list_get_header(g_mime_object_get_header_list(GMIME_OBJECT(message)), "Subject");
    FUZZ_CHECK(header != nullptr);
    QByteArray raw(g_mime_header_get_raw_value(header));
    g_object_unref(message);
    g_object_unref(parser);
    g_object_unref(stream);
    raw.replace("\r\n", "\n");
    FUZZ_CHECK(raw.startsWith(' ') && raw.endsWith('\n'));
    return decodeHeaderText(raw.mid(1, raw.size() - 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir folder;
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    OutgoingMessage m;
    m.from = QStringLiteral("taro@example.jp");
    m.to = {QStringLiteral("hanako@example.jp")};
    m.subject = QString::fromUtf8(parts.value(0));
    m.body = QString::fromUtf8(parts.value(1));
    const QString name = QString::fromUtf8(parts.value(2));
    const QByteArray content = parts.value(3);
    const bool attach = parts.size() > 2 && !name.isEmpty() && !name.contains(u'/') && name != u"." && name != u".." &&
                        name.toUtf8().size() <= 255;
    if (attach) {
        m.attachment = folder.path() + u'/' + name; // not QDir::filePath(): ":x" would be a resource
        QFile f(m.attachment);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size());
    }

    const ComposedMessage out = composeMessage(m);
    if (attach)
        QFile::remove(m.attachment);
    if (!out.error.isEmpty()) {
        FUZZ_CHECK(hasControl(m.subject) || (attach && hasControl(name)));
        return 0;
    }
    checkLines(out.bytes);
    FUZZ_CHECK(subjectOf(out.bytes) == m.subject);
    const MimeMessage back = readMime(out.bytes);
    const QString body = toCrLf(m.body);
    FUZZ_CHECK(back.body ==
               (body.isEmpty() || body.endsWith(QLatin1String("\r\n")) ? body : body + QLatin1String("\r\n")));
    FUZZ_CHECK(back.attachments.size() == (attach ? 1 : 0));
    if (attach)
        FUZZ_CHECK(back.attachments[0].suggestedName == name && back.attachments[0].data == content);
    return 0;
}
