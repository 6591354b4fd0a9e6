#include "singleInstance.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace korimo {

SingleInstance::SingleInstance(const QString& programFolder) {
    const QByteArray path = QFile::encodeName(programFolder + QStringLiteral("/.korimo.lock"));
    // Read-only suffices for flock. Close-on-exec keeps a started mail program from inheriting the
    // lock and holding it after Korimo has ended.
    do
        fd_ = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        // A folder where no lock can be made at all (read-only install): run unguarded rather than not at all.
        acquired_ = true;
        return;
    }
    int rc = 0;
    do
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    acquired_ = rc == 0 || errno != EWOULDBLOCK;
}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock; the file stays, harmless to the next start
}

} // namespace korimo
