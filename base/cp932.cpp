#include "cp932.h"

#include "iconvHandle.h"

#include <cerrno>
#include <iconv.h>

namespace korimo {
namespace {

// Converts one chunk; returns false when iconv refused it (nothing appended then).
bool convertChunk(const IconvHandle& cv, const char* in, size_t inLen, QByteArray& out) {
    char buf[64];
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = inLen;
    QByteArray piece;
    iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        const size_t rc = iconv(cv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        piece.append(buf, static_cast<qsizetype>(sizeof buf - outLeft));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG)
            return false;
    }
    out.append(piece);
    return true;
}

} // namespace

Cp932Encoded encodeCp932(const QString& text) {
    Cp932Encoded result;
    const IconvHandle cv("CP932", "UTF-8");
    result.bytes.reserve(text.size() * 2);
    // Code point by code point, so an unencodable character costs one '?' and nothing else.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString ch = text.mid(i, len);
        i += len;
        const char16_t u = ch.at(0).unicode();
        if (len == 1 && u < 0x80) {
            result.bytes.append(static_cast<char>(u));
            continue;
        }
        const QByteArray utf8 = ch.toUtf8();
        if (!cv.valid() || !convertChunk(cv, utf8.constData(), static_cast<size_t>(utf8.size()), result.bytes)) {
            result.bytes.append('?');
            result.unencodable.append(ch);
        }
    }
    return result;
}

QByteArray toCp932(const QString& text) {
    return encodeCp932(text).bytes;
}

QString fromCp932(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    const IconvHandle cv("UTF-8", "CP932");
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    QByteArray utf8;
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.append(QChar(char16_t(b)));
            ++i;
            continue;
        }
        const qsizetype len = (isCp932LeadByte(b) && i + 1 < n) ? 2 : 1;
        utf8.clear();
        if (cv.valid() && convertChunk(cv, bytes.constData() + i, static_cast<size_t>(len), utf8) && !utf8.isEmpty()) {
            out.append(QString::fromUtf8(utf8));
            i += len;
        } else {
            out.append(QChar(0xFFFD));
            ++i;
        }
    }
    return out;
}

QByteArray truncateCp932(const QByteArray& bytes, qsizetype maxBytes) {
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype i = 0;
    while (i < maxBytes) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        const qsizetype len = isCp932LeadByte(b) ? 2 : 1;
        if (i + len > maxBytes)
            break;
        i += len;
    }
    return bytes.left(i);
}

} // namespace korimo
