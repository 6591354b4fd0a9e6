// The shell routines: existence test against real files, the special folder, the folder picker's
// answers, and the platform interface that carries them.
#include "dialogs.h"
#include "modSearchFile.h"
#include "modSelectFolder.h"
#include "modSpecialFolder.h"
#include "shellRoutines.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

using namespace korimo;

namespace {

void touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// Restores an environment variable when the test ends.
struct EnvGuard {
    QByteArray name, value;
    bool had;
    explicit EnvGuard(const char* n) : name(n), value(qgetenv(n)), had(qEnvironmentVariableIsSet(n)) {}
    ~EnvGuard() {
        if (had)
            qputenv(name.constData(), value);
        else
            qunsetenv(name.constData());
    }
};

} // namespace

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const QString d = dir_.path();
        touch(d + "/mail.exe");
        touch(d + "/名前 付き.txt");
        touch(d + "/a[1]b.txt");
        touch(d + "/.hidden");
        QVERIFY(QDir(d).mkdir("folder"));
        QVERIFY(QFile::link(d + "/nothing-there", d + "/dangling"));
        QVERIFY(QFile::link(d + "/mail.exe", d + "/link"));
    }

    // Text from a mail, a server or a file is never markup: message boxes and tooltips show it as it is.
    void mailTextIsShownAsPlainText_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("markup in a subject")
            << QStringLiteral("「<b>至急</b><img src=x>」\r\n　をメールボックスから削除します");
        QTest::newRow("entity") << "Tom &amp; Jerry";
        QTest::newRow("rich text marker") << "<qt>-ERR <certificate> expired</qt>";
    }
    void mailTextIsShownAsPlainText() {
        QFETCH(QString, text);
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
                shown = label->text();
                format = label->textFormat();
            }
            box->accept();
        });
        poll.start(10);
        QtDialogs().message(nullptr, text);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shown, text);

        QTextDocument tip;
        tip.setHtml(plainToolTip(text));
        QCOMPARE(tip.toPlainText().simplified(), text.simplified()); // the same words, blanks aside
    }

    void fileExists_data() {
        QTest::addColumn<QString>("path"); // "@" stands for the test folder
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("file") << "@/mail.exe" << 1;
        QTest::newRow("missing") << "@/mailer.exe" << 0;
        QTest::newRow("folder") << "@/folder" << 1;
        QTest::newRow("folder with separator") << "@/folder/" << 1;
        QTest::newRow("japanese name with blank") << "@/名前 付き.txt" << 1;
        QTest::newRow("link") << "@/link" << 1;
        QTest::newRow("dangling link") << "@/dangling" << 1;
        QTest::newRow("below a file") << "@/mail.exe/x" << 0;
        QTest::newRow("star matches") << "@/*.exe" << 1;
        QTest::newRow("star matches nothing") << "@/*.com" << 0;
        QTest::newRow("question mark") << "@/mail.ex?" << 1;
        QTest::newRow("star in folder part") << "@/fold*/" << 1;
        QTest::newRow("brackets are plain") << "@/a[1]b.txt" << 1;
        QTest::newRow("brackets with star") << "@/a[1]*" << 1;
        QTest::newRow("brackets not a class") << "@/a1b*" << 0;
        QTest::newRow("hidden by star") << "@/.hid*" << 1;
    }
    void fileExists() {
        QFETCH(QString, path);
        QFETCH(int, expected);
        path.replace(u'@', dir_.path());
        QCOMPARE(FileExists(path), expected);
        XdgShellRoutines shell;
        ShellRoutines& routines = shell;
        QCOMPARE(routines.fileExists(path), expected);
    }

    void specialFolder_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("config");   // "-" for unset
        QTest::addColumn<QString>("expected"); // "~" stands for the home folder
        QTest::newRow("startup, set") << "7"
                                      << "/tmp/cfg"
                                      << "/tmp/cfg/autostart";
        QTest::newRow("startup, trailing separator") << "7"
                                                     << "/tmp/cfg/"
                                                     << "/tmp/cfg/autostart";
        QTest::newRow("startup, unset") << "7"
                                        << "-"
                                        << "~/.config/autostart";
        QTest::newRow("startup, empty") << "7"
                                        << ""
                                        << "~/.config/autostart";
        QTest::newRow("startup, relative is ignored") << "7"
                                                      << "rel/cfg"
                                                      << "~/.config/autostart";
        QTest::newRow("blanks around") << " 7 "
                                       << "/tmp/cfg"
                                       << "/tmp/cfg/autostart";
        QTest::newRow("other number") << "8"
                                      << "/tmp/cfg"
                                      << "";
        QTest::newRow("zero") << "0"
                              << "/tmp/cfg"
                              << "";
        QTest::newRow("not a number") << "seven"
                                      << "/tmp/cfg"
                                      << "";
        QTest::newRow("empty") << ""
                               << "/tmp/cfg"
                               << "";
    }
    void specialFolder() {
        QFETCH(QString, number);
        QFETCH(QString, config);
        QFETCH(QString, expected);
        EnvGuard guard("XDG_CONFIG_HOME");
        if (config == u"-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", config.toUtf8());
        expected.replace(u'~', QDir::homePath());
        QCOMPARE(SpecialFolderPath(number), expected);
        QVERIFY(!SpecialFolderPath(number).endsWith(u'/'));
        XdgShellRoutines shell;
        QCOMPARE(static_cast<ShellRoutines&>(shell).specialFolderPath(number), expected);
    }

    // The picker opens on the starting folder, centred; cancel gives "", a choice gives the folder.
    void selectFolder_data() {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cancel") << false << "";
        QTest::newRow("choose") << true << "@/folder";
    }
    void selectFolder() {
        QFETCH(bool, accept);
        QFETCH(QString, expected);
        expected.replace(u'@', dir_.path());
        const QString start = dir_.path() + "/folder";
        QString seenDirectory;
        QPoint seenCentre;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seenDirectory = dialog->directory().absolutePath();
            seenCentre = dialog->geometry().center();
            if (accept) {
                dialog->selectFile(start);
                QMetaObject::invokeMethod(dialog, "accept");
            } else {
                dialog->reject();
            }
        });
        XdgShellRoutines shell;
        const QString chosen = static_cast<ShellRoutines&>(shell).selectFolder("保存するフォルダを指定して下さい。",
                                                                               nullptr, 0, kReturnOnlyFsDirs, start);
        QCOMPARE(chosen, expected);
        QCOMPARE(seenDirectory, start);
        const QPoint screenCentre = QApplication::primaryScreen()->geometry().center();
        QVERIFY2((seenCentre - screenCentre).manhattanLength() < 40, "the picker is centred on the screen");
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
