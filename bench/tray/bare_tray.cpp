// A bare Qt Widgets program: a tray icon and one small window, nothing else. scripts/measure-resources.sh
// measures its resident memory beside Korimo's, on the same display in the same run.
//
//   bare_tray ICON_FILE
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QSystemTrayIcon tray(QIcon(QString::fromLocal8Bit(argv[1])));
    tray.setToolTip(QStringLiteral("bare_tray"));
    tray.show();
    QLabel window(QStringLiteral("bare_tray"));
    window.setWindowTitle(QStringLiteral("bare_tray"));
    window.resize(200, 80);
    window.show();
    return QApplication::exec();
}
