// SendMail against a scripted SMTP server on loopback: what is sent, in which order, and what is never
// sent (AUTH in the clear, an injected RCPT, anything at all after a refused argument).
#include "mimeReader.h"
#include "realMailTransport.h"
#include "smtpSender.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QTest>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace korimo;

namespace {

// One-connection SMTP server speaking from a script; records every line the client sends.
class FakeSmtp {
public:
    struct Script {
        bool greet = true;
        QByteArray ehlo = "250-fake.example\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n";
        QByteArray auth = "235 2.7.0 Authentication successful\r\n";
        QByteArray rcpt = "250 2.1.5 Ok\r\n";
        QByteArray dataReply = "250 2.0.0 Ok: queued\r\n"; // empty: hang up after the body
    };

    explicit FakeSmtp(Script script) : script_(std::move(script)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listen_, 4) == 0 &&
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeSmtp() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }

    int port() const { return port_; }
    bool connected() const { return connected_; }
    QList<QByteArray> lines() const {
        QMutexLocker lock(&mutex_);
        return lines_;
    }
    QByteArray data() const {
        QMutexLocker lock(&mutex_);
        return data_;
    }
    bool sawCommand(const QByteArray& verb) const {
        for (const QByteArray& l : lines()) {
            if (l.toUpper().startsWith(verb))
                return true;
        }
        return false;
    }

private:
    // Reads one line (with its CR LF) or returns false when the client is gone or we are stopping.
    bool readLine(int fd, QByteArray& line) {
        line.clear();
        while (!stop_) {
            const qsizetype nl = buffer_.indexOf('\n');
            if (nl >= 0) {
                line = buffer_.left(nl + 1);
                buffer_.remove(0, nl + 1);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            buffer_.append(chunk, n);
        }
        return false;
    }
    static void say(int fd, const QByteArray& text) {
        if (::write(fd, text.constData(), static_cast<size_t>(text.size())) < 0)
            return;
    }

    void serve() {
        int fd = -1;
        while (!stop_ && fd < 0) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                fd = ::accept(listen_, nullptr, nullptr);
        }
        if (fd < 0)
            return;
        connected_ = true;
        if (script_.greet)
            say(fd, "220 fake.example ESMTP\r\n");
        QByteArray line;
        int authSteps = 0;
        while (readLine(fd, line)) {
            {
                QMutexLocker lock(&mutex_);
                lines_.append(line);
            }
            if (!script_.greet)
                continue;
            const QByteArray verb = line.left(4).toUpper();
            if (authSteps > 0) {
                say(fd, --authSteps > 0 ? QByteArray("334 UGFzc3dvcmQ6\r\n") : script_.auth);
            } else if (verb == "EHLO") {
                say(fd, script_.ehlo);
            } else if (verb == "AUTH") {
                const QList<QByteArray> words = line.trimmed().split(' ');
                const bool login = words.value(1).toUpper() == "LOGIN";
                if (words.size() > 2 && !login)
                    say(fd, script_.auth);
                else {
                    authSteps = login ? 2 : 1;
                    say(fd, login ? QByteArray("334 VXNlcm5hbWU6\r\n") : QByteArray("334 \r\n"));
                }
            } else if (verb == "MAIL") {
                say(fd, "250 2.1.0 Ok\r\n");
            } else if (verb == "RCPT") {
                say(fd, script_.rcpt);
            } else if (verb == "DATA") {
                say(fd, "354 End data with <CR><LF>.<CR><LF>\r\n");
                QByteArray body;
                while (readLine(fd, line) && line != ".\r\n")
                    body += line;
                {
                    QMutexLocker lock(&mutex_);
                    data_ = body;
                }
                if (script_.dataReply.isEmpty())
                    break;
                say(fd, script_.dataReply);
            } else if (verb == "NOOP") {
                say(fd, "250 2.0.0 Ok\r\n");
            } else if (verb == "QUIT") {
                say(fd, "221 2.0.0 Bye\r\n");
                break;
            } else {
                say(fd, "502 5.5.2 Error: command not recognized\r\n");
            }
        }
        ::close(fd);
    }

    Script script_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> connected_{false};
    std::thread thread_;
    QByteArray buffer_;
    mutable QMutex mutex_;
    QList<QByteArray> lines_;
    QByteArray data_;
};

TransportOptions quickOptions() {
    TransportOptions o;
    o.connectTimeoutMs = 2000;
    o.readTimeoutMs = 1500;
    return o;
}

QString plain(int port, const QByteArray& userPart = {}) {
    return QStringLiteral("smtp://") + QString::fromUtf8(userPart) + QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace

class TestSmtp : public QObject {
    Q_OBJECT
private slots:
    void sendsEnvelopeAndDotStuffedData() {
        FakeSmtp server({});
        QVERIFY(server.port() > 0);
        RealMailTransport transport(quickOptions());
        const QString body = QStringLiteral("一行目①\r\n.\r\n.hidden?\r\n最後");
        const QString result =
            transport.SendMail(plain(server.port()), QStringLiteral("a@example.com\t\tb@example.org\t"),
                               QStringLiteral("me@example.com"), QStringLiteral("件名"), body, {});
        QCOMPARE(result, QString());
        QList<QByteArray> envelope;
        for (const QByteArray& l : server.lines()) {
            if (l.startsWith("MAIL") || l.startsWith("RCPT"))
                envelope.append(l);
        }
        QCOMPARE(envelope.size(), 3);
        QVERIFY(envelope[0].startsWith("MAIL FROM:<me@example.com>"));
        QCOMPARE(envelope[1], QByteArray("RCPT TO:<a@example.com>\r\n"));
        QCOMPARE(envelope[2], QByteArray("RCPT TO:<b@example.org>\r\n"));
        QVERIFY(!server.sawCommand("AUTH")); // no credentials known: no AUTH
        const QByteArray data = server.data();
        QVERIFY(data.contains("\r\n..\r\n..hidden?\r\n")); // dot-stuffed once on the wire
        QByteArray unstuffed = data;
        unstuffed.replace("\r\n..", "\r\n.");
        const MimeMessage m = readMime(unstuffed);
        QCOMPARE(m.subject, QStringLiteral("件名"));
        // SMTP carries lines: a 7bit text that did not end with a line end arrives with one.
        QCOMPARE(m.body, body + QStringLiteral("\r\n"));
    }

    void authUsesTheServerTextsUserPart() {
        FakeSmtp server({});
        RealMailTransport transport(quickOptions());
        QCOMPARE(transport.SendMail(plain(server.port(), "taro:secret@"), QStringLiteral("a@example.com"),
                                    QStringLiteral("me@example.com"), QStringLiteral("s"), QStringLiteral("b"), {}),
                 QString());
        QVERIFY(server.sawCommand("AUTH"));
    }

    void authUsesTheSendersMailbox() {
        FakeSmtp server({});
        TransportOptions options = quickOptions();
        options.accounts = {
            {QStringLiteral("pop.example.com"), QStringLiteral("me@example.com"), QStringLiteral("pw")}};
        RealMailTransport transport(options);
        QCOMPARE(transport.SendMail(plain(server.port()), QStringLiteral("a@example.com"),
                                    QStringLiteral("me@example.com"), QStringLiteral("s"), QStringLiteral("b"), {}),
                 QString());
        QByteArray credentials;
        for (const QByteArray& l : server.lines()) {
            if (l.startsWith("AUTH PLAIN ") && l.trimmed().size() > 11)
                credentials = QByteArray::fromBase64(l.trimmed().mid(11));
        }
        const QList<QByteArray> lines = server.lines();
        for (qsizetype i = 0; i + 1 < lines.size() && credentials.isEmpty(); ++i) {
            if (lines[i].trimmed() == "AUTH PLAIN")
                credentials = QByteArray::fromBase64(lines[i + 1].trimmed());
        }
        QCOMPARE(credentials, QByteArray("\0me@example.com\0pw", 18));
    }

    void wrongPasswordIsAnError() {
        FakeSmtp::Script script;
        script.auth = "535 5.7.8 Error: authentication failed\r\n";
        FakeSmtp server(script);
        RealMailTransport transport(quickOptions());
        const QString result =
            transport.SendMail(plain(server.port(), "taro:wrong@"), QStringLiteral("a@example.com"),
                               QStringLiteral("me@example.com"), QStringLiteral("s"), QStringLiteral("b"), {});
        QVERIFY(result.contains(QStringLiteral("認証")));
        QVERIFY(!server.sawCommand("MAIL"));
    }

    void refusedRecipientIsAnError() {
        FakeSmtp::Script script;
        script.rcpt = "550 5.1.1 <a@example.com>: Recipient address rejected\r\n";
        FakeSmtp server(script);
        RealMailTransport transport(quickOptions());
        const QString result =
            transport.SendMail(plain(server.port()), QStringLiteral("a@example.com"), QStringLiteral("me@example.com"),
                               QStringLiteral("s"), QStringLiteral("b"), {});
        QVERIFY(!result.isEmpty());
        QVERIFY(result.contains(QStringLiteral("550")));
        QVERIFY(!server.sawCommand("DATA"));
    }

    // A bare host means STARTTLS is required: a server that does not offer it gets no AUTH and no mail.
    void startTlsRequiredButNotOffered() {
        FakeSmtp server({});
        RealMailTransport transport(quickOptions());
        const QString result = transport.SendMail(QStringLiteral("taro:secret@127.0.0.1:%1").arg(server.port()),
                                                  QStringLiteral("a@example.com"), QStringLiteral("me@example.com"),
                                                  QStringLiteral("s"), QStringLiteral("b"), {});
        QVERIFY(result.contains(QStringLiteral("STARTTLS")));
        QVERIFY(server.sawCommand("EHLO"));
        QVERIFY(!server.sawCommand("AUTH"));
        QVERIFY(!server.sawCommand("MAIL"));
        for (const QByteArray& l : server.lines())
            QVERIFY(!l.contains(QByteArray("secret").toBase64()) && !l.contains("secret"));
    }

    // Arguments that are refused never open a connection.
    void refusedBeforeConnecting_data() {
        QTest::addColumn<QString>("recipients");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("subject");
        QTest::newRow("CR LF in a recipient") << "a@example.com\r\nRCPT TO:<evil@example.com>"
                                              << "me@example.com"
                                              << "s";
        QTest::newRow("only empty entries") << "\t\t"
                                            << "me@example.com"
                                            << "s";
        QTest::newRow("LF in the sender") << "a@example.com"
                                          << "me@example.com\nx"
                                          << "s";
        QTest::newRow("CR LF in the subject") << "a@example.com"
                                              << "me@example.com"
                                              << "s\r\nBcc: x@example.com";
    }
    void refusedBeforeConnecting() {
        QFETCH(QString, recipients);
        QFETCH(QString, sender);
        QFETCH(QString, subject);
        FakeSmtp server({});
        RealMailTransport transport(quickOptions());
        const QString result =
            transport.SendMail(plain(server.port()), recipients, sender, subject, QStringLiteral("b"), {});
        QVERIFY(!result.isEmpty());
        QTest::qWait(100);
        QVERIFY(!server.connected());
    }

    void silentServerTimesOut() {
        FakeSmtp::Script script;
        script.greet = false;
        FakeSmtp server(script);
        RealMailTransport transport(quickOptions());
        QElapsedTimer timer;
        timer.start();
        const QString result =
            transport.SendMail(plain(server.port()), QStringLiteral("a@example.com"), QStringLiteral("me@example.com"),
                               QStringLiteral("s"), QStringLiteral("b"), {});
        QVERIFY(!result.isEmpty());
        QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
    }

    // The server's last word about the body decides: its reply, or none at all when the connection
    // breaks after the body, in which case the message may have been queued.
    void outcomeAfterTheBody_data() {
        QTest::addColumn<QByteArray>("dataReply");
        QTest::addColumn<QString>("expected"); // "" success, else a text the result contains
        QTest::newRow("queued") << QByteArray("250 2.0.0 Ok: queued\r\n") << QString();
        QTest::newRow("refused") << QByteArray("554 5.7.1 Rejected\r\n") << QStringLiteral("554");
        QTest::newRow("hung up before the reply") << QByteArray() << QStringLiteral("可能性があります");
    }
    void outcomeAfterTheBody() {
        QFETCH(QByteArray, dataReply);
        QFETCH(QString, expected);
        FakeSmtp::Script script;
        script.dataReply = dataReply;
        FakeSmtp server(script);
        RealMailTransport transport(quickOptions());
        const QString result =
            transport.SendMail(plain(server.port()), QStringLiteral("a@example.com"), QStringLiteral("me@example.com"),
                               QStringLiteral("s"), QStringLiteral("b"), {});
        QVERIFY(server.data().contains("\r\n\r\nb\r\n"));
        if (expected.isEmpty())
            QCOMPARE(result, QString());
        else
            QVERIFY2(result.contains(expected), qPrintable(result));
        // Only a missing reply leaves the outcome open; a refusal is a plain failure.
        QCOMPARE(isUnknownOutcome(result), dataReply.isEmpty());
    }

    // A local part beyond ASCII travels only under SMTPUTF8; without it nothing of the message is sent.
    void nonAsciiLocalPart_data() {
        QTest::addColumn<QByteArray>("ehlo");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<bool>("sent");
        const QByteArray utf8 = "250-fake.example\r\n250-SMTPUTF8\r\n250 8BITMIME\r\n";
        const QByteArray plainEhlo = "250-fake.example\r\n250 8BITMIME\r\n";
        QTest::newRow("recipient, offered") << utf8 << "用户@example.jp"
                                            << "me@example.com" << true;
        QTest::newRow("sender, offered") << utf8 << "a@example.com"
                                         << "用户@example.jp" << true;
        QTest::newRow("recipient, not offered") << plainEhlo << "用户@example.jp"
                                                << "me@example.com" << false;
        QTest::newRow("sender, not offered") << plainEhlo << "a@example.com"
                                             << "用户@example.jp" << false;
        QTest::newRow("domain only, not offered") << plainEhlo << "a@例え.jp"
                                                  << "me@example.com" << true;
    }
    void nonAsciiLocalPart() {
        QFETCH(QByteArray, ehlo);
        QFETCH(QString, recipient);
        QFETCH(QString, sender);
        QFETCH(bool, sent);
        FakeSmtp::Script script;
        script.ehlo = ehlo;
        FakeSmtp server(script);
        RealMailTransport transport(quickOptions());
        const QString result =
            transport.SendMail(plain(server.port()), recipient, sender, QStringLiteral("s"), QStringLiteral("b"), {});
        QCOMPARE(server.sawCommand("MAIL"), sent);
        if (!sent) {
            QVERIFY2(result.contains(QStringLiteral("SMTPUTF8")), qPrintable(result));
            return;
        }
        QCOMPARE(result, QString());
        QVERIFY(server.sawCommand("DATA"));
        for (const QByteArray& l : server.lines()) {
            if (l.startsWith("MAIL"))
                QCOMPARE(l.contains(" SMTPUTF8"), ehlo.contains("SMTPUTF8"));
            if (l.startsWith("RCPT"))
                QVERIFY2(!l.contains("例え"), l.constData()); // the domain goes as its ASCII form
        }
    }

    void nobodyListeningIsAnError() {
        int port = 0;
        {
            FakeSmtp gone({});
            port = gone.port();
        }
        RealMailTransport transport(quickOptions());
        const QString result =
            transport.SendMail(plain(port), QStringLiteral("a@example.com"), QStringLiteral("me@example.com"),
                               QStringLiteral("s"), QStringLiteral("b"), {});
        QVERIFY(result.contains(QStringLiteral("接続")));
    }
};

QTEST_GUILESS_MAIN(TestSmtp)
#include "tst_smtp.moc"
