#include "notificationSound.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#ifndef KORIMO_SOUND_MODULE_DIR
#define KORIMO_SOUND_MODULE_DIR "../lib/korimo"
#endif

namespace korimo {

NotificationSound::NotificationSound(QObject* parent, QStringList moduleFolders)
    : QObject(parent), moduleFolders_(std::move(moduleFolders)) {
    if (moduleFolders_.isEmpty()) {
        // Beside the executable (the build, a self-contained install), then the installed library
        // folder relative to it (a package: /usr/bin/korimo and /usr/lib/.../korimo).
        const QDir exe(QCoreApplication::applicationDirPath());
        moduleFolders_ = {exe.path(), QDir::cleanPath(exe.filePath(QStringLiteral(KORIMO_SOUND_MODULE_DIR)))};
    }
}

NotificationSound::~NotificationSound() = default;

void NotificationSound::beep() {
    QApplication::beep();
}

bool NotificationSound::loadPlayer() {
    if (loadTried_)
        return player_ != nullptr;
    loadTried_ = true;
    for (const QString& folder : std::as_const(moduleFolders_)) {
        // Never unloaded: the player it made lives as long as this object.
        QLibrary module(QDir(folder).filePath(QStringLiteral("korimo-sound")));
        if (!module.load())
            continue;
        using Create = QObject* (*)(QObject*);
        const auto create = reinterpret_cast<Create>(module.resolve("korimoSoundCreate"));
        play_ = reinterpret_cast<void (*)(QObject*, const QString*)>(module.resolve("korimoSoundPlay"));
        if (create && play_) {
            player_ = create(this);
            return player_ != nullptr;
        }
        play_ = nullptr;
    }
    return false;
}

void NotificationSound::playWav(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isFile() || !loadPlayer())
        return;
    play_(player_, &path);
}

} // namespace korimo
