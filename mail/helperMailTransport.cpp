#include "helperMailTransport.h"

#include "mailWire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <csignal>
#include <sys/prctl.h>

#ifndef KORIMO_HELPER_INSTALL_DIR
#define KORIMO_HELPER_INSTALL_DIR "../lib/korimo"
#endif

namespace korimo {

namespace {

const QString kMailHelper = QStringLiteral("korimo-mail-helper");
const QString kMessageHelper = QStringLiteral("korimo-message-helper");

// What a call whose helper started but gave no reply returns: for a deletion or a send the work may
// have been done.
MailError noReply(wire::Operation operation, const MailError& why) {
    const bool mayHaveHappened = operation == wire::Operation::Remove || operation == wire::Operation::Send;
    return mayHaveHappened ? MailError{MailErrorKind::OutcomeUnknown, why.detail} : why;
}

template <class T>
MailOutcome<T> outcome(const MailOutcome<QByteArray>& reply, wire::Operation operation,
                       std::optional<MailOutcome<T>> (*decode)(const QByteArray&)) {
    if (!reply.ok())
        return reply.error();
    std::optional<MailOutcome<T>> decoded = decode(reply.value());
    if (!decoded)
        return noReply(operation, {MailErrorKind::HelperFailed, QStringLiteral("reply")});
    return std::move(*decoded);
}

} // namespace

HelperMailTransport::HelperMailTransport(QString helperFolder, TransportOptions options, int backstopMs)
    : folder_(std::move(helperFolder)), options_(std::move(options)), backstopMs_(backstopMs) {}

MailOutcome<QByteArray> HelperMailTransport::run(const QString& helper, const wire::Request& request) const {
    const QString program = QDir(folder_).filePath(helper);
    QProcess process;
    process.setProgram(program);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The helper ends with the thread that started it, whatever way the program ends.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start();
    const QDeadlineTimer deadline(backstopMs_);
    if (!process.waitForStarted(int(qMin<qint64>(deadline.remainingTime(), 30000))))
        return MailError{MailErrorKind::HelperFailed, program + QStringLiteral(": ") + process.errorString()};
    const auto failed = [&](const MailError& why) {
        return noReply(request.operation, why);
    };
    process.write(wire::encode(request));
    process.closeWriteChannel();

    QByteArray reply;
    bool tooLarge = false;
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired() && !tooLarge) {
        process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000)));
        reply += process.readAllStandardOutput();
        tooLarge = reply.size() > wire::kMaxReplyBytes;
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        if (tooLarge)
            return failed({MailErrorKind::HelperFailed, QStringLiteral("reply too large")});
        return failed({MailErrorKind::TimedOut, helper});
    }
    reply += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || reply.size() > wire::kMaxReplyBytes)
        return failed({MailErrorKind::HelperFailed,
                       helper + QStringLiteral(": ") +
                           (process.exitStatus() == QProcess::NormalExit ? QString::number(process.exitCode())
                                                                         : process.errorString())});
    return reply;
}

MailOutcome<Sent> HelperMailTransport::send(const OutgoingMail& mail) {
    wire::Request r;
    r.operation = wire::Operation::Send;
    r.options = options_;
    r.mail = mail;
    return outcome<Sent>(run(kMessageHelper, r), r.operation, wire::decodeSent);
}

MailOutcome<Listing> HelperMailTransport::list(const Mailbox& box, const QString& cacheFolder) {
    return listAll({box}, cacheFolder).first();
}

QList<MailOutcome<Listing>> HelperMailTransport::listAll(const QList<Mailbox>& boxes, const QString& cacheFolder) {
    if (std::all_of(boxes.begin(), boxes.end(), [](const Mailbox& b) { return b.server.trimmed().isEmpty(); }))
        return MailTransport::listAll(boxes, cacheFolder); // nothing to ask a helper: NotConfigured each
    wire::Request r;
    r.operation = wire::Operation::ListAll;
    r.options = options_;
    r.boxes = boxes;
    r.cacheFolder = cacheFolder;
    const MailOutcome<QByteArray> reply = run(kMailHelper, r);
    std::optional<QList<MailOutcome<Listing>>> decoded;
    if (reply.ok())
        decoded = wire::decodeListings(reply.value());
    if (decoded && decoded->size() == boxes.size())
        return std::move(*decoded);
    // No usable reply: every mailbox that would have been checked carries the reason.
    const MailError why = reply.ok() ? MailError{MailErrorKind::HelperFailed, QStringLiteral("reply")} : reply.error();
    QList<MailOutcome<Listing>> results;
    for (const Mailbox& box : boxes)
        results.append(box.server.trimmed().isEmpty() ? MailError{MailErrorKind::NotConfigured, {}} : why);
    return results;
}

MailOutcome<Done> HelperMailTransport::remove(const Mailbox& box, const MessageRef& message) {
    wire::Request r;
    r.operation = wire::Operation::Remove;
    r.options = options_;
    r.boxes = {box};
    r.message = message;
    return outcome<Done>(run(kMailHelper, r), r.operation, wire::decodeDone);
}

MailOutcome<QString> HelperMailTransport::save(const Mailbox& box, const MessageRef& message, const QString& folder) {
    wire::Request r;
    r.operation = wire::Operation::Save;
    r.options = options_;
    r.boxes = {box};
    r.message = message;
    r.folder = folder;
    return outcome<QString>(run(kMailHelper, r), r.operation, wire::decodeSaved);
}

MailOutcome<MailMessage> HelperMailTransport::read(const QString& path, bool saveAttachments, const QString& folder) {
    wire::Request r;
    r.operation = wire::Operation::Read;
    r.options = options_;
    r.path = path;
    r.saveAttachments = saveAttachments;
    r.folder = folder;
    return outcome<MailMessage>(run(kMessageHelper, r), r.operation, wire::decodeMessage);
}

QString installedHelperFolder() {
    const QDir exe(QCoreApplication::applicationDirPath());
    if (QFileInfo(exe.filePath(kMailHelper)).isExecutable())
        return exe.path();
    return QDir::cleanPath(exe.filePath(QStringLiteral(KORIMO_HELPER_INSTALL_DIR)));
}

} // namespace korimo
