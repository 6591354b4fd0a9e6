#include "testMailServers.h"

#include "testFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace korimo::test {

namespace {

constexpr int kScriptTimeoutMs = 30000;

struct ScriptResult {
    bool ok = false;
    QString output;
};

ScriptResult runMailServersScript(const QStringList& args) {
    QProcess proc;
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.start(QStringLiteral("/bin/bash"), QStringList{TestMailServers::scriptPath()} + args);
    ScriptResult result;
    if (!proc.waitForStarted(5000)) {
        result.output = QStringLiteral("cannot run %1: %2").arg(TestMailServers::scriptPath(), proc.errorString());
        return result;
    }
    if (!proc.waitForFinished(kScriptTimeoutMs)) {
        proc.kill();
        proc.waitForFinished(2000);
        result.output = QString::fromLocal8Bit(proc.readAll()) + QStringLiteral("\n(the script timed out)");
        return result;
    }
    result.output = QString::fromLocal8Bit(proc.readAll());
    result.ok = proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
    return result;
}

} // namespace

TestMailServers::TestMailServers() = default;

TestMailServers::~TestMailServers() {
    stop();
}

bool TestMailServers::canRunSmtp() {
    return ::geteuid() == 0;
}

QString TestMailServers::scriptPath() {
    const QByteArray source = qgetenv("KORIMO_SOURCE_DIR");
    if (!source.isEmpty()) {
        const QString path = QString::fromLocal8Bit(source) + QStringLiteral("/tests/servers/mailservers.sh");
        if (QFileInfo::exists(path))
            return path;
    }
    return QStringLiteral(KORIMO_MAILSERVERS_SCRIPT);
}

bool TestMailServers::start(bool withSmtp, bool withMailutils) {
    stop();
    error_.clear();
    // Unix socket paths inside the folder must stay short (108 bytes): fall back to /tmp when
    // TMPDIR is deep.
    QString base = QDir::tempPath();
    if (base.size() > 48)
        base = QStringLiteral("/tmp");
    dir_ = std::make_unique<QTemporaryDir>(base + QStringLiteral("/korimo-mail-XXXXXX"));
    if (!dir_->isValid()) {
        error_ = QStringLiteral("cannot make a temporary folder: %1").arg(dir_->errorString());
        return false;
    }
    QStringList args{QStringLiteral("start"), dir_->path(), QStringLiteral("--owner-pid"),
                     QString::number(QCoreApplication::applicationPid()), QStringLiteral("--remove-with-owner")};
    if (!withSmtp)
        args << QStringLiteral("--no-smtp");
    if (withMailutils)
        args << QStringLiteral("--with-mailutils");
    const ScriptResult result = runMailServersScript(args);
    running_ = result.ok && readEnv();
    if (!running_) {
        error_ = result.ok ? QStringLiteral("the script wrote no usable env file\n") + result.output : result.output;
        error_ += logText();
        stop();
    }
    return running_;
}

bool TestMailServers::readEnv() {
    const QByteArray env = readFile(dir_->path() + QStringLiteral("/env"));
    QHash<QByteArray, QByteArray> values;
    for (const QByteArray& line : env.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    pop3Port_ = values.value("POP3_PORT").toInt();
    pop3sPort_ = values.value("POP3S_PORT").toInt();
    hasSmtp_ = values.value("SMTP") == "1";
    smtpPort_ = values.value("SMTP_PORT").toInt();
    submissionPort_ = values.value("SUBMISSION_PORT").toInt();
    smtpsPort_ = values.value("SMTPS_PORT").toInt();
    caFile_ = QString::fromLocal8Bit(values.value("CA_FILE"));
    domain_ = QString::fromLocal8Bit(values.value("DOMAIN"));
    maildirRoot_ = QString::fromLocal8Bit(values.value("MAILDIR_ROOT"));
    muPop3Port_ = values.value("MU_POP3_PORT").toInt();
    muPop3sPort_ = values.value("MU_POP3S_PORT").toInt();
    muMaildirRoot_ = QString::fromLocal8Bit(values.value("MU_MAILDIR_ROOT"));
    if (values.value("MAILUTILS") == "1" && (muPop3Port_ <= 0 || muPop3sPort_ <= 0 || muMaildirRoot_.isEmpty()))
        return false;
    bool uidOk = false;
    bool gidOk = false;
    mailUid_ = values.value("MAIL_UID").toInt(&uidOk);
    mailGid_ = values.value("MAIL_GID").toInt(&gidOk);
    if (pop3Port_ <= 0 || pop3sPort_ <= 0 || caFile_.isEmpty() || maildirRoot_.isEmpty() || !uidOk || !gidOk)
        return false;
    return !hasSmtp_ || (smtpPort_ > 0 && submissionPort_ > 0 && smtpsPort_ > 0);
}

void TestMailServers::stop() {
    if (!dir_)
        return;
    // Also after a failed or interrupted start: the script stops whatever has a PID file.
    const ScriptResult result = runMailServersScript({QStringLiteral("stop"), dir_->path()});
    if (!result.ok)
        std::fprintf(stderr, "TestMailServers: %s\n", qPrintable(result.output));
    running_ = false;
    hasSmtp_ = false;
    pop3Port_ = pop3sPort_ = smtpPort_ = submissionPort_ = smtpsPort_ = muPop3Port_ = muPop3sPort_ = 0;
    dir_.reset();
}

QString TestMailServers::logText() const {
    if (!dir_)
        return {};
    QString text;
    for (const char* name :
         {"/dovecot.log", "/dovecot.start.log", "/mailutils.log", "/postfix/maillog", "/postfix.start.log"}) {
        const QByteArray log = readFile(dir_->path() + QLatin1String(name));
        if (!log.isEmpty())
            text += QStringLiteral("==> %1\n%2\n").arg(QLatin1String(name), QString::fromLocal8Bit(log));
    }
    return text;
}

QString TestMailServers::directory() const {
    return dir_ ? dir_->path() : QString();
}

QString TestMailServers::user(int n) {
    return QStringLiteral("user%1").arg(n);
}

QString TestMailServers::password(int n) {
    return QStringLiteral("pass%1").arg(n);
}

QString TestMailServers::address(int n) const {
    return user(n) + QLatin1Char('@') + domain_;
}

QString TestMailServers::maildir(int n, Pop3Server s) const {
    if (s == Pop3Server::Mailutils)
        return muMaildirRoot_ + QLatin1Char('/') + user(n) + QStringLiteral("/INBOX");
    return maildirRoot_ + QLatin1Char('/') + user(n);
}

bool TestMailServers::deliver(int n, const QByteArray& bytes, QString* path, Pop3Server s) {
    if (!running_ || n < 1 || n > kUsers || (s == Pop3Server::Mailutils && muMaildirRoot_.isEmpty()))
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
    const QString box = maildir(n, s);
    const QString tmpPath = box + QStringLiteral("/tmp/") + name;
    const QString newPath = box + QStringLiteral("/new/") + name;
    {
        QFile f(tmpPath);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly) || f.write(message) != message.size() || !f.flush())
            return false;
        f.close();
    }
    const QByteArray tmpNative = QFile::encodeName(tmpPath);
    // As root the Maildirs belong to the unprivileged mail user Dovecot and Postfix run as.
    if (::geteuid() == 0 &&
        ::chown(tmpNative.constData(), static_cast<uid_t>(mailUid_), static_cast<gid_t>(mailGid_)) != 0) {
        QFile::remove(tmpPath);
        return false;
    }
    ::chmod(tmpNative.constData(), 0600);
    if (::rename(tmpNative.constData(), QFile::encodeName(newPath).constData()) != 0) {
        QFile::remove(tmpPath);
        return false;
    }
    if (path)
        *path = newPath;
    return true;
}

QStringList TestMailServers::maildirFiles(int n, Pop3Server s) const {
    if (n < 1 || n > kUsers || maildirRoot_.isEmpty())
        return {};
    QFileInfoList infos;
    for (const char* sub : {"/new", "/cur"})
        infos += QDir(maildir(n, s) + QLatin1String(sub)).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    std::sort(infos.begin(), infos.end(), [](const QFileInfo& a, const QFileInfo& b) {
        const QDateTime ta = a.lastModified();
        const QDateTime tb = b.lastModified();
        return ta != tb ? ta < tb : a.fileName() < b.fileName();
    });
    QStringList paths;
    for (const QFileInfo& info : infos)
        paths << info.absoluteFilePath();
    return paths;
}

QByteArray TestMailServers::maildirMessage(int n, int index) const {
    const QStringList files = maildirFiles(n);
    return index >= 0 && index < files.size() ? readFile(files.at(index)) : QByteArray();
}

bool TestMailServers::clearMaildir(int n) {
    bool ok = true;
    for (const QString& path : maildirFiles(n))
        ok = QFile::remove(path) && ok;
    return ok;
}

QString TestMailServers::runScript(const QStringList& args, bool* ok) const {
    const ScriptResult result = runMailServersScript(args);
    if (ok)
        *ok = result.ok;
    return result.output;
}

bool TestMailServers::waitForMessages(int n, int count, int timeoutMs) const {
    QElapsedTimer timer;
    timer.start();
    while (maildirFiles(n).size() < count) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace korimo::test
