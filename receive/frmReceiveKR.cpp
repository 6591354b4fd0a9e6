#include "frmReceiveKR.h"

#include "busyCall.h"
#include "controls.h"
#include "dialogs.h"
#include "iniKeys.h"
#include "mainWindowLink.h"
#include "twips.h"
#include "windowPlacement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

namespace korimo {

using namespace receive;

namespace {

const QString kListTip() {
    return QStringLiteral("左の番号をダブルクリックすると本文が表示(取込み)されます");
}

} // namespace

frmReceiveKR::frmReceiveKR(const ProgramFolders& programFolder, MailTransport& transport, Dialogs& dialogs,
                           MainWindowLink& mainWindow, QWidget* parent)
    : QWidget(parent), programFolder_(programFolder), ini_(programFolder.settings), transport_(transport),
      dialogs_(dialogs), mainWindow_(mainWindow) {
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
}

frmReceiveKR::~frmReceiveKR() = default;

void frmReceiveKR::buildControls() {
    setWindowTitle(QStringLiteral("受信"));
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint);

    const QString restoreTip =
        QStringLiteral("フォームのサイズを元に戻す場合は、ボタン等の何もない所をダブルクリックします");

    // The label lies under the folder controls; it is created first so that they cover it.
    Label1 = new QLabel(
        QStringLiteral("※フォーム右肩の「×」は動作しません。終了するときは「終了」クリックして下さい。"), this);
    Label1->setToolTip(restoreTip);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont small = Label1->font();
    small.setPixelSize(std::max(9, twipsToPixelsY(*this, 150)));
    Label1->setFont(small);

    ListView1 = new QTreeWidget(this);
    ListView1->setToolTip(kListTip());
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSortingEnabled(false);
    ListView1->setItemsExpandable(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setColumnCount(0);

    Text1 = new QPlainTextEdit(this);
    Text1->setToolTip(QStringLiteral("テキスト形式です。HTML形式は正確に表示されません。"));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    Command5 = makeButton(this, QStringLiteral("保存"),
                          QStringLiteral("本文を<参照>で指定した場所にテキスト形式で保存します"));
    Command5->setEnabled(false);
    Command1 = makeButton(this, QStringLiteral("削除"), QStringLiteral("リスト内で指定したメールを削除します"));
    Command1->setEnabled(false);
    Check1 = new QCheckBox(QStringLiteral("添付保存"), this);
    Check1->setToolTip(QStringLiteral("添付ファイルを保存するときにチェックを入れます"));
    Command4 = makeButton(this, QStringLiteral("参照"), QStringLiteral("添付ファイルの保存先を指定します"));
    Text2 = new QLineEdit(this);
    Text2->setToolTip(restoreTip);
    Text2->setAttribute(Qt::WA_InputMethodEnabled, false);
    Command2 = makeButton(this, QStringLiteral("終了"));
    Command3 = makeButton(this, QStringLiteral("全削"), QStringLiteral("すべてのメールを削除します"));

    Command5->setGeometry(twipsRect(*this, 120, 120, 615, 375));
    Command1->setGeometry(twipsRect(*this, 840, 120, 855, 375));
    Command3->setGeometry(twipsRect(*this, 1800, 120, 615, 375));
    Command2->setGeometry(twipsRect(*this, 2520, 120, 735, 375));
    Check1->setGeometry(twipsRect(*this, 3360, 240, 1095, 255));
    Command4->setGeometry(twipsRect(*this, 4440, 120, 615, 375));
    Label1->setGeometry(twipsRect(*this, 4440, 120, 3255, 375));
    applyLayout();

    setTabOrder(ListView1, Text1);
    setTabOrder(Text1, Command5);
    setTabOrder(Command5, Command1);
    setTabOrder(Command1, Check1);
    setTabOrder(Check1, Command4);
    setTabOrder(Command4, Text2);
    setTabOrder(Text2, Command2);
    setTabOrder(Command2, Command3);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { ListView1_DblClick(); });
}

void frmReceiveKR::applyLayout() {
    ListView1->setGeometry(twipsRect(*this, 120, 600, layout_.listWidth, 1815));
    Text1->setGeometry(twipsRect(*this, 120, 2520, layout_.bodyWidth, layout_.bodyHeight));
    Text2->setGeometry(twipsRect(*this, 5160, 120, layout_.folderWidth, 375));
}

int frmReceiveKR::outerWidthTwips() const {
    return pixelsToTwipsX(*this, width()) + kFrameWidth;
}
int frmReceiveKR::outerHeightTwips() const {
    return pixelsToTwipsY(*this, height()) + kFrameHeight;
}

void frmReceiveKR::setOuterSizeTwips(int w, int h) {
    resize(std::max(1, twipsToPixelsX(*this, w - kFrameWidth)), std::max(1, twipsToPixelsY(*this, h - kFrameHeight)));
    Form_Resize();
}

QString frmReceiveKR::dataFolderPath() const {
    return dataFolder(programFolder_);
}
QString frmReceiveKR::attachedFilesFolder() const {
    return attachedFilesDefault(programFolder_);
}

QStringList frmReceiveKR::rowKeys() const {
    QStringList keys;
    for (const Row& row : rows_)
        keys << rowKey(row);
    return keys;
}

int frmReceiveKR::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    return selected.isEmpty() ? -1 : ListView1->indexOfTopLevelItem(selected.first());
}

void frmReceiveKR::Form_Load() {
    mailboxChanged_ = false;
    loading_ = true;

    setOuterSizeTwips(readInt(ini_, keys::ReceiveWidth), readInt(ini_, keys::ReceiveHeight));
    placement_.restore(*this, QPoint(readInt(ini_, keys::ReceiveLeft), readInt16(ini_, keys::ReceiveTop)), size());

    Check1->setChecked(readInt16(ini_, keys::ReceiveSaveAttachments) == 1);
    Text2->setText(readString(ini_, keys::ReceiveFolder));

    boxes_ = readMailboxes(ini_);

    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels({QString(), QStringLiteral("件名"), QStringLiteral("送信者"), QStringLiteral("日時")});
    const int widths[] = {300, 2500, 2800, 1800};
    for (int c = 0; c < 4; ++c)
        ListView1->setColumnWidth(c, twipsToPixelsX(*this, widths[c]));
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    if (!Check1->isChecked()) {
        Command4->hide();
        Text2->hide();
    } else {
        // The folder controls cover the label; hiding it keeps its text from showing through the gaps.
        Label1->hide();
    }

    ListMessages();
    loading_ = false;
}

void frmReceiveKR::ListMessages() {
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    ListView1->clear();

    const QString folder = dataFolderPath();
    const QList<MailOutcome<Listing>> listings = busyCall([&] { return transport_.listAll(boxes_, folder); });
    rows_ = rowsOf(listings);
    for (const Row& row : std::as_const(rows_)) {
        const MessageSummary& m = row.summary;
        ListView1->addTopLevelItem(
            new QTreeWidgetItem({QString::number(row.ref.mailbox + 1), m.subject, m.from, m.date}));
    }

    // A mailbox that could not be listed must not look like an empty one.
    failures_ = receive::listingFailures(boxes_, listings);
    setWindowTitle(captionFor(failures_));
    const QString details = failureDetails(failures_);
    ListView1->setToolTip(details.isEmpty() ? kListTip() : plainToolTip(kListTip() + u'\n' + details));

    Command2->setEnabled(true);
    Command1->setEnabled(ListView1->topLevelItemCount() > 0);
}

void frmReceiveKR::ClearAndRelist() {
    Text1->clear();
    Command5->setEnabled(false);
    ListMessages();
    ListView1->setFocus();
}

void frmReceiveKR::Check1_Click() {
    if (loading_)
        return;
    if (Check1->isChecked()) {
        Label1->hide();
        Command4->show();
        Text2->show();
        if (Text2->text().isEmpty())
            Command4_Click();
    } else {
        Label1->show();
        Command4->hide();
        Text2->hide();
    }
}

void frmReceiveKR::Command4_Click() {
    const QString start = readString(ini_, keys::AttachDirectory, attachedFilesFolder());
    const QString chosen = dialogs_.selectFolder(
        QStringLiteral("保存するフォルダを指定して下さい。App.Pathは「キャンセル」をクリックして下さい。"), start);
    Text2->setText(chosen.isEmpty() ? attachedFilesFolder() : chosen);
}

void frmReceiveKR::ListView1_DblClick() {
    const int row = selectedRow();
    if (row < 0 || row >= rows_.size())
        return;
    const MessageRef ref = rows_.at(row).ref;
    const Mailbox box = boxes_.value(ref.mailbox);

    // Attachments are never saved without a folder.
    if (Text2->text().isEmpty())
        Check1->setChecked(false);
    const QString work = Text2->text().isEmpty() ? dataFolderPath() : Text2->text();

    const MailOutcome<QString> saved = busyCall([&] { return transport_.save(box, ref, work); });
    if (!saved.ok()) {
        // Nothing was fetched: say why in the body box, and offer nothing to save.
        Text1->setPlainText(fetchFailureText(saved.error()));
        Command5->setEnabled(false);
        ListView1->setFocus();
        return;
    }
    const QString path = saved.value();
    const bool save = Check1->isChecked();
    const MailOutcome<MailMessage> read = busyCall([&] { return transport_.read(path, save, work); });
    QFile::remove(path);
    if (!read.ok()) {
        Text1->setPlainText(fetchFailureText(read.error()));
        Command5->setEnabled(false);
        ListView1->setFocus();
        return;
    }
    Text1->setPlainText(toDisplayLineEnds(shownBody(read.value())));
    if (const QString note = attachmentMessage(attachmentsOf(read.value(), save)); !note.isEmpty())
        dialogs_.message(this, note);
    if (!Text1->toPlainText().isEmpty()) {
        Command5->setEnabled(true);
        Command1->setEnabled(true);
    }
    ListView1->setFocus();
}

void frmReceiveKR::Command1_Click() {
    if (rows_.isEmpty()) {
        ListMessages();
        return;
    }
    const int row = selectedRow();
    if (row < 0 || row >= rows_.size())
        return;

    Command1->setEnabled(false);
    Command2->setEnabled(false);
    if (dialogs_.question(this, deleteQuestion(rows_.at(row).summary.subject))) {
        const MessageRef ref = rows_.at(row).ref;
        const Mailbox box = boxes_.value(ref.mailbox);
        // The transport deletes only the message listed under that number.
        const MailOutcome<Done> deleted = busyCall([&] { return transport_.remove(box, ref); });
        if (deleted.ok()) {
            mailboxChanged_ = true;
            ClearAndRelist();
        } else {
            // Refused, failed or left uncertain: the user is told why, and the list stays unless it is stale.
            dialogs_.message(this, deletionFailure(deleted.error()));
            if (deleted.error().kind == MailErrorKind::MailboxChanged)
                ClearAndRelist();
        }
    }
    Command1->setEnabled(true);
    Command2->setEnabled(true);
    ListView1->setFocus();
}

void frmReceiveKR::Command3_Click() {
    if (rows_.isEmpty()) {
        ListMessages();
        return;
    }
    if (dialogs_.question(this, deleteAllQuestion())) {
        for (QWidget* w : std::initializer_list<QWidget*>{Command1, Command2, Command3, ListView1})
            w->setEnabled(false);
        // What the user saw when agreeing; mail arriving meanwhile is listed after it and kept.
        QStringList pending = rowKeys();
        while (!rows_.isEmpty()) {
            const QStringList keys = rowKeys();
            const int row = firstPending(keys, pending);
            if (row < 0)
                break;
            const MessageRef ref = rows_.at(row).ref;
            const Mailbox box = boxes_.value(ref.mailbox);
            const MailOutcome<Done> deleted = busyCall([&] { return transport_.remove(box, ref); });
            if (!deleted.ok()) {
                dialogs_.message(this, deletionFailure(deleted.error()));
                if (deleted.error().kind == MailErrorKind::MailboxChanged)
                    ListMessages();
                break;
            }
            mailboxChanged_ = true;
            pending.removeOne(keys.at(row));
            ListMessages();
            // The listing enabled these again; they stay off until the loop ends.
            Command1->setEnabled(false);
            Command2->setEnabled(false);
            // A deletion that left its message listed would be asked for again and again.
            if (rowKeys().count(keys.at(row)) >= keys.count(keys.at(row))) {
                dialogs_.message(this, deleteAllStuckText(ref.mailbox));
                break;
            }
        }
    }
    for (QWidget* w : std::initializer_list<QWidget*>{Command1, Command2, Command3, ListView1})
        w->setEnabled(true);
    ListView1->setFocus();
}

void frmReceiveKR::Command5_Click() {
    if (Text1->toPlainText().isEmpty())
        return;
    const int row = selectedRow();
    if (row < 0)
        return;
    const QString subject = ListView1->topLevelItem(row)->text(1);
    saveFileName_ =
        dialogs_.saveFile(this, QStringLiteral("保存する場所を指定してください"), attachedFilesFolder() + u'/',
                          proposedFileName(subject), QStringLiteral("テキストファイル(*.txt)|*.txt|"));
    if (saveFileName_.isEmpty())
        return; // cancelled: nothing is written

    const BodyBytes body = encodeBody(Text1->toPlainText());
    QByteArray bytes = body.cp932;
    if (!body.unencodable.isEmpty()) {
        // Shift_JIS cannot hold every character: the whole body goes as UTF-8, or nothing is written.
        if (!dialogs_.question(this, utf8Question(body.unencodable)))
            return;
        bytes = body.utf8;
    }
    const QString failure = writeFileAtomically(saveFileName_, bytes);
    if (!failure.isEmpty()) {
        dialogs_.message(this, saveFailedText(saveFileName_, failure));
        return;
    }
    Text1->clear();
    ClearAndRelist();
}

void frmReceiveKR::Command2_Click() {
    closingByCode_ = true;
    if (!close())
        closingByCode_ = false;
}

void frmReceiveKR::Form_DblClick() {
    if (isMaximized())
        showNormal();
    setOuterSizeTwips(kDefaultWidth, kDefaultHeight);
}

void frmReceiveKR::Form_Resize() {
    layout_ = applyResize(layout_, outerWidthTwips(), outerHeightTwips());
    applyLayout();
}

void frmReceiveKR::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmReceiveKR::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    // Only the window's own background: a label or a disabled button hands its double-click on to
    // the window, and that is no double-click on the background.
    if (childAt(event->position().toPoint()))
        return;
    Form_DblClick();
}

void frmReceiveKR::closeEvent(QCloseEvent* event) {
    // Form_QueryUnload: only "終了" closes this window; every other way is refused without a word.
    if (!closingByCode_) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmReceiveKR::Form_Unload() {
    const QPoint twips = placement_.twipsToSave(*this);
    writeValue(ini_, keys::ReceiveLeft, twips.x());
    writeValue(ini_, keys::ReceiveTop, twips.y());
    writeValue(ini_, keys::ReceiveSaveAttachments, Check1->isChecked() ? 1 : 0);
    writeValue(ini_, keys::ReceiveFolder, Text2->text());
    writeValue(ini_, keys::ReceiveWidth, outerWidthTwips());
    writeValue(ini_, keys::ReceiveHeight, outerHeightTwips());

    mainWindow_.restoreNormal();
    mainWindow_.setStatusLine(statusLineAfterClose(mailboxChanged_, ListView1->topLevelItemCount()));
    mainWindow_.focusStartButtonIfShown();
}

} // namespace korimo
