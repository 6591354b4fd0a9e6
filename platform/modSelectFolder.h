// The folder picker.
#pragma once

#include <QString>

class QWidget;

namespace korimo {

inline constexpr int kReturnOnlyFsDirs = 1; // only folders of the file system can be chosen

// Opens a folder dialog titled title, centred on the screen and, when startFolder is not empty, opened
// on it. owner 0 means the desktop; root 0 means the whole file system. Returns the chosen folder, or
// "" when the user cancels. A failure of the dialog itself is shown in a stop-icon box and gives "".
QString SelectFolder(const QString& title, QWidget* owner, int root, int flags, const QString& startFolder);

} // namespace korimo
