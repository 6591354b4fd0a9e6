// The receive window driven headless: the scripted transport answers, scripted dialogs answer for
// the user, and a recording main window notes what the window does to it when it closes.
#include "dialogs.h"
#include "fakeMailTransport.h"
#include "frmReceiveKR.h"
#include "iniKeys.h"
#include "recordingMainWindow.h"
#include "testFiles.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace korimo;

namespace {

// A summary record as the transport lays it out: keyword, separator, value, one blank, ...
QString rec(const QString& subject, const QString& from = "sender@example.jp") {
    return "Subject:" + subject + " From:" + from + " Date: Mon, 7 Dec 2026 10:00:00 +0900";
}

QStringList recs(const QString& prefix, int n) {
    QStringList out;
    for (int i = 1; i <= n; ++i)
        out << rec(prefix + QString::number(i));
    return out;
}

// Servers that list as usual but answer a deletion with a fixed text and delete nothing.
class StubbornTransport : public FakeMailTransport {
public:
    QHash<QString, QString> deleteAnswers; // by server
    MailResult RcvMail2(const QString& server, const QString& account, const QString& password, const QString& command,
                        const QString& folder) override {
        if (command.startsWith("DELE ") && deleteAnswers.contains(server)) {
            FakeMailTransport::RcvMail2(server, account, password, "NOOP", folder); // recorded, changes nothing
            return MailResult::text(deleteAnswers.value(server));
        }
        return FakeMailTransport::RcvMail2(server, account, password, command, folder);
    }
};

// Delivers one more message to s1 right after the first deletion.
class ArrivingTransport : public FakeMailTransport {
public:
    QString arrival;
    MailResult RcvMail2(const QString& server, const QString& account, const QString& password, const QString& command,
                        const QString& folder) override {
        const MailResult r = FakeMailTransport::RcvMail2(server, account, password, command, folder);
        if (command.startsWith("DELE ") && !arrival.isEmpty()) {
            Box b = box("s1");
            b.summaries << arrival;
            setBox("s1", b);
            arrival.clear();
        }
        return r;
    }
};

} // namespace

class TestFrmReceive : public QObject {
    Q_OBJECT

    QTemporaryDir* dir_ = nullptr;
    FakeMailTransport* fake_ = nullptr;
    ScriptedDialogs* dialogs_ = nullptr;
    RecordingMainWindow* main_ = nullptr;
    QPointer<frmReceiveKR> w_;

    QString folder() const { return dir_->path(); }
    IniFile ini() const { return IniFile(folder()); }

    // Mailbox slot i (0 to 4) configured as server "s<i+1>" with password "p<i+1>" holding the records.
    void mailbox(int i, const QStringList& summaries, FakeMailTransport* t = nullptr) {
        const QString n = QString::number(i + 1);
        QVERIFY(writeValue(ini(), keys::Servers, "s" + n, i));
        QVERIFY(writeValue(ini(), keys::Accounts, "u" + n, i));
        QVERIFY(writeValue(ini(), keys::Passwords, "p" + n, i));
        (t ? t : fake_)->setBox("s" + n, {"p" + n, summaries, {}, {}});
    }

    frmReceiveKR* open(FakeMailTransport* t = nullptr) {
        w_ = new frmReceiveKR(folder(), t ? *t : *fake_, *dialogs_, *main_);
        w_->Form_Load();
        return w_;
    }

    QStringList rows() const {
        QStringList out;
        for (int i = 0; i < w_->ListView1->topLevelItemCount(); ++i)
            out << w_->ListView1->topLevelItem(i)->text(0);
        return out;
    }

    void select(int row) { w_->ListView1->setCurrentItem(w_->ListView1->topLevelItem(row)); }

    // The commands of one kind the transport received, as "server command".
    QStringList sent(const QString& op, FakeMailTransport* t = nullptr) const {
        QStringList out;
        for (const auto& c : (t ? t : fake_)->calls())
            if (c.op == op)
                out << c.args.value(0) + " " + c.args.value(3);
        return out;
    }

private slots:
    void init() {
        dir_ = new QTemporaryDir;
        QVERIFY(dir_->isValid());
        QDir(folder()).mkpath("DATA");
        QDir(folder()).mkpath("AttachedFiles");
        fake_ = new FakeMailTransport;
        dialogs_ = new ScriptedDialogs;
        main_ = new RecordingMainWindow;
    }
    void cleanup() {
        delete w_.data();
        delete main_;
        delete dialogs_;
        delete fake_;
        delete dir_;
    }

    void noMailboxGivesAnEmptyList() {
        open();
        QCOMPARE(w_->ListView1->topLevelItemCount(), 0);
        QVERIFY(!w_->Command1->isEnabled());
        QVERIFY(w_->Command2->isEnabled());
        QVERIFY(!w_->Command5->isEnabled());
        QCOMPARE(w_->windowTitle(), QStringLiteral("受信"));
        QVERIFY(dialogs_->shown.isEmpty());
        QCOMPARE(w_->ListView1->columnCount(), 4);
        QCOMPARE(w_->ListView1->headerItem()->text(1), QStringLiteral("件名"));
        QCOMPARE(w_->ListView1->headerItem()->text(3), QStringLiteral("日時"));
    }

    void rowsComeInMailboxOrder() {
        mailbox(3, {rec("d1"), rec("d2")});
        mailbox(1, {rec("b1"), rec("b2"), rec("b3")});
        open();
        QCOMPARE(rows(), (QStringList{"2", "2", "2", "4", "4"}));
        QCOMPARE(w_->ListView1->topLevelItem(3)->text(1), "d1");
        QCOMPARE(w_->ListView1->topLevelItem(3)->text(2), "sender@example.jp");
        QCOMPARE(w_->ListView1->topLevelItem(3)->text(3), "Mon, 7 Dec 2026 10:00:00 +0900");
        QVERIFY(w_->Command1->isEnabled());
        // Only configured mailboxes are asked, each with the data folder.
        QCOMPARE(sent("RcvMail2"), (QStringList{"s2 LIST", "s4 LIST"}));
        for (const auto& c : fake_->calls())
            QCOMPARE(c.args.value(4), folder() + "/DATA");
    }

    void failedMailboxIsNamedButListsNothing() {
        mailbox(0, {rec("a1")});
        mailbox(2, {rec("c1")});
        fake_->setBox("s3", {"p3", {rec("c1")}, {}, "-ERR [AUTH] Authentication failed."});
        open();
        QCOMPARE(rows(), QStringList{"1"});
        QVERIFY(w_->windowTitle().startsWith(QStringLiteral("受信")));
        QVERIFY(w_->windowTitle().contains("3"));
        QVERIFY(w_->ListView1->toolTip().contains("Authentication failed"));
        QCOMPARE(w_->listingFailures().size(), 1);
        // Once the mailbox answers again the note goes.
        fake_->setBox("s3", {"p3", {rec("c1")}, {}, {}});
        w_->ClearAndRelist();
        QCOMPARE(rows(), (QStringList{"1", "3"}));
        QCOMPARE(w_->windowTitle(), QStringLiteral("受信"));
        QVERIFY(!w_->ListView1->toolTip().contains("Authentication failed"));
    }

    void loadRestoresPlaceAndOptions() {
        QVERIFY(writeValue(ini(), keys::ReceiveLeft, 1500));
        QVERIFY(writeValue(ini(), keys::ReceiveTop, 900));
        QVERIFY(writeValue(ini(), keys::ReceiveWidth, 9000));
        QVERIFY(writeValue(ini(), keys::ReceiveHeight, 7005));
        QVERIFY(writeValue(ini(), keys::ReceiveSaveAttachments, 1));
        open();
        // check1 = 1 with an empty folder: no folder picker while loading.
        QVERIFY(w_->Check1->isChecked());
        QVERIFY(dialogs_->shown.isEmpty());
        QVERIFY(!w_->Command4->isHidden());
        QVERIFY(!w_->Text2->isHidden());
        QCOMPARE(w_->pos(), QPoint(100, 60));
        QCOMPARE(w_->outerWidthTwips(), 9000);
        QCOMPARE(w_->outerHeightTwips(), 7005);
        QCOMPARE(w_->layoutTwips(), (receive::Layout{8700, 8700, 3600, 3915}));
        QVERIFY(!w_->Loading);
    }

    void defaultsHideTheFolderControls() {
        open();
        QVERIFY(!w_->Check1->isChecked());
        QVERIFY(w_->Command4->isHidden());
        QVERIFY(w_->Text2->isHidden());
        QVERIFY(!w_->Label1->isHidden());
        QCOMPARE(w_->outerWidthTwips(), 7845);
        QCOMPARE(w_->outerHeightTwips(), 6105);
        QCOMPARE(w_->layoutTwips(), (receive::Layout{7545, 7545, 2445, 3015}));
    }

    void tickingAsksForAFolder() {
        open();
        dialogs_->folders.enqueue(QString()); // cancelled
        w_->Check1->setChecked(true);
        QCOMPARE(dialogs_->shown.size(), 1);
        QCOMPARE(dialogs_->shown.first().kind, "selectFolder");
        QCOMPARE(dialogs_->shown.first().text,
                 QStringLiteral("保存するフォルダを指定して下さい。App.Pathは「キャンセル」をクリックして下さい。"));
        QCOMPARE(dialogs_->shown.first().startFolder, folder() + "/AttachedFiles");
        QCOMPARE(w_->Text2->text(), folder() + "/AttachedFiles");
        QVERIFY(w_->Label1->isHidden());
        // Unticking hides the box but keeps its text; ticking again with a folder asks nothing.
        w_->Check1->setChecked(false);
        QVERIFY(w_->Text2->isHidden());
        QVERIFY(!w_->Label1->isHidden());
        QCOMPARE(w_->Text2->text(), folder() + "/AttachedFiles");
        w_->Check1->setChecked(true);
        QCOMPARE(dialogs_->shown.size(), 1);
        // The picker starts at the stored Directory when there is one, and its choice is taken.
        QVERIFY(writeValue(ini(), keys::AttachDirectory, "/srv/files"));
        dialogs_->folders.enqueue("/home/u/mail");
        w_->Command4_Click();
        QCOMPARE(dialogs_->shown.last().startFolder, "/srv/files");
        QCOMPARE(w_->Text2->text(), "/home/u/mail");
        QCOMPARE(w_->AttachFolder, "/home/u/mail");
    }

    void readFetchesTheRightMessage_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fifth row") << 4 << "s4 SAVE 3";
        QTest::newRow("first row") << 0 << "s2 SAVE 1";
        QTest::newRow("third row") << 2 << "s4 SAVE 1";
    }
    void readFetchesTheRightMessage() {
        QFETCH(int, row);
        QFETCH(QString, expected);
        mailbox(1, recs("b", 2));
        mailbox(3, recs("d", 3));
        open();
        QCOMPARE(rows(), (QStringList{"2", "2", "4", "4", "4"}));
        fake_->clearCalls();
        select(row);
        w_->ListView1_DblClick();
        QCOMPARE(sent("RcvMail"), QStringList{expected});
        const auto calls = fake_->calls();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(0).args.value(4), folder() + "/DATA"); // no folder box: the data folder
        QCOMPARE(calls.at(1).op, "ReadMail");
        QCOMPARE(calls.at(1).args.value(1), "subject:from:date:nofile:");
        // The fake hands back the record as the message: its text is the body.
        QCOMPARE(w_->Text1->toPlainText(), rec(w_->ListView1->topLevelItem(row)->text(1)));
        QVERIFY(w_->Command5->isEnabled());
        QVERIFY(w_->Command1->isEnabled());
        // The fetched file is gone, and the read changed nothing on the server.
        QVERIFY(!QFile::exists(calls.at(1).args.value(0)));
        QCOMPARE(QDir(folder() + "/DATA").entryList(QDir::Files), QStringList());
        QCOMPARE(fake_->box("s4").summaries.size(), 3);
    }

    void attachmentsSavedAreAnnouncedOnce() {
        mailbox(0, {rec("a")});
        QVERIFY(writeValue(ini(), keys::ReceiveSaveAttachments, 1));
        QVERIFY(writeValue(ini(), keys::ReceiveFolder, folder() + "/AttachedFiles"));
        fake_->readMail = [](const QString&, const QString&, const QString&) {
            return MailResult::array({"Subject: a", "File: one.pdf", "File: two.png", "Body: 本文です"});
        };
        open();
        select(0);
        w_->ListView1_DblClick();
        QCOMPARE(dialogs_->messages(), QStringList{QStringLiteral("添付ファイルを保存しました")});
        const auto calls = fake_->calls();
        QCOMPARE(calls.at(calls.size() - 2).args.value(4), folder() + "/AttachedFiles");
        QCOMPARE(calls.last().args.value(1), "subject:from:date:");
        QCOMPARE(calls.last().args.value(2), folder() + "/AttachedFiles");
        QCOMPARE(w_->Text1->toPlainText(), QStringLiteral("本文です"));
        QCOMPARE(QDir(folder() + "/AttachedFiles").entryList(QDir::Files), QStringList()); // fetched file removed
    }

    void attachmentsNotSavedAreMentioned() {
        mailbox(0, {rec("a")});
        fake_->readMail = [](const QString&, const QString&, const QString&) {
            return MailResult::array({"File: one.pdf", "Body: x\r\ny"});
        };
        open();
        select(0);
        w_->ListView1_DblClick();
        QCOMPARE(dialogs_->messages(), QStringList{QStringLiteral("添付ファイルがあります。")});
        QCOMPARE(w_->Text1->toPlainText(), "x\ny");
    }

    void emptiedFolderSwitchesSavingOff() {
        mailbox(0, {rec("a")});
        QVERIFY(writeValue(ini(), keys::ReceiveSaveAttachments, 1));
        QVERIFY(writeValue(ini(), keys::ReceiveFolder, "/somewhere"));
        open();
        w_->Text2->clear();
        select(0);
        w_->ListView1_DblClick();
        QVERIFY(!w_->Check1->isChecked());
        QVERIFY(!w_->Label1->isHidden());
        QVERIFY(w_->Text2->isHidden());
        const auto calls = fake_->calls();
        QCOMPARE(calls.at(calls.size() - 2).args.value(4), folder() + "/DATA");
        QCOMPARE(calls.last().args.value(1), "subject:from:date:nofile:");
        QVERIFY(dialogs_->shown.isEmpty()); // no folder picker on the way
    }

    void failedFetchShowsWhyAndStops() {
        mailbox(0, {rec("a"), rec("b")});
        open();
        // A first read fills the body box and enables "保存".
        select(0);
        w_->ListView1_DblClick();
        QVERIFY(w_->Command5->isEnabled());
        fake_->setBox("s1", {"p1", {rec("a"), rec("b")}, {}, "-ERR connection refused"});
        fake_->clearCalls();
        select(1);
        w_->ListView1_DblClick();
        QCOMPARE(sent("RcvMail"), QStringList{"s1 SAVE 2"});
        QVERIFY(sent("ReadMail").isEmpty());
        QVERIFY(w_->Text1->toPlainText().contains("-ERR connection refused"));
        QVERIFY(!w_->Command5->isEnabled());
        QVERIFY(dialogs_->shown.isEmpty());
        // The window stays usable: a later read works.
        fake_->setBox("s1", {"p1", {rec("a"), rec("b")}, {}, {}});
        w_->ListView1_DblClick();
        QCOMPARE(w_->Text1->toPlainText(), rec("b"));
    }

    void deleteSendsTheRightNumber() {
        mailbox(0, {rec("a")});
        mailbox(2, {rec("c1"), rec("c2")});
        open();
        QCOMPARE(rows(), (QStringList{"1", "3", "3"}));
        select(0);
        w_->ListView1_DblClick();
        QVERIFY(!w_->Text1->toPlainText().isEmpty());
        fake_->clearCalls();
        select(2);
        dialogs_->answers.enqueue(true);
        w_->Command1_Click();
        QCOMPARE(dialogs_->shown.last().text, QStringLiteral("「c2」\r\n　をメールボックスから削除します"));
        // The mailbox is listed once more to make sure message 2 is still the chosen one.
        QCOMPARE(sent("RcvMail2"), (QStringList{"s3 LIST", "s3 DELE 2", "s1 LIST", "s3 LIST"}));
        QCOMPARE(fake_->box("s3").summaries, QStringList{rec("c1")});
        QCOMPARE(rows(), (QStringList{"1", "3"}));
        QCOMPARE(w_->MailboxChanged, qint16(1));
        QVERIFY(w_->Text1->toPlainText().isEmpty());
        QVERIFY(!w_->Command5->isEnabled());
        QVERIFY(w_->Command1->isEnabled());
        QVERIFY(w_->Command2->isEnabled());
    }

    void answeringNoChangesNothing() {
        mailbox(0, recs("a", 2));
        open();
        fake_->clearCalls();
        select(1);
        w_->Command1_Click(); // the scripted answer is No
        QCOMPARE(dialogs_->shown.size(), 1);
        dialogs_->answers.enqueue(false);
        w_->Command3_Click();
        QCOMPARE(dialogs_->shown.size(), 2);
        QCOMPARE(dialogs_->shown.last().text, QStringLiteral("メールボックスからすべてのメールを削除します"));
        QVERIFY(fake_->calls().isEmpty());
        QCOMPARE(w_->MailboxChanged, qint16(0));
        QVERIFY(w_->Command1->isEnabled());
        QVERIFY(w_->Command2->isEnabled());
        QVERIFY(w_->Command3->isEnabled());
        QVERIFY(w_->ListView1->isEnabled());
    }

    // Whatever the transport's text says, only a committed deletion counts: the rest is told to the
    // user, the list stays, and the main window's status line keeps its count.
    void failedDeletionKeepsTheList_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("told");
        QTest::newRow("refused login") << FakeMailTransport::refusal() << QStringLiteral("　パスワードが一致しません");
        QTest::newRow("refused deletion") << "-ERR no such message"
                                          << "-ERR no such message";
        QTest::newRow("session broke before QUIT")
            << QStringLiteral("接続が切れました。削除は確定していません") << QStringLiteral("削除は確定していません");
        QTest::newRow("refusal quoting success")
            << QStringLiteral("-ERR メール 1 を削除しました") << QStringLiteral("-ERR メール 1 を削除しました");
    }
    void failedDeletionKeepsTheList() {
        QFETCH(QString, answer);
        QFETCH(QString, told);
        StubbornTransport t;
        t.deleteAnswers.insert("s1", answer);
        mailbox(0, recs("a", 2), &t);
        open(&t);
        t.clearCalls();
        w_->Text1->setPlainText("shown body");
        select(1);
        dialogs_->answers.enqueue(true);
        w_->Command1_Click();
        QCOMPARE(sent("RcvMail2", &t), (QStringList{"s1 LIST", "s1 NOOP"})); // the failed DELE
        QCOMPARE(dialogs_->messages().size(), 1);
        QVERIFY2(dialogs_->messages().first().contains(told), qPrintable(dialogs_->messages().first()));
        QCOMPARE(rows(), (QStringList{"1", "1"}));
        QCOMPARE(w_->Text1->toPlainText(), "shown body");
        QCOMPARE(w_->MailboxChanged, qint16(0));
        QVERIFY(w_->Command1->isEnabled());
        QVERIFY(w_->Command2->isEnabled());
        w_->Command2_Click();
        QCOMPARE(main_->statusLines.value(0), QStringLiteral("　2通メールがあります"));
    }

    void refusedLoginSendsNoDeletion() {
        mailbox(0, recs("a", 2));
        open();
        w_->Passwords[0] = "wrong";
        fake_->clearCalls();
        select(0);
        dialogs_->answers.enqueue(true);
        w_->Command1_Click();
        QCOMPARE(sent("RcvMail2"), QStringList{"s1 LIST"});
        QCOMPARE(dialogs_->messages(), QStringList{QStringLiteral("　パスワードが一致しません")});
        QCOMPARE(fake_->box("s1").summaries.size(), 2);
    }

    // Another program removed message 1 after the list was fetched: "DELE 2" would now remove
    // the message after the chosen one.
    void changedMailboxIsNotDeletedFrom() {
        mailbox(0, {rec("a1"), rec("a2"), rec("a3")});
        open();
        fake_->setBox("s1", {"p1", {rec("a2"), rec("a3")}, {}, {}});
        fake_->clearCalls();
        select(1); // a2, message 2 when listed, message 1 now
        dialogs_->answers.enqueue(true);
        w_->Command1_Click();
        QVERIFY(sent("RcvMail2").filter("DELE").isEmpty());
        QCOMPARE(fake_->box("s1").summaries, (QStringList{rec("a2"), rec("a3")}));
        QCOMPARE(dialogs_->messages().size(), 1);
        QCOMPARE(w_->MailboxChanged, qint16(0));
        // The list now shows the mailbox as it is; deleting a2 again hits the right message.
        QCOMPARE(w_->ListView1->topLevelItem(0)->text(1), "a2");
        select(0);
        dialogs_->answers.enqueue(true);
        w_->Command1_Click();
        QCOMPARE(fake_->box("s1").summaries, QStringList{rec("a3")});
    }

    void unreachableMailboxIsNotDeletedFrom() {
        mailbox(0, recs("a", 2));
        open();
        fake_->setBox("s1", {"p1", recs("a", 2), {}, "-ERR timed out"});
        select(0);
        dialogs_->answers.enqueue(true);
        w_->Command1_Click();
        QVERIFY(sent("RcvMail2").filter("DELE").isEmpty());
        QCOMPARE(dialogs_->messages().size(), 1);
        QVERIFY(dialogs_->messages().first().contains("-ERR timed out"));
        QCOMPARE(rows(), (QStringList{"1", "1"}));
        QVERIFY(w_->Command1->isEnabled());
    }

    void emptyListRefetchesWithoutAsking() {
        mailbox(0, {});
        mailbox(1, {});
        open();
        fake_->setBox("s2", {"p2", {rec("b")}, {}, {}}); // mail arrives after the window opened
        w_->Command1_Click();
        QCOMPARE(rows(), QStringList{"2"});
        fake_->setBox("s1", {"p1", {rec("a")}, {}, {}});
        w_->ListView1->clear();
        w_->Command3_Click();
        QCOMPARE(rows(), (QStringList{"1", "2"}));
        QVERIFY(dialogs_->shown.isEmpty());
        QVERIFY(sent("RcvMail2").filter("DELE").isEmpty());
    }

    void noSelectedRowDoesNothing() {
        mailbox(0, recs("a", 2));
        open();
        w_->Text1->setPlainText("typed"); // even with text in the body box
        w_->ListView1->clearSelection();
        fake_->clearCalls();
        w_->ListView1_DblClick();
        w_->Command1_Click();
        w_->Command5_Click();
        QVERIFY(fake_->calls().isEmpty());
        QVERIFY(dialogs_->shown.isEmpty());
        QCOMPARE(w_->Text1->toPlainText(), "typed");
        QVERIFY(w_->Command1->isEnabled());
        QVERIFY(w_->Command2->isEnabled());
    }

    void deleteAllEmptiesMailboxesInOrder() {
        mailbox(0, recs("a", 2));
        mailbox(1, {rec("b")});
        open();
        QCOMPARE(rows(), (QStringList{"1", "1", "2"}));
        fake_->clearCalls();
        dialogs_->answers.enqueue(true);
        w_->Command3_Click();
        QCOMPARE(sent("RcvMail2"), (QStringList{"s1 DELE 1", "s1 LIST", "s2 LIST", "s1 DELE 1", "s1 LIST", "s2 LIST",
                                                "s2 DELE 1", "s1 LIST", "s2 LIST"}));
        QCOMPARE(w_->ListView1->topLevelItemCount(), 0);
        QCOMPARE(w_->MailboxChanged, qint16(1));
        QCOMPARE(dialogs_->messages(), QStringList());
        QVERIFY(w_->Command1->isEnabled());
        QVERIFY(w_->Command2->isEnabled());
        QVERIFY(w_->Command3->isEnabled());
        QVERIFY(w_->ListView1->isEnabled());
    }

    void deleteAllStopsAtARefusal() {
        StubbornTransport t;
        t.deleteAnswers.insert("s2", FakeMailTransport::refusal());
        mailbox(0, {rec("a")}, &t);
        mailbox(1, {rec("b")}, &t);
        mailbox(2, {rec("c")}, &t);
        open(&t);
        t.clearCalls();
        dialogs_->answers.enqueue(true);
        w_->Command3_Click();
        QCOMPARE(sent("RcvMail2", &t).filter(QRegularExpression("DELE|NOOP")), (QStringList{"s1 DELE 1", "s2 NOOP"}));
        QCOMPARE(dialogs_->messages(), QStringList{QStringLiteral("　パスワードが一致しません")});
        QCOMPARE(rows(), (QStringList{"2", "3"})); // mailbox 3 is left alone too
        QCOMPARE(w_->MailboxChanged, qint16(1));   // the first deletion stays
    }

    void deleteAllEndsWhenNothingGoes() {
        StubbornTransport stubborn;
        stubborn.deleteAnswers.insert("s1", "+OK but not really");
        mailbox(0, recs("a", 3), &stubborn);
        open(&stubborn);
        stubborn.clearCalls();
        dialogs_->answers.enqueue(true);
        w_->Command3_Click();
        QCOMPARE(sent("RcvMail2", &stubborn).filter("NOOP").size(), 1); // asked once, not forever
        QCOMPARE(dialogs_->messages().size(), 1);
        QVERIFY(dialogs_->messages().first().contains("+OK but not really"));
        QCOMPARE(rows().size(), 3);
        QVERIFY(w_->Command3->isEnabled());
        QVERIFY(w_->ListView1->isEnabled());
        delete w_.data(); // before the transport it holds goes
    }

    // Mail that arrives while "全削" runs was never shown to the user: it stays.
    void deleteAllKeepsMailArrivingMeanwhile() {
        ArrivingTransport t;
        mailbox(0, {rec("a1"), rec("a2")}, &t);
        mailbox(1, {rec("b1")}, &t);
        t.arrival = rec("new");
        open(&t);
        t.clearCalls();
        dialogs_->answers.enqueue(true);
        w_->Command3_Click();
        QCOMPARE(sent("RcvMail2", &t).filter("DELE"), (QStringList{"s1 DELE 1", "s1 DELE 1", "s2 DELE 1"}));
        QCOMPARE(t.box("s1").summaries, QStringList{rec("new")});
        QCOMPARE(t.box("s2").summaries, QStringList());
        QCOMPARE(rows(), QStringList{"1"});
        QVERIFY(dialogs_->messages().isEmpty());
        delete w_.data();
    }

    void savingABodyWritesCp932WithCrLf() {
        mailbox(0, {rec("会議/議事録")});
        fake_->readMail = [](const QString&, const QString&, const QString&) {
            return MailResult::array({"Body: 議事録\r\n①確認 C:\\tmp"});
        };
        open();
        select(0);
        w_->ListView1_DblClick();
        const QString target = folder() + "/AttachedFiles/out.txt";
        dialogs_->files.enqueue(target);
        fake_->clearCalls();
        w_->Command5_Click();
        const auto& d = dialogs_->shown.last();
        QCOMPARE(d.kind, "saveFile");
        QCOMPARE(d.text, QStringLiteral("保存する場所を指定してください"));
        QCOMPARE(d.startFolder, folder() + "/AttachedFiles/");
        QCOMPARE(d.extra, QStringLiteral("会議／議事録.txt"));
        QCOMPARE(readFile(target), QByteArray("\x8b\x63\x8e\x96\x98\x5e\r\n\x87\x40\x8a\x6d\x94\x46 C:\\tmp\r\n"));
        QCOMPARE(w_->CommonDialog1FileName, target);
        QVERIFY(w_->Text1->toPlainText().isEmpty());
        QVERIFY(!w_->Command5->isEnabled());
        QCOMPARE(sent("RcvMail2"), QStringList{"s1 LIST"}); // listed again
    }

    void cancelledSaveWritesNothing() {
        mailbox(0, {rec("a")});
        open();
        select(0);
        w_->ListView1_DblClick();
        const QStringList before = QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        w_->Command5_Click(); // the scripted dialog cancels
        QCOMPARE(dialogs_->shown.last().kind, "saveFile");
        QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QCOMPARE(QDir(folder() + "/AttachedFiles").entryList(QDir::Files), QStringList());
        QCOMPARE(w_->Text1->toPlainText(), rec("a")); // the body stays
        QVERIFY(w_->Command5->isEnabled());
    }

    void bodyBeyondShiftJisAsksBeforeUtf8() {
        mailbox(0, {rec("a")});
        fake_->readMail = [](const QString&, const QString&, const QString&) {
            return MailResult::array({QString::fromUtf8("Body: 𠮷野家で \xF0\x9F\x8D\xA3")});
        };
        open();
        select(0);
        w_->ListView1_DblClick();
        const QString target = folder() + "/AttachedFiles/sushi.txt";
        // No: nothing is written and the body stays.
        dialogs_->files.enqueue(target);
        dialogs_->answers.enqueue(false);
        w_->Command5_Click();
        QCOMPARE(dialogs_->shown.last().kind, "question");
        QVERIFY(dialogs_->shown.last().text.contains(QString::fromUtf8("𠮷")));
        QVERIFY(!QFile::exists(target));
        QVERIFY(!w_->Text1->toPlainText().isEmpty());
        // Yes: the whole body as UTF-8 with a byte-order mark, nothing lost.
        dialogs_->files.enqueue(target);
        dialogs_->answers.enqueue(true);
        w_->Command5_Click();
        QCOMPARE(readFile(target),
                 QByteArray("\xEF\xBB\xBF") + QString::fromUtf8("𠮷野家で \xF0\x9F\x8D\xA3\r\n").toUtf8());
    }

    void unwritableTargetIsReported() {
        mailbox(0, {rec("a")});
        open();
        select(0);
        w_->ListView1_DblClick();
        const QString target = folder() + "/AttachedFiles/missing/out.txt";
        dialogs_->files.enqueue(target);
        w_->Command5_Click();
        QCOMPARE(dialogs_->messages().size(), 1);
        QVERIFY(dialogs_->messages().first().contains(target));
        QVERIFY(!QFile::exists(target));
        QCOMPARE(w_->Text1->toPlainText(), rec("a")); // nothing lost
    }

    void onlyTheEndButtonCloses() {
        mailbox(0, recs("a", 4));
        open();
        w_->show();
        QVERIFY(!w_->close());
        QVERIFY(w_);
        QVERIFY(w_->isVisible());
        QVERIFY(main_->events.isEmpty());
        QVERIFY(!QFile::exists(IniFilePath(folder())) || readFile(IniFilePath(folder())).indexOf("[Receive]") < 0);

        w_->Check1->blockSignals(true);
        w_->Check1->setChecked(true);
        w_->Check1->blockSignals(false);
        w_->Text2->setText("/home/u/添付");
        w_->move(200, 100);
        w_->setOuterSizeTwips(9000, 7005);
        w_->Command2_Click();
        QTRY_VERIFY(w_.isNull()); // deleted on close
        QCOMPARE(main_->events, (QStringList{"restore", QStringLiteral("status:　4通メールがあります"), "focus"}));
        const IniFile i = ini();
        QCOMPARE(readInt(i, keys::ReceiveLeft), 3000);
        QCOMPARE(readInt16(i, keys::ReceiveTop), qint16(1500));
        QCOMPARE(readInt16(i, keys::ReceiveSaveAttachments), qint16(1));
        QCOMPARE(readString(i, keys::ReceiveFolder), QStringLiteral("/home/u/添付"));
        QCOMPARE(readInt(i, keys::ReceiveWidth), 9000);
        QCOMPARE(readInt(i, keys::ReceiveHeight), 7005);
        // Written in the window's order.
        const QByteArray file = readFile(IniFilePath(folder()));
        const QByteArray section = file.mid(file.indexOf("[Receive]"));
        QStringList order;
        for (const QByteArray& line : section.split('\n').mid(1)) {
            if (line.startsWith('['))
                break;
            if (line.contains('='))
                order << QString::fromLatin1(line.left(line.indexOf('=')));
        }
        QCOMPARE(order, (QStringList{"left", "top", "check1", "text2", "width", "height"}));
    }

    void statusLineAfterDeletion() {
        mailbox(0, recs("a", 2));
        open();
        select(0);
        dialogs_->answers.enqueue(true);
        w_->Command1_Click();
        w_->Command2_Click();
        QTRY_VERIFY(w_.isNull());
        QCOMPARE(main_->events, (QStringList{"restore", "status:", "focus"}));
    }

    void statusLineWithoutMail() {
        open();
        w_->Command2_Click();
        QTRY_VERIFY(w_.isNull());
        QCOMPARE(main_->events, (QStringList{"restore", QStringLiteral("status:　メールはありません"), "focus"}));
    }

    void resizeAndRestore() {
        open();
        w_->setOuterSizeTwips(9000, 6105);
        QCOMPARE(w_->layoutTwips(), (receive::Layout{8700, 8700, 3600, 3015}));
        QCOMPARE(w_->ListView1->width(), 580);
        QCOMPARE(w_->Text2->width(), 240);
        w_->setOuterSizeTwips(5000, 3000); // too small: everything stays
        QCOMPARE(w_->layoutTwips(), (receive::Layout{8700, 8700, 3600, 3015}));
        QCOMPARE(w_->ListView1->y(), 40);       // nothing moves
        QCOMPARE(w_->ListView1->height(), 121); // the list keeps its height
        w_->move(50, 70);
        w_->Form_DblClick();
        QCOMPARE(w_->outerWidthTwips(), 7845);
        QCOMPARE(w_->outerHeightTwips(), 6105);
        QCOMPARE(w_->layoutTwips(), (receive::Layout{7545, 7545, 2445, 3015}));
        QCOMPARE(w_->pos(), QPoint(50, 70));
    }

    // A label or a disabled button hands a double-click on to the window; only the background's own
    // double-click restores the default size.
    void doubleClickRestoresFromTheBackgroundOnly_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("restores");
        QTest::newRow("background") << "" << true;
        QTest::newRow("label") << "Label1" << false;
        QTest::newRow("disabled button") << "Command5" << false;
        QTest::newRow("list") << "ListView1" << false;
    }
    void doubleClickRestoresFromTheBackgroundOnly() {
        QFETCH(QString, where);
        QFETCH(bool, restores);
        open();
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_));
        w_->setOuterSizeTwips(9000, 7005);
        QVERIFY(!w_->Command5->isEnabled());
        const QHash<QString, QWidget*> controls{
            {"Label1", w_->Label1}, {"Command5", w_->Command5}, {"ListView1", w_->ListView1}};
        const QWidget* control = controls.value(where);
        // The background: left of the buttons, above the list.
        const QPoint at = control ? control->geometry().center() : QPoint(2, 2);
        QVERIFY(where.isEmpty() ? !w_->childAt(at) : w_->childAt(at) != nullptr);
        QTest::mouseDClick(w_->windowHandle(), Qt::LeftButton, {}, at);
        QCOMPARE(w_->outerWidthTwips(), restores ? 7845 : 9000);
    }

    // Draws the window with a few Japanese rows; with KORIMO_SCREENSHOT set, saves the picture there.
    void screenshot() {
        mailbox(0, {rec("会議の日程について", "山田太郎 <yamada@example.jp>"),
                    rec("Re: 見積書の送付", "佐藤 <sato@example.co.jp>")});
        mailbox(2, {rec("【お知らせ】サーバ保守のお知らせ", "system@example.jp"),
                    rec("Fw: From the Osaka office", "Osaka <osaka@example.jp>")});
        fake_->readMail = [](const QString&, const QString&, const QString&) {
            return MailResult::array(
                {QStringLiteral("Body: 山田です。\r\n\r\n来週の会議は水曜日の午後2時からに変更になりました。"
                                "\r\n資料は添付をご覧ください。\r\n\r\nよろしくお願いします。")});
        };
        open();
        w_->show();
        select(0);
        w_->ListView1_DblClick();
        QVERIFY(QTest::qWaitForWindowExposed(w_));
        const QImage image = w_->grab().toImage();
        QCOMPARE(image.size(), w_->size() * image.devicePixelRatio());
        // The body box is not blank: its text was drawn.
        const QRect body = w_->Text1->geometry().adjusted(4, 4, -24, -4);
        QSet<QRgb> colours;
        for (int y = body.top(); y < body.bottom(); y += 2)
            for (int x = body.left(); x < body.right(); x += 2)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() > 1);
        const QString out = qEnvironmentVariable("KORIMO_SCREENSHOT");
        if (!out.isEmpty())
            QVERIFY(image.save(out));
    }
};

QTEST_MAIN(TestFrmReceive)
#include "tst_frmreceive.moc"
