#include "frmMainKR.h"

#include "dialogs.h"
#include "iniKeys.h"
#include "mailTransport.h"
#include "twips.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace korimo {

namespace {

struct ControlSpec {
    int left, top, width, height;
};

QPushButton* makeButton(QWidget* parent, const QString& caption, const QString& tip, ControlSpec g) {
    auto* b = new QPushButton(caption, parent);
    b->setToolTip(tip);
    b->setGeometry(twipsRect(*parent, g.left, g.top, g.width, g.height));
    return b;
}

} // namespace

frmMainKR::frmMainKR(const QString& programFolder, MailTransport& transport, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), programFolder_(programFolder), ini_(programFolder), transport_(transport), dialogs_(dialogs) {
    buildControls();
}

frmMainKR::~frmMainKR() = default;

void frmMainKR::buildControls() {
    setWindowTitle(QStringLiteral("こりも"));
    setWindowIcon(QIcon(QStringLiteral(":/korimo/korimo.png")));
    setFixedSize(twipsToPixelsX(*this, 6045), twipsToPixelsY(*this, 930));

    // Created in tab order.
    Command1 = makeButton(this, QStringLiteral("開始"), QStringLiteral("タスクトレイに常駐しチェックを開始します"),
                          {5040, 120, 855, 735});
    Command2 = makeButton(this, QStringLiteral("手動チェック"), QStringLiteral("メールボックスをチェックします"),
                          {2280, 480, 1215, 375});
    Command3 = makeButton(this, QStringLiteral("メーラー起動"), QStringLiteral("指定したメーラーを起動します"),
                          {960, 480, 1215, 375});
    Command4 = makeButton(this, QStringLiteral("送信"), QStringLiteral("簡易送信します"), {3600, 120, 615, 735});
    Command5 = makeButton(this, QStringLiteral("受信"), QStringLiteral("受信します"), {4320, 120, 615, 735});
    Command6 =
        makeButton(this, QStringLiteral("設定"), QStringLiteral("送受信・動作等の設定をします"), {120, 600, 735, 255});

    Label1 = new QLabel(QStringLiteral("周期(分)"), this);
    Label1->setGeometry(twipsRect(*this, 0, 0, 735, 255));

    Text1 = new QLineEdit(this);
    Text1->setGeometry(twipsRect(*this, 120, 240, 495, 270));

    Label2 = new QLabel(this);
    Label2->setGeometry(twipsRect(*this, 840, 120, 2655, 255));
    QFont statusFont;
    // The Japanese Gothic the status line was drawn in, then its metric-compatible free fallbacks.
    statusFont.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                            QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP")});
    statusFont.setPointSizeF(11.25);
    Label2->setFont(statusFont);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command5);
    setTabOrder(Command5, Command6);
    setTabOrder(Command6, Text1);

    Timer1 = new QTimer(this);
    Timer2 = new QTimer(this);
}

void frmMainKR::Form_Load() {
    Command1->setText(QStringLiteral("チェック\n開　　始"));
    // Folders the program keeps beside itself; a failure to create one is no reason not to start.
    for (const QString& folder : {attachedFilesDefault(programFolder_), soundFolder(programFolder_)})
        if (!QFileInfo(folder).isDir())
            QDir().mkdir(folder);
    LoadSettings();
}

void frmMainKR::LoadSettings() {
    const int left = readInt(ini_, keys::MainLeft);
    const int top = readInt16(ini_, keys::MainTop);
    move(twipsToPixelsX(*this, left), twipsToPixelsY(*this, top));
    Text1->setText(QString::number(readInt(ini_, keys::MainPeriod)));
    NoticeIconPath = readString(ini_, keys::NoticeIcon, noticeIconDefault(programFolder_));
    Servers.clear();
    Accounts.clear();
    Passwords.clear();
    for (int i = 0; i < keys::Servers.count; ++i) {
        Servers << readString(ini_, keys::Servers, i);
        Accounts << readString(ini_, keys::Accounts, i);
        Passwords << readString(ini_, keys::Passwords, i);
    }
    ExcludeSenders.clear();
    ExcludeSubjects.clear();
    for (int i = 0; i < keys::ExcludeSenders.count; ++i) {
        ExcludeSenders << readString(ini_, keys::ExcludeSenders, i);
        ExcludeSubjects << readString(ini_, keys::ExcludeSubjects, i);
    }
    LastCount = readInt16(ini_, keys::LastCount);
    MailerPath = readString(ini_, keys::MailerPath);
    ShowSeconds = readInt16(ini_, keys::ShowSeconds);
    SoundOn = static_cast<quint8>(readInt(ini_, keys::SoundOn));
    // The main window reads a missing key as "": only exactly "True" chooses the beep.
    WavSound = readString(ini_, keys::BeepOption, QString()) == u"True" ? 0 : 1;
}

void frmMainKR::SaveSettings() {
    writeValue(ini_, keys::LastCount, LastCount);
    writeValue(ini_, keys::MainLeft, pixelsToTwipsX(*this, x()));
    writeValue(ini_, keys::MainTop, pixelsToTwipsY(*this, y()));
    writeValue(ini_, keys::MainPeriod, Text1->text());
}

void frmMainKR::DisableControls() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{Text1, Command1, Command2, Command3, Command4, Command5, Command6})
        w->setEnabled(false);
}

void frmMainKR::EnableControls() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{Text1, Command1, Command2, Command3, Command4, Command5, Command6})
        w->setEnabled(true);
}

void frmMainKR::closeEvent(QCloseEvent* event) {
    // Form_QueryUnload: while a notification is on screen only the program itself may close the window.
    if (Notifying == 1 && !closingByCode_) {
        event->ignore();
        return;
    }
    // Form_Unload.
    SaveSettings();
    event->accept();
}

} // namespace korimo
