// The mail transport: the four operations through which the windows do all POP3 and SMTP work.
// Windows receive a MailTransport& and never construct one themselves; tests hand them the
// scripted FakeMailTransport, the program the real one.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace korimo {

// The result of a receive operation: an array of texts or one text (an error, a report). A text
// made by done() reports an operation that was carried out (a deletion the server committed); every
// other text is a failure, whatever it says.
class MailResult {
public:
    static MailResult array(QStringList items) { return MailResult(true, std::move(items), {}); }
    static MailResult text(QString t) { return MailResult(false, {}, std::move(t)); }
    static MailResult done(QString t) {
        MailResult r(false, {}, std::move(t));
        r.done_ = true;
        return r;
    }
    MailResult() = default;

    bool isArray() const { return isArray_; }
    const QStringList& items() const { return items_; }
    const QString& text() const { return text_; }
    bool isDone() const { return done_; }
    // What the user should know about a result that is no failure (a server whose identity could not
    // be verified); shown with the mailbox's status. Empty mostly.
    const QString& note() const { return note_; }
    MailResult withNote(QString note) && {
        note_ = std::move(note);
        return std::move(*this);
    }

    bool operator==(const MailResult&) const = default;

private:
    MailResult(bool isArray, QStringList items, QString t)
        : isArray_(isArray), items_(std::move(items)), text_(std::move(t)) {}
    bool isArray_ = false;
    bool done_ = false;
    QStringList items_;
    QString text_;
    QString note_;
};

// One mailbox slot as the settings hold it.
struct Mailbox {
    QString server;
    QString account;
    QString password;
    bool operator==(const Mailbox&) const = default;
};

class MailTransport {
public:
    virtual ~MailTransport() = default;

    // Sends one message. recipients are addresses joined by TAB; attachment is a path or "".
    // Returns "" when the server accepted the message, else a short error text.
    virtual QString SendMail(const QString& server, const QString& recipients, const QString& sender,
                             const QString& subject, const QString& body, const QString& attachment) = 0;

    // command "LIST": an array with one summary record per message in server order, or a text on failure.
    // command "DELE n": always a text; done() only when the server committed the deletion; it
    // contains "PASSWORD" when the login was refused.
    // Each call is its own session: after a deletion the next call numbers from 1 again.
    virtual MailResult RcvMail2(const QString& server, const QString& account, const QString& password,
                                const QString& command, const QString& folder) = 0;

    // command "SAVE n": an array whose element 0 is the full path of a new file in folder holding
    // message n exactly as the server holds it; a text on failure (and then no file is left behind).
    virtual MailResult RcvMail(const QString& server, const QString& account, const QString& password,
                               const QString& command, const QString& folder) = 0;

    // Splits a saved message. fields is "subject:from:date:" or "subject:from:date:nofile:" (no
    // attachment is written then). The result is an array; the body is the last element, "Body: "
    // followed by the text; each attachment is an element containing "File".
    virtual MailResult ReadMail(const QString& path, const QString& fields, const QString& folder) = 0;

    // "LIST" for several mailboxes, one result per mailbox in the order given; a mailbox with an empty
    // server gives a text result without any network work. Implementations may work concurrently;
    // this default asks one mailbox after the other. Safe to call from a worker thread.
    virtual QList<MailResult> ListMailboxes(const QList<Mailbox>& boxes, const QString& folder);
};

} // namespace korimo
