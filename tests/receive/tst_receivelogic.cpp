// The receive window's display-free rules: message numbers, read results, texts, the resize rule,
// the summary cutting, proposed file names and the saved body's bytes.
#include "cp932.h"
#include "receiveLogic.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace korimo;
using namespace korimo::receive;

Q_DECLARE_METATYPE(std::optional<korimo::receive::MessageRef>)
Q_DECLARE_METATYPE(korimo::MailResult)
Q_DECLARE_METATYPE(korimo::receive::Attachments)

class TestReceiveLogic : public QObject {
    Q_OBJECT
private slots:
    void messageNumbers_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("selected");
        QTest::addColumn<std::optional<MessageRef>>("expected");
        const QStringList twoFour{"2", "2", "4", "4", "4"};
        QTest::newRow("fifth of 2,2,4,4,4") << twoFour << 4 << std::optional(MessageRef{3, 3});
        QTest::newRow("first of 2,2,4,4,4") << twoFour << 0 << std::optional(MessageRef{1, 1});
        QTest::newRow("first of block 4") << twoFour << 2 << std::optional(MessageRef{3, 1});
        QTest::newRow("third of 1,3,3") << QStringList{"1", "3", "3"} << 2 << std::optional(MessageRef{2, 2});
        QTest::newRow("single row") << QStringList{"5"} << 0 << std::optional(MessageRef{4, 1});
        QTest::newRow("nothing selected") << twoFour << -1 << std::optional<MessageRef>();
        QTest::newRow("beyond the list") << twoFour << 5 << std::optional<MessageRef>();
        QTest::newRow("empty list") << QStringList{} << 0 << std::optional<MessageRef>();
        QTest::newRow("not a mailbox") << QStringList{"x"} << 0 << std::optional<MessageRef>();
        QTest::newRow("mailbox 0") << QStringList{"0"} << 0 << std::optional<MessageRef>();
        QTest::newRow("mailbox 6") << QStringList{"6"} << 0 << std::optional<MessageRef>();
    }
    void messageNumbers() {
        QFETCH(QStringList, rows);
        QFETCH(int, selected);
        QFETCH(std::optional<MessageRef>, expected);
        const std::optional<MessageRef> got = messageRef(rows, selected);
        QCOMPARE(got.has_value(), expected.has_value());
        if (got)
            QCOMPARE(*got, *expected);
    }

    void commandsAndTexts() {
        QCOMPARE(saveCommand(3), QStringLiteral("SAVE 3"));
        QCOMPARE(deleteCommand(12), QStringLiteral("DELE 12"));
        QCOMPARE(fieldList(true), QStringLiteral("subject:from:date:"));
        QCOMPARE(fieldList(false), QStringLiteral("subject:from:date:nofile:"));
        QCOMPARE(deleteQuestion("Hello"), QStringLiteral("「Hello」\r\n　をメールボックスから削除します"));
        QVERIFY(isRefusal(MailResult::text("-ERR [AUTH] PASSWORD wrong")));
        QVERIFY(!isRefusal(MailResult::text("-ERR password wrong"))); // case-sensitive
        QVERIFY(!isRefusal(MailResult::array({"PASSWORD"})));
        QVERIFY(fetchFailureText(MailResult::text("-ERR no such message")).endsWith("-ERR no such message"));
        QVERIFY(!fetchFailureText(MailResult::text(QString())).isEmpty());
        QVERIFY(!fetchFailureText(MailResult::array({})).isEmpty());
        const QString stuck = deleteAllStuckText(1, MailResult::text("-ERR locked"));
        QVERIFY(stuck.contains("2"));
        QVERIFY(stuck.contains("-ERR locked"));
    }

    void stillListedBeforeDeleting_data() {
        QTest::addColumn<MailResult>("listing");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("expected");
        const MailResult abc = MailResult::array({"a", "b", "c"});
        QTest::newRow("same") << abc << 2 << int(StillListed::Same);
        QTest::newRow("last") << MailResult::array({"x", "a", "b"}) << 3 << int(StillListed::Same);
        QTest::newRow("moved up") << MailResult::array({"a", "c", "b"}) << 2 << int(StillListed::Changed);
        QTest::newRow("gone") << MailResult::array({"a"}) << 2 << int(StillListed::Changed);
        QTest::newRow("emptied") << MailResult::array({}) << 1 << int(StillListed::Changed);
        QTest::newRow("refused") << MailResult::text("-ERR PASSWORD") << 1 << int(StillListed::Refused);
        QTest::newRow("unreachable") << MailResult::text("timed out") << 1 << int(StillListed::Failed);
    }
    void stillListedBeforeDeleting() {
        QFETCH(MailResult, listing);
        QFETCH(int, number);
        QFETCH(int, expected);
        QCOMPARE(int(stillListed(listing, number, "b")), expected);
    }

    void firstPendingRow() {
        QCOMPARE(firstPending({"1a", "1b", "2c"}, {"1a", "1b", "2c"}), 0);
        QCOMPARE(firstPending({"1new", "2c"}, {"2c"}), 1);
        QCOMPARE(firstPending({"1new"}, {"2c"}), -1);
        QCOMPARE(firstPending({}, {"2c"}), -1);
    }

    void readResults_data() {
        QTest::addColumn<MailResult>("result");
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("shown"); // "<keep>" when the body box keeps its text
        QTest::addColumn<Attachments>("attachments");
        QTest::newRow("body") << MailResult::array({"Body: Hello"}) << false << "Hello" << Attachments::None;
        QTest::newRow("fields then body")
            << MailResult::array({"Subject: s", "From: f", "Body: text"}) << false << "text" << Attachments::None;
        QTest::newRow("last shown stays")
            << MailResult::array({"Body: text", "Date: x"}) << false << "Date: x" << Attachments::None;
        QTest::newRow("two files saved") << MailResult::array({"File: a.pdf", "File: b.png", "Body: b"}) << true << "b"
                                         << Attachments::Saved;
        QTest::newRow("file present") << MailResult::array({"File: a.pdf", "Body: b"}) << false << "b"
                                      << Attachments::Present;
        QTest::newRow("keyword inside") << MailResult::array({"x-Body: yz"}) << false << ": yz" << Attachments::None;
        QTest::newRow("short body") << MailResult::array({"Body"}) << false << "" << Attachments::None;
        QTest::newRow("not an array") << MailResult::text("cannot read") << true << "<keep>" << Attachments::None;
        QTest::newRow("empty array") << MailResult::array({}) << true << "<keep>" << Attachments::None;
    }
    void readResults() {
        QFETCH(MailResult, result);
        QFETCH(bool, save);
        QFETCH(QString, shown);
        QFETCH(Attachments, attachments);
        const ReadOutcome out = interpretRead(result, save);
        if (shown == "<keep>") {
            QVERIFY(!out.shown.has_value());
        } else {
            QVERIFY(out.shown.has_value());
            QCOMPARE(*out.shown, shown);
        }
        QCOMPARE(out.attachments, attachments);
    }

    void attachmentTexts() {
        QCOMPARE(attachmentMessage(Attachments::Saved), QStringLiteral("添付ファイルを保存しました"));
        QCOMPARE(attachmentMessage(Attachments::Present), QStringLiteral("添付ファイルがあります。"));
        QVERIFY(attachmentMessage(Attachments::None).isEmpty());
    }

    void statusLine_data() {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("expected");
        QTest::newRow("deleted") << true << 4 << "";
        QTest::newRow("deleted all") << true << 0 << "";
        QTest::newRow("four rows") << false << 4 << "　4通メールがあります";
        QTest::newRow("no rows") << false << 0 << "　メールはありません";
    }
    void statusLine() {
        QFETCH(bool, changed);
        QFETCH(int, rows);
        QFETCH(QString, expected);
        QCOMPARE(statusLineAfterClose(changed, rows), expected);
    }

    void resizeRule_data() {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<Layout>("expected");
        const Layout start{1000, 1100, 1200, 1300};
        QTest::newRow("default size") << 7845 << 6105 << Layout{7545, 7545, 2445, 3015};
        QTest::newRow("9000 wide") << 9000 << 6105 << Layout{8700, 8700, 3600, 3015};
        QTest::newRow("5400 keeps widths") << 5400 << 6105 << Layout{1000, 1100, 1200, 3015};
        QTest::newRow("5401 changes them") << 5401 << 6105 << Layout{5101, 5101, 1, 3015};
        QTest::newRow("3090 keeps height") << 9000 << 3090 << Layout{8700, 8700, 3600, 1300};
        QTest::newRow("minimised keeps all") << 0 << 0 << start;
    }
    void resizeRule() {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(Layout, expected);
        QCOMPARE(applyResize(Layout{1000, 1100, 1200, 1300}, w, h), expected);
    }

    void listingFailuresAreNamed() {
        const QStringList servers{"a", "", "c", "d", ""};
        const QList<MailResult> results{MailResult::array({}), MailResult::text(""), MailResult::text("-ERR auth"),
                                        MailResult::array({"x"}), MailResult::text("")};
        const QList<ListingFailure> failures = listingFailures(servers, results);
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures.first(), (ListingFailure{2, "-ERR auth"}));
        QCOMPARE(captionFor({}), QStringLiteral("受信"));
        QVERIFY(captionFor(failures).startsWith(QStringLiteral("受信")));
        QVERIFY(captionFor(failures).contains("3"));
        QVERIFY(failureDetails(failures).contains("-ERR auth"));
        // A configured mailbox failing without any text is still a failure.
        QCOMPARE(listingFailures({"a"}, {MailResult::text("")}).size(), 1);
    }

    void proposedNames_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Hello"
                               << "Hello.txt";
        QTest::newRow("japanese") << "会議の件"
                                  << "会議の件.txt";
        QTest::newRow("slash") << "a/b"
                               << "a／b.txt";
        QTest::newRow("climbing") << "../../.bashrc"
                                  << "／..／.bashrc.txt";
        QTest::newRow("windows reserved") << "Re: x*y?\"<>|\\"
                                          << "Re： x＊y？”＜＞｜＼.txt";
        QTest::newRow("control") << QString("a\tb\nc") << "a_b_c.txt";
        QTest::newRow("bidi") << QString("ab") + QChar(0x202e) + "txt.exe"
                              << "ab_txt.exe.txt";
        QTest::newRow("empty") << ""
                               << "無題.txt";
        QTest::newRow("dots") << ".."
                              << "無題.txt";
        QTest::newRow("blanks") << "   "
                                << "無題.txt";
    }
    void proposedNames() {
        QFETCH(QString, subject);
        QFETCH(QString, expected);
        QCOMPARE(proposedFileName(subject), expected);
    }

    void longNamesFitAFileSystem() {
        const QString name = proposedFileName(QString(300, QChar(u'あ')));
        QVERIFY(name.toUtf8().size() <= 255);
        QVERIFY(name.endsWith(".txt"));
        // Surrogate pairs are never split.
        const QString emoji = proposedFileName(QString::fromUtf8("\xF0\x9F\x98\x80").repeated(100));
        QVERIFY(emoji.toUtf8().size() <= 255);
        QVERIFY(!emoji.toUtf8().contains("\xEF\xBF\xBD"));
        QCOMPARE(QString::fromUtf8(emoji.toUtf8()), emoji);
    }

    void bodyBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("cp932");
        QTest::newRow("one line") << "abc" << QByteArray("abc\r\n");
        QTest::newRow("lf lines") << "a\nb" << QByteArray("a\r\nb\r\n");
        QTest::newRow("crlf kept single") << "a\r\nb" << QByteArray("a\r\nb\r\n");
        QTest::newRow("lone cr") << "a\rb" << QByteArray("a\r\nb\r\n");
        QTest::newRow("japanese, backslash, circled") << "あ\\①~" << QByteArray("\x82\xa0\\\x87\x40~\r\n");
        QTest::newRow("empty") << "" << QByteArray("\r\n");
    }
    void bodyBytes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, cp932);
        const BodyBytes b = encodeBody(text);
        QCOMPARE(b.cp932, cp932);
        QVERIFY(b.unencodable.isEmpty());
        QVERIFY(b.utf8.isEmpty());
    }

    void unencodableBodyOffersUtf8() {
        const QString text = QString::fromUtf8("𠮷野家 \xF0\x9F\x8D\xA3\nあ");
        const BodyBytes b = encodeBody(text);
        QCOMPARE(b.unencodable, QString::fromUtf8("𠮷\xF0\x9F\x8D\xA3"));
        QVERIFY(b.utf8.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QString::fromUtf8(b.utf8.mid(3)), QString::fromUtf8("𠮷野家 \xF0\x9F\x8D\xA3\r\nあ\r\n"));
        QVERIFY(utf8Question(b.unencodable).contains(QString::fromUtf8("𠮷")));
    }

    void atomicWrite() {
        QTemporaryDir dir;
        const QString path = dir.filePath("body.txt");
        QCOMPARE(writeFileAtomically(path, "first, longer content"), QString());
        QCOMPARE(writeFileAtomically(path, "second"), QString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("second")); // replaced, not overlaid
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"body.txt"});
    }

    void unwritablePlacesAreReported() {
        QTemporaryDir dir;
        QVERIFY(!writeFileAtomically(dir.filePath("no/such/folder/body.txt"), "x").isEmpty());
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(!writeFileAtomically(dir.filePath("plain/body.txt"), "x").isEmpty()); // fails for root too
        QVERIFY(!writeFileAtomically(dir.path(), "x").isEmpty());                     // a folder is no file
        if (geteuid() != 0) {
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            const QString failure = writeFileAtomically(dir.filePath("body.txt"), "x");
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(!failure.isEmpty());
            QVERIFY(!QFile::exists(dir.filePath("body.txt")));
        }
    }
};

QTEST_GUILESS_MAIN(TestReceiveLogic)
#include "tst_receivelogic.moc"
