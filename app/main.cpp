#include "dialogs.h"
#include "frmMainKR.h"
#include "helperMailTransport.h"
#include "iniKeys.h"
#include "programFolders.h"
#include "sessionEnd.h"
#include "singleInstance.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

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
    options.accounts = korimo::readMailboxes(korimo::IniFile(folders.settings));
    korimo::HelperMailTransport transport(korimo::installedHelperFolder(), options);
    korimo::QtDialogs dialogs;
    korimo::frmMainKR window(folders, transport, dialogs);
    korimo::endOrdinarilyOnSessionEnd(app, window);
    window.Form_Load(); // shows the window, or enters tray mode when a mailbox is configured
    return QApplication::exec();
}
