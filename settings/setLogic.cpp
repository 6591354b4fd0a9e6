#include "setLogic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace korimo {

int browseStep(int number, int step) {
    int n = number + step;
    if (n < 1)
        n = kListEntries;
    if (n > kListEntries)
        n = 1;
    return n;
}

int entryNumber(const QString& labelText) {
    bool ok = false;
    const int n = labelText.trimmed().toInt(&ok);
    return ok && n >= 1 && n <= kListEntries ? n : 1;
}

SoundVisibility soundVisibility(bool soundOn, bool wavChosen) {
    return {soundOn, soundOn && wavChosen};
}

bool parseOptionState(const QString& text, bool def) {
    const QString t = text.trimmed();
    if (t.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double n = t.toDouble(&ok);
    return ok ? n != 0 : def;
}

QString autostartEntryPath(const QString& startupFolder) {
    return startupFolder + QStringLiteral("/こりも.desktop");
}

QString desktopExecArgument(const QString& path) {
    if (path.isEmpty())
        return QString();
    QString quoted;
    quoted.reserve(path.size() + 8);
    quoted += u'"';
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QString();
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    // The quoting above is read after the string value's own escapes, so each backslash is doubled.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return quoted;
}

QString autostartEntryText(const QString& executable) {
    const QString exec = desktopExecArgument(executable);
    if (exec.isEmpty())
        return QString();
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=こりも\nExec=") + exec + u'\n';
}

bool registerAutostart(const QString& startupFolder, const QString& executable) {
    if (startupFolder.isEmpty())
        return false;
    const QString text = autostartEntryText(executable);
    if (text.isEmpty())
        return false;
    if (!QDir().mkpath(startupFolder))
        return false;
    QSaveFile file(autostartEntryPath(startupFolder));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool unregisterAutostart(const QString& startupFolder) {
    if (startupFolder.isEmpty())
        return false;
    const QString path = autostartEntryPath(startupFolder);
    // A dangling symlink is an entry too: look at the link itself, not its target.
    if (!QFileInfo(path).isSymLink() && !QFileInfo::exists(path))
        return true;
    return QFile::remove(path);
}

} // namespace korimo
