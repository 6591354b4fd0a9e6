// The desktop services the windows ask of the operating system, behind one interface so that another
// platform can be added beside the one we ship. Each routine keeps its free-function form as well
// (FileExists, SpecialFolderPath); this interface is what windows hold and tests replace. The folder
// picker is one of the dialogs (dialogs.h).
#pragma once

#include <QString>

namespace korimo {

class ShellRoutines {
public:
    virtual ~ShellRoutines() = default;
    // 1 when something exists at the path (a wildcard pattern that matches counts), else 0.
    virtual int fileExists(const QString& path) = 0;
    // A well-known folder by its number ("7": the folder of programs started with the session); "" for
    // an unknown number.
    virtual QString specialFolderPath(const QString& number) = 0;
    // Starts the program at path, with no arguments, without waiting for it. False when it could not
    // be started.
    virtual bool startProgram(const QString& path) = 0;
};

// Linux and other systems following the XDG conventions.
class XdgShellRoutines : public ShellRoutines {
public:
    int fileExists(const QString& path) override;
    QString specialFolderPath(const QString& number) override;
    bool startProgram(const QString& path) override;
};

} // namespace korimo
