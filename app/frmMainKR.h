// The main window: a small strip with the check period, the status line and six buttons. It holds
// the settings the check needs for the whole run, read once at start-up.
#pragma once

#include "modIniFile.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace korimo {

class Dialogs;
class MailTransport;

class frmMainKR : public QWidget {
    Q_OBJECT
public:
    frmMainKR(const QString& programFolder, MailTransport& transport, Dialogs& dialogs, QWidget* parent = nullptr);
    ~frmMainKR() override;

    // The start-up sequence (after the single-instance test, which main() makes before any window
    // exists): button caption, folders, settings, and tray mode when a mailbox is configured.
    void Form_Load();

    void LoadSettings();
    void SaveSettings();
    void DisableControls();
    void EnableControls();

    const QString& programFolder() const { return programFolder_; }
    const IniFile& ini() const { return ini_; }

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

    // Window state, loaded by LoadSettings unless noted.
    QStringList Servers, Accounts, Passwords;    // 5 each
    QStringList ExcludeSenders, ExcludeSubjects; // 20 each
    qint16 LastCount = 0;
    QString MailerPath;
    qint16 ShowSeconds = 2;
    quint8 SoundOn = 0;
    quint8 WavSound = 1; // 0: beep; 1: play the WAV file of label16
    QString NoticeIconPath;
    quint8 InTray = 0;    // not loaded
    quint8 Notifying = 0; // not loaded
    int CheckTicks = 0;   // not loaded
    int ShowTicks = 0;    // not loaded

protected:
    // Form_QueryUnload and Form_Unload.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();

    QString programFolder_;
    IniFile ini_;
    MailTransport& transport_;
    Dialogs& dialogs_;
    bool closingByCode_ = false;
};

} // namespace korimo
