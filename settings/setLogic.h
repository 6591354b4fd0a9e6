// The parts of the settings window that need no display: the list browsers' numbering, the sound
// controls' visibility, the file dialogs' kept names, reading option states, and the autostart entry
// that "スタートアップに登録する" creates or deletes.
#pragma once

#include <QString>

namespace korimo {

// Entries per list (recipients, subjects, exclusions), shown as 1 to this.
inline constexpr int kListEntries = 20;

// The entry number after one press of a browser arrow: "↑" adds one (step +1), "↓" takes one away
// (step -1); the numbers wrap, so 1 "↓" gives 20 and 20 "↑" gives 1.
int browseStep(int number, int step);

// The number a browser's number label shows, as an entry number 1 to kListEntries; anything else
// (which the window never shows) counts as 1.
int entryNumber(const QString& labelText);

// Which sound controls show: the two option buttons only with the sound ticked, and the WAV browse
// button and file label only when, in addition, the WAV sound is chosen.
struct SoundVisibility {
    bool options = false;     // Option2(0), Option2(1)
    bool wavControls = false; // Command7, Label16
};
SoundVisibility soundVisibility(bool soundOn, bool wavChosen);

// An option state read back from the settings file: "True"/"False" in any case, or a number (not 0 is
// True). Anything else, only possible in a hand-edited file, gives def.
bool parseOptionState(const QString& text, bool def);

// The file name a file dialog keeps: a chosen name replaces it, a cancelled dialog (empty answer)
// gives it back unchanged, empty until something was chosen.
class KeptFileName {
public:
    // The dialog's answer as the window sees it.
    QString answer(const QString& returned) {
        if (!returned.isEmpty())
            name_ = returned;
        return name_;
    }
    void keep(const QString& name) { name_ = name; }
    const QString& name() const { return name_; }

private:
    QString name_;
};

// The autostart entry's file name inside the startup folder.
QString autostartEntryPath(const QString& startupFolder);

// One argument of an Exec line: double-quoted with ", `, $ and \ escaped, % doubled, then backslashes
// doubled again for the string value. "" when the path cannot be written there (empty, or holding a
// control character).
QString desktopExecArgument(const QString& path);

// The whole desktop entry that starts the executable at log-in; "" when the path cannot be quoted.
QString autostartEntryText(const QString& executable);

// Creates (replacing any old one) the entry in startupFolder, creating the folder when missing; the
// file is written atomically. False when nothing was written.
bool registerAutostart(const QString& startupFolder, const QString& executable);

// Deletes the entry; true when it is gone afterwards (a missing entry is no error).
bool unregisterAutostart(const QString& startupFolder);

} // namespace korimo
