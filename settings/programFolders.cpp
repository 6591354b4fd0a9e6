#include "programFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace korimo {

ProgramFolders chooseProgramFolders(const QString& executableFolder, bool folderWritable, const QString& configHome,
                                    const QString& dataHome) {
    // The package's data folder beside the bin folder marks an installed system program: per user even
    // for root, who could write into /usr/bin.
    const QString shipped = QDir::cleanPath(executableFolder + QStringLiteral("/../share/korimo"));
    const bool installed = QFileInfo::exists(shipped + QStringLiteral("/DATA/iconKorimo.ico"));
    if (folderWritable && !installed)
        return ProgramFolders(executableFolder);
    return {configHome + QStringLiteral("/korimo"), dataHome + QStringLiteral("/korimo"),
            installed ? shipped : executableFolder};
}

ProgramFolders programFoldersOfThisExecutable() {
    const QString folder = QCoreApplication::applicationDirPath();
    return chooseProgramFolders(folder, QFileInfo(folder).isWritable(),
                                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
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
