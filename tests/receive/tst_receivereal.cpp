// The receive window against a real Dovecot on loopback through the real transport: list two
// mailboxes, read a Japanese (ISO-2022-JP) multipart message and save its attachment, delete one
// message, delete all. Built only when the real transport is part of the build.
#include "dialogs.h"
#include "frmReceiveKR.h"
#include "iniKeys.h"
#include "mail/realMailTransport.h"
#include "recordingMainWindow.h"
#include "testMailServers.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <iconv.h>

using namespace korimo;

namespace {

QByteArray toIso2022jp(const QString& text) {
    iconv_t cd = iconv_open("ISO-2022-JP", "UTF-8");
    if (cd == iconv_t(-1))
        return {};
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 4 + 16, '\0');
    char* src = in.data();
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv(cd, nullptr, nullptr, &dst, &dstLeft); // back to ASCII at the end
    iconv_close(cd);
    if (r == size_t(-1))
        return {};
    out.truncate(out.size() - qsizetype(dstLeft));
    return out;
}

const QByteArray kAttachment = QByteArray("attached bytes\r\n\x00\x01\x02\xff end", 22);

QByteArray japaneseMultipart() {
    const QByteArray subject = "=?ISO-2022-JP?B?" + toIso2022jp(QStringLiteral("会議資料の送付")).toBase64() + "?=";
    const QByteArray body = toIso2022jp(QStringLiteral("山田です。\r\n資料を添付します。\r\n"));
    const QByteArray fileName = "=?UTF-8?B?" + QStringLiteral("資料.bin").toUtf8().toBase64() + "?=";
    return "From: =?UTF-8?B?" + QStringLiteral("山田").toUtf8().toBase64() +
           "?= <yamada@korimo.test>\r\n"
           "To: user1@korimo.test\r\n"
           "Subject: " +
           subject +
           "\r\n"
           "Date: Mon, 7 Dec 2026 10:00:00 +0900\r\n"
           "Message-ID: <jp1@korimo.test>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
           "Content-Transfer-Encoding: 7bit\r\n\r\n" +
           body +
           "\r\n--b1\r\n"
           "Content-Type: application/octet-stream\r\n"
           "Content-Disposition: attachment; filename=\"" +
           fileName +
           "\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           kAttachment.toBase64() + "\r\n--b1--\r\n";
}

QByteArray plainMessage(const QByteArray& subject, const QByteArray& id) {
    return "From: taro@korimo.test\r\nTo: user@korimo.test\r\nSubject: " + subject +
           "\r\nDate: Mon, 7 Dec 2026 11:00:00 +0900\r\nMessage-ID: <" + id + "@korimo.test>\r\n\r\nHello.\r\n";
}

} // namespace

class TestReceiveReal : public QObject {
    Q_OBJECT

    korimo::test::TestMailServers servers_;
    QTemporaryDir program_;

private slots:
    void initTestCase() {
        QVERIFY(program_.isValid());
        QVERIFY2(servers_.start(false), qPrintable(servers_.errorText()));
    }

    void listReadDeleteDeleteAll() {
        QVERIFY(servers_.deliver(1, japaneseMultipart()));
        QVERIFY(servers_.deliver(1, plainMessage("second", "p2")));
        QVERIFY(servers_.deliver(2, plainMessage("third", "p3")));

        const QString folder = program_.path();
        QVERIFY(QDir(folder).mkpath("DATA"));
        QVERIFY(QDir(folder).mkpath("AttachedFiles"));
        const QString saveTo = folder + "/AttachedFiles";
        const IniFile ini(folder);
        const QString server = "pop3s://127.0.0.1:" + QString::number(servers_.pop3sPort());
        for (int i = 0; i < 2; ++i) {
            QVERIFY(writeValue(ini, keys::Servers, server, i));
            QVERIFY(writeValue(ini, keys::Accounts, servers_.user(i + 1), i));
            QVERIFY(writeValue(ini, keys::Passwords, servers_.password(i + 1), i));
        }
        QVERIFY(writeValue(ini, keys::ReceiveSaveAttachments, 1));
        QVERIFY(writeValue(ini, keys::ReceiveFolder, saveTo));

        TransportOptions options;
        options.connectTimeoutMs = 5000;
        options.readTimeoutMs = 10000;
        options.extraCaFile = servers_.caFile();
        RealMailTransport transport(options);
        ScriptedDialogs dialogs;
        RecordingMainWindow main;
        QPointer<frmReceiveKR> w = new frmReceiveKR(folder, transport, dialogs, main);
        w->Form_Load();

        // List: both mailboxes, in mailbox order, the Japanese subject decoded.
        QVERIFY2(w->windowTitle() == QStringLiteral("受信"), qPrintable(w->ListView1->toolTip()));
        QCOMPARE(w->ListView1->topLevelItemCount(), 3);
        QStringList mailboxes, subjects;
        for (int i = 0; i < 3; ++i) {
            mailboxes << w->ListView1->topLevelItem(i)->text(0);
            subjects << w->ListView1->topLevelItem(i)->text(1);
        }
        QCOMPARE(mailboxes, (QStringList{"1", "1", "2"}));
        const int jp = int(subjects.indexOf(QStringLiteral("会議資料の送付")));
        QVERIFY2(jp >= 0, qPrintable(subjects.join(" | ")));
        QVERIFY(w->ListView1->topLevelItem(jp)->text(2).contains("yamada@korimo.test"));

        // Read: the body shown, the attachment saved with its exact bytes, the fetched file gone.
        w->ListView1->setCurrentItem(w->ListView1->topLevelItem(jp));
        w->ListView1_DblClick();
        QVERIFY2(w->Text1->toPlainText().contains(QStringLiteral("資料を添付します。")),
                 qPrintable(w->Text1->toPlainText()));
        QCOMPARE(dialogs.messages(), QStringList{QStringLiteral("添付ファイルを保存しました")});
        const QStringList saved = QDir(saveTo).entryList(QDir::Files);
        QCOMPARE(saved.size(), 1);
        QFile att(saveTo + "/" + saved.first());
        QVERIFY(att.open(QIODevice::ReadOnly));
        QCOMPARE(att.readAll(), kAttachment);
        QVERIFY(w->Command5->isEnabled());
        QCOMPARE(servers_.maildirFiles(1).size(), 2); // reading deletes nothing

        // Delete one: the other message of mailbox 1.
        const int other = jp == 0 ? 1 : 0;
        w->ListView1->setCurrentItem(w->ListView1->topLevelItem(other));
        dialogs.answers.enqueue(true);
        w->Command1_Click();
        QCOMPARE(w->ListView1->topLevelItemCount(), 2);
        QCOMPARE(w->ListView1->topLevelItem(0)->text(1), QStringLiteral("会議資料の送付"));
        QCOMPARE(servers_.maildirFiles(1).size(), 1);
        QCOMPARE(w->MailboxChanged, qint16(1));

        // Delete all.
        dialogs.answers.enqueue(true);
        w->Command3_Click();
        QCOMPARE(w->ListView1->topLevelItemCount(), 0);
        QCOMPARE(servers_.maildirFiles(1).size(), 0);
        QCOMPARE(servers_.maildirFiles(2).size(), 0);
        QCOMPARE(dialogs.messages().size(), 1); // no refusal, no stop

        w->Command2_Click();
        QTRY_VERIFY(w.isNull());
        QCOMPARE(main.events, (QStringList{"restore", "status:", "focus"}));
    }
};

QTEST_MAIN(TestReceiveReal)
#include "tst_receivereal.moc"
