// The receive window's rules without a display: rows of a listing, read messages, the resize rule,
// proposed file names and the atomic write of a saved body.
#include "receiveLogic.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;
using namespace korimo::receive;

class TestReceiveLogic : public QObject {
    Q_OBJECT
private slots:
    void rowsTakeTheirRefFromTheListing() {
        const MessageSummary a{7, "u7", "a", "x", "d"}, b{9, "u9", "b", "y", "d"};
        const QList<MailOutcome<Listing>> listings{Listing{{a}, {}}, MailError{MailErrorKind::Unreachable, {}},
                                                   Listing{{}, {}}, Listing{{b, a}, {}}};
        const QList<Row> rows = rowsOf(listings);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0).ref, (MessageRef{0, 7, "u7"}));
        QCOMPARE(rows.at(1).ref, (MessageRef{3, 9, "u9"}));
        QCOMPARE(rows.at(2).ref, (MessageRef{3, 7, "u7"}));
        QVERIFY(rowKey(rows.at(0)) != rowKey(rows.at(2))); // same message, other mailbox
        QCOMPARE(firstPending({"new", "k2"}, {"k1", "k2"}), 1);
        QCOMPARE(firstPending({"new"}, {"k1"}), -1);
    }

    void readMessageIsShown_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QList<SavedAttachment>>("attachments");
        QTest::addColumn<bool>("omitted");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("shownStart");
        const SavedAttachment saved{"a.pdf", true, {}}, unsaved{"b.png", false, {}},
            failed{"c.zip", false, "disk full"};
        QTest::newRow("plain") << false << QList<SavedAttachment>{} << false << int(Attachments::None) << "body";
        QTest::newRow("present") << false << QList{unsaved} << false << int(Attachments::Present) << "body";
        QTest::newRow("saved") << true << QList{saved, failed} << false << int(Attachments::Saved)
                               << "[添付ファイル「c.zip」";
        QTest::newRow("none saved") << true << QList{failed} << false << int(Attachments::None)
                                    << "[添付ファイル「c.zip」";
        QTest::newRow("cut short") << false << QList<SavedAttachment>{} << true << int(Attachments::None)
                                   << "[このメール";
    }
    void readMessageIsShown() {
        QFETCH(bool, save);
        QFETCH(QList<SavedAttachment>, attachments);
        QFETCH(bool, omitted);
        QFETCH(int, kind);
        QFETCH(QString, shownStart);
        const MailMessage m{"s", "f", "d", "body", attachments, omitted};
        QCOMPARE(int(attachmentsOf(m, save)), kind);
        QVERIFY2(shownBody(m).startsWith(shownStart) && shownBody(m).endsWith("body"), qPrintable(shownBody(m)));
    }

    void resizeRule_data() {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<Layout>("expected");
        QTest::newRow("9000 wide") << 9000 << 6105 << Layout{8700, 8700, 3600, 3015};
        QTest::newRow("5400 keeps widths") << 5400 << 6105 << Layout{1000, 1100, 1200, 3015};
        QTest::newRow("5401 changes them") << 5401 << 6105 << Layout{5101, 5101, 1, 3015};
        QTest::newRow("3090 keeps height") << 9000 << 3090 << Layout{8700, 8700, 3600, 1300};
    }
    void resizeRule() {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(Layout, expected);
        QCOMPARE(applyResize(Layout{1000, 1100, 1200, 1300}, w, h), expected);
    }

    void proposedNames_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("expected");
        QTest::newRow("japanese") << "会議の件"
                                  << "会議の件.txt";
        QTest::newRow("climbing") << "../../.bashrc"
                                  << "／..／.bashrc.txt";
        QTest::newRow("reserved") << "Re: x*y?\"<>|\\"
                                  << "Re： x＊y？”＜＞｜＼.txt";
        QTest::newRow("control and bidi") << QString("a\tb") + QChar(0x202e) + "c"
                                          << "a_b_c.txt";
        QTest::newRow("dots and blanks") << ". . "
                                         << "無題.txt";
        QTest::newRow("long") << QString(300, QChar(u'あ')) << QString(66, QChar(u'あ')) + ".txt";
        QTest::newRow("surrogates whole") << QString::fromUtf8("\xF0\x9F\x98\x80").repeated(60)
                                          << QString::fromUtf8("\xF0\x9F\x98\x80").repeated(50) + ".txt";
    }
    void proposedNames() {
        QFETCH(QString, subject);
        QFETCH(QString, expected);
        QCOMPARE(proposedFileName(subject), expected);
    }

    void atomicWriteReplacesOrLeavesAlone() {
        QTemporaryDir dir;
        const QString path = dir.filePath("body.txt");
        QCOMPARE(writeFileAtomically(path, "first, longer content"), QString());
        QCOMPARE(writeFileAtomically(path, "second"), QString());
        QVERIFY(!writeFileAtomically(dir.filePath("body.txt/x"), "x").isEmpty()); // fails for root too
        QVERIFY(!writeFileAtomically(dir.path(), "x").isEmpty());                 // a folder is no file
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("second")); // replaced, not overlaid
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"body.txt"});
    }
};

QTEST_GUILESS_MAIN(TestReceiveLogic)
#include "tst_receivelogic.moc"
