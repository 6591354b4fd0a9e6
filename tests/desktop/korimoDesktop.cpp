// Korimo's main window with the real tray icon and the program's mail helpers, for the desktop test:
// the program as main() builds it, except that the test servers' CA is trusted instead of the system's.
//   korimo-desktop PROGRAM-FOLDER CA-FILE
#include "dialogs.h"
#include "frmMainKR.h"
#include "helperMailTransport.h"
#include "sessionEnd.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    korimo::TransportOptions options;
    options.caFile = QString::fromLocal8Bit(argv[2]);
    options.connectTimeoutMs = 5000;
    options.readTimeoutMs = 5000;
    korimo::HelperMailTransport transport(QStringLiteral(KORIMO_MAIL_HELPERS), options);
    korimo::QtDialogs dialogs;
    korimo::frmMainKR window(QString::fromLocal8Bit(argv[1]), transport, dialogs);
    korimo::endOrdinarilyOnSessionEnd(app, window);
    window.Form_Load();
    return QApplication::exec();
}
