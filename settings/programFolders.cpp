#include "programFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

// Set by the build for the system layout: the absolute folder of the installed executable and the
// package's data folder relative to it. A build without them (the self-contained program folder) still
// falls back to per-user folders when its own folder is read-only.
#ifndef KORIMO_SYSTEM_BINDIR
#define KORIMO_SYSTEM_BINDIR ""
#endif
#ifndef KORIMO_SHIPPED_DATA
#define KORIMO_SHIPPED_DATA "."
#endif

namespace korimo {

ProgramFolders chooseProgramFolders(const QString& executableFolder, bool folderWritable, const QString& configHome,
                                    const QString& dataHome, const QString& shipped) {
    // The system's program folder is per user even for root, who could write into it.
    const QString systemBin = QStringLiteral(KORIMO_SYSTEM_BINDIR);
    const bool systemFolder = !systemBin.isEmpty() && QDir::cleanPath(executableFolder) == QDir::cleanPath(systemBin);
    if (folderWritable && !systemFolder)
        return ProgramFolders(executableFolder);
    return {configHome + QStringLiteral("/korimo"), dataHome + QStringLiteral("/korimo"), QDir::cleanPath(shipped)};
}

ProgramFolders programFoldersOfThisExecutable() {
    const QString folder = QCoreApplication::applicationDirPath();
    return chooseProgramFolders(folder, QFileInfo(folder).isWritable(),
                                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                                folder + QStringLiteral("/" KORIMO_SHIPPED_DATA));
}

bool createProgramFolders(const ProgramFolders& folders) {
    bool ok = true;
    for (const QString& folder : {folders.settings, folders.data}) {
        if (QFileInfo(folder).isDir())
            continue;
        ok = QDir().mkpath(folder) && ok;
        // The settings hold passwords: the folders made here are the user's alone.
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return ok;
}

} // namespace korimo
