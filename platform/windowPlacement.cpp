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

void WindowPlacement::restore(QWidget& window, QPoint twips, QSize size) {
    moveToTwips(window, twips);
    loadedTwips_ = twips;
    if (!QGuiApplication::screenAt(QRect(window.pos(), size).center())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            window.move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
            loadedTwips_.reset();
        }
    }
    loadedPixels_ = window.pos();
}

QPoint WindowPlacement::twipsToSave(const QWidget& window) const {
    return loadedTwips_ && window.pos() == loadedPixels_ ? *loadedTwips_ : posInTwips(window);
}

} // namespace korimo
