#include "mailTransport.h"

namespace korimo {

QList<MailOutcome<Listing>> MailTransport::listAll(const QList<Mailbox>& boxes, const QString& cacheFolder) {
    QList<MailOutcome<Listing>> results;
    results.reserve(boxes.size());
    for (const Mailbox& box : boxes) {
        if (box.server.trimmed().isEmpty())
            results.append(MailError{MailErrorKind::NotConfigured, {}});
        else
            results.append(list(box, cacheFolder));
    }
    return results;
}

namespace {

QString sentence(MailErrorKind kind) {
    switch (kind) {
    case MailErrorKind::NotConfigured:
        return QStringLiteral("サーバーが設定されていません");
    case MailErrorKind::BadCredentials:
        return QStringLiteral("アカウントかパスワードに使えない文字 (改行など) があります");
    case MailErrorKind::LoginRefused:
        return QStringLiteral("ログインが拒否されました。アカウントとパスワードを確かめてください");
    case MailErrorKind::TlsRefused:
        return QStringLiteral("サーバーが暗号化に応じないため、パスワードを送りませんでした。"
                              "暗号化なしで接続するには pop3:// を付けてください");
    case MailErrorKind::TlsFailed:
        return QStringLiteral("TLS で接続できません (サーバー証明書を確認できません)");
    case MailErrorKind::Unreachable:
        return QStringLiteral("サーバーに接続できません");
    case MailErrorKind::TimedOut:
        return QStringLiteral("サーバーの応答がありません (タイムアウト)");
    case MailErrorKind::ServerRefused:
        return QStringLiteral("サーバーがエラーを返しました");
    case MailErrorKind::MailboxChanged:
        return QStringLiteral("メールボックスの中身が変わっていたため、何もしませんでした。一覧を取り直してください");
    case MailErrorKind::OutcomeUnknown:
        return QStringLiteral("サーバーとの接続が途中で切れました。処理されたかどうかはわかりません");
    case MailErrorKind::LocalFile:
        return QStringLiteral("ファイルを読み書きできません");
    case MailErrorKind::TooLarge:
        return QStringLiteral("大きすぎるか多すぎるため扱えません");
    case MailErrorKind::Unsendable:
        return QStringLiteral("このメールは送れません");
    case MailErrorKind::HelperFailed:
        return QStringLiteral("メールを処理する補助プログラムが動作しませんでした");
    case MailErrorKind::Protocol:
        break;
    }
    return QStringLiteral("サーバーの応答を読めません");
}

} // namespace

QString describe(const MailError& error) {
    const QString s = sentence(error.kind);
    return error.detail.isEmpty() ? s : s + QStringLiteral(" (") + error.detail + QStringLiteral(")");
}

} // namespace korimo
