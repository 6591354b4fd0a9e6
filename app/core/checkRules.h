// The rules of one mailbox check that need no display: cutting and excluding messages, counting,
// the status line, the decision after a check, the check period and the tray tip.
#pragma once

#include "mailTransport.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace korimo {

// True when the message is left out of the count: its subject contains one of excludeSubjects or its
// sender one of excludeSenders (case-sensitive). Each list ends at its first empty entry; later
// entries are not consulted. A message matched by both lists is still one message.
bool isExcluded(const MessageSummary& message, const QStringList& excludeSubjects, const QStringList& excludeSenders);

// What one check found.
struct CheckTally {
    int total = 0;    // messages listed over all mailboxes, excluded ones included
    int excluded = 0; // of those, messages matched by an exclusion text
    // total - excluded, held in the 16 bits the stored count has: a larger count is kept at 32767.
    qint16 counted() const;

    // Mailbox slots (0 to kMailboxCount - 1) that were asked and answered with a listing, and those
    // that failed, with the error. A slot without a server is in neither.
    QList<int> answered;
    QList<QPair<int, MailError>> failed;
};

// Counts the listings of the mailbox slots (listings[i] belongs to boxes[i]). A failed listing
// contributes no messages.
CheckTally tallyCheck(const QList<Mailbox>& boxes, const QList<MailOutcome<Listing>>& listings,
                      const QStringList& excludeSubjects, const QStringList& excludeSenders);

// The mailboxes whose last check failed or whose server's identity was not verified, by slot, with
// what the status line's tooltip says of them. One check updates the slots it asked and keeps the rest.
class FailedMailboxes {
public:
    void update(const CheckTally& tally, const QList<MailOutcome<Listing>>& listings);
    const QList<QPair<int, QString>>& entries() const { return entries_; }

private:
    QList<QPair<int, QString>> entries_; // in slot order
};

// The status line after a check: "　" + total + "通メールがあります", or "　メールはありません".
QString checkStatusText(int total);
QString checkingStatusText(); // "　チェック中"

enum class CheckDecision {
    DefaultIcon, // the count did not change, or it changed while the window is shown: only recorded
    Announce     // the count changed while the program sits in the tray
};
CheckDecision decideAfterCheck(qint16 counted, qint16 lastCount, bool inTray);

// The check period typed into the main window, in minutes. Blanks around the number, full-width digits
// and decimal fractions are accepted ("1.5"); anything else, including an empty text, is not a number.
std::optional<double> periodMinutes(const QString& text);
inline constexpr double kDefaultPeriodMinutes = 2;
// Seconds between timed checks: the period × 60; a text that is not a number counts as the default
// period, so a mistyped period never stops checking nor makes it run every second.
double periodSeconds(const QString& text);
// True when the tick just counted makes a timed check due: ticks exceed the period in seconds.
bool timedCheckDue(int ticks, const QString& periodText);

// The tray tip: the period rounded to a whole number (a half to the even number), then "分毎にチェック".
// The period used is the one periodSeconds() uses, so the tip tells what the timer does.
QString trayTipText(const QString& periodText);

// True when the notification has been on screen long enough: the tick just counted exceeds showSeconds.
inline bool notificationOver(int showTicks, int showSeconds) {
    return showTicks > showSeconds;
}

// The tooltip of the status line naming the mailboxes whose last check failed (slot, text),
// shown as "メールボックス2: …". Rich text with the transport's text escaped; "" when nothing failed.
QString failureToolTip(const QList<QPair<int, QString>>& failures);

} // namespace korimo
