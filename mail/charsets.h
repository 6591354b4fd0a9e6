// Decoding of the text that mail carries: labelled charsets (with the Japanese labels read the way
// Japanese mail programs write them), unlabelled 8-bit text, and RFC 2047 encoded words.
//
// Japanese mail needs more than iconv's names: "shift_jis" in a label means CP932 (a literal
// Shift_JIS decoder turns '\' into '¥' and drops ①), and ISO-2022-JP mail carries the NEC row-13
// characters (①, Ⅰ, ㈱) that glibc's ISO-2022-JP rejects. Both are decoded through CP932 here.
// Nothing in this module fails: undecodable bytes become U+FFFD.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace korimo {

// bytes in the charset named by label (any letter case; "" means unlabelled, see decodeUnlabelled).
// Besides the Japanese labels, UTF-8 and US-ASCII, only UTF-16/32, ISO-8859-*, Windows-125x, KOI8-*,
// GB2312/GBK/GB18030, Big5 and EUC-KR are decoded as labelled; any other label reads as UTF-8.
QString decodeCharset(QByteArrayView bytes, QByteArrayView label);

// Text without a label: UTF-8 when it is valid UTF-8, ISO-2022-JP when it has its escapes, otherwise
// CP932 or EUC-JP, whichever decodes with fewer errors (CP932 on a tie).
QString decodeUnlabelled(QByteArrayView bytes);

// A header value as it stands in the message (unfolded or not): RFC 2047 encoded words decoded, with
// adjacent encoded words of one charset joined before decoding so a character split across two words
// survives; raw 8-bit runs decoded with decodeUnlabelled.
QString decodeHeaderText(QByteArrayView raw);

// For display in one line: NUL, CR, LF, TAB and other C0/C1 controls become a space; bidi controls
// (U+200E/F, U+202A–U+202E, U+2066–U+2069, U+061C) are removed; runs of folding white space collapse.
QString sanitizeForLine(const QString& text);

// Each escape followed by two hex digits becomes that byte ('=' in RFC 2047 Q words, '%' in RFC 2231
// parameter values); with underscoreIsSpace, '_' stands for a space (Q words). Anything else, a
// malformed escape included, is kept as it is.
QByteArray decodeHexEscapes(QByteArrayView text, char escape, bool underscoreIsSpace = false);

} // namespace korimo
