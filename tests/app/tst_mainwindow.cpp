// The main window driven headless: the check cycle, tray mode, the announcement, the program's end,
// with the scripted transport and timer ticks by hand.
#include "checkRules.h"
#include "mainWindowFixture.h"
#include "testFiles.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace korimo;
using namespace korimo::test;

namespace {

void tick(frmMainKR& w, int n) {
    for (int i = 0; i < n; ++i)
        w.Timer1_Timer();
}
bool enabled(const frmMainKR& w) {
    return w.Text1->isEnabled() && w.Command1->isEnabled() && w.Command6->isEnabled();
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    // Only configured mailboxes are listed; excluded messages are counted once and only in the total
    // shown; a failed mailbox (or a thrown error) counts as empty and is named until it answers.
    void checkCountsAndNamesFailures() {
        MainWindowFixture f;
        f.mailbox(3, {"spam one", "hello"});
        f.mailbox(1, {"Fw: Osaka", "x"});
        f.set(keys::ExcludeSubjects, "spam", 0);
        f.set(keys::ExcludeSubjects, "Osaka", 2); // after a gap: never consulted
        f.set(keys::Passwords, "wrong", 1);
        frmMainKR& w = f.make();
        w.LoadSettings();
        w.CheckMailboxes();
        QCOMPARE(w.Label2->text(), QStringLiteral("　2通メールがあります"));
        QCOMPARE(w.lastCount(), qint16(1));
        QVERIFY(w.Label2->toolTip().contains(QStringLiteral("メールボックス2: ") +
                                             describe({MailErrorKind::LoginRefused, {}})));
        f.set(keys::Passwords, "pw", 1);
        f.transport.failure = true;
        w.LoadSettings();
        w.CheckMailboxes();
        QVERIFY(!w.checking() && enabled(w) && w.Label2->toolTip().contains("resolver exploded"));
        f.transport.failure = false;
        f.transport.setBox("pop4.test", {"pw", f.transport.box("pop4.test").messages, {}, "<CN=x>"});
        w.CheckMailboxes();
        QCOMPARE(w.Label2->text(), QStringLiteral("　4通メールがあります"));
        QVERIFY(!w.Label2->toolTip().contains(QStringLiteral("メールボックス2")));
        QVERIFY(w.Label2->toolTip().contains(QStringLiteral("メールボックス4: ")) &&
                w.Label2->toolTip().contains("&lt;CN=x&gt;")); // escaped
        QCOMPARE(f.transport.calls().size(), 4);               // two mailboxes per check, none for the throw
    }

    void trayAnnouncementTray() {
        MainWindowFixture f;
        f.mailbox(0, {"a"});
        f.set(keys::LastCount, "1");
        f.set(keys::SoundOn, "1");
        f.set(keys::BeepOption, "True");
        frmMainKR& w = f.start();
        const int before = f.transport.lists;
        tick(w, 120); // 120 ticks pass without a call, the 121st checks
        QCOMPARE(f.transport.lists, before);
        f.deliver(0, {"a", "b"});
        tick(w, 1);
        QCOMPARE(w.mode().place, Place::Announcing);
        QCOMPARE(f.sound->played, QStringList{"beep"});
        QVERIFY(w.isVisible() && !f.tray->present() && !w.Timer1->isActive());
        // The close box and activation do nothing meanwhile.
        QVERIFY(!w.close());
        w.Form_Activate();
        QCOMPARE(f.transport.lists, before + 1);
        // ShowSeconds (2) + 1 ticks, then back to the tray with a fresh check.
        w.Timer2_Timer(), w.Timer2_Timer();
        QCOMPARE(w.mode().place, Place::Announcing);
        w.Timer2_Timer();
        QCOMPARE(w.mode().place, Place::Tray);
        QVERIFY(!w.isVisible() && f.tray->present() && enabled(w));
        QCOMPARE(f.transport.lists, before + 2);
        // Left button: the window comes back and the icon goes.
        f.tray->left();
        QCOMPARE(w.mode().place, Place::Shown);
        QVERIFY(w.isVisible() && !f.tray->present() && !w.Timer1->isActive());
    }

    // Without a notification area the window waits minimised, never unreachable; it follows the area
    // coming and going, and an announcement restores it.
    void trayHostComesAndGoes() {
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.make();
        f.tray->hostAvailable = false;
        w.Form_Load();
        QVERIFY(w.trayFallback() && w.isMinimized() && f.tray->added.isEmpty());
        f.tray->hostAvailable = true;
        w.Timer1_Timer(); // it appears: the icon goes there
        QVERIFY(!w.trayFallback() && !w.isVisible());
        QCOMPARE(f.tray->added, QStringList{QStringLiteral("2分毎にチェック")});
        f.tray->hostAvailable = false;
        w.Timer1_Timer(); // it vanishes: back to the minimised window
        QVERIFY(w.trayFallback() && w.isVisible() && !f.tray->present());
        f.deliver(0, {"a"});
        w.CheckMailboxes();
        QVERIFY(w.mode().place == Place::Announcing && w.isVisible() && !w.isMinimized() && !enabled(w));
        for (int i = 0; i < 3; ++i)
            w.Timer2_Timer();
        QVERIFY(w.trayFallback() && w.isMinimized());
        w.showNormal(); // the user restores it: as the left button on the icon
        QTRY_COMPARE(w.mode().place, Place::Shown);
        QVERIFY(!w.Timer1->isActive());
    }

    void rightButtonEndsWithoutSaving() {
        MainWindowFixture f;
        f.mailbox(0, {"a", "b"});
        f.set(keys::LastCount, "2");
        frmMainKR& w = f.start();
        f.tray->left();
        f.tray->right(); // shown: the icon's buttons do nothing
        QCOMPARE(f.quits, 0);
        w.Text1->setText("9");
        w.Command1_Click();
        f.tray->right();
        QCOMPARE(f.quits, 1);
        QVERIFY(!f.tray->present());
        QCOMPARE(f.ini().ReadIniString(u"Main", u"text1", {}), QString()); // nothing saved
    }

    // In tray mode hiding or closing other windows never ends the program; closing the main window
    // ends it once no other window is left, with the usual saving.
    void programEndsOnceNoWindowIsLeft() {
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.start();
        QPointer<QWidget> other;
        w.setWindowMakers({[&]() -> QWidget* { return other = new QWidget; }, {}, {}});
        f.tray->left();
        w.Command4_Click();
        w.Command1_Click(); // back to the tray, the other window open
        delete other.data();
        QTest::qWait(200);
        QCOMPARE(f.quits, 0);
        f.tray->left();
        w.Command4_Click();
        QVERIFY(w.close());
        QTest::qWait(200);
        QCOMPARE(f.quits, 0); // the other window is still open
        delete other.data();
        QTRY_COMPARE(f.quits, 1);
        QCOMPARE(readString(f.ini(), keys::LastCount), QStringLiteral("0"));
    }

    // A signal or the session's end closes every window as its own close would, then the main window,
    // also during a check (it is waited for).
    void endingFromOutsideSavesLikeAClose_data() {
        QTest::addColumn<bool>("duringCheck");
        QTest::newRow("in the tray") << false;
        QTest::newRow("during a check") << true;
    }
    void endingFromOutsideSavesLikeAClose() {
        QFETCH(bool, duringCheck);
        MainWindowFixture f;
        f.mailbox(0, {"a", "b"});
        f.set(keys::LastCount, "2");
        frmMainKR& w = f.start();
        w.Command5_Click(); // the real receive window
        w.Text1->setText("7");
        f.deliver(0, {"a"});
        f.transport.gate = duringCheck;
        QTimer::singleShot(0, &w, [&] {
            QVERIFY(!duringCheck || f.transport.entered.tryAcquire(3, 5000));
            w.endOrdinarily();
            QTimer::singleShot(300, [&] { f.transport.release.release(); });
        });
        if (duringCheck)
            w.CheckMailboxes();
        QTRY_COMPARE(f.quits, 1);
        QCOMPARE(readString(f.ini(), keys::LastCount), QString::number(duringCheck ? 1 : 2));
        QCOMPARE(readString(f.ini(), keys::MainPeriod), "7");
        QCOMPARE(readInt(f.ini(), keys::ReceiveWidth), 7845); // the receive window's own unload
    }

    // While a check waits for the network the window paints, and nothing starts a second one; ticks,
    // the right button and a close arriving meanwhile are handled after it.
    void inputDuringACheckWaitsForIt_data() {
        QTest::addColumn<bool>("closeIt");
        QTest::newRow("right button") << false;
        QTest::newRow("close") << true;
    }
    void inputDuringACheckWaitsForIt() {
        QFETCH(bool, closeIt);
        MainWindowFixture f;
        f.mailbox(0, {"a"});
        f.set(keys::LastCount, "1");
        frmMainKR& w = f.start();
        w.Text1->setText("1");
        if (closeIt)
            f.tray->left();
        f.transport.gate = true;
        bool sawChecking = false, closed = true;
        QTimer::singleShot(0, &w, [&] {
            QVERIFY(f.transport.entered.tryAcquire(2, 5000));
            sawChecking = w.Label2->text() == checkingStatusText() && !enabled(w);
            w.Timer1_Timer();
            w.Form_Activate();
            w.Command2_Click();
            closeIt ? void(closed = w.close()) : f.tray->right();
            f.transport.release.release();
        });
        closeIt ? w.Command2_Click() : tick(w, 61);
        QVERIFY(sawChecking && !(closed && closeIt));
        QCOMPARE(f.transport.lists, 2);
        QTRY_VERIFY(closeIt ? !w.isVisible() : f.quits == 1);
        QCOMPARE(f.ini().ReadIniString(u"Main", u"text1", {}), closeIt ? "1" : QString()); // closing saves
    }

    // The WAV player and Qt Multimedia are loaded at the first WAV announcement, not before; a missing,
    // empty or broken file and a sound already playing never make the announcement wait.
    void soundLoadsAtTheFirstWav() {
        QTemporaryDir dir;
        const auto le = [](quint32 v, int n) {
            return QByteArray(reinterpret_cast<const char*>(&v), n);
        };
        const QByteArray silence(800, char(0x80)); // 0.1 s of 8 kHz, 8-bit mono
        QVERIFY(writeFile(dir.filePath("chime.wav"), "RIFF" + le(36 + 800, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
                                                         le(1, 2) + le(8000, 4) + le(8000, 4) + le(1, 2) + le(8, 2) +
                                                         "data" + le(800, 4) + silence));
        QVERIFY(writeFile(dir.filePath("broken.wav"), "not a sound at all"));
        const auto multimediaMapped = [] {
            QFile maps(QStringLiteral("/proc/self/maps"));
            return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6Multimedia");
        };
        NotificationSound sound(nullptr, {qEnvironmentVariable("KORIMO_BINARY_DIR") + QStringLiteral("/korimo")});
        QElapsedTimer timer;
        timer.start();
        sound.beep();
        sound.playWav(dir.filePath("missing.wav"));
        sound.playWav(QString());
        QVERIFY(!multimediaMapped());
        sound.playWav(dir.filePath("chime.wav"));
        QVERIFY(multimediaMapped());
        sound.playWav(dir.filePath("chime.wav"));
        sound.playWav(dir.filePath("broken.wav"));
        QVERIFY2(timer.elapsed() < 2000, "playing must not wait for the sound");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
