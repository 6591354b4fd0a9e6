// The send window through the real transport into Postfix and a Maildir on loopback: a Japanese
// message with a binary attachment reaches two recipients intact (read back with the transport's
// reader), and a refused recipient keeps the message in the window.
#include "frmTransKR.h"
#include "iniKeys.h"
#include "realMailTransport.h"
#include "recordingMainWindow.h"
#include "scriptedDialogs.h"
#include "testFiles.h"
#include "testMailServers.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using korimo::test::TestMailServers;

class TestSendReal : public QObject {
    Q_OBJECT
    TestMailServers servers_;

    // The send window on a fresh program folder sending the body to the addresses; what it told.
    QStringList send(const QString& subject, const QStringList& to, const QString& body, const QString& attachment,
                     QString* kept = nullptr) {
        QTemporaryDir program;
        const IniFile ini(program.path());
        writeValue(ini, keys::SmtpServer, QStringLiteral("smtp://%1:%2").arg(servers_.host()).arg(servers_.smtpPort()));
        writeValue(ini, keys::SenderAddress, servers_.address(1));
        writeValue(ini, keys::SendSubjects, subject, 0);
        for (int i = 0; i < to.size(); ++i)
            writeValue(ini, keys::SendAddresses, to.at(i), i);
        TransportOptions o;
        o.connectTimeoutMs = 5000;
        o.readTimeoutMs = 15000;
        o.extraCaFile = servers_.caFile();
        RealMailTransport transport(o);
        ScriptedDialogs dialogs;
        RecordingMainWindow main;
        QPointer<frmTransKR> w = new frmTransKR(program.path(), transport, dialogs, main);
        w->Form_Load();
        for (int i = 0; i < to.size(); ++i)
            w->List1->item(i)->setSelected(true);
        w->Text4->setPlainText(body);
        w->Check2->setChecked(!attachment.isEmpty());
        w->Text5->setText(attachment);
        w->Command1_Click();
        if (kept)
            *kept = w->Text4->toPlainText();
        delete w.data();
        return dialogs.messages();
    }

private slots:
    void initTestCase() {
        if (!TestMailServers::canRunSmtp()) {
            QVERIFY2(!qEnvironmentVariableIsSet("CI"), "CI runs as root, where Postfix must start");
            QSKIP("Postfix needs root (see README, Testing)");
        }
        QVERIFY2(servers_.start(true), qPrintable(servers_.errorText()));
        QVERIFY(servers_.hasSmtp());
    }

    // NEC row 13 (①) and "～" are CP932 characters plain JIS lacks; they must arrive as typed.
    void japaneseMessageWithAttachmentArrives() {
        const QString subject = QStringLiteral("定例会議のお知らせ（第２回）①");
        const QString body = QStringLiteral("皆様\n\n来週の会議は①会議室、資料は②です。\n～以上～\n");
        QTemporaryDir files;
        QByteArray bytes;
        for (int i = 0; i < 8192; ++i)
            bytes.append(char((i * 7919) % 256)); // every byte value, CR and LF among them
        const QString path = files.filePath(QStringLiteral("会議資料 ①.bin"));
        QVERIFY(writeFile(path, bytes));
        const QStringList told = send(subject, {servers_.address(2), servers_.address(3)}, body, path);
        QVERIFY2(told == QStringList{QStringLiteral("送信終了しました")},
                 qPrintable(told.join(u'|') + servers_.logText()));
        RealMailTransport reader;
        for (int user : {2, 3}) {
            QVERIFY2(servers_.waitForMessages(user, 1, 20000), qPrintable(servers_.logText()));
            QTemporaryDir out;
            const MailOutcome<MailMessage> got = reader.read(servers_.maildirFiles(user).last(), true, out.path());
            QVERIFY2(got.ok(), qPrintable(got.ok() ? QString() : describe(got.error())));
            QCOMPARE(got.value().subject, subject);
            QCOMPARE(got.value().body.trimmed(), body.trimmed());
            QCOMPARE(got.value().attachments.size(), 1);
            QCOMPARE(got.value().attachments.at(0).fileName, QStringLiteral("会議資料 ①.bin"));
            QCOMPARE(readFile(out.filePath(got.value().attachments.at(0).fileName)), bytes);
        }
    }

    // A refused recipient: the window says why and keeps the message. A local part beyond ASCII
    // reaches Postfix under SMTPUTF8 and is refused as unknown (550), not for want of SMTPUTF8 (553).
    void refusedRecipientKeepsTheMessage_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("code");
        QTest::newRow("other domain") << "someone@elsewhere.example"
                                      << "554";
        QTest::newRow("unknown non-ASCII user")
            << QStringLiteral("用户@") + servers_.address(1).section(u'@', 1) << "550";
    }
    void refusedRecipientKeepsTheMessage() {
        QFETCH(QString, address);
        QFETCH(QString, code);
        QString kept;
        const QStringList told = send(QStringLiteral("届かない件名"), {address}, QStringLiteral("本文"), {}, &kept);
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.at(0).startsWith(QStringLiteral("エラー")) && told.at(0).contains(code), qPrintable(told.at(0)));
        QCOMPARE(kept, QStringLiteral("本文"));
    }
};

QTEST_MAIN(TestSendReal)
#include "tst_sendreal.moc"
