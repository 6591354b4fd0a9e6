// libFuzzer target: reading a saved message of arbitrary bytes. Beside the sanitizers it checks what the
// receive window relies on: every attachment reported saved is a file of that name in the folder, one
// not saved says why, and nothing is written anywhere but inside the attachment folder.
#include "realMailTransport.h"
#include "summaryChecks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir root;
    static const QString message = root.filePath(QStringLiteral("message.eml"));
    static const QDir folder(root.filePath(QStringLiteral("attach")));
    static korimo::RealMailTransport transport;
    {
        QFile f(message);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    QDir().mkpath(folder.path());
    const bool save = size > 0 && (data[0] & 1);
    const korimo::MailOutcome<korimo::MailMessage> r = transport.read(message, save, folder.path());
    FUZZ_CHECK(r.ok());
    for (const korimo::SavedAttachment& a : r.value().attachments)
        FUZZ_CHECK(!a.fileName.isEmpty() && a.saved == QFile::exists(folder.filePath(a.fileName)) &&
                   (save ? a.saved != !a.problem.isEmpty() : !a.saved && a.problem.isEmpty()));
    // Only the message and the attachment folder at the top; nothing hidden left behind, nothing unasked.
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
    FUZZ_CHECK(QDir(root.path()).entryList(all).size() == 2);
    for (const QString& name : folder.entryList(all))
        FUZZ_CHECK(save && !name.startsWith(QLatin1Char('.')));
    QDir(folder.path()).removeRecursively();
    return 0;
}
