#include "receiveLogic.h"

#include "cp932.h"

#include <QSaveFile>

namespace korimo::receive {

QList<Row> rowsOf(const QList<MailOutcome<Listing>>& listings) {
    QList<Row> rows;
    for (int i = 0; i < listings.size() && i < kMailboxCount; ++i) {
        if (!listings.at(i).ok())
            continue;
        for (const MessageSummary& m : listings.at(i).value().messages)
            rows.append({MessageRef{i, m.number, m.uid}, m});
    }
    return rows;
}

QString rowKey(const Row& row) {
    const MessageSummary& m = row.summary;
    return QStringList{QString::number(row.ref.mailbox), QString::fromLatin1(m.uid), m.subject, m.from, m.date}.join(
        u'\n');
}

Attachments attachmentsOf(const MailMessage& message, bool saveAttachments) {
    if (!saveAttachments)
        return message.attachments.isEmpty() ? Attachments::None : Attachments::Present;
    for (const SavedAttachment& a : message.attachments)
        if (a.saved)
            return Attachments::Saved;
    return Attachments::None;
}

QString attachmentMessage(Attachments a) {
    switch (a) {
    case Attachments::Saved:
        return QStringLiteral("添付ファイルを保存しました");
    case Attachments::Present:
        return QStringLiteral("添付ファイルがあります。");
    case Attachments::None:
        break;
    }
    return QString();
}

QString shownBody(const MailMessage& message) {
    QStringList notes;
    if (message.partsOmitted)
        notes << QStringLiteral("[このメールは大きすぎるか複雑すぎるため、一部を省略しました]");
    for (const SavedAttachment& a : message.attachments)
        if (!a.problem.isEmpty())
            notes << QStringLiteral("[添付ファイル「%1」を保存できませんでした: %2]").arg(a.fileName, a.problem);
    if (notes.isEmpty())
        return message.body;
    return notes.join(u'\n') + QStringLiteral("\n\n") + message.body;
}

QString fetchFailureText(const MailError& error) {
    return QStringLiteral("エラー") + describe(error);
}

QString mailboxChangedText() {
    return QStringLiteral(
        "メールボックスの内容が一覧を取得した後に変わったため、削除しませんでした。一覧を更新します。");
}

int firstPending(const QStringList& rowKeys, const QStringList& pending) {
    for (int i = 0; i < rowKeys.size(); ++i)
        if (pending.contains(rowKeys.at(i)))
            return i;
    return -1;
}

QString deleteQuestion(const QString& subject) {
    return QStringLiteral("「") + subject + QStringLiteral("」\r\n　をメールボックスから削除します");
}

QString deleteAllQuestion() {
    return QStringLiteral("メールボックスからすべてのメールを削除します");
}

QString refusedText() {
    return QStringLiteral("　パスワードが一致しません");
}

QString deletionFailure(const MailError& error) {
    switch (error.kind) {
    case MailErrorKind::LoginRefused:
        return refusedText();
    case MailErrorKind::MailboxChanged:
        return mailboxChangedText();
    default:
        return describe(error);
    }
}

QString deleteAllStuckText(int mailbox) {
    return QStringLiteral("メールボックス") + QString::number(mailbox + 1) +
           QStringLiteral("のメールを削除しても一覧から消えないため、すべての削除を中止しました。");
}

QString statusLineAfterClose(bool mailboxChanged, int rows) {
    if (mailboxChanged)
        return QString();
    if (rows != 0)
        return QStringLiteral("　") + QString::number(rows) + QStringLiteral("通メールがあります");
    return QStringLiteral("　メールはありません");
}

Layout applyResize(Layout current, int outerWidth, int outerHeight) {
    if (outerWidth - 5400 > 0) {
        current.listWidth = outerWidth - 300;
        current.bodyWidth = outerWidth - 300;
        current.folderWidth = outerWidth - 5400;
    }
    if (outerHeight - 3090 > 0)
        current.bodyHeight = outerHeight - 3090;
    return current;
}

QList<ListingFailure> listingFailures(const QList<Mailbox>& boxes, const QList<MailOutcome<Listing>>& listings) {
    QList<ListingFailure> out;
    for (int i = 0; i < listings.size() && i < boxes.size(); ++i)
        if (!boxes.at(i).server.isEmpty() && !listings.at(i).ok())
            out.append({i, describe(listings.at(i).error())});
    return out;
}

QString captionFor(const QList<ListingFailure>& failures) {
    QString caption = QStringLiteral("受信");
    if (failures.isEmpty())
        return caption;
    QStringList numbers;
    for (const ListingFailure& f : failures)
        numbers << QString::number(f.mailbox + 1);
    return caption + QStringLiteral("　（読めなかったメールボックス: ") + numbers.join(QStringLiteral(", ")) +
           QStringLiteral("）");
}

QString failureDetails(const QList<ListingFailure>& failures) {
    QStringList lines;
    for (const ListingFailure& f : failures)
        lines << QStringLiteral("メールボックス") + QString::number(f.mailbox + 1) + QStringLiteral(": ") + f.error;
    return lines.join(u'\n');
}

namespace {

// Characters that a name on this or another common file system cannot hold, and their full-width forms.
QChar safeLookAlike(QChar c) {
    switch (c.unicode()) {
    case u'/':
        return QChar(u'／');
    case u'\\':
        return QChar(u'＼');
    case u':':
        return QChar(u'：');
    case u'*':
        return QChar(u'＊');
    case u'?':
        return QChar(u'？');
    case u'"':
        return QChar(u'”');
    case u'<':
        return QChar(u'＜');
    case u'>':
        return QChar(u'＞');
    case u'|':
        return QChar(u'｜');
    default:
        break;
    }
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || (u >= 0x202a && u <= 0x202e) ||
        (u >= 0x2066 && u <= 0x2069) || u == 0x200e || u == 0x200f)
        return QChar(u'_');
    return c;
}

} // namespace

QString proposedFileName(const QString& subject) {
    QString name;
    name.reserve(subject.size());
    for (QChar c : subject)
        name.append(safeLookAlike(c));
    // No hidden file and no name of blanks: leading dots and blanks go, trailing ones too.
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == u'.' || name.at(start).isSpace()))
        ++start;
    qsizetype end = name.size();
    while (end > start && (name.at(end - 1) == u'.' || name.at(end - 1).isSpace()))
        --end;
    name = name.mid(start, end - start);
    // 255 bytes is the common limit of one name; keep the UTF-8 form to 200 bytes, whole characters.
    while (name.toUtf8().size() > 200) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    if (name.isEmpty())
        name = QStringLiteral("無題");
    return name + QStringLiteral(".txt");
}

QString toDisplayLineEnds(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    return t;
}

QString withCrLf(const QString& text) {
    QString t = toDisplayLineEnds(text);
    t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return t + QStringLiteral("\r\n");
}

BodyBytes encodeBody(const QString& text) {
    const QString file = withCrLf(text);
    const Cp932Encoded enc = encodeCp932(file);
    BodyBytes out;
    out.cp932 = enc.bytes;
    out.unencodable = enc.unencodable;
    if (!enc.lossless())
        out.utf8 = QByteArray("\xEF\xBB\xBF") + file.toUtf8();
    return out;
}

QString utf8Question(const QString& unencodable) {
    QString sample = unencodable.left(20);
    if (sample.size() > 0 && sample.back().isHighSurrogate())
        sample.chop(1);
    return QStringLiteral("本文にはShift_JISで保存できない文字があります: ") + sample +
           QStringLiteral("\r\nUTF-8で保存します。よろしいですか？（「いいえ」で保存を中止します）");
}

QString saveFailedText(const QString& path, const QString& reason) {
    return QStringLiteral("ファイルを保存できませんでした: ") + path + QStringLiteral("\r\n") + reason;
}

QString writeFileAtomically(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

} // namespace korimo::receive
