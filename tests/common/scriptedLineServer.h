// A line server for POP3 and SMTP transcript tests: it accepts connections on a free loopback port and
// plays one script per connection: lines it expects from the client (compared exactly, or by prefix when
// the expected text ends in '*'), lines it skips up to one, bytes it sends, a stall, a dropped connection. Everything
// the client sent is recorded, also after the script has ended, so a test can assert what was NOT sent. Plain POSIX
// sockets on a thread of its own.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <atomic>
#include <thread>

namespace korimo::test {

class ScriptedLineServer {
public:
    struct Step {
        enum Kind { Send, Expect, ExpectAlone, SkipTo, Stall, Close } kind;
        QByteArray data;
        int ms = 0;
    };
    using Script = QList<Step>;

    static Step send(const QByteArray& bytes) { return {Step::Send, bytes}; }
    static Step expect(const QByteArray& text) { return {Step::Expect, text}; }
    // Steps in short, separated by '|': ">line" expect, "=line" expect and nothing more from the client for a
    // moment (no pipelining), "^line" skip up to that line, "<line" send with CR LF, "{bytes" send as is,
    // "~ms" stall, "!" close.
    static Script parse(const QString& text);

    explicit ScriptedLineServer(QList<Script> connections);
    ~ScriptedLineServer();

    quint16 port() const { return port_; }
    // Waits (at most timeoutMs) until every script has run and its client has gone.
    bool waitFinished(int timeoutMs = 10000);
    // Every line received, over all connections, in order.
    QList<QByteArray> received() const;
    // Mismatches and missing connections; empty when the client followed the scripts.
    QStringList failures() const;

private:
    void run();
    void serve(int fd, const Script& script);
    bool readLine(int fd, QByteArray* buffer, QByteArray* line, int timeoutMs);
    void fail(const QString& text);

    QList<Script> scripts_;
    int listenFd_ = -1;
    quint16 port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false}, done_{false};
    mutable QMutex mutex_;
    QList<QByteArray> received_;
    QStringList failures_;
};

} // namespace korimo::test
