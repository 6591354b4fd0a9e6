// Well-known folders of the desktop, looked up by the number the program uses for them.
#pragma once

#include <QString>

namespace korimo {

// The number of the folder whose entries start with the user's session.
inline constexpr int kStartupFolder = 7;

// "7": the XDG autostart folder ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart), without
// a trailing separator. Any other number, or text that is not a number, gives "".
QString SpecialFolderPath(const QString& number);

} // namespace korimo
