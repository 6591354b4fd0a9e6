// A real send: the window hands the message to the real transport, Postfix on loopback delivers it
// into a Maildir, and the test reads it back with GMime: the Japanese subject and body and the
// attachment's bytes must arrive intact. Needs the test mail servers (root for Postfix); skipped
// when they cannot run here.
//
// GMime first: GIO declares members named "signals", which Qt defines as a macro.
// clang-format off
#include <gmime/gmime.h>
// clang-format on

#include "dialogs.h"
#include "frmTransKR.h"
#include "iniKeys.h"
#include "mail/charsets.h"
#include "mail/realMailTransport.h"
#include "recordingMainWindow.h"
#include "testMailServers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <unistd.h>

using namespace korimo;
using korimo::test::TestMailServers;

namespace {

struct Arrived {
    QString subject;       // as GMime decodes it (glibc iconv: no NEC row 13 in ISO-2022-JP)
    QByteArray rawSubject; // the header as it stands
    QByteArray rawBody;    // transfer encoding removed, still in its charset
    QByteArray bodyCharset;
    QString to;
    QString body;
    QString attachmentName;
    QByteArray attachment;
};

QByteArray streamBytes(GMimeStream* stream) {
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

// Parses a delivered message with GMime, independently of the program's own reader.
bool parseMessage(const QString& path, Arrived& out) {
    GMimeStream* file = g_mime_stream_file_open(QFile::encodeName(path).constData(), "rb", nullptr);
    if (!file)
        return false;
    GMimeParser* parser = g_mime_parser_new_with_stream(file);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(file);
    if (!message)
        return false;
    out.subject = QString::fromUtf8(g_mime_message_get_subject(message));
    GMimeHeader* subjectHeader =
        g_mime_header_list_get_header(g_mime_object_get_header_list(GMIME_OBJECT(message)), "Subject");
    if (subjectHeader)
        out.rawSubject = QByteArray(g_mime_header_get_raw_value(subjectHeader));
    InternetAddressList* to = g_mime_message_get_to(message);
    char* toText = to ? internet_address_list_to_string(to, nullptr, FALSE) : nullptr;
    out.to = QString::fromUtf8(toText);
    g_free(toText);

    GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(message));
    do {
        GMimeObject* object = g_mime_part_iter_get_current(iter);
        if (!object || !GMIME_IS_PART(object))
            continue;
        GMimePart* part = GMIME_PART(object);
        if (g_mime_part_is_attachment(part) || g_mime_part_get_filename(part)) {
            out.attachmentName = QString::fromUtf8(g_mime_part_get_filename(part));
            GMimeStream* mem = g_mime_stream_mem_new();
            g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), mem);
            out.attachment = streamBytes(mem);
            g_object_unref(mem);
        } else if (GMIME_IS_TEXT_PART(object) && out.rawBody.isEmpty()) {
            char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
            out.body = QString::fromUtf8(text);
            g_free(text);
            GMimeStream* mem = g_mime_stream_mem_new();
            g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), mem);
            out.rawBody = streamBytes(mem);
            g_object_unref(mem);
            out.bodyCharset = QByteArray(g_mime_object_get_content_type_parameter(object, "charset"));
        }
    } while (g_mime_part_iter_next(iter));
    g_mime_part_iter_free(iter);
    g_object_unref(message);
    return true;
}

QString normaliseLineEnds(QString s) {
    return s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

class TestSendReal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        g_mime_init();
        if (!TestMailServers::canRunSmtp())
            QSKIP("Postfix needs root");
        QVERIFY2(servers_.start(true), qPrintable(servers_.errorText()));
        if (!servers_.hasSmtp())
            QSKIP("no SMTP server");
    }

    // Plain JIS text is checked with GMime alone. GMime decodes through glibc iconv, whose ISO-2022-JP
    // lacks the NEC row 13 (①) that Japanese mail programs use, so that row is read back with the
    // charset decoding the receive window uses; so is "～" (FULLWIDTH TILDE in CP932, which plain
    // JIS decoders read back as WAVE DASH).
    void japaneseMessageWithAttachmentArrives_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("independent");
        QTest::newRow("JIS X 0208 text") << QStringLiteral("定例会議のお知らせ（第２回）")
                                         << QStringLiteral("皆様\n\nお疲れ様です。来週の会議は第二会議室です。\n以上\n")
                                         << true;
        QTest::newRow("NEC row 13") << QStringLiteral("定例会議のお知らせ①")
                                    << QStringLiteral("皆様\n\n来週の会議は①会議室、資料は②です。\n～以上～\n")
                                    << false;
    }
    void japaneseMessageWithAttachmentArrives() {
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(bool, independent);
        QTemporaryDir program;
        QVERIFY(program.isValid());
        const IniFile ini(program.path());
        writeValue(ini, keys::SmtpServer, plainServer());
        writeValue(ini, keys::SenderAddress, servers_.address(1));
        writeValue(ini, keys::SendNames, QStringLiteral("二郎"), 0);
        writeValue(ini, keys::SendAddresses, servers_.address(2), 0);
        writeValue(ini, keys::SendNames, QStringLiteral("三郎"), 4);
        writeValue(ini, keys::SendAddresses, servers_.address(3), 4);
        writeValue(ini, keys::SendSubjects, subject, 0);

        // An attachment with every byte value, CR and LF among them, under a Japanese name.
        QByteArray bytes;
        for (int i = 0; i < 4096; ++i)
            bytes.append(char(i % 256));
        for (int i = 0; i < 4096; ++i)
            bytes.append(char(QRandomGenerator::global()->bounded(256)));
        const QString attachmentPath = program.filePath(QStringLiteral("会議資料 ①.bin"));
        QFile f(attachmentPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
        f.close();

        RealMailTransport transport(options());
        ScriptedDialogs dialogs;
        RecordingMainWindow main;
        QPointer<frmTransKR> w = new frmTransKR(program.path(), transport, dialogs, main);
        w->Form_Load();
        w->show();
        w->List1->item(4)->setSelected(true);
        w->List1->item(0)->setSelected(true);
        w->Text4->setPlainText(body);
        w->Check2->setChecked(true);
        w->Text5->setText(attachmentPath);
        w->Command1_Click();
        QVERIFY2(dialogs.messages() == QStringList{QStringLiteral("送信終了しました")},
                 qPrintable(dialogs.messages().join(u'|') + servers_.logText()));
        delete w.data();

        ++delivered_;
        for (int user : {2, 3}) {
            QVERIFY2(servers_.waitForMessages(user, delivered_, 20000), qPrintable(servers_.logText()));
            Arrived got;
            QVERIFY(parseMessage(servers_.maildirFiles(user).last(), got));
            if (independent) {
                QCOMPARE(got.subject, subject);
                QCOMPARE(normaliseLineEnds(got.body).trimmed(), normaliseLineEnds(body).trimmed());
            }
            QCOMPARE(decodeHeaderText(got.rawSubject).trimmed(), subject);
            QCOMPARE(normaliseLineEnds(decodeCharset(got.rawBody, got.bodyCharset)).trimmed(),
                     normaliseLineEnds(body).trimmed());
            QVERIFY2(got.to.contains(servers_.address(2)) && got.to.contains(servers_.address(3)), qPrintable(got.to));
            QCOMPARE(got.attachmentName, QStringLiteral("会議資料 ①.bin"));
            QCOMPARE(got.attachment.size(), bytes.size());
            QVERIFY(got.attachment == bytes);
        }
    }

    // A recipient the server refuses: the window says why and keeps the message for another try. A
    // local part beyond ASCII reaches Postfix under SMTPUTF8, so it is refused as unknown (550), not
    // for want of SMTPUTF8 (553).
    void refusedRecipientKeepsTheMessage_data() {
        QTest::addColumn<QString>("localPart");
        QTest::addColumn<bool>("ownDomain");
        QTest::addColumn<QString>("code");
        QTest::newRow("other domain") << QStringLiteral("someone") << false << QStringLiteral("554");
        QTest::newRow("unknown non-ASCII user") << QStringLiteral("用户") << true << QStringLiteral("550");
    }
    void refusedRecipientKeepsTheMessage() {
        QFETCH(QString, localPart);
        QFETCH(bool, ownDomain);
        QFETCH(QString, code);
        const QString domain = ownDomain ? servers_.address(1).section(u'@', 1) : QStringLiteral("elsewhere.example");
        QTemporaryDir program;
        QVERIFY(program.isValid());
        const IniFile ini(program.path());
        writeValue(ini, keys::SmtpServer, plainServer());
        writeValue(ini, keys::SenderAddress, servers_.address(1));
        writeValue(ini, keys::SendNames, QStringLiteral("外部"), 0);
        writeValue(ini, keys::SendAddresses, localPart + u'@' + domain, 0);
        writeValue(ini, keys::SendSubjects, QStringLiteral("届かない件名"), 0);

        RealMailTransport transport(options());
        ScriptedDialogs dialogs;
        RecordingMainWindow main;
        QPointer<frmTransKR> w = new frmTransKR(program.path(), transport, dialogs, main);
        w->Form_Load();
        w->List1->item(0)->setSelected(true);
        w->Text4->setPlainText(QStringLiteral("本文"));
        w->Command1_Click();
        const QStringList shown = dialogs.messages();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.at(0).startsWith(QStringLiteral("エラー")) && shown.at(0).contains(code),
                 qPrintable(shown.at(0)));
        QCOMPARE(w->Text4->toPlainText(), QStringLiteral("本文"));
        delete w.data();
    }

private:
    QString plainServer() const { return QStringLiteral("smtp://%1:%2").arg(servers_.host()).arg(servers_.smtpPort()); }
    TransportOptions options() const {
        TransportOptions o;
        o.connectTimeoutMs = 5000;
        o.readTimeoutMs = 15000;
        o.extraCaFile = servers_.caFile();
        return o;
    }

    TestMailServers servers_;
    int delivered_ = 0; // messages each of user2 and user3 should hold
};

QTEST_MAIN(TestSendReal)
#include "tst_sendreal.moc"
