// The settings file: defaults, CP932 on disk, the 255-byte cut, hand-edited files, atomic writes.
#include "cp932.h"
#include "iniKeys.h"
#include "modIniFile.h"
#include "testFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace korimo;

namespace {

void writeRaw(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT
private slots:
    void init() {
        QVERIFY(dir_.isValid());
        QFile::remove(IniFilePath(dir_.path()));
    }

    void pathHasOneSeparator_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/opt/korimo"
                               << "/opt/korimo/iniKR.ini";
        QTest::newRow("trailing separator") << "/opt/korimo/"
                                            << "/opt/korimo/iniKR.ini";
        QTest::newRow("root") << "/"
                              << "/iniKR.ini";
    }
    void pathHasOneSeparator() {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(IniFilePath(folder), expected);
    }

    // Where each file lives: beside a writable executable folder, else in the user's own folders;
    // an installed system program (the package's data in ../share/korimo) always per user.
    void programFolders_data() {
        QTest::addColumn<QString>("bin");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QStringList>("expected"); // settings file, DATA, AttachedFiles, Sound, icon
        const QStringList perUser{"/h/.config/korimo/iniKR.ini", "/h/.local/share/korimo/DATA",
                                  "/h/.local/share/korimo/AttachedFiles", "/h/.local/share/korimo/Sound"};
        QTest::newRow("writable: beside the executable")
            << "lib/korimo" << true
            << QStringList{"@/lib/korimo/iniKR.ini", "@/lib/korimo/DATA", "@/lib/korimo/AttachedFiles",
                           "@/lib/korimo/Sound", "@/lib/korimo/DATA/iconKorimo.ico"};
        QTest::newRow("read-only copy: per user, its own icons")
            << "lib/korimo" << false << perUser + QStringList{"@/lib/korimo/DATA/iconKorimo.ico"};
        QTest::newRow("installed package: per user")
            << "bin" << false << perUser + QStringList{"@/share/korimo/DATA/iconKorimo.ico"};
        QTest::newRow("installed package run by root: per user")
            << "bin" << true << perUser + QStringList{"@/share/korimo/DATA/iconKorimo.ico"};
    }
    void programFolders() {
        QFETCH(QString, bin);
        QFETCH(bool, writable);
        QFETCH(QStringList, expected);
        const QString prefix = dir_.filePath("prefix");
        QVERIFY(QDir().mkpath(prefix + "/share/korimo/DATA") && QDir().mkpath(prefix + "/lib/korimo"));
        writeRaw(prefix + "/share/korimo/DATA/iconKorimo.ico", "ico");
        const ProgramFolders f = chooseProgramFolders(prefix + '/' + bin, writable, "/h/.config", "/h/.local/share");
        QCOMPARE((QStringList{IniFilePath(f.settings), dataFolder(f), attachedFilesDefault(f), soundFolder(f),
                              defaultIconPath(f)}),
                 expected.replaceInStrings("@", prefix));
    }
    void programFoldersAreMadePrivate() {
        const QString home = dir_.filePath("home");
        const ProgramFolders made(home + "/config/korimo", home + "/data/korimo", QString());
        QVERIFY(createProgramFolders(made));
        QCOMPARE(QFile::permissions(made.settings) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(QFileInfo(made.data).isDir());
    }

    void everyKeyHasItsDefaultWithoutFile() {
        const IniFile ini(dir_.path());
        QCOMPARE(readInt(ini, keys::MainLeft), 4000);
        QCOMPARE(readInt16(ini, keys::MainTop), qint16(2200));
        QCOMPARE(readInt(ini, keys::MainPeriod), 2);
        QCOMPARE(readInt16(ini, keys::ShowSeconds), qint16(2));
        QCOMPARE(readInt(ini, keys::ReceiveWidth), 7845);
        QCOMPARE(readInt(ini, keys::ReceiveHeight), 6105);
        QCOMPARE(readInt16(ini, keys::LastCount), qint16(0));
        QCOMPARE(readString(ini, keys::BeepOption), QStringLiteral("True"));
        QCOMPARE(readString(ini, keys::WavOption), QStringLiteral("False"));
        QCOMPARE(readString(ini, keys::NoticeIcon, noticeIconDefault(dir_.path())), dir_.path() + "/DATA/Icon.ico");
        for (const IniKey& k : keys::All) {
            for (int i = 0; i < k.count; ++i) {
                const int index = k.count > 1 ? i : -1;
                if (k.reader == IniReader::String)
                    QCOMPARE(readString(ini, k, index), QString::fromUtf16(k.def));
                else
                    QCOMPARE(readInt(ini, k, index), k.intDefault());
            }
        }
        QVERIFY(!QFile::exists(ini.path())); // reading never creates the file
    }

    void keysBelongToTheirSection() {
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::TransTop, 123));
        QVERIFY(writeValue(ini, keys::Servers, QStringLiteral("pop.example.jp"), 3));
        QCOMPARE(readInt16(ini, keys::TransTop), qint16(123));
        QCOMPARE(readInt16(ini, keys::MainTop), qint16(2200)); // same key name, other section
        QCOMPARE(readInt16(ini, keys::ReceiveTop), qint16(2200));
        QCOMPARE(readString(ini, keys::Servers, 3), QStringLiteral("pop.example.jp"));
        QCOMPARE(readString(ini, keys::Servers, 0), QString());
        QCOMPARE(readString(ini, keys::SmtpServer), QString()); // "smtp" is not "smtp-3"
    }

    void namesMatchWithoutCase() {
        writeRaw(IniFilePath(dir_.path()), "[PAST]\r\nSMTP-0=pop.a\r\n[main]\r\nLeft=17\r\n");
        const IniFile ini(dir_.path());
        QCOMPARE(readString(ini, keys::Servers, 0), QStringLiteral("pop.a"));
        QCOMPARE(readInt(ini, keys::MainLeft), 17);
        QVERIFY(writeValue(ini, keys::Servers, QStringLiteral("pop.b"), 0));
        const QByteArray bytes = readFile(ini.path());
        QCOMPARE(bytes.count("[PAST]"), 1); // updated in place, no second section
        QCOMPARE(bytes.count("=pop."), 1);
        QCOMPARE(readString(ini, keys::Servers, 0), QStringLiteral("pop.b"));
    }

    void cp932OnDisk_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("backslash") << QStringLiteral("C:\\Mail\\a") << QByteArray("C:\\Mail\\a");
        QTest::newRow("tilde") << QStringLiteral("~user") << QByteArray("~user");
        QTest::newRow("circled one") << QStringLiteral("①") << QByteArray("\x87\x40");
        QTest::newRow("hyo, second byte 0x5C") << QStringLiteral("表") << QByteArray("\x95\x5C");
        QTest::newRow("so, second byte 0x5C") << QStringLiteral("ソフト") << QByteArray("\x83\x5C\x83\x74\x83\x67");
        QTest::newRow("half-width kana") << QStringLiteral("ｺﾘﾓ") << QByteArray("\xBA\xD8\xD3");
    }
    void cp932OnDisk() {
        QFETCH(QString, value);
        QFETCH(QByteArray, bytes);
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::SendSubjects, value, 0));
        QVERIFY(readFile(ini.path()).contains("ken-0=" + bytes + "\r\n"));
        QCOMPARE(readString(ini, keys::SendSubjects, 0), value);
    }

    void unencodableCharactersBecomeQuestionMarks() {
        const Cp932Encoded e = encodeCp932(QStringLiteral("a😀𠮷b"));
        QCOMPARE(e.bytes, QByteArray("a??b"));
        QCOMPARE(e.unencodable, QStringLiteral("😀𠮷"));
        QVERIFY(encodeCp932(QStringLiteral("表①")).lossless());
    }

    void longValuesAreCutAt255Bytes() {
        const IniFile ini(dir_.path());
        const QString ascii(300, u'x');
        QVERIFY(writeValue(ini, keys::MailerPath, ascii));
        QCOMPARE(readString(ini, keys::MailerPath), QString(255, u'x'));
        // 128 double-byte characters are 256 bytes: the cut falls inside the 128th, which is dropped.
        const QString wide(128, QChar(u'あ'));
        QVERIFY(writeValue(ini, keys::MailerPath, wide));
        QCOMPARE(readString(ini, keys::MailerPath), QString(127, QChar(u'あ')));
        // One ASCII byte first moves the boundary: 1 + 127 * 2 = 255 bytes fit exactly.
        QVERIFY(writeValue(ini, keys::MailerPath, QStringLiteral("/") + wide));
        QCOMPARE(readString(ini, keys::MailerPath), "/" + QString(127, QChar(u'あ')));
        // The whole value stays on disk; only what is read back is cut.
        QVERIFY(readFile(ini.path()).contains(toCp932(QString("/" + wide))));
    }

    void emptyValueIsNotTheDefault() {
        writeRaw(IniFilePath(dir_.path()), "[Past]\r\npass-0=\r\ntext3=\r\nlabel15=\r\n");
        const IniFile ini(dir_.path());
        QCOMPARE(ini.ReadIniString(u"Past", u"pass-0", QStringLiteral("dflt")), QString());
        QCOMPARE(readString(ini, keys::NoticeIcon, noticeIconDefault(dir_.path())), QString());
        QCOMPARE(readInt16(ini, keys::ShowSeconds), qint16(2)); // an empty number is no number
    }

    void integersAreReadFromTheStartOfTheValue_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << QByteArray("4000") << 4000;
        QTest::newRow("negative") << QByteArray("-120") << -120;
        QTest::newRow("blanks around") << QByteArray("  42  ") << 42;
        QTest::newRow("trailing text") << QByteArray("12abc") << 12;
        QTest::newRow("fraction") << QByteArray("1.5") << 1;
        QTest::newRow("not a number") << QByteArray("abc") << 77;
        QTest::newRow("sign only") << QByteArray("-") << 77;
        QTest::newRow("too large") << QByteArray("99999999999999") << 2147483647;
        QTest::newRow("too small") << QByteArray("-99999999999999") << int(-2147483647 - 1);
    }
    void integersAreReadFromTheStartOfTheValue() {
        QFETCH(QByteArray, raw);
        QFETCH(int, expected);
        writeRaw(IniFilePath(dir_.path()), "[Main]\r\ntext1=" + raw + "\r\n");
        QCOMPARE(IniFile(dir_.path()).ReadIniInt(u"Main", u"text1", 77), expected);
    }

    void sixteenBitReadersClamp() {
        QCOMPARE(narrowToInt16(40000), qint16(32767));
        QCOMPARE(narrowToInt16(-40000), qint16(-32768));
        QCOMPARE(narrowToInt16(-5), qint16(-5));
        writeRaw(IniFilePath(dir_.path()), "[Main]\r\ntop=99999\r\n");
        QCOMPARE(readInt16(IniFile(dir_.path()), keys::MainTop), qint16(32767));
    }

    void handEditedFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("server0");
        QTest::addColumn<QString>("account0");
        QTest::newRow("utf-8 with bom") << QByteArray("\xEF\xBB\xBF[Past]\nsmtp-0=ポップ\nacou-0=me\n")
                                        << QStringLiteral("ポップ") << QStringLiteral("me");
        QTest::newRow("cr only") << QByteArray("[Past]\rsmtp-0=pop\racou-0=me\r") << QStringLiteral("pop")
                                 << QStringLiteral("me");
        QTest::newRow("lf only, no final newline")
            << QByteArray("[Past]\nsmtp-0=pop\nacou-0=me") << QStringLiteral("pop") << QStringLiteral("me");
        QTest::newRow("lines without =") << QByteArray(
                                                "garbage\r\n[Past]\r\njunk line\r\nsmtp-0=pop\r\n; c\r\nacou-0=me\r\n")
                                         << QStringLiteral("pop") << QStringLiteral("me");
        QTest::newRow("duplicate keys: first wins")
            << QByteArray("[Past]\r\nsmtp-0=first\r\nsmtp-0=second\r\n[Past]\r\nacou-0=me\r\n")
            << QStringLiteral("first") << QStringLiteral("me");
        QTest::newRow("blanks around = and names")
            << QByteArray("  [ Past ]  \r\n  smtp-0 =  pop  \r\nacou-0\t=\tme\r\n") << QStringLiteral("pop")
            << QStringLiteral("me");
        QTest::newRow("bytes that are not cp932") << QByteArray("[Past]\r\nsmtp-0=a\xFF\x80"
                                                                "b\r\nacou-0=me\r\n")
                                                  << QStringLiteral("a\uFFFD\uFFFDb") << QStringLiteral("me");
        QTest::newRow("lead byte at end of value") << QByteArray("[Past]\r\nsmtp-0=ab\x82\r\nacou-0=me\r\n")
                                                   << QStringLiteral("ab\uFFFD") << QStringLiteral("me");
        QTest::newRow("nul inside a value") << QByteArray("[Past]\r\nsmtp-0=po\0p\r\nacou-0=me\r\n", 30)
                                            << QStringLiteral("po") << QStringLiteral("me");
        QTest::newRow("blank before a nul") << QByteArray("[Past]\r\nsmtp-0=po \0p\r\nacou-0=me\r\n", 31)
                                            << QStringLiteral("po ") << QStringLiteral("me");
        QByteArray huge = "[Past]\r\nnoadd-0=" + QByteArray(1 << 20, 'y') + "\r\nsmtp-0=pop\r\nacou-0=me\r\n";
        QTest::newRow("1 MB line") << huge << QStringLiteral("pop") << QStringLiteral("me");
    }
    void handEditedFiles() {
        QFETCH(QByteArray, file);
        QFETCH(QString, server0);
        QFETCH(QString, account0);
        writeRaw(IniFilePath(dir_.path()), file);
        const IniFile ini(dir_.path());
        QCOMPARE(readString(ini, keys::Servers, 0), server0);
        QCOMPARE(readString(ini, keys::Accounts, 0), account0);
        // Writing keeps the file readable and the other keys as they were.
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("secret"), 0));
        QCOMPARE(readString(ini, keys::Passwords, 0), QStringLiteral("secret"));
        QCOMPARE(readString(ini, keys::Accounts, 0), account0);
    }

    void writeKeepsOtherLinesAndOrder() {
        writeRaw(IniFilePath(dir_.path()),
                 "; my notes\r\n[Main]\r\nleft=1\r\n\r\n[Past]\r\nsmtp-0=pop\r\n\r\n[Other]\r\nx=y\r\n");
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::MainTop, 5));
        QVERIFY(writeValue(ini, keys::Accounts, QStringLiteral("me"), 0));
        QVERIFY(writeValue(ini, keys::TransLeft, 9));
        QCOMPARE(readFile(ini.path()),
                 QByteArray("; my notes\r\n[Main]\r\nleft=1\r\ntop=5\r\n\r\n[Past]\r\nsmtp-0=pop\r\n"
                            "acou-0=me\r\n\r\n[Other]\r\nx=y\r\n[Trans]\r\nleft=9\r\n"));
    }

    // Every string key gives back exactly what was written, blanks and quotes included; a value that
    // would lose them is stored in one more pair of double quotes, as the old profile reader expects.
    void everyStringKeyRoundTrips_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("values");
        // Every key meets two of the awkward values, each value about a dozen keys.
        const QStringList awkward{
            QStringLiteral("  sp ace  "), QStringLiteral("\tタブ\t"), QStringLiteral("\"q\""), QStringLiteral("\""),
            QStringLiteral("\"\""),       QStringLiteral(" \"half"),  QStringLiteral("   "),   QString(),
            QStringLiteral("a=b; [c]"),   QStringLiteral("全角　")};
        int row = 0;
        for (const IniKey& k : keys::All) {
            for (int i = 0; k.reader == IniReader::String && i < k.count; ++i, ++row) {
                const QString name = k.name(k.count > 1 ? i : -1);
                QTest::addRow("%s %s", qPrintable(QString::fromUtf16(k.section)), qPrintable(name))
                    << QString::fromUtf16(k.section) << name
                    << QStringList{awkward[row % awkward.size()], awkward[(row + 3) % awkward.size()]};
            }
        }
    }
    void everyStringKeyRoundTrips() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QStringList, values);
        const IniFile ini(dir_.path());
        for (const QString& value : values) {
            QVERIFY(ini.WriteIniString(section, key, value));
            QCOMPARE(ini.ReadIniString(section, key, QStringLiteral("default")), value);
            // On disk the value is what the old profile reader also reads back unchanged.
            if (value == QStringLiteral("  sp ace  "))
                QVERIFY(readFile(ini.path()).contains("=\"  sp ace  \"\r\n"));
        }
    }

    // A number typed with blanks around it is stored quoted and still reads as that number.
    void quotedNumberReadsAsANumber() {
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::MainPeriod, QStringLiteral(" 5 ")));
        QCOMPARE(readInt(ini, keys::MainPeriod), 5);
    }

    // A settings file that exists but cannot be read (write-only) is never written over: its passwords
    // would go. Nor is one made read-only. Both need an ordinary user: root reads and writes anything.
    void unreadableOrReadOnlyFileIsNeverReplaced() {
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("secret"), 0));
        QVERIFY(writeValue(ini, keys::SmtpServer, QStringLiteral("smtp.example.jp")));
        const QByteArray before = readFile(ini.path());
        const QByteArray path = QFile::encodeName(ini.path());
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || (::chmod(QFile::encodeName(dir_.path()).constData(), 0777) == 0 &&
                          ::chown(path.constData(), 65534, 65534) == 0));
        QVERIFY(::chmod(path.constData(), 0200) == 0);
        QVERIFY(!root || ::seteuid(65534) == 0);
        QCOMPARE(IniFile::takeUnreadableNotice(), QString());
        const bool written = writeValue(ini, keys::MainLeft, 1);
        const bool writtenAgain = writeValue(ini, keys::MainTop, 2);
        const QString defaulted = readString(ini, keys::Passwords, 0);
        const QString notice = IniFile::takeUnreadableNotice();
        const QString noticeAgain = IniFile::takeUnreadableNotice();
        ::chmod(path.constData(), 0400);
        const bool readOnlyWritten = writeValue(ini, keys::MainLeft, 1);
        QVERIFY(!root || ::seteuid(0) == 0);
        ::chmod(path.constData(), 0600);
        ::chmod(QFile::encodeName(dir_.path()).constData(), 0700);
        QVERIFY(!written);
        QVERIFY(!writtenAgain);
        QVERIFY(!readOnlyWritten);
        QCOMPARE(defaulted, QString());
        QCOMPARE(readFile(ini.path()), before);
        // The user is told once, with the file named.
        QVERIFY2(notice.contains(ini.path()), qPrintable(notice));
        QCOMPARE(noticeAgain, QString());
    }

    void lineBreaksInAValueCannotAddKeys() {
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::MailerPath, QStringLiteral("/usr/bin/x\r\n[Past]\r\npass-0=stolen")));
        QCOMPARE(readString(ini, keys::Passwords, 0, 0), QString());
        QCOMPARE(readString(ini, keys::MailerPath), QStringLiteral("/usr/bin/x[Past]pass-0=stolen"));
    }

    void fileIsPrivate() {
        const IniFile ini(dir_.path());
        const auto mode = [&] {
            struct stat st {};
            ::stat(QFile::encodeName(ini.path()).constData(), &st);
            return st.st_mode & 07777;
        };
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("secret"), 0));
        QCOMPARE(mode(), 0600u);
        ::chmod(QFile::encodeName(ini.path()).constData(), 0644);
        QVERIFY(writeValue(ini, keys::Passwords, QStringLiteral("other"), 0));
        QCOMPARE(mode(), 0600u);
    }

    void unwritableFolderChangesNothing() {
        // /proc refuses new files even to root.
        QVERIFY(!IniFile(QStringLiteral("/proc/self")).WriteIniString(u"Main", u"left", QStringLiteral("1")));
        QVERIFY(!IniFile(dir_.path() + "/missing").WriteIniString(u"Main", u"left", QStringLiteral("1")));
        if (::geteuid() == 0)
            return; // root writes into a read-only folder anyway; the rest needs an ordinary user
        const IniFile ini(dir_.path());
        QVERIFY(writeValue(ini, keys::MainLeft, 1));
        const QByteArray before = readFile(ini.path());
        QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const bool ok = writeValue(ini, keys::MainLeft, 2);
        QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!ok);
        QCOMPARE(readFile(ini.path()), before);
    }

    // A process killed at any moment while writing leaves the old file or the new one, never a torn one.
    void killedWriterNeverTearsTheFile() {
        const IniFile ini(dir_.path());
        for (int i = 0; i < 20; ++i)
            QVERIFY(writeValue(ini, keys::SendAddresses, QString(200, QChar(u'a' + i % 26)), i));
        const QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit();
        for (int round = 0; round < 12; ++round) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                // The child rewrites the file as fast as it can until it is killed.
                const IniFile child(dir_.path());
                for (int n = 0;; ++n)
                    child.WriteIniString(u"Past", u"mnum", QString::number(n % 30000));
            }
            QTest::qWait(5 + QRandomGenerator::global()->bounded(25));
            ::kill(pid, SIGKILL);
            int status = 0;
            ::waitpid(pid, &status, 0);
            const QByteArray bytes = readFile(ini.path());
            QVERIFY(bytes.endsWith("\r\n"));
            for (int i = 0; i < 20; ++i)
                QCOMPARE(readString(ini, keys::SendAddresses, i), QString(200, QChar(u'a' + i % 26)));
            QVERIFY(readInt(ini, keys::LastCount) >= 0);
        }
        // What the killed writers left (they may hold passwords) goes at the next start.
        sweepStaleTemporaries(dir_.path());
        QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral("iniKR.ini.*")}, QDir::Files | QDir::Hidden), {});
    }

    // Only the writer's own temporaries go; the settings file and the user's other files stay.
    void sweepRemovesOnlyTemporaries_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("removed");
        QTest::newRow("temporary") << "iniKR.ini.korimo-a1B2c3" << true;
        QTest::newRow("earlier version's temporary") << "iniKR.ini.a1B2c3" << true;
        QTest::newRow("settings file") << "iniKR.ini" << false;
        QTest::newRow("backup") << "iniKR.ini.backup" << false;
        QTest::newRow("dated copy") << "iniKR.ini.202412" << false;
        QTest::newRow("five characters") << "iniKR.ini.korimo-a1B2c" << false;
        QTest::newRow("other case") << "inikr.ini.korimo-a1B2c3" << false;
        QTest::newRow("not letters") << "iniKR.ini.a1-2c3" << false;
    }
    void sweepRemovesOnlyTemporaries() {
        QFETCH(QString, name);
        QFETCH(bool, removed);
        const QTemporaryDir folder; // its own: a writer killed by another test leaves temporaries behind
        QVERIFY(folder.isValid());
        const QString path = QDir(folder.path()).filePath(name);
        writeRaw(path, "[Past]\r\npass-0=secret\r\n");
        QCOMPARE(sweepStaleTemporaries(folder.path()), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(path), !removed);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
