// The floor for bench_pop3: the least a client can do to list the mailboxes. For each mailbox,
// concurrently: connect (implicit TLS or plaintext), read the greeting, then send everything the
// protocol allows in one write and read until the server closes:
//   steady:  USER, PASS, UIDL, QUIT
//   first:   USER, PASS, UIDL, TOP n 0 for every message, QUIT
// Nothing is decoded; the only work on the replies is counting the multi-line replies' ends, so that a
// run that did not get every listing fails instead of passing for fast. Prints one line per run and
// the median, in the format of bench_pop3.
//
//   floor_pop3 --host 127.0.0.1 --port N [--tls --ca FILE] --box USER:PASSWORD [--box ...]
//              --messages N --mode first|steady --runs N
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

struct Options {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;
    bool tls = false;
    QString ca;
    QList<QPair<QByteArray, QByteArray>> boxes;
    int messages = 0;
    bool first = false;
    int runs = 3;
};

constexpr int kTimeoutMs = 120000;

// The count of "." lines that end a multi-line reply in data (which starts at a line's start).
qsizetype replyEnds(const QByteArray& data) {
    qsizetype n = 0;
    for (qsizetype at = data.indexOf("\r\n.\r\n"); at >= 0; at = data.indexOf("\r\n.\r\n", at + 3))
        ++n;
    return n;
}

// One mailbox's session; an empty text on success, else what went wrong.
QString session(const Options& o, const QByteArray& user, const QByteArray& password) {
    QSslSocket socket;
    if (o.tls) {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setCaCertificates(QSslCertificate::fromPath(o.ca, QSsl::Pem));
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket.setSslConfiguration(conf);
        socket.connectToHostEncrypted(o.host, o.port);
        if (!socket.waitForEncrypted(kTimeoutMs))
            return QStringLiteral("TLS: ") + socket.errorString();
    } else {
        socket.connectToHost(o.host, o.port);
        if (!socket.waitForConnected(kTimeoutMs))
            return QStringLiteral("connect: ") + socket.errorString();
    }
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kTimeoutMs))
            return QStringLiteral("no greeting");
    if (!socket.readLine().startsWith("+OK"))
        return QStringLiteral("greeting refused");

    QByteArray commands = "USER " + user + "\r\nPASS " + password + "\r\nUIDL\r\n";
    if (o.first)
        for (int n = 1; n <= o.messages; ++n)
            commands += "TOP " + QByteArray::number(n) + " 0\r\n";
    commands += "QUIT\r\n";
    socket.write(commands);
    socket.flush();

    QByteArray replies;
    while (socket.state() == QAbstractSocket::ConnectedState) {
        if (!socket.waitForReadyRead(kTimeoutMs) && socket.bytesAvailable() == 0)
            break;
        replies += socket.readAll();
    }
    replies += socket.readAll();
    // USER, PASS: one line each; UIDL and every TOP end in "."; QUIT's answer closes the session.
    const qsizetype want = 1 + (o.first ? o.messages : 0);
    const qsizetype lastLine = replies.lastIndexOf("\r\n", replies.size() - 3) + 2;
    if (!replies.endsWith("\r\n") || !replies.sliced(lastLine).startsWith("+OK"))
        return QStringLiteral("no answer to QUIT");
    if (replyEnds(replies) != want)
        return QStringLiteral("%1 listings of %2").arg(replyEnds(replies)).arg(want);
    return {};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    QString mode;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = args.value(i + 1);
        if (a == QStringLiteral("--tls")) {
            o.tls = true;
            continue;
        }
        ++i;
        if (a == QStringLiteral("--host"))
            o.host = value;
        else if (a == QStringLiteral("--port"))
            o.port = quint16(value.toUInt());
        else if (a == QStringLiteral("--ca"))
            o.ca = value;
        else if (a == QStringLiteral("--messages"))
            o.messages = value.toInt();
        else if (a == QStringLiteral("--mode"))
            mode = value;
        else if (a == QStringLiteral("--runs"))
            o.runs = value.toInt();
        else if (a == QStringLiteral("--box"))
            o.boxes.append({value.section(u':', 0, 0).toUtf8(), value.section(u':', 1).toUtf8()});
    }
    o.first = mode == QStringLiteral("first");
    if (o.port == 0 || o.boxes.isEmpty() || o.runs < 1 || o.messages < 0 ||
        !(o.first || mode == QStringLiteral("steady"))) {
        std::fputs("usage: floor_pop3 --host H --port N [--tls --ca FILE] --box USER:PASSWORD ... --messages N "
                   "--mode first|steady --runs N\n",
                   stderr);
        return 2;
    }

    std::vector<double> times;
    // One untimed run first, as bench_pop3 does: both measure a process that has set up TLS once.
    for (int r = 0; r <= o.runs; ++r) {
        std::vector<QString> errors(size_t(o.boxes.size()));
        QElapsedTimer t;
        t.start();
        std::vector<std::thread> workers;
        for (qsizetype i = 0; i < o.boxes.size(); ++i)
            workers.emplace_back([&, i] { errors[size_t(i)] = session(o, o.boxes[i].first, o.boxes[i].second); });
        for (std::thread& w : workers)
            w.join();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        for (const QString& e : errors) {
            if (!e.isEmpty()) {
                std::fprintf(stderr, "run %d failed: %s\n", r, qPrintable(e));
                return 1;
            }
        }
        if (r == 0)
            continue;
        times.push_back(ms);
        std::printf("floor-%s run %d: %.1f ms, %lld messages\n", qPrintable(mode), r, ms,
                    static_cast<long long>(o.messages) * o.boxes.size());
    }
    std::printf("floor-%s median: %.1f ms\n", qPrintable(mode), median(times));
    return 0;
}
