// The program's transport, which runs every call in a helper process: against a real Dovecot it must
// give what the same transport gives in-process, and a helper that is missing, dies, hangs or answers
// nonsense must give a truthful error (never a success, never a hang).
#include "helperMailTransport.h"
#include "mailWire.h"
#include "realMailTransport.h"
#include "testMailServers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using K = MailErrorKind;

namespace {

QByteArray message(const QByteArray& subject) {
    return QByteArray("From: =?UTF-8?B?5bGx55SwIOWkqumDjg==?= <yamada@korimo.test>\r\nSubject: " + subject +
                      "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain; "
                      "charset=UTF-8\r\n\r\n\xe6\x9c\xac\xe6\x96\x87\r\n--b\r\nContent-Type: application/octet-stream"
                      "\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\nContent-Transfer-Encoding: base64"
                      "\r\n\r\nAAEC\r\n--b--\r\n");
}

QStringList shown(const Listing& l) {
    QStringList out;
    for (const MessageSummary& m : l.messages)
        out << QString::number(m.number) + u' ' + QString::fromLatin1(m.uid) + u' ' + m.subject + u' ' + m.from + u' ' +
                   m.date;
    return out;
}
QStringList shown(const MailMessage& m) {
    QStringList out{m.subject, m.from, m.date, m.body, QString::number(m.partsOmitted)};
    for (const SavedAttachment& a : m.attachments)
        out << QFileInfo(a.fileName).fileName() + u' ' + QString::number(a.saved) + u' ' + a.problem;
    return out;
}

} // namespace

class TestHelperTransport : public QObject {
    Q_OBJECT
    test::TestMailServers servers_;
    TransportOptions options_;

    Mailbox box(int n) const {
        return {QStringLiteral("127.0.0.1:%1").arg(servers_.pop3Port()), test::TestMailServers::user(n),
                test::TestMailServers::password(n)};
    }

private slots:
    void initTestCase() {
        QVERIFY2(servers_.start(false), qPrintable(servers_.errorText()));
        options_.caFile = servers_.caFile();
        options_.connectTimeoutMs = options_.readTimeoutMs = 10000;
        for (const char* s : {"=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", "second", "third"})
            QVERIFY(servers_.deliver(1, message(s)));
    }

    // Every operation through the helpers against the same operation in this process.
    void givesWhatTheTransportGivesInProcess() {
        RealMailTransport here(options_);
        HelperMailTransport helper(QStringLiteral(KORIMO_MAIL_HELPERS), options_);
        QTemporaryDir cacheA, cacheB, files;

        const QList<Mailbox> boxes{box(1), {}, box(2), {QStringLiteral("127.0.0.1:1"), QStringLiteral("x"), {}}};
        const auto expected = here.listAll(boxes, cacheA.path());
        const auto got = helper.listAll(boxes, cacheB.path());
        QCOMPARE(got.size(), expected.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].ok(), expected[i].ok());
            if (got[i].ok())
                QCOMPARE(shown(got[i].value()), shown(expected[i].value()));
            else
                QCOMPARE(got[i].error().kind, expected[i].error().kind);
        }
        QCOMPARE(got[0].value().messages.size(), 3);
        QCOMPARE(got[0].value().messages[0].subject, QStringLiteral("こんにちは"));

        const MessageSummary first = got[0].value().messages[0];
        const MessageRef ref{0, first.number, first.uid};
        const auto saved = helper.save(box(1), ref, files.path());
        QVERIFY2(saved.ok(), qPrintable(saved.ok() ? QString() : describe(saved.error())));
        QFile file(saved.value());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), message("=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?="));

        QTemporaryDir attachmentsA, attachmentsB;
        const auto readHere = here.read(saved.value(), true, attachmentsA.path());
        const auto readThere = helper.read(saved.value(), true, attachmentsB.path());
        QVERIFY(readHere.ok() && readThere.ok());
        QCOMPARE(shown(readThere.value()), shown(readHere.value()));
        QVERIFY(QFile::exists(QDir(attachmentsB.path()).filePath(QStringLiteral("a.bin"))));
        QCOMPARE(helper.read(files.filePath(QStringLiteral("none.eml")), false, {}).error().kind, K::LocalFile);

        // A stale reference is refused by the helper as in-process; a current one is deleted.
        QCOMPARE(helper.remove(box(1), {0, 1, "not-the-uid"}).error().kind, K::MailboxChanged);
        QVERIFY(helper.remove(box(1), ref).ok());
        QCOMPARE(helper.list(box(1), {}).value().messages.size(), 2);

        // Sending checks the message before any connection: refused without a server.
        OutgoingMail mail{QStringLiteral("127.0.0.1:1"), {QStringLiteral("bad address")},
                          QStringLiteral("a@b.test"),    QStringLiteral("s"),
                          QStringLiteral("b"),           {}};
        QCOMPARE(helper.send(mail).error().kind, here.send(mail).error().kind);
    }

    // A stand-in helper that reads the request and then does what the row says.
    void aBrokenHelperGivesATruthfulError_data() {
        QTest::addColumn<QByteArray>("script"); // "" : no helper at all
        QTest::addColumn<int>("list");          // -1: listed
        QTest::addColumn<int>("remove");        // -1: removed
        QTest::addColumn<int>("send");
        QTest::addColumn<int>("save");
        const int fail = int(K::HelperFailed), unknown = int(K::OutcomeUnknown);
        QTest::newRow("missing") << QByteArray() << fail << fail << fail << fail;
        QTest::newRow("exits 1") << QByteArray("cat >/dev/null; exit 1") << fail << unknown << unknown << fail;
        QTest::newRow("killed") << QByteArray("cat >/dev/null; kill -9 $$") << fail << unknown << unknown << fail;
        QTest::newRow("nonsense") << QByteArray("cat >/dev/null; echo KORM-nonsense") << fail << unknown << unknown
                                  << fail;
        QTest::newRow("cut short") << QByteArray("cat >/dev/null; head -c 5 \"$0.reply\"") << fail << unknown << unknown
                                   << fail;
        QTest::newRow("never answers") << QByteArray("exec sleep 60") << int(K::TimedOut) << unknown << unknown
                                       << int(K::TimedOut);
        QTest::newRow("answers") << QByteArray("cat >/dev/null; cat \"$0.reply\"") << -1 << -1 << -1 << -1;
    }
    void aBrokenHelperGivesATruthfulError() {
        QFETCH(QByteArray, script);
        QTemporaryDir dir;
        const auto install = [&](const QString& name, const QByteArray& reply) {
            if (script.isEmpty())
                return;
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n" + script + "\n");
            f.close();
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile r(dir.filePath(name + QStringLiteral(".reply")));
            QVERIFY(r.open(QIODevice::WriteOnly));
            r.write(reply);
        };
        // The mail helper answers one of each; the reply of the row that answers fits list, remove and save
        // in turn, so each call below has its own folder.
        const auto check = [&](int expected, const auto& outcome) {
            QCOMPARE(outcome.ok(), expected < 0);
            if (expected >= 0)
                QCOMPARE(int(outcome.error().kind), expected);
        };
        const Mailbox one{QStringLiteral("127.0.0.1:1"), QStringLiteral("u"), QStringLiteral("p")};
        QElapsedTimer timer;
        timer.start();

        install(QStringLiteral("korimo-mail-helper"), wire::encode(QList<MailOutcome<Listing>>{Listing{}}));
        // Given up after a second when it never answers; the others have all the time a loaded machine needs.
        HelperMailTransport helper(dir.path(), {}, script.startsWith("exec sleep") ? 1000 : 60000);
        QFETCH(int, list);
        check(list, helper.list(one, {}));

        install(QStringLiteral("korimo-mail-helper"), wire::encode(MailOutcome<Done>(Done{})));
        QFETCH(int, remove);
        check(remove, helper.remove(one, {0, 1, "u1"}));

        install(QStringLiteral("korimo-message-helper"), wire::encode(MailOutcome<Sent>(Sent{})));
        QFETCH(int, send);
        check(send, helper.send({}));

        install(QStringLiteral("korimo-mail-helper"), wire::encode(MailOutcome<QString>(QStringLiteral("/x.eml"))));
        QFETCH(int, save);
        check(save, helper.save(one, {0, 1, "u1"}, dir.path()));
        if (script.startsWith("exec sleep")) // four calls, each given up at the backstop
            QVERIFY2(timer.elapsed() < 30000, "a helper that never answers is given up at the backstop");
    }

    // Nothing but a whole reply decodes: every shorter piece of one is refused.
    void aReplyDecodesOnlyWhole() {
        MailMessage m{QStringLiteral("件名"),
                      QStringLiteral("from"),
                      QStringLiteral("date"),
                      QStringLiteral("本文"),
                      {{QStringLiteral("a.bin"), true, {}}},
                      false};
        const QByteArray frame = wire::encode(MailOutcome<MailMessage>(m));
        QVERIFY(wire::decodeMessage(frame).has_value());
        QCOMPARE(shown(wire::decodeMessage(frame)->value()), shown(m));
        for (qsizetype n = 0; n < frame.size(); ++n)
            QVERIFY2(!wire::decodeMessage(frame.left(n)), qPrintable(QString::number(n)));
        QVERIFY(!wire::decodeMessage(frame + 'x'));
        QVERIFY(!wire::decodeDone(frame));
    }
};

QTEST_GUILESS_MAIN(TestHelperTransport)
#include "tst_helpertransport.moc"
