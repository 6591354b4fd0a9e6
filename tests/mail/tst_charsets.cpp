// Decoding of Japanese mail text: labelled charsets (label given), unlabelled 8-bit text (label "?"),
// header text with RFC 2047 words (label "header").
#include "charsets.h"

#include <QTest>

using namespace korimo;

class TestCharsets : public QObject {
    Q_OBJECT
private slots:
    void decode_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("label");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& b, const char* label, const QString& e) {
            QTest::newRow(name) << b << QByteArray(label) << e;
        };
        row("iso-2022-jp, NEC row 13", "\x1B$B$3-!\x1B(B No.", "ISO-2022-JP", "こ① No.");
        row("iso-2022-jp half-width katakana", "\x1B(I:X\x1B(B", "iso-2022-jp", "ｺﾘ");
        row("iso-2022-jp unterminated at line end", "\x1B$B$\"\nabc", "iso-2022-jp", "あ\nabc");
        row("iso-2022-jp truncated double byte", "\x1B$B$", "iso-2022-jp", "\uFFFD");
        row("shift_jis means cp932", "\x95\x5C\x5C~\x87\x40", "Shift_JIS", "表\\~①");
        row("quoted label with language", "\xE6\x97\xA5", "\"UTF-8*ja\"", "日");
        row("us-ascii label on 8-bit text", "\x95\x5C", "us-ascii", "表");
        row("iso-2022-jp-3 uses our decoder", "\x1B$(Q-!\x1B(B", "ISO-2022-JP-3", "①");
        row("utf-7 is off the list", "+ZeVnLA-", "utf-7", "+ZeVnLA-");
        row("unlabelled cp932", "\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67", "?", "表示テスト");
        row("unlabelled euc-jp, also valid cp932", "\xA4\xA2\xA4\xA4", "?", "あい");
        row("unlabelled iso-2022-jp", "\x1B$B$3$s\x1B(B", "?", "こん");
        row("word split inside a character",
            "=?ISO-2022-JP?B?GyRCJA==?=\r\n =?ISO-2022-JP?B?MyRzJEskQSRPGyhC?=", "header", "こんにちは");
        row("utf-8 split inside a character", "=?UTF-8?B?5pc=?= =?utf-8?B?peacrA==?=", "header", "日本");
        row("words glued to text", "Re:=?UTF-8?B?5pel?= x", "header", "Re:日 x");
        row("q encoding", "=?iso-8859-1?Q?caf=E9_au_lait?=", "header", "café au lait");
        row("shift_jis word is cp932", "=?shift_jis?B?h0CVXA==?=", "header", "①表");
        row("raw cp932 header", "\x95\x5C\x8E\xA6", "header", "表示");
        row("not a word: blank inside", "=?UTF-8?B?a b?=", "header", "=?UTF-8?B?a b?=");
        row("unterminated word", "x =?UTF-8?B?5pel", "header", "x =?UTF-8?B?5pel");
        // CP932 goes through one converter pass: a bad byte costs one U+FFFD and the text goes on after it.
        row("cp932 lead byte with a bad trail byte", "\x81\x20x\x95\x5C", "cp932", "\uFFFD x表");
        row("cp932 lead byte cut off at the end", "a\x82", "cp932", "a\uFFFD");
        row("cp932 bad bytes between good ones", "\x87\x40\x80\x87\x40", "cp932", "①\uFFFD①");
    }
    void decode() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, label);
        QFETCH(QString, expected);
        QCOMPARE(label == "header" ? decodeHeaderText(bytes)
                 : label == "?"    ? decodeUnlabelled(bytes)
                                   : decodeCharset(bytes, label),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestCharsets)
#include "tst_charsets.moc"
