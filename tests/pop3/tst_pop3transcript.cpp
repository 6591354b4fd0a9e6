// The POP3 client against a scripted server: the exact commands it sends, pipelined or one at a time,
// what it refuses to send, and how every kind of server failure ends up as a text result.
#include "pop3Protocol.h"
#include "realMailTransport.h"
#include "scriptedPop3Server.h"
#include "summaryRecord.h"
#include "uidlCache.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace korimo;
using S = korimo::test::ScriptedPop3Server;

Q_DECLARE_METATYPE(S::Script)

namespace {

QByteArray topReply(const QByteArray& subject, const QByteArray& from = "Taro <taro@example.jp>",
                    const QByteArray& date = "Mon, 7 Dec 2026 10:00:00 +0900") {
    return "+OK headers\r\nReturn-Path: <x@example.jp>\r\nSubject: " + subject + "\r\nFrom: " + from +
           "\r\nDate: " + date + "\r\n\r\n.\r\n";
}

QString record(const QString& subject, const QString& from = QStringLiteral("Taro <taro@example.jp>"),
               const QString& date = QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900")) {
    return buildSummaryRecord(subject, from, date);
}

// Greeting, CAPA without PIPELINING, USER/PASS: the classic dialogue.
S::Script classicLogin() {
    return {S::line("+OK ready"),        S::expectAlone("CAPA"), S::send("+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n"),
            S::expectAlone("USER taro"), S::line("+OK"),         S::expectAlone("PASS secret"),
            S::line("+OK logged in")};
}

// Greeting, CAPA with PIPELINING and SASL PLAIN.
S::Script pipelinedLogin() {
    return {S::line("+OK ready"), S::expect("CAPA"),
            S::send("+OK\r\nPIPELINING\r\nSASL PLAIN LOGIN\r\nUIDL\r\nTOP\r\n.\r\n"),
            S::expect("AUTH PLAIN " + QByteArray("\0taro\0secret", 12).toBase64()), S::line("+OK logged in")};
}

TransportOptions quickOptions(int readTimeoutMs = 3000) {
    TransportOptions o;
    o.connectTimeoutMs = 3000;
    o.readTimeoutMs = readTimeoutMs;
    return o;
}

QString plainServer(const S& server) {
    return QStringLiteral("pop3://127.0.0.1:%1").arg(server.port());
}

QStringList allEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

bool sentCredentials(const QList<QByteArray>& lines) {
    for (const QByteArray& l : lines)
        if (l.startsWith("USER") || l.startsWith("PASS") || l.startsWith("AUTH") || l.startsWith("APOP"))
            return true;
    return false;
}

} // namespace

class TestPop3Transcript : public QObject {
    Q_OBJECT
private slots:
    void listOneCommandAtATime() {
        S server({classicLogin() + S::Script{S::expectAlone("UIDL"), S::send("+OK\r\n1 a1\r\n2 a2\r\n.\r\n"),
                                             S::expectAlone("TOP 1 0"), S::send(topReply("Hello")),
                                             S::expectAlone("TOP 2 0"), S::send(topReply("Second")), S::expect("QUIT"),
                                             S::line("+OK bye")}});
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail2(plainServer(server), "taro", "secret", "LIST", QString());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QVERIFY2(r.isArray(), qPrintable(r.text()));
        QCOMPARE(r.items(), QStringList({record("Hello"), record("Second")}));
    }

    void listPipelinesTheHeaderRequests_data() {
        QTest::addColumn<S::Script>("count");
        QTest::newRow("UIDL") << S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n")};
        QTest::newRow("no UIDL: STAT") << S::Script{S::expect("UIDL"), S::line("-ERR no"), S::expect("STAT"),
                                                    S::line("+OK 3 900")};
    }
    void listPipelinesTheHeaderRequests() {
        QFETCH(S::Script, count);
        // The server reads all three TOP commands before it answers the first: a client that waited
        // for each reply would stall here.
        S server({pipelinedLogin() + count +
                  S::Script{S::expect("TOP 1 0"), S::expect("TOP 2 0"), S::expect("TOP 3 0"),
                            S::send(topReply("One") + topReply("Two") + topReply("Three")), S::expect("QUIT"),
                            S::line("+OK bye")}});
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail2(plainServer(server), "taro", "secret", "LIST", QString());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QCOMPARE(r.items(), QStringList({record("One"), record("Two"), record("Three")}));
    }

    void otherLoginMethods_data() {
        QTest::addColumn<S::Script>("login");
        // RFC 1939's own APOP example.
        QTest::newRow("APOP") << S::Script{
            S::line("+OK POP3 server ready <1896.697170952@dbc.mindspring.com>"), S::expect("CAPA"),
            S::line("-ERR what?"), S::expectAlone("APOP taro 3bb2a25fc1387c60fe0f855905965be0"), S::line("+OK")};
        // A refused APOP proves nothing when the user chose plaintext: the next mechanism follows.
        QTest::newRow("APOP refused, then SASL PLAIN")
            << S::Script{S::line("+OK ready <1.2@example.jp>"),
                         S::expect("CAPA"),
                         S::send("+OK\r\nSASL PLAIN\r\nUSER\r\n.\r\n"),
                         S::expectAlone("APOP taro " + korimo::pop3::apopDigest("<1.2@example.jp>", "tanstaaf")),
                         S::line("-ERR [AUTH] APOP not available"),
                         S::expectAlone("AUTH PLAIN " + QByteArray("\0taro\0tanstaaf", 14).toBase64()),
                         S::line("+OK")};
        QTest::newRow("APOP and PLAIN refused, then USER/PASS")
            << S::Script{S::line("+OK ready <1.2@example.jp>"),
                         S::expect("CAPA"),
                         S::send("+OK\r\nSASL PLAIN\r\nUSER\r\n.\r\n"),
                         S::expectAlone("APOP taro " + korimo::pop3::apopDigest("<1.2@example.jp>", "tanstaaf")),
                         S::line("-ERR no secret"),
                         S::expectAlone("AUTH PLAIN " + QByteArray("\0taro\0tanstaaf", 14).toBase64()),
                         S::line("-ERR [AUTH] no"),
                         S::expectAlone("USER taro"),
                         S::line("+OK"),
                         S::expectAlone("PASS tanstaaf"),
                         S::line("+OK")};
        QTest::newRow("AUTH LOGIN") << S::Script{S::line("+OK ready"),
                                                 S::expect("CAPA"),
                                                 S::send("+OK\r\nSASL LOGIN\r\n.\r\n"),
                                                 S::expectAlone("AUTH LOGIN"),
                                                 S::line("+ VXNlcm5hbWU6"),
                                                 S::expectAlone(QByteArray("taro").toBase64()),
                                                 S::line("+ UGFzc3dvcmQ6"),
                                                 S::expectAlone(QByteArray("tanstaaf").toBase64()),
                                                 S::line("+OK")};
        QTest::newRow("PLAIN asks for its response")
            << S::Script{S::line("+OK ready"),
                         S::expect("CAPA"),
                         S::send("+OK\r\nSASL PLAIN\r\n.\r\n"),
                         S::expect("AUTH PLAIN " + QByteArray("\0taro\0tanstaaf", 14).toBase64()),
                         S::line("+ "),
                         S::expect(QByteArray("\0taro\0tanstaaf", 14).toBase64()),
                         S::line("+OK")};
    }
    void otherLoginMethods() {
        QFETCH(S::Script, login);
        S server({login + S::Script{S::expect("UIDL"), S::send("+OK\r\n.\r\n"), S::expect("QUIT"), S::line("+OK")}});
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail2(plainServer(server), "taro", "tanstaaf", "LIST", QString());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QVERIFY2(r.isArray(), qPrintable(r.text()));
        QCOMPARE(r.items().size(), 0);
    }

    void tlsRequiredButNotOffered_data() {
        QTest::addColumn<QByteArray>("capa");
        QTest::addColumn<QString>("command");
        QTest::newRow("no STLS in CAPA, LIST") << QByteArray("+OK\r\nUSER\r\nSASL PLAIN\r\n.\r\n") << "LIST";
        QTest::newRow("no STLS in CAPA, DELE") << QByteArray("+OK\r\nUSER\r\nSASL PLAIN\r\n.\r\n") << "DELE 1";
        QTest::newRow("no CAPA at all") << QByteArray("-ERR unknown command\r\n") << "LIST";
        QTest::newRow("STLS refused") << QByteArray("+OK\r\nSTLS\r\nUSER\r\n.\r\n") << "LIST";
    }
    void tlsRequiredButNotOffered() {
        QFETCH(QByteArray, capa);
        QFETCH(QString, command);
        S::Script script{S::line("+OK ready"), S::expect("CAPA"), S::send(capa)};
        if (capa.contains("STLS"))
            script += {S::expect("STLS"), S::line("-ERR not today")};
        script += {S::expect("QUIT"), S::line("+OK")};
        S server({script});
        RealMailTransport t(quickOptions());
        // A bare host on a port other than 995 means: STLS, or no login at all.
        const MailResult r =
            t.RcvMail2(QStringLiteral("127.0.0.1:%1").arg(server.port()), "taro", "secret", command, QString());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QVERIFY(!sentCredentials(server.received()));
        QVERIFY(!r.isArray());
        QVERIFY2(r.text().contains(QStringLiteral("STLS")), qPrintable(r.text()));
        QVERIFY(!r.text().contains(QStringLiteral("PASSWORD")));
    }

    void tlsNeverFallsBackToPlaintext_data() {
        QTest::addColumn<QByteArray>("afterStls");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("expected");
        // pop3:// accepts plaintext only where the server offers nothing better: an offered STLS that
        // fails ends the session.
        QTest::newRow("handshake fails, pop3://") << QByteArray("+OK begin TLS\r\nnot a TLS record\r\n") << "pop3://"
                                                  << "TLS";
        QTest::newRow("handshake fails, TLS required") << QByteArray("+OK begin TLS\r\nnot a TLS record\r\n") << ""
                                                       << "TLS";
        // Lines after the STLS answer but before the handshake would be read as if they were protected.
        QTest::newRow("injected reply after STLS") << QByteArray("+OK begin TLS\r\n+OK injected\r\n") << "pop3://"
                                                   << "読めません";
    }
    void tlsNeverFallsBackToPlaintext() {
        QFETCH(QByteArray, afterStls);
        QFETCH(QString, scheme);
        QFETCH(QString, expected);
        S server({S::Script{S::line("+OK ready"), S::expect("CAPA"), S::send("+OK\r\nSTLS\r\nUSER\r\n.\r\n"),
                            S::expect("STLS"), S::send(afterStls)}});
        RealMailTransport t(quickOptions());
        const MailResult r =
            t.RcvMail2(scheme + QStringLiteral("127.0.0.1:%1").arg(server.port()), "taro", "secret", "LIST", QString());
        server.waitFinished(3000);
        QVERIFY(!r.isArray());
        QVERIFY2(r.text().contains(expected), qPrintable(r.text()));
        QVERIFY(!sentCredentials(server.received()));
    }

    void overlongLines_data() {
        QTest::addColumn<S::Script>("script");
        QTest::addColumn<bool>("isArray");
        const QByteArray huge(100 * 1024, 'x');
        QTest::newRow("100 KB greeting") << S::Script{S::line("+OK " + huge)} << false;
        QTest::newRow("100 KB UIDL line")
            << (classicLogin() + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 " + huge + "\r\n.\r\n")}) << false;
        // Inside a message a long line is legal; the subject is cut for display.
        QTest::newRow("100 KB subject") << (classicLogin() + S::Script{S::expect("UIDL"),
                                                                       S::send("+OK\r\n1 a\r\n.\r\n"),
                                                                       S::expect("TOP 1 0"), S::send(topReply(huge)),
                                                                       S::expect("QUIT"), S::line("+OK")})
                                        << true;
        // The header is read as a stream: only Subject, From and Date are kept, wherever they stand.
        QByteArray padded = "+OK\r\n";
        for (int i = 0; i < 300; ++i)
            padded += "X-Pad: " + QByteArray(1000, 'y') + "\r\n";
        padded += topReply(huge).mid(4);
        QTest::newRow("300 KB header") << (classicLogin() + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n.\r\n"),
                                                                      S::expect("TOP 1 0"), S::send(padded),
                                                                      S::expect("QUIT"), S::line("+OK")})
                                       << true;
    }
    void overlongLines() {
        QFETCH(S::Script, script);
        QFETCH(bool, isArray);
        S server({script});
        RealMailTransport t(quickOptions());
        QElapsedTimer timer;
        timer.start();
        const MailResult r = t.RcvMail2(plainServer(server), "taro", "secret", "LIST", QString());
        QVERIFY(timer.elapsed() < 2500); // refused at once, not by a timeout
        QCOMPARE(r.isArray(), isArray);
        if (isArray) {
            const SummaryFields f = splitSummaryRecord(r.items().value(0));
            QCOMPARE(f.subject, QString(maxSummaryFieldLength, u'x'));
            QCOMPARE(f.from, QStringLiteral("Taro <taro@example.jp>"));
        } else {
            QVERIFY2(r.text().contains(QStringLiteral("読めません")), qPrintable(r.text()));
        }
    }

    void brokenSessions_data() {
        QTest::addColumn<S::Script>("script");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("readTimeoutMs");
        QTest::addColumn<QString>("expected");
        const S::Script listed = classicLogin() + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n2 b\r\n.\r\n")};
        QTest::newRow("dropped mid-UIDL")
            << (classicLogin() + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n2 b"), S::close()}) << "LIST"
            << 3000 << "切れました";
        QTest::newRow("dropped mid-TOP") << (listed + S::Script{S::expect("TOP 1 0"), S::send("+OK\r\nSubject: half"),
                                                                S::close()})
                                         << "LIST" << 3000 << "切れました";
        QTest::newRow("dropped mid-RETR")
            << (classicLogin() +
                S::Script{S::expect("RETR 1"), S::send("+OK\r\nSubject: x\r\n\r\nfirst line\r\n"), S::close()})
            << "SAVE 1" << 3000 << "切れました";
        QTest::newRow("stall before greeting") << S::Script{S::stall(4000)} << "LIST" << 300 << "タイムアウト";
        QTest::newRow("stall mid-RETR") << (classicLogin() + S::Script{S::expect("RETR 1"),
                                                                       S::send("+OK\r\nSubject: x\r\n"),
                                                                       S::stall(4000)})
                                        << "SAVE 1" << 300 << "タイムアウト";
        QTest::newRow("stall mid-line") << (classicLogin() +
                                            S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a"), S::stall(4000)})
                                        << "LIST" << 300 << "タイムアウト";
        QTest::newRow("dropped before QUIT answer")
            << (classicLogin() + S::Script{S::expect("DELE 1"), S::line("+OK marked"), S::expect("QUIT"), S::close()})
            << "DELE 1" << 3000 << "削除は確定していません";
        QTest::newRow("not POP3 at all") << S::Script{S::line("220 smtp.example.jp ESMTP")} << "LIST" << 3000
                                         << "読めません";
        // Only CR LF "." CR LF ends a reply: a bare LF around the "." leaves the session out of step.
        QTest::newRow("bare LF before the end mark")
            << (listed + S::Script{S::expect("TOP 1 0"), S::send("+OK\r\nSubject: one\n.\r\n+OK\r\n.\r\n")}) << "LIST"
            << 3000 << "読めません";
        QTest::newRow("end mark with a bare LF")
            << (listed +
                S::Script{S::expect("TOP 1 0"), S::send("+OK\r\nSubject: one\r\n.\nSubject: injected\r\n\r\n.\r\n")})
            << "LIST" << 3000 << "読めません";
        // Each line comes well within the read timeout; the session's overall deadline ends it.
        S::Script drip = classicLogin() + S::Script{S::expect("UIDL"), S::send("+OK\r\n")};
        for (int i = 0; i < 40; ++i)
            drip += {S::send(QByteArray::number(i + 1) + " u" + QByteArray::number(i) + "\r\n"), S::stall(100)};
        QTest::newRow("slow drip") << drip << "LIST" << 3000 << "遅すぎる";
    }
    void brokenSessions() {
        QFETCH(S::Script, script);
        QFETCH(QString, command);
        QFETCH(int, readTimeoutMs);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        S server({script});
        TransportOptions options = quickOptions(readTimeoutMs);
        options.sessionBaseMs = 1200;
        RealMailTransport t(options);
        QElapsedTimer timer;
        timer.start();
        const MailResult r = command.startsWith(QStringLiteral("SAVE"))
                                 ? t.RcvMail(plainServer(server), "taro", "secret", command, dir.path())
                                 : t.RcvMail2(plainServer(server), "taro", "secret", command, dir.path());
        QVERIFY(timer.elapsed() < 2500);
        QVERIFY(!r.isArray());
        QVERIFY2(r.text().contains(expected), qPrintable(r.text()));
        QVERIFY(!r.text().contains(QStringLiteral("PASSWORD")));
        QVERIFY(!r.text().contains(QStringLiteral("削除しました")));
        QVERIFY(!r.isDone());
        QCOMPARE(allEntries(dir.path()), QStringList()); // no partial message, no cache of a broken listing
    }

    void serverErrors_data() {
        QTest::addColumn<S::Script>("script");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("records"); // -1: a text result
        QTest::addColumn<QString>("contains");
        QTest::addColumn<bool>("refusedLogin");
        const S::Script login = classicLogin();
        const S::Script beforePass{S::line("+OK ready"),   S::expect("CAPA"), S::send("+OK\r\nUSER\r\n.\r\n"),
                                   S::expect("USER taro"), S::line("+OK"),    S::expect("PASS secret")};
        QTest::newRow("greeting") << S::Script{S::line("-ERR go away")} << "LIST" << -1 << "go away" << false;
        QTest::newRow("USER") << S::Script{S::line("+OK"), S::expect("CAPA"), S::line("-ERR"), S::expect("USER taro"),
                                           S::line("-ERR no such user")}
                              << "DELE 1" << -1 << "no such user" << true;
        QTest::newRow("PASS") << (beforePass + S::Script{S::line("-ERR [AUTH] Authentication failed.")}) << "DELE 1"
                              << -1 << "Authentication failed" << true;
        QTest::newRow("PASS, mailbox locked")
            << (beforePass + S::Script{S::line("-ERR [IN-USE] PASSWORD accepted but mailbox locked")}) << "DELE 1" << -1
            << "password accepted but mailbox locked" << false;
        QTest::newRow("PASS, server trouble")
            << (beforePass + S::Script{S::line("-ERR [SYS/TEMP] try later")}) << "LIST" << -1 << "try later" << false;
        QTest::newRow("UIDL: counted with STAT")
            << (login + S::Script{S::expect("UIDL"), S::line("-ERR no UIDL here"), S::expect("STAT"),
                                  S::line("+OK 2 320"), S::expect("TOP 1 0"), S::send(topReply("a")),
                                  S::expect("TOP 2 0"), S::send(topReply("b")), S::expect("QUIT"), S::line("+OK")})
            << "LIST" << 2 << "" << false;
        // A count is never believed beyond the cap, and nothing is sized from it.
        QTest::newRow("STAT: 999999999 messages")
            << (login + S::Script{S::expect("UIDL"), S::line("-ERR no"), S::expect("STAT"), S::line("+OK 999999999 0"),
                                  S::expect("QUIT"), S::line("+OK")})
            << "LIST" << -1 << "多すぎます" << false;
        QTest::newRow("STAT: one above the cap")
            << (login + S::Script{S::expect("UIDL"), S::line("-ERR no"), S::expect("STAT"), S::line("+OK 100001 0"),
                                  S::expect("QUIT"), S::line("+OK")})
            << "LIST" << -1 << "多すぎます" << false;
        QTest::newRow("AUTH PLAIN asks again and again")
            << S::Script{S::line("+OK"),
                         S::expect("CAPA"),
                         S::send("+OK\r\nSASL PLAIN\r\n.\r\n"),
                         S::expect("AUTH PLAIN " + QByteArray("\0taro\0secret", 12).toBase64()),
                         S::line("+ "),
                         S::expect(QByteArray("\0taro\0secret", 12).toBase64()),
                         S::line("+ ")}
            << "LIST" << -1 << "AUTH PLAIN" << false;
        QTest::newRow("every mechanism refused")
            << S::Script{S::line("+OK <9.9@example.jp>"),
                         S::expect("CAPA"),
                         S::send("+OK\r\nUSER\r\n.\r\n"),
                         S::expect("APOP taro " + korimo::pop3::apopDigest("<9.9@example.jp>", "secret")),
                         S::line("-ERR [AUTH] no APOP"),
                         S::expect("USER taro"),
                         S::line("+OK"),
                         S::expect("PASS secret"),
                         S::line("-ERR [AUTH] wrong password")}
            << "LIST" << -1 << "wrong password" << true;
        // Server text: UTF-8, else CP932; controls and bidi controls never reach a window.
        QTest::newRow("CP932 error text")
            << (beforePass + S::Script{S::line("-ERR [SYS/TEMP] \x83\x81\x81\x5b\x83\x8b\x83\x7b\x83\x62\x83\x4e"
                                               "\x83\x58")})
            << "LIST" << -1 << "メールボックス" << false;
        QTest::newRow("controls in error text")
            << (beforePass + S::Script{S::line("-ERR [SYS/TEMP] evil\xe2\x80\xaetxt.exe\x07\x1b[2Jend")}) << "LIST"
            << -1 << "eviltxt.exe [2Jend" << false;
        QTest::newRow("UIDL and STAT") << (login + S::Script{S::expect("UIDL"), S::line("-ERR no"), S::expect("STAT"),
                                                             S::line("-ERR neither")})
                                       << "LIST" << -1 << "neither" << false;
        QTest::newRow("TOP: the message still counts")
            << (login + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n2 b\r\n.\r\n"), S::expect("TOP 1 0"),
                                  S::line("-ERR gone"), S::expect("TOP 2 0"), S::send(topReply("b")), S::expect("QUIT"),
                                  S::line("+OK")})
            << "LIST" << 2 << "" << false;
        QTest::newRow("DELE") << (login + S::Script{S::expect("DELE 9"), S::line("-ERR no such message"),
                                                    S::expect("QUIT"), S::line("+OK")})
                              << "DELE 9" << -1 << "no such message" << false;
        QTest::newRow("QUIT after DELE") << (login + S::Script{S::expect("DELE 1"), S::line("+OK"), S::expect("QUIT"),
                                                               S::line("-ERR cannot commit")})
                                         << "DELE 1" << -1 << "cannot commit" << false;
        QTest::newRow("RETR") << (login + S::Script{S::expect("RETR 4"), S::line("-ERR no such message"),
                                                    S::expect("QUIT"), S::line("+OK")})
                              << "SAVE 4" << -1 << "no such message" << false;
        QTest::newRow("DELE success") << (login + S::Script{S::expect("DELE 2"), S::line("+OK"), S::expect("QUIT"),
                                                            S::line("+OK")})
                                      << "DELE 2" << -1 << "削除しました" << false;
    }
    void serverErrors() {
        QFETCH(S::Script, script);
        QFETCH(QString, command);
        QFETCH(int, records);
        QFETCH(QString, contains);
        QFETCH(bool, refusedLogin);
        // Whatever failed, a connection that still works is ended with QUIT.
        if (std::none_of(script.begin(), script.end(), [](const S::Step& step) { return step.data == "QUIT"; }))
            script += {S::expect("QUIT"), S::line("+OK")};
        QTemporaryDir dir;
        S server({script});
        RealMailTransport t(quickOptions());
        const MailResult r = command.startsWith(QStringLiteral("SAVE"))
                                 ? t.RcvMail(plainServer(server), "taro", "secret", command, dir.path())
                                 : t.RcvMail2(plainServer(server), "taro", "secret", command, QString());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        if (records >= 0) {
            QVERIFY2(r.isArray(), qPrintable(r.text()));
            QCOMPARE(r.items().size(), records);
            for (const QString& item : r.items())
                QVERIFY(item.startsWith(QStringLiteral("Subject:")));
            return;
        }
        QVERIFY(!r.isArray());
        QVERIFY2(r.text().contains(contains), qPrintable(r.text()));
        QCOMPARE(r.text().contains(QStringLiteral("PASSWORD")), refusedLogin);
        QCOMPARE(r.isDone(), contains == QStringLiteral("削除しました"));
        QCOMPARE(r.text().contains(QStringLiteral("削除しました")), contains == QStringLiteral("削除しました"));
        QCOMPARE(allEntries(dir.path()), QStringList());
    }

    void deletionIsPipelinedWithQuit() {
        S server({pipelinedLogin() +
                  S::Script{S::expect("DELE 2"), S::expect("QUIT"), S::line("+OK marked"), S::line("+OK bye")}});
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail2(plainServer(server), "taro", "secret", "DELE 2", QString());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QVERIFY(r.text().contains(QStringLiteral("削除しました")));
    }

    void deletionMakesSureItIsTheListedMessage() {
        // The windows delete "the n-th row they showed": another mail program may have changed the
        // mailbox since the listing, and then message n is no longer that row.
        const S::Script listing =
            classicLogin() + S::Script{S::expect("UIDL"),    S::send("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n"),
                                       S::expect("TOP 1 0"), S::send(topReply("a")),
                                       S::expect("TOP 2 0"), S::send(topReply("b")),
                                       S::expect("TOP 3 0"), S::send(topReply("c")),
                                       S::expect("QUIT"),    S::line("+OK")};
        S server(
            {listing,
             // Unchanged: message 2 is still b.
             classicLogin() + S::Script{S::expect("UIDL 2"), S::line("+OK 2 b"), S::expect("DELE 2"), S::line("+OK"),
                                        S::expect("QUIT"), S::line("+OK")},
             // The next call numbers c as 2; meanwhile another program put d there.
             classicLogin() + S::Script{S::expect("UIDL 2"), S::line("+OK 2 d"), S::expect("QUIT"), S::line("+OK")},
             listing,
             // Message 3 is gone altogether.
             classicLogin() +
                 S::Script{S::expect("UIDL 3"), S::line("-ERR no such message"), S::expect("QUIT"), S::line("+OK")}});
        RealMailTransport t(quickOptions());
        const QString srv = plainServer(server);
        QVERIFY(t.RcvMail2(srv, "taro", "secret", "LIST", QString()).isArray());
        QVERIFY(t.RcvMail2(srv, "taro", "secret", "DELE 2", QString()).text().contains(QStringLiteral("削除しました")));
        const MailResult changed = t.RcvMail2(srv, "taro", "secret", "DELE 2", QString());
        QVERIFY2(changed.text().contains(QStringLiteral("削除しませんでした")), qPrintable(changed.text()));
        QVERIFY(!changed.text().contains(QStringLiteral("PASSWORD")));
        QVERIFY(t.RcvMail2(srv, "taro", "secret", "LIST", QString()).isArray());
        const MailResult gone = t.RcvMail2(srv, "taro", "secret", "DELE 3", QString());
        QVERIFY2(gone.text().contains(QStringLiteral("削除しませんでした")), qPrintable(gone.text()));
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QCOMPARE(server.received().count("DELE 2"), 1);
        QVERIFY(!server.received().contains("DELE 3"));
    }

    void repeatedUidlsNameNoOneMessage() {
        // Some servers give different messages the same UIDL: neither the cache nor the check before
        // a deletion may take such a UIDL for one message.
        QTemporaryDir dir;
        const QByteArray twice = "+OK\r\n1 a\r\n2 a\r\n3 b\r\n.\r\n";
        const S::Script first = classicLogin() + S::Script{S::expect("UIDL"),    S::send(twice),
                                                           S::expect("TOP 1 0"), S::send(topReply("one")),
                                                           S::expect("TOP 2 0"), S::send(topReply("two")),
                                                           S::expect("TOP 3 0"), S::send(topReply("three")),
                                                           S::expect("QUIT"),    S::line("+OK")};
        // Only b comes from the cache.
        const S::Script cached =
            classicLogin() + S::Script{S::expect("UIDL"),        S::send(twice),       S::expect("TOP 1 0"),
                                       S::send(topReply("one")), S::expect("TOP 2 0"), S::send(topReply("two")),
                                       S::expect("QUIT"),        S::line("+OK")};
        S server({first, cached,
                  // "UIDL 2" would say "a", true of message 1 as well: the whole listing is compared.
                  classicLogin() + S::Script{S::expect("UIDL"), S::send(twice), S::expect("DELE 2"), S::line("+OK"),
                                             S::expect("QUIT"), S::line("+OK")},
                  cached,
                  classicLogin() + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n2 b\r\n3 a\r\n.\r\n"),
                                             S::expect("QUIT"), S::line("+OK")}});
        RealMailTransport t(quickOptions());
        const QString srv = plainServer(server);
        const QStringList rows{record("one"), record("two"), record("three")};
        QCOMPARE(t.RcvMail2(srv, "taro", "secret", "LIST", dir.path()).items(), rows);
        QCOMPARE(t.RcvMail2(srv, "taro", "secret", "LIST", dir.path()).items(), rows);
        QVERIFY(t.RcvMail2(srv, "taro", "secret", "DELE 2", QString()).text().contains(QStringLiteral("削除しました")));
        QCOMPARE(t.RcvMail2(srv, "taro", "secret", "LIST", dir.path()).items(), rows);
        const MailResult changed = t.RcvMail2(srv, "taro", "secret", "DELE 1", QString());
        QVERIFY2(changed.text().contains(QStringLiteral("削除しませんでした")), qPrintable(changed.text()));
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QVERIFY(!server.received().contains("DELE 1"));
        QCOMPARE(UidlCache(dir.path(), srv, QStringLiteral("taro")).load().keys(), QList<QByteArray>{"b"});
    }

    void saveWritesTheUnstuffedMessage() {
        QTemporaryDir dir;
        S server({classicLogin() + S::Script{S::expect("RETR 1"),
                                             S::send("+OK 40 octets\r\nSubject: dots\r\n\r\n..leading dot\r\n...\r\n"
                                                     "plain\r\n.\r\n"),
                                             S::expect("QUIT"), S::line("+OK")}});
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail(plainServer(server), "taro", "secret", "SAVE 1", dir.path());
        QVERIFY2(r.isArray(), qPrintable(r.text()));
        const QString path = r.items().value(0);
        QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Subject: dots\r\n\r\n.leading dot\r\n..\r\nplain\r\n"));
        QCOMPARE(allEntries(dir.path()), QStringList{QFileInfo(path).fileName()});
    }

    void cacheSparesHeaderRequestsAndNamesNoFileAfterAUidl() {
        QTemporaryDir dir;
        const QByteArray uidl = "+OK\r\n1 ../../etc/passwd\r\n2 a/b\r\n3 ..\r\n.\r\n";
        S server({classicLogin() + S::Script{S::expect("UIDL"), S::send(uidl), S::expect("TOP 1 0"),
                                             S::send(topReply("one")), S::expect("TOP 2 0"), S::send(topReply("two")),
                                             S::expect("TOP 3 0"), S::send(topReply("three")), S::expect("QUIT"),
                                             S::line("+OK")},
                  // The second check: nothing new, so no TOP at all.
                  classicLogin() + S::Script{S::expect("UIDL"), S::send(uidl), S::expect("QUIT"), S::line("+OK")}});
        RealMailTransport t(quickOptions());
        const MailResult first = t.RcvMail2(plainServer(server), "taro", "secret", "LIST", dir.path());
        const MailResult second = t.RcvMail2(plainServer(server), "taro", "secret", "LIST", dir.path());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QCOMPARE(first.items(), QStringList({record("one"), record("two"), record("three")}));
        QCOMPARE(second.items(), first.items());
        const UidlCache cache(dir.path(), plainServer(server), QStringLiteral("taro"));
        QCOMPARE(allEntries(dir.path()), QStringList{QFileInfo(cache.path()).fileName()});
        QVERIFY(QFileInfo(cache.path()).fileName().startsWith(QStringLiteral("pop3-")));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("../../etc/passwd.uidlcache"))));
        QCOMPARE(int(QFileInfo(cache.path()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)), 0);
    }

    void damagedCacheIsRebuilt_data() {
        QTest::addColumn<QByteArray>("damage"); // how to spoil the file a first check wrote
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0garbage\tSubject:x From:y Date: z\n", 40);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << QByteArray("truncate");
        QTest::newRow("one byte changed") << QByteArray("flip");
        QTest::newRow("record for another uid") << QByteArray("swap");
    }
    void damagedCacheIsRebuilt() {
        QFETCH(QByteArray, damage);
        QTemporaryDir dir;
        const QByteArray uidl = "+OK\r\n1 u1\r\n2 u2\r\n.\r\n";
        const S::Script full =
            classicLogin() + S::Script{S::expect("UIDL"),        S::send(uidl),        S::expect("TOP 1 0"),
                                       S::send(topReply("one")), S::expect("TOP 2 0"), S::send(topReply("two")),
                                       S::expect("QUIT"),        S::line("+OK")};
        S server({full, full});
        RealMailTransport t(quickOptions());
        const QString srv = plainServer(server);
        QVERIFY(t.RcvMail2(srv, "taro", "secret", "LIST", dir.path()).isArray());
        const UidlCache cache(dir.path(), srv, QStringLiteral("taro"));
        QFile f(cache.path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        if (damage == "truncate")
            bytes.chop(30);
        else if (damage == "flip")
            bytes[bytes.indexOf("one") + 1] = 'X';
        else if (damage == "swap")
            bytes.replace(QByteArray("u1").toHex(), QByteArray("u2").toHex());
        else
            bytes = damage;
        QVERIFY(f.resize(0));
        f.write(bytes);
        f.close();
        QVERIFY(cache.load().isEmpty());
        // The second check fetches every header again (the script insists) and repairs the file.
        const MailResult r = t.RcvMail2(srv, "taro", "secret", "LIST", dir.path());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QCOMPARE(r.items(), QStringList({record("one"), record("two")}));
        QCOMPARE(cache.load().size(), 2);
    }

    void cacheNeverChangesTheCount() {
        QTemporaryDir dir;
        // Messages u1 to u3 were seen before; now the server holds u2 and a new u4.
        S server({classicLogin() + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 u2\r\n2 u4\r\n.\r\n"),
                                             S::expect("TOP 2 0"), S::send(topReply("new")), S::expect("QUIT"),
                                             S::line("+OK")}});
        const QString srv = plainServer(server);
        const UidlCache cache(dir.path(), srv, QStringLiteral("taro"));
        QVERIFY(cache.save({{"u1", record("old 1")}, {"u2", record("old 2")}, {"u3", record("old 3")}}));
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail2(srv, "taro", "secret", "LIST", dir.path());
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QCOMPARE(r.items(), QStringList({record("old 2"), record("new")}));
        const auto kept = cache.load();
        QCOMPARE(kept.size(), 2); // what left the server left the cache
        QCOMPARE(kept.value("u4"), record("new"));
    }

    void cachesAreKeptPerMailbox() {
        QTemporaryDir dir;
        const UidlCache a(dir.path(), QStringLiteral("pop.example.jp"), QStringLiteral("taro"));
        const UidlCache b(dir.path(), QStringLiteral("pop.example.jp"), QStringLiteral("hanako"));
        QVERIFY(a.path() != b.path());
        QVERIFY(a.save({{"x", record("for taro")}}));
        QVERIFY(b.load().isEmpty());
        // A file copied over another mailbox's name is not believed either.
        QVERIFY(QFile::copy(a.path(), b.path()));
        QVERIFY(b.load().isEmpty());
        QCOMPARE(a.load().value("x"), record("for taro"));
    }

    void mailboxesAreListedConcurrentlyInOrder() {
        auto script = [](const QByteArray& subject) {
            return S::Script{S::stall(600)} + classicLogin() +
                   S::Script{S::expect("UIDL"),    S::send("+OK\r\n1 a\r\n.\r\n"),
                             S::expect("TOP 1 0"), S::send(topReply(subject)),
                             S::expect("QUIT"),    S::line("+OK")};
        };
        S one({script("box one")});
        S three({script("box three")});
        S four({script("box four")});
        RealMailTransport t(quickOptions());
        QElapsedTimer timer;
        timer.start();
        const QList<MailResult> results = t.ListMailboxes({{plainServer(one), "taro", "secret"},
                                                           {},
                                                           {plainServer(three), "taro", "secret"},
                                                           {plainServer(four), "taro", "secret"},
                                                           {}},
                                                          QString());
        QVERIFY2(timer.elapsed() < 1500, "three servers that each wait 600 ms were asked one after the other");
        QCOMPARE(results.size(), 5);
        QCOMPARE(results[0].items(), QStringList{record("box one")});
        QVERIFY(!results[1].isArray());
        QCOMPARE(results[2].items(), QStringList{record("box three")});
        QCOMPARE(results[3].items(), QStringList{record("box four")});
        QVERIFY(!results[4].isArray());
    }

    void requestsThatNeverReachAServer_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty server") << ""
                                      << "LIST"
                                      << "x"
                                      << "設定されていません";
        QTest::newRow("bad server text") << "pop3://host:99999"
                                         << "LIST"
                                         << "x"
                                         << "正しくありません";
        QTest::newRow("other scheme") << "imap://host"
                                      << "LIST"
                                      << "x"
                                      << "正しくありません";
        QTest::newRow("unknown command") << "pop3://127.0.0.1:1"
                                         << "STAT"
                                         << "x"
                                         << "知らないコマンド";
        QTest::newRow("DELE without number") << "pop3://127.0.0.1:1"
                                             << "DELE "
                                             << "x"
                                             << "知らないコマンド";
        QTest::newRow("DELE 0") << "pop3://127.0.0.1:1"
                                << "DELE 0"
                                << "x"
                                << "知らないコマンド";
        QTest::newRow("DELE with junk") << "pop3://127.0.0.1:1"
                                        << "DELE 1\r\nDELE 2"
                                        << "x"
                                        << "知らないコマンド";
    }
    void requestsThatNeverReachAServer() {
        QFETCH(QString, server);
        QFETCH(QString, command);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail2(server, "taro", password, command, QString());
        QVERIFY(!r.isArray());
        QVERIFY2(r.text().contains(expected), qPrintable(r.text()));
        QVERIFY(!r.text().contains(u'\n'));
    }

    void passwordWithLineBreakIsNeverSent() {
        S server({S::Script{S::line("+OK ready"), S::expect("CAPA"), S::send("+OK\r\nUSER\r\n.\r\n")}});
        RealMailTransport t(quickOptions());
        const MailResult r = t.RcvMail2(plainServer(server), "taro", "secret\r\nDELE 1", "LIST", QString());
        QVERIFY(!r.isArray());
        QVERIFY(r.text().contains(QStringLiteral("使えない文字")));
        server.waitFinished(500); // the client does not even connect
        QVERIFY(!sentCredentials(server.received()));
        QVERIFY(!server.received().contains("DELE 1"));
    }

    void unreachableServer() {
        quint16 port;
        {
            S closed({}); // listens, then goes away
            port = closed.port();
        }
        RealMailTransport t(quickOptions());
        const MailResult r =
            t.RcvMail2(QStringLiteral("pop3://127.0.0.1:%1").arg(port), "taro", "x", "LIST", QString());
        QVERIFY(!r.isArray());
        QVERIFY2(r.text().contains(QStringLiteral("接続できません")), qPrintable(r.text()));
    }
};

QTEST_GUILESS_MAIN(TestPop3Transcript)
#include "tst_pop3transcript.moc"
