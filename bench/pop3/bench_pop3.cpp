// Times one check of several mailboxes: the transport's listAll (concurrent, UIDL + cache,
// pipelined TOP) on a first check (empty cache) and on a steady-state check (nothing new), against a
// baseline that does what a re-scanning checker does: one mailbox after the other, every message's
// headers fetched with one TOP at a time, no cache. Prints one line per run and the medians. With
// --helpers FOLDER the transport is the program's own: each check runs in FOLDER's korimo-mail-helper,
// a new process each time, as in the program.
//
//   bench_pop3 --server TEXT --ca FILE --box USER:PASSWORD [--box ...] --mode first|steady|baseline --runs N
//              [--helpers FOLDER]
#include "helperMailTransport.h"
#include "pop3Client.h"
#include "realMailTransport.h"
#include "summaryFields.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>

using namespace korimo;

namespace {

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// The baseline: sequential mailboxes, TOP n 0 for every message, one command at a time.
qsizetype rescan(const QString& server, const QString& ca, const QList<Mailbox>& boxes) {
    qsizetype total = 0;
    for (const Mailbox& box : boxes) {
        pop3::ClientOptions o;
        o.caFile = ca;
        o.pipelineWindow = 1;
        pop3::Client c(o);
        if (!c.login(*pop3::parseServerText(server), box.account, box.password))
            return -1;
        int count = 0;
        if (!c.stat(&count))
            return -1;
        QList<int> all;
        for (int n = 1; n <= count; ++n)
            all.append(n);
        QList<SummaryFields> records;
        if (!c.topHeaders(all, [&](int, bool, const QByteArray& h) { records.append(summaryFromHeaders(h)); }))
            return -1;
        c.quit();
        total += records.size();
    }
    return total;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString server, ca, mode, helpers;
    QList<Mailbox> boxes;
    int runs = 3;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--server"))
            server = args[i + 1];
        else if (args[i] == QStringLiteral("--ca"))
            ca = args[i + 1];
        else if (args[i] == QStringLiteral("--mode"))
            mode = args[i + 1];
        else if (args[i] == QStringLiteral("--helpers"))
            helpers = args[i + 1];
        else if (args[i] == QStringLiteral("--runs"))
            runs = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--box"))
            boxes.append({QString(), args[i + 1].section(u':', 0, 0), args[i + 1].section(u':', 1)});
    }
    if (server.isEmpty() || boxes.isEmpty() || runs < 1 ||
        !(mode == QStringLiteral("first") || mode == QStringLiteral("steady") || mode == QStringLiteral("baseline"))) {
        std::fputs("usage: bench_pop3 --server TEXT --ca FILE --box USER:PASSWORD ... --mode first|steady|baseline "
                   "--runs N [--helpers FOLDER]\n",
                   stderr);
        return 2;
    }
    for (Mailbox& b : boxes)
        b.server = server;

    TransportOptions options;
    options.caFile = ca;
    const std::unique_ptr<MailTransport> transport =
        helpers.isEmpty() ? std::unique_ptr<MailTransport>(std::make_unique<RealMailTransport>(options))
                          : std::make_unique<HelperMailTransport>(helpers, options);
    QTemporaryDir data;
    if (mode != QStringLiteral("baseline"))
        transport->listAll(boxes, data.path()); // fills the cache (steady); sets up TLS once (both)

    QList<double> times;
    for (int r = 0; r < runs; ++r) {
        QTemporaryDir fresh;
        QElapsedTimer t;
        t.start();
        qsizetype messages = 0;
        if (mode == QStringLiteral("baseline")) {
            messages = rescan(server, ca, boxes);
        } else {
            const QList<MailOutcome<Listing>> results =
                transport->listAll(boxes, mode == QStringLiteral("first") ? fresh.path() : data.path());
            for (const MailOutcome<Listing>& res : results) {
                if (!res.ok())
                    std::fprintf(stderr, "%s\n", qPrintable(describe(res.error())));
                messages = (messages < 0 || !res.ok()) ? -1 : messages + res.value().messages.size();
            }
        }
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (messages < 0) {
            std::fprintf(stderr, "run %d failed\n", r + 1);
            return 1;
        }
        times.append(ms);
        std::printf("%s run %d: %.1f ms, %lld messages\n", qPrintable(mode), r + 1, ms,
                    static_cast<long long>(messages));
    }
    std::printf("%s median: %.1f ms\n", qPrintable(mode), median(times));
    return 0;
}
