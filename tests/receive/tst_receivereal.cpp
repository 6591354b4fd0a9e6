// The receive window against a real Dovecot on loopback through the real transport: list two
// mailboxes, read a Japanese multipart message and save its attachment, delete one, delete all.
#include "frmReceiveKR.h"
#include "iniKeys.h"
#include "realMailTransport.h"
#include "recordingMainWindow.h"
#include "scriptedDialogs.h"
#include "testFiles.h"
#include "testMailServers.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace korimo;

namespace {

const QByteArray kAttachment = QByteArray("attached bytes\r\n\x00\x01\x02\xff end", 22);

QByteArray message(const QString& subject, const QByteArray& id, bool multipart = false) {
    const QByteArray head = "From: =?UTF-8?B?" + QStringLiteral("山田").toUtf8().toBase64() +
                            "?= <yamada@korimo.test>\r\nSubject: =?UTF-8?B?" + subject.toUtf8().toBase64() +
                            "?=\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\nMessage-ID: <" + id +
                            "@korimo.test>\r\nMIME-Version: 1.0\r\n";
    const QByteArray text = "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                            QStringLiteral("資料を添付します。\r\n").toUtf8().toBase64() + "\r\n";
    if (!multipart)
        return head + text;
    return head + "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n" + text +
           "--b1\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           kAttachment.toBase64() + "\r\n--b1--\r\n";
}

} // namespace

class TestReceiveReal : public QObject {
    Q_OBJECT
    korimo::test::TestMailServers servers_;
    QTemporaryDir program_;

private slots:
    void listReadDeleteDeleteAll() {
        QVERIFY2(servers_.start(false), qPrintable(servers_.errorText()));
        QVERIFY(servers_.deliver(1, message(QStringLiteral("会議資料の送付"), "m1", true)));
        QVERIFY(servers_.deliver(1, message("second", "m2")));
        QVERIFY(servers_.deliver(2, message("third", "m3")));
        const QString folder = program_.path(), saveTo = folder + "/AttachedFiles";
        QVERIFY(QDir(folder).mkpath("DATA") && QDir(folder).mkpath("AttachedFiles"));
        const IniFile ini(folder);
        for (int i = 0; i < 2; ++i)
            QVERIFY(writeValue(ini, keys::Servers, "pop3s://127.0.0.1:" + QString::number(servers_.pop3sPort()), i) &&
                    writeValue(ini, keys::Accounts, servers_.user(i + 1), i) &&
                    writeValue(ini, keys::Passwords, servers_.password(i + 1), i));
        QVERIFY(writeValue(ini, keys::ReceiveSaveAttachments, 1) && writeValue(ini, keys::ReceiveFolder, saveTo));
        TransportOptions options;
        options.connectTimeoutMs = 5000;
        options.readTimeoutMs = 10000;
        options.extraCaFile = servers_.caFile();
        RealMailTransport transport(options);
        ScriptedDialogs dialogs;
        RecordingMainWindow main;
        QPointer<frmReceiveKR> w = new frmReceiveKR(folder, transport, dialogs, main);
        w->Form_Load();

        QVERIFY2(w->windowTitle() == QStringLiteral("受信"), qPrintable(w->ListView1->toolTip()));
        QCOMPARE(w->rows().size(), 3);
        QCOMPARE(w->rows().at(0).summary.subject, QStringLiteral("会議資料の送付"));
        QVERIFY(w->rows().at(0).summary.from.contains("yamada@korimo.test"));
        QCOMPARE(w->rows().at(2).ref.mailbox, 1);
        // Read: the body shown, the attachment saved with its exact bytes; nothing deleted.
        w->ListView1->setCurrentItem(w->ListView1->topLevelItem(0));
        w->ListView1_DblClick();
        QVERIFY2(w->Text1->toPlainText().contains(QStringLiteral("資料を添付します。")),
                 qPrintable(w->Text1->toPlainText()));
        QCOMPARE(dialogs.messages(), QStringList{QStringLiteral("添付ファイルを保存しました")});
        const QStringList saved = QDir(saveTo).entryList(QDir::Files);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(readFile(saveTo + "/" + saved.first()), kAttachment);
        QCOMPARE(servers_.maildirFiles(1).size(), 2);
        // Delete the second message of mailbox 1, then all.
        w->ListView1->setCurrentItem(w->ListView1->topLevelItem(1));
        dialogs.answers << true << true;
        w->Command1_Click();
        QCOMPARE(servers_.maildirFiles(1).size(), 1);
        QCOMPARE(w->rows().size(), 2);
        w->Command3_Click();
        QCOMPARE(w->rows().size(), 0);
        QCOMPARE(servers_.maildirFiles(1).size() + servers_.maildirFiles(2).size(), 0);
        QCOMPARE(dialogs.messages().size(), 1); // no refusal, no stop
        w->Command2_Click();
        QTRY_VERIFY(w.isNull());
        QCOMPARE(main.events, (QStringList{"restore", "status:", "focus"}));
    }
};

QTEST_MAIN(TestReceiveReal)
#include "tst_receivereal.moc"
