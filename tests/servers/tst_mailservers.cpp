// The private mail servers the transport and window tests run against: POP3 over STLS and
// implicit TLS checked against the instance's own CA, quick refusals, exact message bytes,
// SMTP delivery into the same Maildirs, the submission rules, no relaying, parallel instances.
#include "testMailServers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <thread>

using korimo::test::TestMailServers;

namespace {

constexpr int kTimeoutMs = 5000;

// A line-oriented POP3/SMTP client for the dialogues below; every wait is bounded.
class Dialogue {
public:
    // caFile empty: the system's trust store, as a client without our CA would have.
    explicit Dialogue(const QString& caFile = {}) {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        if (!caFile.isEmpty())
            conf.setCaCertificates(QSslCertificate::fromPath(caFile));
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        sock_.setSslConfiguration(conf);
    }

    bool connectPlain(int port) {
        sock_.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        return sock_.waitForConnected(kTimeoutMs);
    }
    bool connectTls(int port, const QString& peerName = {}) {
        sock_.connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(port), peerName);
        return sock_.waitForEncrypted(kTimeoutMs);
    }
    bool startTls() {
        sock_.startClientEncryption();
        return sock_.waitForEncrypted(kTimeoutMs);
    }
    QList<QSslError> tlsErrors() const { return sock_.sslHandshakeErrors(); }
    bool isEncrypted() const { return sock_.isEncrypted(); }

    void send(const QByteArray& bytes) {
        sock_.write(bytes);
        sock_.flush();
    }
    // One line with its CR LF; empty on timeout or a closed connection.
    QByteArray line() {
        QElapsedTimer timer;
        timer.start();
        while (!sock_.canReadLine()) {
            const qint64 left = kTimeoutMs - timer.elapsed();
            if (left <= 0 || (!sock_.waitForReadyRead(static_cast<int>(left)) && !sock_.canReadLine()))
                return {};
        }
        return sock_.readLine();
    }
    QByteArray command(const QByteArray& cmd) {
        send(cmd + "\r\n");
        return line();
    }
    // The lines of a POP3 multi-line answer up to the terminating ".", dot-stuffing undone.
    QByteArray multiline(bool* complete = nullptr) {
        QByteArray body;
        for (;;) {
            QByteArray l = line();
            if (l.isEmpty()) {
                if (complete)
                    *complete = false;
                return body;
            }
            if (l == ".\r\n")
                break;
            if (l.startsWith('.'))
                l.remove(0, 1);
            body += l;
        }
        if (complete)
            *complete = true;
        return body;
    }
    // An SMTP reply, all its lines; the last one has a space after the code.
    QByteArray smtpReply() {
        QByteArray reply;
        for (;;) {
            const QByteArray l = line();
            reply += l;
            if (l.size() < 4 || l.at(3) == ' ')
                return reply;
        }
    }
    QByteArray smtp(const QByteArray& cmd) {
        send(cmd + "\r\n");
        return smtpReply();
    }

private:
    QSslSocket sock_;
};

QByteArray authPlain(const QString& user, const QString& password) {
    return (QByteArray(1, '\0') + user.toUtf8() + QByteArray(1, '\0') + password.toUtf8()).toBase64();
}

// A CR LF message with a line that needs dot-stuffing and a non-ASCII (ISO-2022-JP) subject.
QByteArray sampleMessage(const QByteArray& token) {
    return "From: sender@example.org\r\n"
           "To: someone@korimo.test\r\n"
           "Subject: =?ISO-2022-JP?B?GyRCJDMkaiRiGyhC?=\r\n"
           "Message-ID: <" +
           token +
           "@korimo.test>\r\n"
           "\r\n"
           "first line " +
           token +
           "\r\n"
           ".a line that starts with a dot\r\n"
           "..two dots\r\n"
           "last line\r\n";
}

} // namespace

class TestMailServersHarness : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(servers_.start(), qPrintable(servers_.errorText()));
        qInfo("mail servers started in %lld ms (SMTP: %s)", static_cast<long long>(timer.elapsed()),
              servers_.hasSmtp() ? "yes" : "no");
        QCOMPARE(servers_.hasSmtp(), TestMailServers::canRunSmtp());
        QVERIFY(QFileInfo::exists(servers_.caFile()));
        QCOMPARE(servers_.address(3), QStringLiteral("user3@korimo.test"));
    }

    void pop3OffersStlsAndLogsInOverIt() {
        Dialogue d(servers_.caFile());
        QVERIFY(d.connectPlain(servers_.pop3Port()));
        QVERIFY(d.line().startsWith("+OK"));
        QVERIFY(d.command("CAPA").startsWith("+OK"));
        bool complete = false;
        const QList<QByteArray> caps = d.multiline(&complete).split('\n');
        QVERIFY(complete);
        auto has = [&caps](const QByteArray& cap) {
            return std::any_of(caps.begin(), caps.end(), [&cap](const QByteArray& c) { return c.trimmed() == cap; });
        };
        QVERIFY(has("PIPELINING"));
        QVERIFY(has("STLS"));
        QVERIFY(has("UIDL"));
        QVERIFY(has("TOP"));
        QVERIFY(has("USER"));
        QVERIFY(has("SASL PLAIN LOGIN"));

        QVERIFY(d.command("STLS").startsWith("+OK"));
        QVERIFY2(d.startTls(), "the server certificate did not verify against the instance's CA");
        QVERIFY(d.tlsErrors().isEmpty());
        QVERIFY(d.command("USER user1").startsWith("+OK"));
        QVERIFY(d.command("PASS pass1").startsWith("+OK"));
        QVERIFY(d.command("QUIT").startsWith("+OK"));
    }

    void pop3sChecksTheCertificate_data() {
        QTest::addColumn<bool>("withCa");
        QTest::addColumn<QString>("peerName");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("our CA, IP address") << true << QString() << true;
        QTest::newRow("our CA, localhost") << true << QStringLiteral("localhost") << true;
        QTest::newRow("our CA, another name") << true << QStringLiteral("mail.example.org") << false;
        QTest::newRow("system store only") << false << QString() << false;
    }
    void pop3sChecksTheCertificate() {
        QFETCH(bool, withCa);
        QFETCH(QString, peerName);
        QFETCH(bool, trusted);
        Dialogue d(withCa ? servers_.caFile() : QString());
        QCOMPARE(d.connectTls(servers_.pop3sPort(), peerName), trusted);
        if (!trusted) {
            QVERIFY(!d.tlsErrors().isEmpty());
            return;
        }
        QVERIFY(d.line().startsWith("+OK"));
        QVERIFY(d.command("AUTH PLAIN " + authPlain(TestMailServers::user(1), TestMailServers::password(1)))
                    .startsWith("+OK"));
        QVERIFY(d.command("STAT").startsWith("+OK"));
    }

    void wrongPasswordIsRefusedQuickly_data() {
        QTest::addColumn<QByteArray>("wrong");
        QTest::addColumn<QByteArray>("right");
        QTest::newRow("USER/PASS") << QByteArray("PASS nope") << QByteArray("PASS pass2");
        QTest::newRow("AUTH PLAIN") << ("AUTH PLAIN " + authPlain("user2", "nope"))
                                    << ("AUTH PLAIN " + authPlain("user2", "pass2"));
        QTest::newRow("unknown user") << QByteArray("PASS pass2") << QByteArray();
    }
    void wrongPasswordIsRefusedQuickly() {
        QFETCH(QByteArray, wrong);
        QFETCH(QByteArray, right);
        Dialogue d;
        QVERIFY(d.connectPlain(servers_.pop3Port()));
        QVERIFY(d.line().startsWith("+OK"));
        const QByteArray user = right.isEmpty() ? "USER nosuchuser" : "USER user2";
        // Twice: a penalty would show on the second attempt.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (wrong.startsWith("PASS"))
                QVERIFY(d.command(user).startsWith("+OK"));
            QElapsedTimer timer;
            timer.start();
            const QByteArray reply = d.command(wrong);
            QVERIFY2(reply.startsWith("-ERR"), reply.constData());
            QVERIFY2(timer.elapsed() < 1000, qPrintable(QStringLiteral("refusal took %1 ms").arg(timer.elapsed())));
        }
        if (!right.isEmpty()) {
            if (right.startsWith("PASS"))
                QVERIFY(d.command(user).startsWith("+OK"));
            QVERIFY(d.command(right).startsWith("+OK"));
        }
    }

    void apopLogsIn() {
        Dialogue d;
        QVERIFY(d.connectPlain(servers_.pop3Port()));
        const QByteArray greeting = d.line();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("<[^<>]+@[^<>]+>")).match(QString::fromLatin1(greeting));
        QVERIFY2(m.hasMatch(), greeting.constData());
        const QByteArray stamp = m.captured().toLatin1();
        auto digest = [&stamp](const QByteArray& pass) {
            return QCryptographicHash::hash(stamp + pass, QCryptographicHash::Md5).toHex();
        };
        QVERIFY(d.command("APOP user2 " + digest("wrong")).startsWith("-ERR"));
        QVERIFY(d.command("APOP user2 " + digest("pass2")).startsWith("+OK"));
    }

    void deliveredMessageIsListedAndRetrievedExactly() {
        const QByteArray first = sampleMessage("first-9f2c");
        const QByteArray second = sampleMessage("second-77ab") + "\r\nmore text\r\n";
        QString firstPath;
        QVERIFY(servers_.deliver(2, first, &firstPath));
        QVERIFY(servers_.deliver(2, second));
        QCOMPARE(servers_.maildirFiles(2).size(), 2);
        QCOMPARE(servers_.maildirMessage(2, 0), first);

        QByteArray uidls;
        for (int session = 0; session < 2; ++session) {
            Dialogue d;
            QVERIFY(d.connectPlain(servers_.pop3Port()));
            QVERIFY(d.line().startsWith("+OK"));
            // Pipelined, as the program's client sends them.
            d.send("USER user2\r\nPASS pass2\r\nSTAT\r\nLIST 1\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nQUIT\r\n");
            QVERIFY(d.line().startsWith("+OK"));
            QVERIFY(d.line().startsWith("+OK"));
            QCOMPARE(d.line(),
                     QByteArray("+OK 2 %1\r\n").replace("%1", QByteArray::number(first.size() + second.size())));
            QCOMPARE(d.line(), QByteArray("+OK 1 %1\r\n").replace("%1", QByteArray::number(first.size())));
            QVERIFY(d.line().startsWith("+OK"));
            bool complete = false;
            const QByteArray list = d.multiline(&complete);
            QVERIFY(complete);
            if (session == 0)
                uidls = list;
            else
                QCOMPARE(list, uidls); // stable across sessions
            QVERIFY(d.line().startsWith("+OK"));
            QCOMPARE(d.multiline(&complete), first);
            QVERIFY(complete);
            QVERIFY(d.line().startsWith("+OK"));
            QCOMPARE(d.multiline(&complete), second);
            QVERIFY(d.line().startsWith("+OK"));
        }
        // The UIDL is the Maildir file's base name.
        QVERIFY2(uidls.startsWith("1 " + QFileInfo(firstPath).fileName().toLatin1() + "\r\n"), uidls.constData());
        QCOMPARE(servers_.maildirFiles(2).size(), 2);

        // Emptied behind Dovecot's back, the mailbox reads as empty in the next session.
        QVERIFY(servers_.clearMaildir(2));
        QVERIFY(servers_.maildirFiles(2).isEmpty());
        Dialogue d;
        QVERIFY(d.connectPlain(servers_.pop3Port()));
        QVERIFY(d.line().startsWith("+OK"));
        d.send("USER user2\r\nPASS pass2\r\nSTAT\r\n");
        QVERIFY(d.line().startsWith("+OK"));
        QVERIFY(d.line().startsWith("+OK"));
        QCOMPARE(d.line(), QByteArray("+OK 0 0\r\n"));
    }

    void scriptDeliversIntoNew() {
        QTemporaryFile file;
        QVERIFY(file.open());
        const QByteArray message = "Subject: from the script\n\nline one\n.line two\n";
        file.write(message);
        file.close();
        bool ok = false;
        const QString out = servers_.runScript(
            {QStringLiteral("deliver"), servers_.directory(), QStringLiteral("user1"), file.fileName()}, &ok);
        QVERIFY2(ok, qPrintable(out));
        const QString path = out.trimmed();
        QCOMPARE(QFileInfo(path).dir().path(), servers_.maildir(1) + QStringLiteral("/new"));
        QCOMPARE(servers_.maildirFiles(1), QStringList{path});
        QCOMPARE(servers_.maildirMessage(1, 0), message);
        QVERIFY(QDir(servers_.maildir(1) + QStringLiteral("/tmp")).isEmpty());

        // Dovecot serves LF files with CR LF and dot-stuffing.
        Dialogue d;
        QVERIFY(d.connectPlain(servers_.pop3Port()));
        QVERIFY(d.line().startsWith("+OK"));
        d.send("USER user1\r\nPASS pass1\r\nRETR 1\r\n");
        QVERIFY(d.line().startsWith("+OK"));
        QVERIFY(d.line().startsWith("+OK"));
        QVERIFY(d.line().startsWith("+OK"));
        QCOMPARE(d.multiline(), QByteArray(message).replace("\n", "\r\n"));
        QVERIFY(servers_.clearMaildir(1));

        // Unknown or path-like users and missing files are refused.
        const QList<QStringList> refused = {
            {QStringLiteral("user9"), file.fileName()},
            {QStringLiteral("../mail/user1"), file.fileName()},
            {QStringLiteral("user1"), file.fileName() + QStringLiteral(".gone")},
        };
        for (const QStringList& args : refused) {
            servers_.runScript(QStringList{QStringLiteral("deliver"), servers_.directory()} + args, &ok);
            QVERIFY2(!ok, qPrintable(args.join(QLatin1Char(' '))));
        }
        QVERIFY(servers_.maildirFiles(1).isEmpty());
    }

    void scriptKeepsOneInstancePerFolder() {
        bool ok = true;
        const QString out =
            servers_.runScript({QStringLiteral("start"), servers_.directory(), QStringLiteral("--no-smtp")}, &ok);
        QVERIFY(!ok);
        QVERIFY2(out.contains(QStringLiteral("already holds an instance")), qPrintable(out));
        Dialogue d;
        QVERIFY(d.connectPlain(servers_.pop3Port()));
        QVERIFY(d.line().startsWith("+OK"));

        // Stopping a folder that holds no servers is no error.
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        servers_.runScript({QStringLiteral("stop"), empty.path()}, &ok);
        QVERIFY(ok);
    }

    void smtpPlainPortDeliversIntoTheMaildir() {
        if (!servers_.hasSmtp())
            QSKIP("Postfix needs root");
        Dialogue d;
        QVERIFY(d.connectPlain(servers_.smtpPort()));
        QVERIFY(d.smtpReply().startsWith("220"));
        const QByteArray ehlo = d.smtp("EHLO client.korimo.test");
        QVERIFY(ehlo.startsWith("250"));
        QVERIFY(ehlo.contains("PIPELINING"));
        QVERIFY(ehlo.contains("STARTTLS"));
        QVERIFY2(!ehlo.contains("AUTH"), "the plain port offers no AUTH");
        QVERIFY(d.smtp("MAIL FROM:<sender@example.org>").startsWith("250"));
        QVERIFY(d.smtp("RCPT TO:<user3@korimo.test>").startsWith("250"));
        QVERIFY(d.smtp("DATA").startsWith("354"));
        const QByteArray message = sampleMessage("smtp-5e1d");
        QByteArray stuffed = message;
        stuffed.replace("\r\n.", "\r\n..");
        QVERIFY(d.smtp(stuffed + ".").startsWith("250"));
        QVERIFY(d.smtp("QUIT").startsWith("221"));

        QVERIFY2(servers_.waitForMessages(3, 1), qPrintable(servers_.logText()));
        const QByteArray stored = servers_.maildirMessage(3, 0);
        QVERIFY(stored.contains("Delivered-To: user3@korimo.test"));
        QVERIFY(stored.contains("first line smtp-5e1d"));
        QVERIFY(stored.contains("\n.a line that starts with a dot"));

        // And the POP3 side serves it.
        Dialogue pop;
        QVERIFY(pop.connectPlain(servers_.pop3Port()));
        QVERIFY(pop.line().startsWith("+OK"));
        QVERIFY(pop.command("USER user3").startsWith("+OK"));
        QVERIFY(pop.command("PASS pass3").startsWith("+OK"));
        QVERIFY(pop.command("RETR 1").startsWith("+OK"));
        QVERIFY(pop.multiline().contains("..two dots\r\nlast line\r\n"));
    }

    void submissionNeedsTlsThenAuth() {
        if (!servers_.hasSmtp())
            QSKIP("Postfix needs root");
        Dialogue d(servers_.caFile());
        QVERIFY(d.connectPlain(servers_.submissionPort()));
        QVERIFY(d.smtpReply().startsWith("220"));
        const QByteArray plainEhlo = d.smtp("EHLO client.korimo.test");
        QVERIFY(plainEhlo.contains("STARTTLS"));
        QVERIFY(!plainEhlo.contains("AUTH"));
        QVERIFY(d.smtp("AUTH PLAIN " + authPlain("user4", "pass4")).startsWith("530"));
        QVERIFY(d.smtp("MAIL FROM:<user4@korimo.test>").startsWith("530"));

        QVERIFY(d.smtp("STARTTLS").startsWith("220"));
        QVERIFY(d.startTls());
        const QByteArray tlsEhlo = d.smtp("EHLO client.korimo.test");
        QVERIFY(tlsEhlo.contains("AUTH PLAIN LOGIN"));
        // Without AUTH not even the test domain is accepted.
        QVERIFY(d.smtp("MAIL FROM:<user4@korimo.test>").startsWith("250"));
        QVERIFY(d.smtp("RCPT TO:<user4@korimo.test>").startsWith("554"));
        QVERIFY(d.smtp("RSET").startsWith("250"));
        QVERIFY(d.smtp("AUTH PLAIN " + authPlain("user4", "wrong")).startsWith("535"));
        QVERIFY(d.smtp("AUTH PLAIN " + authPlain("user4", "pass4")).startsWith("235"));
        QVERIFY(d.smtp("MAIL FROM:<user4@korimo.test>").startsWith("250"));
        QVERIFY(d.smtp("RCPT TO:<user4@korimo.test>").startsWith("250"));
        QVERIFY(d.smtp("DATA").startsWith("354"));
        QVERIFY(d.smtp("Subject: submitted\r\n\r\nsubmission-31c8\r\n.").startsWith("250"));
        QVERIFY2(servers_.waitForMessages(4, 1), qPrintable(servers_.logText()));
        QVERIFY(servers_.maildirMessage(4, 0).contains("submission-31c8"));
    }

    void smtpsTakesAuthLogin() {
        if (!servers_.hasSmtp())
            QSKIP("Postfix needs root");
        Dialogue d(servers_.caFile());
        QVERIFY(d.connectTls(servers_.smtpsPort()));
        QVERIFY(d.smtpReply().startsWith("220"));
        QVERIFY(d.smtp("EHLO client.korimo.test").contains("AUTH PLAIN LOGIN"));
        QVERIFY(d.smtp("AUTH LOGIN").startsWith("334"));
        QVERIFY(d.smtp(QByteArray("user5").toBase64()).startsWith("334"));
        QVERIFY(d.smtp(QByteArray("pass5").toBase64()).startsWith("235"));
        QVERIFY(d.smtp("MAIL FROM:<user5@korimo.test>").startsWith("250"));
        QVERIFY(d.smtp("RCPT TO:<user5@korimo.test>").startsWith("250"));
        QVERIFY(d.smtp("DATA").startsWith("354"));
        QVERIFY(d.smtp("Subject: implicit\r\n\r\nsmtps-a0b4\r\n.").startsWith("250"));
        QVERIFY2(servers_.waitForMessages(5, 1), qPrintable(servers_.logText()));
        QVERIFY(servers_.maildirMessage(5, 0).contains("smtps-a0b4"));
    }

    void nothingIsRelayed_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QByteArray>("recipient");
        QTest::addColumn<QByteArray>("code");
        QTest::newRow("plain, outside domain") << "smtp" << QByteArray("someone@example.com") << QByteArray("554");
        QTest::newRow("plain, unknown user") << "smtp" << QByteArray("nobody@korimo.test") << QByteArray("550");
        QTest::newRow("plain, source route") << "smtp" << QByteArray("@korimo.test:x@example.com") << QByteArray("554");
        QTest::newRow("plain, percent hack") << "smtp" << QByteArray("x%example.com@korimo.test") << QByteArray("554");
        QTest::newRow("submission, outside domain")
            << "submission" << QByteArray("someone@example.com") << QByteArray("554");
        QTest::newRow("smtps, outside domain") << "smtps" << QByteArray("someone@example.com") << QByteArray("554");
    }
    void nothingIsRelayed() {
        if (!servers_.hasSmtp())
            QSKIP("Postfix needs root");
        QFETCH(QString, port);
        QFETCH(QByteArray, recipient);
        QFETCH(QByteArray, code);
        Dialogue d(servers_.caFile());
        if (port == QStringLiteral("smtps"))
            QVERIFY(d.connectTls(servers_.smtpsPort()));
        else
            QVERIFY(d.connectPlain(port == QStringLiteral("smtp") ? servers_.smtpPort() : servers_.submissionPort()));
        QVERIFY(d.smtpReply().startsWith("220"));
        QVERIFY(d.smtp("EHLO client.korimo.test").startsWith("250"));
        if (port == QStringLiteral("submission")) {
            QVERIFY(d.smtp("STARTTLS").startsWith("220"));
            QVERIFY(d.startTls());
            QVERIFY(d.smtp("EHLO client.korimo.test").startsWith("250"));
        }
        if (port != QStringLiteral("smtp"))
            QVERIFY(d.smtp("AUTH PLAIN " + authPlain("user1", "pass1")).startsWith("235"));
        QVERIFY(d.smtp("MAIL FROM:<user1@korimo.test>").startsWith("250"));
        const QByteArray reply = d.smtp("RCPT TO:<" + recipient + ">");
        QVERIFY2(reply.startsWith(code), reply.constData());
    }

    void listensOnLoopbackOnly() {
        // This machine's other addresses: a connection there stays on the machine.
        QList<QHostAddress> others;
        for (const QHostAddress& a : QNetworkInterface::allAddresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                others << a;
        if (others.isEmpty())
            QSKIP("no address besides loopback");
        QList<int> ports{servers_.pop3Port(), servers_.pop3sPort()};
        if (servers_.hasSmtp())
            ports << servers_.smtpPort() << servers_.submissionPort() << servers_.smtpsPort();
        for (const QHostAddress& address : others) {
            for (int port : ports) {
                QTcpSocket probe;
                probe.connectToHost(address, static_cast<quint16>(port));
                QVERIFY2(!probe.waitForConnected(1000),
                         qPrintable(QStringLiteral("%1:%2 answers").arg(address.toString()).arg(port)));
            }
        }
    }

    void twoInstancesRunSideBySide() {
        TestMailServers a;
        TestMailServers b;
        bool okA = false;
        bool okB = false;
        QElapsedTimer timer;
        timer.start();
        {
            std::thread ta([&] { okA = a.start(); });
            std::thread tb([&] { okB = b.start(); });
            ta.join();
            tb.join();
        }
        qInfo("two instances started side by side in %lld ms", static_cast<long long>(timer.elapsed()));
        QVERIFY2(okA, qPrintable(a.errorText()));
        QVERIFY2(okB, qPrintable(b.errorText()));

        QList<int> ports;
        for (const TestMailServers* s : {&servers_, &a, &b}) {
            ports << s->pop3Port() << s->pop3sPort();
            if (s->hasSmtp())
                ports << s->smtpPort() << s->submissionPort() << s->smtpsPort();
        }
        QList<int> unique = ports;
        std::sort(unique.begin(), unique.end());
        unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
        QCOMPARE(unique.size(), ports.size());
        QVERIFY(a.caFile() != b.caFile());

        QVERIFY(a.deliver(1, sampleMessage("only-in-a")));
        auto stat = [](const TestMailServers& s) {
            Dialogue d;
            if (!d.connectPlain(s.pop3Port()) || !d.line().startsWith("+OK"))
                return QByteArray("no connection");
            d.send("USER user1\r\nPASS pass1\r\nSTAT\r\n");
            d.line();
            d.line();
            return d.line().left(6);
        };
        QCOMPARE(stat(a), QByteArray("+OK 1 "));
        QCOMPARE(stat(b), QByteArray("+OK 0 "));

        // Stopping one leaves the other serving.
        const int bPort = b.pop3Port();
        b.stop();
        b.stop();
        QVERIFY(!b.isRunning());
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(bPort));
        QVERIFY(!probe.waitForConnected(1000));
        QCOMPARE(stat(a), QByteArray("+OK 1 "));
    }

private:
    TestMailServers servers_;
};

QTEST_GUILESS_MAIN(TestMailServersHarness)
#include "tst_mailservers.moc"
