// korimo-mail read and send: exit codes and the files read writes.
#include "korimo-mail.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace korimo::tool;

class TestMailTool : public QObject {
    Q_OBJECT
private slots:
    void readSavesAttachments() {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString message = tmp.filePath(QStringLiteral("m.eml"));
        QFile f(message);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Subject: hi\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nbody\r\n--b\r\n"
                "Content-Disposition: attachment; filename=\"../../up.txt\"\r\n\r\nX\r\n--b--\r\n");
        f.close();
        const QString folder = tmp.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(runReadCommand({message, folder, QStringLiteral("--nofile")}), int(ExitOk));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
        QCOMPARE(runReadCommand({message, folder}), int(ExitOk));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("up.txt")});
        QCOMPARE(runReadCommand({tmp.filePath(QStringLiteral("missing.eml")), folder}), int(ExitFailed));
        // A folder that cannot be written: the attachment is not saved, and the tool says so.
        QCOMPARE(runReadCommand({message, tmp.filePath(QStringLiteral("no-folder"))}), int(ExitFailed));
    }

    void usageErrors_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("read without folder") << "read" << QStringList{QStringLiteral("x.eml")};
        QTest::newRow("send without server")
            << "send" << QStringList{QStringLiteral("--from"), QStringLiteral("a@b.c")};
        QTest::newRow("send with unknown option")
            << "send" << QStringList{QStringLiteral("--bogus"), QStringLiteral("1")};
        QTest::newRow("send with dangling option") << "send" << QStringList{QStringLiteral("--server")};
        // A password on the command line shows in the process list: it is read from the environment.
        QTest::newRow("send with a password option")
            << "send"
            << QStringList{QStringLiteral("--server"), QStringLiteral("h"), QStringLiteral("--password"),
                           QStringLiteral("secret")};
        QTest::newRow("send with a password in the server text")
            << "send" << QStringList{QStringLiteral("--server"),  QStringLiteral("smtp://u:secret@h"),
                                     QStringLiteral("--from"),    QStringLiteral("a@b.c"),
                                     QStringLiteral("--to"),      QStringLiteral("x@y.z"),
                                     QStringLiteral("--subject"), QStringLiteral("s")};
    }
    void usageErrors() {
        QFETCH(QString, command);
        QFETCH(QStringList, args);
        QCOMPARE(command == QLatin1String("read") ? runReadCommand(args) : runSendCommand(args), int(ExitUsage));
    }

    void sendReportsFailure() {
        // A loopback port that nobody listens on.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
        QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
        ::close(fd);
        const QString server = QStringLiteral("smtp://127.0.0.1:%1").arg(ntohs(addr.sin_port));
        QCOMPARE(runSendCommand({QStringLiteral("--server"), server, QStringLiteral("--from"), QStringLiteral("a@b.c"),
                                 QStringLiteral("--to"), QStringLiteral("x@y.z"), QStringLiteral("--subject"),
                                 QStringLiteral("s"), QStringLiteral("--body"), QStringLiteral("b")}),
                 int(ExitFailed));
        QCOMPARE(runSendCommand({QStringLiteral("--server"), server, QStringLiteral("--from"), QStringLiteral("a@b.c"),
                                 QStringLiteral("--to"), QStringLiteral("x@y.z"), QStringLiteral("--subject"),
                                 QStringLiteral("s"), QStringLiteral("--body-file"), QStringLiteral("/no/such/file")}),
                 int(ExitFailed));
    }
};

QTEST_GUILESS_MAIN(TestMailTool)
#include "tst_mailtool.moc"
