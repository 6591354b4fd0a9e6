// One running Korimo per program folder: a lock file beside the executable. A second start finds
// the lock held and leaves without reading or writing anything. A lock left by a crashed run is
// taken over (QLockFile checks whether its owner still lives).
#pragma once

#include <QLockFile>
#include <QString>

namespace korimo {

class SingleInstance {
public:
    explicit SingleInstance(const QString& programFolder);
    // False when another running instance holds the lock for this folder.
    bool acquired() const { return acquired_; }

private:
    QLockFile lock_;
    bool acquired_ = false;
};

} // namespace korimo
