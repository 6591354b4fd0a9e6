// The mail transport: every POP3, SMTP and MIME operation the windows need, in types. Windows receive a
// MailTransport& and never construct one; the program hands them HelperMailTransport (the work done in
// a helper process), tests a scripted double. Each call is its own network session and may run on any
// thread.
//
// Operation       what it does                                           older name
// send()          one message to the SMTP server                         SendMail
// list()          the summaries of one mailbox's messages                RcvMail2 "LIST"
// listAll()       list() for every configured mailbox, concurrently      RcvMail2 "LIST" per mailbox
// remove()        delete one listed message                              RcvMail2 "DELE n"
// save()          one message as the server holds it, into a new file    RcvMail  "SAVE n"
// read()          a saved message split into text and attachments        ReadMail
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <variant>

namespace korimo {

inline constexpr int kMailboxCount = 5;

// One mailbox slot as the settings hold it.
struct Mailbox {
    QString server;
    QString account;
    QString password;
    bool operator==(const Mailbox&) const = default;
};

enum class MailErrorKind {
    NotConfigured,  // no server, or a server text that names none
    BadCredentials, // account or password holds characters a login cannot carry (nothing was sent)
    LoginRefused,   // the server refused every login the user allows
    TlsRefused,     // the server offers no TLS where the user asked for it (no password was sent)
    TlsFailed,      // handshake failed or the certificate is not trusted
    Unreachable,    // no connection
    TimedOut,       // no answer in time, or the operation's overall deadline passed
    ServerRefused,  // the server answered the request with an error
    MailboxChanged, // the message a MessageRef names is no longer the one listed under its number
    OutcomeUnknown, // the connection was lost after the request was sent: it may or may not have happened
    LocalFile,      // a local file or folder could not be read or written
    TooLarge,       // a limit was reached (messages in one mailbox, size of a reply or a message)
    Protocol,       // an answer that is not the protocol
    Unsendable,     // the outgoing message cannot go as it is: an address, the subject or the attachment's name
                    // (detail says which); nothing was sent
    HelperFailed,   // the program's mail helper could not be started or ended without an answer
};

struct MailError {
    MailErrorKind kind = MailErrorKind::Protocol;
    QString detail; // for display only, never to decide on: the server's words, an address, a path
    bool operator==(const MailError&) const = default;
};

// A value or the error that prevented it.
template <class T> class MailOutcome {
public:
    MailOutcome(T value) : v_(std::move(value)) {}
    MailOutcome(MailError error) : v_(std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    const T& value() const { return std::get<0>(v_); }
    T& value() { return std::get<0>(v_); }
    const MailError& error() const { return std::get<1>(v_); }

private:
    std::variant<T, MailError> v_;
};
struct Done {
    bool operator==(const Done&) const = default;
};

// One listed message. uid is the server's UIDL ("" when the server has none); subject, from and date
// are decoded for display, bounded and free of control characters.
struct MessageSummary {
    int number = 0; // 1-based position in the mailbox at listing time
    QByteArray uid;
    QString subject, from, date;
    bool operator==(const MessageSummary&) const = default;
};

struct Listing {
    QList<MessageSummary> messages; // in server order
    // Not empty: the session was encrypted but the server's identity (certificate) could not be verified;
    // holds what the certificate names.
    QString unverifiedServer;
};

// A message as a window listed it: mailbox index (0 to kMailboxCount - 1), number and UIDL at listing
// time. The transport checks that the number still names that message before it acts.
struct MessageRef {
    int mailbox = 0;
    int number = 0;
    QByteArray uid;
    bool operator==(const MessageRef&) const = default;
};

struct SavedAttachment {
    QString fileName; // the safe name it has (or would have) in the folder
    bool saved = false;
    QString problem; // why it was not saved, for display; empty when saved or not asked to save
};

// A saved message read for display.
struct MailMessage {
    QString subject, from, date;
    QString body; // plain text, LF line ends
    QList<SavedAttachment> attachments;
    bool partsOmitted = false; // a limit cut the message short
};

struct OutgoingMail {
    QString server; // as typed in the settings
    QStringList recipients;
    QString sender, subject, body;
    QString attachment; // a path or ""
};
struct Sent {
    QString unverifiedServer; // as in Listing
};

class MailTransport {
public:
    virtual ~MailTransport() = default;

    virtual MailOutcome<Sent> send(const OutgoingMail& mail) = 0;
    // cacheFolder: where the header cache lives ("" for none).
    virtual MailOutcome<Listing> list(const Mailbox& box, const QString& cacheFolder) = 0;
    // One outcome per mailbox in the order given; a mailbox without a server gives NotConfigured without
    // network work. The default lists one after the other.
    virtual QList<MailOutcome<Listing>> listAll(const QList<Mailbox>& boxes, const QString& cacheFolder);
    // Done only when the server committed the deletion.
    virtual MailOutcome<Done> remove(const Mailbox& box, const MessageRef& message) = 0;
    // The full path of a new file in folder holding the message exactly as the server holds it; on
    // failure no file is left behind.
    virtual MailOutcome<QString> save(const Mailbox& box, const MessageRef& message, const QString& folder) = 0;
    // Reads a saved message; with saveAttachments its attachments are written into folder.
    virtual MailOutcome<MailMessage> read(const QString& path, bool saveAttachments, const QString& folder) = 0;
};

// The one Japanese sentence for an error, for windows and the command-line tool to show (never to parse).
QString describe(const MailError& error);

} // namespace korimo
