// clang-format off
// GMime first: GIO has members named like Qt's keyword macros.
#include <gmime/gmime.h>
// clang-format on

#include "messageComposer.h"

#include "charsets.h"
#include "cp932.h"
#include "gmimeSupport.h"
#include "mimeReader.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

namespace korimo {
namespace {

bool hasControl(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F))
            return true;
    }
    return false;
}

// JIS X 0208 rows that ISO-2022-JP may carry: the standard rows and the NEC row 13.
bool isCarriedRow(int row) {
    return (row >= 1 && row <= 8) || row == 13 || (row >= 16 && row <= 84);
}

QByteArray streamBytes(GMimeStream* stream) {
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return arr ? QByteArray(reinterpret_cast<const char*>(arr->data), static_cast<qsizetype>(arr->len)) : QByteArray();
}

// Every line end, whatever it was, as one LF; the final CR LF pass over the whole message makes them CR LF.
QByteArray withLf(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes.at(i) == '\r') {
            if (i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
                ++i;
            out.append('\n');
        } else {
            out.append(bytes.at(i));
        }
    }
    return out;
}

QByteArray lfToCrLf(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 32);
    for (const char c : bytes) {
        if (c == '\n')
            out.append('\r');
        out.append(c);
    }
    return out;
}

bool linesFit(const QByteArray& bytes, qsizetype maxLine) {
    qsizetype run = 0;
    for (const char c : bytes) {
        run = c == '\n' ? 0 : run + 1;
        if (run > maxLine)
            return false;
    }
    return true;
}

GMimePart* textPart(const QString& body) {
    // The text is canonical with CR LF; held with LF here and turned into CR LF once at the end. Its
    // last line ends like the others, whichever encoding carries it, so it reads back the same.
    QString text = toCrLf(body);
    if (!text.isEmpty() && !text.endsWith(QLatin1String("\r\n")))
        text += QLatin1String("\r\n");
    GMimePart* part = g_mime_part_new_with_type("text", "plain");
    QByteArray content;
    GMimeContentEncoding encoding;
    const std::optional<QByteArray> jis = encodeIso2022Jp(text);
    if (jis) {
        g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "ISO-2022-JP");
        content = withLf(*jis);
        // 7bit as Japanese mail has always been sent, unless a line is too long for SMTP.
        encoding = linesFit(content, 900) ? GMIME_CONTENT_ENCODING_7BIT : GMIME_CONTENT_ENCODING_BASE64;
        if (encoding == GMIME_CONTENT_ENCODING_BASE64)
            content = *jis;
    } else {
        g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "UTF-8");
        content = text.toUtf8();
        encoding = GMIME_CONTENT_ENCODING_BASE64;
    }
    GObjectRef<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(content.constData(), static_cast<size_t>(content.size())));
    GObjectRef<GMimeDataWrapper> wrapper(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part, wrapper.get());
    g_mime_part_set_content_encoding(part, encoding);
    return part;
}

} // namespace

QString checkAddress(const QString& address) {
    if (address.contains(QLatin1Char('\r')) || address.contains(QLatin1Char('\n')) || address.contains(QChar(0)))
        return QStringLiteral("アドレスに改行またはNULが含まれています: ") + sanitizeForLine(address);
    static const QString forbidden = QStringLiteral("<>,;\"()\\[] \t");
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    bool ok = at > 0 && at < address.size() - 1 && !hasControl(address);
    for (const QChar c : address)
        ok = ok && !forbidden.contains(c) && !c.isSpace();
    return ok ? QString() : QStringLiteral("アドレスが正しくありません: ") + sanitizeForLine(address);
}

std::optional<QByteArray> encodeIso2022Jp(const QString& text) {
    const Cp932Encoded sjis = encodeCp932(text);
    if (!sjis.lossless())
        return std::nullopt;
    QByteArray out;
    out.reserve(sjis.bytes.size() * 2);
    bool kanji = false;
    const QByteArray& b = sjis.bytes;
    for (qsizetype i = 0; i < b.size(); ++i) {
        const auto c = static_cast<unsigned char>(b.at(i));
        if (c < 0x80) {
            if (c == 0x1B || c == 0x0E || c == 0x0F)
                return std::nullopt;
            if (kanji)
                out.append("\x1B(B");
            kanji = false;
            out.append(static_cast<char>(c));
            continue;
        }
        if (!isCp932LeadByte(c) || c > 0xEF || i + 1 >= b.size())
            return std::nullopt; // half-width katakana, user-defined and IBM areas
        const auto t = static_cast<unsigned char>(b.at(++i));
        const int lead = c >= 0xE0 ? c - 0x40 : c;
        const int row = (lead - 0x81) * 2 + (t >= 0x9F ? 2 : 1);
        const int cell = t >= 0x9F ? t - 0x9E : t - 0x3F - (t >= 0x80 ? 1 : 0);
        if (!isCarriedRow(row) || cell < 1 || cell > 94)
            return std::nullopt;
        if (!kanji)
            out.append("\x1B$B");
        kanji = true;
        out.append(static_cast<char>(row + 0x20));
        out.append(static_cast<char>(cell + 0x20));
    }
    if (kanji)
        out.append("\x1B(B");
    // Only what reads back as the very same text counts as fitting.
    if (decodeCharset(out, "ISO-2022-JP") != text)
        return std::nullopt;
    return out;
}

QByteArray encodeHeaderWords(const QString& text) {
    bool plain = !text.contains(QLatin1String("=?"));
    for (const QChar c : text)
        plain = plain && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    // Plain text stays readable as it is, unless it would make a line too long for SMTP.
    if (plain && text.size() <= 900)
        return text.toLatin1();
    const bool jis = encodeIso2022Jp(text).has_value();
    const QByteArray prefix = jis ? "=?ISO-2022-JP?B?" : "=?UTF-8?B?";
    const qsizetype maxRaw = jis ? 42 : 45; // keeps each encoded word within 75 characters
    QList<QByteArray> words;
    QString chunk;
    QByteArray chunkBytes;
    auto encode = [jis](const QString& s) {
        return jis ? *encodeIso2022Jp(s) : s.toUtf8();
    };
    const QList<uint> ucs = text.toUcs4();
    for (const uint u : ucs) {
        const char32_t c = u;
        const QString next = chunk + QString::fromUcs4(&c, 1);
        const QByteArray nextBytes = encode(next);
        if (nextBytes.size() > maxRaw && !chunk.isEmpty()) {
            words.append(prefix + chunkBytes.toBase64() + "?=");
            chunk = QString::fromUcs4(&c, 1);
            chunkBytes = encode(chunk);
        } else {
            chunk = next;
            chunkBytes = nextBytes;
        }
    }
    if (!chunk.isEmpty())
        words.append(prefix + chunkBytes.toBase64() + "?=");
    return words.join("\n ");
}

ComposedMessage composeMessage(const OutgoingMessage& m) {
    ComposedMessage result;
    QStringList addresses = m.to;
    addresses.append(m.from);
    for (const QString& address : std::as_const(addresses)) {
        result.error = checkAddress(address);
        if (!result.error.isEmpty())
            return result;
    }
    if (m.to.isEmpty()) {
        result.error = QStringLiteral("宛先がありません");
        return result;
    }
    if (hasControl(m.subject)) {
        result.error = QStringLiteral("件名に改行などの制御文字が含まれています");
        return result;
    }
    QByteArray attachmentData;
    QString attachmentName;
    if (!m.attachment.isEmpty()) {
        const QFileInfo info(m.attachment);
        attachmentName = info.fileName();
        if (hasControl(attachmentName) || attachmentName.isEmpty()) {
            result.error = QStringLiteral("添付ファイルの名前に改行などの制御文字が含まれています");
            return result;
        }
        QFile file(m.attachment);
        if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
            result.error = QStringLiteral("添付ファイルを読めません: ") + sanitizeForLine(m.attachment);
            result.errorKind = MailErrorKind::LocalFile;
            return result;
        }
        if (file.size() > kMaxAttachmentBytes) {
            result.error = QStringLiteral("添付ファイルが大きすぎます");
            result.errorKind = MailErrorKind::TooLarge;
            return result;
        }
        attachmentData = file.read(std::min<qint64>(file.size(), kMaxAttachmentBytes) + 1);
        if (file.error() != QFile::NoError || attachmentData.size() > kMaxAttachmentBytes) {
            result.error = QStringLiteral("添付ファイルを読めません: ") + sanitizeForLine(m.attachment);
            result.errorKind = MailErrorKind::LocalFile;
            return result;
        }
    }

    ensureGMime();
    GObjectRef<GMimeMessage> message(g_mime_message_new(TRUE));
    const QByteArray from = m.from.toUtf8();
    g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_FROM, nullptr, from.constData());
    for (const QString& to : m.to)
        g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_TO, nullptr, to.toUtf8().constData());
    g_mime_message_set_subject(message.get(), "", nullptr);
    GMimeHeader* subject =
        g_mime_header_list_get_header(g_mime_object_get_header_list(GMIME_OBJECT(message.get())), "Subject");
    const QByteArray subjectRaw = " " + encodeHeaderWords(m.subject) + "\n";
    g_mime_header_set_raw_value(subject, subjectRaw.constData());

    GDateTime* date = g_date_time_new_from_unix_local(m.date.toSecsSinceEpoch());
    g_mime_message_set_date(message.get(), date);
    g_date_time_unref(date);
    const QByteArray domain = m.from.mid(m.from.lastIndexOf(QLatin1Char('@')) + 1).toUtf8();
    char* id = g_mime_utils_generate_message_id(domain.constData());
    g_mime_message_set_message_id(message.get(), id);
    g_free(id);

    GObjectRef<GMimePart> text(textPart(m.body));
    if (m.attachment.isEmpty()) {
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
    } else {
        GObjectRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(text.get()));
        const QByteArray mimeType =
            QMimeDatabase().mimeTypeForFileNameAndData(attachmentName, attachmentData).name().toUtf8();
        const qsizetype slash = mimeType.indexOf('/');
        GObjectRef<GMimePart> file(
            slash > 0 ? g_mime_part_new_with_type(mimeType.left(slash).constData(), mimeType.mid(slash + 1).constData())
                      : g_mime_part_new_with_type("application", "octet-stream"));
        g_mime_object_set_disposition(GMIME_OBJECT(file.get()), "attachment");
        g_mime_part_set_filename(file.get(), attachmentName.toUtf8().constData());
        GObjectRef<GMimeStream> stream(
            g_mime_stream_mem_new_with_buffer(attachmentData.constData(), static_cast<size_t>(attachmentData.size())));
        GObjectRef<GMimeDataWrapper> wrapper(
            g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
        g_mime_part_set_content(file.get(), wrapper.get());
        g_mime_part_set_content_encoding(file.get(), GMIME_CONTENT_ENCODING_BASE64);
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(file.get()));
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }

    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_UNIX);
    g_mime_format_options_set_param_encoding_method(options, GMIME_PARAM_ENCODING_METHOD_RFC2231);
    GObjectRef<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), options, out.get());
    g_mime_format_options_free(options);
    // Everything above was written with LF alone; this is the one place where line ends become CR LF.
    result.bytes = lfToCrLf(streamBytes(out.get()));
    return result;
}

} // namespace korimo
