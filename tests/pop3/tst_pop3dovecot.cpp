// The POP3 transport and korimo-mail against real servers on loopback, each case once for Dovecot and
// once for GNU mailutils pop3d: STLS, implicit TLS, certificates, a refused login, Japanese headers,
// exact saved bytes, a second mail program deleting between listing and acting, all five mailboxes.
#include "iniKeys.h"
#include "modIniFile.h"
#include "realMailTransport.h"
#include "summaryFields.h"
#include "testFiles.h"
#include "testMailServers.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using korimo::test::Pop3Server;
using K = MailErrorKind;

Q_DECLARE_METATYPE(korimo::test::Pop3Server)

namespace {

QByteArray crlf(QByteArray text) {
    return text.replace("\n", "\r\n");
}
QByteArray simpleMessage(const QByteArray& subject, const QByteArray& body = "Hello.\n") {
    return crlf("From: s@korimo.test\nSubject: " + subject + "\nDate: Mon, 7 Dec 2026 10:00:00 +0900\n\n" + body);
}
const QByteArray kIso2022jp = crlf("From: =?UTF-8?B?5bGx55SwIOWkqumDjg==?= <yamada@korimo.test>\n"
                                   "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkT0AkMyYbKEI=?=\n"
                                   "Date: Mon, 7 Dec 2026 10:00:00 +0900\n\nx\n");
const QByteArray kRawCp932 = crlf("From: sato@korimo.test\nSubject: \x83\x65\x83\x58\x83\x67\x87\x40\n\nbody\n");
const QByteArray kDots = simpleMessage("dots", ".leading dot\n..two dots\n.\nlast line\n");

QStringList subjects(const MailOutcome<Listing>& r) {
    QStringList out;
    for (const MessageSummary& m : r.value().messages)
        out << m.subject;
    return out;
}

template <class T> QByteArray why(const MailOutcome<T>& r) {
    return r.ok() ? QByteArray() : describe(r.error()).toUtf8();
}

struct Run {
    int code;
    QString out, err;
};
Run korimoMail(const QStringList& args, const QString& password) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORIMO_PASSWORD"), password);
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("KORIMO_BINARY_DIR") + QStringLiteral("/tools/korimo-mail"), args);
    const bool ended = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
    if (!ended)
        p.kill();
    return {ended ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestPop3Dovecot : public QObject {
    Q_OBJECT
    korimo::test::TestMailServers servers_;
    TransportOptions trusted_;

    QString stls(Pop3Server s) const { return QStringLiteral("127.0.0.1:%1").arg(servers_.pop3Port(s)); }
    QString implicitTls(Pop3Server s) const {
        return QStringLiteral("pop3s://127.0.0.1:%1").arg(servers_.pop3sPort(s));
    }
    QString plain(Pop3Server s) const { return QStringLiteral("pop3://127.0.0.1:%1").arg(servers_.pop3Port(s)); }
    Mailbox box(int n, Pop3Server s, const QString& server) const {
        return {server, servers_.pop3Account(n, s), servers_.password(n)};
    }
    static void serverRows() {
        QTest::addColumn<Pop3Server>("pop3");
        QTest::newRow("Dovecot") << Pop3Server::Dovecot;
        QTest::newRow("pop3d") << Pop3Server::Mailutils;
    }

private slots:
    void initTestCase() {
        QVERIFY2(servers_.start(false, true), qPrintable(servers_.errorText()));
        trusted_.connectTimeoutMs = trusted_.readTimeoutMs = 10000;
        trusted_.caFile = servers_.caFile();
        for (Pop3Server s : {Pop3Server::Dovecot, Pop3Server::Mailutils}) {
            for (const QByteArray& m : {kIso2022jp, kRawCp932, kDots})
                QVERIFY(servers_.deliver(1, m, s));
            for (const char* subject : {"A", "B", "C"})
                QVERIFY(servers_.deliver(2, simpleMessage(subject), s));
        }
    }
    void cleanupTestCase() {
        // Every session, listings included, ended with QUIT's answer and a proper close.
        QVERIFY2(!servers_.logText().contains(QStringLiteral("Broken pipe")), qPrintable(servers_.logText()));
    }

    // trusted: the tests' CA is known. Plaintext by choice with STLS offered: an unverified but encrypted
    // channel is never worse, and it is said so.
    void listsOverEveryKindOfTls_data() {
        QTest::addColumn<Pop3Server>("pop3");
        QTest::addColumn<QString>("how"); // scheme, trust and password
        QTest::addColumn<int>("kind");    // -1: listed
        for (Pop3Server s : {Pop3Server::Dovecot, Pop3Server::Mailutils}) {
            const auto row = [s](const char* how, int kind) {
                QTest::addRow("%s, %s", s == Pop3Server::Dovecot ? "Dovecot" : "pop3d", how) << s << how << kind;
            };
            row("STLS trusted", -1), row("pop3s trusted", -1), row("pop3 trusted", -1), row("pop3 unknown", -1);
            row("STLS unknown", int(K::TlsFailed)), row("pop3s unknown", int(K::TlsFailed));
            row("STLS trusted wrong", int(K::LoginRefused)), row("pop3s trusted wrong", int(K::LoginRefused));
        }
    }
    void listsOverEveryKindOfTls() {
        QFETCH(Pop3Server, pop3);
        QFETCH(QString, how);
        QFETCH(int, kind);
        TransportOptions options = trusted_;
        if (how.contains(QStringLiteral("unknown")))
            options.caFile.clear();
        Mailbox mb = box(1, pop3,
                         how.startsWith(QStringLiteral("STLS"))    ? stls(pop3)
                         : how.startsWith(QStringLiteral("pop3s")) ? implicitTls(pop3)
                                                                   : plain(pop3));
        if (how.endsWith(QStringLiteral("wrong")))
            mb.password = QStringLiteral("wrong");
        RealMailTransport t(options);
        if (kind >= 0) { // deleting fails alike, and deletes nothing
            const auto removed = t.remove(mb, {0, 1, {}});
            QCOMPARE(removed.ok() ? -1 : int(removed.error().kind), kind);
            QCOMPARE(servers_.maildirFiles(1, pop3).size(), 3);
        }
        const auto listed = t.list(mb, QString());
        QCOMPARE(listed.ok() ? -1 : int(listed.error().kind), kind);
        if (!listed.ok())
            return;
        QCOMPARE(subjects(listed), QStringList({"こんにちは世界", "テスト①", "dots"}));
        QCOMPARE(listed.value().messages[0].from, QStringLiteral("山田 太郎 <yamada@korimo.test>"));
        QCOMPARE(listed.value().messages[0].date, QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"));
        QCOMPARE(listed.value().unverifiedServer.isEmpty(), !how.contains(QStringLiteral("unknown")));
    }

    void saveWritesTheBytesTheServerHolds_data() { serverRows(); }
    void saveWritesTheBytesTheServerHolds() {
        QFETCH(Pop3Server, pop3);
        QTemporaryDir dir;
        RealMailTransport t(trusted_);
        QSet<QByteArray> stored; // as sent: pop3d holds LF files and sends CR LF
        for (const QString& path : servers_.maildirFiles(1, pop3))
            stored.insert(pop3 == Pop3Server::Dovecot ? readFile(path) : crlf(readFile(path)));
        const auto listed = t.list(box(1, pop3, stls(pop3)), QString());
        QVERIFY2(listed.ok(), why(listed).constData());
        QCOMPARE(listed.value().messages.size(), 3);
        for (const MessageSummary& m : listed.value().messages) {
            const auto r = t.save(box(1, pop3, implicitTls(pop3)), {0, m.number, m.uid}, dir.path());
            QVERIFY2(r.ok(), why(r).constData());
            const QByteArray bytes = readFile(r.value());
            QVERIFY2(stored.remove(bytes), bytes.left(200).constData()); // byte-stuffed lines came back unstuffed
            QCOMPARE(summaryFromHeaders(bytes).subject, m.subject);      // the message listed under its number
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

    // Another mail program deletes between our listing and our deletion: the ref no longer names the
    // message at its number, so nothing is deleted or saved until the mailbox is listed again.
    void staleNumbersActOnNothing_data() { serverRows(); }
    void staleNumbersActOnNothing() {
        QFETCH(Pop3Server, pop3);
        QTemporaryDir dir;
        RealMailTransport ours(trusted_), other(trusted_);
        const Mailbox mb = box(2, pop3, stls(pop3));
        const QList<MessageSummary> seen = ours.list(mb, QString()).value().messages;
        QCOMPARE(seen.size(), 3);
        const MessageRef a{1, 1, seen[0].uid}, b{1, 2, seen[1].uid}, c{1, 3, seen[2].uid};
        QVERIFY(!a.uid.isEmpty());
        QVERIFY(other.remove(mb, a).ok());
        QCOMPARE(ours.remove(mb, b).error().kind, K::MailboxChanged);
        QCOMPARE(ours.save(mb, c, dir.path()).error().kind, K::MailboxChanged);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        const QList<MessageSummary> now = ours.list(mb, QString()).value().messages;
        QCOMPARE(subjects(ours.list(mb, QString())), QStringList({"B", "C"}));
        QVERIFY(ours.remove(mb, {1, now[1].number, now[1].uid}).ok());
        QCOMPARE(subjects(ours.list(mb, QString())), QStringList({"B"}));
        QCOMPARE(servers_.maildirFiles(2, pop3).size(), 1);
    }

    void allFiveMailboxesAtOnce_data() { serverRows(); }
    void allFiveMailboxesAtOnce() {
        QFETCH(Pop3Server, pop3);
        QVERIFY(servers_.deliver(5, simpleMessage("five"), pop3));
        QList<Mailbox> boxes;
        for (int n = 1; n <= kMailboxCount; ++n)
            boxes.append(n == 3 ? Mailbox{} : box(n, pop3, implicitTls(pop3)));
        const auto r = RealMailTransport(trusted_).listAll(boxes, QString());
        QCOMPARE(r.size(), kMailboxCount);
        QCOMPARE(r[0].value().messages.size(), 3);
        QCOMPARE(r[2].error().kind, K::NotConfigured);
        QCOMPARE(r[3].value().messages.size(), 0);
        QCOMPARE(subjects(r[4]), QStringList{"five"});
    }

    // korimo-mail: its output and exit codes (0 done, 1 refused, 2 usage).
    void korimoMailTool() {
        QTemporaryDir program, target;
        QVERIFY(servers_.deliver(4, simpleMessage("=?UTF-8?B?5Lya6K2w?=", "body\n")));
        const IniFile ini(program.path());
        const QStringList slot4{implicitTls(Pop3Server::Dovecot), servers_.user(4), servers_.password(4)};
        for (int k = 0; k < 3; ++k)
            QVERIFY(writeValue(ini, k == 0 ? keys::Servers : k == 1 ? keys::Accounts : keys::Passwords, slot4[k], 3));
        QVERIFY(writeValue(ini, keys::Servers, QStringLiteral("pop3://127.0.0.1:1"), 1));
        const QStringList ca{"--ca-file", servers_.caFile()};
        const QStringList slot = QStringList{"--ini", program.path(), "--slot", "4"} + ca;
        const Run list = korimoMail(QStringList{"list"} + slot, {});
        QCOMPARE(list.out, QStringLiteral("1\t会議\ts@korimo.test\tMon, 7 Dec 2026 10:00:00 +0900\n"));
        const Run saved = korimoMail(QStringList{"save", "1", target.path()} + slot, {});
        QVERIFY(readFile(saved.out.trimmed()).endsWith("\r\n\r\nbody\r\n"));
        const Run check = korimoMail(QStringList{"check", "--ini", program.path()} + ca, {});
        QCOMPARE(check.out.section(u'\n', 1, 1), QStringLiteral("4\t1"));
        QVERIFY2(check.out.startsWith(QStringLiteral("2\tサーバーに接続できません")), qPrintable(check.out));
        const QStringList dele = QStringList{"delete", "1", "--server", slot4[0], "--account", slot4[1]} + ca;
        const Run refused = korimoMail(dele, QStringLiteral("wrong"));
        QVERIFY2(refused.err.contains(QStringLiteral("ログインが拒否されました")), qPrintable(refused.err));
        const Run deleted = korimoMail(dele, slot4[2]);
        QCOMPARE(QList<int>({list.code, saved.code, check.code, refused.code, deleted.code}),
                 QList<int>({0, 0, 1, 1, 0}));
        QCOMPARE(servers_.maildirFiles(4).size(), 0);
        for (const char* usage :
             {"", "frobnicate", "list --sever x", "list", "delete first --server x", "list --slot 6"})
            QCOMPARE(korimoMail(QString::fromLatin1(usage).split(u' ', Qt::SkipEmptyParts), {}).code, 2);
        QCOMPARE(korimoMail({"--help"}, {}).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3dovecot.moc"
