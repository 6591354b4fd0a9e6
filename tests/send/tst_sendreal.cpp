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
#include "mail/realMailTransport.h"
#include "mainWindowLink.h"

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

namespace {

class RecordingMainWindow : public MainWindowLink {
public:
    int restored = 0;
    void restoreNormal() override { ++restored; }
    void setStatusLine(const QString&) override {}
    void focusStartButtonIfShown() override {}
};

struct Arrived {
    QString subject;
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
        } else if (GMIME_IS_TEXT_PART(object) && out.body.isEmpty()) {
            char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
            out.body = QString::fromUtf8(text);
            g_free(text);
        }
    } while (g_mime_part_iter_next(iter));
    g_mime_part_iter_free(iter);
    g_object_unref(message);
    return true;
}

// The one message in a Maildir's new/ folder, waiting for the delivery up to the deadline.
QString waitForDelivery(const QString& maildir, int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const QStringList files = QDir(maildir + QStringLiteral("/new")).entryList(QDir::Files);
        if (!files.isEmpty())
            return maildir + QStringLiteral("/new/") + files.first();
        QThread::msleep(50);
    }
    return QString();
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
        const QString script =
            qEnvironmentVariable("KORIMO_SOURCE_DIR") + QStringLiteral("/tests/servers/mailservers.sh");
        if (!QFile::exists(script))
            QSKIP("the test mail servers are not part of this build");
        if (::geteuid() != 0)
            QSKIP("Postfix needs root");
        QVERIFY(servers_.isValid());
        script_ = script;
        QProcess start;
        start.start(QStringLiteral("bash"),
                    {script_, QStringLiteral("start"), serverDir(), QStringLiteral("--owner-pid"),
                     QString::number(QCoreApplication::applicationPid())});
        QVERIFY(start.waitForFinished(60000));
        started_ = true;
        if (start.exitCode() != 0)
            QFAIL(qPrintable(QStringLiteral("mail servers did not start: ") +
                             QString::fromLocal8Bit(start.readAllStandardError())));
        QFile envFile(serverDir() + QStringLiteral("/env"));
        QVERIFY(envFile.open(QIODevice::ReadOnly));
        for (const QByteArray& line : envFile.readAll().split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                env_.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
        }
        if (env_.value(QStringLiteral("SMTP")) != u"1")
            QSKIP("the mail servers run without SMTP here");
    }

    void cleanupTestCase() {
        if (started_)
            QProcess::execute(QStringLiteral("bash"), {script_, QStringLiteral("stop"), serverDir()});
    }

    void japaneseMessageWithAttachmentArrives() {
        QTemporaryDir program;
        QVERIFY(program.isValid());
        const QString domain = env_.value(QStringLiteral("DOMAIN"));
        const IniFile ini(program.path());
        writeValue(ini, keys::SmtpServer,
                   QStringLiteral("smtp://127.0.0.1:") + env_.value(QStringLiteral("SMTP_PORT")));
        writeValue(ini, keys::SenderAddress, QStringLiteral("user1@") + domain);
        writeValue(ini, keys::SendNames, QStringLiteral("二郎"), 0);
        writeValue(ini, keys::SendAddresses, QStringLiteral("user2@") + domain, 0);
        writeValue(ini, keys::SendNames, QStringLiteral("三郎"), 4);
        writeValue(ini, keys::SendAddresses, QStringLiteral("user3@") + domain, 4);
        const QString subject = QStringLiteral("定例会議のお知らせ①（第２回）");
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

        TransportOptions options;
        options.extraCaFile = env_.value(QStringLiteral("CA_FILE"));
        options.connectTimeoutMs = 5000;
        options.readTimeoutMs = 15000;
        RealMailTransport transport(options);
        ScriptedDialogs dialogs;
        RecordingMainWindow main;
        QPointer<frmTransKR> w = new frmTransKR(program.path(), transport, dialogs, main);
        w->Form_Load();
        w->show();
        w->List1->item(4)->setSelected(true);
        w->List1->item(0)->setSelected(true);
        const QString body = QStringLiteral("皆様\n\nお疲れ様です。来週の会議は①会議室です。\n～以上～\n");
        w->Text4->setPlainText(body);
        w->Check2->setChecked(true);
        w->Text5->setText(attachmentPath);
        w->Command1_Click();
        QCOMPARE(dialogs.messages(), QStringList{QStringLiteral("送信終了しました")});
        delete w.data();

        const QString root = env_.value(QStringLiteral("MAILDIR_ROOT"));
        for (const QString& user : {QStringLiteral("user2"), QStringLiteral("user3")}) {
            const QString path = waitForDelivery(root + u'/' + user, 20000);
            QVERIFY2(!path.isEmpty(), qPrintable(user + QStringLiteral(" got nothing")));
            Arrived got;
            QVERIFY(parseMessage(path, got));
            QCOMPARE(got.subject, subject);
            QVERIFY2(got.to.contains(QStringLiteral("user2@") + domain) &&
                         got.to.contains(QStringLiteral("user3@") + domain),
                     qPrintable(got.to));
            QCOMPARE(normaliseLineEnds(got.body).trimmed(), normaliseLineEnds(body).trimmed());
            QCOMPARE(got.attachmentName, QStringLiteral("会議資料 ①.bin"));
            QCOMPARE(got.attachment.size(), bytes.size());
            QVERIFY(got.attachment == bytes);
        }
    }

    // A recipient the server refuses: the window says why and keeps the message for another try.
    void refusedRecipientKeepsTheMessage() {
        QTemporaryDir program;
        QVERIFY(program.isValid());
        const IniFile ini(program.path());
        writeValue(ini, keys::SmtpServer,
                   QStringLiteral("smtp://127.0.0.1:") + env_.value(QStringLiteral("SMTP_PORT")));
        writeValue(ini, keys::SenderAddress, QStringLiteral("user1@") + env_.value(QStringLiteral("DOMAIN")));
        writeValue(ini, keys::SendNames, QStringLiteral("外部"), 0);
        writeValue(ini, keys::SendAddresses, QStringLiteral("someone@elsewhere.example"), 0);
        writeValue(ini, keys::SendSubjects, QStringLiteral("届かない件名"), 0);

        TransportOptions options;
        options.connectTimeoutMs = 5000;
        options.readTimeoutMs = 15000;
        RealMailTransport transport(options);
        ScriptedDialogs dialogs;
        RecordingMainWindow main;
        QPointer<frmTransKR> w = new frmTransKR(program.path(), transport, dialogs, main);
        w->Form_Load();
        w->List1->item(0)->setSelected(true);
        w->Text4->setPlainText(QStringLiteral("本文"));
        w->Command1_Click();
        const QStringList shown = dialogs.messages();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.at(0).startsWith(QStringLiteral("エラー")) && shown.at(0).size() > 3, qPrintable(shown.at(0)));
        QCOMPARE(w->Text4->toPlainText(), QStringLiteral("本文"));
        delete w.data();
    }

private:
    QString serverDir() const { return servers_.path() + QStringLiteral("/servers"); }

    QTemporaryDir servers_;
    QString script_;
    bool started_ = false;
    QHash<QString, QString> env_;
};

QTEST_MAIN(TestSendReal)
#include "tst_sendreal.moc"
