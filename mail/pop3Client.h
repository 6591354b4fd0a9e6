// A blocking POP3 client on QSslSocket. It uses only the waitFor* calls, so it works on any thread
// without an event loop; one Client is one session: login(), some transaction commands, quit().
//
// The login is an explicit state machine: each state has sent one command and waits for its reply;
// advance() is the one transition function that reads the reply and sends the next command.
// After the login, commands go out one at a time, or in a window of several when the server
// advertises PIPELINING. With PIPELINING, the last login mechanism to try also goes out in one write
// (USER with PASS) with UIDL behind it, whose answer uidl() reads (any other first command reads and
// drops it), and QUIT can go in the write of a session's last command (see Then).
#pragma once

#include "pop3Protocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

class QIODevice;
class QSslSocket;

namespace korimo::pop3 {

struct ClientOptions {
    int connectTimeoutMs = 15000; // TCP connect plus TLS handshake
    int readTimeoutMs = 30000;    // longest wait for any one line
    // The whole session has an overall deadline that grows with the work done: sessionBaseMs, plus
    // headerAllowanceMs for each message header received, plus bytesAllowanceMs for each full 100 KiB
    // of multi-line replies received. A server that trickles its bytes earns almost nothing.
    int sessionBaseMs = 60 * 1000;
    int headerAllowanceMs = 200;
    int bytesAllowanceMs = 1000;
    int maxMessages = 100000;                     // a mailbox that lists more is refused (TooManyMessages)
    QString caFile;                               // PEM certificates trusted instead of the system's store
    qsizetype maxLine = 64 * 1024;                // reply and listing lines
    qsizetype maxBodyLine = 4 * 1024 * 1024;      // one line inside a message
    qint64 maxMessageBytes = 256LL * 1024 * 1024; // RETR, and what a TOP reply may run to before we give up
    int pipelineWindow = 1024;                    // commands in flight when pipelining
    // Sees every line sent ('>') and received ('<'); passwords are masked.
    std::function<void(char direction, QByteArrayView line)> trace;
};

enum class ErrorKind {
    None,
    BadCredentialText, // CR, LF or NUL in the account or password
    Unreachable,
    TlsNotOffered,
    Tls,
    Certificate,
    LoginRefused,
    Timeout,  // one reply took longer than readTimeoutMs
    Deadline, // the session's overall deadline passed
    Dropped,
    ServerError, // -ERR to a command
    Protocol,    // a reply we cannot read, or one too long
    TooLarge,
    TooManyMessages, // more than maxMessages
};

class Client {
public:
    enum class State {
        Disconnected,
        Greeting,
        Capa,
        Stls,
        CapaAfterTls,
        AuthPlain,
        AuthLoginUser,
        AuthLoginPassword,
        AuthLoginFinal,
        Apop,
        User,
        Pass,
        Transaction,
        Closed, // QUIT answered
        Failed,
    };

    explicit Client(ClientOptions options);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Connects and logs in; true in the Transaction state.
    bool login(const ServerAddress& address, const QString& user, const QString& password);

    State state() const { return state_; }
    const Capabilities& capabilities() const { return caps_; }
    bool tlsActive() const { return tls_; }
    // pop3:// only: the server's certificate could not be verified and the session went on encrypted
    // (opportunistic TLS, never worse than the plaintext the user accepted). Why, or empty.
    QString unverifiedIdentity() const { return unverified_; }
    ErrorKind errorKind() const { return error_; }
    // The server's text or the socket's explanation for the last failure, sanitised, at most 200 characters.
    QString errorDetail() const { return detail_; }

    // UIDL: uids[k] belongs to message k+1. false on -ERR (state stays Transaction) or a broken session;
    // more than maxMessages lines fail with TooManyMessages.
    bool uidl(QList<QByteArray>* uids);
    // STAT: the message count; a count above maxMessages fails with TooManyMessages.
    bool stat(int* count);
    // UIDL n: the unique id of message n. false on -ERR (no such message; state stays Transaction) or a
    // broken session.
    bool uidlOf(int number, QByteArray* uid);
    // What follows a command that reads and changes nothing: Then::Quit ends the session with QUIT, sent
    // in the same write when the server pipelines. Its answer is awaited (some servers take a close
    // before it as a fault), and whatever it is, the state is Closed then, unless the connection broke
    // (Failed); errorKind() still tells what went wrong with the command itself.
    enum class Then { Stay, Quit };
    // TOP n 0 for each number (pipelined when allowed); onHeaders gets the Subject, From and Date fields
    // of the header (read as a stream: memory stays bounded whatever the header's size), or ok=false
    // on -ERR. false when the session broke.
    bool topHeaders(const QList<int>& numbers,
                    const std::function<void(int number, bool ok, const QByteArray&)>& onHeaders,
                    Then then = Then::Stay);
    // RETR n into out, byte-stuffing removed, lines ending in CR LF. false on -ERR (ServerError), when out
    // took not every byte (errorKind() None) or the session broke.
    bool retrieve(int number, QIODevice* out, Then then = Then::Stay);
    // DELE n and QUIT, in one write when the server pipelines. true only when both were answered +OK:
    // the deletion is committed then and only then.
    bool deleteAndQuit(int number);
    // QUIT; true when the server answered +OK. The connection (TLS included) is then closed properly.
    bool quit();

private:
    bool connectSocket(const ServerAddress& address);
    bool startTls();
    // Waits for the TLS handshake the socket has begun; a failure says why (certificate, timeout, TLS).
    bool finishHandshake(int timeoutMs);
    void advance(const Reply& reply, const QList<QByteArray>& body);
    void chooseAuthentication();
    void send(QByteArrayView command, QByteArrayView traceText = {});
    bool flush();
    bool readLine(QByteArray* line);
    bool readReply(Reply* reply);
    // Sends one command and reads its status line: true on +OK. Anything else is the server's error,
    // kept with its text (the session stays usable); false too when the session broke.
    bool request(QByteArrayView command, Reply* reply);
    // Multi-line body: lines are given to sink (false from sink stops keeping, reading goes on).
    bool readBody(const std::function<void(const QByteArray& line)>& sink, qint64 limit);
    void nextMechanism();
    // Reads and drops the answer to the UIDL sent behind the login, when another command comes first.
    bool dropPipelinedUidl();
    bool awaitQuit();
    // QUIT (unless sent already) after work its answer cannot undo; see Then::Quit.
    void leave(bool quitSent);
    // Reads the status line of a command sent: true on +OK, else as request().
    bool answered(Reply* reply);
    void loginRefused(const Reply& reply);
    qint64 remainingSessionMs() const { return qMax<qint64>(1, sessionDeadline_.remainingTime()); }
    void fail(ErrorKind kind, const QString& detail = {});
    void failOnReply(ErrorKind kind, const Reply& reply);
    void closeSocket();

    ClientOptions opts_;
    std::unique_ptr<QSslSocket> socket_;
    LineBuffer buffer_;
    QDeadlineTimer sessionDeadline_;
    State state_ = State::Disconnected;
    Capabilities caps_;
    ServerAddress address_;
    QByteArray user_, password_, apopStamp_;
    enum class Mechanism { Apop, Plain, Login, User };
    QList<Mechanism> mechanisms_; // still to try after the one in flight
    bool plainResponded_ = false;
    bool passSent_ = false;  // with USER, in one write
    bool uidlSent_ = false;  // behind the login; its answer not read yet
    bool dropReply_ = false; // the next reply answers a line the server took for something else
    bool quitSent_ = false;  // before the session ended: a failed session's goodbye, or with the last command
    qint64 bodyBytes_ = 0;   // of multi-line replies, for the deadline's allowance
    bool tls_ = false;
    QString unverified_;
    ErrorKind error_ = ErrorKind::None;
    QString detail_;
};

} // namespace korimo::pop3
