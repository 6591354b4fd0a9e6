// A main window in a private program folder, with the scripted transport and recorders for the tray,
// the sound, the shell and the program's end.
#pragma once

#include "fakeMailTransport.h"
#include "frmMainKR.h"
#include "iniKeys.h"
#include "notificationSound.h"
#include "scriptedDialogs.h"
#include "shellRoutines.h"
#include "trayIcon.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>

namespace korimo::test {

class RecordingTray : public TrayIcon {
public:
    bool hostAvailable = true;
    QStringList added; // the tips, one per icon added
    bool shown = false;
    bool available() const override { return hostAvailable; }
    void add(const QIcon&, const QString& tip) override { added << tip, shown = true; }
    void remove() override { shown = false; }
    bool present() const override { return shown; }
    void left() { emit leftReleased(); }
    void right() { emit rightReleased(); }
};

class RecordingSound : public NotificationSound {
public:
    QStringList played; // "beep" or the WAV path
    void beep() override { played << QStringLiteral("beep"); }
    void playWav(const QString& path) override { played << path; }
};

// The scripted transport; with gate set a listing waits until the test releases it, with failure
// set it throws.
class GatedTransport : public FakeMailTransport {
public:
    std::atomic<bool> gate{false}, failure{false};
    std::atomic<int> lists{0};
    QSemaphore entered, release;
    QList<MailOutcome<Listing>> listAll(const QList<Mailbox>& boxes, const QString& folder) override {
        ++lists;
        entered.release();
        if (gate)
            release.acquire();
        if (failure)
            throw std::runtime_error("resolver exploded");
        return FakeMailTransport::listAll(boxes, folder);
    }
};

// Timers that never fire during a test: the test ticks them by hand.
inline constexpr int kNoTick = 24 * 3600 * 1000;

struct MainWindowFixture {
    QTemporaryDir dir;
    GatedTransport transport;
    ScriptedDialogs dialogs;
    std::unique_ptr<frmMainKR> window;
    RecordingTray* tray = nullptr;
    RecordingSound* sound = nullptr;
    int quits = 0;

    MainWindowFixture() {
        QDir(dir.path()).mkdir(QStringLiteral("DATA"));
        const QString source = qEnvironmentVariable("KORIMO_SOURCE_DIR") + QStringLiteral("/data/DATA/");
        for (const QString& name : {QStringLiteral("iconKorimo.ico"), QStringLiteral("Icon.ico")})
            QFile::copy(source + name, dir.path() + QStringLiteral("/DATA/") + name);
    }
    QString folder() const { return dir.path(); }
    IniFile ini() const { return IniFile(folder()); }
    void set(const IniKey& k, const QString& v, int index = -1) { QVERIFY(writeValue(ini(), k, v, index)); }
    // Mailbox slot i on server "pop<i+1>.test" holding messages with these subjects.
    void mailbox(int i, const QStringList& subjects) {
        set(keys::Servers, QStringLiteral("pop%1.test").arg(i + 1), i);
        set(keys::Passwords, QStringLiteral("pw"), i);
        deliver(i, subjects);
    }
    void deliver(int i, const QStringList& subjects) {
        FakeMailTransport::Box box{QStringLiteral("pw"), {}, {}};
        for (const QString& s : subjects)
            box.messages << FakeMailTransport::msg(s);
        transport.setBox(QStringLiteral("pop%1.test").arg(i + 1), box);
    }
    frmMainKR& make() {
        window = std::make_unique<frmMainKR>(folder(), transport, dialogs);
        window->setTrayIcon(std::unique_ptr<TrayIcon>(tray = new RecordingTray));
        window->setSound(std::unique_ptr<NotificationSound>(sound = new RecordingSound));
        window->setQuitAtOnce([this] { ++quits; });
        window->setTickInterval(kNoTick);
        return *window;
    }
    frmMainKR& start() {
        make();
        window->Form_Load();
        return *window;
    }
};

} // namespace korimo::test
