// Every key of iniKR.ini with its section, its default and how it is read. Windows read and write
// the settings through these entries, so a key's spelling and default live in one place.
#pragma once

#include "mailTransport.h"
#include "modIniFile.h"
#include "programFolders.h"

#include <QString>

namespace korimo {

enum class IniReader {
    Int,   // ReadIniInt, kept as 32-bit
    Int16, // ReadIniInt, then narrowed to 16 bits (narrowToInt16)
    String // ReadIniString
};

struct IniKey {
    const char16_t* section;
    const char16_t* key; // for an indexed key: the prefix, e.g. u"smtp-"
    const char16_t* def; // the default as text; see the program-folder defaults below
    IniReader reader;
    int count = 1; // 1 for a plain key; 5 or 20 for an indexed family

    QString name(int index = -1) const {
        return index < 0 ? QString::fromUtf16(key) : QString::fromUtf16(key) + QString::number(index);
    }
    qint32 intDefault() const { return QString::fromUtf16(def).toInt(); }
};

namespace keys {
// [Main]: the main window.
inline constexpr IniKey MainLeft{u"Main", u"left", u"4000", IniReader::Int};
inline constexpr IniKey MainTop{u"Main", u"top", u"2200", IniReader::Int16};
inline constexpr IniKey MainPeriod{u"Main", u"text1", u"2", IniReader::Int};
// [Set]: the settings window.
inline constexpr IniKey SetLeft{u"Set", u"left", u"4000", IniReader::Int};
inline constexpr IniKey SetTop{u"Set", u"top", u"2200", IniReader::Int16};
// [Trans]: the send window.
inline constexpr IniKey TransLeft{u"Trans", u"left", u"4000", IniReader::Int};
inline constexpr IniKey TransTop{u"Trans", u"top", u"2200", IniReader::Int16};
inline constexpr IniKey TransAttachment{u"Trans", u"text5", u"", IniReader::String};
inline constexpr IniKey TransCloseAfterSend{u"Trans", u"check1", u"0", IniReader::Int16};
inline constexpr IniKey TransSubject{u"Trans", u"combo1", u"", IniReader::String};
// [Receive]: the receive window.
inline constexpr IniKey ReceiveLeft{u"Receive", u"left", u"4000", IniReader::Int};
inline constexpr IniKey ReceiveTop{u"Receive", u"top", u"2200", IniReader::Int16};
inline constexpr IniKey ReceiveWidth{u"Receive", u"width", u"7845", IniReader::Int};
inline constexpr IniKey ReceiveHeight{u"Receive", u"height", u"6105", IniReader::Int};
inline constexpr IniKey ReceiveSaveAttachments{u"Receive", u"check1", u"0", IniReader::Int16};
inline constexpr IniKey ReceiveFolder{u"Receive", u"text2", u"", IniReader::String};
// [Past]: the shared settings.
inline constexpr IniKey SmtpServer{u"Past", u"smtp", u"", IniReader::String};
inline constexpr IniKey SenderAddress{u"Past", u"useradd", u"", IniReader::String};
inline constexpr IniKey SenderName{u"Past", u"text11", u"", IniReader::String};
inline constexpr IniKey ShowSeconds{u"Past", u"text3", u"2", IniReader::Int16};
inline constexpr IniKey MailerPath{u"Past", u"text4", u"", IniReader::String};
inline constexpr IniKey NoticeIcon{u"Past", u"label15", u"", IniReader::String}; // default: noticeIconDefault()
inline constexpr IniKey WavFile{u"Past", u"label16", u"", IniReader::String};
inline constexpr IniKey Startup{u"Past", u"check1", u"0", IniReader::Int16};
inline constexpr IniKey SoundOn{u"Past", u"check2", u"0", IniReader::Int16};
// option2-0 has two defaults: the settings window reads "True", the main window "" (see beepChosen()).
inline constexpr IniKey BeepOption{u"Past", u"option2-0", u"True", IniReader::String};
inline constexpr IniKey WavOption{u"Past", u"option2-1", u"False", IniReader::String};
inline constexpr IniKey Servers{u"Past", u"smtp-", u"", IniReader::String, kMailboxCount};
inline constexpr IniKey Accounts{u"Past", u"acou-", u"", IniReader::String, kMailboxCount};
inline constexpr IniKey Passwords{u"Past", u"pass-", u"", IniReader::String, kMailboxCount};
inline constexpr IniKey SendAddresses{u"Past", u"add-", u"", IniReader::String, 20};
inline constexpr IniKey SendNames{u"Past", u"nam-", u"", IniReader::String, 20};
inline constexpr IniKey SendSubjects{u"Past", u"ken-", u"", IniReader::String, 20};
inline constexpr IniKey ExcludeSenders{u"Past", u"noadd-", u"", IniReader::String, 20};
inline constexpr IniKey ExcludeSubjects{u"Past", u"noken-", u"", IniReader::String, 20};
inline constexpr IniKey LastCount{u"Past", u"mnum", u"0", IniReader::Int16};
inline constexpr IniKey AttachDirectory{u"Past", u"Directory", u"",
                                        IniReader::String}; // default: attachedFilesDefault()

// Every key, for tests and tools that walk the whole file.
inline constexpr IniKey All[] = {
    MainLeft,        MainTop,         MainPeriod,
    SetLeft,         SetTop,          TransLeft,
    TransTop,        TransAttachment, TransCloseAfterSend,
    TransSubject,    ReceiveLeft,     ReceiveTop,
    ReceiveWidth,    ReceiveHeight,   ReceiveSaveAttachments,
    ReceiveFolder,   SmtpServer,      SenderAddress,
    SenderName,      ShowSeconds,     MailerPath,
    NoticeIcon,      WavFile,         Startup,
    SoundOn,         BeepOption,      WavOption,
    Servers,         Accounts,        Passwords,
    SendAddresses,   SendNames,       SendSubjects,
    ExcludeSenders,  ExcludeSubjects, LastCount,
    AttachDirectory,
};
} // namespace keys

// Program-folder paths that serve as defaults.
QString dataFolder(const ProgramFolders& folders);           // <data>/DATA
QString attachedFilesDefault(const ProgramFolders& folders); // <data>/AttachedFiles
QString soundFolder(const ProgramFolders& folders);          // <data>/Sound
QString iconFolder(const ProgramFolders& folders);           // <shipped>/DATA
QString defaultIconPath(const ProgramFolders& folders);      // <shipped>/DATA/iconKorimo.ico
QString noticeIconDefault(const ProgramFolders& folders);    // <shipped>/DATA/Icon.ico

// Typed reads through the table. For a key whose default depends on the program folder, pass it.
qint32 readInt(const IniFile& ini, const IniKey& k, int index = -1);
qint16 readInt16(const IniFile& ini, const IniKey& k, int index = -1);
QString readString(const IniFile& ini, const IniKey& k, int index = -1);
QString readString(const IniFile& ini, const IniKey& k, const QString& def, int index = -1);
bool writeValue(const IniFile& ini, const IniKey& k, const QString& value, int index = -1);
bool writeValue(const IniFile& ini, const IniKey& k, qint64 value, int index = -1);
// The kMailboxCount mailbox slots (server, account, password) as stored.
QList<Mailbox> readMailboxes(const IniFile& ini);

} // namespace korimo
