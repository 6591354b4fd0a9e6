#include "modSelectFolder.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <exception>

namespace korimo {

QString SelectFolder(const QString& title, QWidget* owner, int /*root*/, int /*flags*/, const QString& startFolder) {
    try {
        QFileDialog dialog(owner, title);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        if (!startFolder.isEmpty())
            dialog.setDirectory(startFolder);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            const QSize size = dialog.sizeHint();
            dialog.move(area.width() / 2 - size.width() / 2, area.height() / 2 - size.height() / 2);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    } catch (const std::exception& e) {
        QMessageBox box(QMessageBox::Critical, QString(), QString::fromLocal8Bit(e.what()), QMessageBox::Ok, owner);
        box.exec();
        return QString();
    }
}

} // namespace korimo
