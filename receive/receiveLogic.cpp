#include "receiveLogic.h"

#include "cp932.h"

#include <QSaveFile>

namespace korimo::receive {

std::optional<MessageRef> messageRef(const QStringList& rowTexts, int selected) {
    if (selected < 0 || selected >= rowTexts.size())
        return std::nullopt;
    const QString& text = rowTexts.at(selected);
    bool ok = false;
    const int mailbox = text.toInt(&ok) - 1;
    if (!ok || mailbox < 0 || mailbox > 4)
        return std::nullopt;
    const int first = int(rowTexts.indexOf(text)); // the first row of the mailbox block
    return MessageRef{mailbox, selected - first + 1};
}

QString saveCommand(int number) {
    return QStringLiteral("SAVE ") + QString::number(number);
}
QString deleteCommand(int number) {
    return QStringLiteral("DELE ") + QString::number(number);
}

QString fieldList(bool saveAttachments) {
    return saveAttachments ? QStringLiteral("subject:from:date:") : QStringLiteral("subject:from:date:nofile:");
}

bool isRefusal(const MailResult& result) {
    return !result.isArray() && result.text().contains(u"PASSWORD");
}

ReadOutcome interpretRead(const MailResult& result, bool saveAttachments) {
    ReadOutcome out;
    if (!result.isArray())
        return out;
    for (const QString& e : result.items()) {
        if (e.contains(u"Body"))
            out.shown = e.size() > 6 ? e.mid(6) : QString();
        else if (e.contains(u"File"))
            out.attachments = saveAttachments ? Attachments::Saved : Attachments::Present;
        else
            out.shown = e;
    }
    return out;
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

QString fetchFailureText(const MailResult& result) {
    QString reason = result.isArray() ? QString() : result.text();
    if (reason.isEmpty())
        reason = QStringLiteral("メールを取り込めませんでした");
    return QStringLiteral("エラー") + reason;
}

StillListed stillListed(const MailResult& listing, int number, const QString& summary) {
    if (!listing.isArray())
        return isRefusal(listing) ? StillListed::Refused : StillListed::Failed;
    if (number < 1 || number > listing.items().size() || listing.items().at(number - 1) != summary)
        return StillListed::Changed;
    return StillListed::Same;
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

QString deletionFailure(const MailResult& result) {
    if (result.isDone())
        return QString();
    if (isRefusal(result))
        return refusedText();
    const QString reason = result.isArray() ? QString() : result.text();
    return reason.isEmpty() ? QStringLiteral("メールを削除できませんでした") : reason;
}

QString deleteAllStuckText(int mailbox, const MailResult& result) {
    QString text = QStringLiteral("メールボックス") + QString::number(mailbox + 1) +
                   QStringLiteral("のメールを削除しても一覧から消えないため、すべての削除を中止しました。");
    const QString reply = result.isArray() ? QString() : result.text();
    if (!reply.isEmpty())
        text += QStringLiteral("\r\n") + reply;
    return text;
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

QList<ListingFailure> listingFailures(const QStringList& servers, const QList<MailResult>& results) {
    QList<ListingFailure> out;
    for (int i = 0; i < results.size() && i < servers.size(); ++i) {
        if (servers.at(i).isEmpty() || results.at(i).isArray())
            continue;
        QString error = results.at(i).text();
        if (error.isEmpty())
            error = QStringLiteral("一覧を取得できませんでした");
        out.append({i, error});
    }
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
