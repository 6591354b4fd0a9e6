// The settings window's autostart entry: its Exec line must read back as exactly the program's path.
#include "setLogic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;

namespace {

// An Exec value read the way a desktop reads it: string escapes, then quoted arguments, then "%%".
QStringList parseExec(const QString& value) {
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar c = value.at(i);
        if (c == u'\\' && i + 1 < value.size()) {
            c = value.at(++i);
            c = c == u's' ? QChar(u' ') : c == u'n' ? QChar(u'\n') : c == u't' ? QChar(u'\t') : c;
        }
        text += c;
    }
    QStringList args;
    QString cur;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const QChar c = i < text.size() ? text.at(i) : QChar(u' ');
        if (quoted && c == u'\\' && i + 1 < text.size()) {
            cur += text.at(++i);
        } else if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c == u' ' && !quoted) {
            if (any)
                args << cur.replace("%%", "%");
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
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
    // The entry names the program by its path, whatever characters it holds; a path that would
    // break the entry's lines gives no entry at all.
    void autostartEntry_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("written");
        QTest::newRow("blank, japanese") << "/home/u/My こりも/korimo" << true;
        QTest::newRow("quote, dollar, backtick") << "/tmp/a\"$HOME`id`/korimo" << true;
        QTest::newRow("backslash, percent") << "/tmp/a\\b/100%u;x=y" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("newline") << "/tmp/a\nExec=/bin/evil" << false;
        QTest::newRow("carriage return") << "/tmp/a\rb" << false;
        QTest::newRow("tab") << "/tmp/a\tb" << false;
    }
    void autostartEntry() {
        QFETCH(QString, path);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/config/autostart", entry = autostartEntryPath(folder);
        QVERIFY(QDir().mkpath(folder) && QFile(entry).open(QIODevice::WriteOnly)); // an old entry
        QCOMPARE(registerAutostart(folder, path), written);
        const QStringList lines = readText(entry).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.filter(QStringLiteral("Exec=")).size(), written ? 1 : 0);
        if (written) {
            QCOMPARE(entry, folder + "/こりも.desktop");
            QVERIFY(lines.value(0) == "[Desktop Entry]" && lines.contains("Type=Application"));
            QCOMPARE(parseExec(lines.filter(QStringLiteral("Exec=")).value(0).mid(5)), QStringList{path});
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), {"こりも.desktop"}); // no temporary
        }
        QVERIFY(unregisterAutostart(folder) && !QFileInfo::exists(entry));
        QVERIFY(unregisterAutostart(folder)); // nothing to remove is no failure
        QVERIFY(QFile::link(dir.path() + "/nowhere", entry) && unregisterAutostart(folder));
        QVERIFY(!QFileInfo(entry).isSymLink());
    }

    // Folders no entry can be written into, even by root; nothing is made anywhere.
    void unusableFolders_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("a file") << "@/file";
        QTest::newRow("below a file") << "@/file/autostart";
        QTest::newRow("/proc") << "/proc/self/autostart";
        QTest::newRow("none") << "";
    }
    void unusableFolders() {
        QFETCH(QString, folder);
        QTemporaryDir dir;
        QVERIFY(QFile(dir.path() + "/file").open(QIODevice::WriteOnly));
        folder.replace(u'@', dir.path());
        QVERIFY(!registerAutostart(folder, "/opt/korimo"));
        QVERIFY(!QFileInfo::exists(autostartEntryPath(folder)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), {"file"});
    }
};

QTEST_GUILESS_MAIN(TestSetLogic)
#include "tst_setlogic.moc"
