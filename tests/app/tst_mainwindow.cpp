// The main window driven headless: start-up, the check cycle, tray mode, the announcement and the
// commands, with the scripted transport and direct timer ticks.
#include "checkRules.h"
#include "mainWindowFixture.h"
#include "offScreenPositions.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSemaphore>
#include <QTimer>
#include <atomic>

using namespace korimo;
using namespace korimo::test;

namespace {

const QString kNoMail = QStringLiteral("　メールはありません");

bool controlsEnabled(const frmMainKR& w) {
    return w.Text1->isEnabled() && w.Command1->isEnabled() && w.Command2->isEnabled() && w.Command3->isEnabled() &&
           w.Command4->isEnabled() && w.Command5->isEnabled() && w.Command6->isEnabled();
}
bool controlsDisabled(const frmMainKR& w) {
    return !w.Text1->isEnabled() && !w.Command1->isEnabled() && !w.Command2->isEnabled() && !w.Command3->isEnabled() &&
           !w.Command4->isEnabled() && !w.Command5->isEnabled() && !w.Command6->isEnabled();
}

void tick1(frmMainKR& w, int n) {
    for (int i = 0; i < n; ++i)
        w.Timer1_Timer();
}

// Lets a test act while a check is running: ListMailboxes waits until the test releases it.
class GatedTransport : public FakeMailTransport {
public:
    QSemaphore entered, release;
    std::atomic<int> lists{0};
    QList<MailResult> ListMailboxes(const QList<Mailbox>& boxes, const QString& folder) override {
        ++lists;
        entered.release();
        release.acquire();
        return FakeMailTransport::ListMailboxes(boxes, folder);
    }
};

class ThrowingTransport : public FakeMailTransport {
public:
    QList<MailResult> ListMailboxes(const QList<Mailbox>&, const QString&) override {
        throw std::runtime_error("resolver exploded");
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startsShownWithoutSettings() {
        MainWindowFixture f;
        frmMainKR& w = f.start();
        QVERIFY(w.isVisible());
        QCOMPARE(w.Text1->text(), QStringLiteral("2"));
        QCOMPARE(w.Command1->text(), QStringLiteral("チェック\n開　　始"));
        QCOMPARE(w.InTray, quint8(0));
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(QFileInfo(f.folder() + QStringLiteral("/AttachedFiles")).isDir());
        QVERIFY(QFileInfo(f.folder() + QStringLiteral("/Sound")).isDir());
        // Showing the window activates it, and the activation checks: no mailbox, no call.
        QTRY_COMPARE(w.Label2->text(), kNoMail);
        QCOMPARE(f.transport.calls().size(), 0);
        QCOMPARE(w.LastCount, qint16(0));
        QCOMPARE(w.windowIconPath(), f.defaultIcon());
        QVERIFY(!QFile::exists(IniFilePath(f.folder()))); // nothing written before the close
    }

    // A place on no screen: the window opens on one, and so does an announcement after the screen
    // the window stood on went away while it waited in the tray.
    void windowAndAnnouncementOpenOnAScreen_data() { addOffScreenPositionRows(); }
    void windowAndAnnouncementOpenOnAScreen() {
        QFETCH(int, left);
        QFETCH(int, top);
        MainWindowFixture f;
        f.mailbox(0, {});
        f.set(keys::MainLeft, QString::number(left));
        f.set(keys::MainTop, QString::number(top));
        frmMainKR& w = f.start();
        QCOMPARE(w.InTray, quint8(1));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(screen.contains(QRect(w.pos(), w.size()).center()));
        w.move(screen.right() + 4000, screen.bottom() + 4000);
        f.deliver(0, {msg("new")});
        w.CheckMailboxes();
        QCOMPARE(w.Notifying, quint8(1));
        QVERIFY(w.isVisible());
        QVERIFY2(screen.contains(QRect(w.pos(), w.size()).center()), qPrintable(QString::number(w.x())));
    }

    // Closing other windows never ends the program; the main window closed the ordinary way ends it
    // once no other window is left.
    void programEndsOnceNoWindowIsLeft() {
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.start();
        QPointer<QWidget> other;
        w.setWindowMakers({[&]() -> QWidget* {
                               auto* s = new QWidget;
                               s->setAttribute(Qt::WA_DeleteOnClose);
                               other = s;
                               return s;
                           },
                           {},
                           {}});
        f.tray->left();
        w.Command4_Click();
        w.Command1_Click(); // back to the tray, the other window open
        QVERIFY(other->close());
        QTest::qWait(300);
        QCOMPARE(f.quits, 0);
        QVERIFY(f.tray->present());
        f.tray->left();
        w.Command4_Click();
        QVERIFY(w.close());
        QTest::qWait(300);
        QCOMPARE(f.quits, 0); // the other window is still open
        QVERIFY(other->close());
        QTRY_COMPARE(f.quits, 1);
        QCOMPARE(f.ini().ReadIniString(u"Past", u"mnum", {}), QStringLiteral("0"));
    }

    // A signal or the session's end closes every window as its own close would, then the main
    // window, also while a check runs (it is waited for) and while in the tray.
    void endingFromOutsideSavesLikeAClose_data() {
        QTest::addColumn<bool>("duringCheck");
        QTest::newRow("in the tray") << false;
        QTest::newRow("during a check") << true;
    }
    void endingFromOutsideSavesLikeAClose() {
        QFETCH(bool, duringCheck);
        MainWindowFixture f;
        f.mailbox(0, {msg("a"), msg("b")});
        f.set(keys::LastCount, QStringLiteral("2"));
        GatedTransport gated;
        gated.setBox(QStringLiteral("pop1.test"), f.transport.box(QStringLiteral("pop1.test")));
        frmMainKR w(f.folder(), gated, f.dialogs);
        int quits = 0;
        w.setQuitAtOnce([&] { ++quits; });
        w.setTickInterval(kNoTick);
        w.setTrayIcon(std::make_unique<RecordingTray>());
        gated.release.release(2); // the first check and the receive window's listing run freely
        w.Form_Load();
        QCOMPARE(w.InTray, quint8(1));
        w.Command5_Click(); // the receive window
        QVERIFY(gated.entered.tryAcquire(2, 5000));
        w.Text1->setText(QStringLiteral("7"));
        f.deliver(0, {msg("a")});
        gated.setBox(QStringLiteral("pop1.test"), f.transport.box(QStringLiteral("pop1.test")));
        if (duringCheck) {
            QTimer::singleShot(0, &w, [&] {
                QVERIFY(gated.entered.tryAcquire(1, 5000));
                w.endOrdinarily();
                QTimer::singleShot(300, [&] { gated.release.release(); });
            });
            w.CheckMailboxes();
        } else {
            w.endOrdinarily();
        }
        QTRY_COMPARE(quits, 1);
        const IniFile ini = f.ini();
        QCOMPARE(ini.ReadIniString(u"Past", u"mnum", {}), QString::number(duringCheck ? 1 : 2));
        QCOMPARE(ini.ReadIniString(u"Main", u"text1", {}), QStringLiteral("7"));
        QVERIFY(!ini.ReadIniString(u"Main", u"left", {}).isEmpty());
        QVERIFY(!ini.ReadIniString(u"Receive", u"width", {}).isEmpty()); // the receive window's own unload
    }

    void checkCallsOnlyConfiguredMailboxesInOrder() {
        MainWindowFixture f;
        f.mailbox(3, {msg("d1")});
        f.mailbox(1, {msg("b1"), msg("b2")});
        frmMainKR& w = f.make();
        w.LoadSettings();
        w.CheckMailboxes();
        const QString data = f.folder() + QStringLiteral("/DATA");
        const QList<FakeMailTransport::Call> expected{
            {QStringLiteral("RcvMail2"), {"pop2.test", "user2", "pw2", "LIST", data}},
            {QStringLiteral("RcvMail2"), {"pop4.test", "user4", "pw4", "LIST", data}},
        };
        QCOMPARE(f.transport.calls(), expected);
        QCOMPARE(w.Label2->text(), QStringLiteral("　3通メールがあります"));
        QCOMPARE(w.LastCount, qint16(3));
        QVERIFY(controlsEnabled(w));
    }

    void exclusionsFromSettings() {
        MainWindowFixture f;
        f.mailbox(0, {msg("spam one", "x@spam.example"), msg("hello"), msg("Fw: From the Osaka office")});
        f.set(keys::ExcludeSubjects, QStringLiteral("spam"), 0);
        f.set(keys::ExcludeSubjects, QStringLiteral("Osaka"), 2); // after a gap: never consulted
        f.set(keys::ExcludeSenders, QStringLiteral("@spam."), 0);
        frmMainKR& w = f.make();
        w.LoadSettings();
        w.CheckMailboxes();
        QCOMPARE(w.Label2->text(), QStringLiteral("　3通メールがあります")); // the total includes excluded ones
        QCOMPARE(w.LastCount, qint16(2));                                    // excluded once although both match
    }

    void startupInTrayComparesWithStoredCount_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("announced");
        QTest::newRow("same as stored") << 2 << false;
        QTest::newRow("differs from stored") << 5 << true;
    }
    void startupInTrayComparesWithStoredCount() {
        QFETCH(int, stored);
        QFETCH(bool, announced);
        MainWindowFixture f;
        f.mailbox(2, {msg("a"), msg("b")});
        f.set(keys::LastCount, QString::number(stored));
        frmMainKR& w = f.start();
        QCOMPARE(f.tray->added.size(), 1);
        QCOMPARE(f.tray->added.at(0).tip, QStringLiteral("2分毎にチェック"));
        QCOMPARE(f.tray->added.at(0).iconPath, QString()); // the built-in picture of a fresh window
        QCOMPARE(f.listCalls(), 1);
        QCOMPARE(w.LastCount, qint16(2));
        QCOMPARE(w.Notifying, quint8(announced));
        QCOMPARE(w.isVisible(), announced);
        QCOMPARE(w.InTray, quint8(!announced));
        QCOMPARE(w.Timer1->isActive(), !announced);
        QCOMPARE(w.Timer2->isActive(), announced);
        QCOMPARE(f.tray->present(), !announced);
        QCOMPARE(w.windowIconPath(), announced ? f.noticeIcon() : f.defaultIcon());
        QCOMPARE(controlsDisabled(w), announced);
    }

    void shownTrayNotificationTray() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        f.set(keys::LastCount, QStringLiteral("1"));
        f.set(keys::ShowSeconds, QStringLiteral("2"));
        f.set(keys::SoundOn, QStringLiteral("1"));
        f.set(keys::BeepOption, QStringLiteral("True"));
        frmMainKR& w = f.start();
        QCOMPARE(w.InTray, quint8(1));
        QVERIFY(!w.isVisible());

        // Nothing changes: 120 ticks pass without a call, the 121st checks.
        f.transport.clearCalls();
        tick1(w, 120);
        QCOMPARE(f.listCalls(), 0);
        tick1(w, 1);
        QCOMPARE(f.listCalls(), 1);
        QCOMPARE(w.CheckTicks, 0);
        QCOMPARE(w.Notifying, quint8(0));

        // One message more: the next timed check announces.
        f.deliver(0, {msg("a"), msg("b")});
        tick1(w, 121);
        QCOMPARE(w.Notifying, quint8(1));
        QCOMPARE(f.sound->played, QStringList{"beep"});
        QVERIFY(w.isVisible());
        QVERIFY(controlsDisabled(w));
        QCOMPARE(w.windowIconPath(), f.noticeIcon());
        QCOMPARE(w.InTray, quint8(0));
        QVERIFY(!f.tray->present());
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(w.Timer2->isActive());
        QCOMPARE(w.LastCount, qint16(2));
        QCOMPARE(w.Label2->text(), QStringLiteral("　2通メールがあります"));

        // The close box and activation do nothing meanwhile.
        const int callsBefore = f.listCalls();
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        w.Form_Activate();
        QCOMPARE(f.listCalls(), callsBefore);

        // ShowSeconds + 1 ticks, then back to the tray with a fresh check.
        w.Timer2_Timer();
        w.Timer2_Timer();
        QCOMPARE(w.Notifying, quint8(1));
        w.Timer2_Timer();
        QCOMPARE(w.Notifying, quint8(0));
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(w.ShowTicks, 0);
        QCOMPARE(w.InTray, quint8(1));
        QVERIFY(!w.isVisible());
        QCOMPARE(f.listCalls(), callsBefore + 1);
        QVERIFY(controlsEnabled(w));
        // The tray icon was added while the window still showed the notification icon; the check then
        // gave the window its default icon back.
        QCOMPARE(f.tray->added.size(), 2);
        QCOMPARE(f.tray->added.last().iconPath, f.noticeIcon());
        QCOMPARE(w.windowIconPath(), f.defaultIcon());

        // Later unchanged checks leave the tray icon alone: it keeps the notification picture.
        tick1(w, 121);
        QCOMPARE(f.tray->added.size(), 2);
        QVERIFY(f.tray->present());

        // Left button: the window comes back with the default icon, the tray icon goes.
        f.tray->left();
        QVERIFY(w.isVisible());
        QCOMPARE(w.InTray, quint8(0));
        QVERIFY(!f.tray->present());
        QVERIFY(!w.Timer1->isActive());
        QCOMPARE(w.windowIconPath(), f.defaultIcon());
        // Start again: the icon now has the default picture.
        w.Command1_Click();
        QCOMPARE(f.tray->added.last().iconPath, f.defaultIcon());
    }

    void changeWhileShownIsOnlyRecorded() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        frmMainKR& w = f.make();
        w.LoadSettings();
        w.show();
        w.Command2_Click();
        QCOMPARE(w.LastCount, qint16(1));
        QCOMPARE(w.Notifying, quint8(0));
        QCOMPARE(w.Label2->text(), QStringLiteral("　1通メールがあります"));
        // The next check in tray mode with the same count announces nothing.
        w.Command1_Click();
        QCOMPARE(w.Notifying, quint8(0));
        QCOMPARE(w.InTray, quint8(1));
        QVERIFY(f.sound->played.isEmpty());
    }

    void periodTicks_data() {
        QTest::addColumn<QString>("period");
        QTest::addColumn<int>("dueTick");
        QTest::newRow("1.5 minutes") << "1.5" << 91;
        QTest::newRow("zero") << "0" << 1;
        QTest::newRow("not a number") << "two" << 121;
    }
    void periodTicks() {
        QFETCH(QString, period);
        QFETCH(int, dueTick);
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.start();
        w.Text1->setText(period);
        f.transport.clearCalls();
        tick1(w, dueTick - 1);
        QCOMPARE(f.listCalls(), 0);
        tick1(w, 1);
        QCOMPARE(f.listCalls(), 1);
        tick1(w, dueTick);
        QCOMPARE(f.listCalls(), 2);
    }

    void onlyTimedChecksClearTheCounter() {
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.start();
        tick1(w, 50);
        f.tray->left();
        w.Command2_Click();
        w.Command1_Click();
        QCOMPARE(w.CheckTicks, 50);
        f.transport.clearCalls();
        tick1(w, 71);
        QCOMPARE(f.listCalls(), 1);
    }

    void tipFollowsThePeriod() {
        MainWindowFixture f;
        f.mailbox(0, {});
        f.set(keys::MainPeriod, QStringLiteral("5"));
        frmMainKR& w = f.start();
        QCOMPARE(f.tray->added.last().tip, QStringLiteral("5分毎にチェック"));
        f.tray->left();
        w.Text1->setText(QStringLiteral("2.5"));
        w.Command1_Click();
        QCOMPARE(f.tray->added.last().tip, QStringLiteral("2分毎にチェック"));
        f.tray->left();
        w.Text1->setText(QStringLiteral("soon"));
        w.Command1_Click();
        QCOMPARE(f.tray->added.last().tip, QStringLiteral("2分毎にチェック"));
    }

    void sound_data() {
        QTest::addColumn<QString>("soundOn");
        QTest::addColumn<QString>("option"); // "-" for a missing key
        QTest::addColumn<bool>("beep");
        QTest::addColumn<bool>("silent");
        QTest::newRow("off, beep chosen") << "0"
                                          << "True" << false << true;
        QTest::newRow("off, wav chosen") << "0"
                                         << "False" << false << true;
        QTest::newRow("beep") << "1"
                              << "True" << true << false;
        QTest::newRow("other case") << "1"
                                    << "true" << false << false;
        QTest::newRow("digit") << "1"
                               << "1" << false << false;
        QTest::newRow("empty") << "1"
                               << "" << false << false;
        QTest::newRow("missing key") << "1"
                                     << "-" << false << false;
    }
    void sound() {
        QFETCH(QString, soundOn);
        QFETCH(QString, option);
        QFETCH(bool, beep);
        QFETCH(bool, silent);
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        f.set(keys::SoundOn, soundOn);
        if (option != u"-")
            f.set(keys::BeepOption, option);
        f.set(keys::WavFile, QStringLiteral("/sounds/first.wav"));
        frmMainKR& w = f.start(); // stored count 0, one message: announced at once
        QCOMPARE(w.Notifying, quint8(1));
        if (silent) {
            QVERIFY(f.sound->played.isEmpty());
            return;
        }
        QCOMPARE(f.sound->played, QStringList{beep ? QStringLiteral("beep") : QStringLiteral("/sounds/first.wav")});
        // The WAV path is read anew at every announcement.
        f.set(keys::WavFile, QStringLiteral("/sounds/second.wav"));
        f.deliver(0, {});
        for (int i = 0; i < 3; ++i)
            w.Timer2_Timer();
        QCOMPARE(w.Notifying, quint8(1));
        QCOMPARE(f.sound->played.last(), beep ? QStringLiteral("beep") : QStringLiteral("/sounds/second.wav"));
    }

    void zeroShowSecondsShowsForOneTick() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        f.set(keys::ShowSeconds, QStringLiteral("0"));
        frmMainKR& w = f.start();
        QCOMPARE(w.Notifying, quint8(1));
        w.Timer2_Timer();
        QCOMPARE(w.Notifying, quint8(0));
        QCOMPARE(w.InTray, quint8(1));
    }

    void rightButtonEndsWithoutSaving() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a"), msg("b")});
        f.set(keys::LastCount, QStringLiteral("2"));
        QFile ini(IniFilePath(f.folder()));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray before = ini.readAll();
        ini.close();
        frmMainKR& w = f.start();
        // Shown: the icon's buttons do nothing.
        f.tray->left();
        f.tray->right();
        w.Command1_Click();
        QCOMPARE(f.quits, 0);
        // In the tray: the right button removes the icon and ends at once.
        QVERIFY(w.Timer1->isActive());
        f.tray->right();
        QCOMPARE(f.quits, 1);
        QVERIFY(!f.tray->present());
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(ini.readAll(), before);
    }

    void closeAfterNotificationSaves() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a"), msg("b"), msg("c")});
        f.set(keys::ShowSeconds, QStringLiteral("0"));
        frmMainKR& w = f.start();
        QCOMPARE(w.Notifying, quint8(1));
        QVERIFY(!w.close());
        w.Timer2_Timer();
        f.tray->left();
        w.Text1->setText(QStringLiteral("soon"));
        QVERIFY(w.close());
        const IniFile ini = f.ini();
        QCOMPARE(ini.ReadIniString(u"Past", u"mnum", {}), QStringLiteral("3"));
        QCOMPARE(ini.ReadIniString(u"Main", u"text1", {}), QStringLiteral("soon"));
        QVERIFY(!ini.ReadIniString(u"Main", u"left", {}).isEmpty());
        QVERIFY(!ini.ReadIniString(u"Main", u"top", {}).isEmpty());
    }

    void noMailboxRefusesTrayMode() {
        MainWindowFixture f;
        frmMainKR& w = f.start();
        w.Command1_Click();
        QCOMPARE(f.dialogs.messages(), QStringList{"設定を行ってください"});
        QCOMPARE(w.InTray, quint8(0));
        QVERIFY(w.isVisible());
        QVERIFY(f.tray->added.isEmpty());
        QVERIFY(!w.Timer1->isActive());
    }

    void failedMailboxIsNamedUntilItAnswers() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        f.mailbox(2, {msg("c")});
        FakeMailTransport::Box broken = f.transport.box(QStringLiteral("pop3.test"));
        broken.failure = QStringLiteral("TLS handshake failed: <certificate> expired");
        f.transport.setBox(QStringLiteral("pop3.test"), broken);
        frmMainKR& w = f.make();
        w.LoadSettings();
        w.CheckMailboxes();
        // Counted as the mailbox holding nothing, as before, but named in the status line's tooltip.
        QCOMPARE(w.Label2->text(), QStringLiteral("　1通メールがあります"));
        QVERIFY(w.Label2->toolTip().contains(QStringLiteral("メールボックス3")));
        QVERIFY(w.Label2->toolTip().contains(QStringLiteral("&lt;certificate&gt; expired")));
        QVERIFY(!w.Label2->toolTip().contains(QStringLiteral("メールボックス1")));
        broken.failure.clear();
        broken.note = QStringLiteral("identity not verified");
        f.transport.setBox(QStringLiteral("pop3.test"), broken);
        w.CheckMailboxes();
        QCOMPARE(w.Label2->text(), QStringLiteral("　2通メールがあります"));
        // What a listing that succeeded wants said (an unverified server) stays beside the mailbox.
        QVERIFY(w.Label2->toolTip().contains(QStringLiteral("メールボックス3: identity not verified")));
        broken.note.clear();
        f.transport.setBox(QStringLiteral("pop3.test"), broken);
        w.CheckMailboxes();
        QCOMPARE(w.Label2->toolTip(), QString());
    }

    void transportExceptionEndsTheCheckCleanly() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        ThrowingTransport throwing;
        frmMainKR w(f.folder(), throwing, f.dialogs);
        w.setTickInterval(kNoTick);
        w.LoadSettings();
        w.CheckMailboxes();
        QVERIFY(!w.checking());
        QVERIFY(controlsEnabled(w));
        QCOMPARE(w.Label2->text(), kNoMail);
        QVERIFY(w.Label2->toolTip().contains(QStringLiteral("resolver exploded")));
    }

    void checkPaintsAndIsNotReentered() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        f.set(keys::LastCount, QStringLiteral("1"));
        GatedTransport gated;
        gated.setBox(QStringLiteral("pop1.test"), f.transport.box(QStringLiteral("pop1.test")));
        frmMainKR w(f.folder(), gated, f.dialogs);
        auto tray = std::make_unique<RecordingTray>();
        RecordingTray* t = tray.get();
        w.setTrayIcon(std::move(tray));
        int quits = 0;
        w.setQuitAtOnce([&] { ++quits; });
        w.setTickInterval(kNoTick);
        w.LoadSettings();
        gated.release.release(); // the first check, on entering tray mode, goes through at once
        w.Command1_Click();
        QCOMPARE(gated.lists.load(), 1);
        QVERIFY(gated.entered.tryAcquire());
        QVERIFY(!w.checking());
        w.CheckTicks = 120;

        // While the next check waits for the network, the window keeps running its event loop.
        bool sawChecking = false, sawDisabled = false;
        QTimer::singleShot(0, &w, [&] {
            QVERIFY(gated.entered.tryAcquire(1, 5000));
            sawChecking = w.Label2->text() == checkingStatusText();
            sawDisabled = controlsDisabled(w);
            // None of these may start a second check.
            w.Timer1_Timer();
            w.Form_Activate();
            w.CheckMailboxes();
            w.Command2_Click();
            t->right(); // handled after the check
            QCOMPARE(gated.lists.load(), 2);
            gated.release.release();
        });
        w.Timer1_Timer(); // tick 121: the timed check
        QVERIFY(sawChecking);
        QVERIFY(sawDisabled);
        QCOMPARE(gated.lists.load(), 2);
        QCOMPARE(w.CheckTicks, 0);
        QCOMPARE(quits, 0);
        // After the check: the tick that fell due is counted, then the right button ends the program.
        QTRY_COMPARE(quits, 1);
        QCOMPARE(w.CheckTicks, 1);
        QCOMPARE(gated.lists.load(), 2);
    }

    // A close asked for while a check runs is carried out, with the usual saving, once it is over.
    void closeDuringACheckWaitsForIt() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a"), msg("b")});
        GatedTransport gated;
        gated.setBox(QStringLiteral("pop1.test"), f.transport.box(QStringLiteral("pop1.test")));
        frmMainKR w(f.folder(), gated, f.dialogs);
        w.setTickInterval(kNoTick);
        w.LoadSettings();
        w.show();
        bool refused = false;
        QTimer::singleShot(0, &w, [&] {
            QVERIFY(gated.entered.tryAcquire(1, 5000));
            refused = !w.close() && w.isVisible();
            gated.release.release();
        });
        w.Command2_Click();
        QVERIFY(refused);
        QCOMPARE(w.LastCount, qint16(2));
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(f.ini().ReadIniString(u"Past", u"mnum", {}), QStringLiteral("2"));
    }

    void noTrayHostMinimisesAndUsesALaterTray() {
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.make();
        f.tray->hostAvailable = false;
        w.Form_Load();
        QCOMPARE(w.InTray, quint8(1));
        QVERIFY(w.trayFallback());
        QVERIFY(w.isVisible());
        QVERIFY(w.isMinimized());
        QVERIFY(f.tray->added.isEmpty());
        QVERIFY(w.Timer1->isActive());
        // A notification area appears: the icon goes there, with the picture of tray-mode entry.
        f.tray->hostAvailable = true;
        w.Timer1_Timer();
        QVERIFY(!w.trayFallback());
        QCOMPARE(f.tray->added.size(), 1);
        QCOMPARE(f.tray->added.at(0).tip, QStringLiteral("2分毎にチェック"));
        QVERIFY(!w.isVisible());
        // It vanishes again: back to the minimised window, never unreachable.
        f.tray->hostAvailable = false;
        w.Timer1_Timer();
        QVERIFY(w.trayFallback());
        QVERIFY(!f.tray->present());
        QVERIFY(w.isVisible());
        QCOMPARE(w.InTray, quint8(1));
        // The user restores the minimised window: as the left button on the icon.
        w.showNormal();
        QTRY_COMPARE(w.InTray, quint8(0));
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(!w.trayFallback());
    }

    void announcementRestoresAMinimisedWindow() {
        MainWindowFixture f;
        f.mailbox(0, {msg("a")});
        frmMainKR& w = f.make();
        f.tray->hostAvailable = false;
        w.Form_Load(); // stored count 0: announced at once
        QCOMPARE(w.Notifying, quint8(1));
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        QCOMPARE(w.InTray, quint8(0));
    }

    void mailerCommand_data() {
        QTest::addColumn<QString>("path"); // relative to the program folder; "" for no setting
        QTest::addColumn<QString>("message");
        QTest::newRow("not set") << ""
                                 << "メーラーが設定されていません";
        QTest::newRow("missing") << "nowhere/mailer"
                                 << "メーラーが存在しません";
    }
    void mailerCommand() {
        QFETCH(QString, path);
        QFETCH(QString, message);
        MainWindowFixture f;
        if (!path.isEmpty())
            f.set(keys::MailerPath, f.folder() + u'/' + path);
        frmMainKR& w = f.start();
        QTRY_COMPARE(w.Label2->text(), kNoMail);
        w.Command3_Click();
        QCOMPARE(f.dialogs.messages(), QStringList{message});
        QVERIFY(!w.isMinimized());
        QCOMPARE(w.Label2->text(), kNoMail);
        QVERIFY(f.shell->started.isEmpty());
    }

    void mailerStarts() {
        MainWindowFixture f;
        const QString mailer = f.folder() + QStringLiteral("/my mailer");
        QFile file(mailer);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        f.set(keys::MailerPath, mailer);
        frmMainKR& w = f.start();
        w.Command3_Click();
        QVERIFY(f.dialogs.messages().isEmpty());
        QCOMPARE(f.shell->started, QStringList{mailer});
        QVERIFY(w.isMinimized());
        QCOMPARE(w.Label2->text(), QStringLiteral("手動チェックを行ってください"));
        QCOMPARE(w.InTray, quint8(0));
    }

    void mailerThatCannotRunIsSilent() {
        MainWindowFixture f;
        const QString notRunnable = f.folder() + QStringLiteral("/mailer.txt"); // no execute permission
        QFile file(notRunnable);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        f.set(keys::MailerPath, notRunnable);
        frmMainKR& w = f.make();
        w.setShell(std::make_unique<XdgShellRoutines>());
        w.Form_Load();
        w.Command3_Click();
        QVERIFY(f.dialogs.messages().isEmpty());
        QVERIFY(w.isMinimized());
        QCOMPARE(w.Label2->text(), QStringLiteral("手動チェックを行ってください"));
    }

    void mailerRunsWithTheWholePathAsProgram() {
        MainWindowFixture f;
        const QString script = f.folder() + QStringLiteral("/mail program.sh");
        const QString marker = f.folder() + QStringLiteral("/ran");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/ran\"\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
        XdgShellRoutines shell;
        QVERIFY(shell.startProgram(script));
        QTRY_VERIFY(QFile::exists(marker) && QFileInfo(marker).size() > 0);
        QFile out(marker);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll().trimmed(), QByteArray("0")); // no arguments
    }

    void windowsOpenAtMostOnce() {
        MainWindowFixture f;
        frmMainKR& w = f.start();
        int made = 0;
        QPointer<QWidget> last;
        w.setWindowMakers({[&]() -> QWidget* {
                               ++made;
                               auto* s = new QWidget;
                               s->setAttribute(Qt::WA_DeleteOnClose);
                               last = s;
                               return s;
                           },
                           {},
                           {}});
        w.Command4_Click();
        QVERIFY(w.isMinimized());
        QCOMPARE(made, 1);
        QVERIFY(last && last->isVisible());
        last->showMinimized();
        w.Command4_Click();
        QCOMPARE(made, 1);
        QVERIFY(!last->isMinimized());
        QVERIFY(last->isVisible());
        // Closed (and deleted): the next press makes a new one.
        QVERIFY(last->close());
        QTRY_VERIFY(last.isNull());
        w.Command4_Click();
        QCOMPARE(made, 2);
        last->close();
        // Buttons without a window only minimise the main window.
        w.showNormal();
        w.Command5_Click();
        QVERIFY(w.isMinimized());
        QCOMPARE(made, 2);
        QCOMPARE(w.InTray, quint8(0));
        QVERIFY(!w.Timer1->isActive());
    }

    // The real settings window, plugged in by the build: opened once, and its closing hands the main
    // window back restored, focused and checking.
    void settingsWindowPlugsIn() {
#if !__has_include("frmSetKR.h")
        QSKIP("the settings window is not part of this build");
#else
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.make();
        w.LoadSettings();
        w.show();
        QTRY_COMPARE(f.listCalls(), 1);
        auto otherWindows = [&w] {
            QList<QWidget*> found;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top != &w && top->isVisible() && top->isWindow() && !qobject_cast<QDialog*>(top))
                    found << top;
            return found;
        };
        w.Command6_Click();
        QVERIFY(w.isMinimized());
        QCOMPARE(otherWindows().size(), 1);
        QPointer<QWidget> settings = otherWindows().at(0);
        QVERIFY(QTest::qWaitForWindowActive(settings));
        w.Command6_Click();
        QCOMPARE(otherWindows().size(), 1);
        QVERIFY(settings->close());
        QTRY_VERIFY(settings.isNull());
        QVERIFY(!w.isMinimized());
        QTRY_COMPARE(f.listCalls(), 2);
        QCOMPARE(w.focusWidget(), w.Command1);
#endif
    }

    // The real player with no audio device: every request returns at once and nothing breaks. The
    // sound libraries are loaded at the first WAV that exists, not before.
    void realSoundIsSilentWithoutAudio() {
        QTemporaryDir dir;
        const QString wav = dir.filePath("chime.wav");
        QFile f(wav);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const quint32 samples = 800; // 0.1 s of 8 kHz, 8-bit mono silence
        auto le32 = [&f](quint32 v) {
            f.write(reinterpret_cast<const char*>(&v), 4);
        };
        auto le16 = [&f](quint16 v) {
            f.write(reinterpret_cast<const char*>(&v), 2);
        };
        f.write("RIFF");
        le32(36 + samples);
        f.write("WAVEfmt ");
        le32(16);
        le16(1);
        le16(1);
        le32(8000);
        le32(8000);
        le16(1);
        le16(8);
        f.write("data");
        le32(samples);
        f.write(QByteArray(samples, char(0x80)));
        f.close();
        const QString garbage = dir.filePath("broken.wav");
        QFile g(garbage);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write("not a sound at all");
        g.close();

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
        sound.playWav(wav);
        QVERIFY(multimediaMapped());
        sound.playWav(wav); // again, while the first may still play
        sound.playWav(garbage);
        QVERIFY2(timer.elapsed() < 2000, "playing must not wait for the sound");
        QTest::qWait(100);
    }

    void mainWindowLink() {
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.start(); // in the tray
        MainWindowLink& link = w;
        link.restoreNormal();
        QVERIFY(!w.isVisible()); // stays in the tray
        link.setStatusLine(QStringLiteral("　5通メールがあります"));
        QCOMPARE(w.Label2->text(), QStringLiteral("　5通メールがあります"));
        f.tray->left();
        w.showMinimized();
        link.restoreNormal();
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        link.focusStartButtonIfShown();
        QCOMPARE(w.focusWidget(), w.Command1);
    }

    void activationFromProgramWindowsOnly() {
        MainWindowFixture f;
        f.mailbox(0, {});
        frmMainKR& w = f.make();
        w.LoadSettings();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTRY_COMPARE(f.listCalls(), 1); // shown: checked

        // Focus back from another window of the program: checks.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTRY_COMPARE(f.listCalls(), 2);

        // Focus back from a message box: no check.
        QMessageBox box(QMessageBox::NoIcon, QString(), QStringLiteral("x"), QMessageBox::Ok, &w);
        box.show();
        box.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        box.close();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::qWait(0);
        QCOMPARE(f.listCalls(), 2);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
