// Decoding of Japanese mail text: labelled charsets, unlabelled 8-bit text, RFC 2047 words.
#include "charsets.h"

#include <QTest>

using namespace korimo;

class TestCharsets : public QObject {
    Q_OBJECT
private slots:
    void labelled_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("label");
        QTest::addColumn<QString>("expected");
        QTest::newRow("iso-2022-jp") << QByteArray("\x1B$B$3$s$K$A$O\x1B(B") << QByteArray("ISO-2022-JP")
                                     << QStringLiteral("こんにちは");
        QTest::newRow("iso-2022-jp with NEC row 13")
            << QByteArray("\x1B$B-!-\"\x1B(B No.") << QByteArray("iso-2022-jp") << QStringLiteral("①② No.");
        QTest::newRow("iso-2022-jp half-width katakana")
            << QByteArray("\x1B(I:X S\x1B(B") << QByteArray("iso-2022-jp") << QStringLiteral("ｺﾘ ﾓ");
        QTest::newRow("iso-2022-jp unterminated at line end")
            << QByteArray("\x1B$B$\"\nabc") << QByteArray("iso-2022-jp") << QStringLiteral("あ\nabc");
        QTest::newRow("shift_jis means cp932")
            << QByteArray("\x95\x5C\x5C~\x87\x40") << QByteArray("Shift_JIS") << QStringLiteral("表\\~①");
        QTest::newRow("x-sjis") << QByteArray("\x83\x5C") << QByteArray("x-sjis") << QStringLiteral("ソ");
        QTest::newRow("euc-jp") << QByteArray("\xC6\xFC\xCB\xDC\xB8\xEC") << QByteArray("EUC-JP")
                                << QStringLiteral("日本語");
        QTest::newRow("utf-8") << QByteArray("\xE6\x97\xA5") << QByteArray("utf-8") << QStringLiteral("日");
        QTest::newRow("quoted label with language")
            << QByteArray("\xE6\x97\xA5") << QByteArray("\"UTF-8*ja\"") << QStringLiteral("日");
        QTest::newRow("us-ascii label on 8-bit text")
            << QByteArray("\x95\x5C") << QByteArray("us-ascii") << QStringLiteral("表");
        QTest::newRow("unknown label") << QByteArray("\xE6\x97\xA5") << QByteArray("x-no-such-charset")
                                       << QStringLiteral("日");
        QTest::newRow("iso-2022-jp-3 uses our decoder")
            << QByteArray("\x1B$(Q-!\x1B(B") << QByteArray("ISO-2022-JP-3") << QStringLiteral("①");
        QTest::newRow("label off the list reads as utf-8")
            << QByteArray("\x95\x5C") << QByteArray("ISO-2022-CN-EXT") << QStringLiteral("\uFFFD\\");
        QTest::newRow("utf-7 is off the list")
            << QByteArray("+ZeVnLA-") << QByteArray("utf-7") << QStringLiteral("+ZeVnLA-");
        QTest::newRow("windows-1252") << QByteArray("\x80") << QByteArray("windows-1252") << QStringLiteral("€");
        QTest::newRow("iso-8859-15") << QByteArray("\xA4") << QByteArray("ISO-8859-15") << QStringLiteral("€");
        QTest::newRow("koi8-r") << QByteArray("\xC1") << QByteArray("KOI8-R") << QStringLiteral("а");
        QTest::newRow("big5") << QByteArray("\xA4\xA4") << QByteArray("Big5") << QStringLiteral("中");
        QTest::newRow("euc-kr") << QByteArray("\xC7\xD1") << QByteArray("EUC-KR") << QStringLiteral("한");
        QTest::newRow("utf-16le") << QByteArray("\xE5\x65") << QByteArray("UTF-16LE") << QStringLiteral("日");
        QTest::newRow("bad byte in iso-2022-jp") << QByteArray("a\xFF"
                                                               "b")
                                                 << QByteArray("iso-2022-jp") << QStringLiteral("a\uFFFDb");
        QTest::newRow("truncated double byte")
            << QByteArray("\x1B$B$") << QByteArray("iso-2022-jp") << QStringLiteral("\uFFFD");
        // CP932 goes through one converter pass: a bad byte costs one U+FFFD and the text goes on after it.
        QTest::newRow("cp932 lead byte with a bad trail byte")
            << QByteArray("\x81\x20x\x95\x5C") << QByteArray("cp932") << QStringLiteral("\uFFFD x表");
        QTest::newRow("cp932 lead byte cut off at the end")
            << QByteArray("a\x82") << QByteArray("cp932") << QStringLiteral("a\uFFFD");
        QTest::newRow("cp932 katakana, backslash and tilde")
            << QByteArray("\xB1\x5C~") << QByteArray("cp932") << QStringLiteral("ｱ\\~");
        QTest::newRow("cp932 bad bytes between good ones")
            << QByteArray("\x87\x40\x80\x87\x40") << QByteArray("cp932") << QStringLiteral("①\uFFFD①");
    }
    void labelled() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, label);
        QFETCH(QString, expected);
        QCOMPARE(decodeCharset(bytes, label), expected);
    }

    void unlabelled_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii") << QByteArray("hello") << QStringLiteral("hello");
        QTest::newRow("utf-8") << QByteArray("\xE6\x97\xA5\xE6\x9C\xAC") << QStringLiteral("日本");
        QTest::newRow("cp932") << QByteArray("\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67")
                               << QStringLiteral("表示テスト");
        QTest::newRow("euc-jp, also valid cp932 katakana") << QByteArray("\xA4\xA2\xA4\xA4") << QStringLiteral("あい");
        QTest::newRow("euc-jp") << QByteArray("\xC6\xFC\xCB\xDC\xB8\xEC") << QStringLiteral("日本語");
        QTest::newRow("iso-2022-jp escapes") << QByteArray("\x1B$B$3$s\x1B(B") << QStringLiteral("こん");
    }
    void unlabelled() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(decodeUnlabelled(bytes), expected);
    }

    void headers_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one word") << QByteArray("=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=")
                                  << QStringLiteral("こんにちは");
        QTest::newRow("iso-2022-jp split inside a character")
            << QByteArray("=?ISO-2022-JP?B?GyRCJA==?=\r\n =?ISO-2022-JP?B?MyRzJEskQSRPGyhC?=")
            << QStringLiteral("こんにちは");
        QTest::newRow("utf-8 split inside a character")
            << QByteArray("=?UTF-8?B?5pc=?= =?utf-8?B?peacrA==?=") << QStringLiteral("日本");
        QTest::newRow("text around words")
            << QByteArray("Re: =?UTF-8?B?5pel5pys?= desu") << QStringLiteral("Re: 日本 desu");
        QTest::newRow("word glued to text") << QByteArray("Re:=?UTF-8?B?5pel5pys?=") << QStringLiteral("Re:日本");
        QTest::newRow("q encoding") << QByteArray("=?iso-8859-1?Q?caf=E9_au_lait?=") << QStringLiteral("café au lait");
        QTest::newRow("shift_jis word is cp932") << QByteArray("=?shift_jis?B?h0CVXA==?=") << QStringLiteral("①表");
        QTest::newRow("two charsets") << QByteArray("=?UTF-8?B?5pel?= =?ISO-2022-JP?B?GyRCJDMbKEI=?=")
                                      << QStringLiteral("日こ");
        QTest::newRow("raw cp932 header") << QByteArray("\x95\x5C\x8E\xA6") << QStringLiteral("表示");
        QTest::newRow("raw utf-8 header") << QByteArray("\xE6\x97\xA5") << QStringLiteral("日");
        QTest::newRow("raw iso-2022-jp header") << QByteArray("Re: \x1B$B$3$s\x1B(B") << QStringLiteral("Re: こん");
        QTest::newRow("folded plain text") << QByteArray("a long\r\n subject") << QStringLiteral("a long subject");
        QTest::newRow("not a word: blank inside") << QByteArray("=?UTF-8?B?a b?=") << QStringLiteral("=?UTF-8?B?a b?=");
        QTest::newRow("unterminated") << QByteArray("x =?UTF-8?B?5pel") << QStringLiteral("x =?UTF-8?B?5pel");
        QTest::newRow("bad base64") << QByteArray("=?UTF-8?B?@@@@?=") << QString();
        QTest::newRow("unknown encoding letter") << QByteArray("=?UTF-8?X?abc?=") << QStringLiteral("=?UTF-8?X?abc?=");
    }
    void headers() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, expected);
        QCOMPARE(decodeHeaderText(raw), expected);
    }

    void sanitize_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("controls") << QStringLiteral("a\u0000b\r\nc\td\u0085e") << QStringLiteral("a b c d e");
        QTest::newRow("bidi") << QStringLiteral("invoice\u202Etxt.exe\u2066\u200F") << QStringLiteral("invoicetxt.exe");
        QTest::newRow("ideographic space kept") << QStringLiteral("　件名　") << QStringLiteral("　件名　");
        QTest::newRow("trim ascii blanks") << QStringLiteral("  a   b  ") << QStringLiteral("a b");
    }
    void sanitize() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(sanitizeForLine(text), expected);
    }

    void largeInputStaysLinear() {
        QByteArray big;
        for (int i = 0; i < 20000; ++i)
            big += "=?UTF-8?B?5pel?= ";
        QElapsedTimer t;
        t.start();
        QCOMPARE(decodeHeaderText(big), QString(20000, QChar(u'日')) + " ");
        QVERIFY2(t.elapsed() < 2000, "decoding 20,000 encoded words took too long");
    }
};

QTEST_GUILESS_MAIN(TestCharsets)
#include "tst_charsets.moc"
