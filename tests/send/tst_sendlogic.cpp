// The send checks without a window: their order, the recipients, the body's line ends.
#include "sendLogic.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;

class TestSendLogic : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    // Each row spoils a complete form: attachment, subject, body, server, selected rows, sender.
    // "Empty" means no characters: blanks pass.
    void checksInOrder_data() {
        QTest::addColumn<QStringList>("form"); // attach ("1"/"0"), attachment, subject, body, server, rows, sender
        QTest::addColumn<int>("expected");
        QTest::newRow("ticked, no path") << QStringList{"1", "", "", "", "", "", ""}
                                         << int(SendCheck::AttachmentMissing);
        QTest::newRow("ticked, missing") << QStringList{"1", "no.txt", "s", "b", "h", "0", "f"}
                                         << int(SendCheck::AttachmentMissing);
        QTest::newRow("a folder passes") << QStringList{"1", ".", "", "", "", "", ""} << int(SendCheck::SubjectEmpty);
        QTest::newRow("unticked, not tested")
            << QStringList{"0", "no.txt", "", "", "", "", ""} << int(SendCheck::SubjectEmpty);
        QTest::newRow("blank subject") << QStringList{"0", "", " ", "", "", "", ""} << int(SendCheck::BodyEmpty);
        QTest::newRow("blank body") << QStringList{"0", "", "s", " ", "", "", ""} << int(SendCheck::ServerEmpty);
        QTest::newRow("no recipient") << QStringList{"0", "", "s", "b", "h", "", ""} << int(SendCheck::NoRecipient);
        QTest::newRow("sender last") << QStringList{"0", "", "s", "b", "h", "0", ""} << int(SendCheck::SenderEmpty);
        QTest::newRow("complete") << QStringList{"1", ".", "s", "a\nb\r\nc", "h", "3,0,1", "f"} << int(SendCheck::Ok);
    }
    void checksInOrder() {
        QFETCH(QStringList, form);
        QFETCH(int, expected);
        SendForm f{form[0] == "1",
                   form[1].isEmpty() ? QString() : dir_.filePath(form[1]),
                   form[2],
                   form[3],
                   form[4],
                   QStringList{"a0@x.jp", "", "a2@x.jp", "a3@x.jp"},
                   QList<bool>(4, false),
                   form[6]};
        for (const QString& r : form[5].split(',', Qt::SkipEmptyParts))
            f.selected[r.toInt()] = true;
        const SendValidation v = validateSend(f);
        QCOMPARE(int(v.check), expected);
        if (v.check == SendCheck::Ok) { // list order, an empty address kept; CR LF line ends
            QCOMPARE(v.request.recipients, (QStringList{"a0@x.jp", "", "a3@x.jp"}));
            QCOMPARE(v.request.body, QStringLiteral("a\r\nb\r\nc"));
            QCOMPARE(v.request.attachment, f.attachment);
        }
        f.attach = false; // an unticked attachment never goes
        QVERIFY(validateSend(f).request.attachment.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSendLogic)
#include "tst_sendlogic.moc"
