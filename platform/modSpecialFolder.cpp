#include "modSpecialFolder.h"

#include <QDir>

namespace korimo {

QString SpecialFolderPath(const QString& number) {
    bool ok = false;
    const int n = number.trimmed().toInt(&ok);
    if (!ok || n != kStartupFolder)
        return QString();
    // The XDG rule: a relative XDG_CONFIG_HOME is invalid and ignored.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        const QString home = QDir::homePath();
        if (home.isEmpty())
            return QString();
        config = home + QStringLiteral("/.config");
    }
    QString path = QDir::cleanPath(config + QStringLiteral("/autostart"));
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

} // namespace korimo
