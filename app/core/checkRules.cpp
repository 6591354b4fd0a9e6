#include "checkRules.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>

namespace korimo {

namespace {

// True when text contains one of the entries before the list's first empty entry.
bool matchesList(const QString& text, const QStringList& list) {
    for (const QString& entry : list) {
        if (entry.isEmpty())
            return false;
        if (text.contains(entry, Qt::CaseSensitive))
            return true;
    }
    return false;
}

} // namespace

bool isExcluded(const MessageSummary& message, const QStringList& excludeSubjects, const QStringList& excludeSenders) {
    return matchesList(message.subject, excludeSubjects) || matchesList(message.from, excludeSenders);
}

qint16 CheckTally::counted() const {
    const int c = total - excluded;
    return static_cast<qint16>(qBound(0, c, int(std::numeric_limits<qint16>::max())));
}

CheckTally tallyCheck(const QList<Mailbox>& boxes, const QList<MailOutcome<Listing>>& listings,
                      const QStringList& excludeSubjects, const QStringList& excludeSenders) {
    CheckTally tally;
    for (int i = 0; i < boxes.size(); ++i) {
        if (boxes.at(i).server.isEmpty())
            continue;
        if (i >= listings.size() || !listings.at(i).ok()) {
            tally.failed.append({i, i < listings.size() ? listings.at(i).error() : MailError{}});
            continue;
        }
        tally.answered.append(i);
        for (const MessageSummary& m : listings.at(i).value().messages) {
            if (isExcluded(m, excludeSubjects, excludeSenders))
                ++tally.excluded;
            ++tally.total;
        }
    }
    return tally;
}

void FailedMailboxes::update(const CheckTally& tally, const QList<MailOutcome<Listing>>& listings) {
    const auto drop = [this](int slot) {
        entries_.removeIf([slot](const QPair<int, QString>& e) { return e.first == slot; });
    };
    for (const int slot : tally.answered) {
        drop(slot);
        if (const QString& who = listings.at(slot).value().unverifiedServer; !who.isEmpty())
            entries_.append(
                {slot, QStringLiteral("暗号化して接続しましたが、サーバーの身元 (証明書) は確認できていません (") +
                           who + u')'});
    }
    for (const auto& [slot, error] : tally.failed) {
        drop(slot);
        entries_.append({slot, describe(error)});
    }
    std::sort(entries_.begin(), entries_.end(),
              [](const QPair<int, QString>& a, const QPair<int, QString>& b) { return a.first < b.first; });
}

QString checkStatusText(int total) {
    if (total == 0)
        return QStringLiteral("　メールはありません");
    return QStringLiteral("　") + QString::number(total) + QStringLiteral("通メールがあります");
}

QString checkingStatusText() {
    return QStringLiteral("　チェック中");
}

CheckDecision decideAfterCheck(qint16 counted, qint16 lastCount, bool inTray) {
    return counted != lastCount && inTray ? CheckDecision::Announce : CheckDecision::DefaultIcon;
}

std::optional<double> periodMinutes(const QString& text) {
    // NFKC turns full-width digits, point and sign into their ASCII forms.
    const QString plain = text.normalized(QString::NormalizationForm_KC).trimmed();
    if (plain.isEmpty())
        return std::nullopt;
    for (const QChar c : plain)
        if (!(c.isDigit() || c == u'.' || c == u'-' || c == u'+' || c == u'e' || c == u'E'))
            return std::nullopt; // keeps out "nan", "inf" and hexadecimal forms
    bool ok = false;
    const double v = QLocale::c().toDouble(plain, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double periodSeconds(const QString& text) {
    return periodMinutes(text).value_or(kDefaultPeriodMinutes) * 60.0;
}

bool timedCheckDue(int ticks, const QString& periodText) {
    return double(ticks) > periodSeconds(periodText);
}

QString trayTipText(const QString& periodText) {
    const double minutes = periodMinutes(periodText).value_or(kDefaultPeriodMinutes);
    // nearbyint rounds in the current mode, to nearest with halves to even unless someone changed it.
    double whole = std::nearbyint(minutes);
    if (whole == 0)
        whole = 0; // no "-0"
    return QString::number(whole, 'f', 0) + QStringLiteral("分毎にチェック");
}

QString failureToolTip(const QList<QPair<int, QString>>& failures) {
    if (failures.isEmpty())
        return QString();
    QStringList lines;
    for (const auto& [slot, text] : failures) {
        QString reason = text.simplified();
        if (reason.isEmpty())
            reason = QStringLiteral("応答がありません");
        if (reason.size() > 200)
            reason = reason.left(200) + QStringLiteral("…");
        lines << QStringLiteral("メールボックス") + QString::number(slot + 1) + QStringLiteral(": ") +
                     reason.toHtmlEscaped();
    }
    return QStringLiteral("<qt>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</qt>");
}

} // namespace korimo
