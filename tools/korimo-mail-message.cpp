// korimo-mail read / send: the message side of the diagnostic tool.
//   korimo-mail read FILE DIR [--nofile]
//   korimo-mail send --server S --from A --to B[,C...] --subject S (--body-file F | --body TEXT)
//                    [--attach PATH] [--ca PEMFILE] [--user U] [--password-env VAR]
#include "korimo-mail.h"
#include "realMailTransport.h"

#include <QFile>
#include <QHash>
#include <QUrl>
#include <cstdio>

namespace korimo::tool {
namespace {

int usage(const char* text) {
    std::fputs(text, stderr);
    return ExitUsage;
}

} // namespace

int runReadCommand(const QStringList& args) {
    QStringList positional;
    bool nofile = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--nofile"))
            nofile = true;
        else
            positional.append(a);
    }
    if (positional.size() != 2)
        return usage("usage: korimo-mail read FILE DIR [--nofile]\n");
    RealMailTransport transport;
    const MailOutcome<MailMessage> r = transport.read(positional[0], !nofile, positional[1]);
    if (!r.ok()) {
        err(describe(r.error()) + QLatin1Char('\n'));
        return ExitFailed;
    }
    const MailMessage& m = r.value();
    out(QStringLiteral("Subject: %1\nFrom: %2\nDate: %3\n").arg(m.subject, m.from, m.date));
    bool complete = !m.partsOmitted;
    for (qsizetype i = 0; i < m.attachments.size(); ++i) {
        const SavedAttachment& a = m.attachments[i];
        const QString state = a.saved               ? QStringLiteral("saved")
                              : a.problem.isEmpty() ? QStringLiteral("not saved")
                                                    : a.problem;
        out(QStringLiteral("Attachment %1: %2 (%3)\n").arg(i + 1).arg(a.fileName, state));
        complete = complete && a.problem.isEmpty();
    }
    if (m.partsOmitted)
        out(QStringLiteral("[このメールは大きすぎるか複雑すぎるため、一部を省略しました]\n"));
    out(QStringLiteral("\n") + m.body);
    if (!m.body.endsWith(QLatin1Char('\n')))
        out(QStringLiteral("\n"));
    return complete ? ExitOk : ExitFailed;
}

int runSendCommand(const QStringList& args) {
    static const char* help =
        "usage: korimo-mail send --server S --from A --to B[,C...] --subject S\n"
        "       (--body-file F | --body TEXT) [--attach PATH] [--ca PEMFILE]\n"
        "       [--user U] [--password-env VAR]\n"
        "S: [user@]host[:port] (submission, STARTTLS required), smtps://[user@]host[:port], smtp://...\n"
        "The AUTH user is --user or the user part of S; its password is read from the environment\n"
        "variable VAR (default KORIMO_PASSWORD), never from the command line.\n";
    QHash<QString, QString> opt;
    static const QStringList known = {QStringLiteral("--server"),    QStringLiteral("--from"),
                                      QStringLiteral("--to"),        QStringLiteral("--subject"),
                                      QStringLiteral("--body-file"), QStringLiteral("--body"),
                                      QStringLiteral("--attach"),    QStringLiteral("--ca"),
                                      QStringLiteral("--user"),      QStringLiteral("--password-env")};
    for (qsizetype i = 0; i < args.size(); i += 2) {
        if (!known.contains(args[i]) || i + 1 >= args.size())
            return usage(help);
        opt.insert(args[i], args[i + 1]);
    }
    for (const char* required : {"--server", "--from", "--to", "--subject"}) {
        if (!opt.contains(QString::fromLatin1(required)))
            return usage(help);
    }
    QString body = opt.value(QStringLiteral("--body"));
    if (opt.contains(QStringLiteral("--body-file"))) {
        QFile f(opt.value(QStringLiteral("--body-file")));
        if (!f.open(QIODevice::ReadOnly)) {
            err(QStringLiteral("cannot read %1\n").arg(f.fileName()));
            return ExitFailed;
        }
        body = QString::fromUtf8(f.readAll());
    }
    // Credentials travel in the server text's user part, percent-encoded; the password comes from the
    // environment, where the process list does not show it.
    QString server = opt.value(QStringLiteral("--server"));
    const qsizetype schemeEnd = server.indexOf(QStringLiteral("://"));
    const qsizetype start = schemeEnd < 0 ? 0 : schemeEnd + 3;
    const qsizetype at = server.lastIndexOf(QLatin1Char('@'));
    QString user = opt.value(QStringLiteral("--user"));
    if (at >= start) {
        const QString userInfo = server.mid(start, at - start);
        if (userInfo.contains(QLatin1Char(':')) || opt.contains(QStringLiteral("--user")))
            return usage(help);
        user = QUrl::fromPercentEncoding(userInfo.toUtf8());
        server.remove(start, at + 1 - start);
    }
    if (!user.isEmpty()) {
        const QString variable = opt.value(QStringLiteral("--password-env"), QStringLiteral("KORIMO_PASSWORD"));
        const QString password = qEnvironmentVariable(variable.toLocal8Bit().constData());
        server.insert(start, QString::fromLatin1(QUrl::toPercentEncoding(user)) + QLatin1Char(':') +
                                 QString::fromLatin1(QUrl::toPercentEncoding(password)) + QLatin1Char('@'));
    }
    TransportOptions options;
    options.caFile = opt.value(QStringLiteral("--ca"));
    RealMailTransport transport(options);
    OutgoingMail mail;
    mail.server = server;
    mail.recipients = opt.value(QStringLiteral("--to")).split(QLatin1Char(','));
    mail.sender = opt.value(QStringLiteral("--from"));
    mail.subject = opt.value(QStringLiteral("--subject"));
    mail.body = body;
    mail.attachment = opt.value(QStringLiteral("--attach"));
    const MailOutcome<Sent> result = transport.send(mail);
    if (!result.ok()) {
        err(QStringLiteral("エラー") + describe(result.error()) + QLatin1Char('\n'));
        return ExitFailed;
    }
    if (!result.value().unverifiedServer.isEmpty())
        err(QStringLiteral("unverified certificate: ") + result.value().unverifiedServer + QLatin1Char('\n'));
    out(QStringLiteral("sent\n"));
    return ExitOk;
}

} // namespace korimo::tool
