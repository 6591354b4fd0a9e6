#include "pop3Client.h"

#include "charsets.h"

#include <QFile>
#include <QIODevice>
#include <QMutex>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringDecoder>

namespace korimo::pop3 {

namespace {

// Server text is UTF-8 when it is valid UTF-8, else CP932 (Japanese servers' error texts).
QString shortText(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString decoded = utf8.decode(bytes);
    if (utf8.hasError())
        decoded = decodeCharset(bytes, "cp932");
    QString text = sanitizeForLine(decoded).trimmed();
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("…");
    return text;
}

bool hasLineBreakOrNul(const QString& s) {
    return s.contains(QChar(u'\r')) || s.contains(QChar(u'\n')) || s.contains(QChar(u'\0'));
}

} // namespace

Client::Client(ClientOptions options) : opts_(std::move(options)), buffer_(opts_.maxLine) {}

Client::~Client() {
    if (state_ == State::Transaction) // a session given up after an -ERR still ends with QUIT
        quit();
    closeSocket();
}

void Client::closeSocket() {
    if (!socket_)
        return;
    if ((state_ == State::Closed || quitSent_) && socket_->state() == QAbstractSocket::ConnectedState) {
        const int wait = int(qMin<qint64>(qMin(opts_.readTimeoutMs, 2000), remainingSessionMs()));
        // A failed session that said QUIT: give the server the moment it needs to answer it.
        if (state_ != State::Closed && socket_->bytesAvailable() == 0)
            socket_->waitForReadyRead(wait);
        // After QUIT's answer: TLS close_notify, then the server's own close, within the deadline.
        socket_->disconnectFromHost();
        if (socket_->state() != QAbstractSocket::UnconnectedState)
            socket_->waitForDisconnected(int(qMin<qint64>(qMin(opts_.readTimeoutMs, 2000), remainingSessionMs())));
    }
    socket_->abort();
    socket_.reset();
}

void Client::fail(ErrorKind kind, const QString& detail) {
    if (state_ == State::Failed)
        return;
    state_ = State::Failed;
    error_ = kind;
    detail_ = detail;
}

void Client::failOnReply(ErrorKind kind, const Reply& reply) {
    // The connection still works: say goodbye (closeSocket gives the answer a moment).
    send("QUIT");
    flush();
    quitSent_ = true;
    fail(kind, shortText(reply.text));
}

bool Client::login(const ServerAddress& address, const QString& user, const QString& password) {
    sessionDeadline_ = QDeadlineTimer(opts_.sessionBaseMs);
    address_ = address;
    if (hasLineBreakOrNul(user) || hasLineBreakOrNul(password)) {
        fail(ErrorKind::BadCredentialText);
        return false;
    }
    user_ = user.toUtf8();
    password_ = password.toUtf8();
    if (!connectSocket(address))
        return false;
    state_ = State::Greeting;
    while (state_ != State::Transaction && state_ != State::Failed) {
        Reply reply;
        if (!readReply(&reply))
            break;
        if (dropReply_) { // the answer to a line the server took for something else (see AuthPlain)
            dropReply_ = false;
            continue;
        }
        QList<QByteArray> body;
        if ((state_ == State::Capa || state_ == State::CapaAfterTls) && reply.kind == Reply::Ok) {
            if (!readBody([&body](const QByteArray& line) { body.append(line); }, 64 * 1024))
                break;
        }
        advance(reply, body);
    }
    return state_ == State::Transaction;
}

bool Client::connectSocket(const ServerAddress& address) {
    socket_ = std::make_unique<QSslSocket>();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    if (!opts_.caFile.isEmpty()) // instead of the system's store, which is then never read
        conf.setCaCertificates(QSslCertificate::fromPath(opts_.caFile, QSsl::Pem));
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    conf.setProtocol(QSsl::SecureProtocols);
    socket_->setSslConfiguration(conf);
    socket_->setPeerVerifyName(address.host);
    if (!address.tlsRequired && !address.implicitTls) {
        // pop3://: the user accepted plaintext, so an offered STLS whose certificate cannot be verified
        // still beats plaintext (opportunistic TLS). Only certificate errors are overlooked; a failed
        // handshake still ends the session and nothing falls back to plaintext.
        QObject::connect(socket_.get(), &QSslSocket::sslErrors, socket_.get(), [this](const QList<QSslError>& errors) {
            unverified_ = errors.isEmpty() ? QStringLiteral("?") : errors.first().errorString();
            socket_->ignoreSslErrors();
        });
    }

    const QDeadlineTimer deadline(qMin<qint64>(opts_.connectTimeoutMs, remainingSessionMs()));
    if (address.implicitTls)
        socket_->connectToHostEncrypted(address.host, address.port);
    else
        socket_->connectToHost(address.host, address.port);
    if (!socket_->waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
        fail(ErrorKind::Unreachable, socket_->error() == QAbstractSocket::SocketTimeoutError ? QStringLiteral("timeout")
                                                                                             : socket_->errorString());
        return false;
    }
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return !address.implicitTls || finishHandshake(int(qMax<qint64>(1, deadline.remainingTime())));
}

bool Client::startTls() {
    // Bytes the server sent after its STLS answer would be plaintext injected before the handshake.
    if (buffer_.buffered() > 0 || socket_->bytesAvailable() > 0) {
        fail(ErrorKind::Protocol, QStringLiteral("data after STLS"));
        return false;
    }
    socket_->startClientEncryption();
    return finishHandshake(int(qMin<qint64>(opts_.connectTimeoutMs, remainingSessionMs())));
}

bool Client::finishHandshake(int timeoutMs) {
    if (!socket_->waitForEncrypted(timeoutMs)) {
        const auto errors = socket_->sslHandshakeErrors();
        if (!errors.isEmpty())
            fail(ErrorKind::Certificate, errors.first().errorString());
        else if (socket_->error() == QAbstractSocket::SocketTimeoutError)
            fail(ErrorKind::Timeout);
        else
            fail(ErrorKind::Tls, socket_->errorString());
        return false;
    }
    tls_ = true;
    return true;
}

// The transition function of the login: state_ names the command whose reply this is.
void Client::advance(const Reply& reply, const QList<QByteArray>& body) {
    if (reply.kind == Reply::Invalid) {
        fail(ErrorKind::Protocol, shortText(reply.text));
        return;
    }
    switch (state_) {
    case State::Greeting:
        if (reply.kind != Reply::Ok)
            return failOnReply(ErrorKind::ServerError, reply);
        apopStamp_ = apopTimestamp(reply.text);
        send("CAPA");
        state_ = State::Capa;
        break;
    case State::Capa:
    case State::CapaAfterTls: {
        caps_ = reply.kind == Reply::Ok ? parseCapabilities(body) : Capabilities{};
        if (!tls_ && caps_.stls) {
            send("STLS");
            state_ = State::Stls;
        } else if (!tls_ && address_.tlsRequired) {
            return failOnReply(ErrorKind::TlsNotOffered, Reply{});
        } else {
            chooseAuthentication();
        }
        break;
    }
    case State::Stls:
        if (reply.kind != Reply::Ok)
            return failOnReply(ErrorKind::TlsNotOffered, reply);
        if (!startTls())
            return;
        // Capabilities learnt before TLS are forgotten (RFC 2595).
        send("CAPA");
        state_ = State::CapaAfterTls;
        break;
    case State::AuthPlain:
        if (reply.kind == Reply::Continue && uidlSent_) {
            // A server that wants the response on its own line took the UIDL behind AUTH PLAIN for it. Its
            // answer to that is dropped, and AUTH PLAIN starts again, alone.
            uidlSent_ = false;
            dropReply_ = true;
            send("AUTH PLAIN " + saslPlain(user_, password_), "AUTH PLAIN ****");
            break;
        }
        if (reply.kind == Reply::Continue) { // a server that wants the response on its own line
            if (plainResponded_) { // one continuation per step; a server that keeps asking has failed the login
                Reply again;
                again.text = "AUTH PLAIN";
                return failOnReply(ErrorKind::Protocol, again);
            }
            plainResponded_ = true;
            send(saslPlain(user_, password_), "****");
            break;
        }
        [[fallthrough]];
    case State::AuthLoginFinal:
    case State::Apop:
    case State::Pass:
        if (reply.kind == Reply::Ok)
            state_ = State::Transaction;
        else
            loginRefused(reply);
        break;
    case State::AuthLoginUser:
        if (reply.kind != Reply::Continue)
            return loginRefused(reply);
        send(user_.toBase64(), "****");
        state_ = State::AuthLoginPassword;
        break;
    case State::AuthLoginPassword:
        if (reply.kind != Reply::Continue)
            return loginRefused(reply);
        send(password_.toBase64(), "****");
        state_ = State::AuthLoginFinal;
        break;
    case State::User:
        if (reply.kind != Reply::Ok)
            return loginRefused(reply);
        if (!passSent_)
            send("PASS " + password_, "PASS ****");
        state_ = State::Pass;
        break;
    case State::Disconnected:
    case State::Transaction:
    case State::Closed:
    case State::Failed:
        break;
    }
    if (state_ != State::Failed && state_ != State::Transaction)
        flush();
}

void Client::chooseAuthentication() {
    // Without TLS, APOP keeps the password off the wire; with TLS, SASL PLAIN needs one round trip.
    // A refused APOP proves nothing (servers offer the timestamp without an APOP secret for the
    // user): without TLS (the user chose plaintext) the other mechanisms follow in turn. With TLS
    // one mechanism is tried.
    mechanisms_.clear();
    if (caps_.sasl.contains("PLAIN"))
        mechanisms_.append(Mechanism::Plain);
    if (caps_.sasl.contains("LOGIN"))
        mechanisms_.append(Mechanism::Login);
    mechanisms_.append(Mechanism::User);
    if (!tls_ && !apopStamp_.isEmpty())
        mechanisms_.prepend(Mechanism::Apop);
    else
        mechanisms_.resize(1);
    nextMechanism();
}

void Client::nextMechanism() {
    // With PIPELINING, the last mechanism to try sends its final command without waiting, and UIDL goes
    // behind it: nearly every session starts with the listing. A refusal then ends the session, so the
    // answers to what followed need not be read. The password goes only where the login sends it anyway:
    // to this server, on this connection, and only within the mechanism chosen for it.
    const bool last = mechanisms_.size() == 1;
    const bool pipelined = caps_.pipelining && last;
    switch (mechanisms_.takeFirst()) {
    case Mechanism::Apop:
        send("APOP " + user_ + ' ' + apopDigest(apopStamp_, password_), "APOP ****");
        state_ = State::Apop;
        break;
    case Mechanism::Plain:
        plainResponded_ = false;
        send("AUTH PLAIN " + saslPlain(user_, password_), "AUTH PLAIN ****");
        state_ = State::AuthPlain;
        break;
    case Mechanism::Login:
        send("AUTH LOGIN");
        state_ = State::AuthLoginUser;
        return;
    case Mechanism::User:
        send("USER " + user_);
        state_ = State::User;
        passSent_ = pipelined;
        if (passSent_)
            send("PASS " + password_, "PASS ****");
        break;
    }
    if (pipelined && caps_.uidl) {
        send("UIDL");
        uidlSent_ = true;
    }
}

// A login command was answered with something other than success: the next mechanism, when one is
// left and this one refused the credentials; otherwise the login has failed.
void Client::loginRefused(const Reply& reply) {
    const bool refused = isCredentialRefusal(reply);
    if (refused && !mechanisms_.isEmpty())
        return nextMechanism();
    failOnReply(refused ? ErrorKind::LoginRefused : ErrorKind::ServerError, reply);
}

void Client::send(QByteArrayView command, QByteArrayView traceText) {
    if (!socket_)
        return;
    if (opts_.trace)
        opts_.trace('>', traceText.isNull() ? command : traceText);
    QByteArray line;
    line.reserve(command.size() + 2);
    line.append(command);
    line.append("\r\n");
    socket_->write(line);
}

bool Client::flush() {
    if (!socket_)
        return false;
    socket_->flush();
    return true;
}

bool Client::readLine(QByteArray* line) {
    if (state_ == State::Failed || !socket_)
        return false;
    const QDeadlineTimer lineDeadline(opts_.readTimeoutMs);
    for (;;) {
        switch (buffer_.takeLine(line)) {
        case LineBuffer::Line:
            if (opts_.trace)
                opts_.trace('<', *line);
            return true;
        case LineBuffer::TooLong:
            fail(ErrorKind::Protocol, QStringLiteral("line too long"));
            return false;
        case LineBuffer::NeedMore:
            break;
        }
        if (socket_->bytesAvailable() > 0) {
            buffer_.append(socket_->read(1024 * 1024));
            continue;
        }
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            fail(ErrorKind::Dropped);
            return false;
        }
        const qint64 remaining = qMin(lineDeadline.remainingTime(), sessionDeadline_.remainingTime());
        const ErrorKind late =
            sessionDeadline_.remainingTime() <= lineDeadline.remainingTime() ? ErrorKind::Deadline : ErrorKind::Timeout;
        if (remaining <= 0) {
            fail(late);
            return false;
        }
        if (!socket_->waitForReadyRead(int(remaining)) && socket_->bytesAvailable() == 0) {
            if (socket_->error() == QAbstractSocket::SocketTimeoutError &&
                socket_->state() == QAbstractSocket::ConnectedState)
                fail(late);
            else
                fail(ErrorKind::Dropped, socket_->errorString());
            return false;
        }
    }
}

bool Client::readReply(Reply* reply) {
    QByteArray line;
    if (!readLine(&line))
        return false;
    *reply = parseReply(line);
    if (reply->kind == Reply::Invalid) {
        fail(ErrorKind::Protocol, shortText(line));
        return false;
    }
    return true;
}

bool Client::request(QByteArrayView command, Reply* reply) {
    if (uidlSent_ && command == "UIDL") {
        uidlSent_ = false; // sent behind the login: its answer is on its way
    } else {
        if (!dropPipelinedUidl())
            return false;
        send(command);
        flush();
    }
    return answered(reply);
}

bool Client::answered(Reply* reply) {
    if (!readReply(reply))
        return false;
    if (reply->kind != Reply::Ok) {
        error_ = ErrorKind::ServerError;
        detail_ = shortText(reply->text);
        return false;
    }
    return true;
}

bool Client::readBody(const std::function<void(const QByteArray& line)>& sink, qint64 limit) {
    buffer_.setMaxLine(opts_.maxBodyLine);
    qint64 total = 0;
    QByteArray line;
    bool ok = true;
    bool previousCrLf = true; // the status line
    for (;;) {
        if (!readLine(&line)) {
            ok = false;
            break;
        }
        const bool crLf = buffer_.lastLineEndedInCrLf();
        if (line == ".") {
            // Only CR LF "." CR LF ends a reply. A "." with a bare LF next to it leaves client and
            // server out of step about where the reply ends: the session cannot be trusted any more.
            if (!crLf || !previousCrLf) {
                fail(ErrorKind::Protocol, QStringLiteral("bare LF"));
                ok = false;
            }
            break;
        }
        previousCrLf = crLf;
        unstuff(&line);
        total += line.size() + 2;
        // Work done earns time: a full 100 KiB received extends the overall deadline.
        bodyBytes_ += line.size() + 2;
        for (; bodyBytes_ >= 100 * 1024; bodyBytes_ -= 100 * 1024)
            sessionDeadline_ += opts_.bytesAllowanceMs;
        if (total > limit) {
            fail(ErrorKind::TooLarge);
            ok = false;
            break;
        }
        sink(line);
    }
    buffer_.setMaxLine(opts_.maxLine);
    return ok;
}

bool Client::dropPipelinedUidl() {
    if (!uidlSent_)
        return true;
    uidlSent_ = false;
    Reply reply;
    if (!readReply(&reply))
        return false;
    return reply.kind != Reply::Ok ||
           readBody([](const QByteArray&) {}, qMin<qint64>(opts_.maxMessageBytes, 64 * 1024 * 1024));
}

bool Client::uidl(QList<QByteArray>* uids) {
    uids->clear();
    if (state_ != State::Transaction)
        return false;
    Reply reply;
    if (!request("UIDL", &reply))
        return false;
    bool wellFormed = true;
    bool tooMany = false;
    const bool read = readBody(
        [&](const QByteArray& line) {
            int n = 0;
            QByteArray uid;
            // Messages are listed in order from 1: anything else would shift every message number.
            if (!wellFormed || !parseUidlLine(line, &n, &uid) || n != uids->size() + 1) {
                wellFormed = false;
                return;
            }
            if (uids->size() < opts_.maxMessages)
                uids->append(uid);
            else
                tooMany = true;
        },
        qMin<qint64>(opts_.maxMessageBytes, 64 * 1024 * 1024));
    if (!read)
        return false;
    if (!wellFormed || tooMany) {
        uids->clear();
        if (tooMany) {
            send("QUIT");
            flush();
            quitSent_ = true;
        }
        fail(tooMany ? ErrorKind::TooManyMessages : ErrorKind::Protocol, QStringLiteral("UIDL"));
        return false;
    }
    return true;
}

bool Client::stat(int* count) {
    if (state_ != State::Transaction)
        return false;
    Reply reply;
    if (!request("STAT", &reply))
        return false;
    if (!parseStat(reply.text, count)) {
        fail(ErrorKind::Protocol, shortText(reply.text));
        return false;
    }
    if (*count > opts_.maxMessages) {
        send("QUIT");
        flush();
        quitSent_ = true;
        fail(ErrorKind::TooManyMessages, QString::number(*count));
        return false;
    }
    return true;
}

bool Client::uidlOf(int number, QByteArray* uid) {
    if (state_ != State::Transaction)
        return false;
    Reply reply;
    if (!request("UIDL " + QByteArray::number(number), &reply))
        return false;
    int n = 0;
    if (!parseUidlLine(reply.text, &n, uid) || n != number) {
        fail(ErrorKind::Protocol, shortText(reply.text));
        return false;
    }
    return true;
}

bool Client::topHeaders(const QList<int>& numbers,
                        const std::function<void(int number, bool ok, const QByteArray&)>& onHeaders, Then then) {
    if (state_ != State::Transaction || !dropPipelinedUidl())
        return false;
    const qsizetype window = caps_.pipelining ? qMax(1, opts_.pipelineWindow) : 1;
    // With PIPELINING, QUIT goes in the write of the last TOP; its answer is still awaited (a server may
    // take a close before it as a fault).
    bool quitSent = false;
    qsizetype sent = 0;
    qsizetype received = 0;
    while (received < numbers.size()) {
        // Refill the window once half of it has been answered, in one write.
        if (sent - received <= window / 2) {
            while (sent < numbers.size() && sent - received < window)
                send("TOP " + QByteArray::number(numbers[sent++]) + " 0");
            if (sent == numbers.size() && then == Then::Quit && caps_.pipelining && !quitSent) {
                send("QUIT");
                quitSent = quitSent_ = true;
            }
            flush();
        }
        Reply reply;
        if (!readReply(&reply))
            return false;
        const int n = numbers[received++];
        if (reply.kind != Reply::Ok) {
            onHeaders(n, false, {});
            continue;
        }
        SummaryHeaderFilter header;
        const bool read = readBody([&](const QByteArray& line) { header.feed(line); }, opts_.maxMessageBytes);
        if (!read)
            return false;
        sessionDeadline_ += opts_.headerAllowanceMs;
        onHeaders(n, true, header.headers());
    }
    if (then == Then::Quit)
        leave(quitSent);
    return true;
}

bool Client::retrieve(int number, QIODevice* out, Then then) {
    if (state_ != State::Transaction || !dropPipelinedUidl())
        return false;
    error_ = ErrorKind::None; // what follows tells about this command alone
    detail_.clear();
    const QByteArray command = "RETR " + QByteArray::number(number);
    const bool quitWith = then == Then::Quit && caps_.pipelining;
    if (quitWith) {
        send(command);
        send("QUIT");
        flush();
        quitSent_ = true;
    }
    Reply reply;
    bool read = false;
    bool written = true;
    if (quitWith ? answered(&reply) : request(command, &reply))
        read = readBody(
            [&](const QByteArray& line) {
                if (written)
                    written = out->write(line) == line.size() && out->write("\r\n", 2) == 2;
            },
            opts_.maxMessageBytes);
    if (then == Then::Quit && state_ == State::Transaction)
        leave(quitWith);
    return read && written;
}

bool Client::deleteAndQuit(int number) {
    if (state_ != State::Transaction || !dropPipelinedUidl())
        return false;
    if (!caps_.pipelining) {
        // A broken session makes quit() a no-op; after an -ERR the server is still told goodbye.
        Reply reply;
        const bool deleted = request("DELE " + QByteArray::number(number), &reply);
        const bool closed = quit();
        return deleted && closed;
    }
    send("DELE " + QByteArray::number(number));
    send("QUIT");
    flush();
    Reply dele;
    if (!readReply(&dele))
        return false;
    Reply bye;
    const bool quitAnswered = readReply(&bye);
    if (dele.kind != Reply::Ok) {
        error_ = ErrorKind::ServerError;
        detail_ = shortText(dele.text);
        return false;
    }
    if (!quitAnswered)
        return false;
    if (bye.kind != Reply::Ok) {
        fail(ErrorKind::ServerError, shortText(bye.text));
        return false;
    }
    state_ = State::Closed;
    closeSocket();
    return true;
}

bool Client::quit() {
    if (state_ == State::Failed || !socket_ || !dropPipelinedUidl())
        return false;
    send("QUIT");
    flush();
    return awaitQuit();
}

bool Client::awaitQuit() {
    Reply reply;
    if (!readReply(&reply))
        return false;
    if (reply.kind != Reply::Ok) {
        fail(ErrorKind::ServerError, shortText(reply.text));
        return false;
    }
    state_ = State::Closed;
    closeSocket();
    return true;
}

void Client::leave(bool quitSent) {
    if (!quitSent) {
        send("QUIT");
        flush();
    }
    Reply reply;
    if (!readReply(&reply))
        return;
    state_ = State::Closed;
    closeSocket();
}

} // namespace korimo::pop3
