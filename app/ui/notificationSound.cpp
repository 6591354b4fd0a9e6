#include "notificationSound.h"

#include <QApplication>
#include <QFileInfo>
#include <QUrl>

#ifdef KORIMO_HAVE_MULTIMEDIA
#include <QSoundEffect>
#endif

namespace korimo {

NotificationSound::NotificationSound(QObject* parent) : QObject(parent) {}

NotificationSound::~NotificationSound() = default;

void NotificationSound::beep() {
    QApplication::beep();
}

void NotificationSound::playWav(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return;
#ifdef KORIMO_HAVE_MULTIMEDIA
    if (!effect_)
        effect_ = new QSoundEffect(this);
    effect_->stop();
    // Set anew each time: the file named in the settings may have been replaced since.
    effect_->setSource(QUrl());
    effect_->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    effect_->play();
#endif
}

} // namespace korimo
