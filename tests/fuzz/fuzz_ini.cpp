// libFuzzer target over the settings-file reader: any bytes as iniKR.ini (hand-edited, damaged, saved
// by another editor). Beside the sanitizers it checks what the windows rely on: no value read is
// longer than 255 CP932 bytes, and writing back a value that was read changes no value of the file,
// that one included (a value CP932 cannot carry, such as U+FFFD for a damaged byte, reads back as
// CP932 writes it).
#include "cp932.h"
#include "modIniFile.h"
#include "summaryChecks.h"

#include <QFile>
#include <QList>
#include <QTemporaryDir>

using namespace korimo;

namespace {

struct Entry {
    QString section, key;
};

// The section and key names the file mentions, roughly as a profile reader sees them, and a few
// names of the real key table.
QList<Entry> namesIn(const QByteArray& file) {
    QList<Entry> entries{{QStringLiteral("Main"), QStringLiteral("text1")},
                         {QStringLiteral("Trans"), QStringLiteral("combo1")}};
    QString section;
    for (QByteArray line : file.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            section = fromCp932(line.mid(1, close < 0 ? -1 : close - 1).trimmed());
        } else if (const qsizetype eq = line.indexOf('='); eq > 0 && entries.size() < 16) {
            entries.append({section, fromCp932(line.left(eq).trimmed())});
        }
    }
    return entries;
}

QStringList readAll(const IniFile& ini, const QList<Entry>& entries) {
    QStringList values;
    for (const Entry& e : entries) {
        values.append(ini.ReadIniString(e.section, e.key, QStringLiteral("\x01missing")));
        ini.ReadIniInt(e.section, e.key, 0);
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir folder;
    const IniFile ini(folder.path());
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(ini.path());
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
    }
    const QList<Entry> entries = namesIn(bytes);
    QStringList values = readAll(ini, entries);
    for (const QString& v : std::as_const(values))
        FUZZ_CHECK(toCp932(v).size() <= kIniValueMaxBytes);

    // Write back the first two values that were there, one at a time.
    for (qsizetype i = 0, written = 0; i < entries.size() && written < 2; ++i) {
        if (values[i].startsWith(QChar(1)))
            continue;
        ++written;
        FUZZ_CHECK(ini.WriteIniString(entries[i].section, entries[i].key, values[i]));
        const QString value = fromCp932(toCp932(values[i]));
        for (qsizetype j = 0; j < entries.size(); ++j) {
            if (entries[j].section.compare(entries[i].section, Qt::CaseInsensitive) == 0 &&
                entries[j].key.compare(entries[i].key, Qt::CaseInsensitive) == 0)
                values[j] = value;
        }
        FUZZ_CHECK(readAll(ini, entries) == values);
    }
    return 0;
}
