// The settings window's display-free rules: browser numbering, sound visibility, option states, the
// dialogs' kept names and the autostart entry.
#include "setLogic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace korimo;

namespace {

// Reads an Exec value back the way a desktop reads it: string escapes first, then the quoting of
// arguments, then field codes. Returns the arguments.
QStringList parseExec(const QString& value) {
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == u'\\' && i + 1 < value.size()) {
            const QChar n = value.at(++i);
            unescaped += n == u's' ? QChar(u' ') : n == u'n' ? QChar(u'\n') : n == u't' ? QChar(u'\t') : n;
        } else {
            unescaped += value.at(i);
        }
    }
    QStringList args;
    QString cur;
    bool inQuotes = false, any = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped.at(i);
        if (inQuotes) {
            if (c == u'\\' && i + 1 < unescaped.size())
                cur += unescaped.at(++i);
            else if (c == u'"')
                inQuotes = false;
            else
                cur += c;
        } else if (c == u'"') {
            inQuotes = any = true;
        } else if (c == u' ') {
            if (any)
                args << cur;
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any)
        args << cur;
    for (QString& a : args)
        a.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return args;
}

QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestSetLogic : public QObject {
    Q_OBJECT
private slots:
    void browseStepWraps_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("expected");
        QTest::newRow("1 down wraps to 20") << 1 << -1 << 20;
        QTest::newRow("20 up wraps to 1") << 20 << +1 << 1;
        QTest::newRow("3 up") << 3 << +1 << 4;
        QTest::newRow("3 down") << 3 << -1 << 2;
        QTest::newRow("19 up") << 19 << +1 << 20;
        QTest::newRow("2 down") << 2 << -1 << 1;
    }
    void browseStepWraps() {
        QFETCH(int, number);
        QFETCH(int, step);
        QFETCH(int, expected);
        QCOMPARE(browseStep(number, step), expected);
    }

    void entryNumberStaysInRange_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("expected");
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("20") << "20" << 20;
        QTest::newRow("7") << "7" << 7;
        QTest::newRow("0") << "0" << 1;
        QTest::newRow("21") << "21" << 1;
        QTest::newRow("empty") << "" << 1;
        QTest::newRow("text") << "x" << 1;
    }
    void entryNumberStaysInRange() {
        QFETCH(QString, label);
        QFETCH(int, expected);
        QCOMPARE(entryNumber(label), expected);
    }

    void soundVisibilityRule_data() {
        QTest::addColumn<bool>("soundOn");
        QTest::addColumn<bool>("wav");
        QTest::addColumn<bool>("options");
        QTest::addColumn<bool>("wavControls");
        QTest::newRow("off, beep") << false << false << false << false;
        QTest::newRow("off, wav") << false << true << false << false;
        QTest::newRow("on, beep") << true << false << true << false;
        QTest::newRow("on, wav") << true << true << true << true;
    }
    void soundVisibilityRule() {
        QFETCH(bool, soundOn);
        QFETCH(bool, wav);
        QFETCH(bool, options);
        QFETCH(bool, wavControls);
        const SoundVisibility v = soundVisibility(soundOn, wav);
        QCOMPARE(v.options, options);
        QCOMPARE(v.wavControls, wavControls);
    }

    void optionStates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("def");
        QTest::addColumn<bool>("expected");
        QTest::newRow("True") << "True" << false << true;
        QTest::newRow("False") << "False" << true << false;
        QTest::newRow("lower true") << "true" << false << true;
        QTest::newRow("upper FALSE") << "FALSE" << true << false;
        QTest::newRow("-1") << "-1" << false << true;
        QTest::newRow("0") << "0" << true << false;
        QTest::newRow("empty keeps default true") << "" << true << true;
        QTest::newRow("empty keeps default false") << "" << false << false;
        QTest::newRow("garbage keeps default") << "Yes" << false << false;
    }
    void optionStates() {
        QFETCH(QString, text);
        QFETCH(bool, def);
        QFETCH(bool, expected);
        QCOMPARE(parseOptionState(text, def), expected);
    }

    void keptFileNameSurvivesCancel() {
        KeptFileName kept;
        QCOMPARE(kept.answer(QString()), QString()); // first cancel: nothing kept yet
        QCOMPARE(kept.answer("/a/b.wav"), "/a/b.wav");
        QCOMPARE(kept.answer(QString()), "/a/b.wav");
        QCOMPARE(kept.answer("/c/mailer"), "/c/mailer");
        QCOMPARE(kept.answer(QString()), "/c/mailer");
        kept.keep("/d/Icon.ico");
        QCOMPARE(kept.answer(QString()), "/d/Icon.ico");
    }

    void execArgumentReadsBackAsThePath_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << "/opt/korimo/korimo";
        QTest::newRow("space") << "/home/u/My Programs/korimo";
        QTest::newRow("japanese") << "/home/u/こりも/こりも";
        QTest::newRow("double quote") << "/tmp/a\"b/korimo";
        QTest::newRow("dollar and backtick") << "/tmp/$HOME/`id`/korimo";
        QTest::newRow("backslash") << "/tmp/a\\b/korimo";
        QTest::newRow("percent") << "/tmp/100%u/korimo";
        QTest::newRow("semicolon and equals") << "/tmp/a;b=c/korimo";
    }
    void execArgumentReadsBackAsThePath() {
        QFETCH(QString, path);
        const QString exec = desktopExecArgument(path);
        QVERIFY(!exec.isEmpty());
        QCOMPARE(parseExec(exec), QStringList{path});
    }

    void execArgumentOfTheBackslashIsFourBackslashes() { QCOMPARE(desktopExecArgument("/a\\b"), "\"/a\\\\\\\\b\""); }

    void unwritablePathsGiveNoEntry_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << "";
        QTest::newRow("newline") << "/tmp/a\nExec=/bin/evil";
        QTest::newRow("carriage return") << "/tmp/a\rb";
        QTest::newRow("tab") << "/tmp/a\tb";
    }
    void unwritablePathsGiveNoEntry() {
        QFETCH(QString, path);
        QVERIFY(desktopExecArgument(path).isEmpty());
        QVERIFY(autostartEntryText(path).isEmpty());
        QTemporaryDir dir;
        QVERIFY(!registerAutostart(dir.path() + "/autostart", path));
        QVERIFY(!QFileInfo::exists(autostartEntryPath(dir.path() + "/autostart")));
    }

    void registerCreatesFolderAndEntry() {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/config/autostart";
        QVERIFY(registerAutostart(folder, "/opt/こりも/korimo app"));
        const QString path = folder + "/こりも.desktop";
        QCOMPARE(autostartEntryPath(folder), path);
        const QStringList lines = readText(path).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), "[Desktop Entry]");
        QVERIFY(lines.contains("Type=Application"));
        QVERIFY(lines.contains("Name=こりも"));
        QStringList exec = lines.filter(QRegularExpression("^Exec="));
        QCOMPARE(exec.size(), 1);
        QCOMPARE(parseExec(exec.first().mid(5)), QStringList{"/opt/こりも/korimo app"});
        // Nothing but the entry is left in the folder (no temporary file).
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"こりも.desktop"});
    }

    void registerReplacesAnOldEntry() {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/autostart";
        QVERIFY(QDir().mkpath(folder));
        {
            QFile old(autostartEntryPath(folder));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("[Desktop Entry]\nType=Application\nName=old\nExec=/old/path --with-args and more text\n");
        }
        QVERIFY(registerAutostart(folder, "/new/korimo"));
        const QString text = readText(autostartEntryPath(folder));
        QVERIFY(!text.contains("/old/path"));
        QVERIFY(text.contains("Exec=\"/new/korimo\"\n"));
    }

    void unregisterRemovesAndToleratesMissing() {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/autostart";
        QVERIFY(unregisterAutostart(folder)); // no folder, no entry: nothing to do
        QVERIFY(registerAutostart(folder, "/opt/korimo"));
        QVERIFY(unregisterAutostart(folder));
        QVERIFY(!QFileInfo::exists(autostartEntryPath(folder)));
        QVERIFY(unregisterAutostart(folder));
        // A dangling link in the entry's place is removed too.
        QVERIFY(QFile::link(dir.path() + "/nowhere", autostartEntryPath(folder)));
        QVERIFY(unregisterAutostart(folder));
        QVERIFY(!QFileInfo(autostartEntryPath(folder)).isSymLink());
    }

    void unwritableFolderFailsQuietly() {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir dir;
        const QString folder = dir.path() + "/autostart";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
        QVERIFY(!registerAutostart(folder, "/opt/korimo"));
        QVERIFY(!QFileInfo::exists(autostartEntryPath(folder)));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
    }

    void folderThatIsAFileFailsQuietly() {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/autostart";
        {
            QFile f(folder);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(!registerAutostart(folder, "/opt/korimo"));
        QVERIFY(!registerAutostart(QString(), "/opt/korimo"));
        QVERIFY(!unregisterAutostart(QString()));
    }
};

QTEST_GUILESS_MAIN(TestSetLogic)
#include "tst_setlogic.moc"
