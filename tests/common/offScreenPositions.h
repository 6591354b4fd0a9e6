// Saved window positions (twips) that lie on no screen, for the tests of windows that must then open
// where the user can reach them. Columns "left" and "top".
#pragma once

#include <QTest>

namespace korimo {

inline void addOffScreenPositionRows() {
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::newRow("far left") << -200000 << 2200;
    QTest::newRow("far below, clamped to 16 bits") << 4000 << 900000;
    QTest::newRow("far right") << 3000000 << 0;
}

} // namespace korimo
