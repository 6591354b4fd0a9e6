// The receive window's rules that need no display: the rows of a listing, how a read message is shown, the texts shown
// to the user, the resize rule, the proposed file name of a saved body and the writing of that file.
#pragma once

#include "mailTransport.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace korimo::receive {

// Sizes in twips. Stored and restored sizes are outer sizes (frame included), as the settings file
// keeps them; the client area is the outer size less a fixed frame allowance, so a size read at
// opening and written at closing is the same number whatever the window manager draws around it.
inline constexpr int kDefaultWidth = 7845;
inline constexpr int kDefaultHeight = 6105;
inline constexpr int kFrameWidth = 120;
inline constexpr int kFrameHeight = 405;

// One row of the list: the message as its mailbox listed it.
struct Row {
    MessageRef ref;
    MessageSummary summary;
};
// The rows of every mailbox that answered, in mailbox order and server order within each.
QList<Row> rowsOf(const QList<MailOutcome<Listing>>& listings);
// What names a row's message across listings: mailbox, UIDL and the summary's cells.
QString rowKey(const Row& row);

enum class Attachments { None, Present, Saved };
// Saved when an attachment was written, Present when the message has some that were not asked for.
Attachments attachmentsOf(const MailMessage& message, bool saveAttachments);
// "添付ファイルを保存しました" / "添付ファイルがあります。" / "".
QString attachmentMessage(Attachments a);
// The body box's text for a read message: a note on each attachment that could not be saved and on
// parts left out head the body.
QString shownBody(const MailMessage& message);
// What the body box shows when a message could not be fetched or read.
QString fetchFailureText(const MailError& error);
// Told when the mailbox changed since it was listed: nothing was done and the list is fetched again.
QString mailboxChangedText();

// "全削" deletes the messages listed when the user agreed, not mail that arrives meanwhile: keys are
// one rowKey per row, pending the keys not yet deleted. The first row still pending, or -1 when none is left.
int firstPending(const QStringList& rowKeys, const QStringList& pending);

QString deleteQuestion(const QString& subject); // "「subject」" CR LF "　をメールボックスから削除します"
QString deleteAllQuestion();
QString refusedText();
// What the user is told about a failed deletion: refusedText() for a refused login,
// mailboxChangedText() for a changed mailbox, else the error's sentence.
QString deletionFailure(const MailError& error);
// Told when "全削" stops because a deletion left its message in the list.
QString deleteAllStuckText(int mailbox);

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
// listing gave an error): boxes and listings are given per slot, in mailbox order.
struct ListingFailure {
    int mailbox = 0; // 0 to kMailboxCount - 1
    QString error;
    bool operator==(const ListingFailure&) const = default;
};
QList<ListingFailure> listingFailures(const QList<Mailbox>& boxes, const QList<MailOutcome<Listing>>& listings);
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
