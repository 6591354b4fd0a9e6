// Window positions and sizes are kept in twips (1/1440 inch), as the settings file stores them, and
// converted to pixels with the screen's logical DPI: 15 twips a pixel at 96 DPI.
#pragma once

#include <QPaintDevice>
#include <QRect>
#include <cmath>

namespace korimo {

inline double twipsPerPixelX(const QPaintDevice& d) {
    return 1440.0 / (d.logicalDpiX() > 0 ? d.logicalDpiX() : 96);
}
inline double twipsPerPixelY(const QPaintDevice& d) {
    return 1440.0 / (d.logicalDpiY() > 0 ? d.logicalDpiY() : 96);
}

inline int twipsToPixelsX(const QPaintDevice& d, double twips) {
    return int(std::lround(twips / twipsPerPixelX(d)));
}
inline int twipsToPixelsY(const QPaintDevice& d, double twips) {
    return int(std::lround(twips / twipsPerPixelY(d)));
}
inline int pixelsToTwipsX(const QPaintDevice& d, int px) {
    return int(std::lround(px * twipsPerPixelX(d)));
}
inline int pixelsToTwipsY(const QPaintDevice& d, int px) {
    return int(std::lround(px * twipsPerPixelY(d)));
}

// A control's geometry given as left, top, width, height in twips.
inline QRect twipsRect(const QPaintDevice& d, int left, int top, int width, int height) {
    return QRect(twipsToPixelsX(d, left), twipsToPixelsY(d, top), twipsToPixelsX(d, width), twipsToPixelsY(d, height));
}

} // namespace korimo
