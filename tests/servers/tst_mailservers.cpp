// Smoke check of the private mail servers: each starts, takes one login over TLS checked against the
// instance's CA and one delivery, and is gone once stopped. The tests that use them prove the rest.
#include "testMailServers.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTest>

using korimo::test::TestMailServers;

class TestMailServersSmoke : public QObject {
    Q_OBJECT

    // Sends a command (unless empty); the reply up to SMTP's "NNN " line or, multiline, POP3's ".".
    static QByteArray ask(QSslSocket& s, const QByteArray& cmd, bool multiline = false) {
        if (!cmd.isEmpty())
            s.write(cmd + "\r\n");
        QByteArray reply;
        for (;;) {
            while (!s.canReadLine())
                if (!s.waitForReadyRead(5000))
                    return reply + "<timeout>";
            const QByteArray line = s.readLine();
            reply += line;
            if (multiline ? line == ".\r\n" : line.size() < 4 || line.at(3) != '-')
                return reply;
        }
    }

    void trustOurCa(QSslSocket& s) const {
        QSslConfiguration conf = s.sslConfiguration();
        conf.setCaCertificates(QSslCertificate::fromPath(servers_.caFile()));
        s.setSslConfiguration(conf);
    }

private slots:
    void initTestCase() {
        QVERIFY2(servers_.start(), qPrintable(servers_.errorText()));
        QCOMPARE(servers_.hasSmtp(), TestMailServers::canRunSmtp());
    }

    // Delivered into the Maildir, the message comes back byte for byte over STLS and implicit TLS.
    void pop3ServesADeliveredMessage_data() {
        QTest::addColumn<bool>("implicitTls");
        QTest::newRow("STLS") << false;
        QTest::newRow("pop3s") << true;
    }
    void pop3ServesADeliveredMessage() {
        QFETCH(bool, implicitTls);
        const QByteArray message = "Subject: smoke\r\n\r\nfirst\r\n..dot-stuffed\r\n";
        QVERIFY(servers_.clearMaildir(1) && servers_.deliver(1, message));
        QSslSocket s;
        trustOurCa(s);
        if (implicitTls) {
            s.connectToHostEncrypted(servers_.host(), quint16(servers_.pop3sPort()));
        } else {
            s.connectToHost(servers_.host(), quint16(servers_.pop3Port()));
            QVERIFY(s.waitForConnected(5000) && ask(s, {}).startsWith("+OK"));
            QVERIFY(ask(s, "STLS").startsWith("+OK"));
            s.startClientEncryption();
        }
        QVERIFY2(s.waitForEncrypted(5000), qPrintable(s.errorString()));
        QVERIFY(!implicitTls || ask(s, {}).startsWith("+OK"));
        QVERIFY(ask(s, "AUTH PLAIN " + QByteArray("\0user1\0wrong", 12).toBase64()).startsWith("-ERR"));
        QVERIFY(ask(s, "USER user1").startsWith("+OK") && ask(s, "PASS pass1").startsWith("+OK"));
        QCOMPARE(ask(s, "RETR 1", true), "+OK " + QByteArray::number(message.size()) + " octets\r\n" +
                                             QByteArray(message).replace("\n.", "\n..") + ".\r\n");
        QVERIFY(ask(s, "QUIT").startsWith("+OK"));
    }

    void smtpDeliversIntoTheMaildir() {
        if (!servers_.hasSmtp()) {
            QVERIFY2(!qEnvironmentVariableIsSet("CI"), "CI runs as root, where Postfix must start");
            QSKIP("Postfix needs root (see README, Testing)");
        }
        QSslSocket s;
        trustOurCa(s);
        s.connectToHost(servers_.host(), quint16(servers_.submissionPort()));
        QVERIFY(s.waitForConnected(5000) && ask(s, {}).startsWith("220"));
        QVERIFY(ask(s, "EHLO smoke").startsWith("250") && ask(s, "STARTTLS").startsWith("220"));
        s.startClientEncryption();
        QVERIFY2(s.waitForEncrypted(5000), qPrintable(s.errorString()));
        QVERIFY(ask(s, "EHLO smoke").contains("AUTH PLAIN"));
        QVERIFY(ask(s, "AUTH PLAIN " + QByteArray("\0user4\0pass4", 12).toBase64()).startsWith("235"));
        QVERIFY(ask(s, "MAIL FROM:<user4@korimo.test>").startsWith("250"));
        QVERIFY(ask(s, "RCPT TO:<someone@example.com>").startsWith("554")); // nothing is relayed
        QVERIFY(ask(s, "RCPT TO:<user4@korimo.test>").startsWith("250"));
        QVERIFY(ask(s, "DATA").startsWith("354") && ask(s, "Subject: smoke\r\n\r\nsmtp-5e1d\r\n.").startsWith("250"));
        QVERIFY2(servers_.waitForMessages(4, 1), qPrintable(servers_.logText()));
        QVERIFY(servers_.maildirMessage(4, 0).contains("smtp-5e1d"));
    }

    void stopEndsOnlyThatInstance() {
        TestMailServers other;
        QVERIFY2(other.start(false), qPrintable(other.errorText()));
        const int port = other.pop3Port();
        other.stop();
        for (const int p : {port, servers_.pop3Port()}) {
            QTcpSocket s;
            s.connectToHost(servers_.host(), quint16(p));
            QCOMPARE(s.waitForConnected(2000), p == servers_.pop3Port());
        }
    }

private:
    TestMailServers servers_;
};

QTEST_GUILESS_MAIN(TestMailServersSmoke)
#include "tst_mailservers.moc"
