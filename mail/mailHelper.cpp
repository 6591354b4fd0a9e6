#include "mailHelper.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace korimo {

int runMailHelper(int argc, char** argv, const std::function<QByteArray(const wire::Request&)>& serve) {
    QCoreApplication app(argc, argv);
    const auto usage = [&] {
        std::fprintf(stderr, "%s: a helper of korimo; it takes one request on standard input from the program\n",
                     argc > 0 ? argv[0] : "korimo helper");
        return 2;
    };
    if (argc > 1)
        return usage();
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return usage();
    QByteArray frame;
    while (frame.size() <= wire::kMaxRequestBytes) {
        const QByteArray chunk = in.read(64 * 1024);
        if (chunk.isEmpty())
            break;
        frame += chunk;
    }
    const std::optional<wire::Request> request = wire::decodeRequest(frame);
    if (!request)
        return usage();
    const QByteArray reply = serve(*request);
    if (reply.isEmpty())
        return usage();
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || out.write(reply) != reply.size() || !out.flush())
        return 1;
    return 0;
}

} // namespace korimo
