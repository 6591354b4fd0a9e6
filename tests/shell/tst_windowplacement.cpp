// Where a window opens from a saved position and what it saves back: exact twips while it stays put,
// its new place once moved, and the middle of the primary screen for a place on no screen.
#include "offScreenPositions.h"
#include "twips.h"
#include "windowPlacement.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

using namespace korimo;

class TestWindowPlacement : public QObject {
    Q_OBJECT

private slots:
    void unmovedWindowSavesTheTwipsItWasGiven_data() {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        // Not whole pixels: converting back from pixels would give other numbers.
        QTest::newRow("odd twips") << 1003 << 2011;
        QTest::newRow("whole pixels") << 1500 << 3000;
        QTest::newRow("origin") << 0 << 0;
    }
    void unmovedWindowSavesTheTwipsItWasGiven() {
        QFETCH(int, left);
        QFETCH(int, top);
        QWidget w;
        WindowPlacement placement;
        placement.restore(w, QPoint(left, top), QSize(200, 100));
        QCOMPARE(w.pos(), QPoint(twipsToPixelsX(w, left), twipsToPixelsY(w, top)));
        QCOMPARE(placement.twipsToSave(w), QPoint(left, top));
    }

    void movedWindowSavesItsNewPlace() {
        QWidget w;
        WindowPlacement placement;
        placement.restore(w, QPoint(1003, 2011), QSize(200, 100));
        w.move(w.pos() + QPoint(7, 3));
        QCOMPARE(placement.twipsToSave(w), posInTwips(w));
        // Moved back to the very pixel it opened at, it keeps the exact twips again.
        w.move(w.pos() - QPoint(7, 3));
        QCOMPARE(placement.twipsToSave(w), QPoint(1003, 2011));
        QVERIFY(posInTwips(w) != QPoint(1003, 2011)); // what pixel rounding alone would save
    }

    // The rule all four windows and the announcement follow, against screen sets of our own: the
    // middle of the window must lie on a screen, else the window goes to the primary one's middle.
    void onScreenPosition_data() {
        QTest::addColumn<QList<QRect>>("screens"); // the primary first
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<QPoint>("placed");
        const QRect primary(0, 0, 1024, 768);
        const QPoint centred = primary.center() - QPoint(150, 100);
        QTest::newRow("on the only screen") << QList<QRect>{primary} << QPoint(100, 100) << QPoint(100, 100);
        QTest::newRow("second monitor unplugged") << QList<QRect>{primary} << QPoint(1500, 100) << centred;
        QTest::newRow("on the second monitor")
            << QList<QRect>{primary, QRect(1024, 0, 1280, 1024)} << QPoint(1500, 100) << QPoint(1500, 100);
        QTest::newRow("monitor left of the primary")
            << QList<QRect>{primary, QRect(-1280, 0, 1280, 1024)} << QPoint(-900, 200) << QPoint(-900, 200);
        QTest::newRow("middle past the right edge") << QList<QRect>{primary} << QPoint(900, 100) << centred;
        QTest::newRow("above every screen")
            << QList<QRect>{primary, QRect(1024, 0, 1280, 1024)} << QPoint(1200, -400) << centred;
        QTest::newRow("primary on the right")
            << QList<QRect>{QRect(1920, 0, 1024, 768), QRect(0, 0, 1920, 1080)} << QPoint(5000, 5000)
            << QRect(1920, 0, 1024, 768).center() - QPoint(150, 100);
        QTest::newRow("no screen known") << QList<QRect>{} << QPoint(5000, 5000) << QPoint(5000, 5000);
    }
    void onScreenPosition() {
        QFETCH(QList<QRect>, screens);
        QFETCH(QPoint, pos);
        QFETCH(QPoint, placed);
        QCOMPARE(korimo::onScreenPosition(pos, QSize(300, 200), screens), placed);
    }

    void positionOnNoScreenOpensOnThePrimaryScreen_data() { addOffScreenPositionRows(); }
    void positionOnNoScreenOpensOnThePrimaryScreen() {
        QFETCH(int, left);
        QFETCH(int, top);
        QWidget w;
        WindowPlacement placement;
        const QSize size(300, 200);
        placement.restore(w, QPoint(left, top), size);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        // Centred, give or take the pixel that halving an even size loses.
        QVERIFY2((QRect(w.pos(), size).center() - screen.center()).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1,%2").arg(w.x()).arg(w.y())));
        // The place shown at is what gets saved, not the unreachable one.
        QCOMPARE(placement.twipsToSave(w), posInTwips(w));
        QVERIFY(placement.twipsToSave(w) != QPoint(left, top));
    }
};

QTEST_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
