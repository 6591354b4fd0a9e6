#include "scriptedLineServer.h"

#include <QElapsedTimer>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korimo::test {

namespace {

bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

} // namespace

ScriptedLineServer::Script ScriptedLineServer::parse(const QString& text) {
    Script s;
    for (const QString& t : text.split(u'|', Qt::SkipEmptyParts)) {
        const QByteArray rest = t.mid(1).toUtf8();
        const Step::Kind kinds[] = {Step::Expect, Step::ExpectAlone, Step::SkipTo, Step::Send,
                                    Step::Send,   Step::Stall,       Step::Close};
        const Step::Kind kind = kinds[QStringLiteral(">=^<{~!").indexOf(t[0])];
        s += {kind, t[0] == u'<' ? rest + "\r\n" : rest, kind == Step::Stall ? rest.toInt() : 0};
    }
    return s;
}

ScriptedLineServer::ScriptedLineServer(QList<Script> connections) : scripts_(std::move(connections)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 8) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        fail(QStringLiteral("cannot listen"));
        done_ = true;
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

ScriptedLineServer::~ScriptedLineServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    ::close(listenFd_);
}

bool ScriptedLineServer::waitFinished(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done_ && t.elapsed() < timeoutMs)
        QThread::msleep(5);
    return done_;
}

QList<QByteArray> ScriptedLineServer::received() const {
    QMutexLocker lock(&mutex_);
    return received_;
}

QStringList ScriptedLineServer::failures() const {
    QMutexLocker lock(&mutex_);
    return failures_;
}

void ScriptedLineServer::fail(const QString& text) {
    QMutexLocker lock(&mutex_);
    failures_ << text;
}

void ScriptedLineServer::run() {
    for (qsizetype i = 0; i < scripts_.size() && !stop_; ++i) {
        QElapsedTimer waited;
        waited.start();
        while (!stop_ && !readable(listenFd_, 50) && waited.elapsed() < 10000) {
        }
        const int fd = readable(listenFd_, 0) ? ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (fd < 0) {
            fail(QStringLiteral("connection %1 never came").arg(i + 1));
            break;
        }
        serve(fd, scripts_[i]);
        ::close(fd);
    }
    done_ = true;
}

bool ScriptedLineServer::readLine(int fd, QByteArray* buffer, QByteArray* line, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    for (qsizetype lf; (lf = buffer->indexOf('\n')) < 0;) {
        if (t.elapsed() >= timeoutMs || stop_)
            return false;
        if (!readable(fd, 50))
            continue;
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer->append(chunk, n);
    }
    const qsizetype lf = buffer->indexOf('\n');
    *line = buffer->left(lf > 0 && buffer->at(lf - 1) == '\r' ? lf - 1 : lf);
    buffer->remove(0, lf + 1);
    QMutexLocker lock(&mutex_);
    received_.append(*line);
    return true;
}

void ScriptedLineServer::serve(int fd, const Script& script) {
    QByteArray buffer, got;
    for (const Step& step : script) {
        const QString wanted = QString::fromLatin1(step.data);
        switch (step.kind) {
        case Step::Send:
            for (qsizetype sent = 0, n = 0; sent < step.data.size(); sent += n) {
                n = ::send(fd, step.data.constData() + sent, size_t(step.data.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
            }
            break;
        case Step::Expect:
        case Step::ExpectAlone:
            if (!readLine(fd, &buffer, &got, 5000) ||
                (step.data.endsWith('*') ? !got.startsWith(step.data.chopped(1)) : got != step.data))
                return fail(QStringLiteral("expected \"%1\", got \"%2\"").arg(wanted, QString::fromLatin1(got)));
            if (step.kind == Step::ExpectAlone && (!buffer.isEmpty() || readable(fd, 80)))
                fail(QStringLiteral("client sent more after \"%1\" without waiting for the reply").arg(wanted));
            break;
        case Step::SkipTo:
            while (got != step.data)
                if (!readLine(fd, &buffer, &got, 5000))
                    return fail(QStringLiteral("no \"%1\" came").arg(wanted));
            break;
        case Step::Stall: { // nothing read or sent until the client gives up or the time has passed
            QElapsedTimer t;
            t.start();
            for (char c; t.elapsed() < step.ms && !stop_;) {
                if (!readable(fd, 20))
                    continue;
                if (::recv(fd, &c, 1, MSG_PEEK) <= 0)
                    break;           // the client hung up
                QThread::msleep(20); // its bytes wait unread
            }
            break;
        }
        case Step::Close:
            return;
        }
    }
    while (readLine(fd, &buffer, &got, 2000)) { // record whatever else the client sends until it hangs up
    }
}

} // namespace korimo::test
