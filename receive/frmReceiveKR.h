// The receive window: one list of the messages of all five mailboxes, the body of the message read
// last, its attachments saved on request, a body saved as text, and deletion on the server.
#pragma once

#include "mailTransport.h"
#include "modIniFile.h"
#include "programFolders.h"
#include "receiveLogic.h"
#include "windowPlacement.h"

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace korimo {

class Dialogs;
class MainWindowLink;

class frmReceiveKR : public QWidget {
    Q_OBJECT
public:
    frmReceiveKR(const ProgramFolders& programFolder, MailTransport& transport, Dialogs& dialogs,
                 MainWindowLink& mainWindow, QWidget* parent = nullptr);
    ~frmReceiveKR() override;

    // The load sequence: position and size, the stored options, the mailboxes, the columns, the list.
    void Form_Load();

    // Reactions.
    void Check1_Click();
    void Command1_Click(); // 削除
    void Command2_Click(); // 終了
    void Command3_Click(); // 全削
    void Command4_Click(); // 参照
    void Command5_Click(); // 保存
    void ListView1_DblClick();
    void Form_DblClick();

    void ListMessages();
    void ClearAndRelist();

    // Controls.
    QPushButton* Command1; // 削除
    QPushButton* Command2; // 終了
    QPushButton* Command3; // 全削
    QPushButton* Command4; // 参照
    QPushButton* Command5; // 保存
    QCheckBox* Check1;     // 添付保存
    QLineEdit* Text2;      // attachment folder
    QLabel* Label1;        // the note on closing
    QTreeWidget* ListView1;
    QPlainTextEdit* Text1; // the body read last

    // The rows' messages as listed, top to bottom.
    const QList<receive::Row>& rows() const { return rows_; }
    // The mailboxes whose last listing failed, with the transport's texts.
    const QList<receive::ListingFailure>& listingFailures() const { return failures_; }
    const receive::Layout& layoutTwips() const { return layout_; }
    // Outer size and position in twips, as stored in the settings file.
    int outerWidthTwips() const;
    int outerHeightTwips() const;
    void setOuterSizeTwips(int width, int height);

protected:
    void resizeEvent(QResizeEvent* event) override;          // Form_Resize
    void mouseDoubleClickEvent(QMouseEvent* event) override; // Form_DblClick
    void closeEvent(QCloseEvent* event) override;            // Form_QueryUnload, Form_Unload

private:
    void buildControls();
    void Form_Resize();
    void Form_Unload();
    void applyLayout();
    QStringList rowKeys() const;
    int selectedRow() const;
    QString dataFolderPath() const;
    QString attachedFilesFolder() const;

    ProgramFolders programFolder_;
    IniFile ini_;
    MailTransport& transport_;
    Dialogs& dialogs_;
    MainWindowLink& mainWindow_;
    QList<Mailbox> boxes_;
    QList<receive::Row> rows_;
    bool loading_ = false;
    bool mailboxChanged_ = false; // a deletion was committed
    QString saveFileName_;        // the save dialog's answer last time ("" after a cancel)
    receive::Layout layout_;
    QList<receive::ListingFailure> failures_;
    bool closingByCode_ = false;
    WindowPlacement placement_;
};

} // namespace korimo
