#include "singleInstance.h"

namespace korimo {

SingleInstance::SingleInstance(const QString& programFolder) : lock_(programFolder + QStringLiteral("/.korimo.lock")) {
    lock_.setStaleLockTime(0); // stale only when its owner is gone, however old
    acquired_ = lock_.tryLock(0);
    // A folder where no lock can be made at all (read-only install): run unguarded rather than not at all.
    if (!acquired_ && lock_.error() == QLockFile::PermissionError)
        acquired_ = true;
}

} // namespace korimo
