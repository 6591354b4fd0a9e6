#include "windowPlacement.h"

#include "twips.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace korimo {

void moveToTwips(QWidget& window, QPoint twips) {
    window.move(twipsToPixelsX(window, twips.x()), twipsToPixelsY(window, twips.y()));
}

QPoint posInTwips(const QWidget& window) {
    return QPoint(pixelsToTwipsX(window, window.x()), pixelsToTwipsY(window, window.y()));
}

QPoint onScreenPosition(QPoint pos, QSize size, const QList<QRect>& screens) {
    if (screens.isEmpty())
        return pos;
    const QPoint middle = QRect(pos, size).center();
    for (const QRect& screen : screens)
        if (screen.contains(middle))
            return pos;
    return screens.first().center() - QPoint(size.width() / 2, size.height() / 2);
}

QList<QRect> currentScreens() {
    QList<QRect> areas;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        areas.append(primary->availableGeometry());
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen != primary)
            areas.append(screen->availableGeometry());
    return areas;
}

void WindowPlacement::restore(QWidget& window, QPoint twips, QSize size) {
    moveToTwips(window, twips);
    loadedTwips_ = twips;
    const QPoint placed = onScreenPosition(window.pos(), size, currentScreens());
    if (placed != window.pos()) {
        window.move(placed);
        loadedTwips_.reset();
    }
    loadedPixels_ = window.pos();
}

void WindowPlacement::keepOnScreen(QWidget& window) {
    const QPoint placed = onScreenPosition(window.pos(), window.frameGeometry().size(), currentScreens());
    if (placed != window.pos())
        window.move(placed);
}

QPoint WindowPlacement::twipsToSave(const QWidget& window) const {
    return loadedTwips_ && window.pos() == loadedPixels_ ? *loadedTwips_ : posInTwips(window);
}

} // namespace korimo
