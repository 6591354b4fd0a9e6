// The announcement's sound: the desktop's beep or a WAV file played asynchronously. One player is kept
// for the program's life; without an audio device both stay silent. Tests replace it with a recorder.
#pragma once

#include <QObject>
#include <QString>

class QSoundEffect;

namespace korimo {

class NotificationSound : public QObject {
    Q_OBJECT
public:
    explicit NotificationSound(QObject* parent = nullptr);
    ~NotificationSound() override;

    virtual void beep();
    // Starts playing the WAV file and returns at once. A missing or unplayable file stays silent; no
    // other sound replaces it.
    virtual void playWav(const QString& path);

private:
    QSoundEffect* effect_ = nullptr; // created at the first WAV announcement
};

} // namespace korimo
