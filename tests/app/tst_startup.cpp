// The real executable, copied into a private program folder: one instance per folder whatever lock
// file an earlier run left, a sweep of the settings file's stale temporaries, and a second start that
// leaves at once without touching anything.
#include "testFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using korimo::readFile;
using korimo::writeFile;

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void secondStartLeavesEverythingAlone_data() {
        QTest::addColumn<QByteArray>("ini");  // "" for no settings file
        QTest::addColumn<QByteArray>("lock"); // what a crashed run left in .korimo.lock; null for no file
        QTest::newRow("no settings file") << QByteArray() << QByteArray();
        QTest::newRow("huge top") << QByteArray("[Main]\r\nleft=1000\r\ntop=99999\r\ntext1=3\r\n") << QByteArray();

        QTest::newRow("garbled lock file") << QByteArray() << QByteArray("\xFF\x00garbage\n-1\n", 13);
        QTest::newRow("lock of a dead process") << QByteArray() << QByteArray("999999\nkorimo\nhost\n");
    }
    void secondStartLeavesEverythingAlone() {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, lock);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString built = qEnvironmentVariable("KORIMO_BINARY_DIR") + QStringLiteral("/korimo");
        const QString exe = dir.filePath(QStringLiteral("korimo"));
        QVERIFY(QFile::copy(built + QStringLiteral("/korimo"), exe));
        QVERIFY(QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("DATA")));
        for (const QString& icon : {QStringLiteral("iconKorimo.ico"), QStringLiteral("Icon.ico")})
            QVERIFY(QFile::copy(built + QStringLiteral("/DATA/") + icon, dir.filePath(QStringLiteral("DATA/") + icon)));
        const QString iniPath = dir.filePath(QStringLiteral("iniKR.ini"));
        QVERIFY(ini.isEmpty() || writeFile(iniPath, ini));
        const QDateTime iniTime = QFileInfo(iniPath).lastModified();
        QVERIFY(lock.isNull() || writeFile(dir.filePath(QStringLiteral(".korimo.lock")), lock));
        // A write killed before its rename left a temporary holding a password.
        const QString stale = dir.filePath(QStringLiteral("iniKR.ini.korimo-Ab12Cd"));
        const auto leaveTemporary = [&stale] {
            return writeFile(stale, "[Past]\r\npass-0=secret\r\n");
        };
        QVERIFY(leaveTemporary());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess first;
        first.setProcessEnvironment(env);
        first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        first.start(exe, {});
        QVERIFY(first.waitForStarted(10000));
        auto stopFirst = qScopeGuard([&] {
            first.kill();
            first.waitForFinished(10000);
        });
        // The first instance has made its folders once it is past the lock.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath(QStringLiteral("Sound"))).isDir(), 20000);
        QVERIFY(QDir(dir.filePath(QStringLiteral("AttachedFiles"))).removeRecursively());
        QVERIFY(QDir(dir.filePath(QStringLiteral("Sound"))).removeRecursively());
        QVERIFY(!QFileInfo::exists(stale)); // swept before the folders were made
        QVERIFY(leaveTemporary());          // only the lock holder sweeps, and only at its start

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(exe, {});
        QVERIFY(second.waitForFinished(20000));
        QVERIFY(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());

        // Nothing created, nothing written.
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("AttachedFiles"))) &&
                !QFileInfo::exists(dir.filePath(QStringLiteral("Sound"))));
        QCOMPARE(readFile(iniPath), ini);
        QCOMPARE(QFileInfo(iniPath).lastModified(), iniTime);
        QVERIFY(QFileInfo::exists(stale));
        // The first one still runs, with its window open.
        QCOMPARE(first.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
