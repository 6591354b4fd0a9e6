#include "testMailServers.h"

#include "testFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace korimo::test {

namespace {

// Runs mailservers.sh (bounded); its output, and whether it succeeded.
bool runScript(const QStringList& args, QString* output) {
    QProcess proc;
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.start(QStringLiteral("/bin/bash"), QStringList{QStringLiteral(KORIMO_MAILSERVERS_SCRIPT)} + args);
    const bool finished = proc.waitForFinished(30000);
    if (!finished) {
        proc.kill();
        proc.waitForFinished(2000);
    }
    *output = QString::fromLocal8Bit(proc.readAll()) + (finished ? QString() : QStringLiteral("\n(timed out)"));
    return finished && proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
}

} // namespace

TestMailServers::TestMailServers() = default;

TestMailServers::~TestMailServers() {
    stop();
}

bool TestMailServers::canRunSmtp() {
    return ::geteuid() == 0;
}

QString TestMailServers::env(const char* name) const {
    const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(QLatin1String(name)),
                                  QRegularExpression::MultilineOption);
    return line.match(envText_).captured(1);
}

bool TestMailServers::start(bool withSmtp, bool withMailutils) {
    stop();
    // Unix socket paths inside the folder must stay short (108 bytes).
    dir_ = std::make_unique<QTemporaryDir>((QDir::tempPath().size() > 48 ? QStringLiteral("/tmp") : QDir::tempPath()) +
                                           QStringLiteral("/korimo-mail-XXXXXX"));
    QStringList args{QStringLiteral("start"), dir_->path(), QStringLiteral("--owner-pid"),
                     QString::number(QCoreApplication::applicationPid()), QStringLiteral("--remove-with-owner")};
    if (!withSmtp)
        args << QStringLiteral("--no-smtp");
    if (withMailutils)
        args << QStringLiteral("--with-mailutils");
    const bool ok = dir_->isValid() && runScript(args, &error_);
    envText_ = QString::fromLocal8Bit(readFile(dir_->path() + QStringLiteral("/env")));
    if (ok && pop3Port() > 0 && !caFile().isEmpty() && (!hasSmtp() || smtpsPort() > 0) &&
        (!withMailutils || pop3sPort(Pop3Server::Mailutils) > 0))
        return true;
    error_ += QStringLiteral("\nno usable env file in %1\n").arg(dir_->path()) + logText();
    stop();
    return false;
}

void TestMailServers::stop() {
    if (!dir_)
        return;
    // Also after a failed or interrupted start: the script stops whatever has a PID file.
    QString output;
    if (!runScript({QStringLiteral("stop"), dir_->path()}, &output))
        std::fprintf(stderr, "TestMailServers: %s\n", qPrintable(output));
    envText_.clear();
    dir_.reset();
}

QString TestMailServers::logText() const {
    QString text;
    for (const char* name :
         {"/dovecot.log", "/dovecot.start.log", "/mailutils.log", "/postfix/maillog", "/postfix.start.log"}) {
        const QByteArray log = dir_ ? readFile(dir_->path() + QLatin1String(name)) : QByteArray();
        if (!log.isEmpty())
            text += QStringLiteral("==> %1\n%2\n").arg(QLatin1String(name), QString::fromLocal8Bit(log));
    }
    return text;
}

QString TestMailServers::maildir(int n, Pop3Server s) const {
    if (s == Pop3Server::Mailutils)
        return env("MU_MAILDIR_ROOT") + QLatin1Char('/') + user(n) + QStringLiteral("/INBOX");
    return env("MAILDIR_ROOT") + QLatin1Char('/') + user(n);
}

bool TestMailServers::deliver(int n, const QByteArray& bytes, Pop3Server s) {
    if (envText_.isEmpty() || n < 1 || n > 5 || (s == Pop3Server::Mailutils && env("MU_MAILDIR_ROOT").isEmpty()))
        return false;
    const QByteArray message = s == Pop3Server::Mailutils ? QByteArray(bytes).replace("\r\n", "\n") : bytes;
    // Maildir's unique name: seconds, microseconds, process and a per-process counter.
    static std::atomic<int> counter{0};
    const qint64 usecs = QDateTime::currentMSecsSinceEpoch() * 1000;
    const QString name = QStringLiteral("%1.M%2P%3Q%4.korimo")
                             .arg(usecs / 1000000)
                             .arg(usecs % 1000000)
                             .arg(QCoreApplication::applicationPid())
                             .arg(++counter);
    const QByteArray tmpPath = QFile::encodeName(maildir(n, s) + QStringLiteral("/tmp/") + name);
    const QString newPath = maildir(n, s) + QStringLiteral("/new/") + name;
    QFile f(QFile::decodeName(tmpPath));
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::NewOnly) && f.write(message) == message.size() && f.flush();
    f.close();
    // As root the Maildirs belong to the unprivileged mail user Dovecot and Postfix run as.
    ok =
        ok && (::geteuid() != 0 || ::chown(tmpPath.constData(), uid_t(port("MAIL_UID")), gid_t(port("MAIL_GID"))) == 0);
    ok = ok && ::chmod(tmpPath.constData(), 0600) == 0 &&
         ::rename(tmpPath.constData(), QFile::encodeName(newPath).constData()) == 0;
    if (!ok)
        QFile::remove(f.fileName());
    return ok;
}

QStringList TestMailServers::maildirFiles(int n, Pop3Server s) const {
    QFileInfoList infos;
    for (const char* sub : {"/new", "/cur"})
        infos += QDir(maildir(n, s) + QLatin1String(sub)).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    std::sort(infos.begin(), infos.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() != b.lastModified() ? a.lastModified() < b.lastModified() : a.fileName() < b.fileName();
    });
    QStringList paths;
    for (const QFileInfo& info : infos)
        paths << info.absoluteFilePath();
    return envText_.isEmpty() || n < 1 || n > 5 ? QStringList() : paths;
}

bool TestMailServers::waitForMessages(int n, int count, int timeoutMs) const {
    QElapsedTimer timer;
    timer.start();
    while (maildirFiles(n).size() < count && timer.elapsed() < timeoutMs)
        QThread::msleep(20);
    return maildirFiles(n).size() >= count;
}

} // namespace korimo::test
