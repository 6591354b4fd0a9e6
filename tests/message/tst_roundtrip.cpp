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
        if (!TestMailServers::canRunSmtp()) {
            QVERIFY2(!qEnvironmentVariableIsSet("CI"), "CI runs as root, where Postfix must start");
            QSKIP("Postfix needs root (see README, Testing)");
        }
        QVERIFY2(servers_.start(true), qPrintable(servers_.errorText()));
        QVERIFY(servers_.hasSmtp());
        attachment_ = tmp_.filePath(QStringLiteral("見積書 ①.bin"));
        for (int i = 0; i < 100000; ++i)
            attachmentBytes_.append(static_cast<char>((i * 31) ^ (i >> 8)));
        QFile f(attachment_);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(attachmentBytes_) == attachmentBytes_.size());
    }

    // server: H the host, S the SMTP, U the submission, T the SMTPS port, A user 2's credentials and '@'.
    // recipient: a user's number, or an address. kind -1: delivered.
    void send_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<int>("kind");
        const auto row = [this](const char* name, QString server, QString to, bool trusted, int kind) {
            server.replace(u'H', servers_.host()).replace(u'S', QString::number(servers_.smtpPort()));
            server.replace(u'U', QString::number(servers_.submissionPort()));
            server.replace(u'T', QString::number(servers_.smtpsPort()));
            server.replace(u'A', TestMailServers::user(2) + u':' + TestMailServers::password(2) + u'@');
            QTest::newRow(name) << server << (to.size() == 1 ? servers_.address(to.toInt()) : to) << trusted << kind;
        };
        row("plain port, STARTTLS offered", "smtp://H:S", "1", true, -1);
        row("submission, STARTTLS and AUTH", "AH:U", "2", true, -1);
        row("implicit TLS and AUTH", "smtps://AH:T", "3", true, -1);
        // smtp:// accepts plaintext: a STARTTLS certificate nobody can verify still carries the message.
        row("smtp://, unverified STARTTLS", "smtp://H:S", "4", false, -1);
        row("wrong password", TestMailServers::user(1) + ":wrong@H:U", "1", true, int(K::LoginRefused));
        row("submission without credentials", "H:U", "1", true, int(K::ServerRefused));
        row("unknown recipient", "smtp://H:S", "nobody@" + servers_.domain(), true, int(K::ServerRefused));
        row("relay denied", "smtp://H:S", "someone@example.net", true, int(K::ServerRefused));
        row("certificate not trusted", "localhost:U", "1", false, int(K::TlsFailed));
        row("certificate not trusted, implicit TLS", "smtps://Alocalhost:T", "1", false, int(K::TlsFailed));
    }
    void send() {
        QFETCH(QString, server);
        QFETCH(QString, recipient);
        QFETCH(bool, trusted);
        QFETCH(int, kind);
        TransportOptions o;
        o.connectTimeoutMs = 5000;
        o.readTimeoutMs = 10000;
        o.caFile = trusted ? servers_.caFile() : QString();
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
