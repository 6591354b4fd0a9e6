#include "modSearchFile.h"

#include <QFile>
#include <glob.h>
#include <sys/stat.h>

namespace korimo {

int FileExists(const QString& path) {
    if (path.isEmpty())
        return 0;
    const QByteArray native = QFile::encodeName(path);
    if (!path.contains(u'*') && !path.contains(u'?')) {
        struct stat st {};
        return ::lstat(native.constData(), &st) == 0 ? 1 : 0;
    }
    // Only '*' and '?' are wildcards here: quote everything else glob(3) would treat specially.
    QByteArray pattern;
    pattern.reserve(native.size() + 8);
    for (const char c : native) {
        if (c == '[' || c == ']' || c == '\\')
            pattern.append('\\');
        pattern.append(c);
    }
    glob_t g{};
    const int rc = ::glob(pattern.constData(), GLOB_NOSORT, nullptr, &g);
    const int found = (rc == 0 && g.gl_pathc > 0) ? 1 : 0;
    ::globfree(&g);
    return found;
}

} // namespace korimo
