// The send checks without a window: their order, the recipient text, the body's line ends.
#include "sendLogic.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;

Q_DECLARE_METATYPE(korimo::SendCheck)

namespace {

QStringList twentyAddresses() {
    QStringList a;
    for (int i = 0; i < 20; ++i)
        a << QStringLiteral("user%1@example.jp").arg(i);
    return a;
}

QList<bool> rows(std::initializer_list<int> selected, int count = 20) {
    QList<bool> s(count, false);
    for (int r : selected)
        s[r] = true;
    return s;
}

} // namespace

class TestSendLogic : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QFile f(dir_.filePath(QStringLiteral("添付.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("folder")));
    }

    // Each row fills a complete form, then spoils some fields; the first check in order must fail.
    void checksInOrder_data() {
        QTest::addColumn<bool>("attach");
        QTest::addColumn<QString>("attachment"); // relative to the temp dir; "" stays ""
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QList<bool>>("selected");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<SendCheck>("expected");

        const QString s = QStringLiteral("件名"), b = QStringLiteral("本文"), h = QStringLiteral("smtp.example.jp"),
                      f = QStringLiteral("me@example.jp");
        const QList<bool> one = rows({3});
        const QList<bool> none = rows({});
        QTest::newRow("all empty, attach ticked, no path") << true << ""
                                                           << ""
                                                           << ""
                                                           << "" << none << "" << SendCheck::AttachmentMissing;
        QTest::newRow("attach ticked, missing file")
            << true << "nothing.txt" << s << b << h << one << f << SendCheck::AttachmentMissing;
        QTest::newRow("attach ticked, a folder passes, subject next") << true << "folder"
                                                                      << ""
                                                                      << ""
                                                                      << "" << none << "" << SendCheck::SubjectEmpty;
        QTest::newRow("attach ticked, matching wildcard passes")
            << true << "*.txt" << s << b << h << one << f << SendCheck::Ok;
        QTest::newRow("attach unticked, missing file not tested") << false << "nothing.txt"
                                                                  << ""
                                                                  << ""
                                                                  << "" << none << "" << SendCheck::SubjectEmpty;
        QTest::newRow("subject before body") << false << ""
                                             << ""
                                             << "" << h << one << f << SendCheck::SubjectEmpty;
        QTest::newRow("blank subject passes") << false << ""
                                              << "  "
                                              << ""
                                              << "" << none << "" << SendCheck::BodyEmpty;
        QTest::newRow("body before server") << false << "" << s << ""
                                            << "" << none << "" << SendCheck::BodyEmpty;
        QTest::newRow("blank body passes") << false << "" << s << " "
                                           << "" << none << "" << SendCheck::ServerEmpty;
        QTest::newRow("server before recipients")
            << false << "" << s << b << "" << none << "" << SendCheck::ServerEmpty;
        QTest::newRow("recipients before sender") << false << "" << s << b << h << none << "" << SendCheck::NoRecipient;
        QTest::newRow("sender last") << false << "" << s << b << h << one << "" << SendCheck::SenderEmpty;
        QTest::newRow("complete") << false << "" << s << b << h << one << f << SendCheck::Ok;
        QTest::newRow("complete with attachment") << true << "添付.txt" << s << b << h << one << f << SendCheck::Ok;
    }
    void checksInOrder() {
        QFETCH(bool, attach);
        QFETCH(QString, attachment);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QString, server);
        QFETCH(QList<bool>, selected);
        QFETCH(QString, sender);
        QFETCH(SendCheck, expected);

        SendForm form;
        form.attach = attach;
        form.attachment = attachment.isEmpty() ? QString() : dir_.filePath(attachment);
        form.subject = subject;
        form.body = body;
        form.server = server;
        form.addresses = twentyAddresses();
        form.selected = selected;
        form.sender = sender;
        const SendValidation v = validateSend(form);
        QCOMPARE(v.check, expected);
        if (expected == SendCheck::Ok) {
            QCOMPARE(v.request.server, server);
            QCOMPARE(v.request.sender, sender);
            QCOMPARE(v.request.subject, subject);
            QCOMPARE(v.request.recipients, QStringLiteral("user3@example.jp"));
            QCOMPARE(v.request.attachment, attach ? form.attachment : QString());
        }
    }

    void attachmentGoesOnlyWhenTicked() {
        SendForm form{false,
                      dir_.filePath(QStringLiteral("添付.txt")),
                      QStringLiteral("s"),
                      QStringLiteral("b"),
                      QStringLiteral("h"),
                      twentyAddresses(),
                      rows({0}),
                      QStringLiteral("f")};
        QCOMPARE(validateSend(form).request.attachment, QString());
        form.attach = true;
        QCOMPARE(validateSend(form).request.attachment, form.attachment);
        // The test goes through the given existence test with the path unchanged.
        QStringList asked;
        const SendValidation v = validateSend(form, [&](const QString& p) {
            asked << p;
            return 0;
        });
        QCOMPARE(v.check, SendCheck::AttachmentMissing);
        QCOMPARE(asked, QStringList{form.attachment});
    }

    void messages_data() {
        QTest::addColumn<SendCheck>("check");
        QTest::addColumn<QString>("text");
        QTest::newRow("ok") << SendCheck::Ok << "";
        QTest::newRow("attachment") << SendCheck::AttachmentMissing << "添付ファイルが存在しません";
        QTest::newRow("subject") << SendCheck::SubjectEmpty << "";
        QTest::newRow("body") << SendCheck::BodyEmpty << "本文が空です";
        QTest::newRow("server") << SendCheck::ServerEmpty << "SMTPが空です";
        QTest::newRow("recipient") << SendCheck::NoRecipient << "宛先が空です";
        QTest::newRow("sender") << SendCheck::SenderEmpty << "あなたのメールアドレスが空です";
    }
    void messages() {
        QFETCH(SendCheck, check);
        QFETCH(QString, text);
        QCOMPARE(sendCheckMessage(check), text);
    }

    void recipients_data() {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QList<bool>>("selected");
        QTest::addColumn<bool>("any");
        QTest::addColumn<QString>("expected");
        const QStringList a = twentyAddresses();
        QStringList gaps = a;
        gaps[1].clear();
        gaps[5].clear();
        gaps[19].clear();
        QTest::newRow("none") << a << rows({}) << false << "";
        QTest::newRow("one") << a << rows({7}) << true << "user7@example.jp";
        QTest::newRow("list order") << a << rows({19, 2, 0}) << true
                                    << "user0@example.jp\tuser2@example.jp\tuser19@example.jp";
        QTest::newRow("empty between") << gaps << rows({0, 1, 2}) << true << "user0@example.jp\t\tuser2@example.jp";
        QTest::newRow("two empty in a row")
            << gaps << rows({0, 1, 5, 6}) << true << "user0@example.jp\t\t\tuser6@example.jp";
        QTest::newRow("only an empty one counts") << gaps << rows({5}) << true << "";
        QTest::newRow("empty last") << gaps << rows({18, 19}) << true << "user18@example.jp\t";
        QTest::newRow("all twenty") << a << rows({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19})
                                    << true << a.join(u'\t');
    }
    void recipients() {
        QFETCH(QStringList, addresses);
        QFETCH(QList<bool>, selected);
        QFETCH(bool, any);
        QFETCH(QString, expected);
        const std::optional<QString> r = joinRecipients(addresses, selected);
        QCOMPARE(r.has_value(), any);
        if (any)
            QCOMPARE(*r, expected);
    }

    void selectedEmptyAddressIsNotNoRecipient() {
        QStringList a = twentyAddresses();
        a[4].clear();
        const SendForm form{false, {},        QStringLiteral("s"), QStringLiteral("b"), QStringLiteral("h"),
                            a,     rows({4}), QStringLiteral("f")};
        const SendValidation v = validateSend(form);
        QCOMPARE(v.check, SendCheck::Ok);
        QCOMPARE(v.request.recipients, QString());
    }

    void bodyLineEnds_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no break") << "本文"
                                  << "本文";
        QTest::newRow("lf") << "一行目\n二行目"
                            << "一行目\r\n二行目";
        QTest::newRow("already crlf") << "a\r\nb"
                                      << "a\r\nb";
        QTest::newRow("mixed") << "a\r\nb\nc"
                               << "a\r\nb\r\nc";
        QTest::newRow("leading and trailing") << "\na\n"
                                              << "\r\na\r\n";
        QTest::newRow("empty lines") << "a\n\n\nb"
                                     << "a\r\n\r\n\r\nb";
        QTest::newRow("lone cr kept") << "a\rb"
                                      << "a\rb";
    }
    void bodyLineEnds() {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QCOMPARE(bodyWithCrLf(body), expected);
        QCOMPARE(bodyWithCrLf(bodyWithCrLf(body)), expected); // exactly once
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestSendLogic)
#include "tst_sendlogic.moc"
