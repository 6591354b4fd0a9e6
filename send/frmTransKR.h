// The send window: one message to recipients picked from the twenty preset ones, with a typed or
// preset subject and at most one attached file. The checks live in sendLogic; this class binds
// them to the controls, calls the transport and keeps section [Trans] of the settings.
#pragma once

#include "modIniFile.h"
#include "programFolders.h"
#include "windowPlacement.h"

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace korimo {

class Dialogs;
class MailTransport;
class MainWindowLink;

class frmTransKR : public QWidget {
    Q_OBJECT
public:
    frmTransKR(const ProgramFolders& programFolder, MailTransport& transport, Dialogs& dialogs,
               MainWindowLink& mainWindow, QWidget* parent = nullptr);
    ~frmTransKR() override;

    // Reads the settings into the controls; the main window calls it right after construction.
    void Form_Load();

    // Handlers.
    void Check2_Click();
    void Command3_Click();
    void Command1_Click();
    void Command2_Click();

    // Fits List1's horizontal scroll range to its widest row; returns that width in pixels.
    static int kVScro(QListWidget* list);

    // True while send() runs.
    bool isSending() const { return sending_; }

    // Controls.
    QLabel* Label1;        // SMTPアドレス
    QLineEdit* Text1;      // sending server (shown only)
    QLabel* Label2;        // 送信者名
    QLineEdit* Text2;      // sender's name (shown only, neither sent nor stored)
    QLabel* Label3;        // 送信者アドレス
    QLineEdit* Text3;      // sender's address (shown only)
    QLabel* Label4;        // 件名
    QComboBox* Combo1;     // subject, with the twenty preset subjects
    QListWidget* List1;    // recipients: the twenty preset names
    QPlainTextEdit* Text4; // body
    QCheckBox* Check2;     // 添付
    QPushButton* Command3; // 参照
    QLineEdit* Text5;      // attachment path
    QCheckBox* Check1;     // 送信後閉じる
    QPushButton* Command1; // 送信
    QPushButton* Command2; // 終了

    // Window state, filled by LoadSettings.
    QStringList SendAddresses, SendNames, SendSubjects; // 20 each

    // The file dialog's own name: the last file chosen in this window ("" before any).
    const QString& CommonDialog1FileName() const { return commonDialog1FileName_; }

protected:
    // Form_Unload.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void LoadSettings();
    void SaveSettings();

    ProgramFolders programFolder_;
    IniFile ini_;
    MailTransport& transport_;
    Dialogs& dialogs_;
    MainWindowLink& mainWindow_;
    QString commonDialog1FileName_;
    WindowPlacement placement_;
    bool sending_ = false;
};

} // namespace korimo
