#include "checkRules.h"

#include "summaryCut.h"

#include <QLocale>
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

bool isExcluded(const QString& record, const QStringList& excludeSubjects, const QStringList& excludeSenders) {
    const SummaryCells cells = cutSummary(record);
    return matchesList(cells.subject, excludeSubjects) || matchesList(cells.sender, excludeSenders);
}

qint16 CheckTally::counted() const {
    const int c = total - excluded;
    return static_cast<qint16>(qBound(0, c, int(std::numeric_limits<qint16>::max())));
}

CheckTally tallyCheck(const QList<Mailbox>& boxes, const QList<MailResult>& results, const QStringList& excludeSubjects,
                      const QStringList& excludeSenders) {
    CheckTally tally;
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        if (boxes.at(i).server.isEmpty())
            continue;
        const MailResult result = i < results.size() ? results.at(i) : MailResult();
        if (!result.isArray()) {
            tally.failed.append({int(i), result.text()});
            continue;
        }
        tally.answered.append(int(i));
        for (const QString& record : result.items()) {
            if (isExcluded(record, excludeSubjects, excludeSenders))
                ++tally.excluded;
            ++tally.total;
        }
    }
    return tally;
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
