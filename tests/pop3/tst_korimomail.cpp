// korimo-mail, the diagnostic tool: its commands against a scripted server, its exit codes.
#include "iniKeys.h"
#include "modIniFile.h"
#include "scriptedPop3Server.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using S = korimo::test::ScriptedPop3Server;
Q_DECLARE_METATYPE(S::Script)

namespace {

const S::Script login{S::line("+OK ready"),   S::expect("CAPA"), S::send("+OK\r\nUSER\r\n.\r\n"),
                      S::expect("USER taro"), S::line("+OK"),    S::expect("PASS pw"),
                      S::line("+OK")};

struct Run {
    int code;
    QString out, err;
};

Run korimoMail(const QStringList& args, const QString& password = QStringLiteral("pw")) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORIMO_PASSWORD"), password);
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("KORIMO_BINARY_DIR") + QStringLiteral("/tools/korimo-mail"), args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}, {}};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString server(const S& s) {
    return QStringLiteral("pop3://127.0.0.1:%1").arg(s.port());
}

} // namespace

class TestKorimoMail : public QObject {
    Q_OBJECT
private slots:
    void listPrintsOneLinePerMessage() {
        S s({login + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n2 b\r\n.\r\n"), S::expect("TOP 1 0"),
                               S::send("+OK\r\nSubject: =?UTF-8?B?5Lya6K2w?=\r\nFrom: a@b\r\nDate: Mon\r\n\r\n.\r\n"),
                               S::expect("TOP 2 0"), S::send("+OK\r\nSubject: two\r\n\r\n.\r\n"), S::expect("QUIT"),
                               S::line("+OK")}});
        const Run r = korimoMail({"list", "--server", server(s), "--account", "taro"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringLiteral("1\t会議\ta@b\tMon\n2\ttwo\t\t\n"));
    }

    void saveAndDeleteBySlotOfASettingsFile() {
        QTemporaryDir program;
        QDir(program.path()).mkdir(QStringLiteral("DATA"));
        QTemporaryDir target;
        S s({login + S::Script{S::expect("RETR 2"), S::send("+OK\r\nSubject: x\r\n\r\nbody\r\n.\r\n"),
                               S::expect("QUIT"), S::line("+OK")},
             login + S::Script{S::expect("DELE 2"), S::line("+OK"), S::expect("QUIT"), S::line("+OK")}});
        const IniFile ini(program.path());
        QVERIFY(writeValue(ini, keys::Servers, server(s), 2));
        QVERIFY(writeValue(ini, keys::Accounts, QStringLiteral("taro"), 2));
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("pw"), 2));
        const Run saved = korimoMail({"save", "2", target.path(), "--ini", program.path(), "--slot", "3"}, {});
        QCOMPARE(saved.code, 0);
        QFile f(saved.out.trimmed());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Subject: x\r\n\r\nbody\r\n"));
        const Run deleted = korimoMail({"delete", "2", "--ini", program.path(), "--slot", "3"}, {});
        QCOMPARE(deleted.code, 0);
        QVERIFY(s.waitFinished());
        QCOMPARE(s.failures(), QStringList());
    }

    void checkListsEveryConfiguredSlot() {
        QTemporaryDir program;
        S s({login + S::Script{S::expect("UIDL"), S::send("+OK\r\n1 a\r\n2 b\r\n.\r\n"), S::expect("TOP 1 0"),
                               S::send("+OK\r\n\r\n.\r\n"), S::expect("TOP 2 0"), S::send("+OK\r\n\r\n.\r\n"),
                               S::expect("QUIT"), S::line("+OK")}});
        const IniFile ini(program.path());
        QVERIFY(writeValue(ini, keys::Servers, server(s), 0));
        QVERIFY(writeValue(ini, keys::Accounts, QStringLiteral("taro"), 0));
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("pw"), 0));
        QVERIFY(writeValue(ini, keys::Servers, QStringLiteral("pop3://127.0.0.1:1"), 2));
        const Run r = korimoMail({"check", "--ini", program.path()});
        QCOMPARE(r.code, 1); // slot 3 failed
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("1\t2"));
        QVERIFY2(lines[1].startsWith(QStringLiteral("3\t")) && lines[1].contains(QStringLiteral("接続できません")),
                 qPrintable(lines[1]));
    }

    void failuresAndUsage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("no command") << QStringList{} << 2 << "usage";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << "unknown command";
        QTest::newRow("unknown option") << QStringList{"list", "--sever", "x"} << 2 << "unknown option";
        QTest::newRow("no mailbox") << QStringList{"list"} << 2 << "--server";
        QTest::newRow("bad number") << QStringList{"delete", "first", "--server", "pop3://127.0.0.1:1"} << 2
                                    << "not a message number";
        QTest::newRow("save without folder") << QStringList{"save", "1", "--server", "x"} << 2 << "folder";
        QTest::newRow("slot out of range")
            << QStringList{"list", "--ini", "/nonexistent", "--slot", "6"} << 2 << "--slot";
        QTest::newRow("unreachable") << QStringList{"list", "--server", "pop3://127.0.0.1:1", "--account", "a"} << 1
                                     << "接続できません";
    }
    void failuresAndUsage() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, stderrHas);
        const Run r = korimoMail(args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(stderrHas), qPrintable(r.err));
    }

    // Only a deletion the server committed exits 0, whatever the server's text says.
    void failedDeletionFails_data() {
        QTest::addColumn<S::Script>("afterPass");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("login refused") << S::Script{S::line("-ERR [AUTH] Authentication failed.")} << "PASSWORD";
        QTest::newRow("refusal quoting success")
            << S::Script{S::line("+OK"), S::expect("DELE 1"), S::line("-ERR メール 1 を削除しました"),
                         S::expect("QUIT"), S::line("+OK")}
            << QStringLiteral("を削除できません");
        QTest::newRow("session dropped before QUIT")
            << S::Script{S::line("+OK"), S::expect("DELE 1"), S::line("+OK marked"), S::expect("QUIT"), S::close()}
            << QStringLiteral("削除は確定していません");
    }
    void failedDeletionFails() {
        QFETCH(S::Script, afterPass);
        QFETCH(QString, stderrHas);
        S s({S::Script{S::line("+OK ready"), S::expect("CAPA"), S::send("+OK\r\nUSER\r\n.\r\n"), S::expect("USER taro"),
                       S::line("+OK"), S::expect("PASS pw")} +
             afterPass});
        const Run r = korimoMail({"delete", "1", "--server", server(s), "--account", "taro", "--timeout", "3000"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(stderrHas), qPrintable(r.err));
    }

    void helpIsNotAnError() {
        const Run r = korimoMail({"--help"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains(QStringLiteral("save N DIR")));
    }
};

QTEST_GUILESS_MAIN(TestKorimoMail)
#include "tst_korimomail.moc"
