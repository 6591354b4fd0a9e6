#include "dialogs.h"
#include "frmMainKR.h"
#include "iniKeys.h"
#include "programFolders.h"
#include "realMailTransport.h"
#include "sessionEnd.h"
#include "singleInstance.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// The mailboxes as the settings hold them at start-up: SMTP AUTH takes its credentials from the one
// whose account matches the sender.
QList<korimo::Mailbox> configuredMailboxes(const QString& programFolder) {
    const korimo::IniFile ini(programFolder);
    QList<korimo::Mailbox> boxes;
    for (int i = 0; i < korimo::keys::Servers.count; ++i)
        boxes.append({korimo::readString(ini, korimo::keys::Servers, i),
                      korimo::readString(ini, korimo::keys::Accounts, i),
                      korimo::readString(ini, korimo::keys::Passwords, i)});
    return boxes;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korimo"));
    // Beside the executable, or the user's own folders for a read-only (system) install.
    const korimo::ProgramFolders folders = korimo::programFoldersOfThisExecutable();
    korimo::createProgramFolders(folders);

    korimo::SingleInstance instance(folders.data);
    if (!instance.acquired())
        return 0;
    korimo::sweepStaleTemporaries(folders.settings); // under the lock: no other Korimo writes here

    // The interface is Japanese whatever the desktop's language: Qt's own buttons (はい/いいえ, OK,
    // file dialogs) follow it when Qt's Japanese translation is installed.
    QTranslator qtJapanese;
    if (qtJapanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtJapanese);

    korimo::TransportOptions options;
    options.accounts = configuredMailboxes(folders.settings);
    korimo::RealMailTransport transport(options);
    korimo::QtDialogs dialogs;
    korimo::frmMainKR window(folders, transport, dialogs);
    korimo::endOrdinarilyOnSessionEnd(app, window);
    window.Form_Load(); // shows the window, or enters tray mode when a mailbox is configured
    return QApplication::exec();
}
