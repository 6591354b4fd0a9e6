// The receive window's rules that need no display: which message a row stands for, the commands
// sent for it, how a read's result is shown, the texts shown to the user, the resize rule, the
// proposed file name of a saved body and the writing of that file.
#pragma once

#include "mailTransport.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace korimo::receive {

// Sizes in twips. Stored and restored sizes are outer sizes (frame included), as the settings file
// keeps them; the client area is the outer size less a fixed frame allowance, so a size read at
// opening and written at closing is the same number whatever the window manager draws around it.
inline constexpr int kDefaultWidth = 7845;
inline constexpr int kDefaultHeight = 6105;
inline constexpr int kFrameWidth = 120;
inline constexpr int kFrameHeight = 405;

// A row's message: mailbox index 0 to 4 and the 1-based message number within that mailbox.
struct MessageRef {
    int mailbox = 0;
    int number = 0;
    bool operator==(const MessageRef&) const = default;
};

// rowTexts: the first column (mailbox number "1" to "5") of every row, top to bottom; selected: the
// 0-based index of the chosen row. The number is the row's position counted from the first row with
// the same mailbox number. Nothing for an index outside the list or a row whose text is no mailbox.
std::optional<MessageRef> messageRef(const QStringList& rowTexts, int selected);

QString saveCommand(int number);   // "SAVE n"
QString deleteCommand(int number); // "DELE n"
// The fields handed to ReadMail: "nofile:" keeps the attachments from being written.
QString fieldList(bool saveAttachments);
// A deletion refused at login: the result's text contains "PASSWORD".
bool isRefusal(const MailResult& result);

enum class Attachments { None, Present, Saved };

struct ReadOutcome {
    std::optional<QString> shown; // the body box's new text; nothing = keep what it shows
    Attachments attachments = Attachments::None;
};
// Walks ReadMail's elements in order: an element containing "Body" is the body behind its first six
// characters, one containing "File" an attachment, any other element is shown as it is; the last
// one shown stays. A result that is not an array changes nothing.
ReadOutcome interpretRead(const MailResult& result, bool saveAttachments);
// "添付ファイルを保存しました" / "添付ファイルがあります。" / "".
QString attachmentMessage(Attachments a);
// What the body box shows when a message could not be fetched.
QString fetchFailureText(const MailResult& result);

// Message numbers are positions: when another program deleted or added mail since the list was
// fetched, "DELE n" would hit a different message. Before a single deletion the mailbox is listed
// again and record n must still be the row's record.
enum class StillListed { Same, Changed, Refused, Failed };
StillListed stillListed(const MailResult& listing, int number, const QString& summary);
QString mailboxChangedText();

// "全削" deletes the messages listed when the user agreed, not mail that arrives meanwhile: keys are
// one text per row (mailbox and record), pending the keys not yet deleted. The first row still
// pending, or -1 when none is left.
int firstPending(const QStringList& rowKeys, const QStringList& pending);

QString deleteQuestion(const QString& subject); // "「subject」" CR LF "　をメールボックスから削除します"
QString deleteAllQuestion();
QString refusedText();
// What the user is told about a deletion: "" when the server committed it, refusedText() for a
// refused login, else the transport's reason. "削除" and "全削" decide by this one rule.
QString deletionFailure(const MailResult& result);
// Told when "全削" stops because a deletion left its message in the list.
QString deleteAllStuckText(int mailbox, const MailResult& result);

// The main window's status line after the receive window closes.
QString statusLineAfterClose(bool mailboxChanged, int rows);

// Widths and heights in twips that the window's size decides.
struct Layout {
    int listWidth = 7455;
    int bodyWidth = 7455;
    int folderWidth = 2415;
    int bodyHeight = 3015;
    bool operator==(const Layout&) const = default;
};
// outerWidth/outerHeight: the window's outer size. A window 5400 wide or narrower keeps the widths,
// one 3090 high or lower keeps the body's height.
Layout applyResize(Layout current, int outerWidth, int outerHeight);

// The window caption and a note on the mailboxes whose listing failed (a configured server whose
// result is not an array): servers and results are given per slot, in mailbox order.
struct ListingFailure {
    int mailbox = 0; // 0 to 4
    QString error;
    bool operator==(const ListingFailure&) const = default;
};
QList<ListingFailure> listingFailures(const QStringList& servers, const QList<MailResult>& results);
QString captionFor(const QList<ListingFailure>& failures);
QString failureDetails(const QList<ListingFailure>& failures);

// A file name for a body saved under its subject: path separators, characters that other systems
// refuse in names and control characters become safe look-alikes, leading dots and blanks go, the
// name is kept to a size every file system takes, and ".txt" is added. An empty result is "無題.txt".
QString proposedFileName(const QString& subject);

// The body box's text as a file: every line end CR LF and one more CR LF at the end.
QString withCrLf(const QString& text);
// Line ends of a body as shown in the body box ("\n").
QString toDisplayLineEnds(const QString& text);

// The saved body's bytes. CP932 when every character fits; otherwise unencodable lists what does
// not, and utf8 holds the whole text as UTF-8 with a byte-order mark.
struct BodyBytes {
    QByteArray cp932;
    QString unencodable;
    QByteArray utf8;
};
BodyBytes encodeBody(const QString& text);
QString utf8Question(const QString& unencodable);
QString saveFailedText(const QString& path, const QString& reason);

// Writes bytes to path atomically (a temporary file renamed over the target). Returns "" on success,
// else the reason; on failure an existing file is unchanged.
QString writeFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace korimo::receive
