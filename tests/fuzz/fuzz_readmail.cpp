// libFuzzer target: reading a saved message of arbitrary bytes. Beside the sanitizers it checks what the
// receive window relies on: every attachment reported saved is a file of that name in the folder, one
// not saved says why, and nothing is written anywhere but inside the attachment folder.
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
    const korimo::MailOutcome<korimo::MailMessage> r = transport.read(scratch.message, save, scratch.folder);
    if (!r.ok())
        std::abort();
    for (const korimo::SavedAttachment& a : r.value().attachments) {
        if (a.fileName.isEmpty() || a.saved != QFile::exists(QDir(scratch.folder).filePath(a.fileName)) ||
            (save && a.saved == !a.problem.isEmpty()) || (!save && (a.saved || !a.problem.isEmpty())))
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
