#include "trayIcon.h"

#include <QSystemTrayIcon>

namespace korimo {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::add(const QIcon& picture, const QString& tip) {
    remove();
    // A new icon each time: the picture is the window's picture when tray mode was entered.
    icon_ = std::make_unique<QSystemTrayIcon>(picture);
    icon_->setToolTip(tip);
    // Trigger is the primary button's click, Context the secondary one's; no context menu is set, so
    // the secondary button reaches us as Context. Reported after the icon's own mouse event has
    // returned: what the buttons do removes the icon, and the widget delivering the event must not
    // be torn down under it.
    connect(
        icon_.get(), &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                emit leftReleased();
            else if (reason == QSystemTrayIcon::Context)
                emit rightReleased();
        },
        Qt::QueuedConnection);
    icon_->show();
}

void TrayIcon::remove() {
    if (!icon_)
        return;
    icon_->hide();
    // Deleted later: remove() may run inside the icon's own activated() signal.
    icon_.release()->deleteLater();
}

bool TrayIcon::present() const {
    return icon_ != nullptr;
}

} // namespace korimo
