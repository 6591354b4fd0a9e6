// The settings window "設定": edits every shared setting on four tabs and writes them back only
// through "終了". It works on its own copies, read from the settings file each time it opens.
#pragma once

#include "mailTransport.h"
#include "modIniFile.h"
#include "programFolders.h"
#include "setLogic.h"
#include "windowPlacement.h"

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace korimo {

class Dialogs;
class MainWindowLink;

class frmSetKR : public QWidget {
    Q_OBJECT
public:
    frmSetKR(const ProgramFolders& programFolder, Dialogs& dialogs, MainWindowLink& mainWindow,
             QWidget* parent = nullptr);
    ~frmSetKR() override;

    // Fills the window from the settings file; the main window calls it right after construction.
    void Form_Load();

    void ReadSettings();
    void WriteSettings();
    void ShowMailbox();

    // Event handlers.
    void Option1_Click(int index);
    void Command8_Click();
    void Command1_Click();
    void Command2_Click();
    void Check1_Click();
    void Check2_Click();
    void Option2_Click();
    void Command3_Click();
    void Command6_Click();
    void Command7_Click();
    void Command4_Click(int index);
    void Command5_Click(int index);
    void Text8_LostFocus();
    void Text9_LostFocus();
    void Text10_LostFocus();
    void Text12_LostFocus();
    void Text13_LostFocus();

    // Form-level state.
    bool Loading = false;
    qint16 CurrentBox = 0;
    QStringList Servers, Accounts, Passwords;                                            // kMailboxCount each
    QStringList SendAddresses, SendNames, SendSubjects, ExcludeSenders, ExcludeSubjects; // kListEntries each
    // The names the two file dialogs keep: one shared by the WAV and mail-program buttons, one for the icon.
    KeptFileName CommonDialog1;
    KeptFileName CommonDialog2;

    // Controls.
    QTabWidget* SSTab1;
    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4, *Frame5, *Frame6, *Frame7, *Frame8, *Frame9, *Frame10, *Frame11;
    QRadioButton* Option1[kMailboxCount];
    QRadioButton* Option2[2];
    QLineEdit *Text1, *Text2, *Text3;
    QPlainTextEdit* Text4; // the mail program's path, a multi-line box
    QLineEdit *Text5, *Text6, *Text7, *Text8, *Text9, *Text10, *Text11, *Text12, *Text13;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10, *Label11,
        *Label12, *Label13, *Label14, *Label15, *Label16, *Label17;
    QCheckBox *Check1, *Check2;
    QPushButton *Command1, *Command2, *Command3;
    QPushButton* Command4[4];
    QPushButton* Command5[4];
    QPushButton *Command6, *Command7, *Command8;

protected:
    // Form_Unload, for every way of closing.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Browser {
        QLabel* number;
        QLineEdit* first;
        QLineEdit* second; // nullptr for a browser with one box
        QStringList* firstList;
        QStringList* secondList;
    };

    void buildControls();
    Browser& browser(int which); // 0 recipients, 1 subjects, 2 sender exclusions, 3 subject exclusions
    void storeBrowser(const Browser& b);
    void moveBrowser(int which, int step);
    void showBrowserEntry(const Browser& b);
    void storeMailbox();
    void applySoundVisibility();

    ProgramFolders programFolder_;
    IniFile ini_;
    Dialogs& dialogs_;
    MainWindowLink& mainWindow_;
    Browser browsers_[4];
    WindowPlacement placement_;
};

} // namespace korimo
