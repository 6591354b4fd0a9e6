// The receive window driven headless: the scripted transport answers, scripted dialogs answer for
// the user, and a recording main window notes what the window does to it when it closes.
#include "fakeMailTransport.h"
#include "frmReceiveKR.h"
#include "iniKeys.h"
#include "recordingMainWindow.h"
#include "scriptedDialogs.h"
#include "testFiles.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

using namespace korimo;

namespace {

QList<MessageSummary> msgs(const QString& prefix, int n) {
    QList<MessageSummary> out;
    for (int i = 1; i <= n; ++i)
        out << FakeMailTransport::msg(prefix + QString::number(i));
    return out;
}

// A server that refuses one deletion, reports a deletion as done but keeps the message, or receives
// one more message right after the first deletion.
class OddTransport : public FakeMailTransport {
public:
    bool keepDeleted = false;
    std::optional<MessageSummary> arrival;
    int refuseAt = -1; // this remove() call (from 0) is refused at login
    int removes = 0;
    MailOutcome<Done> remove(const Mailbox& b, const MessageRef& r) override {
        if (removes++ == refuseAt)
            errors << MailError{MailErrorKind::LoginRefused, {}};
        const Box before = box(b.server);
        MailOutcome<Done> out = FakeMailTransport::remove(b, r);
        Box now = keepDeleted ? before : box(b.server);
        if (arrival)
            now.messages << *std::exchange(arrival, std::nullopt);
        setBox(b.server, now);
        return out;
    }
};

} // namespace

class TestFrmReceive : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<OddTransport> fake_;
    ScriptedDialogs dialogs_;
    RecordingMainWindow main_;
    QPointer<frmReceiveKR> w_;

    IniFile ini() const { return IniFile(dir_.path()); }
    // Mailbox slot i configured as server "s<i+1>" holding the messages.
    void mailbox(int i, const QList<MessageSummary>& messages) {
        const QString n = QString::number(i + 1);
        QVERIFY(writeValue(ini(), keys::Servers, "s" + n, i) && writeValue(ini(), keys::Passwords, "p" + n, i));
        fake_->setBox("s" + n, {"p" + n, messages, {}});
    }
    void open() {
        w_ = new frmReceiveKR(dir_.path(), *fake_, dialogs_, main_);
        w_->Form_Load();
    }
    QStringList rows() const {
        QStringList out;
        for (int i = 0; i < w_->ListView1->topLevelItemCount(); ++i)
            out << w_->ListView1->topLevelItem(i)->text(0) + ":" + w_->ListView1->topLevelItem(i)->text(1);
        return out;
    }
    void select(int row) { w_->ListView1->setCurrentItem(w_->ListView1->topLevelItem(row)); }
    // The calls of one kind since the last clear, as "server number".
    QStringList sent(const QString& op) const {
        QStringList out;
        for (const auto& c : fake_->calls().mid(callsBefore_))
            if (c.op == op)
                out << c.server + " " + QString::number(c.ref.number);
        return out;
    }
    void clearCalls() { callsBefore_ = int(fake_->calls().size()); }
    int callsBefore_ = 0;

private slots:
    void init() {
        QVERIFY(QDir(dir_.path()).removeRecursively() && QDir().mkpath(dir_.path() + "/DATA"));
        QDir().mkpath(dir_.path() + "/AttachedFiles");
        fake_ = std::make_unique<OddTransport>();
        dialogs_ = {};
        main_ = {};
        callsBefore_ = 0;
    }
    void cleanup() { delete w_.data(); }

    void listsConfiguredMailboxesAndNamesFailures() {
        mailbox(3, msgs("d", 2));
        mailbox(1, msgs("b", 1));
        mailbox(2, msgs("c", 1));
        fake_->setBox("s3", {"changed", msgs("c", 1), {}});
        open();
        QCOMPARE(sent("list").size(), 3); // only configured mailboxes, one call each
        QCOMPARE(rows(), (QStringList{"2:b1", "4:d1", "4:d2"}));
        QVERIFY(w_->windowTitle().contains("3"));
        QVERIFY(w_->ListView1->toolTip().contains("-ERR authentication failed"));
        fake_->setBox("s3", {"p3", {}, {}});
        w_->ClearAndRelist(); // the mailbox answers again: the note goes
        QCOMPARE(w_->windowTitle(), QStringLiteral("受信"));
    }

    void readShowsTheListedMessage() {
        mailbox(1, msgs("b", 1));
        mailbox(3, msgs("d", 3));
        QVERIFY(writeValue(ini(), keys::ReceiveSaveAttachments, 1));
        QVERIFY(writeValue(ini(), keys::ReceiveFolder, dir_.path() + "/AttachedFiles"));
        fake_->readMail = [](const QString& path, bool save) {
            return MailMessage{{}, {}, {}, readFile(path) + "\r\ny", {{"one.pdf", save, {}}}, false};
        };
        open();
        clearCalls();
        select(3);
        w_->ListView1_DblClick();
        QCOMPARE(sent("save"), QStringList{"s4 3"});
        QCOMPARE(fake_->calls().at(fake_->calls().size() - 2).ref, w_->rows().at(3).ref); // with the listed UIDL
        QCOMPARE(w_->Text1->toPlainText(), "d3\ny"); // the fake's message is its subject
        QCOMPARE(dialogs_.messages(), QStringList{QStringLiteral("添付ファイルを保存しました")});
        QCOMPARE(QDir(dir_.path() + "/AttachedFiles").entryList(QDir::Files), QStringList()); // fetched file gone
        // A failed fetch says why in the body box and offers nothing to save.
        fake_->errors << MailError{MailErrorKind::TimedOut, "s4"};
        w_->ListView1_DblClick();
        QCOMPARE(w_->Text1->toPlainText(), QStringLiteral("エラー") + describe({MailErrorKind::TimedOut, "s4"}));
        QVERIFY(!w_->Command5->isEnabled());
    }

    // The listed message is deleted without listing it again (the transport checks). Only a committed
    // deletion counts: the rest is told, the list stays, the status line keeps its count.
    void deletionIsTruthful_data() {
        QTest::addColumn<int>("kind"); // -1: committed
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("lists"); // mailboxes listed after the deletion
        QTest::newRow("committed") << -1 << "" << 2;
        QTest::newRow("refused login") << int(MailErrorKind::LoginRefused)
                                       << QStringLiteral("　パスワードが一致しません") << 0;
        QTest::newRow("refused") << int(MailErrorKind::ServerRefused)
                                 << describe({MailErrorKind::ServerRefused, "-ERR x"}) << 0;
        QTest::newRow("unknown") << int(MailErrorKind::OutcomeUnknown)
                                 << describe({MailErrorKind::OutcomeUnknown, "-ERR x"}) << 0;
        QTest::newRow("changed")
            << int(MailErrorKind::MailboxChanged)
            << QStringLiteral(
                   "メールボックスの内容が一覧を取得した後に変わったため、削除しませんでした。一覧を更新します。")
            << 2;
    }
    void deletionIsTruthful() {
        QFETCH(int, kind);
        QFETCH(QString, told);
        QFETCH(int, lists);
        mailbox(0, msgs("a", 1));
        mailbox(2, msgs("c", 2));
        open();
        clearCalls();
        select(2);
        if (kind >= 0)
            fake_->errors << MailError{MailErrorKind(kind), "-ERR x"};
        dialogs_.answers.enqueue(true);
        w_->Command1_Click();
        QCOMPARE(dialogs_.shown.first().text, QStringLiteral("「c2」\r\n　をメールボックスから削除します"));
        QCOMPARE(sent("remove"), QStringList{"s3 2"});
        QCOMPARE(dialogs_.messages(), told.isEmpty() ? QStringList() : QStringList{told});
        QCOMPARE(sent("list").size(), lists);
        QCOMPARE(rows(), (kind < 0 ? QStringList{"1:a1", "3:c1"} : QStringList{"1:a1", "3:c1", "3:c2"}));
        QVERIFY(w_->Command1->isEnabled() && w_->Command2->isEnabled());
        w_->Command2_Click();
        QTRY_VERIFY(w_.isNull());
        QCOMPARE(main_.events.filter("status:"),
                 QStringList{kind < 0 ? "status:" : QStringLiteral("status:　3通メールがあります")});
    }

    void deleteAll_data() {
        QTest::addColumn<int>("refuseAt"); // the remove() call refused at login, or -1
        QTest::addColumn<bool>("keep");
        QTest::addColumn<bool>("arrival");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<int>("told");
        QTest::newRow("all in order") << -1 << false << false << QStringList{"s1 1", "s1 1", "s2 1"} << QStringList{}
                                      << 0;
        QTest::newRow("stops at a refusal")
            << 1 << false << false << QStringList{"s1 1", "s1 1"} << QStringList{"1:a2", "2:b1"} << 1;
        QTest::newRow("stops when nothing goes")
            << -1 << true << false << QStringList{"s1 1"} << QStringList{"1:a1", "1:a2", "2:b1"} << 1;
        QTest::newRow("keeps mail arriving meanwhile")
            << -1 << false << true << QStringList{"s1 1", "s1 1", "s2 1"} << QStringList{"1:new"} << 0;
    }
    void deleteAll() {
        QFETCH(int, refuseAt);
        QFETCH(bool, keep);
        QFETCH(bool, arrival);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, left);
        QFETCH(int, told);
        mailbox(0, msgs("a", 2));
        mailbox(1, msgs("b", 1));
        open();
        clearCalls();
        fake_->refuseAt = refuseAt;
        fake_->keepDeleted = keep;
        if (arrival)
            fake_->arrival = FakeMailTransport::msg("new");
        dialogs_.answers.enqueue(true);
        w_->Command3_Click();
        QCOMPARE(sent("remove"), removed);
        QCOMPARE(rows(), left);
        QCOMPARE(dialogs_.messages().size(), told);
        QVERIFY(w_->Command3->isEnabled() && w_->ListView1->isEnabled());
    }

    // The body goes to the chosen file in one piece, in CP932 when it fits, else as UTF-8 when the
    // user agrees; otherwise nothing is written and the body stays.
    void savingTheBody_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("target"); // in AttachedFiles
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("cp932") << "議事録\r\n①"
                               << "out.txt" << false << QByteArray("\x8b\x63\x8e\x96\x98\x5e\r\n\x87\x40\r\n");
        QTest::newRow("utf-8") << QString::fromUtf8("𠮷") << "out.txt" << true << QByteArray("\xEF\xBB\xBF𠮷\r\n");
        QTest::newRow("utf-8 declined") << QString::fromUtf8("𠮷") << "out.txt" << false << QByteArray();
        QTest::newRow("unwritable") << "a"
                                    << "missing/out.txt" << false << QByteArray();
    }
    void savingTheBody() {
        QFETCH(QString, body);
        QFETCH(QString, target);
        QFETCH(bool, yes);
        QFETCH(QByteArray, written);
        mailbox(0, {FakeMailTransport::msg("会議/議事録")});
        fake_->readMail = [body](const QString&, bool) {
            return MailMessage{{}, {}, {}, body, {}, false};
        };
        open();
        select(0);
        w_->ListView1_DblClick();
        const QString path = dir_.path() + "/AttachedFiles/" + target;
        dialogs_.files.enqueue(path);
        dialogs_.answers.enqueue(yes);
        w_->Command5_Click();
        QCOMPARE(dialogs_.shown.first().extra, QStringLiteral("会議／議事録.txt"));
        QCOMPARE(QFile::exists(path), !written.isEmpty());
        if (!written.isEmpty())
            QCOMPARE(readFile(path), written);
        QCOMPARE(w_->Text1->toPlainText().isEmpty(), !written.isEmpty());
        QCOMPARE(dialogs_.messages().size(), target.startsWith("missing") ? 1 : 0); // a failure is told
    }

    void onlyTheEndButtonClosesAndSaves() {
        mailbox(0, msgs("a", 4));
        open();
        w_->show();
        QVERIFY(!w_->close());
        QVERIFY(w_ && main_.events.isEmpty());
        w_->Text2->setText("/home/u/添付");
        w_->setOuterSizeTwips(9000, 7005);
        w_->Command2_Click();
        QTRY_VERIFY(w_.isNull()); // deleted on close
        QCOMPARE(main_.events, (QStringList{"restore", QStringLiteral("status:　4通メールがあります"), "focus"}));
        QCOMPARE(readString(ini(), keys::ReceiveFolder), QStringLiteral("/home/u/添付"));
        QCOMPARE(readInt(ini(), keys::ReceiveWidth), 9000);
    }
};

QTEST_MAIN(TestFrmReceive)
#include "tst_frmreceive.moc"
