// The main window: a small strip with the check period, the status line and six buttons. It holds
// the settings the check needs for the whole run, read once at start-up, runs the check cycle, owns
// the tray icon and the new-mail announcement, and opens the send, receive and settings windows.
#pragma once

#include "checkRules.h"
#include "mainMode.h"
#include "mainWindowLink.h"
#include "modIniFile.h"
#include "programFolders.h"
#include "windowPlacement.h"

#include <QDeadlineTimer>
#include <QIcon>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QWindow;

namespace korimo {

class Dialogs;
class MailTransport;
class NotificationSound;
class ShellRoutines;
class TrayIcon;

// How the main window makes the windows it opens. Each maker creates its window, runs its load handling
// and returns it (the window deletes itself when closed); an empty maker leaves the button without effect.
struct WindowMakers {
    std::function<QWidget*()> send, receive, settings;
};

class frmMainKR : public QWidget, public MainWindowLink {
    Q_OBJECT
public:
    frmMainKR(const ProgramFolders& programFolder, MailTransport& transport, Dialogs& dialogs,
              QWidget* parent = nullptr);
    ~frmMainKR() override;

    // Replaceable parts (tests hand in recorders; call before Form_Load).
    void setTrayIcon(std::unique_ptr<TrayIcon> tray);
    void setSound(std::unique_ptr<NotificationSound> sound);
    void setShell(std::unique_ptr<ShellRoutines> shell);
    void setWindowMakers(WindowMakers makers) { makers_ = std::move(makers); }
    // What leaves the event loop (by default QCoreApplication::exit(0)). Every end calls it: the tray
    // icon's right button (nothing saved), the main window closed once no other window is left, and
    // endOrdinarily().
    void setQuitAtOnce(std::function<void()> quit) { quitAtOnce_ = std::move(quit); }
    // The clock: the timers' tick in milliseconds (1000). Tests stretch it and tick by hand.
    void setTickInterval(int ms) { tickMs_ = ms; }

    // The start-up sequence (after the single-instance test, which main() makes before any window
    // exists): button caption, folders, settings, then tray mode when a mailbox is configured, else the
    // window is shown.
    void Form_Load();
    // Runs a check when the window became the program's active window, unless a notification shows.
    void Form_Activate();

    // Ends the program as closing the main window would, from outside the program (a signal, the
    // desktop session ending): a dialog waiting for an answer is cancelled, a mail call under way is
    // waited for (at most kEndWaitMs), then each open window closes with its own unload writes, the
    // main window saves its keys, and the event loop is left. A mail call still running then is
    // abandoned: the process ends at once, after the writes.
    void endOrdinarily();
    static constexpr int kEndWaitMs = 1000;

    void LoadSettings();
    void SaveSettings();
    void DisableControls();
    void EnableControls();

    // The check cycle.
    void CheckMailboxes();
    void Timer1_Timer();
    // Tray mode and the announcement.
    void Command1_Click();
    void Timer2_Timer();
    void trayLeftReleased();
    void trayRightReleased();
    // The other commands.
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();

    // MainWindowLink.
    void restoreNormal() override;
    void setStatusLine(const QString& text) override;
    void focusStartButtonIfShown() override;

    const ProgramFolders& programFolder() const { return programFolder_; }
    const IniFile& ini() const { return ini_; }
    // The icon file the window shows now ("" for the built-in picture).
    const QString& windowIconPath() const { return iconPath_; }
    // Where the program waits, whether a check runs, what waits for its end.
    const MainMode& mode() const { return mode_; }
    bool checking() const { return mode_.checking; }
    // Tray mode without a notification area: the window waits minimised instead of in the tray.
    bool trayFallback() const { return mode_.minimisedForTray; }
    qint16 lastCount() const { return LastCount; }

    // Controls.
    QPushButton* Command1; // チェック/開始: enter tray mode
    QPushButton* Command2; // 手動チェック
    QPushButton* Command3; // メーラー起動
    QPushButton* Command4; // 送信
    QPushButton* Command5; // 受信
    QPushButton* Command6; // 設定
    QLabel* Label1;        // 周期(分)
    QLineEdit* Text1;      // the check period in minutes, as typed
    QLabel* Label2;        // the status line
    QTimer* Timer1;        // the period timer, 1 s while in tray mode
    QTimer* Timer2;        // the notification timer, 1 s while a notification shows

protected:
    // Form_QueryUnload and Form_Unload.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Window state, loaded by LoadSettings unless noted.
    QStringList ExcludeSenders, ExcludeSubjects; // 20 each
    qint16 LastCount = 0;
    QString MailerPath;
    qint16 ShowSeconds = 2;
    quint8 SoundOn = 0;
    quint8 WavSound = 1; // 0: beep; 1: play the WAV file of label16
    QString NoticeIconPath;
    int CheckTicks = 0; // not loaded
    int ShowTicks = 0;  // not loaded

    void buildControls();
    void RemoveTrayIcon();
    void announce();
    void loadIcon(const QString& path);
    bool anyServer() const;
    void followTrayHost();
    void focusWindowChanged(QWindow* now);
    void openWindow(QPointer<QWidget>& slot, const std::function<QWidget*()>& make);
    void runDeferred();
    void continueEnding();
    void endWhenNoWindowLeft();

    ProgramFolders programFolder_;
    IniFile ini_;
    MailTransport& transport_;
    Dialogs& dialogs_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<NotificationSound> sound_;
    std::unique_ptr<ShellRoutines> shell_;
    WindowMakers makers_;
    std::function<void()> quitAtOnce_;
    QPointer<QWidget> sendWindow_, receiveWindow_, settingsWindow_;
    WindowPlacement placement_;
    int tickMs_ = 1000;
    QString iconPath_;
    QIcon trayPicture_; // the window's picture and the tip when tray mode was last entered
    QString trayTip_;
    QList<Mailbox> boxes_;
    FailedMailboxes failures_;
    MainMode mode_;
    QDeadlineTimer endDeadline_;
    bool showingByCode_ = false;     // the program itself is changing the window's state
    bool otherFormHadFocus_ = false; // another window of the program had the focus after this one
};

} // namespace korimo
