// Where a window opens and what position it saves. Positions are kept in twips, as the settings
// file stores them.
#pragma once

#include <QPoint>
#include <QSize>
#include <optional>

class QWidget;

namespace korimo {

// Moves the window to a position given in twips.
void moveToTwips(QWidget& window, QPoint twips);
// The window's position in twips.
QPoint posInTwips(const QWidget& window);

// A window that remembers the position it was opened at. A saved position on no screen (a monitor
// since removed, a hand-edited file) would leave the window out of reach: it then opens in the
// middle of the primary screen, and that place is what gets saved. A window that was not moved
// saves the twips it was given exactly, free of pixel rounding.
class WindowPlacement {
public:
    // Places the window at the saved position; size is what the window will take on screen.
    void restore(QWidget& window, QPoint twips, QSize size);
    // The position to save for the window now.
    QPoint twipsToSave(const QWidget& window) const;

private:
    std::optional<QPoint> loadedTwips_; // the position read from the file, while the window is there
    QPoint loadedPixels_;               // the same in pixels, as placed
};

} // namespace korimo
