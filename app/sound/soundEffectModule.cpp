// The WAV player behind NotificationSound, built as a module that the program loads at the first WAV
// announcement: Qt Multimedia and the sound libraries it brings (PulseAudio, codecs) stay out of the
// program's memory until a sound is actually played, which for most users is never.
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

extern "C" {

// A player owned by parent.
Q_DECL_EXPORT QObject* korimoSoundCreate(QObject* parent) {
    return new QSoundEffect(parent);
}

// Starts playing the WAV file and returns at once; player comes from korimoSoundCreate().
Q_DECL_EXPORT void korimoSoundPlay(QObject* player, const QString* path) {
    auto* effect = qobject_cast<QSoundEffect*>(player);
    if (!effect || !path)
        return;
    effect->stop();
    // Set anew each time: the file named in the settings may have been replaced since.
    effect->setSource(QUrl());
    effect->setSource(QUrl::fromLocalFile(QFileInfo(*path).absoluteFilePath()));
    effect->play();
}
}
