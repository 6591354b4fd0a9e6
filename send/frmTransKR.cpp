#include "frmTransKR.h"

#include "busyCall.h"
#include "controls.h"
#include "dialogs.h"
#include "iniKeys.h"
#include "mailTransport.h"
#include "mainWindowLink.h"
#include "sendLogic.h"
#include "twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cmath>

namespace korimo {

namespace {

// Restores the pointer and the send button however the send ends.
class SendingGuard {
public:
    SendingGuard(bool& flag, QWidget* button) : flag_(flag), button_(button) {
        flag_ = true;
        button_->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~SendingGuard() {
        QApplication::restoreOverrideCursor();
        button_->setEnabled(true);
        flag_ = false;
    }
    SendingGuard(const SendingGuard&) = delete;
    SendingGuard& operator=(const SendingGuard&) = delete;

private:
    bool& flag_;
    QWidget* button_;
};

QLineEdit* makeText(QWidget* parent, const QString& tip) {
    auto* t = new QLineEdit(parent);
    t->setToolTip(tip);
    return t;
}

} // namespace

frmTransKR::frmTransKR(const ProgramFolders& programFolder, MailTransport& transport, Dialogs& dialogs,
                       MainWindowLink& mainWindow, QWidget* parent)
    : QWidget(parent), programFolder_(programFolder), ini_(programFolder.settings), transport_(transport),
      dialogs_(dialogs), mainWindow_(mainWindow) {
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
}

frmTransKR::~frmTransKR() = default;

void frmTransKR::buildControls() {
    setWindowTitle(QStringLiteral("送信"));
    resize(twipsToPixelsX(*this, 8400), twipsToPixelsY(*this, 6600));

    Label1 = new QLabel(QStringLiteral("SMTPアドレス"), this);
    Text1 = makeText(this, QStringLiteral("設定したSMTPアドレスを表示します"));
    Text1->setEnabled(false);
    Label2 = new QLabel(QStringLiteral("送信者名"), this);
    Text2 = makeText(this, QStringLiteral("送信者名を指定します(変更可)"));
    Label3 = new QLabel(QStringLiteral("送信者アドレス"), this);
    Text3 = makeText(this, QStringLiteral("設定した送信者メールアドレスを表示します"));
    Text3->setEnabled(false);
    Label4 = new QLabel(QStringLiteral("件名"), this);
    Combo1 = new QComboBox(this);
    Combo1->setEditable(true);
    // The subject is what the user typed or picked: no completion from the presets, and pressing
    // Enter does not add the typed text as a twenty-first item.
    Combo1->setCompleter(nullptr);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMaxVisibleItems(20);
    Combo1->setToolTip(QStringLiteral("設定した件名を選択します(変更可)"));
    Label1->setBuddy(Text1);
    Label2->setBuddy(Text2);
    Label3->setBuddy(Text3);
    Label4->setBuddy(Combo1);

    List1 = new QListWidget(this);
    List1->setSelectionMode(QAbstractItemView::MultiSelection);
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    List1->setToolTip(QStringLiteral("設定した送信先を表示。送信先を選択します。"));

    Text4 = new QPlainTextEdit(this);
    Text4->setToolTip(QStringLiteral("本文を入力します"));
    Text4->setTabChangesFocus(true);

    Check2 = new QCheckBox(QStringLiteral("添付"), this);
    Check2->setToolTip(QStringLiteral("添付ファイルがある場合チェックを入れます"));
    Command3 = makeButton(this, QStringLiteral("参照"), QStringLiteral("添付ファイルがある場所を指定します"));
    Command3->setVisible(false);
    Text5 = new QLineEdit(this);
    Text5->setVisible(false);

    Check1 = new QCheckBox(QStringLiteral("送信後閉じる"), this);
    Check1->setToolTip(QStringLiteral("送信後閉じるかそのまま続けるか指定します"));
    Command1 = makeButton(this, QStringLiteral("送信"), QStringLiteral("送信を開始します"));
    Command2 = makeButton(this, QStringLiteral("終了"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Text1, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(Text2, 1, 1);
    grid->addWidget(Label3, 2, 0);
    grid->addWidget(Text3, 2, 1);
    grid->addWidget(Label4, 3, 0);
    grid->addWidget(Combo1, 3, 1);
    grid->addWidget(List1, 0, 2, 4, 1);
    grid->addWidget(Text4, 4, 0, 1, 3);
    auto* attachRow = new QHBoxLayout;
    attachRow->addWidget(Check2);
    attachRow->addWidget(Command3);
    attachRow->addWidget(Text5, 1);
    attachRow->addStretch(0);
    grid->addLayout(attachRow, 5, 0, 1, 3);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(Check1);
    buttonRow->addStretch(1);
    buttonRow->addWidget(Command1);
    buttonRow->addWidget(Command2);
    grid->addLayout(buttonRow, 6, 0, 1, 3);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    grid->setRowStretch(4, 1);
    // Keep the attachment row's height when its button and path are hidden.
    grid->setRowMinimumHeight(5, Text5->sizeHint().height());

    setTabOrder(Text2, Combo1);
    setTabOrder(Combo1, List1);
    setTabOrder(List1, Text4);
    setTabOrder(Text4, Check2);
    setTabOrder(Check2, Command3);
    setTabOrder(Command3, Text5);
    setTabOrder(Text5, Check1);
    setTabOrder(Check1, Command1);
    setTabOrder(Command1, Command2);

    connect(Check2, &QCheckBox::toggled, this, [this] { Check2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

void frmTransKR::Form_Load() {
    LoadSettings();
    // The stored subject (combo1) is not applied: the window opens on the first preset subject.
    Combo1->setCurrentIndex(0);
    Combo1->setEditText(SendSubjects.value(0));
    kVScro(List1);
}

void frmTransKR::LoadSettings() {
    placement_.restore(*this, QPoint(readInt(ini_, keys::TransLeft), readInt16(ini_, keys::TransTop)),
                       sizeHint().expandedTo(size()));
    Text1->setText(readString(ini_, keys::SmtpServer));
    Text2->setText(readString(ini_, keys::SenderName));
    Text3->setText(readString(ini_, keys::SenderAddress));
    Text5->setText(readString(ini_, keys::TransAttachment));
    Check1->setChecked(readInt16(ini_, keys::TransCloseAfterSend) != 0);
    SendAddresses.clear();
    SendNames.clear();
    SendSubjects.clear();
    List1->clear();
    Combo1->clear();
    for (int i = 0; i < keys::SendAddresses.count; ++i) {
        SendAddresses << readString(ini_, keys::SendAddresses, i);
        SendNames << readString(ini_, keys::SendNames, i);
        List1->addItem(SendNames.last());
        SendSubjects << readString(ini_, keys::SendSubjects, i);
        Combo1->addItem(SendSubjects.last());
    }
}

void frmTransKR::SaveSettings() {
    const QPoint twips = placement_.twipsToSave(*this);
    writeValue(ini_, keys::TransLeft, twips.x());
    writeValue(ini_, keys::TransTop, twips.y());
    writeValue(ini_, keys::TransSubject, Combo1->currentText());
    writeValue(ini_, keys::TransCloseAfterSend, Check1->isChecked() ? 1 : 0);
    writeValue(ini_, keys::TransAttachment, Text5->text());
}

void frmTransKR::Check2_Click() {
    const bool on = Check2->isChecked();
    Command3->setVisible(on);
    Text5->setVisible(on);
}

void frmTransKR::Command3_Click() {
    const QString chosen = dialogs_.openFile(this, QStringLiteral("添付ファイルを指定してください。"),
                                             programFolder_.data, QStringLiteral("ファイル(*.*)|*.*|"));
    // Like the old common dialog, a cancel gives back the name chosen before in this window.
    if (!chosen.isEmpty())
        commonDialog1FileName_ = chosen;
    Text5->setText(commonDialog1FileName_);
}

void frmTransKR::Command1_Click() {
    if (sending_)
        return;
    SendForm form;
    form.attach = Check2->isChecked();
    form.attachment = Text5->text();
    form.subject = Combo1->currentText();
    form.body = Text4->toPlainText();
    form.server = Text1->text();
    form.addresses = SendAddresses;
    for (int row = 0; row < List1->count(); ++row)
        form.selected << List1->item(row)->isSelected();
    form.sender = Text3->text();

    const SendValidation v = validateSend(form);
    if (v.check == SendCheck::SubjectEmpty) {
        Combo1->setFocus();
        return;
    }
    if (v.check != SendCheck::Ok) {
        dialogs_.message(this, sendCheckMessage(v.check));
        return;
    }

    std::optional<MailOutcome<Sent>> result;
    {
        SendingGuard guard(sending_, Command1);
        MailTransport& transport = transport_;
        const OutgoingMail mail = v.request;
        result.emplace(busyCall([&transport, mail] { return transport.send(mail); }));
    }
    if (!result->ok()) {
        // The message did not leave, or it may have: keep the body, the attachment and the window.
        dialogs_.message(this, sendFailureText(result->error()));
        return;
    }
    Check2->setChecked(false);
    if (Check1->isChecked()) {
        close();
        return;
    }
    Text4->clear();
    dialogs_.message(this, QStringLiteral("送信終了しました"));
}

void frmTransKR::Command2_Click() {
    // Form_Unload saves the section and restores the main window; nothing to do twice here.
    close();
}

int frmTransKR::kVScro(QListWidget* list) {
    const QFontMetricsF fm(list->font());
    int width = 0;
    for (int row = 0; row < list->count(); ++row) {
        const double w = fm.horizontalAdvance(list->item(row)->text() + u' ');
        if (w > width)
            width = int(std::lround(w));
    }
    // The view's scroll range follows its rows' widths; a row wider than the box brings the bar.
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->doItemsLayout();
    return width;
}

void frmTransKR::closeEvent(QCloseEvent* event) {
    // While send() runs the window stays: the send still refers to it.
    if (sending_) {
        event->ignore();
        return;
    }
    SaveSettings();
    mainWindow_.restoreNormal();
    event->accept();
}

} // namespace korimo
