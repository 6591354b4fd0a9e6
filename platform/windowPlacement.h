// Where a window opens and what position it saves. Positions are kept in twips, as the settings
// file stores them.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class QWidget;

namespace korimo {

// Moves the window to a position given in twips.
void moveToTwips(QWidget& window, QPoint twips);
// The window's position in twips.
QPoint posInTwips(const QWidget& window);

// The one rule every window follows, the announcement included: a window whose middle lies on none
// of the screens (a monitor since removed, a hand-edited file) would be out of reach, so it goes to
// the middle of the primary screen. screens: the screens' available areas, the primary one first.
// Returns the top-left corner in pixels; pos itself when the window is on a screen or there is none.
QPoint onScreenPosition(QPoint pos, QSize size, const QList<QRect>& screens);
// The available areas of the screens now attached, the primary one first.
QList<QRect> currentScreens();

// A window that remembers the position it was opened at. A saved position on no screen opens by the
// rule above, and that place is what gets saved. A window that was not moved saves the twips it was
// given exactly, free of pixel rounding.
class WindowPlacement {
public:
    // Places the window at the saved position; size is what the window will take on screen.
    void restore(QWidget& window, QPoint twips, QSize size);
    // Brings a window that is to be shown again back onto a screen (screens come and go meanwhile).
    void keepOnScreen(QWidget& window);
    // The position to save for the window now.
    QPoint twipsToSave(const QWidget& window) const;

private:
    std::optional<QPoint> loadedTwips_; // the position read from the file, while the window is there
    QPoint loadedPixels_;               // the same in pixels, as placed
};

} // namespace korimo
