// The platform routines against real files, dialogs and windows: existence, the special folder, the
// folder picker, plain text in message boxes and tooltips, and where windows open and what they save.
#include "dialogs.h"
#include "modSearchFile.h"
#include "modSpecialFolder.h"
#include "shellRoutines.h"
#include "twips.h"
#include "windowPlacement.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

using namespace korimo;

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const QString d = dir_.path();
        for (const char* name : {"/mail.exe", "/名前 付き.txt", "/a[1]b.txt", "/.hidden"})
            QVERIFY(QFile(d + name).open(QIODevice::WriteOnly));
        QVERIFY(QDir(d).mkdir("folder"));
        QVERIFY(QFile::link(d + "/nothing-there", d + "/dangling"));
    }

    // Text from a mail, a server or a file is never markup: message boxes and tooltips show it as it is.
    void mailTextIsShownAsPlainText_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("markup in a subject")
            << QStringLiteral("「<b>至急</b><img src=x>」\r\n　をメールボックスから削除します");
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
        const auto row = [](const char* name, const char* path, int expected) {
            QTest::newRow(name) << path << expected;
        };
        row("empty", "", 0);
        row("file", "@/mail.exe", 1);
        row("folder with separator", "@/folder/", 1);
        row("japanese name with blank", "@/名前 付き.txt", 1);
        row("dangling link", "@/dangling", 1);
        row("below a file", "@/mail.exe/x", 0);
        row("star matches", "@/*.exe", 1);
        row("star matches nothing", "@/*.com", 0);
        row("star in folder part", "@/fold*/", 1);
        row("brackets are plain", "@/a[1]*", 1);
        row("brackets not a class", "@/a1b*", 0);
        row("hidden by star", "@/.hid*", 1);
    }
    void fileExists() {
        QFETCH(QString, path);
        QFETCH(int, expected);
        path.replace(u'@', dir_.path());
        QCOMPARE(FileExists(path), expected);
    }

    void specialFolder_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("config");   // "-" for unset
        QTest::addColumn<QString>("expected"); // "~" stands for the home folder
        const auto row = [](const char* name, const char* number, const char* config, const char* expected) {
            QTest::newRow(name) << number << config << expected;
        };
        row("startup", " 7 ", "/tmp/cfg/", "/tmp/cfg/autostart");
        row("startup, unset", "7", "-", "~/.config/autostart");
        row("startup, relative is ignored", "7", "rel/cfg", "~/.config/autostart");
        row("other number", "8", "/tmp/cfg", "");
        row("not a number", "seven", "/tmp/cfg", "");
    }
    void specialFolder() {
        QFETCH(QString, number);
        QFETCH(QString, config);
        QFETCH(QString, expected);
        if (config == u"-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", config.toUtf8());
        expected.replace(u'~', QDir::homePath());
        QCOMPARE(SpecialFolderPath(number), expected);
    }

    // Saved twips come back exactly while the window stays put (pixel rounding would drift), its new
    // place once moved, and a place on no screen opens in the middle of the primary screen.
    void placementRestoresAndSaves_data() {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::addColumn<QPoint>("moveBy");
        QTest::addColumn<bool>("onScreen");
        QTest::newRow("odd twips") << 1003 << 2011 << QPoint() << true;
        QTest::newRow("odd twips, moved") << 1003 << 2011 << QPoint(7, 3) << true;
        QTest::newRow("far right") << 3000000 << 0 << QPoint() << false;
    }
    void placementRestoresAndSaves() {
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(QPoint, moveBy);
        QFETCH(bool, onScreen);
        QWidget w;
        WindowPlacement placement;
        placement.restore(w, QPoint(left, top), QSize(300, 200));
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        if (onScreen) // else centred, give or take the pixel that halving an even size loses
            QCOMPARE(w.pos(), QPoint(twipsToPixelsX(w, left), twipsToPixelsY(w, top)));
        else
            QVERIFY((QRect(w.pos(), QSize(300, 200)).center() - centre).manhattanLength() <= 2);
        w.move(w.pos() + moveBy);
        QVERIFY(posInTwips(w) != QPoint(left, top)); // what pixel rounding alone would save
        QCOMPARE(placement.twipsToSave(w), onScreen && moveBy.isNull() ? QPoint(left, top) : posInTwips(w));
        w.move(w.pos() - moveBy); // back on the very pixel it opened at: the exact twips again
        QCOMPARE(placement.twipsToSave(w), onScreen ? QPoint(left, top) : posInTwips(w));
    }

    // The rule for every window and the announcement: the window's middle must lie on a screen, else
    // it goes to the middle of the primary one (listed first).
    void onScreenPosition_data() {
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<QPoint>("placed");
        const QRect primary(0, 0, 1024, 768), right(1024, 0, 1280, 1024);
        const QPoint centred = primary.center() - QPoint(150, 100);
        QTest::newRow("on the only screen") << QList<QRect>{primary} << QPoint(100, 100) << QPoint(100, 100);
        QTest::newRow("monitor unplugged") << QList<QRect>{primary} << QPoint(1500, 100) << centred;
        QTest::newRow("on the second monitor")
            << QList<QRect>{primary, right} << QPoint(1500, 100) << QPoint(1500, 100);
        QTest::newRow("middle past the edge") << QList<QRect>{primary} << QPoint(900, 100) << centred;
        QTest::newRow("primary on the right")
            << QList<QRect>{right, primary} << QPoint(5000, 5000) << right.center() - QPoint(150, 100);
        QTest::newRow("no screen known") << QList<QRect>{} << QPoint(5000, 5000) << QPoint(5000, 5000);
    }
    void onScreenPosition() {
        QFETCH(QList<QRect>, screens);
        QFETCH(QPoint, pos);
        QFETCH(QPoint, placed);
        QCOMPARE(korimo::onScreenPosition(pos, QSize(300, 200), screens), placed);
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
