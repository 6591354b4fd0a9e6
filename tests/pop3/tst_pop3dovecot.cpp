// The POP3 transport against real servers on loopback (started by the test suite), each test once for
// Dovecot and once for GNU mailutils pop3d: STLS, implicit TLS, certificates, a refused login, Japanese
// headers, byte-stuffed lines, exact saved bytes, renumbering after a deletion, the UIDL cache, all five
// mailboxes at once.
#include "realMailTransport.h"
#include "summaryRecord.h"
#include "testFiles.h"
#include "testMailServers.h"
#include "uidlCache.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using korimo::test::Pop3Server;

Q_DECLARE_METATYPE(korimo::test::Pop3Server)

namespace {

QByteArray crlf(QByteArray text) {
    return text.replace("\n", "\r\n");
}

QByteArray simpleMessage(const QByteArray& subject, const QByteArray& body = "Hello.\n") {
    return crlf("From: Sender <sender@korimo.test>\nTo: you@korimo.test\nSubject: " + subject +
                "\nDate: Mon, 7 Dec 2026 10:00:00 +0900\nMessage-ID: <" + subject.toHex() + "@korimo.test>\n\n" + body);
}

// Mailbox 1's four messages, in delivery order.
const QByteArray kIso2022jp = crlf("From: =?UTF-8?B?5bGx55SwIOWkqumDjg==?= <yamada@korimo.test>\n"
                                   "To: you@korimo.test\n"
                                   "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkT0AkMyYbKEI=?=\n"
                                   "Date: Mon, 7 Dec 2026 10:00:00 +0900\n"
                                   "MIME-Version: 1.0\n"
                                   "Content-Type: text/plain; charset=ISO-2022-JP\n\n"
                                   "\x1b$B$3$s$K$A$O\x1b(B\n");
const QByteArray kRawCp932 = crlf("From: sato@korimo.test\nSubject: \x83\x65\x83\x58\x83\x67\x87\x40\n"
                                  "Date: Tue, 8 Dec 2026 09:00:00 +0900\n\nbody\n");
const QByteArray kDots = simpleMessage("dots", ".leading dot\n..two dots\n.\nlast line\n");
const QByteArray kMultipart = crlf("From: a@korimo.test\nSubject: multipart\nDate: Wed, 9 Dec 2026 08:00:00 +0900\n"
                                   "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b1\"\n\n"
                                   "--b1\nContent-Type: text/plain; charset=UTF-8\n\nsee attachment\n"
                                   "--b1\nContent-Type: application/octet-stream; name=\"a.bin\"\n"
                                   "Content-Transfer-Encoding: base64\n\nAAECAwQ=\n--b1--\n");

QStringList subjects(const MailResult& r) {
    QStringList out;
    for (const QString& rec : r.items())
        out << splitSummaryRecord(rec).subject;
    return out;
}

} // namespace

class TestPop3Dovecot : public QObject {
    Q_OBJECT
    korimo::test::TestMailServers servers_;
    TransportOptions trusted_;
    static constexpr Pop3Server kServers[] = {Pop3Server::Dovecot, Pop3Server::Mailutils};

    static const char* name(Pop3Server s) { return s == Pop3Server::Dovecot ? "Dovecot" : "pop3d"; }
    QString stls(Pop3Server s) const { return QStringLiteral("127.0.0.1:%1").arg(servers_.pop3Port(s)); }
    QString implicitTls(Pop3Server s) const {
        return QStringLiteral("pop3s://127.0.0.1:%1").arg(servers_.pop3sPort(s));
    }
    QString plain(Pop3Server s) const { return QStringLiteral("pop3://127.0.0.1:%1").arg(servers_.pop3Port(s)); }
    QString user(int n, Pop3Server s) const { return servers_.pop3Account(n, s); }
    // The column every test has: which server it runs against.
    static void serverRows() {
        QTest::addColumn<Pop3Server>("pop3");
        for (Pop3Server s : kServers)
            QTest::newRow(name(s)) << s;
    }

private slots:
    void initTestCase() {
        QVERIFY2(servers_.start(false, true), qPrintable(servers_.errorText()));
        trusted_.connectTimeoutMs = 10000;
        trusted_.readTimeoutMs = 10000;
        trusted_.extraCaFile = servers_.caFile();
        for (Pop3Server s : kServers) {
            for (const QByteArray& m : {kIso2022jp, kRawCp932, kDots, kMultipart})
                QVERIFY(servers_.deliver(1, m, nullptr, s));
            for (const char* subject : {"A", "B", "C"})
                QVERIFY(servers_.deliver(2, simpleMessage(subject), nullptr, s));
        }
    }

    void cleanupTestCase() {
        // Every session, listings included, ended with QUIT's answer and a proper close.
        QVERIFY2(!servers_.logText().contains(QStringLiteral("Broken pipe")), qPrintable(servers_.logText()));
    }

    void listsOverEveryKindOfTls_data() {
        QTest::addColumn<Pop3Server>("pop3");
        QTest::addColumn<QString>("server");
        for (Pop3Server s : kServers) {
            QTest::addRow("%s, STLS required", name(s)) << s << stls(s);
            QTest::addRow("%s, implicit TLS", name(s)) << s << implicitTls(s);
            QTest::addRow("%s, pop3:// still uses the offered STLS", name(s)) << s << plain(s);
        }
    }
    void listsOverEveryKindOfTls() {
        QFETCH(Pop3Server, pop3);
        QFETCH(QString, server);
        RealMailTransport t(trusted_);
        const MailResult r = t.RcvMail2(server, user(1, pop3), servers_.password(1), "LIST", QString());
        QVERIFY2(r.isArray(), qPrintable(r.text()));
        QCOMPARE(subjects(r), QStringList({QStringLiteral("こんにちは世界"), QStringLiteral("テスト①"),
                                           QStringLiteral("dots"), QStringLiteral("multipart")}));
        const SummaryFields first = splitSummaryRecord(r.items()[0]);
        QCOMPARE(first.from, QStringLiteral("山田 太郎 <yamada@korimo.test>"));
        QCOMPARE(first.date, QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"));
        QCOMPARE(splitSummaryRecord(r.items()[1]).from, QStringLiteral("sato@korimo.test"));
        QCOMPARE(r.note(), QString()); // the certificate was verified
    }

    void unknownCertificate_data() {
        QTest::addColumn<Pop3Server>("pop3");
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("listed");
        for (Pop3Server s : kServers) {
            QTest::addRow("%s, STLS", name(s)) << s << stls(s) << false;
            QTest::addRow("%s, implicit TLS", name(s)) << s << implicitTls(s) << false;
            // Plaintext by choice: an unverified but encrypted channel is never worse, and it is said so.
            QTest::addRow("%s, pop3:// with STLS", name(s)) << s << plain(s) << true;
        }
    }
    void unknownCertificate() {
        QFETCH(Pop3Server, pop3);
        QFETCH(QString, server);
        QFETCH(bool, listed);
        TransportOptions systemStoreOnly = trusted_;
        systemStoreOnly.extraCaFile.clear();
        RealMailTransport t(systemStoreOnly);
        const MailResult r = t.RcvMail2(server, user(1, pop3), servers_.password(1), "LIST", QString());
        QCOMPARE(r.isArray(), listed);
        QVERIFY2((listed ? r.note() : r.text()).contains(QStringLiteral("証明書")), qPrintable(r.text()));
        if (listed)
            QCOMPARE(r.items().size(), 4);
    }

    void wrongPasswordIsReported_data() { serverRows(); }
    void wrongPasswordIsReported() {
        QFETCH(Pop3Server, pop3);
        RealMailTransport t(trusted_);
        const MailResult list = t.RcvMail2(stls(pop3), user(1, pop3), "wrong", "LIST", QString());
        QVERIFY(!list.isArray());
        QVERIFY2(list.text().contains(QStringLiteral("PASSWORD")), qPrintable(list.text()));
        const MailResult dele = t.RcvMail2(implicitTls(pop3), user(1, pop3), "wrong", "DELE 1", QString());
        QVERIFY2(dele.text().contains(QStringLiteral("PASSWORD")), qPrintable(dele.text()));
        QCOMPARE(t.RcvMail2(stls(pop3), user(1, pop3), servers_.password(1), "LIST", QString()).items().size(), 4);
    }

    void saveWritesTheBytesTheServerHolds_data() { serverRows(); }
    void saveWritesTheBytesTheServerHolds() {
        QFETCH(Pop3Server, pop3);
        QTemporaryDir dir;
        RealMailTransport t(trusted_);
        QSet<QByteArray> stored; // as sent: pop3d holds LF files and sends CR LF
        for (const QString& path : servers_.maildirFiles(1, pop3))
            stored.insert(pop3 == Pop3Server::Dovecot ? readFile(path) : crlf(readFile(path)));
        QCOMPARE(stored.size(), 4);
        const QStringList listed =
            subjects(t.RcvMail2(stls(pop3), user(1, pop3), servers_.password(1), "LIST", QString()));
        QSet<QString> paths;
        for (int n = 1; n <= 4; ++n) {
            const MailResult r = t.RcvMail(implicitTls(pop3), user(1, pop3), servers_.password(1),
                                           QStringLiteral("SAVE %1").arg(n), dir.path());
            QVERIFY2(r.isArray(), qPrintable(r.text()));
            const QByteArray bytes = readFile(r.items()[0]);
            QVERIFY2(stored.contains(bytes), bytes.left(200).constData());
            // Message n is the one LIST described as n.
            QCOMPARE(splitSummaryRecord(summaryFromHeaders(bytes)).subject, listed[n - 1]);
            paths.insert(r.items()[0]);
        }
        QCOMPARE(paths.size(), 4); // every save made a new file
        QVERIFY(readFile(*paths.begin()).size() > 0);
        const QByteArray dots = crlf("\n\n.leading dot\n..two dots\n.\nlast line\n");
        bool sawDots = false;
        for (const QString& p : paths)
            sawDots |= readFile(p).endsWith(dots);
        QVERIFY(sawDots); // the byte-stuffed lines came back unstuffed, exactly as delivered
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
    }

    void deletionRenumbersTheNextCall_data() { serverRows(); }
    void deletionRenumbersTheNextCall() {
        QFETCH(Pop3Server, pop3);
        RealMailTransport t(trusted_);
        const int box = 2;
        const QString user = this->user(box, pop3);
        const QString pw = servers_.password(box);
        const QString stls = this->stls(pop3);
        const QString implicitTls = this->implicitTls(pop3);
        QCOMPARE(subjects(t.RcvMail2(stls, user, pw, "LIST", QString())), QStringList({"A", "B", "C"}));
        const MailResult first = t.RcvMail2(stls, user, pw, "DELE 1", QString());
        QVERIFY2(first.text().contains(QStringLiteral("削除しました")), qPrintable(first.text()));
        QCOMPARE(subjects(t.RcvMail2(stls, user, pw, "LIST", QString())), QStringList({"B", "C"}));
        QVERIFY(t.RcvMail2(implicitTls, user, pw, "DELE 2", QString()).text().contains(QStringLiteral("削除しました")));
        QCOMPARE(subjects(t.RcvMail2(stls, user, pw, "LIST", QString())), QStringList({"B"}));
        QCOMPARE(servers_.maildirFiles(box, pop3).size(), 1);
        const MailResult gone = t.RcvMail2(stls, user, pw, "DELE 5", QString());
        QVERIFY(!gone.text().contains(QStringLiteral("削除しました")));
        QVERIFY(!gone.text().contains(QStringLiteral("PASSWORD")));
    }

    void cacheFollowsTheMailbox_data() { serverRows(); }
    void cacheFollowsTheMailbox() {
        QFETCH(Pop3Server, pop3);
        QTemporaryDir data;
        RealMailTransport t(trusted_);
        const QString user = this->user(3, pop3);
        const QString pw = servers_.password(3);
        const QString stls = this->stls(pop3);
        QVERIFY(servers_.deliver(3, simpleMessage("X"), nullptr, pop3));
        QCOMPARE(subjects(t.RcvMail2(stls, user, pw, "LIST", data.path())), QStringList({"X"}));
        const UidlCache cache(data.path(), stls, user);
        QCOMPARE(cache.load().size(), 1);
        QVERIFY(servers_.deliver(3, simpleMessage("Y"), nullptr, pop3));
        QCOMPARE(subjects(t.RcvMail2(stls, user, pw, "LIST", data.path())), QStringList({"X", "Y"}));
        QVERIFY(t.RcvMail2(stls, user, pw, "DELE 1", data.path()).text().contains(QStringLiteral("削除しました")));
        QCOMPARE(subjects(t.RcvMail2(stls, user, pw, "LIST", data.path())), QStringList({"Y"}));
        QCOMPARE(cache.load().size(), 1);
    }

    void allFiveMailboxesAtOnce_data() { serverRows(); }
    void allFiveMailboxesAtOnce() {
        QFETCH(Pop3Server, pop3);
        QVERIFY(servers_.deliver(4, simpleMessage("three"), nullptr, pop3));
        QVERIFY(servers_.deliver(5, simpleMessage("four"), nullptr, pop3));
        RealMailTransport t(trusted_);
        QList<Mailbox> boxes;
        for (int n = 1; n <= 5; ++n)
            boxes.append({n == 3 ? QString() : implicitTls(pop3), user(n, pop3), servers_.password(n)});
        const QList<MailResult> results = t.ListMailboxes(boxes, QString());
        QCOMPARE(results.size(), 5);
        QCOMPARE(results[0].items().size(), 4);
        QVERIFY(results[1].isArray());
        QVERIFY(!results[2].isArray()); // no server
        QCOMPARE(subjects(results[3]), QStringList{"three"});
        QCOMPARE(subjects(results[4]), QStringList{"four"});
    }
};

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3dovecot.moc"
