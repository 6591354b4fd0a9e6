// SendMail through a real Postfix on loopback (plain with STARTTLS when offered, submission with
// STARTTLS + AUTH, implicit TLS), the delivered Maildir file read back with ReadMail: subject, body and
// attachment bytes arrive exactly as sent. Also the server's refusals, as error texts.
#include "readMail.h"
#include "realMailTransport.h"
#include "testMailServers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using korimo::test::TestMailServers;

class TestRoundTrip : public QObject {
    Q_OBJECT
    TestMailServers servers_;
    QTemporaryDir tmp_;
    QString attachment_;
    QByteArray attachmentBytes_;

    RealMailTransport transport() {
        TransportOptions o;
        o.connectTimeoutMs = 5000;
        o.readTimeoutMs = 10000;
        o.extraCaFile = servers_.caFile();
        return RealMailTransport(o);
    }

private slots:
    void initTestCase() {
        if (!TestMailServers::canRunSmtp())
            QSKIP("Postfix needs root");
        QVERIFY2(servers_.start(true), qPrintable(servers_.errorText()));
        if (!servers_.hasSmtp())
            QSKIP("no SMTP server");
        QVERIFY(tmp_.isValid());
        attachment_ = tmp_.filePath(QStringLiteral("見積書 ①.bin"));
        for (int i = 0; i < 100000; ++i)
            attachmentBytes_.append(static_cast<char>((i * 31) ^ (i >> 8)));
        QFile f(attachment_);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(attachmentBytes_), attachmentBytes_.size());
    }

    void delivered_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("user");
        QTest::addColumn<QString>("body");
        const QString japanese = QStringLiteral("こんにちは①②、テストです。\r\n.\r\n..\r\nC:\\data ~\r\n") +
                                 QString(2000, QChar(0x3042)) + QStringLiteral("\r\n末尾\r\n");
        const QString emoji =
            QStringLiteral("絵文字😀とｶﾀｶﾅ\r\n.\r\n") + QString(1500, QLatin1Char('x')) + QStringLiteral("\r\n");
        const QString host = servers_.host();
        QTest::newRow("plain port, STARTTLS offered")
            << QStringLiteral("smtp://%1:%2").arg(host).arg(servers_.smtpPort()) << 1 << japanese;
        QTest::newRow("submission, STARTTLS and AUTH")
            << QStringLiteral("%1:%2@%3:%4")
                   .arg(TestMailServers::user(2), TestMailServers::password(2), host)
                   .arg(servers_.submissionPort())
            << 2 << emoji;
        QTest::newRow("implicit TLS and AUTH") << QStringLiteral("smtps://%1:%2@%3:%4")
                                                      .arg(TestMailServers::user(3), TestMailServers::password(3), host)
                                                      .arg(servers_.smtpsPort())
                                               << 3 << japanese;
    }
    void delivered() {
        QFETCH(QString, server);
        QFETCH(int, user);
        QFETCH(QString, body);
        const int before = servers_.maildirFiles(user).size();
        const QString subject = QStringLiteral("見積①の件 — %1").arg(QString::fromLatin1(QTest::currentDataTag()));
        const QString result = transport().SendMail(server, servers_.address(user) + QStringLiteral("\t"),
                                                    servers_.address(5), subject, body, attachment_);
        QVERIFY2(result.isEmpty(), qPrintable(result + servers_.logText()));
        QVERIFY(servers_.waitForMessages(user, before + 1));
        const QString file = servers_.maildirFiles(user).last();
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray delivered = raw.readAll();
        QVERIFY(delivered.contains(body.contains(QStringLiteral("😀")) ? "charset=UTF-8" : "charset=ISO-2022-JP"));

        const QString folder = tmp_.filePath(QStringLiteral("saved-%1").arg(user));
        QVERIFY(QDir().mkpath(folder));
        const ReadMailOutcome outcome = readMailFile(file, true, folder);
        QVERIFY(outcome.readable);
        QCOMPARE(outcome.message.subject, subject);
        QCOMPARE(outcome.message.from, servers_.address(5));
        QCOMPARE(outcome.message.body, body);
        QCOMPARE(outcome.savedNames, QStringList{QStringLiteral("見積書 ①.bin")});
        QFile saved(QDir(folder).filePath(outcome.savedNames.value(0)));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), attachmentBytes_);

        const MailResult r = transport().ReadMail(file, QStringLiteral("subject:from:date:nofile:"), folder);
        QCOMPARE(r.items(), QStringList({QStringLiteral("File 1"), QStringLiteral("Body: ") + body}));
    }

    void refusals_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<QString>("expected");
        const QString host = servers_.host();
        QTest::newRow("wrong password")
            << QStringLiteral("%1:wrong@%2:%3").arg(TestMailServers::user(1), host).arg(servers_.submissionPort())
            << servers_.address(1) << QStringLiteral("認証");
        QTest::newRow("submission without credentials")
            << QStringLiteral("%1:%2").arg(host).arg(servers_.submissionPort()) << servers_.address(1)
            << QStringLiteral("拒否");
        QTest::newRow("unknown recipient") << QStringLiteral("smtp://%1:%2").arg(host).arg(servers_.smtpPort())
                                           << QStringLiteral("nobody@") + servers_.domain() << QStringLiteral("拒否");
        QTest::newRow("relay denied") << QStringLiteral("smtp://%1:%2").arg(host).arg(servers_.smtpPort())
                                      << QStringLiteral("someone@example.net") << QStringLiteral("拒否");
        QTest::newRow("certificate not trusted") << QStringLiteral("localhost:%1").arg(servers_.submissionPort())
                                                 << servers_.address(1) << QStringLiteral("証明書");
        QTest::newRow("certificate not trusted, implicit TLS")
            << QStringLiteral("smtps://%1:%2@localhost:%3")
                   .arg(TestMailServers::user(2), TestMailServers::password(2))
                   .arg(servers_.smtpsPort())
            << servers_.address(1) << QStringLiteral("証明書");
    }

    // smtp:// accepts plaintext: a STARTTLS certificate nobody can verify still carries the message,
    // encrypted. The strict modes refuse the same certificate (refusals above).
    void plaintextByChoiceGoesOnOverUnverifiedTls() {
        TransportOptions o; // no extra CA: the test server's certificate cannot be verified
        o.connectTimeoutMs = 5000;
        o.readTimeoutMs = 10000;
        const int before = servers_.maildirFiles(1).size();
        const QString server = QStringLiteral("smtp://%1:%2").arg(servers_.host()).arg(servers_.smtpPort());
        const QString result = RealMailTransport(o).SendMail(server, servers_.address(1), servers_.address(5),
                                                             QStringLiteral("s"), QStringLiteral("b\r\n"), {});
        QVERIFY2(result.isEmpty(), qPrintable(result));
        QTRY_COMPARE_WITH_TIMEOUT(servers_.maildirFiles(1).size(), before + 1, 20000);
    }
    void refusals() {
        QFETCH(QString, server);
        QFETCH(QString, recipient);
        QFETCH(QString, expected);
        TransportOptions o;
        o.connectTimeoutMs = 5000;
        o.readTimeoutMs = 10000;
        if (expected != QStringLiteral("証明書"))
            o.extraCaFile = servers_.caFile();
        const int before = servers_.maildirFiles(1).size();
        const QString result = RealMailTransport(o).SendMail(server, recipient, servers_.address(5),
                                                             QStringLiteral("s"), QStringLiteral("b\r\n"), {});
        qInfo("%s", qPrintable(result));
        QVERIFY2(result.contains(expected), qPrintable(result));
        QCOMPARE(servers_.maildirFiles(1).size(), before);
    }
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "tst_roundtrip.moc"
