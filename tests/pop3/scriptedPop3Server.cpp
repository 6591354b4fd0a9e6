#include "scriptedPop3Server.h"

#include <QElapsedTimer>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korimo::test {

ScriptedPop3Server::ScriptedPop3Server(QList<Script> connections) : scripts_(std::move(connections)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 8) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        failures_ << QStringLiteral("cannot listen");
        done_ = true;
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

ScriptedPop3Server::~ScriptedPop3Server() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool ScriptedPop3Server::waitFinished(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done_ && t.elapsed() < timeoutMs)
        QThread::msleep(5);
    return done_;
}

QList<QByteArray> ScriptedPop3Server::received() const {
    QMutexLocker lock(&mutex_);
    return received_;
}

QStringList ScriptedPop3Server::failures() const {
    QMutexLocker lock(&mutex_);
    return failures_;
}

void ScriptedPop3Server::run() {
    for (qsizetype i = 0; i < scripts_.size() && !stop_; ++i) {
        pollfd p{listenFd_, POLLIN, 0};
        int waited = 0;
        while (!stop_ && ::poll(&p, 1, 50) == 0 && (waited += 50) < 10000) {
        }
        if (stop_ || !(p.revents & POLLIN)) {
            QMutexLocker lock(&mutex_);
            failures_ << QStringLiteral("connection %1 never came").arg(i + 1);
            break;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            break;
        serve(fd, scripts_[i]);
        ::close(fd);
    }
    done_ = true;
}

bool ScriptedPop3Server::readLine(int fd, QByteArray* buffer, QByteArray* line, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        const qsizetype lf = buffer->indexOf('\n');
        if (lf >= 0) {
            *line = buffer->left(lf);
            if (line->endsWith('\r'))
                line->chop(1);
            buffer->remove(0, lf + 1);
            QMutexLocker lock(&mutex_);
            received_.append(*line);
            return true;
        }
        const int left = timeoutMs - int(t.elapsed());
        if (left <= 0 || stop_)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, qMin(left, 50)) <= 0)
            continue;
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer->append(chunk, n);
    }
}

void ScriptedPop3Server::serve(int fd, const Script& script) {
    QByteArray buffer;
    QByteArray got;
    for (const Step& step : script) {
        switch (step.kind) {
        case Step::Send: {
            qsizetype sent = 0;
            while (sent < step.data.size()) {
                const ssize_t n =
                    ::send(fd, step.data.constData() + sent, size_t(step.data.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += n;
            }
            break;
        }
        case Step::Expect:
        case Step::ExpectAlone:
            if (!readLine(fd, &buffer, &got, 5000)) {
                QMutexLocker lock(&mutex_);
                failures_ << QStringLiteral("expected \"%1\", got nothing").arg(QString::fromLatin1(step.data));
                return;
            }
            if (got != step.data) {
                QMutexLocker lock(&mutex_);
                failures_ << QStringLiteral("expected \"%1\", got \"%2\"")
                                 .arg(QString::fromLatin1(step.data), QString::fromLatin1(got));
                return;
            }
            if (step.kind == Step::ExpectAlone) {
                pollfd p{fd, POLLIN, 0};
                if (!buffer.isEmpty() || ::poll(&p, 1, 80) > 0) {
                    QMutexLocker lock(&mutex_);
                    failures_ << QStringLiteral("client sent more after \"%1\" without waiting for the reply")
                                     .arg(QString::fromLatin1(step.data));
                }
            }
            break;
        case Step::Stall: {
            // Silence: nothing is read or sent until the client gives up or the time has passed.
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < step.ms && !stop_) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) {
                    char c;
                    if (::recv(fd, &c, 1, MSG_PEEK) <= 0)
                        break;
                    QThread::msleep(20);
                }
            }
            break;
        }
        case Step::Close:
            return;
        }
    }
    // Record whatever else the client sends until it hangs up.
    while (readLine(fd, &buffer, &got, 2000)) {
    }
}

} // namespace korimo::test
