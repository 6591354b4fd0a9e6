// The send window driven headless: what reaches the transport, what happens after a success or an
// error, the window while a send runs, and what is stored when it closes.
#include "cp932.h"
#include "fakeMailTransport.h"
#include "frmTransKR.h"
#include "iniKeys.h"
#include "recordingMainWindow.h"
#include "scriptedDialogs.h"
#include "testFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace korimo;

namespace {

// A transport whose send() waits until the test lets it go.
class HeldTransport : public FakeMailTransport {
public:
    QSemaphore entered, release;
    MailOutcome<Sent> send(const OutgoingMail& mail) override {
        entered.release();
        if (!release.tryAcquire(1, 10000))
            return MailError{MailErrorKind::TimedOut, {}};
        return FakeMailTransport::send(mail);
    }
};

} // namespace

class TestSendWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    HeldTransport transport_;
    ScriptedDialogs dialogs_;
    RecordingMainWindow main_;
    QPointer<frmTransKR> w_;

    // A fresh settings file (server, sender, recipients a0..a5, subjects 件名0..件名5) and a window on it
    // with rows 5, 3 and 0 chosen and a body typed.
    void open() {
        QString text = QStringLiteral("[Past]\r\nsmtp=smtp.example.jp\r\nuseradd=taro@example.jp\r\n");
        for (int i = 0; i < 6; ++i)
            text += QStringLiteral("nam-%1=名前%1\r\nadd-%1=a%1@example.jp\r\nken-%1=件名%1\r\n").arg(i);
        QVERIFY2(writeFile(IniFilePath(dir_.path()), toCp932(text)), "ini");
        w_ = new frmTransKR(dir_.path(), transport_, dialogs_, main_);
        w_->Form_Load();
        for (int row : {5, 3, 0})
            w_->List1->item(row)->setSelected(true);
        w_->Combo1->setCurrentIndex(2);
        w_->Text4->setPlainText(QStringLiteral("一行目\n二行目\n"));
        w_->Text5->setText(dir_.filePath("a.txt"));
        QVERIFY(writeFile(dir_.filePath("a.txt"), "a"));
    }

private slots:
    void init() {
        transport_.sent.clear();
        transport_.release.release(100); // nothing holds unless a test takes these
        dialogs_ = {};
        main_ = {};
    }
    void cleanup() {
        delete w_.data();
        transport_.release.acquire(transport_.release.available());
    }

    // The mail as the window shows it; afterwards the window is ready for the next, or closed when asked.
    void successSendsWhatIsShown_data() {
        QTest::addColumn<bool>("attach");
        QTest::addColumn<bool>("closeAfter");
        QTest::newRow("with attachment") << true << false;
        QTest::newRow("closing after") << false << true;
    }
    void successSendsWhatIsShown() {
        QFETCH(bool, attach);
        QFETCH(bool, closeAfter);
        open();
        frmTransKR* w = w_;
        w->Check2->setChecked(attach);
        w->Check1->setChecked(closeAfter);
        w->Command1_Click();
        QCOMPARE(transport_.sent.size(), 1);
        const OutgoingMail& m = transport_.sent.first();
        QCOMPARE(m.server, "smtp.example.jp");
        QCOMPARE(m.recipients, (QStringList{"a0@example.jp", "a3@example.jp", "a5@example.jp"})); // list order
        QCOMPARE(m.sender, "taro@example.jp");
        QCOMPARE(m.subject, QStringLiteral("件名2"));
        QCOMPARE(m.body, QStringLiteral("一行目\r\n二行目\r\n"));
        QCOMPARE(m.attachment, attach ? dir_.filePath("a.txt") : QString());
        QTRY_COMPARE(w_.isNull(), closeAfter);
        QCOMPARE(main_.events.count("restore"), closeAfter ? 1 : 0);
        QCOMPARE(dialogs_.messages(), closeAfter ? QStringList() : QStringList{QStringLiteral("送信終了しました")});
        if (!closeAfter) {
            QVERIFY(w->Text4->toPlainText().isEmpty() && !w->Check2->isChecked());
            QCOMPARE(w->List1->selectedItems().size(), 3);
        }
    }

    // After an error nothing typed or chosen is lost and the window stays, closing after a send or not.
    void errorKeepsTheMessage_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("shown");
        const MailError refused{MailErrorKind::ServerRefused, "550 5.1.1 user unknown"};
        const MailError unknown{MailErrorKind::OutcomeUnknown, {}};
        QTest::newRow("refused") << int(refused.kind) << QStringLiteral("エラー") + describe(refused);
        QTest::newRow("outcome unknown") << int(unknown.kind) << describe(unknown);
    }
    void errorKeepsTheMessage() {
        QFETCH(int, kind);
        QFETCH(QString, shown);
        open();
        frmTransKR* w = w_;
        w->Check1->setChecked(true);
        w->Check2->setChecked(true);
        transport_.errors << MailError{MailErrorKind(kind), kind == int(MailErrorKind::ServerRefused)
                                                                ? QStringLiteral("550 5.1.1 user unknown")
                                                                : QString()};
        w->Command1_Click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(dialogs_.messages(), QStringList{shown});
        QVERIFY(!w_.isNull() && w->Check2->isChecked() && w->Command1->isEnabled());
        QCOMPARE(w->Text4->toPlainText(), QStringLiteral("一行目\n二行目\n"));
        QCOMPARE(main_.events.count("restore"), 0);
        QVERIFY(!QApplication::overrideCursor());
    }

    void busyWhileSending() {
        open();
        frmTransKR* w = w_;
        transport_.release.acquire(transport_.release.available());
        bool looked = false, closed = true;
        QTimer::singleShot(0, w, [&] {
            QVERIFY(transport_.entered.tryAcquire(1, 5000));
            looked = QApplication::overrideCursor() && !w->Command1->isEnabled();
            w->Command1_Click(); // a second press is ignored
            closed = w->close(); // refused while the send runs
            transport_.release.release();
        });
        w->Command1_Click();
        QVERIFY(looked && !closed);
        QCOMPARE(transport_.sent.size(), 1);
        QVERIFY(!QApplication::overrideCursor() && w->Command1->isEnabled());
    }

    // What the window leaves in the file: section [Trans], nothing of [Past].
    void closeStoresTrans() {
        open();
        frmTransKR* w = w_;
        const QByteArray past = readFile(IniFilePath(dir_.path()));
        w->Combo1->setEditText(QStringLiteral("自由な件名"));
        w->Text5->setText(QStringLiteral("/home/taro/資料 (2).pdf")); // unticked: still stored
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QTRY_VERIFY(w_.isNull());
        const IniFile ini(dir_.path());
        QCOMPARE(readString(ini, keys::TransSubject), QStringLiteral("自由な件名"));
        QCOMPARE(readString(ini, keys::TransAttachment), QStringLiteral("/home/taro/資料 (2).pdf"));
        QVERIFY(readFile(IniFilePath(dir_.path())).startsWith(past.left(past.indexOf("[Trans]"))));
        QCOMPARE(main_.events.count("restore"), 1);
        QVERIFY(transport_.sent.isEmpty());
    }
};

QTEST_MAIN(TestSendWindow)
#include "tst_sendwindow.moc"
