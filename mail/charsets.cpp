#include "charsets.h"

#include "cp932.h"
#include "iconvHandle.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <optional>

namespace korimo {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

struct Decoded {
    QString text;
    int errors = 0;
    bool converted = true; // false: iconv does not know the charset (text is then the bytes as Latin-1)
};

// Converters kept per thread (thread_local IconvHandle) are opened at their first use: opening one
// costs more than converting a whole header with it.

// Decodes with iconv; each byte iconv refuses becomes U+FFFD and counts as an error.
Decoded iconvDecode(QByteArrayView bytes, const char* charset) {
    Decoded out;
    // EUC-JP is tried on every unlabelled 8-bit text: its converter is kept.
    static thread_local const IconvHandle eucJp("UTF-8", "EUC-JP-MS");
    std::optional<IconvHandle> own;
    if (qstrcmp(charset, "EUC-JP-MS") != 0 || !eucJp.valid())
        own.emplace("UTF-8", charset);
    const IconvHandle& cv = own ? *own : eucJp;
    if (!cv.valid()) {
        out.text = QString::fromLatin1(bytes.data(), bytes.size());
        out.errors = int(bytes.size());
        out.converted = false;
        return out;
    }
    iconv_t cd = cv.get();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray utf8;
    utf8.reserve(bytes.size() * 2);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    char buf[512];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t rc = iconv(cd, &in, &inLeft, &o, &oLeft);
        utf8.append(buf, qsizetype(sizeof buf - oLeft));
        if (rc != size_t(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (cut short at the end): one replacement, skip one byte, start afresh.
        utf8.append("\xEF\xBF\xBD");
        ++out.errors;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.text = QString::fromUtf8(utf8);
    return out;
}

// CP932 as fromCp932() decodes it (ASCII as it stands, one U+FFFD for each byte that does not start a
// valid character), in one pass over the text instead of one conversion per character.
Decoded cp932Decode(QByteArrayView bytes) {
    static thread_local const IconvHandle cv("UTF-8", "CP932");
    if (!cv.valid()) {
        Decoded out{fromCp932(bytes.toByteArray()), 0};
        out.errors = int(out.text.count(QChar(kReplacement)));
        return out;
    }
    Decoded out;
    QByteArray utf8(bytes.size() * 3 + 3, Qt::Uninitialized); // at most 3 UTF-8 bytes per CP932 byte
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    char* o = utf8.data();
    size_t oLeft = size_t(utf8.size());
    iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        if (iconv(cv.get(), &in, &inLeft, &o, &oLeft) != size_t(-1))
            break;
        // EILSEQ, or EINVAL for a lead byte cut off at the end: one replacement, and on from the next byte.
        *o++ = char(0xEF);
        *o++ = char(0xBF);
        *o++ = char(0xBD);
        oLeft -= 3;
        ++out.errors;
        ++in;
        --inLeft;
        iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    }
    out.text = QString::fromUtf8(utf8.constData(), o - utf8.constData());
    return out;
}

// ISO-2022-JP and its common extensions, through CP932 so the NEC and IBM extension rows decode.
// A line end returns to ASCII, as a correct message would have done anyway.
Decoded iso2022jpDecode(QByteArrayView bytes) {
    enum class Set { Ascii, Jis0208, Katakana, Jis0212 };
    Decoded out;
    QByteArray sjis; // pending double-byte run, converted to Shift_JIS
    const auto flush = [&] {
        if (sjis.isEmpty())
            return;
        const Decoded d = cp932Decode(sjis);
        out.text += d.text;
        out.errors += d.errors;
        sjis.clear();
    };
    Set set = Set::Ascii;
    bool shiftOut = false; // SO/SI half-width katakana
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == 0x1B) {
            const QByteArrayView rest = bytes.sliced(i + 1);
            struct Escape {
                const char* seq;
                Set set;
            };
            static constexpr Escape escapes[] = {
                {"(B", Set::Ascii},    {"(J", Set::Ascii},    {"$@", Set::Jis0208},
                {"$B", Set::Jis0208},  {"$(B", Set::Jis0208}, {"(I", Set::Katakana},
                {"$(D", Set::Jis0212}, {"$(Q", Set::Jis0208}, {"$(O", Set::Jis0208},
            };
            bool matched = false;
            for (const Escape& e : escapes) {
                const QByteArrayView seq(e.seq);
                if (rest.startsWith(seq)) {
                    flush();
                    set = e.set;
                    i += seq.size();
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                flush();
                out.text += QChar(kReplacement);
                ++out.errors;
            }
            continue;
        }
        if (b == 0x0E || b == 0x0F) {
            flush();
            shiftOut = b == 0x0E;
            continue;
        }
        if (b == '\r' || b == '\n') {
            flush();
            set = Set::Ascii;
            shiftOut = false;
            out.text += QChar(char16_t(b));
            continue;
        }
        if (b >= 0x80) {
            flush();
            out.text += QChar(kReplacement);
            ++out.errors;
            continue;
        }
        if ((set == Set::Katakana || shiftOut) && b >= 0x21 && b <= 0x5F) {
            flush();
            out.text += QChar(char16_t(0xFF61 + (b - 0x21)));
            continue;
        }
        if ((set == Set::Jis0208 || set == Set::Jis0212) && b >= 0x21 && b <= 0x7E) {
            if (i + 1 >= n || static_cast<unsigned char>(bytes[i + 1]) < 0x21 ||
                static_cast<unsigned char>(bytes[i + 1]) > 0x7E) {
                flush();
                out.text += QChar(kReplacement);
                ++out.errors;
                continue;
            }
            const unsigned j1 = b;
            const unsigned j2 = static_cast<unsigned char>(bytes[++i]);
            if (set == Set::Jis0212) {
                flush();
                const char euc[] = {char(0x8F), char(j1 | 0x80), char(j2 | 0x80)};
                const Decoded d = iconvDecode(QByteArrayView(euc, 3), "EUC-JP");
                out.text += d.text;
                out.errors += d.errors;
                continue;
            }
            const unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
            const unsigned s2 = j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E);
            sjis.append(char(s1));
            sjis.append(char(s2));
            continue;
        }
        flush();
        out.text += QChar(char16_t(b));
    }
    flush();
    return out;
}

bool isAscii(QByteArrayView bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool hasIso2022Escape(QByteArrayView bytes) {
    return bytes.contains(QByteArrayView("\x1B$B")) || bytes.contains(QByteArrayView("\x1B$@")) ||
           bytes.contains(QByteArrayView("\x1B(I")) || bytes.contains(QByteArrayView("\x1B(J"));
}

std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = dec(bytes);
    if (dec.hasError())
        return std::nullopt;
    return s;
}

int halfWidthKatakana(const QString& s) {
    int n = 0;
    for (const QChar c : s)
        if (c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F)
            ++n;
    return n;
}

QByteArray normalisedLabel(QByteArrayView label) {
    QByteArray l = label.toByteArray().trimmed().toLower();
    if (const qsizetype star = l.indexOf('*'); star >= 0) // RFC 2231 language suffix
        l.truncate(star);
    if (l.size() >= 2 && l.startsWith('"') && l.endsWith('"'))
        l = l.mid(1, l.size() - 2);
    return l;
}

// Whether a (normalised) label names a charset we let iconv decode: the converters mail really needs,
// rather than every one the C library has (some of which have aborted on hostile input).
bool isAllowedForIconv(const QByteArray& l) {
    static const QRegularExpression allowed(QStringLiteral(
        "^(utf-?(16|32)(le|be)?|iso[-_]?8859-([1-9]|1[0-6])|(windows-|cp)125[0-8]|koi8-[a-z]{1,2}|gb(2312|k|18030)|"
        "big5(-hkscs)?|euc-kr)$"));
    return allowed.match(QString::fromLatin1(l)).hasMatch();
}

struct EncodedWord {
    qsizetype begin = -1, end = -1; // [begin, end) in the raw text
    QByteArray charset;
    QByteArray bytes;
};

// The next well-formed encoded word at or after from.
EncodedWord findEncodedWord(QByteArrayView raw, qsizetype from) {
    for (qsizetype start = raw.indexOf(QByteArrayView("=?"), from); start >= 0;
         start = raw.indexOf(QByteArrayView("=?"), start + 2)) {
        const qsizetype q1 = raw.indexOf('?', start + 2);
        if (q1 < 0)
            return {};
        if (q1 + 2 >= raw.size() || raw[q1 + 2] != '?')
            continue;
        const char enc = raw[q1 + 1];
        if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q')
            continue;
        const qsizetype close = raw.indexOf(QByteArrayView("?="), q1 + 3);
        if (close < 0)
            return {};
        const QByteArrayView charset = raw.sliced(start + 2, q1 - start - 2);
        const QByteArrayView text = raw.sliced(q1 + 3, close - q1 - 3);
        if (charset.isEmpty() || charset.contains(' ') || text.contains(' '))
            continue;
        EncodedWord w;
        w.begin = start;
        w.end = close + 2;
        w.charset = normalisedLabel(charset);
        w.bytes =
            (enc == 'B' || enc == 'b') ? QByteArray::fromBase64(text.toByteArray()) : decodeHexEscapes(text, '=', true);
        return w;
    }
    return {};
}

bool onlyWhitespace(QByteArrayView v) {
    for (const char c : v)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    return true;
}

QByteArray unfold(QByteArrayView v) {
    QByteArray out;
    out.reserve(v.size());
    for (const char c : v)
        if (c != '\r' && c != '\n')
            out.append(c);
    return out;
}

} // namespace

QByteArray decodeHexEscapes(QByteArrayView text, char escape, bool underscoreIsSpace) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_' && underscoreIsSpace) {
            out.append(' ');
        } else if (c == escape && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out.append(char(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

QString decodeCharset(QByteArrayView bytes, QByteArrayView label) {
    const QByteArray l = normalisedLabel(label);
    if (l.isEmpty())
        return decodeUnlabelled(bytes);
    if (l.startsWith("iso-2022-jp") || l == "csiso2022jp" || l == "jis")
        return iso2022jpDecode(bytes).text;
    if (l == "shift_jis" || l == "shift-jis" || l == "sjis" || l == "x-sjis" || l == "ms_kanji" || l == "csshiftjis" ||
        l == "cp932" || l == "windows-31j" || l == "ms932" || l == "x-ms-cp932" || l == "shift_jisx0213")
        return cp932Decode(bytes).text;
    if (l == "euc-jp" || l == "x-euc-jp" || l == "eucjp" || l == "euc-jp-ms" || l == "cseucpkdfmtjapanese")
        return iconvDecode(bytes, "EUC-JP-MS").text;
    if (l == "utf-8" || l == "utf8")
        return QString::fromUtf8(bytes);
    if (l == "us-ascii" || l == "ascii" || l == "ansi_x3.4-1968")
        return isAscii(bytes) ? QString::fromLatin1(bytes.data(), bytes.size()) : decodeUnlabelled(bytes);
    if (l == "iso-8859-1" || l == "latin1" || l == "l1")
        return QString::fromLatin1(bytes.data(), bytes.size());
    if (!isAllowedForIconv(l))
        return QString::fromUtf8(bytes);
    const Decoded d = iconvDecode(bytes, l.constData());
    return d.converted ? d.text : decodeUnlabelled(bytes);
}

QString decodeUnlabelled(QByteArrayView bytes) {
    if (hasIso2022Escape(bytes))
        return iso2022jpDecode(bytes).text;
    if (isAscii(bytes))
        return QString::fromLatin1(bytes.data(), bytes.size());
    if (auto utf8 = strictUtf8(bytes))
        return *utf8;
    const Decoded sjis = cp932Decode(bytes);
    const Decoded euc = iconvDecode(bytes, "EUC-JP-MS");
    // Half-width katakana are rare in real text but are what EUC-JP looks like when read as CP932.
    const int sjisScore = sjis.errors * 10 + halfWidthKatakana(sjis.text);
    const int eucScore = euc.errors * 10 + halfWidthKatakana(euc.text);
    return eucScore < sjisScore ? euc.text : sjis.text;
}

QString decodeHeaderText(QByteArrayView raw) {
    // Printable ASCII on one line without an encoded word (most Date fields): nothing to decode.
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0x20 && c < 0x7F; }) && !raw.contains("=?"))
        return QString::fromLatin1(raw.data(), raw.size());
    QString out;
    qsizetype pos = 0;
    QByteArray pendingCharset; // encoded words of one charset, joined before decoding
    QByteArray pendingBytes;
    const auto flush = [&] {
        if (!pendingCharset.isEmpty())
            out += decodeCharset(pendingBytes, pendingCharset);
        pendingCharset.clear();
        pendingBytes.clear();
    };
    while (pos < raw.size()) {
        const EncodedWord w = findEncodedWord(raw, pos);
        const qsizetype plainEnd = w.begin < 0 ? raw.size() : w.begin;
        const QByteArrayView between = raw.sliced(pos, plainEnd - pos);
        // White space between two encoded words is not part of the text.
        const bool joinable = !pendingCharset.isEmpty() && w.begin >= 0 && onlyWhitespace(between);
        if (!joinable) {
            flush();
            out += decodeUnlabelled(unfold(between));
        }
        if (w.begin < 0)
            break;
        if (!pendingCharset.isEmpty() && pendingCharset != w.charset)
            flush();
        pendingCharset = w.charset;
        pendingBytes += w.bytes;
        pos = w.end;
    }
    flush();
    return out;
}

QString sanitizeForLine(const QString& text) {
    // One pass into a buffer of the input's size: controls become a space, bidi controls go, and a
    // space is written only when something other than a space follows it.
    QString out(text.size(), Qt::Uninitialized);
    QChar* const begin = out.data();
    QChar* o = begin;
    bool pendingSpace = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || u == u' ') {
            pendingSpace = o != begin;
            continue;
        }
        if (u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x061C)
            continue;
        if (pendingSpace)
            *o++ = QLatin1Char(' ');
        pendingSpace = false;
        *o++ = c;
    }
    out.truncate(o - begin);
    return out;
}

} // namespace korimo
