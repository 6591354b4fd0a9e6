// The send window driven headless: loading, the attachment controls, the checks as the user meets
// them, what reaches the transport, what happens after a success or an error, and what is stored.
#include "cp932.h"
#include "dialogs.h"
#include "fakeMailTransport.h"
#include "frmTransKR.h"
#include "iniKeys.h"
#include "offScreenPositions.h"
#include "recordingMainWindow.h"
#include "smtpSender.h"
#include "testFiles.h"
#include "twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace korimo;

namespace {

// A transport whose SendMail waits until the test lets it go, so the test can look at the window
// while a send is under way.
class HeldTransport : public FakeMailTransport {
public:
    QSemaphore entered, release;
    QString SendMail(const QString& server, const QString& recipients, const QString& sender, const QString& subject,
                     const QString& body, const QString& attachment) override {
        entered.release();
        if (!release.tryAcquire(1, 10000))
            return QStringLiteral("held too long");
        return FakeMailTransport::SendMail(server, recipients, sender, subject, body, attachment);
    }
};

// The "key=value" lines of one section of the file, in file order.
QStringList sectionLines(const QString& path, const QString& section) {
    QStringList out;
    bool in = false;
    const QStringList lines = fromCp932(readFile(path)).split(QStringLiteral("\r\n"));
    for (const QString& line : lines) {
        if (line.startsWith(u'[')) {
            in = line.compare(u'[' + section + u']', Qt::CaseInsensitive) == 0;
            continue;
        }
        if (in && !line.isEmpty())
            out << line;
    }
    return out;
}

} // namespace

class TestSendWindow : public QObject {
    Q_OBJECT
private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        transport_ = std::make_unique<FakeMailTransport>();
        dialogs_ = std::make_unique<ScriptedDialogs>();
        main_ = std::make_unique<RecordingMainWindow>();
    }
    void cleanup() {
        delete w_.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void loadShowsTheSettings_data() {
        QTest::addColumn<QString>("firstSubject");
        QTest::newRow("first preset subject") << "定例会議のお知らせ";
        QTest::newRow("first preset subject empty") << "";
    }
    void loadShowsTheSettings() {
        QFETCH(QString, firstSubject);
        const IniFile ini(dir_->path());
        writeValue(ini, keys::SmtpServer, QStringLiteral("smtp.example.jp"));
        writeValue(ini, keys::SenderName, QStringLiteral("山田太郎"));
        writeValue(ini, keys::SenderAddress, QStringLiteral("taro@example.jp"));
        writeValue(ini, keys::TransLeft, 3000);
        writeValue(ini, keys::TransTop, 1500);
        writeValue(ini, keys::TransAttachment, QStringLiteral("/home/taro/資料.pdf"));
        writeValue(ini, keys::TransCloseAfterSend, 1);
        writeValue(ini, keys::TransSubject, QStringLiteral("前回使った件名"));
        writeValue(ini, keys::SendSubjects, firstSubject, 0);
        writeValue(ini, keys::SendSubjects, QStringLiteral("二番目"), 1);
        writeValue(ini, keys::SendNames, QStringLiteral("佐藤"), 2);
        writeValue(ini, keys::SendAddresses, QStringLiteral("sato@example.jp"), 2);
        writeValue(ini, keys::SendNames, QStringLiteral("鈴木"), 19);
        writeValue(ini, keys::SendSubjects, QStringLiteral("最後"), 19);

        frmTransKR* w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("送信"));
        QCOMPARE(w->Text1->text(), QStringLiteral("smtp.example.jp"));
        QCOMPARE(w->Text2->text(), QStringLiteral("山田太郎"));
        QCOMPARE(w->Text3->text(), QStringLiteral("taro@example.jp"));
        QCOMPARE(w->Text5->text(), QStringLiteral("/home/taro/資料.pdf"));
        QVERIFY(w->Check1->isChecked());
        QVERIFY(!w->Check2->isChecked());
        QVERIFY(w->Command3->isHidden());
        QVERIFY(w->Text5->isHidden());
        QVERIFY(!w->Text1->isEnabled());
        QVERIFY(!w->Text3->isEnabled());
        QVERIFY(w->Text2->isEnabled());
        QCOMPARE(w->pos(), QPoint(twipsToPixelsX(*w, 3000), twipsToPixelsY(*w, 1500)));

        // All twenty rows and items, empty ones included.
        QCOMPARE(w->List1->count(), 20);
        QCOMPARE(w->Combo1->count(), 20);
        QCOMPARE(w->SendAddresses.size(), 20);
        QCOMPARE(w->List1->item(2)->text(), QStringLiteral("佐藤"));
        QCOMPARE(w->List1->item(19)->text(), QStringLiteral("鈴木"));
        QCOMPARE(w->List1->item(0)->text(), QString());
        QCOMPARE(w->SendAddresses.at(2), QStringLiteral("sato@example.jp"));
        QCOMPARE(w->Combo1->itemText(1), QStringLiteral("二番目"));
        QCOMPARE(w->Combo1->itemText(19), QStringLiteral("最後"));
        // The stored subject is not applied: the first preset is shown.
        QCOMPARE(w->Combo1->currentText(), firstSubject);
    }

    void defaultsWithoutFile() {
        frmTransKR* w = open();
        QCOMPARE(w->pos(), QPoint(twipsToPixelsX(*w, 4000), twipsToPixelsY(*w, 2200)));
        QVERIFY(!w->Check1->isChecked());
        QCOMPARE(w->Text5->text(), QString());
        QCOMPARE(w->List1->count(), 20);
        QCOMPARE(w->Combo1->count(), 20);
        QCOMPARE(w->Combo1->currentText(), QString());
        QVERIFY(!QFile::exists(IniFilePath(dir_->path()))); // opening writes nothing
    }

    void captionsAndTips() {
        frmTransKR* w = open();
        const QList<std::pair<QWidget*, QString>> tips = {
            {w->Text1, QStringLiteral("設定したSMTPアドレスを表示します")},
            {w->Text2, QStringLiteral("送信者名を指定します(変更可)")},
            {w->Text3, QStringLiteral("設定した送信者メールアドレスを表示します")},
            {w->Combo1, QStringLiteral("設定した件名を選択します(変更可)")},
            {w->List1, QStringLiteral("設定した送信先を表示。送信先を選択します。")},
            {w->Text4, QStringLiteral("本文を入力します")},
            {w->Check2, QStringLiteral("添付ファイルがある場合チェックを入れます")},
            {w->Command3, QStringLiteral("添付ファイルがある場所を指定します")},
            {w->Text5, QString()},
            {w->Check1, QStringLiteral("送信後閉じるかそのまま続けるか指定します")},
            {w->Command1, QStringLiteral("送信を開始します")},
            {w->Command2, QString()},
        };
        for (const auto& [widget, tip] : tips)
            QCOMPARE(widget->toolTip(), tip);
        QCOMPARE(w->Label1->text(), QStringLiteral("SMTPアドレス"));
        QCOMPARE(w->Label2->text(), QStringLiteral("送信者名"));
        QCOMPARE(w->Label3->text(), QStringLiteral("送信者アドレス"));
        QCOMPARE(w->Label4->text(), QStringLiteral("件名"));
        QCOMPARE(w->Check2->text(), QStringLiteral("添付"));
        QCOMPARE(w->Command3->text(), QStringLiteral("参照"));
        QCOMPARE(w->Check1->text(), QStringLiteral("送信後閉じる"));
        QCOMPARE(w->Command1->text(), QStringLiteral("送信"));
        QCOMPARE(w->Command2->text(), QStringLiteral("終了"));
        QCOMPARE(w->List1->selectionMode(), QAbstractItemView::MultiSelection);
    }

    void attachTickShowsBrowse() {
        frmTransKR* w = open();
        w->Text5->setText(QStringLiteral("/tmp/a.txt"));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::mouseClick(w->Check2, Qt::LeftButton, {}, w->Check2->rect().center());
        QVERIFY(w->Check2->isChecked());
        QVERIFY(w->Command3->isVisible());
        QVERIFY(w->Text5->isVisible());
        QTest::mouseClick(w->Check2, Qt::LeftButton, {}, w->Check2->rect().center());
        QVERIFY(!w->Command3->isVisible());
        QVERIFY(!w->Text5->isVisible());
        QCOMPARE(w->Text5->text(), QStringLiteral("/tmp/a.txt"));
    }

    void fileDialogKeepsItsName() {
        const IniFile ini(dir_->path());
        writeValue(ini, keys::TransAttachment, QStringLiteral("/stored/path.txt"));
        frmTransKR* w = open();
        dialogs_->files.enqueue(QStringLiteral("/home/taro/見積.xlsx"));
        dialogs_->files.enqueue(QString());
        w->Command3_Click();
        QCOMPARE(w->Text5->text(), QStringLiteral("/home/taro/見積.xlsx"));
        QCOMPARE(dialogs_->shown.size(), 1);
        const ScriptedDialogs::Shown& d = dialogs_->shown.at(0);
        QCOMPARE(d.kind, QStringLiteral("openFile"));
        QCOMPARE(d.text, QStringLiteral("添付ファイルを指定してください。"));
        QCOMPARE(d.startFolder, dir_->path());
        QCOMPARE(d.extra, QStringLiteral("ファイル(*.*)|*.*|"));
        // Typed over, then the dialog cancelled: the name chosen before comes back.
        w->Text5->setText(QStringLiteral("typed"));
        w->Command3_Click();
        QCOMPARE(w->Text5->text(), QStringLiteral("/home/taro/見積.xlsx"));
    }

    void cancelWithoutEarlierChoiceGivesEmpty() {
        const IniFile ini(dir_->path());
        writeValue(ini, keys::TransAttachment, QStringLiteral("/stored/path.txt"));
        frmTransKR* w = open();
        w->Command3_Click();
        QCOMPARE(w->Text5->text(), QString());
    }

    // The checks as the window makes them: what the user sees, and that nothing is sent on a failure.
    void checksAsShown_data() {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<QString>("message"); // "" = none
        QTest::addColumn<bool>("sent");
        QTest::newRow("attachment missing") << "missing attachment"
                                            << "添付ファイルが存在しません" << false;
        QTest::newRow("attachment path empty") << "empty attachment"
                                               << "添付ファイルが存在しません" << false;
        QTest::newRow("attachment is a folder") << "folder attachment"
                                                << "送信終了しました" << true;
        QTest::newRow("subject empty") << "subject"
                                       << "" << false;
        QTest::newRow("body empty") << "body"
                                    << "本文が空です" << false;
        QTest::newRow("server empty") << "server"
                                      << "SMTPが空です" << false;
        QTest::newRow("no recipient") << "recipients"
                                      << "宛先が空です" << false;
        QTest::newRow("sender empty") << "sender"
                                      << "あなたのメールアドレスが空です" << false;
        QTest::newRow("selected empty address") << "empty address"
                                                << "送信終了しました" << true;
        QTest::newRow("blank subject") << "blank subject"
                                       << "送信終了しました" << true;
    }
    void checksAsShown() {
        QFETCH(QString, spoil);
        QFETCH(QString, message);
        QFETCH(bool, sent);
        presetCompleteSettings();
        frmTransKR* w = open();
        w->show();
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->Text4->setPlainText(QStringLiteral("本文です"));
        w->List1->item(0)->setSelected(true);
        w->Text4->setFocus();

        if (spoil == u"missing attachment") {
            w->Check2->setChecked(true);
            w->Text5->setText(dir_->filePath(QStringLiteral("nothing.txt")));
        } else if (spoil == u"empty attachment") {
            w->Check2->setChecked(true);
            w->Text5->clear();
        } else if (spoil == u"folder attachment") {
            w->Check2->setChecked(true);
            w->Text5->setText(dir_->path());
        } else if (spoil == u"subject") {
            w->Combo1->setEditText(QString());
        } else if (spoil == u"blank subject") {
            w->Combo1->setEditText(QStringLiteral("  "));
        } else if (spoil == u"body") {
            w->Text4->clear();
        } else if (spoil == u"server") {
            w->Text1->clear();
        } else if (spoil == u"recipients") {
            w->List1->clearSelection();
        } else if (spoil == u"sender") {
            w->Text3->clear();
        } else if (spoil == u"empty address") {
            w->List1->clearSelection();
            w->List1->item(1)->setSelected(true); // row 1 has a name but no address
        }

        QTest::mouseClick(w->Command1, Qt::LeftButton);
        const QList<FakeMailTransport::Call> calls = transport_->calls();
        QCOMPARE(calls.size(), sent ? 1 : 0);
        QCOMPARE(dialogs_->messages(), message.isEmpty() ? QStringList() : QStringList{message});
        if (spoil == u"subject")
            QVERIFY(w->Combo1->lineEdit()->hasFocus());
        if (spoil == u"folder attachment")
            QCOMPARE(calls.at(0).args.at(5), dir_->path());
        if (spoil == u"empty address")
            QCOMPARE(calls.at(0).args.at(1), QString());
        if (spoil == u"blank subject")
            QCOMPARE(calls.at(0).args.at(3), QStringLiteral("  "));
    }

    void sendMailArguments_data() {
        QTest::addColumn<bool>("attach");
        QTest::newRow("with attachment") << true;
        QTest::newRow("attachment unticked") << false;
    }
    void sendMailArguments() {
        QFETCH(bool, attach);
        presetCompleteSettings();
        const QString file = dir_->filePath(QStringLiteral("添付 ファイル.txt"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("attached");
        f.close();

        frmTransKR* w = open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Clicked in reverse order; they go in list order.
        for (int row : {5, 3, 0}) {
            QListWidgetItem* item = w->List1->item(row);
            w->List1->scrollToItem(item);
            QTest::mouseClick(w->List1->viewport(), Qt::LeftButton, {}, w->List1->visualItemRect(item).center());
        }
        QCOMPARE(w->List1->selectedItems().size(), 3);
        w->Combo1->setCurrentIndex(2);
        w->Text4->setPlainText(QStringLiteral("一行目\n二行目\n"));
        w->Text5->setText(file);
        w->Check2->setChecked(attach);
        w->Command1_Click();

        const QList<FakeMailTransport::Call> expected = {
            {QStringLiteral("SendMail"),
             {QStringLiteral("smtp.example.jp"), QStringLiteral("a0@example.jp\ta3@example.jp\ta5@example.jp"),
              QStringLiteral("taro@example.jp"), QStringLiteral("件名2"), QStringLiteral("一行目\r\n二行目\r\n"),
              attach ? file : QString()}}};
        QCOMPARE(transport_->calls(), expected);
    }

    void successKeepsWindowReadyForTheNext() {
        presetCompleteSettings();
        frmTransKR* w = open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        writeAttachment();
        w->Check2->setChecked(true);
        w->Text5->setText(dir_->filePath(QStringLiteral("a.txt")));
        w->Combo1->setEditText(QStringLiteral("自由な件名"));
        w->List1->item(3)->setSelected(true);
        w->Text4->setPlainText(QStringLiteral("本文"));
        w->Command1_Click();

        QCOMPARE(transport_->calls().size(), 1);
        QCOMPARE(dialogs_->messages(), QStringList{QStringLiteral("送信終了しました")});
        QVERIFY(w->isVisible());
        QCOMPARE(w->Text4->toPlainText(), QString());
        QVERIFY(!w->Check2->isChecked());
        QVERIFY(!w->Command3->isVisible());
        QVERIFY(!w->Text5->isVisible());
        QCOMPARE(w->Text5->text(), dir_->filePath(QStringLiteral("a.txt")));
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("自由な件名"));
        QCOMPARE(w->List1->selectedItems(), QList<QListWidgetItem*>{w->List1->item(3)});
        QCOMPARE(main_->restored, 0);
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void successClosesWhenAsked() {
        presetCompleteSettings();
        frmTransKR* w = open();
        w->show();
        w->Check1->setChecked(true);
        w->List1->item(0)->setSelected(true);
        w->Text4->setPlainText(QStringLiteral("本文"));
        w->Command1_Click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(w_.isNull());
        QCOMPARE(transport_->calls().size(), 1);
        QCOMPARE(dialogs_->messages(), QStringList());
        QCOMPARE(main_->restored, 1);
        QCOMPARE(readString(IniFile(dir_->path()), keys::TransCloseAfterSend), QStringLiteral("1"));
    }

    // After an error nothing the user typed or chose is lost, the window stays and does not claim
    // the message was sent; a second try goes out.
    // An outcome left open by a broken connection is shown as it is, not as an error.
    void errorKeepsTheMessage_data() {
        QTest::addColumn<bool>("closeAfterSend");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("shown");
        const QString refused = QStringLiteral("550 5.1.1 user unknown");
        const QString unknown = unknownOutcome(QStringLiteral("Failure when receiving data from the peer"));
        QTest::newRow("stay open") << false << refused << QStringLiteral("エラー") + refused;
        QTest::newRow("close after send ticked") << true << refused << QStringLiteral("エラー") + refused;
        QTest::newRow("outcome unknown") << true << unknown << unknown;
    }
    void errorKeepsTheMessage() {
        QFETCH(bool, closeAfterSend);
        QFETCH(QString, result);
        QFETCH(QString, shown);
        presetCompleteSettings();
        writeAttachment();
        frmTransKR* w = open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->Check1->setChecked(closeAfterSend);
        w->Check2->setChecked(true);
        w->Text5->setText(dir_->filePath(QStringLiteral("a.txt")));
        w->List1->item(4)->setSelected(true);
        w->Text4->setPlainText(QStringLiteral("大事な本文\n二行目"));
        transport_->queueSend(result);
        w->Command1_Click();

        QCOMPARE(dialogs_->messages(), QStringList{shown});
        QVERIFY(!w_.isNull());
        QVERIFY(w->isVisible());
        QCOMPARE(w->Text4->toPlainText(), QStringLiteral("大事な本文\n二行目"));
        QVERIFY(w->Check2->isChecked());
        QVERIFY(w->Text5->isVisible());
        QVERIFY(w->Command3->isVisible());
        QCOMPARE(w->Text5->text(), dir_->filePath(QStringLiteral("a.txt")));
        QCOMPARE(main_->restored, 0);
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(!QApplication::overrideCursor());

        // The second try is the same message.
        w->Command1_Click();
        const QList<FakeMailTransport::Call> calls = transport_->calls();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(1), calls.at(0));
        QCOMPARE(calls.at(1).args.at(5), dir_->filePath(QStringLiteral("a.txt")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (closeAfterSend) {
            QVERIFY(w_.isNull());
            QCOMPARE(dialogs_->messages().size(), 1);
        } else {
            QCOMPARE(dialogs_->messages().last(), QStringLiteral("送信終了しました"));
        }
    }

    void busyWhileSending() {
        presetCompleteSettings();
        HeldTransport held;
        w_ = new frmTransKR(dir_->path(), held, *dialogs_, *main_);
        frmTransKR* w = w_;
        w->Form_Load();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->List1->item(0)->setSelected(true);
        w->Text4->setPlainText(QStringLiteral("本文"));

        bool looked = false, cursorWasWait = false, buttonWasDisabled = false, closed = true, painted = false;
        QTimer::singleShot(0, w, [&] {
            QVERIFY(held.entered.tryAcquire(1, 5000));
            looked = true;
            cursorWasWait = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            buttonWasDisabled = !w->Command1->isEnabled();
            w->Command1_Click(); // a second press is ignored
            closed = w->close(); // refused while the send runs
            w->repaint();
            painted = true;
            held.release.release();
        });
        w->Command1_Click();

        QVERIFY(looked);
        QVERIFY(cursorWasWait);
        QVERIFY(buttonWasDisabled);
        QVERIFY(!closed);
        QVERIFY(painted);
        QCOMPARE(held.calls().size(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w_.isNull());
        QVERIFY(w->isVisible());
        QCOMPARE(main_->restored, 0);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(w->Command1->isEnabled());
        QCOMPARE(dialogs_->messages(), QStringList{QStringLiteral("送信終了しました")});
        w->close();
        QCOMPARE(main_->restored, 1);
    }

    // What the window leaves in the file: section [Trans] in its order, nothing of [Past].
    void closeStoresTrans_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("終了 button") << true;
        QTest::newRow("window closed") << false;
    }
    void closeStoresTrans() {
        QFETCH(bool, byButton);
        presetCompleteSettings();
        const QString path = IniFilePath(dir_->path());
        const QStringList pastBefore = sectionLines(path, QStringLiteral("Past"));
        QVERIFY(!pastBefore.isEmpty());
        QVERIFY(sectionLines(path, QStringLiteral("Trans")).isEmpty());

        frmTransKR* w = open();
        w->move(100, 60);
        w->Combo1->setEditText(QStringLiteral("自由な件名"));
        w->Check1->setChecked(true);
        w->Text5->setText(QStringLiteral("/home/taro/資料 (2).pdf")); // Check2 unticked: still stored
        w->Text2->setText(QStringLiteral("別名"));                    // shown only
        const QString left = QString::number(qRound(100 * twipsPerPixelX(*w)));
        const QString top = QString::number(qRound(60 * twipsPerPixelY(*w)));
        if (byButton)
            QTest::mouseClick(w->Command2, Qt::LeftButton);
        else
            QVERIFY(w->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(w_.isNull());

        const QStringList expected = {
            QStringLiteral("left=") + left,
            QStringLiteral("top=") + top,
            QStringLiteral("combo1=自由な件名"),
            QStringLiteral("check1=1"),
            QStringLiteral("text5=/home/taro/資料 (2).pdf"),
        };
        QCOMPARE(sectionLines(path, QStringLiteral("Trans")), expected);
        QCOMPARE(sectionLines(path, QStringLiteral("Past")), pastBefore);
        QCOMPARE(main_->restored, 1);
        QCOMPARE(transport_->calls().size(), 0);
    }

    // An unmoved window stores the place it was given, even where twips fall between two pixels.
    void positionRoundTrips_data() {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::newRow("defaults") << 4000 << 2200;
        QTest::newRow("whole pixels") << 2985 << 1230;
        QTest::newRow("odd twips") << 1001 << 7;
    }
    void positionRoundTrips() {
        QFETCH(int, left);
        QFETCH(int, top);
        const IniFile ini(dir_->path());
        writeValue(ini, keys::TransLeft, left);
        writeValue(ini, keys::TransTop, top);
        for (int opening = 0; opening < 3; ++opening) {
            frmTransKR* w = open();
            QVERIFY(w->close());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QCOMPARE(readInt(ini, keys::TransLeft), left);
        QCOMPARE(readInt(ini, keys::TransTop), top);
        QCOMPARE(readInt(ini, keys::TransCloseAfterSend), 0);
    }

    void positionOnNoScreenOpensOnTheScreen_data() { addOffScreenPositionRows(); }
    void positionOnNoScreenOpensOnTheScreen() {
        QFETCH(int, left);
        QFETCH(int, top);
        const IniFile ini(dir_->path());
        writeValue(ini, keys::TransLeft, left);
        writeValue(ini, keys::TransTop, top);
        frmTransKR* w = open();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(QRect(w->pos(), w->size()).center()),
                 qPrintable(QString("%1,%2").arg(w->x()).arg(w->y())));
        const QPoint shownAt(pixelsToTwipsX(*w, w->x()), pixelsToTwipsY(*w, w->y()));
        QVERIFY(w->close());
        // The place it was shown at is saved, not the unreachable one.
        QCOMPARE(readInt(ini, keys::TransLeft), shownAt.x());
        QCOMPARE(readInt(ini, keys::TransTop), shownAt.y());
    }

    // The subject is exactly what was typed: no completion from the presets, and Enter adds no item.
    void typedSubjectIsKept() {
        const IniFile ini(dir_->path());
        writeValue(ini, keys::SendSubjects, QStringLiteral("Meeting notes"), 0);
        frmTransKR* w = open();
        w->show();
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->Combo1->setFocus();
        w->Combo1->lineEdit()->clear();
        QTest::keyClicks(w->Combo1->lineEdit(), "Mee");
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("Mee"));
        QTest::keyClick(w->Combo1->lineEdit(), Qt::Key_Return);
        QCOMPARE(w->Combo1->count(), 20);
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("Mee"));
    }

    void listScrollsToItsWidestRow() {
        const IniFile ini(dir_->path());
        const QString longName =
            QStringLiteral("とても長い名前の宛先です株式会社こりも営業部第一課長代理補佐 <someone@example.jp>");
        writeValue(ini, keys::SendNames, QStringLiteral("短い"), 0);
        writeValue(ini, keys::SendNames, longName, 7);
        frmTransKR* w = open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCoreApplication::processEvents();
        const int textWidth = w->List1->fontMetrics().horizontalAdvance(longName);
        QVERIFY(textWidth > w->List1->viewport()->width());
        QVERIFY(frmTransKR::kVScro(w->List1) >= textWidth);
        const QScrollBar* bar = w->List1->horizontalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QVERIFY(bar->maximum() + w->List1->viewport()->width() >= textWidth);
    }

    void shortRowsNeedNoScroll() {
        const IniFile ini(dir_->path());
        writeValue(ini, keys::SendNames, QStringLiteral("短い"), 0);
        frmTransKR* w = open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCoreApplication::processEvents();
        QCOMPARE(w->List1->horizontalScrollBar()->maximum(), 0);
    }

private:
    frmTransKR* open() {
        w_ = new frmTransKR(dir_->path(), *transport_, *dialogs_, *main_);
        w_->Form_Load();
        return w_;
    }

    // A server, a sender, twenty recipients a0..a19 (row 1 without an address) and subjects 件名0..件名19.
    void presetCompleteSettings() {
        // Written in one go: sixty-two separate writes would each rewrite the file.
        QString text = QStringLiteral("[Past]\r\nsmtp=smtp.example.jp\r\nuseradd=taro@example.jp\r\n");
        for (int i = 0; i < 20; ++i) {
            text += QStringLiteral("nam-%1=名前%1\r\n").arg(i);
            text += QStringLiteral("add-%1=%2\r\n")
                        .arg(i)
                        .arg(i == 1 ? QString() : QStringLiteral("a%1@example.jp").arg(i));
            text += QStringLiteral("ken-%1=件名%1\r\n").arg(i);
        }
        QFile f(IniFilePath(dir_->path()));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(toCp932(text));
    }

    void writeAttachment() {
        QFile f(dir_->filePath(QStringLiteral("a.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("a");
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<FakeMailTransport> transport_;
    std::unique_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<RecordingMainWindow> main_;
    QPointer<frmTransKR> w_;
};

QTEST_MAIN(TestSendWindow)
#include "tst_sendwindow.moc"
