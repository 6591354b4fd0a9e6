// One running Korimo per program folder: an exclusive flock on the file .korimo.lock beside the
// executable. A second start finds the lock held and leaves without reading or writing anything. The
// kernel drops the lock when its holder ends in any way, so a file left behind (empty, garbled, from an
// older version) never blocks a start: only a live holder does.
#pragma once

#include <QString>

namespace korimo {

class SingleInstance {
public:
    explicit SingleInstance(const QString& programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another running instance holds the lock for this folder.
    bool acquired() const { return acquired_; }

private:
    int fd_ = -1;
    bool acquired_ = false;
};

} // namespace korimo
