// Conversion between the program's Unicode text and CP932 (Windows-31J), the encoding of the settings
// file and of saved message bodies. glibc's "CP932" keeps '\' and '~' as ASCII and holds the NEC
// row-13 characters (①②③④); its "SHIFT_JIS" does not, so that name is never used here.
#pragma once

#include <QByteArray>
#include <QString>

namespace korimo {

struct Cp932Encoded {
    QByteArray bytes;
    // Characters that CP932 cannot hold (emoji, 𠮷, ...), in order of appearance. Each was written as '?'.
    QString unencodable;
    bool lossless() const { return unencodable.isEmpty(); }
};

Cp932Encoded encodeCp932(const QString& text);
QByteArray toCp932(const QString& text);

// Bytes that are not valid CP932 decode as U+FFFD, one per bad byte; decoding never fails.
QString fromCp932(const QByteArray& bytes);

// True when the byte opens a double-byte CP932 character.
constexpr bool isCp932LeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The longest prefix of bytes no longer than maxBytes that does not end inside a double-byte character.
QByteArray truncateCp932(const QByteArray& bytes, qsizetype maxBytes);

} // namespace korimo
