// Composing outgoing mail: ISO-2022-JP with the NEC characters or UTF-8, CR LF exactly once, refusals of
// header injection, and what our own reader makes of the result.
#include "charsets.h"
#include "messageComposer.h"
#include "mimeReader.h"
#include "smtpSender.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;

namespace {

OutgoingMessage simple(const QString& body = QStringLiteral("hello")) {
    OutgoingMessage m;
    m.from = QStringLiteral("taro@example.com");
    m.to = {QStringLiteral("hanako@example.com"), QStringLiteral("jiro@example.org")};
    m.subject = QStringLiteral("件名①");
    m.body = body;
    m.date = QDateTime::fromSecsSinceEpoch(1800000000);
    return m;
}

QByteArray headerBlock(const QByteArray& message) {
    return message.left(message.indexOf("\r\n\r\n") + 2);
}

} // namespace

class TestCompose : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;

private slots:
    void iso2022jp_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes"); // empty: does not fit
        QTest::newRow("ascii") << QStringLiteral("abc ~\\") << QByteArray("abc ~\\");
        QTest::newRow("kanji") << QStringLiteral("日本語") << QByteArray("\x1B$BF|K\\8l\x1B(B");
        QTest::newRow("NEC row 13") << QStringLiteral("①Ⅰ㈱") << QByteArray("\x1B$B-!-5-j\x1B(B");
        QTest::newRow("ascii mode before each line end")
            << QStringLiteral("あ\r\nい") << QByteArray("\x1B$B$\"\x1B(B\r\n\x1B$B$$\x1B(B");
        QTest::newRow("half-width katakana") << QStringLiteral("ｱ") << QByteArray();
        QTest::newRow("emoji") << QStringLiteral("a😀") << QByteArray();
        QTest::newRow("IBM extension") << QStringLiteral("髙") << QByteArray();
        QTest::newRow("escape character") << QStringLiteral("a\x1B$B") << QByteArray();
    }
    void iso2022jp() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const std::optional<QByteArray> encoded = encodeIso2022Jp(text);
        QCOMPARE(encoded.has_value(), !bytes.isEmpty());
        if (encoded)
            QCOMPARE(*encoded, bytes);
    }

    void headerWordsDecodeBack_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QStringLiteral("Weekly report");
        QTest::newRow("looks encoded") << QStringLiteral("=?utf-8?q?x?=");
        QTest::newRow("ascii too long for one line") << QString(1200, QLatin1Char('a'));
        QTest::newRow("short japanese") << QStringLiteral("会議①の件");
        QTest::newRow("long japanese") << QString(120, QChar(0x3042)) + QStringLiteral("①end");
        QTest::newRow("emoji forces utf-8")
            << QString(40, QChar(0x3042)) + QStringLiteral("😀𠮷") + QString(40, QChar(0x3044));
    }
    void headerWordsDecodeBack() {
        QFETCH(QString, text);
        const QByteArray encoded = encodeHeaderWords(text);
        for (const QByteArray& line : encoded.split('\n')) {
            QVERIFY2(line.trimmed().size() <= 75, line.constData());
            for (const char c : line)
                QVERIFY(static_cast<unsigned char>(c) < 0x80 && c != '\r');
        }
        QCOMPARE(decodeHeaderText(encoded), text);
    }

    // Everything that reaches the wire: CR LF only, the headers in place, and our reader gives back what was sent.
    void roundTripThroughOurReader_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QString>("readBack"); // the last line always ends, whatever the encoding
        const QString nec = QStringLiteral("こんにちは①②\r\n.\r\n..\r\nC:\\dir ~\r\n");
        QTest::newRow("japanese with NEC characters") << nec << QByteArray("ISO-2022-JP") << nec;
        const QString longLine = QString(3000, QChar(0x3042)) + QStringLiteral("\r\nend");
        QTest::newRow("long line, no final line end")
            << longLine << QByteArray("ISO-2022-JP") << longLine + QStringLiteral("\r\n");
        QTest::newRow("emoji, no final line end")
            << QStringLiteral("絵文字😀と𠮷") << QByteArray("UTF-8") << QStringLiteral("絵文字😀と𠮷\r\n");
        QTest::newRow("half-width katakana")
            << QStringLiteral("ｺﾘﾓ\r\n") << QByteArray("UTF-8") << QStringLiteral("ｺﾘﾓ\r\n");
    }
    void roundTripThroughOurReader() {
        QFETCH(QString, body);
        QFETCH(QByteArray, charset);
        QFETCH(QString, readBack);
        const ComposedMessage c = composeMessage(simple(body));
        QVERIFY2(c.error.isEmpty(), qPrintable(c.error));
        QVERIFY(!c.bytes.contains("\r\r"));
        QVERIFY(!QRegularExpression(QStringLiteral("[^\r]\n")).match(QString::fromLatin1(c.bytes)).hasMatch());
        QVERIFY(!QRegularExpression(QStringLiteral("\r[^\n]")).match(QString::fromLatin1(c.bytes)).hasMatch());
        const QByteArray head = headerBlock(c.bytes);
        QVERIFY(head.contains("From: taro@example.com\r\n"));
        QVERIFY(head.contains("To: hanako@example.com, jiro@example.org\r\n"));
        QVERIFY(head.contains("MIME-Version: 1.0\r\n"));
        QVERIFY(("\r\n" + head).contains("\r\nDate: "));
        QVERIFY(head.contains("@example.com>\r\n"));
        QVERIFY(head.contains("Message-Id: <") || head.contains("Message-ID: <"));
        QVERIFY(head.contains("charset=" + charset));
        for (const QByteArray& line : c.bytes.split('\n'))
            QVERIFY(line.size() <= 999);
        const MimeMessage back = readMime(c.bytes);
        QCOMPARE(back.subject, QStringLiteral("件名①"));
        QCOMPARE(back.from, QStringLiteral("taro@example.com"));
        QCOMPARE(back.body, readBack);
        QVERIFY(back.attachments.isEmpty());
    }

    void lineEndsAreNormalisedOnce_data() {
        QTest::addColumn<QString>("body");
        QTest::newRow("LF") << QStringLiteral("a\nb\n");
        QTest::newRow("CR LF") << QStringLiteral("a\r\nb\r\n");
        QTest::newRow("lone CR") << QStringLiteral("a\rb\r");
        QTest::newRow("no final line end") << QStringLiteral("a\nb");
    }
    void lineEndsAreNormalisedOnce() {
        QFETCH(QString, body);
        const ComposedMessage c = composeMessage(simple(body));
        QVERIFY(c.bytes.contains("\r\n\r\na\r\nb\r\n"));
        QCOMPARE(readMime(c.bytes).body, QStringLiteral("a\r\nb\r\n"));
    }

    void attachmentRoundTrip() {
        QVERIFY(tmp_.isValid());
        const QString path = tmp_.filePath(QStringLiteral("報告 ① (final).pdf"));
        QByteArray data;
        for (int i = 0; i < 70000; ++i)
            data.append(static_cast<char>(i * 7));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
        f.close();
        OutgoingMessage m = simple(QStringLiteral("本文"));
        m.attachment = path;
        const ComposedMessage c = composeMessage(m);
        QVERIFY2(c.error.isEmpty(), qPrintable(c.error));
        QVERIFY(c.bytes.contains("filename*=")); // RFC 2231
        QVERIFY(c.bytes.contains("Content-Transfer-Encoding: base64"));
        const MimeMessage back = readMime(c.bytes);
        QCOMPARE(back.body, QStringLiteral("本文\r\n"));
        QCOMPARE(back.attachments.size(), 1);
        QCOMPARE(back.attachments[0].suggestedName, QStringLiteral("報告 ① (final).pdf"));
        QCOMPARE(back.attachments[0].mimeType, QStringLiteral("application/pdf"));
        QCOMPARE(back.attachments[0].data, data);
    }

    void refusals_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("CR LF in a recipient") << "to"
                                              << "a@example.com\r\nRCPT TO:<evil@example.com>";
        QTest::newRow("LF in a recipient") << "to"
                                           << "a@example.com\nx";
        QTest::newRow("NUL in a recipient") << "to" << QStringLiteral("a@example.com") + QChar(0);
        QTest::newRow("angle bracket in a recipient") << "to"
                                                      << "a@example.com> NOTIFY=NEVER";
        QTest::newRow("no at sign") << "to"
                                    << "root";
        QTest::newRow("blank in a recipient") << "to"
                                              << "a b@example.com";
        QTest::newRow("CR LF in the sender") << "from"
                                             << "a@example.com\r\nBcc: x@example.com";
        QTest::newRow("CR LF in the subject") << "subject"
                                              << "hi\r\nBcc: x@example.com";
        QTest::newRow("NUL in the subject") << "subject" << QStringLiteral("hi") + QChar(0);
        QTest::newRow("LF in the attachment's name") << "attachment"
                                                     << "bad\nname.txt";
        QTest::newRow("missing attachment") << "attachment"
                                            << "no-such-file";
        QTest::newRow("folder as attachment") << "attachment"
                                              << ".";
    }
    void refusals() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        OutgoingMessage m = simple();
        if (field == QLatin1String("to"))
            m.to.append(value);
        else if (field == QLatin1String("from"))
            m.from = value;
        else if (field == QLatin1String("subject"))
            m.subject = value;
        else {
            QVERIFY(tmp_.isValid());
            m.attachment = tmp_.filePath(value);
            if (value.contains(QLatin1Char('\n'))) {
                QFile f(m.attachment);
                QVERIFY(f.open(QIODevice::WriteOnly));
            }
        }
        const ComposedMessage c = composeMessage(m);
        QVERIFY(!c.error.isEmpty());
        QVERIFY(c.bytes.isEmpty());
        QVERIFY(!c.error.contains(QLatin1Char('\n')) && !c.error.contains(QLatin1Char('\r')));
    }

    void serverText_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("url"); // empty: refused
        QTest::addColumn<int>("tls");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        const int req = int(SmtpEndpoint::Tls::Required), imp = int(SmtpEndpoint::Tls::Implicit),
                  opt = int(SmtpEndpoint::Tls::IfOffered);
        QTest::newRow("bare host: submission") << "mail.example.com"
                                               << "smtp://mail.example.com:587" << req << ""
                                               << "";
        QTest::newRow("host and port") << " mail.example.com:2525 "
                                       << "smtp://mail.example.com:2525" << req << ""
                                       << "";
        QTest::newRow("implicit tls") << "smtps://mail.example.com"
                                      << "smtps://mail.example.com:465" << imp << ""
                                      << "";
        QTest::newRow("plaintext by choice") << "SMTP://h:25/"
                                             << "smtp://h:25" << opt << ""
                                             << "";
        QTest::newRow("user part") << "smtps://taro%40example.com:p%40ss:w@h:4650"
                                   << "smtps://h:4650" << imp << "taro@example.com"
                                   << "p@ss:w";
        QTest::newRow("ipv6") << "[::1]:2525"
                              << "smtp://[::1]:2525" << req << ""
                              << "";
        QTest::newRow("other scheme") << "ftp://h"
                                      << "" << 0 << ""
                                      << "";
        QTest::newRow("empty") << ""
                               << "" << 0 << ""
                               << "";
        QTest::newRow("port out of range") << "h:99999"
                                           << "" << 0 << ""
                                           << "";
        QTest::newRow("port not a number") << "h:x"
                                           << "" << 0 << ""
                                           << "";
        QTest::newRow("path") << "smtp://h/x"
                              << "" << 0 << ""
                              << "";
        QTest::newRow("line break") << "h\r\nx"
                                    << "" << 0 << ""
                                    << "";
    }
    void serverText() {
        QFETCH(QString, server);
        QFETCH(QString, url);
        QFETCH(int, tls);
        QFETCH(QString, user);
        QFETCH(QString, password);
        const SmtpEndpoint e = parseSmtpServer(server);
        QCOMPARE(e.error.isEmpty(), !url.isEmpty());
        if (url.isEmpty())
            return;
        QCOMPARE(e.url, url);
        QCOMPARE(int(e.tls), tls);
        QCOMPARE(e.user, user);
        QCOMPARE(e.password, password);
    }

    void credentialsFromTheMatchingMailbox() {
        const QList<Mailbox> boxes = {
            {QStringLiteral("pop.a"), QStringLiteral("someone"), QStringLiteral("x")},
            {QString(), QStringLiteral("taro@example.com"), QStringLiteral("unused slot")},
            {QStringLiteral("pop.b"), QStringLiteral("Taro@Example.com"), QStringLiteral("pw")}};
        SmtpEndpoint e = parseSmtpServer(QStringLiteral("mail.example.com"));
        chooseCredentials(e, QStringLiteral("taro@example.com"), boxes);
        QCOMPARE(e.user, QStringLiteral("Taro@Example.com"));
        QCOMPARE(e.password, QStringLiteral("pw"));
        SmtpEndpoint none = parseSmtpServer(QStringLiteral("mail.example.com"));
        chooseCredentials(none, QStringLiteral("hanako@example.com"), boxes);
        QVERIFY(none.user.isEmpty() && none.password.isEmpty());
        SmtpEndpoint given = parseSmtpServer(QStringLiteral("u:p@mail.example.com"));
        chooseCredentials(given, QStringLiteral("taro@example.com"), boxes);
        QCOMPARE(given.user, QStringLiteral("u"));
        QCOMPARE(given.password, QStringLiteral("p"));
    }
};

QTEST_GUILESS_MAIN(TestCompose)
#include "tst_compose.moc"
