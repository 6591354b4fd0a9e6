// Controls the windows build alike.
#pragma once

#include <QPushButton>

namespace korimo {

// A push button with its tooltip ("" for none) that never becomes a default button; a click takes
// the focus, so a box loses it (and keeps its text) before the click is handled.
inline QPushButton* makeButton(QWidget* parent, const QString& caption, const QString& tip = {}) {
    auto* b = new QPushButton(caption, parent);
    b->setFocusPolicy(Qt::StrongFocus);
    b->setAutoDefault(false);
    if (!tip.isEmpty())
        b->setToolTip(tip);
    return b;
}

} // namespace korimo
