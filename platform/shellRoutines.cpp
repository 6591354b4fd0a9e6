#include "shellRoutines.h"

#include "modSearchFile.h"
#include "modSpecialFolder.h"

#include <QProcess>

namespace korimo {

int XdgShellRoutines::fileExists(const QString& path) {
    return FileExists(path);
}

QString XdgShellRoutines::specialFolderPath(const QString& number) {
    return SpecialFolderPath(number);
}

bool XdgShellRoutines::startProgram(const QString& path) {
    // The whole path is the program; nothing is split off as arguments. A desktop cannot be told to
    // maximise another program's window, so it starts as that program chooses.
    return QProcess::startDetached(path, {});
}

} // namespace korimo
