#include "dialogs.h"
#include "fakeMailTransport.h"
#include "frmMainKR.h"
#include "singleInstance.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korimo"));
    const QString programFolder = QCoreApplication::applicationDirPath();

    korimo::SingleInstance instance(programFolder);
    if (!instance.acquired())
        return 0;

    korimo::FakeMailTransport transport;
    korimo::QtDialogs dialogs;
    korimo::frmMainKR window(programFolder, transport, dialogs);
    window.Form_Load(); // shows the window, or enters tray mode when a mailbox is configured
    return QApplication::exec();
}
