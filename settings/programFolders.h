// Where the program keeps its files. A program folder the user can write to (a build tree, a portable
// copy, ~/.local/lib/korimo) holds everything beside the executable. A read-only install (the system
// package under /usr) gives every user folders of their own: the settings in $XDG_CONFIG_HOME/korimo,
// the work data in $XDG_DATA_HOME/korimo, and the shipped icons are read from the package's data folder.
#pragma once

#include <QString>
#include <utility>

namespace korimo {

struct ProgramFolders {
    QString settings; // iniKR.ini
    QString data;     // DATA (the transport's work folder and header cache), AttachedFiles, Sound, the lock
    QString shipped;  // DATA/iconKorimo.ico and DATA/Icon.ico as installed

    ProgramFolders() = default;
    // Everything in one program folder (the portable case).
    ProgramFolders(const QString& programFolder) // NOLINT(google-explicit-constructor)
        : settings(programFolder), data(programFolder), shipped(programFolder) {}
    ProgramFolders(QString settingsFolder, QString dataFolder, QString shippedFolder)
        : settings(std::move(settingsFolder)), data(std::move(dataFolder)), shipped(std::move(shippedFolder)) {}
};

// The folders for an executable in EXECUTABLE_FOLDER: beside it when that folder is writable and is
// not an installed system program (one with the package's data in ../share/korimo), else per user in
// CONFIG_HOME/korimo and DATA_HOME/korimo (the user's XDG folders), the shipped icons read from
// ../share/korimo (or from beside a read-only executable).
ProgramFolders chooseProgramFolders(const QString& executableFolder, bool folderWritable, const QString& configHome,
                                    const QString& dataHome);

// The same for the running executable with the user's real XDG folders.
ProgramFolders programFoldersOfThisExecutable();

// Creates the settings and data folders (the settings folder private to the user); false when one is missing.
bool createProgramFolders(const ProgramFolders& folders);

} // namespace korimo
