#include "iniKeys.h"

namespace korimo {

QString dataFolder(const ProgramFolders& folders) {
    return folders.data + QStringLiteral("/DATA");
}
QString attachedFilesDefault(const ProgramFolders& folders) {
    return folders.data + QStringLiteral("/AttachedFiles");
}
QString soundFolder(const ProgramFolders& folders) {
    return folders.data + QStringLiteral("/Sound");
}
QString iconFolder(const ProgramFolders& folders) {
    return folders.shipped + QStringLiteral("/DATA");
}
QString defaultIconPath(const ProgramFolders& folders) {
    return iconFolder(folders) + QStringLiteral("/iconKorimo.ico");
}
QString noticeIconDefault(const ProgramFolders& folders) {
    return iconFolder(folders) + QStringLiteral("/Icon.ico");
}

qint32 readInt(const IniFile& ini, const IniKey& k, int index) {
    return ini.ReadIniInt(QStringView(k.section), k.name(index), k.intDefault());
}

qint16 readInt16(const IniFile& ini, const IniKey& k, int index) {
    return narrowToInt16(readInt(ini, k, index));
}

QString readString(const IniFile& ini, const IniKey& k, int index) {
    return readString(ini, k, QString::fromUtf16(k.def), index);
}

QString readString(const IniFile& ini, const IniKey& k, const QString& def, int index) {
    return ini.ReadIniString(QStringView(k.section), k.name(index), def);
}

bool writeValue(const IniFile& ini, const IniKey& k, const QString& value, int index) {
    return ini.WriteIniString(QStringView(k.section), k.name(index), value);
}

bool writeValue(const IniFile& ini, const IniKey& k, qint64 value, int index) {
    return writeValue(ini, k, QString::number(value), index);
}

QList<Mailbox> readMailboxes(const IniFile& ini) {
    QList<Mailbox> boxes;
    for (int i = 0; i < kMailboxCount; ++i)
        boxes.append({readString(ini, keys::Servers, i), readString(ini, keys::Accounts, i),
                      readString(ini, keys::Passwords, i)});
    return boxes;
}

} // namespace korimo
