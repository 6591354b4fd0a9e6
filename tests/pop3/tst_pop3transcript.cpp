// The real transport against a scripted POP3 server: the exact commands it sends (pipelined or one at a
// time), what it never sends, the kind of error every server fault gives, the stale-number check and the
// header cache.
#include "realMailTransport.h"
#include "scriptedLineServer.h"
#include "testFiles.h"
#include "uidlCache.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using S = korimo::test::ScriptedLineServer;
using K = MailErrorKind;

namespace {

QByteArray top(const QByteArray& subject) {
    return "+OK\r\nReturn-Path: <x@y>\r\nSubject: " + subject + "\r\nFrom: T <t@x.jp>\r\nDate: Mon\r\n\r\n.\r\n";
}
const QByteArray kPlain = "AUTH PLAIN " + QByteArray("\0taro\0secret", 12).toBase64();
// A server that pipelines: the whole login and UIDL come in one write.
const QByteArray kPipelined = "<+OK|>CAPA|{+OK\r\nPIPELINING\r\nUIDL\r\nUSER\r\n.\r\n|>USER taro|>PASS secret|>UIDL";

// A script in short (see ScriptedLineServer::parse), and: "L" the classic login (USER/PASS, one command at a
// time), "P" a pipelined login with SASL PLAIN, "B" everything before PASS's answer, "Ua b" UIDL answered
// by "1 a", "2 b", "Tn" TOP 1 to n answered with subjects m1 to mn, "Q" QUIT answered.
S::Script script(const QString& text) {
    S::Script s;
    for (const QString& t : text.split(u'|')) {
        const QString rest = t.mid(1);
        if (t == u'L' || t == u'B')
            s += S::parse("<+OK ready|=CAPA|{+OK\r\nUSER\r\nUIDL\r\n.\r\n|=USER taro|<+OK|=PASS secret" +
                          QString(t == u'L' ? "|<+OK" : ""));
        else if (t == u'P')
            s += S::parse("<+OK|>CAPA|{+OK\r\nPIPELINING\r\nSASL PLAIN\r\n.\r\n|>" + kPlain + "|<+OK");
        else if (t.startsWith(u'U')) {
            QString uidl = "{+OK\r\n";
            int n = 0;
            for (const QString& uid : rest.split(u' ', Qt::SkipEmptyParts))
                uidl += QString::number(++n) + ' ' + uid + "\r\n";
            s += S::parse(">UIDL|" + uidl + ".\r\n");
        } else if (t.startsWith(u'T') && t.size() == 2)
            for (int n = 1; n <= rest.toInt(); ++n)
                s += {S::expect("TOP " + QByteArray::number(n) + " 0"), S::send(top("m" + QByteArray::number(n)))};
        else if (t == u'Q')
            s += S::parse(">QUIT|<+OK");
        else
            s += S::parse(t);
    }
    return s;
}

TransportOptions quick(int readTimeoutMs) {
    TransportOptions o;
    o.connectTimeoutMs = 3000;
    o.readTimeoutMs = readTimeoutMs;
    o.sessionBaseMs = 1200;
    return o;
}
Mailbox box(const S& s, const QString& scheme = QStringLiteral("pop3://"),
            const QString& pw = QStringLiteral("secret")) {
    return {scheme + QStringLiteral("127.0.0.1:%1").arg(s.port()), QStringLiteral("taro"), pw};
}
QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}
QString rows(const MailOutcome<Listing>& r) {
    QStringList out;
    for (const MessageSummary& m : r.value().messages)
        out << QString::number(m.number) + QString::fromLatin1(m.uid) + u':' + m.subject;
    return out.join(u'|');
}

} // namespace

class TestPop3Transcript : public QObject {
    Q_OBJECT
private slots:
    // One call against one scripted session. op: "list", "remove N [UID]" or "save N [UID]". expected: for
    // an error what its detail holds; for a list its rows "<number><uid>:<subject>" joined by '|'; for a
    // save the saved bytes.
    void sessions_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("scheme"); // "pw": pop3://, with a line break in the password
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("kind"); // -1: success
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& script, const char* op, int kind,
                            const QString& expected, const char* scheme = "pop3://") {
            QTest::newRow(name) << QString::fromUtf8(script) << QString::fromLatin1(scheme) << op << kind << expected;
        };
        const int ok = -1;
        row("one command at a time", "L|Ua b|T2|Q", "list", ok, "1a:m1|2b:m2");
        row("TOP pipelined", "P|Ua b|>TOP 1 0|>TOP 2 0|{" + top("m1") + top("m2") + "|Q", "list", ok, "1a:m1|2b:m2");
        // With PIPELINING: USER, PASS and UIDL in one write, QUIT in the write of the last TOP.
        row("USER, PASS, UIDL in one write",
            kPipelined + "|<+OK|<+OK|{+OK\r\n1 a\r\n2 b\r\n.\r\n|>TOP 1 0|>TOP 2 0|>QUIT|{" + top("m1") + top("m2") +
                "|<+OK",
            "list", ok, "1a:m1|2b:m2");
        row("pipelined USER refused", kPipelined + "|<-ERR no such user|<-ERR|<-ERR|>QUIT|<+OK", "list",
            int(K::LoginRefused), "no such user");
        row("pipelined PASS refused", kPipelined + "|<+OK|<-ERR [AUTH] bad|<-ERR|>QUIT|<+OK", "list",
            int(K::LoginRefused), "bad");
        row("pipelined PASS, mailbox locked", kPipelined + "|<+OK|<-ERR [IN-USE] locked|<-ERR|>QUIT|<+OK", "list",
            int(K::ServerRefused), "locked");
        row("APOP alone, refused, then USER, PASS, UIDL",
            "<+OK <1.2@x>|>CAPA|{+OK\r\nPIPELINING\r\nUIDL\r\nUSER\r\n.\r\n|=APOP taro "
            "128d2ad8f578fa9de63b08648575e532|<-ERR [AUTH] no|>USER taro|>PASS secret|>UIDL|<+OK|<+OK|{+OK\r\n.\r\n|Q",
            "list", ok, "");
        const QByteArray plainUidl =
            "<+OK|>CAPA|{+OK\r\nPIPELINING\r\nUIDL\r\nSASL PLAIN\r\n.\r\n|>" + kPlain + "|>UIDL";
        row("UIDL behind AUTH PLAIN", plainUidl + "|<+OK|{+OK\r\n1 a\r\n.\r\n|>TOP 1 0|>QUIT|{" + top("m1") + "|<+OK",
            "list", ok, "1a:m1");
        row("PLAIN took UIDL for its response",
            plainUidl + "|<+ |<-ERR bad response|=" + kPlain + "|<+ |>" + kPlain.mid(11) + "|<+OK|Ua|T1|Q", "list", ok,
            "1a:m1");
        row("DELE first: UIDL's answer dropped", plainUidl + "|<+OK|{+OK\r\n1 a\r\n.\r\n|>DELE 1|>QUIT|<+OK|<+OK",
            "remove 1", ok, "");
        row("no UIDL: STAT, no uids", "L|>UIDL|<-ERR no|>STAT|<+OK 2 320|T2|Q", "list", ok, "1:m1|2:m2");
        row("a failed TOP still counts", "L|Ua b|>TOP 1 0|<-ERR gone|>TOP 2 0|{" + top("x") + "|Q", "list", ok,
            "1a:|2b:x");
        row("APOP",
            "<+OK <1896.697170952@dbc.mindspring.com>|>CAPA|<-ERR|=APOP taro c1f6dab8710b82589ee33e58efbd578a|<+OK|U|Q",
            "list", ok, "");
        row("APOP and PLAIN refused, then USER",
            "<+OK <1.2@x>|>CAPA|{+OK\r\nSASL PLAIN\r\nUSER\r\n.\r\n|=APOP taro 128d2ad8f578fa9de63b08648575e532|<-ERR "
            "[AUTH] no|=" +
                kPlain + "|<-ERR [AUTH] no|=USER taro|<+OK|=PASS secret|<+OK|U|Q",
            "list", ok, "");
        row("AUTH LOGIN",
            "<+OK|>CAPA|{+OK\r\nSASL LOGIN\r\n.\r\n|=AUTH LOGIN|<+ VXNlcm5hbWU6|=dGFybw==|<+ UGFzc3dvcmQ6|"
            "=c2VjcmV0|<+OK|U|Q",
            "list", ok, "");
        row("PLAIN asks again and again",
            "<+OK|>CAPA|{+OK\r\nSASL PLAIN\r\n.\r\n|>" + kPlain + "|<+ |>" + kPlain.mid(11) + "|<+ |Q", "list",
            int(K::Protocol), "");
        // TLS required (a bare host): no login without STLS, and never plaintext after a failed STLS.
        row("no STLS offered", "<+OK|>CAPA|{+OK\r\nUSER\r\n.\r\n|Q", "remove 1", int(K::TlsRefused), "STLS", "");
        row("STLS refused", "<+OK|>CAPA|{+OK\r\nSTLS\r\n.\r\n|>STLS|<-ERR not today|Q", "list", int(K::TlsRefused), "",
            "");
        row("handshake fails", "<+OK|>CAPA|{+OK\r\nSTLS\r\nUSER\r\n.\r\n|>STLS|<+OK go|~200|<not TLS", "list",
            int(K::TlsFailed), "");
        row("reply injected before the handshake",
            "<+OK|>CAPA|{+OK\r\nSTLS\r\nUSER\r\n.\r\n|>STLS|{+OK go\r\n+OK x\r\n", "list", int(K::Protocol), "");
        // Server faults.
        const QByteArray huge(100 * 1024, 'x');
        row("100 KB greeting", "<+OK " + huge, "list", int(K::Protocol), "");
        QByteArray padded = "+OK\r\n";
        for (int i = 0; i < 300; ++i)
            padded += "X-Pad: " + QByteArray(1000, 'y') + "\r\n";
        row("300 KB header, 100 KB subject", "L|Ua|>TOP 1 0|{" + padded + top(huge).mid(5) + "|Q", "list", ok,
            "1a:" + QString(maxSummaryFieldLength, u'x'));
        row("not POP3", "<220 smtp ESMTP", "list", int(K::Protocol), "");
        row("dropped mid-UIDL", "L|>UIDL|{+OK\r\n1 a|!", "list", int(K::Unreachable), "切れました");
        row("dropped mid-RETR", "L|>RETR 1|{+OK\r\nSubject: x\r\n\r\nhalf\r\n|!", "save 1", int(K::Unreachable), "");
        row("stall mid-RETR", "L|>RETR 1|{+OK\r\nSubject: x\r\n|~4000", "save 1", int(K::TimedOut), "");
        row("bare LF before the end mark", "L|Ua|>TOP 1 0|{+OK\r\nS: 1\n.\r\n+OK\r\n.\r\n", "list", int(K::Protocol),
            "");
        row("end mark with a bare LF", "L|Ua|>TOP 1 0|{+OK\r\nS: 1\r\n.\nSubject: i\r\n\r\n.\r\n", "list",
            int(K::Protocol), "");
        QByteArray drip = "L|>UIDL|<+OK";
        for (int i = 1; i <= 40; ++i)
            drip += "|<" + QByteArray::number(i) + " u|~100";
        row("slow drip: the session's deadline", drip, "list", int(K::TimedOut), "遅すぎる");
        row("greeting -ERR", "<-ERR go away", "list", int(K::ServerRefused), "go away");
        row("USER refused", "<+OK|>CAPA|<-ERR|>USER taro|<-ERR no such user|Q", "remove 1", int(K::LoginRefused),
            "no such user");
        row("PASS refused", "B|<-ERR [AUTH] Authentication failed.|Q", "list", int(K::LoginRefused), "failed");
        row("PASS, mailbox locked", "B|<-ERR [IN-USE] PASSWORD ok, locked|Q", "remove 1", int(K::ServerRefused),
            "PASSWORD ok, locked");
        row("controls in error text", "B|<-ERR [SYS/TEMP] a\u202eZ\x07\x1b[2Jb|Q", "list", int(K::ServerRefused),
            "aZ [2Jb");
        row("STAT over the cap", "L|>UIDL|<-ERR|>STAT|<+OK 100001 0|Q", "list", int(K::TooLarge), "100000");
        row("RETR refused", "L|>RETR 4|<-ERR no such message|Q", "save 4", int(K::ServerRefused), "no such message");
        row("RETR with QUIT in one write", "P|>RETR 1|>QUIT|{+OK\r\nx\r\n.\r\n|<+OK", "save 1", ok, "x\r\n");
        row("RETR refused, QUIT with it", "P|>RETR 4|>QUIT|<-ERR no such message|<+OK", "save 4", int(K::ServerRefused),
            "no such message");
        row("save unstuffs", "L|>RETR 1|{+OK\r\nS: d\r\n\r\n..a\r\n...\r\nb\r\n.\r\n|Q", "save 1", ok,
            "S: d\r\n\r\n.a\r\n..\r\nb\r\n");
        // Deletion: Done only when DELE and QUIT were both answered +OK.
        row("DELE pipelined with QUIT", "P|>DELE 2|>QUIT|<+OK|<+OK", "remove 2", ok, "");
        row("DELE refused", "L|>DELE 9|<-ERR no such message|Q", "remove 9", int(K::ServerRefused), "no such");
        row("QUIT refused after DELE", "L|>DELE 1|<+OK|>QUIT|<-ERR cannot commit", "remove 1", int(K::ServerRefused),
            "cannot commit");
        row("dropped before QUIT's answer", "L|>DELE 1|<+OK|>QUIT|!", "remove 1", int(K::OutcomeUnknown), "");
        // The stale-number check: the server's UIDLs now against the ref's.
        row("uid still at its number", "L|Ua b|>DELE 2|<+OK|Q", "remove 2 b", ok, "");
        row("another message at the number", "L|Ua d|Q", "remove 2 b", int(K::MailboxChanged), "");
        row("number gone", "L|Ua b|Q", "remove 3 c", int(K::MailboxChanged), "");
        row("uid repeated now", "L|Ua a|Q", "remove 2 a", int(K::MailboxChanged), "");
        row("UIDL refused now", "L|>UIDL|<-ERR|Q", "remove 1 a", int(K::MailboxChanged), "");
        row("save checks too", "L|Ux|Q", "save 1 a", int(K::MailboxChanged), "");
        row("save by uid", "L|Ua|>RETR 1|{+OK\r\nx\r\n.\r\n|Q", "save 1 a", ok, "x\r\n");
        // Requests that never reach a server.
        row("line break in the password", "", "list", int(K::BadCredentials), "", "pw");
        row("number 0", "", "remove 0", int(K::MailboxChanged), "");
        row("bad server text", "", "list", int(K::NotConfigured), "imap://127", "imap://");
    }
    void sessions() {
        QFETCH(QString, script);
        QFETCH(QString, scheme);
        QFETCH(QString, op);
        QFETCH(int, kind);
        QFETCH(QString, expected);
        S server(script.isEmpty() ? QList<S::Script>{} : QList<S::Script>{::script(script)});
        const bool badPassword = scheme == QStringLiteral("pw");
        const Mailbox mailbox = badPassword ? box(server, QStringLiteral("pop3://"), QStringLiteral("secret\r\nDELE 1"))
                                            : box(server, scheme);
        const QStringList words = op.split(u' ');
        const MessageRef ref{0, words.value(1).toInt(), words.value(2).toLatin1()};
        QTemporaryDir dir;
        RealMailTransport t(quick(op == QStringLiteral("save 1") && kind == int(K::TimedOut) ? 300 : 3000));
        QElapsedTimer timer;
        timer.start();
        std::optional<MailError> error;
        QString got;
        if (words[0] == QStringLiteral("list")) {
            const auto r = t.list(mailbox, dir.path());
            r.ok() ? void(got = rows(r)) : void(error = r.error());
        } else if (words[0] == QStringLiteral("save")) {
            const auto r = t.save(mailbox, ref, dir.path());
            r.ok() ? void(got = QString::fromLatin1(readFile(r.value()))) : void(error = r.error());
            QCOMPARE(entries(dir.path()).size(), r.ok() ? 1 : 0); // no partial message
        } else if (const auto r = t.remove(mailbox, ref); !r.ok()) {
            error = r.error();
        }
        QVERIFY(timer.elapsed() < 2500); // every fault ends the call soon, not by a long timeout
        server.waitFinished(3000);
        QCOMPARE(server.failures(), QStringList());
        QVERIFY2(error.has_value() == (kind >= 0), error ? qPrintable(describe(*error)) : "success");
        QCOMPARE(error ? int(error->kind) : -1, kind);
        QVERIFY2((error ? error->detail : got).contains(expected), qPrintable(error ? error->detail : got));
        if (!error && words[0] != QStringLiteral("remove"))
            QCOMPARE(got, expected);
        // A mailbox that may have changed is left alone; credentials never go out without TLS where asked.
        for (const QByteArray& l : server.received()) {
            if (kind == int(K::MailboxChanged) || kind == int(K::BadCredentials))
                QVERIFY2(!l.startsWith("DELE") && !l.startsWith("RETR"), l.constData());
            if (kind == int(K::TlsRefused) || kind == int(K::TlsFailed) || kind == int(K::BadCredentials))
                QVERIFY2(!l.startsWith("USER") && !l.startsWith("PASS") && !l.startsWith("AUTH"), l.constData());
        }
    }

    // The cache spares the header requests of messages seen before, never changes a count, ignores UIDLs
    // that name several messages and names no file after a UIDL; a damaged file is rebuilt.
    void headerCache_data() {
        QTest::addColumn<QByteArray>("damage");
        for (const char* d : {"", "garbage", "truncate", "flip", "swap"})
            QTest::newRow(*d ? d : "intact") << QByteArray(d);
    }
    void headerCache() {
        QFETCH(QByteArray, damage);
        QTemporaryDir dir;
        const QString uidl = QStringLiteral("L|U../../etc/passwd r r u|");
        S server(
            {script(uidl + "T4|Q"), script("L|Uu new|>TOP 2 0|{" + top("n") + "|Q"), script("L|Uu|Q"),
             script(uidl + (damage.isEmpty() ? ">TOP 2 0|{" + top("m2") + "|>TOP 3 0|{" + top("m3") + "|Q" : "T4|Q"))});
        RealMailTransport t(quick(3000));
        const Mailbox mb = box(server);
        QCOMPARE(rows(t.list(mb, dir.path())), QStringLiteral("1../../etc/passwd:m1|2r:m2|3r:m3|4u:m4"));
        const UidlCache cache(dir.path(), mb.server, mb.account);
        QCOMPARE(entries(dir.path()), QStringList{QFileInfo(cache.path()).fileName()});
        QCOMPARE(int(QFileInfo(cache.path()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)), 0);
        QCOMPARE(rows(t.list(mb, dir.path())), QStringLiteral("1u:m4|2new:n"));
        QCOMPARE(cache.load().size(), 2); // what left the server left the cache
        QCOMPARE(rows(t.list(mb, dir.path())), QStringLiteral("1u:m4"));
        QCOMPARE(cache.load().size(), 1); // also when nothing new was fetched
        // Seen before: message 1 and 4 (m1 and m4); 2 and 3 share a UIDL and are always fetched.
        QVERIFY(cache.save({{"../../etc/passwd", {"m1", "T <t@x.jp>", "Mon"}}, {"u", {"m4", "T <t@x.jp>", "Mon"}}}));
        QFile f(cache.path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        if (damage == "truncate")
            bytes.chop(30);
        else if (damage == "flip")
            bytes[bytes.indexOf("m4") + 1] = 'X';
        else if (damage == "swap")
            bytes.replace(QByteArray("u").toHex(), QByteArray("r").toHex());
        else if (!damage.isEmpty())
            bytes = "\x89PNG\r\n\x1a\n" + damage;
        QVERIFY(f.resize(0) && f.write(bytes) == bytes.size());
        f.close();
        const QString again = rows(t.list(mb, dir.path())); // the script insists on what is fetched again
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), QStringList());
        QCOMPARE(again, QStringLiteral("1../../etc/passwd:m1|2r:m2|3r:m3|4u:m4"));
        QCOMPARE(cache.load().size(), 2);
        QVERIFY(UidlCache(dir.path(), mb.server, QStringLiteral("hanako")).load().isEmpty()); // kept per mailbox
    }

    void mailboxesAreListedConcurrentlyInOrder() {
        S one({script("~600|L|Ua|T1|Q")}), three({script("~600|L|Ub|T1|Q")}), four({script("~600|L|Uc|T1|Q")});
        RealMailTransport t(quick(3000));
        QElapsedTimer timer;
        timer.start();
        const auto r = t.listAll({box(one), {}, box(three), box(four), {}}, QString());
        QVERIFY2(timer.elapsed() < 1500, "three servers that each wait 600 ms were asked one after the other");
        QCOMPARE(r.size(), 5);
        QCOMPARE(rows(r[0]) + rows(r[2]) + rows(r[3]), QStringLiteral("1a:m11b:m11c:m1"));
        QCOMPARE(r[1].error().kind, K::NotConfigured);
        QCOMPARE(r[4].error().kind, K::NotConfigured);
    }
};

QTEST_GUILESS_MAIN(TestPop3Transcript)
#include "tst_pop3transcript.moc"
