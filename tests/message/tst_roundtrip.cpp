// Sending through a real Postfix on loopback (plain with STARTTLS when offered, submission with STARTTLS
// and AUTH, implicit TLS), the delivered Maildir file read back: subject, body and attachment bytes arrive
// exactly as sent. Also the server's refusals and untrusted certificates, as error kinds.
#include "realMailTransport.h"
#include "testMailServers.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using korimo::test::TestMailServers;
using K = MailErrorKind;

class TestRoundTrip : public QObject {
    Q_OBJECT
    TestMailServers servers_;
    QTemporaryDir tmp_;
    QString attachment_;
    QByteArray attachmentBytes_;

private slots:
    void initTestCase() {
        if (!TestMailServers::canRunSmtp())
            QSKIP("Postfix needs root");
        QVERIFY2(servers_.start(true), qPrintable(servers_.errorText()));
        QVERIFY(servers_.hasSmtp());
        attachment_ = tmp_.filePath(QStringLiteral("見積書 ①.bin"));
        for (int i = 0; i < 100000; ++i)
            attachmentBytes_.append(static_cast<char>((i * 31) ^ (i >> 8)));
        QFile f(attachment_);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(attachmentBytes_) == attachmentBytes_.size());
    }

    // server: with %1 the host; user: the recipient's number (0: the recipient text); kind -1: delivered.
    void send_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<int>("kind");
        const QString host = servers_.host(), smtp = QString::number(servers_.smtpPort());
        const QString submission = QString::number(servers_.submissionPort()),
                      smtps = QString::number(servers_.smtpsPort());
        const QString auth2 = TestMailServers::user(2) + u':' + TestMailServers::password(2) + u'@';
        const QString u1 = servers_.address(1);
        QTest::newRow("plain port, STARTTLS offered")
            << "smtp://" + host + u':' + smtp << servers_.address(1) << true << -1;
        QTest::newRow("submission, STARTTLS and AUTH")
            << auth2 + host + u':' + submission << servers_.address(2) << true << -1;
        QTest::newRow("implicit TLS and AUTH")
            << "smtps://" + auth2 + host + u':' + smtps << servers_.address(3) << true << -1;
        // smtp:// accepts plaintext: a STARTTLS certificate nobody can verify still carries the message.
        QTest::newRow("smtp://, unverified STARTTLS")
            << "smtp://" + host + u':' + smtp << servers_.address(4) << false << -1;
        QTest::newRow("wrong password") << TestMailServers::user(1) + ":wrong@" + host + u':' + submission << u1 << true
                                        << int(K::LoginRefused);
        QTest::newRow("submission without credentials")
            << host + u':' + submission << u1 << true << int(K::ServerRefused);
        QTest::newRow("unknown recipient")
            << "smtp://" + host + u':' + smtp << "nobody@" + servers_.domain() << true << int(K::ServerRefused);
        QTest::newRow("relay denied") << "smtp://" + host + u':' + smtp << "someone@example.net" << true
                                      << int(K::ServerRefused);
        QTest::newRow("certificate not trusted") << "localhost:" + submission << u1 << false << int(K::TlsFailed);
        QTest::newRow("certificate not trusted, implicit TLS")
            << "smtps://" + auth2 + "localhost:" + smtps << u1 << false << int(K::TlsFailed);
    }
    void send() {
        QFETCH(QString, server);
        QFETCH(QString, recipient);
        QFETCH(bool, trusted);
        QFETCH(int, kind);
        TransportOptions o;
        o.connectTimeoutMs = 5000;
        o.readTimeoutMs = 10000;
        o.extraCaFile = trusted ? servers_.caFile() : QString();
        RealMailTransport t(o);
        const int user = recipient.section(u'@', 0, 0).right(1).toInt(); // user1@... is 1
        const int before = servers_.maildirFiles(qMax(user, 1)).size();
        const QString body =
            QStringLiteral("こんにちは①😀ｶﾀｶﾅ\r\n.\r\n..\r\nC:\\data ~\r\n") + QString(2000, u'あ') + "\r\n末尾\r\n";
        const QString subject = QStringLiteral("見積①の件 — %1").arg(QString::fromLatin1(QTest::currentDataTag()));
        const auto sent = t.send({server, {recipient}, servers_.address(5), subject, body, attachment_});
        QCOMPARE(sent.ok() ? -1 : int(sent.error().kind), kind);
        if (!sent.ok()) {
            QCOMPARE(servers_.maildirFiles(qMax(user, 1)).size(), before);
            return;
        }
        QCOMPARE(sent.value().unverifiedServer.isEmpty(), trusted);
        QVERIFY(servers_.waitForMessages(user, before + 1, 20000));
        const QString folder = tmp_.filePath(QString::number(user));
        QVERIFY(QDir().mkpath(folder));
        const auto r = t.read(servers_.maildirFiles(user).last(), true, folder);
        QVERIFY(r.ok());
        QCOMPARE(r.value().subject + u'|' + r.value().from, subject + u'|' + servers_.address(5));
        QCOMPARE(r.value().body, QString(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QCOMPARE(r.value().attachments.size(), 1);
        QCOMPARE(r.value().attachments[0].fileName, QStringLiteral("見積書 ①.bin"));
        QFile saved(QDir(folder).filePath(r.value().attachments[0].fileName));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), attachmentBytes_);
    }
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "tst_roundtrip.moc"
