// clang-format off
// GMime first: GIO has members named like Qt's keyword macros.
#include <gmime/gmime.h>
// clang-format on

#include "mimeReader.h"

#include "charsets.h"
#include "gmimeSupport.h"
#include "summaryFields.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>

namespace korimo {
namespace {

QByteArray streamBytes(GMimeStream* stream) {
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return arr ? QByteArray(reinterpret_cast<const char*>(arr->data), static_cast<qsizetype>(arr->len)) : QByteArray();
}

// The content of a leaf part with its transfer encoding undone.
QByteArray decodedContent(GMimePart* part) {
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    GObjectRef<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(wrapper, mem.get());
    return streamBytes(mem.get());
}

QByteArray messageBytes(GMimeMessage* message) {
    GObjectRef<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, mem.get());
    return streamBytes(mem.get());
}

QString headerText(GMimeObject* object, const char* name) {
    GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
    if (!raw)
        return {};
    QByteArrayView view(raw);
    view = view.first(std::min<qsizetype>(view.size(), kMaxHeaderChars));
    return sanitizeForLine(decodeHeaderText(view)).trimmed();
}

QByteArray rawHeader(GMimeObject* object, const char* name) {
    GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
    return raw ? QByteArray(raw).left(kMaxHeaderChars) : QByteArray();
}

// One parameter of a raw Content-Type or Content-Disposition value, decoded with our charsets (GMime's
// own decoding reads a shift_jis label as literal Shift_JIS): RFC 2231 (charset'language'%XX, with
// continuations), RFC 2047 words inside quotes, raw 8-bit text. Empty when absent.
QString parameterText(QByteArray raw, const QByteArray& wanted) {
    raw.replace("\r\n", "\n");
    raw.replace("\n\t", " ");
    raw.replace("\n ", " ");
    raw.replace('\n', ' ');
    QByteArray plainValue;
    bool havePlain = false;
    QMap<int, QPair<bool, QByteArray>> sections; // index -> (extended, value)
    qsizetype i = raw.indexOf(';');
    while (i >= 0 && i < raw.size()) {
        while (i < raw.size() && (raw.at(i) == ';' || raw.at(i) == ' ' || raw.at(i) == '\t'))
            ++i;
        const qsizetype eq = raw.indexOf('=', i);
        if (eq < 0)
            break;
        const QByteArray attribute = raw.mid(i, eq - i).trimmed().toLower();
        qsizetype v = eq + 1;
        while (v < raw.size() && (raw.at(v) == ' ' || raw.at(v) == '\t'))
            ++v;
        QByteArray value;
        if (v < raw.size() && raw.at(v) == '"') {
            for (++v; v < raw.size() && raw.at(v) != '"'; ++v) {
                if (raw.at(v) == '\\' && v + 1 < raw.size())
                    ++v;
                value.append(raw.at(v));
            }
            i = v + 1;
        } else {
            const qsizetype end = raw.indexOf(';', v);
            value = raw.mid(v, end < 0 ? -1 : end - v).trimmed();
            i = end < 0 ? raw.size() : end;
        }
        if (attribute == wanted) {
            plainValue = value;
            havePlain = true;
        } else if (attribute.startsWith(wanted + '*')) {
            QByteArray rest = attribute.mid(wanted.size() + 1);
            const bool extended = rest.isEmpty() || rest.endsWith('*');
            if (rest.endsWith('*'))
                rest.chop(1);
            bool ok = rest.isEmpty();
            const int index = rest.isEmpty() ? 0 : rest.toInt(&ok);
            if (ok && index >= 0 && index < 1000 && !sections.contains(index))
                sections.insert(index, {extended, value});
        }
    }
    if (!sections.isEmpty()) {
        QByteArray charset;
        QByteArray bytes;
        for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
            QByteArray part = it.value().second;
            if (it.value().first) {
                if (it == sections.cbegin()) {
                    const qsizetype q1 = part.indexOf('\'');
                    const qsizetype q2 = q1 < 0 ? -1 : part.indexOf('\'', q1 + 1);
                    if (q2 >= 0) {
                        charset = part.left(q1);
                        part = part.mid(q2 + 1);
                    }
                }
                part = decodeHexEscapes(part, '%');
            }
            bytes += part;
        }
        return charset.isEmpty() ? decodeHeaderText(bytes) : decodeCharset(bytes, charset);
    }
    return havePlain ? decodeHeaderText(plainValue) : QString();
}

// The name a part suggests for itself: the disposition's filename, else the content type's name.
QString suggestedName(GMimeObject* object) {
    QString name = parameterText(rawHeader(object, "Content-Disposition"), "filename");
    if (name.isEmpty())
        name = parameterText(rawHeader(object, "Content-Type"), "name");
    return name;
}

QString mimeTypeOf(GMimeObject* object) {
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (!type)
        return QStringLiteral("application/octet-stream");
    char* mime = g_mime_content_type_get_mime_type(type);
    const QString result = QString::fromUtf8(mime).toLower();
    g_free(mime);
    return result;
}

// HTML without a charset label may name it in a <meta> element.
QByteArray htmlMetaCharset(const QByteArray& html) {
    static const QRegularExpression meta(QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = meta.match(QString::fromLatin1(html.left(4096)));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

class Walker {
public:
    MimeMessage& out;
    QString plainBody;
    QString htmlBody;
    bool havePlain = false;
    bool haveHtml = false;
    int visited = 0;

    explicit Walker(MimeMessage& m) : out(m) {}

    void addAttachment(QString name, QString mimeType, QByteArray data) {
        if (out.attachments.size() >= kMaxAttachments) {
            out.partsOmitted = true;
            return;
        }
        out.attachments.append({std::move(name), std::move(mimeType), std::move(data)});
    }

    void walk(GMimeObject* object, int depth) {
        if (!object)
            return;
        if (++visited > kMaxDelimiterLines * 2 || depth > kMaxDepth) {
            out.partsOmitted = true;
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i)
                walk(g_mime_multipart_get_part(multipart, i), depth + 1);
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            // A forwarded message is kept whole, as a file of its own.
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            addAttachment(suggestedName(object), QStringLiteral("message/rfc822"),
                          inner ? messageBytes(inner) : QByteArray());
            return;
        }
        if (!GMIME_IS_PART(object))
            return;
        GMimePart* part = GMIME_PART(object);
        GMimeContentType* type = g_mime_object_get_content_type(object);
        GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
        const char* filename = g_mime_part_get_filename(part);
        const bool isAttachment =
            (disposition && g_mime_content_disposition_is_attachment(disposition)) || (filename && *filename);
        const bool isPlain = type && g_mime_content_type_is_type(type, "text", "plain");
        const bool isHtml = type && g_mime_content_type_is_type(type, "text", "html");
        if (!isAttachment && (isPlain || isHtml)) {
            if ((isPlain && havePlain) || (isHtml && haveHtml))
                return; // later alternatives of a text already taken
            QByteArray bytes = decodedContent(part);
            QByteArray charset(g_mime_object_get_content_type_parameter(object, "charset"));
            if (isPlain) {
                plainBody = decodeCharset(bytes, charset);
                havePlain = true;
            } else {
                if (charset.isEmpty())
                    charset = htmlMetaCharset(bytes);
                htmlBody = htmlToText(decodeCharset(bytes, charset));
                haveHtml = true;
            }
            return;
        }
        if (!isAttachment && type && g_mime_content_type_is_type(type, "text", "*"))
            return; // other inline text (an enriched alternative, a calendar fragment) is not a file
        addAttachment(suggestedName(object), mimeTypeOf(object), decodedContent(part));
    }
};

bool isBoundaryChar(unsigned char c) {
    // RFC 2046 bcharsnospace plus the blank.
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           std::strchr("'()+_,-./:=? ", c) != nullptr;
}

// Disables every boundary parameter in one Content-Type header span [begin, end) that is not plain ASCII.
void defuseBoundaryParameters(char* begin, char* end) {
    static constexpr char kName[] = "boundary";
    const qsizetype nameLen = sizeof kName - 1;
    for (char* p = begin; end - p > nameLen; ++p) {
        if (qstrnicmp(p, kName, nameLen) != 0)
            continue;
        char* v = p + nameLen;
        while (v < end && (*v == ' ' || *v == '\t'))
            ++v;
        bool bad = false;
        if (v < end && *v == '*') {
            bad = true; // RFC 2231 form: the boundary would be a decoded, possibly non-ASCII text
        } else if (v < end && *v == '=') {
            ++v;
            while (v < end && (*v == ' ' || *v == '\t'))
                ++v;
            if (v < end && *v == '"') {
                for (++v; v < end && *v != '"' && !bad; ++v)
                    bad = !isBoundaryChar(static_cast<unsigned char>(*v));
            } else {
                for (; v < end && *v != ';' && *v != '\r' && *v != '\n' && *v != ' ' && !bad; ++v)
                    bad = !isBoundaryChar(static_cast<unsigned char>(*v));
            }
        }
        if (bad)
            *p = 'x';
        p += nameLen - 1;
    }
}

// CR LF, lone CR and lone LF as one line end each.
QString normaliseLineEnds(const QString& text, const QString& lineEnd) {
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out.append(lineEnd);
        } else if (c == QLatin1Char('\n')) {
            out.append(lineEnd);
        } else if (c == QChar(0)) {
            out.append(QLatin1Char(' '));
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

QString toCrLf(const QString& text) {
    return normaliseLineEnds(text, QStringLiteral("\r\n"));
}

bool prepareForParser(QByteArray& raw) {
    int delimiters = 0;
    char* data = raw.data();
    const qsizetype size = raw.size();
    qsizetype line = 0;
    while (line < size) {
        const char* nl = static_cast<const char*>(std::memchr(data + line, '\n', static_cast<size_t>(size - line)));
        qsizetype next = nl ? (nl - data) + 1 : size;
        if (size - line >= 2 && data[line] == '-' && data[line + 1] == '-' && ++delimiters > kMaxDelimiterLines) {
            raw.truncate(line);
            return true;
        }
        if (size - line >= 13 && qstrnicmp(data + line, "content-type:", 13) == 0) {
            // The header and its continuation lines.
            while (next < size && (data[next] == ' ' || data[next] == '\t')) {
                const char* more =
                    static_cast<const char*>(std::memchr(data + next, '\n', static_cast<size_t>(size - next)));
                next = more ? (more - data) + 1 : size;
            }
            defuseBoundaryParameters(data + line, data + next);
        }
        line = next;
    }
    return false;
}

QString htmlToText(const QString& html) {
    static const QHash<QString, QString> entities = {
        {QStringLiteral("amp"), QStringLiteral("&")},   {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},    {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},  {QStringLiteral("nbsp"), QStringLiteral(" ")},
        {QStringLiteral("copy"), QStringLiteral("©")},  {QStringLiteral("reg"), QStringLiteral("®")},
        {QStringLiteral("yen"), QStringLiteral("¥")},   {QStringLiteral("hellip"), QStringLiteral("…")},
        {QStringLiteral("mdash"), QStringLiteral("—")}, {QStringLiteral("ndash"), QStringLiteral("–")},
    };
    static const QStringList blockTags = {
        QStringLiteral("p"),  QStringLiteral("div"), QStringLiteral("tr"),         QStringLiteral("li"),
        QStringLiteral("h1"), QStringLiteral("h2"),  QStringLiteral("h3"),         QStringLiteral("h4"),
        QStringLiteral("h5"), QStringLiteral("h6"),  QStringLiteral("table"),      QStringLiteral("ul"),
        QStringLiteral("ol"), QStringLiteral("pre"), QStringLiteral("blockquote"), QStringLiteral("hr"),
    };
    static const QStringList skippedTags = {QStringLiteral("script"), QStringLiteral("style"), QStringLiteral("head"),
                                            QStringLiteral("title")};
    QString out;
    out.reserve(html.size());
    bool inPre = false;
    bool pendingSpace = false;
    auto newline = [&] {
        while (out.endsWith(QLatin1Char(' ')))
            out.chop(1);
        out.append(QLatin1Char('\n'));
        pendingSpace = false;
    };
    const qsizetype n = html.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = html.at(i);
        if (c == QLatin1Char('<')) {
            if (html.mid(i, 4) == QLatin1String("<!--")) {
                const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
                i = end < 0 ? n : end + 3;
                continue;
            }
            const qsizetype end = html.indexOf(QLatin1Char('>'), i + 1);
            if (end < 0)
                break;
            QString tag = html.mid(i + 1, end - i - 1).trimmed();
            i = end + 1;
            const bool closing = tag.startsWith(QLatin1Char('/'));
            if (closing)
                tag.remove(0, 1);
            qsizetype nameEnd = 0;
            while (nameEnd < tag.size() && tag.at(nameEnd).isLetterOrNumber())
                ++nameEnd;
            const QString name = tag.left(nameEnd).toLower();
            if (!closing && skippedTags.contains(name)) {
                const qsizetype close = html.indexOf(QStringLiteral("</") + name, i, Qt::CaseInsensitive);
                i = close < 0 ? n : close;
                continue;
            }
            if (name == QLatin1String("br")) {
                newline();
            } else if (blockTags.contains(name)) {
                if (!out.isEmpty() && !out.endsWith(QLatin1Char('\n')))
                    newline();
                if (name == QLatin1String("pre"))
                    inPre = !closing;
            } else if (name == QLatin1String("td") || name == QLatin1String("th")) {
                pendingSpace = !out.isEmpty() && !out.endsWith(QLatin1Char('\n'));
            }
            continue;
        }
        if (c == QLatin1Char('&')) {
            const qsizetype semi = html.indexOf(QLatin1Char(';'), i + 1);
            if (semi > i + 1 && semi - i <= 10) {
                const QString entity = html.mid(i + 1, semi - i - 1);
                QString text;
                if (entity.startsWith(QLatin1Char('#'))) {
                    bool ok = false;
                    const uint code = entity.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)
                                          ? entity.mid(2).toUInt(&ok, 16)
                                          : entity.mid(1).toUInt(&ok, 10);
                    if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                        const char32_t u = code;
                        text = QString::fromUcs4(&u, 1);
                    }
                } else {
                    text = entities.value(entity.toLower());
                }
                if (!text.isEmpty()) {
                    if (pendingSpace)
                        out.append(QLatin1Char(' '));
                    pendingSpace = false;
                    out.append(text);
                    i = semi + 1;
                    continue;
                }
            }
        }
        if (!inPre && c.isSpace()) {
            pendingSpace = !out.isEmpty() && !out.endsWith(QLatin1Char('\n'));
            ++i;
            continue;
        }
        if (pendingSpace)
            out.append(QLatin1Char(' '));
        pendingSpace = false;
        out.append(c);
        ++i;
    }
    // No more than one empty line in a row, none at the ends.
    static const QRegularExpression manyBlankLines(QStringLiteral("\n[ \t]*\n(?:[ \t]*\n)+"));
    out.replace(manyBlankLines, QStringLiteral("\n\n"));
    while (out.startsWith(QLatin1Char('\n')))
        out.remove(0, 1);
    while (out.endsWith(QLatin1Char('\n')) || out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out;
}

QString extensionForMimeType(const QString& mimeType) {
    static const QHash<QString, QString> known = {
        {QStringLiteral("text/plain"), QStringLiteral(".txt")},
        {QStringLiteral("text/html"), QStringLiteral(".html")},
        {QStringLiteral("text/csv"), QStringLiteral(".csv")},
        {QStringLiteral("image/jpeg"), QStringLiteral(".jpg")},
        {QStringLiteral("image/png"), QStringLiteral(".png")},
        {QStringLiteral("image/gif"), QStringLiteral(".gif")},
        {QStringLiteral("application/pdf"), QStringLiteral(".pdf")},
        {QStringLiteral("application/zip"), QStringLiteral(".zip")},
        {QStringLiteral("message/rfc822"), QStringLiteral(".eml")},
    };
    return known.value(mimeType.toLower());
}

MimeMessage readMime(const QByteArray& input) {
    ensureGMime();
    MimeMessage result;
    QByteArray raw = input.left(kMaxMessageBytes);
    result.partsOmitted = input.size() > kMaxMessageBytes;
    if (prepareForParser(raw))
        result.partsOmitted = true;

    GMimeParserOptions* options = g_mime_parser_options_new();
    g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    const char* fallback[] = {"UTF-8", "CP932", "EUC-JP", nullptr};
    g_mime_parser_options_set_fallback_charsets(options, fallback);

    // The parser reads from a copy it owns; raw stays alive for the whole parse anyway.
    GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.constData(), static_cast<size_t>(raw.size())));
    GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    GObjectRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
    g_mime_parser_options_free(options);

    if (!message) {
        // Not a message at all: show what there is as text.
        result.body = toCrLf(decodeUnlabelled(raw));
        return result;
    }
    GMimeObject* top = GMIME_OBJECT(message.get());
    result.subject = headerText(top, "Subject");
    result.from = sanitizeForLine(senderText(rawHeader(top, "From"))).trimmed();
    result.date = headerText(top, "Date");

    Walker walker(result);
    walker.walk(g_mime_message_get_mime_part(message.get()), 0);
    result.body = toCrLf(walker.havePlain ? walker.plainBody : walker.htmlBody);
    return result;
}

} // namespace korimo
