// The settings file iniKR.ini in the program folder: the only persistent state of the program.
//
// On disk it is a classic profile file in CP932. Reads open, parse and close the file every time;
// writes rewrite it atomically (temporary file + rename in the same folder) with mode 0600, because
// it holds passwords. Section and key names match without regard to ASCII case.
#pragma once

#include <QString>
#include <QStringView>

namespace korimo {

// Longest value, in CP932 bytes, that a string read gives back; a longer value is cut, never inside
// a double-byte character.
inline constexpr int kIniValueMaxBytes = 255;

// The settings file's path: the program folder, one separator unless it already ends in one, "iniKR.ini".
QString IniFilePath(const QString& programFolder);

class IniFile {
public:
    explicit IniFile(QString programFolder);

    const QString& programFolder() const { return folder_; }
    QString path() const { return IniFilePath(folder_); }

    // The number at the start of the value (optional sign, decimal digits; clamped to 32 bits).
    // A missing file, section or key gives def; so does a value that does not start with a number.
    qint32 ReadIniInt(QStringView section, QStringView key, qint32 def) const;

    // The value cut to kIniValueMaxBytes; def when file, section or key is missing. A key present
    // with an empty value reads as "".
    QString ReadIniString(QStringView section, QStringView key, const QString& def) const;

    // Sets the value, adding key and section as needed. CR, LF and NUL in the value would break the
    // file's line structure and are dropped. A value with a blank at either end, or enclosed in double
    // quotes, is written inside one more pair of double quotes, which the reader drops: every value
    // reads back as written. Returns false when nothing could be written (read-only folder, full disk,
    // or a file that exists but could not be read, which is never replaced); the file is then unchanged.
    bool WriteIniString(QStringView section, QStringView key, const QString& value) const;

    // Why settings are not being saved, the first time this is asked after a write was refused because
    // the file could not be read; "" before that and ever after, so the user is told once per run.
    static QString takeUnreadableNotice();

private:
    QString folder_;
};

// Removes what interrupted writes of the settings file left behind in the program folder: the writer's
// temporaries "iniKR.ini.korimo-XXXXXX", which may hold passwords (and those of earlier versions). Only
// the instance holding the program folder's lock may call it, before it writes anything. Returns how
// many were removed.
int sweepStaleTemporaries(const QString& programFolder);

// The 16-bit readers of the settings (window tops, counts, seconds, check states) narrow with this:
// values beyond the 16-bit range are clamped to it.
qint16 narrowToInt16(qint32 value);

} // namespace korimo
