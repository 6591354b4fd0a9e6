// korimo-mail: the mail transport from the command line, for testing an account and for scripts.
//
//   korimo-mail list     [mailbox options]          one line per message: number, subject, sender, date (TAB-separated)
//   korimo-mail save N DIR [mailbox options]        fetches message N into a new file in DIR, prints its path
//   korimo-mail delete N [mailbox options]          deletes message N
//   korimo-mail check --ini FOLDER                  lists the five mailboxes of FOLDER/iniKR.ini at once, prints counts
//   korimo-mail read ... / send ...                 the message commands (see korimo-mail read --help)
#include "korimo-mail.h"

#include "iniKeys.h"
#include "modIniFile.h"
#include "realMailTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
#include <functional>
#include <limits>

namespace korimo::tool {

namespace {

const char* const kUsage = R"(usage: korimo-mail COMMAND [ARGS] [OPTIONS]

Commands:
  list                  list the messages of one mailbox: number, subject, sender, date (TAB-separated)
  save N DIR            fetch message N into a new file in DIR and print the file's path
  delete N              delete message N (each call is its own session: numbers start at 1 again)
  check                 list all five mailboxes of --ini at once and print each one's count
  read ..., send ...    the message commands (korimo-mail read --help)

The mailbox, either:
  --ini FOLDER --slot N     slot N (1 to 5) of FOLDER/iniKR.ini; the cache folder is FOLDER/DATA
or:
  --server TEXT             host, host:port, pop3s://host[:port] or pop3://host[:port] (plaintext by choice)
  --account NAME
  --password-env VAR        read the password from environment variable VAR (default: KORIMO_PASSWORD)

Other options:
  --data FOLDER             keep the UIDL cache in FOLDER (default: none, or FOLDER/DATA with --ini)
  --ca-file FILE            trust the PEM certificates in FILE instead of the system store
  --timeout MS              connect and read timeout in milliseconds (default 15000 / 30000)
  --help                    this text

Exit status: 0 done, 1 the server or the file system refused (the reason is on stderr), 2 usage error.
)";

struct Options {
    QString server, account, password;
    QString iniFolder;
    int slot = 0; // 1..5
    QString dataFolder;
    bool dataGiven = false;
    QString caFile;
    int timeoutMs = 0;
    QStringList positionals;
    bool help = false;
};

// false (and a message on stderr) when the options are wrong.
bool parseOptions(const QStringList& args, Options* o) {
    QString passwordEnv = QStringLiteral("KORIMO_PASSWORD");
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* target) {
            if (i + 1 >= args.size()) {
                err(QStringLiteral("korimo-mail: %1 needs a value\n").arg(a));
                return false;
            }
            *target = args[++i];
            return true;
        };
        auto number = [&](int* target, int lowest, int highest, const QString& complaint) {
            QString v;
            if (!value(&v))
                return false;
            bool ok = false;
            *target = v.toInt(&ok);
            if (!ok || *target < lowest || *target > highest) {
                err(complaint);
                return false;
            }
            return true;
        };
        if (a == QStringLiteral("--help") || a == QStringLiteral("-h")) {
            o->help = true;
        } else if (a == QStringLiteral("--server")) {
            if (!value(&o->server))
                return false;
        } else if (a == QStringLiteral("--account")) {
            if (!value(&o->account))
                return false;
        } else if (a == QStringLiteral("--password-env")) {
            if (!value(&passwordEnv))
                return false;
        } else if (a == QStringLiteral("--ini")) {
            if (!value(&o->iniFolder))
                return false;
        } else if (a == QStringLiteral("--slot")) {
            if (!number(&o->slot, 1, 5, QStringLiteral("korimo-mail: --slot takes 1 to 5\n")))
                return false;
        } else if (a == QStringLiteral("--data")) {
            if (!value(&o->dataFolder))
                return false;
            o->dataGiven = true;
        } else if (a == QStringLiteral("--ca-file")) {
            if (!value(&o->caFile))
                return false;
        } else if (a == QStringLiteral("--timeout")) {
            if (!number(&o->timeoutMs, 1, std::numeric_limits<int>::max(),
                        QStringLiteral("korimo-mail: --timeout takes a positive number of milliseconds\n")))
                return false;
        } else if (a.startsWith(QStringLiteral("--"))) {
            err(QStringLiteral("korimo-mail: unknown option %1\n").arg(a));
            return false;
        } else {
            o->positionals << a;
        }
    }
    if (!o->iniFolder.isEmpty()) {
        if (!o->server.isEmpty() || !o->account.isEmpty()) {
            err(QStringLiteral("korimo-mail: give either --ini or --server/--account, not both\n"));
            return false;
        }
        if (!o->dataGiven)
            o->dataFolder = QDir(o->iniFolder).filePath(QStringLiteral("DATA"));
        if (o->slot > 0) {
            const IniFile ini(o->iniFolder);
            o->server = readString(ini, keys::Servers, o->slot - 1);
            o->account = readString(ini, keys::Accounts, o->slot - 1);
            o->password = readString(ini, keys::Passwords, o->slot - 1);
        }
    } else {
        o->password = qEnvironmentVariable(passwordEnv.toLocal8Bit().constData());
    }
    return true;
}

TransportOptions transportOptions(const Options& o) {
    TransportOptions t;
    t.caFile = o.caFile;
    if (o.timeoutMs > 0) {
        t.connectTimeoutMs = o.timeoutMs;
        t.readTimeoutMs = o.timeoutMs;
    }
    return t;
}

bool needMailbox(const Options& o) {
    if (o.server.isEmpty()) {
        err(o.iniFolder.isEmpty() ? QStringLiteral("korimo-mail: give --server and --account, or --ini and --slot\n")
                                  : QStringLiteral("korimo-mail: slot %1 of the settings has no server\n").arg(o.slot));
        return false;
    }
    return true;
}

// A positive message number in decimal.
bool messageNumber(const QString& text, int* number) {
    bool ok = false;
    *number = text.toInt(&ok);
    if (!ok || *number < 1) {
        err(QStringLiteral("korimo-mail: %1 is not a message number\n").arg(text));
        return false;
    }
    return true;
}

int failed(const MailError& e) {
    err(describe(e) + QStringLiteral("\n"));
    return ExitFailed;
}

Mailbox mailbox(const Options& o) {
    return {o.server, o.account, o.password};
}

int runList(const Options& o) {
    if (!o.positionals.isEmpty()) {
        err(QStringLiteral("korimo-mail: list takes no arguments\n"));
        return ExitUsage;
    }
    if (!needMailbox(o))
        return ExitUsage;
    RealMailTransport t(transportOptions(o));
    const MailOutcome<Listing> r = t.list(mailbox(o), o.dataFolder);
    if (!r.ok())
        return failed(r.error());
    if (!r.value().unverifiedServer.isEmpty())
        err(QStringLiteral("暗号化して接続しましたが、サーバーの身元 (証明書) は確認できていません (") +
            r.value().unverifiedServer + QStringLiteral(")\n"));
    for (const MessageSummary& m : r.value().messages)
        out(QString::number(m.number) + u'\t' + m.subject + u'\t' + m.from + u'\t' + m.date + u'\n');
    return ExitOk;
}

// save and delete: the count of arguments, the message number first, and the mailbox options. false
// once the user has been told what is wrong.
bool messageArguments(const Options& o, qsizetype count, const QString& wrongCount, int* n) {
    if (o.positionals.size() != count) {
        err(wrongCount);
        return false;
    }
    return messageNumber(o.positionals[0], n) && needMailbox(o);
}

int runSave(const Options& o) {
    int n = 0;
    if (!messageArguments(o, 2, QStringLiteral("korimo-mail: save takes a message number and a folder\n"), &n))
        return ExitUsage;
    RealMailTransport t(transportOptions(o));
    // A number of the user's own listing, which this process has not seen: no UIDL to check it against.
    const MailOutcome<QString> r = t.save(mailbox(o), MessageRef{0, n, {}}, o.positionals[1]);
    if (!r.ok())
        return failed(r.error());
    out(r.value() + u'\n');
    return ExitOk;
}

int runDelete(const Options& o) {
    int n = 0;
    if (!messageArguments(o, 1, QStringLiteral("korimo-mail: delete takes a message number\n"), &n))
        return ExitUsage;
    RealMailTransport t(transportOptions(o));
    const MailOutcome<Done> r = t.remove(mailbox(o), MessageRef{0, n, {}});
    if (!r.ok()) // only a deletion the server committed is Done
        return failed(r.error());
    out(QStringLiteral("メール %1 を削除しました\n").arg(n));
    return ExitOk;
}

int runCheck(const Options& o) {
    if (o.iniFolder.isEmpty() || o.slot != 0 || !o.positionals.isEmpty()) {
        err(QStringLiteral("korimo-mail: check takes --ini FOLDER and nothing else\n"));
        return ExitUsage;
    }
    const IniFile ini(o.iniFolder);
    QList<Mailbox> boxes;
    for (int i = 0; i < kMailboxCount; ++i)
        boxes.append({readString(ini, keys::Servers, i), readString(ini, keys::Accounts, i),
                      readString(ini, keys::Passwords, i)});
    RealMailTransport t(transportOptions(o));
    QElapsedTimer timer;
    timer.start();
    const QList<MailOutcome<Listing>> results = t.listAll(boxes, o.dataFolder);
    const qint64 ms = timer.elapsed();
    int status = ExitOk;
    for (int i = 0; i < kMailboxCount; ++i) {
        if (boxes[i].server.isEmpty())
            continue;
        if (results[i].ok()) {
            out(QStringLiteral("%1\t%2\n").arg(i + 1).arg(results[i].value().messages.size()));
        } else {
            out(QStringLiteral("%1\t%2\n").arg(i + 1).arg(describe(results[i].error())));
            status = ExitFailed;
        }
    }
    err(QStringLiteral("%1 ms\n").arg(ms));
    return status;
}

} // namespace

} // namespace korimo::tool

int main(int argc, char** argv) {
    using namespace korimo::tool;
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return ExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == QStringLiteral("--help") || command == QStringLiteral("-h") || command == QStringLiteral("help")) {
        std::fputs(kUsage, stdout);
        return ExitOk;
    }
    if (command == QStringLiteral("read"))
        return runReadCommand(args);
    if (command == QStringLiteral("send"))
        return runSendCommand(args);
    const QList<std::pair<QString, std::function<int(const Options&)>>> commands{
        {QStringLiteral("list"), runList},
        {QStringLiteral("save"), runSave},
        {QStringLiteral("delete"), runDelete},
        {QStringLiteral("check"), runCheck},
    };
    for (const auto& [name, run] : commands) {
        if (name != command)
            continue;
        Options o;
        if (!parseOptions(args, &o))
            return ExitUsage;
        if (o.help) {
            std::fputs(kUsage, stdout);
            return ExitOk;
        }
        return run(o);
    }
    err(QStringLiteral("korimo-mail: unknown command %1 (see korimo-mail --help)\n").arg(command));
    return ExitUsage;
}
