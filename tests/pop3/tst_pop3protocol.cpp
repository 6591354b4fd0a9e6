// The socket-free parts of POP3: the server text and the summary fields (decoding, cleaning, bounds).
// Reply lines, UIDL lines and the header filter are fuzzed (tests/fuzz) and met in the transcripts.
#include "pop3Protocol.h"
#include "summaryFields.h"

#include <QTest>

using namespace korimo;
using namespace korimo::pop3;

class TestPop3Protocol : public QObject {
    Q_OBJECT
private slots:
    void serverTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // host port implicitTls tlsRequired, or "" when refused
        const auto row = [](const char* text, const char* expected) {
            QTest::newRow(QByteArray(text).replace("\r", "\\r").replace("\n", "\\n")) << text << expected;
        };
        row("pop.example.jp", "pop.example.jp 995 1 1"); // a bare host: implicit TLS
        row(" pop.x:110 ", "pop.x 110 0 1");             // another port: STLS required
        row("pop3s://pop.x:1995", "pop.x 1995 1 1");
        row("pop3://pop.x", "pop.x 110 0 0"); // plaintext accepted
        row("pop3://pop.x:995", "pop.x 995 0 0");
        row("[::1]:1110", "::1 1110 0 1");
        row("pop.x\r\n", "pop.x 995 1 1");
        for (const char* bad : {"", "pop.x:0", "pop.x:65536", "pop.x:+110", "pop.x:", "imaps://pop.x", "pop3://t@pop.x",
                                "pop3://pop.x/inbox", "pop x", "::1", "[pop.x]:995", "pop.\nx"})
            row(bad, "");
    }
    void serverTexts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const auto a = parseServerText(text);
        QCOMPARE(a ? QStringLiteral("%1 %2 %3 %4").arg(a->host).arg(a->port).arg(a->implicitTls).arg(a->tlsRequired)
                   : QString(),
                 expected);
    }

    void summaryFieldsAreDecodedAndClean_data() {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QString>("expected"); // subject|from|date
        const auto row = [](const char* name, const QByteArray& h, const QString& e) {
            QTest::newRow(name) << h << e;
        };
        row("encoded words",
            "From: =?UTF-8?B?5bGx55SwIOWkqumDjg==?= <y@x.jp>\r\nSubject: "
            "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkT0AkMyYbKEI=?=\r\nDate: d",
            "こんにちは世界|山田 太郎 <y@x.jp>|d");
        row("raw CP932", "Subject: \x83\x65\x83\x58\x83\x67\x87\x40\r\n", "テスト①||");
        row("folded, odd case, quotes, body ignored",
            "sUbJeCt: one\r\n\ttwo\r\nX-From: no\r\nFROM:  \"Yamada, \\\"T\\\"\" <a@b>\r\n\r\nDate: body",
            "one two|Yamada, \"T\" <a@b>|");
        row("encoded CR LF and TAB", "Subject: =?UTF-8?Q?a=0D=0AFrom:_x=09y?=\r\n", "a From: x y||");
        row("bidi and C1 controls",
            "Subject: a\u202e"
            "b\u0085"
            "c\u2066 \r\n",
            "ab c||");
        row("long values are cut", "Subject: " + QByteArray(3000, 'x') + "\r\nDate: " + QByteArray(3000, 'd'),
            QString(maxSummaryFieldLength, u'x') + "||" + QString(maxSummaryFieldLength, u'd'));
        QByteArray emoji;
        for (int i = 0; i < 600; ++i)
            emoji += "😀";
        row("no surrogate cut in half", "Subject: " + emoji, QString::fromUtf8(emoji.left(2000)) + "||");
    }
    void summaryFieldsAreDecodedAndClean() {
        QFETCH(QByteArray, headers);
        QFETCH(QString, expected);
        const SummaryFields f = summaryFromHeaders(headers);
        QCOMPARE(f.subject + u'|' + f.from + u'|' + f.date, expected);
        QVERIFY(isCleanSummaryValue(f.subject) && isCleanSummaryValue(f.from) && isCleanSummaryValue(f.date));
        QCOMPARE(summaryFields(f.subject, f.from, f.date), f); // cleaning again changes nothing
    }
};

QTEST_GUILESS_MAIN(TestPop3Protocol)
#include "tst_pop3protocol.moc"
