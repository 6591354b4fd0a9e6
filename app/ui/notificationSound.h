// The announcement's sound: the desktop's beep or a WAV file played asynchronously. The WAV player
// lives in a module (korimo-sound) loaded at the first WAV announcement and kept for the program's
// life, so that the sound libraries cost no memory until then; without the module or an audio
// device WAV announcements stay silent. Tests replace this class with a recorder.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace korimo {

class NotificationSound : public QObject {
    Q_OBJECT
public:
    // moduleFolders: where to look for the module; empty for the program's own places (beside the
    // executable, then the installed library folder).
    explicit NotificationSound(QObject* parent = nullptr, QStringList moduleFolders = {});
    ~NotificationSound() override;

    virtual void beep();
    // Starts playing the WAV file and returns at once. A missing or unplayable file stays silent; no
    // other sound replaces it.
    virtual void playWav(const QString& path);

private:
    bool loadPlayer();

    QStringList moduleFolders_;
    bool loadTried_ = false;
    QObject* player_ = nullptr; // made by the module, a child of this object
    void (*play_)(QObject*, const QString*) = nullptr;
};

} // namespace korimo
