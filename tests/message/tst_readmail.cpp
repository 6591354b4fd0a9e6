// Reading saved messages: body decoding, the result layout the receive window reads, attachment names and
// files, and hostile input that must neither crash nor hang.
#include "mimeReader.h"
#include "readMail.h"
#include "realMailTransport.h"
#include "safeFileName.h"
#include "testFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace korimo;

namespace {

QByteArray crlf(QByteArray text) {
    return text.replace("\n", "\r\n");
}

QByteArray textMessage(const QByteArray& headers, const QByteArray& body) {
    return "From: a@example.com\r\nTo: b@example.com\r\nSubject: test\r\nMIME-Version: 1.0\r\n" + headers + "\r\n" +
           body;
}

// A message with one text part and one attachment whose Content-Disposition line is given whole.
QByteArray withAttachment(const QByteArray& dispositionLine, const QByteArray& data = "payload") {
    return crlf("From: a@example.com\nSubject: files\nMIME-Version: 1.0\n"
                "Content-Type: multipart/mixed; boundary=\"xyz\"\n\n"
                "--xyz\nContent-Type: text/plain; charset=us-ascii\n\nthe body\n"
                "--xyz\nContent-Type: application/octet-stream\n" +
                dispositionLine + "\nContent-Transfer-Encoding: base64\n\n" + data.toBase64() + "\n--xyz--\n");
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The receive window's reading of a result: which text ends up in the body box and whether it reports
// attachments (saved or present).
struct WindowView {
    QString bodyBox;
    QString attachmentState; // "", "saved", "present"
};
WindowView asWindowSees(const MailResult& result, bool saving) {
    WindowView view;
    for (const QString& e : result.items()) {
        if (e.contains(QStringLiteral("Body")))
            view.bodyBox = e.mid(6);
        else if (e.contains(QStringLiteral("File")))
            view.attachmentState = saving ? QStringLiteral("saved") : QStringLiteral("present");
        else
            view.bodyBox = e;
    }
    return view;
}

} // namespace

class TestReadMail : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QString folder_; // the chosen attachment folder, emptied before each test
    QString outside_;
    RealMailTransport transport_;

    QString messageFile(const QByteArray& bytes) {
        const QString path = tmp_.filePath(QStringLiteral("message.eml"));
        return writeFile(path, bytes) ? path : QString();
    }

private slots:
    void init() {
        QVERIFY(tmp_.isValid());
        folder_ = tmp_.filePath(QStringLiteral("attach"));
        outside_ = tmp_.filePath(QStringLiteral("outside"));
        QDir(folder_).removeRecursively();
        QDir(outside_).removeRecursively();
        QVERIFY(QDir().mkpath(folder_));
        QVERIFY(QDir().mkpath(outside_));
    }

    void bodyIsDecoded_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("body");
        QTest::newRow("iso-2022-jp with NEC row 13")
            << textMessage("Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n",
                           "\x1B$B-!F|K\\8l\x1B(B\r\n")
            << QStringLiteral("①日本語\r\n");
        QTest::newRow("shift_jis label read as cp932")
            << textMessage("Content-Type: text/plain; charset=shift_jis\r\nContent-Transfer-Encoding: 8bit\r\n",
                           "\x87\x40 C:\\dir ~\r\n")
            << QStringLiteral("① C:\\dir ~\r\n");
        QTest::newRow("euc-jp") << textMessage("Content-Type: text/plain; charset=euc-jp\r\n",
                                               "\xC6\xFC\xCB\xDC\xB8\xEC\r\n")
                                << QStringLiteral("日本語\r\n");
        QTest::newRow("utf-8 quoted-printable")
            << textMessage("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n",
                           "=E6=97=A5=E6=9C=AC a=3Db soft=\r\nbreak\r\n")
            << QStringLiteral("日本 a=b softbreak\r\n");
        QTest::newRow("utf-8 base64") << textMessage("Content-Type: text/plain; charset=UTF-8\r\n"
                                                     "Content-Transfer-Encoding: base64\r\n",
                                                     QByteArray("こんにちは\nline2\n").toBase64() + "\r\n")
                                      << QStringLiteral("こんにちは\r\nline2\r\n");
        QTest::newRow("8-bit cp932 without charset")
            << textMessage("Content-Type: text/plain\r\n", "\x93\xFA\x96\x7B\x8C\xEA\x82\xC5\x82\xB7\r\n")
            << QStringLiteral("日本語です\r\n");
        QTest::newRow("8-bit utf-8 without any content type")
            << textMessage("", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n") << QStringLiteral("日本語\r\n");
        QTest::newRow("bare LF and lone CR become CR LF")
            << QByteArray("Subject: x\n\none\ntwo\rthree\r\n") << QStringLiteral("one\r\ntwo\r\nthree\r\n");
        QTest::newRow("html only")
            << textMessage("Content-Type: text/html; charset=utf-8\r\n",
                           "<html><head><title>t</title><style>p{x}</style></head><body><p>Hello &amp; "
                           "<b>bye</b></p><script>alert(1)</script><p>日本&#x8a9e;<br>next&nbsp;line</p></body></html>")
            << QStringLiteral("Hello & bye\r\n日本語\r\nnext line");
        QTest::newRow("plain preferred over html")
            << crlf("Content-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: text/html\n\n<p>html</p>\n"
                    "--b\nContent-Type: text/plain\n\nplain\n--b--\n")
            << QStringLiteral("plain");
        QTest::newRow("text attachment before the body is not the body")
            << crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n"
                    "Content-Disposition: attachment; filename=a.txt\n\nnot me\n"
                    "--b\nContent-Type: text/plain; charset=utf-8\n\nthe body\n--b--\n")
            << QStringLiteral("the body");
        QTest::newRow("no body at all") << QByteArray("Subject: x\r\n\r\n") << QString();
        QTest::newRow("a body line that is one dot and a long line")
            << textMessage("Content-Type: text/plain; charset=utf-8\r\n", ".\r\n" + QByteArray(5000, 'x') + "\r\n")
            << QStringLiteral(".\r\n") + QString(5000, QLatin1Char('x')) + QStringLiteral("\r\n");
    }
    void bodyIsDecoded() {
        QFETCH(QByteArray, message);
        QFETCH(QString, body);
        QCOMPARE(readMime(message).body, body);
    }

    void headersAreDecoded_data() {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("from");
        QTest::newRow("plain") << QByteArray("Subject: test\r\nFrom: a@example.com\r\n") << QStringLiteral("test")
                               << QStringLiteral("a@example.com");
        QTest::newRow("iso-2022-jp subject")
            << QByteArray("Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n") << QStringLiteral("テスト") << QString();
        QTest::newRow("quoted sender with escapes")
            << QByteArray("From: \"Yamada, Taro \\\"Boss\\\" (Sales)\" <taro.yamada@example.jp>\r\n") << QString()
            << QStringLiteral("Yamada, Taro \"Boss\" (Sales) <taro.yamada@example.jp>");
        QTest::newRow("encoded word inside quotes, folded")
            << QByteArray("From: \"=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=\"\r\n <yamada@example.jp>\r\n") << QString()
            << QStringLiteral("山田 <yamada@example.jp>");
        QTest::newRow("encoded name and comment") << QByteArray("From: =?UTF-8?B?5bGx55Sw?= <y@example.jp> (Sales)\r\n")
                                                  << QString() << QStringLiteral("山田 <y@example.jp> (Sales)");
        QTest::newRow("unclosed quote") << QByteArray("From: \"Taro \\\\ <t@example.jp>\r\n") << QString()
                                        << QStringLiteral("Taro \\ <t@example.jp>");
    }
    void headersAreDecoded() {
        QFETCH(QByteArray, headers);
        QFETCH(QString, subject);
        QFETCH(QString, from);
        const MimeMessage m = readMime(headers + "Date: Sun, 6 Dec 2026 10:00:00 +0900\r\n\r\nx");
        QCOMPARE(m.subject, subject);
        QCOMPARE(m.from, from);
        QCOMPARE(m.date, QStringLiteral("Sun, 6 Dec 2026 10:00:00 +0900"));
    }

    // The window takes an element containing "Body" as the body and one containing "File" as an
    // attachment; names that carry those words must not confuse it, and the body is last.
    void layoutCannotBeMisread_data() {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<bool>("saving");
        QTest::newRow("saving") << QStringLiteral("subject:from:date:") << true;
        QTest::newRow("not saving") << QStringLiteral("subject:from:date:nofile:") << false;
    }
    void layoutCannotBeMisread() {
        QFETCH(QString, fields);
        QFETCH(bool, saving);
        const QByteArray msg = crlf("From: Body <body@example.com>\nSubject: Body File\nMIME-Version: 1.0\n"
                                    "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
                                    "--b\nContent-Type: application/pdf; name=\"Body.pdf\"\n\nAAA\n"
                                    "--b\nContent-Type: text/plain; charset=utf-8\n\nFile and Body inside\n"
                                    "--b\nContent-Type: text/plain; name=\"File Body.txt\"\n"
                                    "Content-Disposition: attachment\n\nBBB\n--b--\n");
        const MailResult result = transport_.ReadMail(messageFile(msg), fields, folder_);
        QVERIFY(result.isArray());
        QCOMPARE(result.items(), QStringList({QStringLiteral("File 1"), QStringLiteral("File 2"),
                                              QStringLiteral("Body: File and Body inside")}));
        const WindowView view = asWindowSees(result, saving);
        QCOMPARE(view.bodyBox, QStringLiteral("File and Body inside"));
        QCOMPARE(view.attachmentState, saving ? QStringLiteral("saved") : QStringLiteral("present"));
        if (saving)
            QCOMPARE(entries(folder_), QStringList({QStringLiteral("Body.pdf"), QStringLiteral("File Body.txt")}));
        else
            QCOMPARE(entries(folder_), QStringList());
    }

    void missingFileIsATextResult() {
        const MailResult r = transport_.ReadMail(tmp_.filePath(QStringLiteral("nope.eml")),
                                                 QStringLiteral("subject:from:date:"), folder_);
        QVERIFY(!r.isArray());
        QVERIFY(!r.text().isEmpty());
    }

    // A save that fails must not be reported as saved: no "File" element, the reason heads the body.
    void failedSaveIsNotReportedAsSaved() {
        const QString gone = tmp_.filePath(QStringLiteral("no-such-folder"));
        const MailResult r = transport_.ReadMail(messageFile(withAttachment("Content-Disposition: attachment; "
                                                                            "filename=a.bin")),
                                                 QStringLiteral("subject:from:date:"), gone);
        const WindowView view = asWindowSees(r, true);
        QCOMPARE(view.attachmentState, QString());
        QVERIFY(view.bodyBox.contains(QStringLiteral("a.bin")));
        QVERIFY(view.bodyBox.endsWith(QStringLiteral("\r\n\r\nthe body")));
        QVERIFY(!QFileInfo::exists(gone));
    }

    void attachmentNamesAreMadeSafe_data() {
        QTest::addColumn<QByteArray>("disposition");
        QTest::addColumn<QString>("savedAs");
        QTest::newRow("parent directory")
            << QByteArray("Content-Disposition: attachment; filename=\"../x\"") << QStringLiteral("x");
        QTest::newRow("deep parent") << QByteArray("Content-Disposition: attachment; filename=\"../../.bashrc\"")
                                     << QStringLiteral("bashrc");
        QTest::newRow("absolute") << QByteArray("Content-Disposition: attachment; filename=\"/abs/evil.sh\"")
                                  << QStringLiteral("evil.sh");
        QTest::newRow("windows path") << QByteArray("Content-Disposition: attachment; filename=\"..\\\\..\\\\w.txt\"")
                                      << QStringLiteral("w.txt");
        QTest::newRow("literal %2F stays text")
            << QByteArray("Content-Disposition: attachment; filename=\"..%2F..%2Fp.txt\"")
            << QStringLiteral("%2F..%2Fp.txt");
        QTest::newRow("rfc 2231 encoded slash")
            << QByteArray("Content-Disposition: attachment; filename*=utf-8''..%2F..%2Fq.txt")
            << QStringLiteral("q.txt");
        QTest::newRow("rfc 2231 NUL") << QByteArray("Content-Disposition: attachment; filename*=utf-8''ok%00.sh.txt")
                                      << QStringLiteral("ok.sh.txt");
        QTest::newRow("right-to-left override")
            << QByteArray("Content-Disposition: attachment; filename*=utf-8''invoice%E2%80%AEfdp.exe")
            << QStringLiteral("invoicefdp.exe");
        QTest::newRow("encoded newline")
            << QByteArray("Content-Disposition: attachment; filename=\"=?utf-8?q?a=0D=0Ab.txt?=\"")
            << QStringLiteral("ab.txt");
        QTest::newRow("rfc 2047 japanese")
            << QByteArray("Content-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=.txt\"")
            << QStringLiteral("テスト.txt");
        QTest::newRow("rfc 2231 continuation")
            << QByteArray("Content-Disposition: attachment;\r\n filename*0*=utf-8''%E6%97%A5;\r\n filename*1=.txt")
            << QStringLiteral("日.txt");
        QTest::newRow("raw utf-8 name") << QByteArray("Content-Disposition: attachment; filename=\"\xE6\x97\xA5.txt\"")
                                        << QStringLiteral("日.txt");
        QTest::newRow("raw cp932 name")
            << QByteArray("Content-Disposition: attachment; filename=\"\x93\xFA\x96\x7B\x8C\xEA.txt\"")
            << QStringLiteral("日本語.txt");
        QTest::newRow("rfc 2231 shift_jis with NEC character")
            << QByteArray("Content-Disposition: attachment; filename*=shift_jis''%87%40%93%FA.txt")
            << QStringLiteral("①日.txt");
        QTest::newRow("rfc 2047 shift_jis with backslash")
            << QByteArray("Content-Disposition: attachment; filename=\"=?shift_jis?B?h0CVXA==?=.txt\"")
            << QStringLiteral("①表.txt");
        QTest::newRow("quoted semicolon and escaped quote")
            << QByteArray("Content-Disposition: attachment; size=3; filename=\"a;\\\"b\\\".txt\"; x=y")
            << QStringLiteral("a;\"b\".txt");
        QTest::newRow("dot dot") << QByteArray("Content-Disposition: attachment; filename=\"..\"")
                                 << QStringLiteral("attachment");
        QTest::newRow("only a slash") << QByteArray("Content-Disposition: attachment; filename=\"/\"")
                                      << QStringLiteral("attachment");
        QTest::newRow("no name") << QByteArray("Content-Disposition: attachment") << QStringLiteral("attachment");
        QTest::newRow("option-like name")
            << QByteArray("Content-Disposition: attachment; filename=\"-rf\"") << QStringLiteral("rf");
        QTest::newRow("only dashes") << QByteArray("Content-Disposition: attachment; filename=\"--\"")
                                     << QStringLiteral("attachment");
        QTest::newRow("300 bytes of multi-byte characters")
            << (QByteArray("Content-Disposition: attachment; filename*=utf-8''") +
                QByteArray("%E6%97%A5").repeated(100) + ".pdf")
            << QString(84, QChar(0x65E5)) + QStringLiteral(".pdf"); // 84 * 3 + 4 = 256 > 255, so 84 is one too many
    }
    void attachmentNamesAreMadeSafe() {
        QFETCH(QByteArray, disposition);
        QFETCH(QString, savedAs);
        QString expected = savedAs;
        if (expected.toUtf8().size() > kMaxFileNameBytes) // the row above states the cut: one character less
            expected.remove(expected.size() - 5, 1);
        static const char raw[] = "\x00\x01\xFF binary \r\n data";
        const QByteArray payload(raw, sizeof raw - 1);
        const ReadMailOutcome outcome = readMailFile(messageFile(withAttachment(disposition, payload)), true, folder_);
        QVERIFY(outcome.readable);
        QCOMPARE(outcome.savedNames, QStringList{expected});
        QCOMPARE(entries(folder_), QStringList{expected});
        QCOMPARE(readFile(QDir(folder_).filePath(expected)), payload);
        QVERIFY(expected.toUtf8().size() <= kMaxFileNameBytes);
        QCOMPARE(entries(outside_), QStringList());
        QCOMPARE(entries(tmp_.path()),
                 QStringList({QStringLiteral("attach"), QStringLiteral("message.eml"), QStringLiteral("outside")}));
    }

    void existingFileIsNeverOverwritten() {
        QVERIFY(writeFile(QDir(folder_).filePath(QStringLiteral("a.txt")), "old"));
        QVERIFY(writeFile(QDir(folder_).filePath(QStringLiteral("a (2).txt")), "older"));
        const QString msg = messageFile(withAttachment("Content-Disposition: attachment; filename=a.txt", "new"));
        QCOMPARE(readMailFile(msg, true, folder_).savedNames, QStringList{QStringLiteral("a (3).txt")});
        QCOMPARE(readMailFile(msg, true, folder_).savedNames, QStringList{QStringLiteral("a (4).txt")});
        QCOMPARE(readFile(QDir(folder_).filePath(QStringLiteral("a.txt"))), QByteArray("old"));
        QCOMPARE(readFile(QDir(folder_).filePath(QStringLiteral("a (2).txt"))), QByteArray("older"));
        QCOMPARE(readFile(QDir(folder_).filePath(QStringLiteral("a (4).txt"))), QByteArray("new"));
    }

    // A symlink planted in the folder under the attachment's name, pointing outside, dangling or not.
    void plantedSymlinkIsNotFollowed_data() {
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("to an existing file") << true;
        QTest::newRow("dangling") << false;
    }
    void plantedSymlinkIsNotFollowed() {
        QFETCH(bool, targetExists);
        const QString target = QDir(outside_).filePath(QStringLiteral("victim"));
        if (targetExists)
            QVERIFY(writeFile(target, "precious"));
        QVERIFY(::symlink(target.toUtf8().constData(), QDir(folder_).filePath(QStringLiteral("a.txt")).toUtf8()) == 0);
        const QString msg = messageFile(withAttachment("Content-Disposition: attachment; filename=a.txt", "evil"));
        QCOMPARE(readMailFile(msg, true, folder_).savedNames, QStringList{QStringLiteral("a (2).txt")});
        QCOMPARE(QFileInfo::exists(target), targetExists);
        if (targetExists)
            QCOMPARE(readFile(target), QByteArray("precious"));
        QCOMPARE(readFile(QDir(folder_).filePath(QStringLiteral("a (2).txt"))), QByteArray("evil"));
        QVERIFY(QFileInfo(QDir(folder_).filePath(QStringLiteral("a.txt"))).isSymLink());
    }

    void safeFileNameRules_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("plain") << QStringLiteral("report.pdf") << QStringLiteral("report.pdf");
        QTest::newRow("hidden file loses its dots") << QStringLiteral("...profile") << QStringLiteral("profile");
        QTest::newRow("trailing dots and blanks") << QStringLiteral(" a.txt. . ") << QStringLiteral("a.txt");
        QTest::newRow("tab and DEL and C1") << QStringLiteral("a\tb\x7F\u0085c") << QStringLiteral("abc");
        QTest::newRow("bidi isolates") << QStringLiteral("\u2066a\u2069\u200Fb") << QStringLiteral("ab");
        QTest::newRow("backslash dir") << QStringLiteral("C:\\Users\\x\\y.doc") << QStringLiteral("y.doc");
        QTest::newRow("nothing left") << QStringLiteral("\u202E\u0001 .") << QString();
        QTest::newRow("leading dash") << QStringLiteral("-rf") << QStringLiteral("rf");
        QTest::newRow("dashes, dots and blanks") << QStringLiteral("- .--help.txt") << QStringLiteral("help.txt");
        QTest::newRow("inner dash kept") << QStringLiteral("a-b.txt") << QStringLiteral("a-b.txt");
        QTest::newRow("invisible format characters")
            << QStringLiteral("pay\u200Bpal\u2060\u00AD\uFEFF.\u200Dexe") << QStringLiteral("paypal.exe");
        QTest::newRow("emoji kept whole at the cut")
            << QString(100, QChar(0x3042)) + QStringLiteral("😀😀") << QString(85, QChar(0x3042));
    }
    void safeFileNameRules() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(safeFileName(in), out);
    }

    void numberedNamesStayShort() {
        const QString longName = QString(85, QChar(0x3042)) + QStringLiteral(".txt"); // 255 + 4 > 255 already cut
        const QString safe = safeFileName(longName);
        QVERIFY(safe.toUtf8().size() <= kMaxFileNameBytes);
        const QString n = numberedFileName(safe, 12);
        QVERIFY(n.endsWith(QStringLiteral(" (12).txt")));
        QVERIFY(n.toUtf8().size() <= kMaxFileNameBytes);
        QCOMPARE(numberedFileName(QStringLiteral("noext"), 2), QStringLiteral("noext (2)"));
    }

    void hostileStructureIsSurvived_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("bodyStart");
        QTest::addColumn<int>("attachments");
        QTest::newRow("multipart without boundary")
            << crlf("Content-Type: multipart/mixed\n\n--x\nContent-Type: text/plain\n\nhi\n") << QString() << -1;
        QTest::newRow("boundary never used")
            << crlf("Content-Type: multipart/mixed; boundary=zz\n\nhello\n") << QString() << -1;
        QTest::newRow("unclosed nested boundaries")
            << crlf("Content-Type: multipart/mixed; boundary=a\n\n--a\nContent-Type: multipart/alternative; "
                    "boundary=b\n\n--b\nContent-Type: text/plain\n\ninner\n--a\nContent-Type: text/plain\n\nx\n")
            << QStringLiteral("inner") << -1;
        QTest::newRow("bad base64")
            << textMessage("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n",
                           "!!!!aGVs*bG8=====\r\n@@@\r\n")
            << QString() << 0;
        QTest::newRow("non-ascii boundary")
            << QByteArray("Content-Type: multipart/mixed; boundary=\"\xE3\x81\x82\xFF\"\r\n\r\n--\xE3\x81\x82\xFF\r\n"
                          "Content-Type: text/plain\r\n\r\nhi\r\n--\xE3\x81\x82\xFF--\r\n")
            << QString() << -1;
        QTest::newRow("rfc 2231 boundary")
            << QByteArray("Content-Type: multipart/mixed; boundary*=utf-8''%E3%81%82\r\n\r\n--\xE3\x81\x82\r\n"
                          "Content-Type: text/plain\r\n\r\nhi\r\n")
            << QString() << -1;
        QTest::newRow("1 MB header") << ("Subject: " + QByteArray(1024 * 1024, 'S') + "\r\n\r\nbody\r\n")
                                     << QStringLiteral("body") << 0;
        QByteArray many = "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n";
        for (int i = 0; i < 100000; ++i)
            many += "--BB\r\nContent-Type: text/plain\r\n\r\nhello " + QByteArray::number(i) + "\r\n";
        many += "--BB--\r\n";
        QTest::newRow("100,000 parts") << many << QStringLiteral("hello 0") << 0;
        QByteArray files = "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n--BB\r\n\r\nbody\r\n";
        for (int i = 0; i < 3000; ++i)
            files += "--BB\r\nContent-Type: image/png\r\n\r\nx\r\n";
        QTest::newRow("3,000 attachments are capped") << files << QStringLiteral("body") << kMaxAttachments;
        QByteArray deep = "Content-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
        const int depth = 5000;
        for (int i = 1; i < depth; ++i)
            deep += "--b" + QByteArray::number(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                    QByteArray::number(i) + "\"\r\n\r\n";
        deep += "--b" + QByteArray::number(depth - 1) + "\r\nContent-Type: text/plain\r\n\r\ndeepest\r\n";
        QTest::newRow("5,000 levels deep") << deep << QString() << -1;
    }
    void hostileStructureIsSurvived() {
        QFETCH(QByteArray, message);
        QFETCH(QString, bodyStart);
        QFETCH(int, attachments);
        QElapsedTimer timer;
        timer.start();
        const MimeMessage m = readMime(message);
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(m.body.startsWith(bodyStart));
        if (attachments >= 0)
            QCOMPARE(m.attachments.size(), attachments);
        if (attachments == kMaxAttachments)
            QVERIFY(m.partsOmitted);
    }

    // Cut messages say so at the head of the body; the listed attachments stop at the cap.
    void omittedPartsAreSaid() {
        QByteArray files = "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n--BB\r\n\r\nbody\r\n";
        for (int i = 0; i < kMaxAttachments + 1; ++i)
            files += "--BB\r\nContent-Type: image/png\r\n\r\nx\r\n";
        const MailResult r =
            transport_.ReadMail(messageFile(files), QStringLiteral("subject:from:date:nofile:"), folder_);
        QCOMPARE(r.items().size(), kMaxAttachments + 1);
        QCOMPARE(r.items().at(kMaxAttachments - 1), QStringLiteral("File %1").arg(kMaxAttachments));
        QVERIFY(r.items().last().startsWith(QStringLiteral("Body: [")));
        QVERIFY(r.items().last().endsWith(QStringLiteral("]\r\n\r\nbody")));
        QCOMPARE(entries(folder_), QStringList());
    }

    void prepareForParserDisablesOnlyBadBoundaries_data() {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("ascii kept") << QByteArray("Content-Type: multipart/mixed; boundary=\"=_a b(1)\"\r\n")
                                    << QByteArray("Content-Type: multipart/mixed; boundary=\"=_a b(1)\"\r\n");
        QTest::newRow("8-bit quoted") << QByteArray("content-type: multipart/mixed; BOUNDARY=\"a\xFF\"\r\n")
                                      << QByteArray("content-type: multipart/mixed; xOUNDARY=\"a\xFF\"\r\n");
        QTest::newRow("8-bit token on a continuation line")
            << QByteArray("Content-Type: multipart/mixed;\r\n\tboundary=\xE3\x81\x82\r\n")
            << QByteArray("Content-Type: multipart/mixed;\r\n\txoundary=\xE3\x81\x82\r\n");
        QTest::newRow("rfc 2231 form") << QByteArray("Content-Type: multipart/mixed; boundary*=utf-8''x\r\n")
                                       << QByteArray("Content-Type: multipart/mixed; xoundary*=utf-8''x\r\n");
        QTest::newRow("other headers untouched")
            << QByteArray("X-Note: boundary=\"\xFF\"\r\n") << QByteArray("X-Note: boundary=\"\xFF\"\r\n");
    }
    void prepareForParserDisablesOnlyBadBoundaries() {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        QVERIFY(!prepareForParser(in));
        QCOMPARE(in, out);
    }

    void prepareForParserCutsBeforeTooManyDelimiters() {
        QByteArray raw = "Subject: x\r\n\r\n";
        const qsizetype head = raw.size();
        raw += QByteArray("--d\r\n").repeated(kMaxDelimiterLines + 5);
        QVERIFY(prepareForParser(raw));
        QCOMPARE(raw.size(), head + 5 * kMaxDelimiterLines);
    }

    void htmlToText_data() {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("entities") << QStringLiteral("a &lt;b&gt; &#65;&#x42; &unknown; &amp;amp;")
                                  << QStringLiteral("a <b> AB &unknown; &amp;");
        QTest::newRow("blank runs collapse") << QStringLiteral("a \n\t  b") << QStringLiteral("a b");
        QTest::newRow("pre keeps lines") << QStringLiteral("<pre>a\n  b</pre>c") << QStringLiteral("a\n  b\nc");
        QTest::newRow("comment and unclosed tag")
            << QStringLiteral("x<!-- <p>hidden</p> -->y<b") << QStringLiteral("xy");
        QTest::newRow("table cells") << QStringLiteral(
                                            "<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>")
                                     << QStringLiteral("1 2\n3");
        QTest::newRow("paragraph runs") << QStringLiteral("<p>a</p><p></p><p></p><div>b</div>")
                                        << QStringLiteral("a\nb");
    }
    void htmlToText() {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(korimo::htmlToText(html), text);
    }
};

QTEST_GUILESS_MAIN(TestReadMail)
#include "tst_readmail.moc"
