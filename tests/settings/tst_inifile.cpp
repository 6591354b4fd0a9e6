// The settings file: where it lives, hand-edited files, CP932 and quoting on disk, the 255-byte cut,
// and writes that never tear or replace a file the program could not read.
#include "iniKeys.h"
#include "modIniFile.h"
#include "testFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace korimo;

class TestIniFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path() const { return IniFilePath(dir_.path()); }
    void writeRaw(const QByteArray& bytes) const {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
    }

private slots:
    void init() { QVERIFY(dir_.isValid() && (!QFile::exists(path()) || QFile::remove(path()))); }

    // Beside a writable executable folder, else per user; an installed program always per user.
    void programFolders_data() {
        QTest::addColumn<QString>("bin");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("icons");
        QTest::newRow("writable copy") << "lib/korimo" << true << "@/lib/korimo"
                                       << "@/lib/korimo/DATA";
        QTest::newRow("read-only copy") << "lib/korimo" << false << "/h/.config/korimo"
                                        << "@/lib/korimo/DATA";
        QTest::newRow("package") << "bin" << false << "/h/.config/korimo"
                                 << "@/share/korimo/DATA";
        QTest::newRow("package, root") << "bin" << true << "/h/.config/korimo"
                                       << "@/share/korimo/DATA";
    }
    void programFolders() {
        QFETCH(QString, bin);
        QFETCH(bool, writable);
        QFETCH(QString, settings);
        QFETCH(QString, icons);
        const QString prefix = dir_.filePath("prefix");
        QVERIFY(QDir().mkpath(prefix + "/share/korimo/DATA") && QDir().mkpath(prefix + "/lib/korimo"));
        QFile ico(prefix + "/share/korimo/DATA/iconKorimo.ico");
        QVERIFY(ico.open(QIODevice::WriteOnly));
        const ProgramFolders f = chooseProgramFolders(prefix + '/' + bin, writable, "/h/.config", "/h/.local/share");
        const QString data = writable && bin != "bin" ? prefix + "/lib/korimo" : "/h/.local/share/korimo";
        QCOMPARE((QStringList{IniFilePath(f.settings), dataFolder(f), attachedFilesDefault(f), soundFolder(f),
                              defaultIconPath(f)}),
                 (QStringList{settings.replace('@', prefix) + "/iniKR.ini", data + "/DATA", data + "/AttachedFiles",
                              data + "/Sound", icons.replace('@', prefix) + "/iconKorimo.ico"}));
        const QString home = dir_.filePath(QTest::currentDataTag());
        const ProgramFolders made(home + "/config", home + "/data", QString());
        QVERIFY(createProgramFolders(made) && QFileInfo(made.data).isDir());
        QCOMPARE(QFile::permissions(made.settings) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // What a hand-edited or foreign file gives for [Past] smtp-0, as text and as a number; a write
    // then keeps the other keys.
    void readsWhatIsOnDisk_data() {
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        const auto row = [](const char* name, const QByteArray& file, const QString& text, int number = 77) {
            QTest::newRow(name) << file << text << number;
        };
        const auto past = [](const QByteArray& smtp0) {
            return "[Past]\r\nsmtp-0=" + smtp0 + "\r\nacou-0=me\r\n";
        };
        const QByteArray wide = QByteArray(128 * 2, '\x82').replace("\x82\x82", "\x82\xA0"); // 128 x "あ"
        row("no file", QByteArray(), "<none>");
        row("empty value is no default", past(""), "");
        row("names without case", "[PAST]\r\nSMTP-0=4000\r\nACOU-0=me\r\n", "4000", 4000);
        row("like names, other section", "[Past]\r\nsmtp=1\r\nsmtp-00=2\r\nacou-0=me\r\n[Main]\r\nsmtp-0=3\r\n",
            "<none>");
        row("utf-8 with bom", "\xEF\xBB\xBF[Past]\nsmtp-0=ポップ\nacou-0=me\n", "ポップ");
        row("cr only", "[Past]\rsmtp-0=pop\racou-0=me\r", "pop");
        row("lf, no last newline", "[Past]\nsmtp-0=pop\nacou-0=me", "pop");
        row("lines without =", "junk\r\n[Past]\r\nx\r\n; c\r\nsmtp-0=pop\r\nacou-0=me\r\n", "pop");
        row("first of duplicates", "[Past]\r\nsmtp-0=1\r\n[Past]\r\n" + past("2"), "1", 1);
        row("blanks around", "  [ Past ]  \r\n  smtp-0 =  -120  \r\nacou-0\t=\tme\r\n", "-120", -120);
        row("quoted blanks", past("\" 5 \""), " 5 ", 5);
        row("text after digits", past("12.5abc"), "12.5abc", 12);
        row("too large", past("99999999999"), "99999999999", 2147483647);
        row("too small", past("-99999999999"), "-99999999999", -2147483647 - 1);
        row("not cp932", past("a\xFF\x80z"), "a\uFFFD\uFFFDz");
        row("lead byte at end", past("ab\x82"), "ab\uFFFD");
        row("nul in value", past(QByteArray("7 \0p", 4)), "7 ", 7);
        row("1 MB line", "[Past]\r\nnoadd-0=" + QByteArray(1 << 20, 'y') + "\r\n" + past("pop"), "pop");
        row("cut at 255 bytes", past(QByteArray(300, '9')), QString(255, u'9'), 2147483647);
        // 256 bytes: the 128th character is cut in half and dropped; after one more byte first, 255 fit.
        row("cut inside a character", past(wide), QString(127, u'あ'));
        row("cut after a character", past("/" + wide), "/" + QString(127, u'あ'));
    }
    void readsWhatIsOnDisk() {
        QFETCH(QByteArray, file);
        QFETCH(QString, text);
        QFETCH(int, number);
        if (!file.isNull())
            writeRaw(file);
        const IniFile ini(dir_.path());
        QCOMPARE(ini.ReadIniString(u"Past", u"smtp-0", "<none>"), text);
        QCOMPARE(ini.ReadIniInt(u"Past", u"smtp-0", 77), number);
        QCOMPARE(QFile::exists(path()), !file.isNull()); // reading never makes the file
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("secret"), 0));
        QCOMPARE(readString(ini, keys::Passwords, 0), "secret");
        QCOMPARE(ini.ReadIniString(u"Past", u"smtp-0", "<none>"), text);
        QCOMPARE(readString(ini, keys::Accounts, 0), file.isNull() ? "" : "me");
    }

    // On disk: CP932 (never Shift_JIS, which loses \ and ~), quotes where blanks would go, one line.
    void writesCp932AndQuotes_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("backslash, tilde") << "C:\\Mail\\~u" << QByteArray("C:\\Mail\\~u") << "C:\\Mail\\~u";
        QTest::newRow("circled one") << "①" << QByteArray("\x87\x40") << "①";
        QTest::newRow("second byte 0x5C") << "表ソ" << QByteArray("\x95\x5C\x83\x5C") << "表ソ";
        QTest::newRow("half-width kana") << "ｺﾘﾓ" << QByteArray("\xBA\xD8\xD3") << "ｺﾘﾓ";
        QTest::newRow("not in cp932") << "a😀𠮷b" << QByteArray("a??b") << "a??b";
        QTest::newRow("blanks") << "  sp ace  " << QByteArray("\"  sp ace  \"") << "  sp ace  ";
        QTest::newRow("quotes") << "\"q\"" << QByteArray("\"\"q\"\"") << "\"q\"";
        QTest::newRow("tabs, wide blank") << "\tタブ　" << QByteArray("\"\t\x83^\x83u\x81@\"") << "\tタブ　";
        QTest::newRow("line break adds no key")
            << "x\r\n[Past]\r\npass-0=stolen" << QByteArray("x[Past]pass-0=stolen") << "x[Past]pass-0=stolen";
    }
    void writesCp932AndQuotes() {
        QFETCH(QString, value);
        QFETCH(QByteArray, line);
        QFETCH(QString, readBack);
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::SendSubjects, value, 0));
        QCOMPARE(readFile(path()), "[Past]\r\nken-0=" + line + "\r\n");
        QCOMPARE(readString(ini, keys::SendSubjects, 0), readBack);
        QCOMPARE(readString(ini, keys::Passwords, QStringLiteral("<none>"), 0), "<none>");
    }

    void writeKeepsOtherLinesAndOrder() {
        writeRaw("; my notes\r\n[Main]\r\nleft=1\r\n\r\n[Past]\r\nsmtp-0=pop\r\n\r\n[Other]\r\nx=y\r\n");
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::MainTop, 5) && writeValue(ini, keys::Accounts, QStringLiteral("me"), 0));
        QVERIFY(writeValue(ini, keys::TransLeft, 9));
        ::chmod(QFile::encodeName(path()).constData(), 0644);
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("pw"), 0));
        QCOMPARE(readFile(path()),
                 "; my notes\r\n[Main]\r\nleft=1\r\ntop=5\r\n\r\n[Past]\r\nsmtp-0=pop\r\nacou-0=me\r\n"
                 "pass-0=pw\r\n\r\n[Other]\r\nx=y\r\n[Trans]\r\nleft=9\r\n");
        QCOMPARE(QFile::permissions(path()) & 0x7077, QFile::ReadOwner | QFile::WriteOwner); // 0600 again
    }

    // A file the program cannot read is never written over (its passwords would go), nor a read-only
    // file, nor one in a folder that takes no new file; as root the test runs as uid 65534.
    void unwritableFileIsNeverReplaced_data() {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("folderMode");
        QTest::newRow("unreadable file") << 0200 << 0777;
        QTest::newRow("read-only file") << 0400 << 0777;
        QTest::newRow("read-only folder") << 0600 << 0555;
    }
    void unwritableFileIsNeverReplaced() {
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("secret"), 0));
        const QByteArray before = readFile(path()), file = QFile::encodeName(path());
        const QByteArray folder = QFile::encodeName(dir_.path());
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::chown(file.constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(file.constData(), mode_t(fileMode)) == 0 &&
                ::chmod(folder.constData(), mode_t(folderMode)) == 0);
        QVERIFY(!root || ::seteuid(65534) == 0);
        IniFile::takeUnreadableNotice();
        const bool written = writeValue(ini, keys::MainLeft, 1), again = writeValue(ini, keys::MainTop, 2);
        const QString notice = IniFile::takeUnreadableNotice(), noticeAgain = IniFile::takeUnreadableNotice();
        QVERIFY(!root || ::seteuid(0) == 0);
        QVERIFY(::chmod(folder.constData(), 0700) == 0 && ::chmod(file.constData(), 0600) == 0);
        QVERIFY(!written && !again);
        QCOMPARE(readFile(path()), before);
        QCOMPARE(notice.contains(path()), fileMode == 0200); // told once, with the file named
        QVERIFY(noticeAgain.isEmpty());
    }

    void foldersThatTakeNoFile() {
        writeRaw("[Main]\r\nleft=1\r\n");
        QVERIFY(!IniFile("/proc/self").WriteIniString(u"Main", u"left", "2")); // even for root
        QVERIFY(!IniFile(path() + "/below-a-file").WriteIniString(u"Main", u"left", "2"));
        QVERIFY(!IniFile(dir_.filePath("missing")).WriteIniString(u"Main", u"left", "2"));
        QVERIFY(!QFileInfo::exists(dir_.filePath("missing")));
        QCOMPARE(readFile(path()), "[Main]\r\nleft=1\r\n");
    }

    // A writer killed at any moment leaves the old file or the new one, never a torn one.
    void killedWriterNeverTearsTheFile() {
        const IniFile ini(dir_.path());
        for (int i = 0; i < 20; ++i)
            QVERIFY(writeValue(ini, keys::SendAddresses, QString(200, QChar(u'a' + i)), i));
        for (int round = 0; round < 12; ++round) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            for (int n = 0; pid == 0; ++n) // the child rewrites the file until it is killed
                IniFile(dir_.path()).WriteIniString(u"Past", u"mnum", QString::number(n % 30000));
            QTest::qWait(5 + QRandomGenerator::global()->bounded(25));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            for (int i = 0; i < 20; ++i)
                QCOMPARE(readString(ini, keys::SendAddresses, i), QString(200, QChar(u'a' + i)));
        }
        // What the killed writers left (it may hold passwords) goes at the next start; nothing else does.
        QStringList kept{"iniKR.ini", "iniKR.ini.backup", "iniKR.ini.korimo-a1B2c", "inikr.ini.korimo-a1B2c3"};
        for (const QString& name : kept + QStringList{"iniKR.ini.korimo-a1B2c3", "iniKR.ini.a1B2c3"})
            QVERIFY(QFile(dir_.filePath(name)).open(QIODevice::Append));
        sweepStaleTemporaries(dir_.path());
        QStringList left = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden);
        left.sort();
        kept.sort();
        QCOMPARE(left, kept);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
