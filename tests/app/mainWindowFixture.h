// A main window in a private program folder, with the scripted transport and recorders for the tray,
// the sound, the shell and the program's end.
#pragma once

#include "dialogs.h"
#include "fakeMailTransport.h"
#include "frmMainKR.h"
#include "iniKeys.h"
#include "notificationSound.h"
#include "shellRoutines.h"
#include "trayIcon.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace korimo::test {

class RecordingTray : public TrayIcon {
public:
    struct Added {
        QString iconPath; // the window's icon file when the icon was added
        QString tip;
        qint64 pictureKey;
    };
    bool hostAvailable = true;
    QList<Added> added;
    int removed = 0;
    bool shown = false;
    std::function<QString()> windowIconPath;

    bool available() const override { return hostAvailable; }
    void add(const QIcon& picture, const QString& tip) override {
        added.append({windowIconPath ? windowIconPath() : QString(), tip, picture.cacheKey()});
        shown = true;
    }
    void remove() override {
        if (shown)
            ++removed;
        shown = false;
    }
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

class RecordingShell : public XdgShellRoutines {
public:
    QStringList started;
    bool startProgram(const QString& path) override {
        started << path;
        return true;
    }
};

// Timers that never fire during a test: the test ticks them by hand.
inline constexpr int kNoTick = 24 * 3600 * 1000;

struct MainWindowFixture {
    QTemporaryDir dir;
    FakeMailTransport transport;
    ScriptedDialogs dialogs;
    std::unique_ptr<frmMainKR> window;
    RecordingTray* tray = nullptr;
    RecordingSound* sound = nullptr;
    RecordingShell* shell = nullptr;
    int quits = 0;

    MainWindowFixture() {
        QDir(dir.path()).mkdir(QStringLiteral("DATA"));
        const QString source = qEnvironmentVariable("KORIMO_SOURCE_DIR") + QStringLiteral("/data/DATA/");
        for (const QString& name : {QStringLiteral("iconKorimo.ico"), QStringLiteral("Icon.ico")})
            QFile::copy(source + name, dir.path() + QStringLiteral("/DATA/") + name);
    }
    QString folder() const { return dir.path(); }
    QString defaultIcon() const { return defaultIconPath(folder()); }
    QString noticeIcon() const { return noticeIconDefault(folder()); }
    IniFile ini() const { return IniFile(folder()); }
    void set(const IniKey& k, const QString& v, int index = -1) { QVERIFY(writeValue(ini(), k, v, index)); }

    // A mailbox in slot i whose server is known to the scripted transport.
    void mailbox(int i, QStringList summaries) {
        const QString server = QStringLiteral("pop%1.test").arg(i + 1);
        set(keys::Servers, server, i);
        set(keys::Accounts, QStringLiteral("user%1").arg(i + 1), i);
        set(keys::Passwords, QStringLiteral("pw%1").arg(i + 1), i);
        transport.setBox(server, FakeMailTransport::Box{QStringLiteral("pw%1").arg(i + 1), summaries, {}, {}});
    }
    // Changes what a configured mailbox holds.
    void deliver(int i, QStringList summaries) {
        const QString server = QStringLiteral("pop%1.test").arg(i + 1);
        FakeMailTransport::Box b = transport.box(server);
        b.summaries = std::move(summaries);
        transport.setBox(server, b);
    }

    frmMainKR& make() {
        window = std::make_unique<frmMainKR>(folder(), transport, dialogs);
        auto t = std::make_unique<RecordingTray>();
        tray = t.get();
        tray->windowIconPath = [w = window.get()] {
            return w->windowIconPath();
        };
        window->setTrayIcon(std::move(t));
        auto s = std::make_unique<RecordingSound>();
        sound = s.get();
        window->setSound(std::move(s));
        auto sh = std::make_unique<RecordingShell>();
        shell = sh.get();
        window->setShell(std::move(sh));
        window->setQuitAtOnce([this] { ++quits; });
        window->setTickInterval(kNoTick);
        return *window;
    }
    frmMainKR& start() {
        make();
        window->Form_Load();
        return *window;
    }
    int listCalls() const {
        int n = 0;
        for (const auto& c : transport.calls())
            n += c.op == u"RcvMail2" && c.args.value(3) == u"LIST";
        return n;
    }
};

inline QString msg(const QString& subject, const QString& from = QStringLiteral("a@b.example")) {
    return QStringLiteral("Subject:") + subject + QStringLiteral(" From:") + from + QStringLiteral(" Date: Mon");
}

} // namespace korimo::test
