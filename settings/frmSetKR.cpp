#include "frmSetKR.h"

#include "controls.h"
#include "dialogs.h"
#include "iniKeys.h"
#include "mainWindowLink.h"
#include "modSpecialFolder.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace korimo {

namespace {

// The password box shows every character as "*", whatever the style's own mask is.
class StarMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter)
            return u'*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Text that must stay ASCII (servers, accounts, passwords, addresses): no input method at all.
void noInputMethod(QLineEdit* box) {
    box->setInputMethodHints(Qt::ImhLatinOnly | Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
}

QLabel* makeLabel(const QString& caption, QWidget* parent, const QString& tip = QString()) {
    auto* l = new QLabel(caption, parent);
    l->setTextFormat(Qt::PlainText);
    if (!tip.isEmpty())
        l->setToolTip(tip);
    return l;
}

QLineEdit* makeBox(QWidget* parent, const QString& tip = QString()) {
    auto* t = new QLineEdit(parent);
    if (!tip.isEmpty())
        t->setToolTip(tip);
    return t;
}

// A file path shown as a label: plain text, wrapped anywhere, never widening the window.
QLabel* makePathLabel(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    l->setMinimumHeight(l->fontMetrics().height() * 2 + 4);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setFrameShape(QFrame::StyledPanel);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// The entry number between the arrows of a list browser.
QLabel* makeNumberLabel(QWidget* parent) {
    auto* l = new QLabel(QStringLiteral("1"), parent);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    return l;
}

// "↑", the number, "↓" in one row.
QHBoxLayout* arrowRow(QPushButton* up, QLabel* number, QPushButton* down) {
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    for (QPushButton* b : {up, down})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("↑")) + 24);
    row->addWidget(up);
    row->addWidget(number);
    row->addWidget(down);
    return row;
}

// A tab page: its parts from the top, with the space left over at the bottom.
void addPage(QTabWidget* tabs, QWidget* page, std::initializer_list<QWidget*> parts, const QString& caption) {
    auto* column = new QVBoxLayout(page);
    for (QWidget* part : parts)
        column->addWidget(part);
    column->addStretch();
    tabs->addTab(page, caption);
}

// A browser's "↑", number and "↓" in a row, made in that order.
QHBoxLayout* arrowRow(QWidget* frame, QPushButton** up, QLabel** number, QPushButton** down) {
    *up = makeButton(frame, QStringLiteral("↑"));
    *down = makeButton(frame, QStringLiteral("↓"));
    *number = makeNumberLabel(frame);
    return arrowRow(*up, *number, *down);
}

// A browser over one box: the box, and the arrows under it on the right.
void singleBoxBrowser(QGroupBox* frame, QLineEdit* box, QPushButton** up, QLabel** number, QPushButton** down) {
    QHBoxLayout* arrows = arrowRow(frame, up, number, down);
    auto* grid = new QGridLayout(frame);
    grid->addWidget(box, 0, 0);
    grid->addLayout(arrows, 1, 0, Qt::AlignRight);
}

// The running executable after resolving links: what the autostart entry starts.
QString runningExecutable() {
    const QString path = QCoreApplication::applicationFilePath();
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

QString optionText(bool on) {
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

QStringList emptyList(int n) {
    QStringList l;
    for (int i = 0; i < n; ++i)
        l << QString();
    return l;
}

} // namespace

frmSetKR::frmSetKR(const ProgramFolders& programFolder, Dialogs& dialogs, MainWindowLink& mainWindow, QWidget* parent)
    : QWidget(parent), programFolder_(programFolder), ini_(programFolder.settings), dialogs_(dialogs),
      mainWindow_(mainWindow) {
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    Servers = Accounts = Passwords = emptyList(kMailboxCount);
    SendAddresses = SendNames = SendSubjects = ExcludeSenders = ExcludeSubjects = emptyList(kListEntries);
    buildControls();
    browsers_[0] = {Label7, Text8, Text9, &SendAddresses, &SendNames};
    browsers_[1] = {Label8, Text10, nullptr, &SendSubjects, nullptr};
    browsers_[2] = {Label12, Text12, nullptr, &ExcludeSenders, nullptr};
    browsers_[3] = {Label13, Text13, nullptr, &ExcludeSubjects, nullptr};
}

frmSetKR::~frmSetKR() = default;

void frmSetKR::buildControls() {
    setWindowTitle(QStringLiteral("設定"));

    SSTab1 = new QTabWidget(this);
    // All four captions stay in sight: the window is at least as wide as the tab bar.
    SSTab1->setUsesScrollButtons(false);
    SSTab1->setElideMode(Qt::ElideNone);

    // ①: sending server, behaviour, mail program.
    auto* tab1 = new QWidget;
    Frame1 = new QGroupBox(QStringLiteral("送信用サーバー(必須)"), tab1);
    const QString tip1 = QStringLiteral("SMTPサーバー名を入力します");
    Label1 = makeLabel(QStringLiteral("SMTPアドレス"), Frame1, tip1);
    Text1 = makeBox(Frame1, tip1);
    noInputMethod(Text1);
    const QString tip2 = QStringLiteral("送信者のメールアドレスを入力します");
    Label2 = makeLabel(QStringLiteral("送信者メールアドレス"), Frame1, tip2);
    Text2 = makeBox(Frame1, tip2);
    noInputMethod(Text2);
    auto* g1 = new QGridLayout(Frame1);
    g1->addWidget(Label1, 0, 0);
    g1->addWidget(Text1, 0, 1);
    g1->addWidget(Label2, 1, 0);
    g1->addWidget(Text2, 1, 1);

    Frame2 = new QGroupBox(QStringLiteral("動作(任意)"), tab1);
    Check2 = new QCheckBox(QStringLiteral("お知らせ音"), Frame2);
    Check2->setToolTip(QStringLiteral("メールボックスに変化があった時に音で知らせる"));
    Option2[0] = new QRadioButton(QStringLiteral("Beep音"), Frame2);
    Option2[0]->setToolTip(QStringLiteral("Beep音を鳴らすときに選択します"));
    Option2[1] = new QRadioButton(QStringLiteral("サウンド"), Frame2);
    Option2[1]->setToolTip(QStringLiteral("WAVファイルを鳴らすときに選択します"));
    Command7 = makeButton(Frame2, QStringLiteral("参照"), QStringLiteral("WAVファイルを指定します"));
    Label16 = makePathLabel(Frame2);
    const QString tip6 = QStringLiteral("新着メール確認時にフォームを表示される秒数を指定します");
    Label6 = makeLabel(QStringLiteral("新着告知秒数"), Frame2, tip6);
    Text3 = makeBox(Frame2, tip6);
    Text3->setMaximumWidth(Text3->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 12);
    Check1 = new QCheckBox(QStringLiteral("スタートアップに登録する"), Frame2);
    Check1->setToolTip(QStringLiteral("スタートアップに登録してPC起動時に開始するようにします"));
    auto* g2 = new QGridLayout(Frame2);
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(Check2);
    soundRow->addSpacing(12);
    soundRow->addWidget(Option2[0]);
    soundRow->addWidget(Option2[1]);
    soundRow->addStretch();
    soundRow->addWidget(Command7);
    g2->addLayout(soundRow, 0, 0, 1, 3);
    g2->addWidget(Label16, 1, 0, 1, 3);
    g2->addWidget(Label6, 2, 0);
    g2->addWidget(Text3, 2, 1);
    g2->setColumnStretch(2, 1);
    g2->addWidget(Check1, 3, 0, 1, 3);

    Frame3 = new QGroupBox(QStringLiteral("メーラー(任意)"), tab1);
    Text4 = new QPlainTextEdit(Frame3);
    Text4->setTabChangesFocus(true);
    Text4->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Text4->setFixedHeight(Text4->fontMetrics().lineSpacing() * 2 + 14);
    Command3 = makeButton(Frame3, QStringLiteral("参照"));
    auto* g3 = new QHBoxLayout(Frame3);
    g3->addWidget(Text4, 1);
    g3->addWidget(Command3, 0, Qt::AlignTop);

    addPage(SSTab1, tab1, {Frame1, Frame2, Frame3}, QStringLiteral("①　サーバー・動作の設定"));

    // ②: mailboxes and the notification icon.
    auto* tab2 = new QWidget;
    Frame4 = new QGroupBox(QStringLiteral("メールボックス(最低ひとつ)"), tab2);
    Frame4->setToolTip(QStringLiteral("メールボックスを切り替えます"));
    auto* g4 = new QHBoxLayout(Frame4);
    static const char16_t* const circled[kMailboxCount] = {u"①", u"②", u"③", u"④", u"⑤"};
    for (int i = 0; i < kMailboxCount; ++i) {
        Option1[i] = new QRadioButton(QString::number(i + 1), Frame4);
        // The first tip reads "メールボック" as it always has.
        Option1[i]->setToolTip((i == 0 ? QStringLiteral("メールボック") : QStringLiteral("メールボックス")) +
                               QString::fromUtf16(circled[i]) + QStringLiteral("に切り替えます"));
        g4->addWidget(Option1[i]);
    }
    g4->addStretch();

    Frame5 = new QGroupBox(QStringLiteral("サーバー"), tab2);
    const QString tip3 = QStringLiteral("POPアドレスを入力します");
    Label3 = makeLabel(QStringLiteral("POP3"), Frame5, tip3);
    Text5 = makeBox(Frame5, tip3);
    noInputMethod(Text5);
    const QString tip4 = QStringLiteral("アカウント名を入力します");
    Label4 = makeLabel(QStringLiteral("アカウント"), Frame5, tip4);
    Text6 = makeBox(Frame5, tip4);
    noInputMethod(Text6);
    Label5 = makeLabel(QStringLiteral("パスワード"), Frame5);
    Text7 = makeBox(Frame5);
    Text7->setEchoMode(QLineEdit::Password);
    noInputMethod(Text7); // after the echo mode, which sets the input method state itself
    Command8 = makeButton(Frame5, QStringLiteral("消去"), QStringLiteral("このボックスのデータを消去します"));
    auto* g5 = new QGridLayout(Frame5);
    g5->addWidget(Label3, 0, 0);
    g5->addWidget(Text5, 0, 1);
    g5->addWidget(Label4, 1, 0);
    g5->addWidget(Text6, 1, 1);
    g5->addWidget(Label5, 2, 0);
    g5->addWidget(Text7, 2, 1);
    g5->addWidget(Command8, 3, 1, Qt::AlignRight);

    Frame11 = new QGroupBox(QStringLiteral("お知らせアイコンの設定(任意)"), tab2);
    Command6 =
        makeButton(Frame11, QStringLiteral("参照"), QStringLiteral("更新時のタスクトレイアイコンの場所を指定します"));
    Label15 = makePathLabel(Frame11);
    auto* g11 = new QHBoxLayout(Frame11);
    g11->addWidget(Label15, 1);
    g11->addWidget(Command6, 0, Qt::AlignTop);

    addPage(SSTab1, tab2, {Frame4, Frame5, Frame11}, QStringLiteral("②　メールボックスの設定"));

    // ③: recipients, preset subjects, sender name.
    auto* tab3 = new QWidget;
    Frame6 = new QGroupBox(QStringLiteral("送り先(任意)"), tab3);
    const QString tip9 = QStringLiteral("送り先アドレスを入力します");
    Label9 = makeLabel(QStringLiteral("アドレス"), Frame6, tip9);
    Text8 = makeBox(Frame6, tip9);
    noInputMethod(Text8);
    const QString tip10 = QStringLiteral("宛名を入力します");
    Label10 = makeLabel(QStringLiteral("宛名"), Frame6, tip10);
    Text9 = makeBox(Frame6, tip10);
    QHBoxLayout* arrows6 = arrowRow(Frame6, &Command4[0], &Label7, &Command4[1]);
    auto* g6 = new QGridLayout(Frame6);
    g6->addWidget(Label9, 0, 0);
    g6->addWidget(Text8, 0, 1);
    g6->addWidget(Label10, 1, 0);
    g6->addWidget(Text9, 1, 1);
    g6->addLayout(arrows6, 2, 1, Qt::AlignRight);

    Frame7 = new QGroupBox(QStringLiteral("件名(任意)"), tab3);
    Text10 = makeBox(Frame7, QStringLiteral("既定の件名を入力します"));
    singleBoxBrowser(Frame7, Text10, &Command4[2], &Label8, &Command4[3]);

    Frame8 = new QGroupBox(QStringLiteral("送信者(送信する場合必須)"), tab3);
    const QString tip11 = QStringLiteral("送信者名を入力します(必須)");
    Label11 = makeLabel(QStringLiteral("送信者名"), Frame8, tip11);
    Text11 = makeBox(Frame8, tip11);
    auto* g8 = new QGridLayout(Frame8);
    g8->addWidget(Label11, 0, 0);
    g8->addWidget(Text11, 0, 1);

    addPage(SSTab1, tab3, {Frame6, Frame7, Frame8}, QStringLiteral("③　送信の設定"));

    // ④: notification exclusions.
    auto* tab4 = new QWidget;
    Label14 = makeLabel(
        QStringLiteral("　送信者または件名に下記で指定した文字が含まれている場合は通知しません。ただし送信者と"
                       "件名がだぶった条件で当てはまる場合正確にチェックしないことがあります(任意)"),
        tab4);
    Label14->setWordWrap(true);
    Frame9 = new QGroupBox(QStringLiteral("送信者(任意)"), tab4);
    Text12 = makeBox(Frame9);
    Text12->setInputMethodHints(Qt::ImhPreferLatin); // the input method starts off here
    singleBoxBrowser(Frame9, Text12, &Command5[0], &Label12, &Command5[1]);

    Frame10 = new QGroupBox(QStringLiteral("件名(任意)"), tab4);
    Text13 = makeBox(Frame10);
    singleBoxBrowser(Frame10, Text13, &Command5[2], &Label13, &Command5[3]);

    addPage(SSTab1, tab4, {Label14, Frame9, Frame10}, QStringLiteral("④　お知らせ除外機能の設定"));

    // Below the tabs.
    Label17 = makeLabel(QStringLiteral("設定を変更した場合、このソフトを再起動させる必要があります。"), this);
    QPalette red = Label17->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label17->setPalette(red);
    Label17->setWordWrap(true);
    Command1 = makeButton(this, QStringLiteral("終了"));
    Command2 = makeButton(this, QStringLiteral("キャンセル"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label17, 1);
    bottom->addWidget(Command1);
    bottom->addWidget(Command2);

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(SSTab1);
    outer->addLayout(bottom);

    // Created last, so it outlives the password box that uses it.
    auto* mask = new StarMaskStyle;
    mask->setParent(this);
    Text7->setStyle(mask);

    // Handlers.
    for (int i = 0; i < kMailboxCount; ++i)
        connect(Option1[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                Option1_Click(i);
        });
    connect(Command8, &QPushButton::clicked, this, &frmSetKR::Command8_Click);
    connect(Command1, &QPushButton::clicked, this, &frmSetKR::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmSetKR::Command2_Click);
    connect(Check1, &QCheckBox::toggled, this, &frmSetKR::Check1_Click);
    connect(Check2, &QCheckBox::toggled, this, &frmSetKR::Check2_Click);
    for (QRadioButton* o : Option2)
        connect(o, &QRadioButton::toggled, this, &frmSetKR::Option2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmSetKR::Command3_Click);
    connect(Command6, &QPushButton::clicked, this, &frmSetKR::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &frmSetKR::Command7_Click);
    for (int i = 0; i < 4; ++i) {
        connect(Command4[i], &QPushButton::clicked, this, [this, i] { Command4_Click(i); });
        connect(Command5[i], &QPushButton::clicked, this, [this, i] { Command5_Click(i); });
    }
    for (QLineEdit* t : {Text8, Text9, Text10, Text12, Text13})
        t->installEventFilter(this);
}

// Opening.

void frmSetKR::Form_Load() {
    Loading = true;
    ReadSettings();
    Option1[0]->setChecked(true);
    CurrentBox = 0;
    ShowMailbox();
    for (const Browser& b : browsers_) {
        b.number->setText(QStringLiteral("1"));
        showBrowserEntry(b);
    }
    Loading = false;
}

void frmSetKR::ReadSettings() {
    placement_.restore(*this, QPoint(readInt(ini_, keys::SetLeft), readInt16(ini_, keys::SetTop)), sizeHint());

    Text1->setText(readString(ini_, keys::SmtpServer));
    Text2->setText(readString(ini_, keys::SenderAddress));
    Text3->setText(QString::number(readInt(ini_, keys::ShowSeconds)));
    Text4->setPlainText(readString(ini_, keys::MailerPath));
    Text11->setText(readString(ini_, keys::SenderName));
    Label15->setText(readString(ini_, keys::NoticeIcon, noticeIconDefault(programFolder_)));

    for (int n = 0; n < kListEntries; ++n) {
        SendAddresses[n] = readString(ini_, keys::SendAddresses, n);
        SendNames[n] = readString(ini_, keys::SendNames, n);
        SendSubjects[n] = readString(ini_, keys::SendSubjects, n);
        ExcludeSenders[n] = readString(ini_, keys::ExcludeSenders, n);
        ExcludeSubjects[n] = readString(ini_, keys::ExcludeSubjects, n);
    }
    const QList<Mailbox> boxes = readMailboxes(ini_);
    for (int n = 0; n < kMailboxCount; ++n) {
        Servers[n] = boxes.at(n).server;
        Accounts[n] = boxes.at(n).account;
        Passwords[n] = boxes.at(n).password;
    }

    Check1->setChecked(readInt16(ini_, keys::Startup) == 1); // Loading: no entry is made or removed
    Check2->setChecked(readInt16(ini_, keys::SoundOn) == 1);
    Label16->setText(readString(ini_, keys::WavFile));
    if (parseOptionState(readString(ini_, keys::BeepOption), true))
        Option2[0]->setChecked(true);
    else if (parseOptionState(readString(ini_, keys::WavOption), false))
        Option2[1]->setChecked(true);
    applySoundVisibility();
}

// Saving and closing.

void frmSetKR::WriteSettings() {
    const QPoint twips = placement_.twipsToSave(*this);
    writeValue(ini_, keys::SetLeft, twips.x());
    writeValue(ini_, keys::SetTop, twips.y());

    writeValue(ini_, keys::SmtpServer, Text1->text());
    writeValue(ini_, keys::SenderAddress, Text2->text());
    writeValue(ini_, keys::ShowSeconds, Text3->text());
    writeValue(ini_, keys::MailerPath, Text4->toPlainText());
    writeValue(ini_, keys::SenderName, Text11->text());
    writeValue(ini_, keys::NoticeIcon, Label15->text());

    for (int n = 0; n < kListEntries; ++n) {
        writeValue(ini_, keys::SendAddresses, SendAddresses.at(n), n);
        writeValue(ini_, keys::SendNames, SendNames.at(n), n);
        writeValue(ini_, keys::SendSubjects, SendSubjects.at(n), n);
        writeValue(ini_, keys::ExcludeSenders, ExcludeSenders.at(n), n);
        writeValue(ini_, keys::ExcludeSubjects, ExcludeSubjects.at(n), n);
    }
    for (int n = 0; n < kMailboxCount; ++n) {
        writeValue(ini_, keys::Servers, Servers.at(n), n);
        writeValue(ini_, keys::Accounts, Accounts.at(n), n);
        writeValue(ini_, keys::Passwords, Passwords.at(n), n);
    }

    writeValue(ini_, keys::Startup, Check1->isChecked() ? 1 : 0);
    writeValue(ini_, keys::SoundOn, Check2->isChecked() ? 1 : 0);
    writeValue(ini_, keys::WavFile, Label16->text());
    writeValue(ini_, keys::BeepOption, optionText(Option2[0]->isChecked()));
    writeValue(ini_, keys::WavOption, optionText(Option2[1]->isChecked()));
}

void frmSetKR::Command1_Click() {
    storeMailbox();
    // The focus has already left a list box for this button; storing every box again covers a
    // save that did not come through a click.
    for (const Browser& b : browsers_)
        storeBrowser(b);
    WriteSettings();
    Command2_Click();
}

void frmSetKR::Command2_Click() {
    mainWindow_.restoreNormal();
    close();
}

void frmSetKR::closeEvent(QCloseEvent* event) {
    mainWindow_.restoreNormal();
    mainWindow_.focusStartButtonIfShown();
    event->accept();
}

// Mailbox slots.

void frmSetKR::ShowMailbox() {
    Text5->setText(Servers.at(CurrentBox));
    Text6->setText(Accounts.at(CurrentBox));
    Text7->setText(Passwords.at(CurrentBox));
}

void frmSetKR::storeMailbox() {
    Servers[CurrentBox] = Text5->text();
    Accounts[CurrentBox] = Text6->text();
    Passwords[CurrentBox] = Text7->text();
}

void frmSetKR::Option1_Click(int index) {
    if (Loading || index < 0 || index >= kMailboxCount)
        return;
    storeMailbox();
    CurrentBox = static_cast<qint16>(index);
    ShowMailbox();
}

void frmSetKR::Command8_Click() {
    Text5->clear();
    Text6->clear();
    Text7->clear();
}

// Sound, files, start-up.

void frmSetKR::applySoundVisibility() {
    const SoundVisibility v = soundVisibility(Check2->isChecked(), Option2[1]->isChecked());
    Option2[0]->setVisible(v.options);
    Option2[1]->setVisible(v.options);
    Command7->setVisible(v.wavControls);
    Label16->setVisible(v.wavControls);
}

void frmSetKR::Check2_Click() {
    applySoundVisibility();
}

void frmSetKR::Option2_Click() {
    applySoundVisibility();
}

void frmSetKR::Command7_Click() {
    const QString returned =
        dialogs_.openFile(this, QStringLiteral("WAVファイルを指定してください"), soundFolder(programFolder_),
                          QStringLiteral("実行ファイル(*.wav)|*.wav|"));
    Label16->setText(CommonDialog1.answer(returned));
    Command1->setFocus();
}

void frmSetKR::Command3_Click() {
    // A mail program here is any executable, with or without an extension: the filter keeps its
    // caption but lists every file.
    const QString returned = dialogs_.openFile(
        this, QStringLiteral("メーラーを指定してください。一般に「\\Program Files\\Outlook Express\\msimn.exe」です。"),
        QStringLiteral("/usr/bin"), QStringLiteral("実行ファイル(*.exe)|*|"));
    Text4->setPlainText(CommonDialog1.answer(returned));
    Command1->setFocus();
}

void frmSetKR::Command6_Click() {
    const QString returned = dialogs_.openFile(
        this, QStringLiteral("お知らせアイコンを指定してください。「キャンセル」は初期設定になります。"),
        iconFolder(programFolder_) + u'/', QStringLiteral("アイコンファイル(*.ico)|*.ico|"));
    QString name = CommonDialog2.answer(returned);
    if (name.isEmpty()) {
        name = noticeIconDefault(programFolder_);
        CommonDialog2.keep(name);
    }
    Label15->setText(name);
    Command1->setFocus();
}

void frmSetKR::Check1_Click() {
    if (Loading)
        return;
    // Failures here are silent: the box keeps the state the user gave it.
    const QString folder = SpecialFolderPath(QString::number(kStartupFolder));
    if (folder.isEmpty())
        return;
    if (Check1->isChecked())
        registerAutostart(folder, runningExecutable());
    else
        unregisterAutostart(folder);
}

// List browsers.

frmSetKR::Browser& frmSetKR::browser(int which) {
    return browsers_[which];
}

void frmSetKR::storeBrowser(const Browser& b) {
    const int index = entryNumber(b.number->text()) - 1;
    (*b.firstList)[index] = b.first->text();
    if (b.second)
        (*b.secondList)[index] = b.second->text();
}

void frmSetKR::showBrowserEntry(const Browser& b) {
    const int index = entryNumber(b.number->text()) - 1;
    b.first->setText(b.firstList->at(index));
    if (b.second)
        b.second->setText(b.secondList->at(index));
}

void frmSetKR::moveBrowser(int which, int step) {
    Browser& b = browser(which);
    storeBrowser(b);
    b.number->setText(QString::number(browseStep(entryNumber(b.number->text()), step)));
    showBrowserEntry(b);
    b.first->setFocus();
}

void frmSetKR::Command4_Click(int index) {
    if (index < 0 || index > 3)
        return;
    // Even indexes are "↑" (one up the numbers), odd ones "↓".
    moveBrowser(index / 2, index % 2 == 0 ? +1 : -1);
}

void frmSetKR::Command5_Click(int index) {
    if (index < 0 || index > 3)
        return;
    moveBrowser(2 + index / 2, index % 2 == 0 ? +1 : -1);
}

void frmSetKR::Text8_LostFocus() {
    SendAddresses[entryNumber(Label7->text()) - 1] = Text8->text();
}
void frmSetKR::Text9_LostFocus() {
    SendNames[entryNumber(Label7->text()) - 1] = Text9->text();
}
void frmSetKR::Text10_LostFocus() {
    SendSubjects[entryNumber(Label8->text()) - 1] = Text10->text();
}
void frmSetKR::Text12_LostFocus() {
    ExcludeSenders[entryNumber(Label12->text()) - 1] = Text12->text();
}
void frmSetKR::Text13_LostFocus() {
    ExcludeSubjects[entryNumber(Label13->text()) - 1] = Text13->text();
}

bool frmSetKR::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == Text8)
            Text8_LostFocus();
        else if (watched == Text9)
            Text9_LostFocus();
        else if (watched == Text10)
            Text10_LostFocus();
        else if (watched == Text12)
            Text12_LostFocus();
        else if (watched == Text13)
            Text13_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace korimo
