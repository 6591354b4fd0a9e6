// libFuzzer target: ReadMail over arbitrary bytes. Beside the sanitizers it checks what the receive
// window relies on: an array whose last element is the body, no other element containing "Body", and
// nothing written anywhere but inside the attachment folder.
#include "realMailTransport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

struct Scratch {
    QTemporaryDir root;
    QString message = root.filePath(QStringLiteral("message.eml"));
    QString folder = root.filePath(QStringLiteral("attach"));
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    static korimo::RealMailTransport transport;
    {
        QFile f(scratch.message);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    QDir().mkpath(scratch.folder);
    const bool save = size > 0 && (data[0] & 1);
    const korimo::MailResult r = transport.ReadMail(
        scratch.message, save ? QStringLiteral("subject:from:date:") : QStringLiteral("subject:from:date:nofile:"),
        scratch.folder);
    if (!r.isArray() || r.items().isEmpty() || !r.items().last().startsWith(QStringLiteral("Body: ")))
        std::abort();
    for (qsizetype i = 0; i + 1 < r.items().size(); ++i) {
        if (r.items()[i].contains(QStringLiteral("Body")) || !r.items()[i].contains(QStringLiteral("File")))
            std::abort();
    }
    // Only the message and the attachment folder may exist at the top; nothing hidden may be left behind.
    const QStringList top = QDir(scratch.root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (top.size() != 2)
        std::abort();
    const QStringList saved = QDir(scratch.folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : saved) {
        if (name.startsWith(QLatin1Char('.')) || !save)
            std::abort();
    }
    QDir(scratch.folder).removeRecursively();
    return 0;
}
