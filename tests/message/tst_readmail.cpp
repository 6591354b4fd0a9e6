// Reading saved messages: decoding, attachments saved under safe names inside the chosen folder only,
// failures reported per attachment, and hostile structure that must neither crash nor hang.
#include "mimeReader.h"
#include "realMailTransport.h"
#include "safeFileName.h"
#include "testFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace korimo;

namespace {

QByteArray crlf(QByteArray text) {
    return text.replace("\n", "\r\n");
}
QByteArray text(const QByteArray& contentType, const QByteArray& body) {
    return "From: a@example.com\r\nSubject: test\r\nMIME-Version: 1.0\r\n" + contentType + "\r\n\r\n" + body;
}
// One text part and one attachment whose Content-Disposition line is given whole.
QByteArray withAttachment(const QByteArray& disposition, const QByteArray& data = "payload") {
    return crlf("Subject: files\nContent-Type: multipart/mixed; boundary=\"xyz\"\n\n--xyz\n\nthe body\n--xyz\n"
                "Content-Type: application/octet-stream\n" +
                disposition + "\nContent-Transfer-Encoding: base64\n\n" + data.toBase64() + "\n--xyz--\n");
}
QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestReadMail : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    QString folder_, outside_;
    RealMailTransport transport_;

    MailOutcome<MailMessage> read(const QByteArray& bytes, bool save = true) {
        const QString path = tmp_.filePath(QStringLiteral("message.eml"));
        return writeFile(path, bytes) ? transport_.read(path, save, folder_) : MailError{MailErrorKind::LocalFile, {}};
    }

private slots:
    void init() {
        folder_ = tmp_.filePath(QStringLiteral("attach"));
        outside_ = tmp_.filePath(QStringLiteral("outside"));
        QVERIFY(QDir(folder_).removeRecursively() && QDir(outside_).removeRecursively());
        QVERIFY(QDir().mkpath(folder_) && QDir().mkpath(outside_));
    }

    // The suggested name made safe; the file holds the bytes, in the folder and nowhere else.
    void attachmentNamesAreMadeSafe_data() {
        QTest::addColumn<QByteArray>("disposition");
        QTest::addColumn<QString>("savedAs");
        const auto row = [](const char* name, const QByteArray& d, const QString& s) {
            QTest::newRow(name) << "Content-Disposition: attachment" + d << s;
        };
        row("deep parent", "; filename=\"../../.bashrc\"", "bashrc");
        row("leading colon (a Qt resource path)", "; filename=\": base64\"", "base64");
        row("rfc 2231 encoded slash", "; filename*=utf-8''..%2F..%2Fq.txt", "q.txt");
        row("right-to-left override", "; filename*=utf-8''invoice%E2%80%AEfdp.exe", "invoicefdp.exe");
        row("rfc 2231 continuation", ";\r\n filename*0*=utf-8''%E6%97%A5;\r\n filename*1=.txt", "日.txt");
        row("raw cp932 name", "; filename=\"\x93\xFA\x96\x7B\x8C\xEA.txt\"", "日本語.txt");
        row("quoted semicolon and escaped quote", "; size=3; filename=\"a;\\\"b\\\".txt\"; x=y", "a;\"b\".txt");
        row("option-like name", "; filename=\"- .--rf\"", "rf");
        row("invisible characters", "; filename*=utf-8''a%E2%80%8B%E2%81%A6b%09c.txt", "abc.txt");
        row("over 255 bytes", "; filename*=utf-8''" + QByteArray("%E6%97%A5").repeated(100) + ".pdf",
            QString(83, QChar(0x65E5)) + ".pdf");
    }
    void attachmentNamesAreMadeSafe() {
        QFETCH(QByteArray, disposition);
        QFETCH(QString, savedAs);
        const QByteArray payload("\x00\x01\xFF binary \r\n data", 19);
        const auto r = read(withAttachment(disposition, payload));
        QVERIFY(r.ok() && r.value().attachments.size() == 1);
        QCOMPARE(r.value().attachments[0].fileName, savedAs);
        QVERIFY(r.value().attachments[0].saved);
        QCOMPARE(entries(folder_), QStringList{savedAs});
        QCOMPARE(readFile(QDir(folder_).filePath(savedAs)), payload);
        QCOMPARE(entries(outside_), QStringList());
        QCOMPARE(entries(tmp_.path()), QStringList({"attach", "message.eml", "outside"}));
    }

    // Neither an existing file nor a planted symlink (to a file outside, or dangling) is written through.
    void savingNeverReplacesOrFollows() {
        const QString victim = QDir(outside_).filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "precious") && writeFile(QDir(folder_).filePath(QStringLiteral("a (2).txt")), "old"));
        QCOMPARE(::symlink(victim.toUtf8().constData(), QDir(folder_).filePath(QStringLiteral("a.txt")).toUtf8()), 0);
        QCOMPARE(::symlink("/nonexistent/x", QDir(folder_).filePath(QStringLiteral("a (3).txt")).toUtf8()), 0);
        const QByteArray msg = withAttachment("Content-Disposition: attachment; filename=a.txt", "new");
        QCOMPARE(read(msg).value().attachments[0].fileName, QStringLiteral("a (4).txt"));
        QCOMPARE(read(msg).value().attachments[0].fileName, QStringLiteral("a (5).txt"));
        QCOMPARE(readFile(victim) + readFile(QDir(folder_).filePath(QStringLiteral("a (2).txt"))), "preciousold");
        QCOMPARE(readFile(QDir(folder_).filePath(QStringLiteral("a (5).txt"))), QByteArray("new"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/nonexistent/x")));
        QVERIFY(numberedFileName(QString(85, QChar(0x3042)), 12).endsWith(QStringLiteral(" (12)")));
        QVERIFY(numberedFileName(QString(85, QChar(0x3042)), 12).toUtf8().size() <= kMaxFileNameBytes);
    }

    // A save that fails is never reported as saved; a file that cannot be read is LocalFile.
    void failuresAreReported() {
        folder_ = tmp_.filePath(QStringLiteral("no-such-folder"));
        const auto r = read(withAttachment("Content-Disposition: attachment; filename=a.bin"));
        QVERIFY(r.ok() && r.value().attachments.size() == 1);
        QVERIFY(!r.value().attachments[0].saved);
        QVERIFY(!r.value().attachments[0].problem.isEmpty());
        QCOMPARE(r.value().body, QStringLiteral("the body"));
        QVERIFY(!QFileInfo::exists(folder_));
        QCOMPARE(transport_.read(tmp_.filePath(QStringLiteral("nope.eml")), false, folder_).error().kind,
                 MailErrorKind::LocalFile);
    }

    // Decoding, and hostile structure that must neither crash nor hang.
    void messagesAreRead_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("expected"); // subject|from|body, or how it starts
        QTest::addColumn<int>("attachments");  // -1: any number, -2: any, and a limit cut the message
        const auto row = [](const char* name, const QByteArray& m, const QString& e, int n = 0) {
            QTest::newRow(name) << m << e << n;
        };
        row("iso-2022-jp with NEC row 13",
            text("Content-Type: text/plain; charset=ISO-2022-JP", "\x1B$B-!F|K\\8l\x1B(B\r\n"),
            "test|a@example.com|①日本語\n");
        row("bare LF and lone CR", "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n\none\ntwo\rthree\r\n",
            "テスト||one\ntwo\nthree\n");
        row("html only",
            text("Content-Type: text/html; charset=utf-8", "<html><style>p{x}</style><p>Hello &amp; <b>bye</b>"
                                                           "</p><script>alert(1)</script><p>日本&#x8a9e;<br>next</p>"),
            "test|a@example.com|Hello & bye\n日本語\nnext");
        row("plain preferred, a text attachment is no body",
            crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Disposition: attachment; filename=a.txt\n\n"
                 "not me\n--b\nContent-Type: multipart/alternative; boundary=c\n\n--c\nContent-Type: "
                 "text/html\n\n<p>h</p>\n"
                 "--c\nContent-Type: text/plain\n\nplain\n--c--\n--b--\n"),
            "||plain", 1);
        row("quoted sender, encoded word inside, folded",
            "From: \"=?UTF-8?B?5bGx55Sw?= \\\"T\\\"\"\r\n <y@x.jp> (Sales)\r\nSubject: s\r\n\r\n",
            "s|山田 \"T\" <y@x.jp> (Sales)|");
        QTest::newRow("unclosed nested boundaries")
            << crlf("Content-Type: multipart/mixed; boundary=a\n\n--a\nContent-Type: multipart/alternative; "
                    "boundary=b\n\n--b\nContent-Type: text/plain\n\ninner\n--a\n\nx\n")
            << "||inner" << -1;
        QTest::newRow("non-ascii boundary")
            << QByteArray("Content-Type: multipart/mixed; boundary=\"\xE3\x81\x82\xFF\"\r\n\r\n"
                          "--\xE3\x81\x82\xFF\r\n\r\nhi\r\n--\xE3\x81\x82\xFF--\r\n")
            << "||" << -1;
        QByteArray many = "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n";
        for (int i = 0; i < 100000; ++i)
            many += "--BB\r\n\r\nhello " + QByteArray::number(i) + "\r\n";
        QTest::newRow("100,000 parts") << many << "||hello 0" << -2;
        QByteArray files = "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n--BB\r\n\r\nbody\r\n";
        for (int i = 0; i < 3000; ++i)
            files += "--BB\r\nContent-Type: image/png\r\n\r\nx\r\n";
        QTest::newRow("3,000 attachments are capped") << files << "||body" << kMaxAttachments;
        QByteArray deep = "Content-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
        for (int i = 1; i < 5000; ++i)
            deep += "--b" + QByteArray::number(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                    QByteArray::number(i) + "\"\r\n\r\n";
        QTest::newRow("5,000 levels deep") << deep << "||" << -2;
    }
    void messagesAreRead() {
        QFETCH(QByteArray, message);
        QFETCH(QString, expected);
        QFETCH(int, attachments);
        QElapsedTimer timer;
        timer.start();
        const auto r = read(message, false);
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(r.ok());
        QVERIFY2((r.value().subject + u'|' + r.value().from + u'|' + r.value().body).startsWith(expected),
                 qPrintable(r.value().body.left(200)));
        QVERIFY(attachments < 0 || r.value().attachments.size() == attachments);
        QCOMPARE(r.value().partsOmitted, attachments == kMaxAttachments || attachments == -2);
        QCOMPARE(entries(folder_), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestReadMail)
#include "tst_readmail.moc"
