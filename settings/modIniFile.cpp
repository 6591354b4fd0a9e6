#include "modIniFile.h"

#include "cp932.h"

#include <QFile>
#include <QSaveFile>
#include <limits>
#include <optional>
#include <vector>

namespace korimo {
namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");

QByteArray trimmed(QByteArrayView v) {
    qsizetype b = 0, e = v.size();
    while (b < e && (v[b] == ' ' || v[b] == '\t'))
        ++b;
    while (e > b && (v[e - 1] == ' ' || v[e - 1] == '\t'))
        --e;
    return v.sliced(b, e - b).toByteArray();
}

bool sameName(QByteArrayView a, QStringView b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char16_t x = static_cast<unsigned char>(a[i]);
        const char16_t y = b[i].unicode();
        const auto lower = [](char16_t c) {
            return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
        };
        if (lower(x) != lower(y))
            return false;
    }
    return true;
}

// The file split into lines, each without its line end. CR LF, lone CR and lone LF all end a line.
// A UTF-8 byte-order mark means an editor saved the file as UTF-8: it is converted to CP932 first.
std::vector<QByteArray> splitLines(QByteArray data) {
    if (data.startsWith(kUtf8Bom))
        data = toCp932(QString::fromUtf8(data.sliced(kUtf8Bom.size())));
    std::vector<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = data.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = data.at(i);
        if (c == '\r' || c == '\n') {
            lines.push_back(data.sliced(start, i - start));
            if (c == '\r' && i + 1 < n && data.at(i + 1) == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.push_back(data.sliced(start));
    return lines;
}

std::optional<QByteArray> sectionName(const QByteArray& line) {
    const QByteArray t = trimmed(line);
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    return trimmed(QByteArrayView(t).sliced(1, (close < 0 ? t.size() : close) - 1));
}

struct KeyLine {
    QByteArray key;
    QByteArray value;
};

std::optional<KeyLine> keyLine(const QByteArray& line) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    KeyLine kl{trimmed(QByteArrayView(line).first(eq)), trimmed(QByteArrayView(line).sliced(eq + 1))};
    if (kl.key.isEmpty() || kl.key.startsWith(';'))
        return std::nullopt;
    return kl;
}

std::optional<QByteArray> readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

// The raw value of the first matching key of the first matching section.
std::optional<QByteArray> lookup(const QString& path, QStringView section, QStringView key) {
    const auto data = readFile(path);
    if (!data)
        return std::nullopt;
    bool inSection = false;
    for (const QByteArray& line : splitLines(*data)) {
        if (const auto name = sectionName(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (const auto kl = keyLine(line); kl && sameName(kl->key, key))
            return kl->value;
    }
    return std::nullopt;
}

} // namespace

QString IniFilePath(const QString& programFolder) {
    QString path = programFolder;
    if (!path.endsWith(u'/'))
        path += u'/';
    return path + QStringLiteral("iniKR.ini");
}

IniFile::IniFile(QString programFolder) : folder_(std::move(programFolder)) {}

qint32 IniFile::ReadIniInt(QStringView section, QStringView key, qint32 def) const {
    const auto raw = lookup(path(), section, key);
    if (!raw)
        return def;
    QByteArrayView v(*raw);
    bool negative = false;
    if (!v.isEmpty() && (v[0] == '-' || v[0] == '+')) {
        negative = v[0] == '-';
        v = v.sliced(1);
    }
    if (v.isEmpty() || v[0] < '0' || v[0] > '9')
        return def;
    qint64 n = 0;
    for (qsizetype i = 0; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > qint64(std::numeric_limits<qint32>::max()) + 1)
            break;
    }
    n = negative ? -n : n;
    if (n > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (n < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(n);
}

QString IniFile::ReadIniString(QStringView section, QStringView key, const QString& def) const {
    const auto raw = lookup(path(), section, key);
    if (!raw)
        return fromCp932(truncateCp932(toCp932(def), kIniValueMaxBytes));
    QByteArray value = *raw;
    // The value ends at a NUL byte, as the text a fixed buffer hands back would; without the blanks
    // before it, which a value written back could not keep.
    if (const qsizetype nul = value.indexOf('\0'); nul >= 0)
        value = trimmed(QByteArrayView(value).first(nul));
    return fromCp932(truncateCp932(value, kIniValueMaxBytes));
}

bool IniFile::WriteIniString(QStringView section, QStringView key, const QString& value) const {
    QString clean = value;
    clean.remove(u'\r').remove(u'\n').remove(QChar(u'\0'));
    const QByteArray keyBytes = toCp932(key.toString());
    const QByteArray newLine = keyBytes + '=' + toCp932(clean);

    std::vector<QByteArray> lines;
    if (const auto data = readFile(path()))
        lines = splitLines(*data);

    // Find the section and, inside it, the key or the place after its last key line.
    std::optional<size_t> sectionAt;
    std::optional<size_t> keyAt;
    size_t insertAt = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionName(lines[i])) {
            if (sectionAt)
                break;
            if (sameName(*name, section)) {
                sectionAt = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (!sectionAt)
            continue;
        if (!trimmed(lines[i]).isEmpty())
            insertAt = i + 1;
        if (const auto kl = keyLine(lines[i]); kl && sameName(kl->key, key)) {
            keyAt = i;
            break;
        }
    }
    if (keyAt) {
        lines[*keyAt] = newLine;
    } else if (sectionAt) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
    } else {
        lines.push_back('[' + toCp932(section.toString()) + ']');
        lines.push_back(newLine);
    }

    QByteArray out;
    for (const QByteArray& line : lines)
        out += line + "\r\n";

    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(out) != out.size())
        return false;
    return file.commit();
}

qint16 narrowToInt16(qint32 value) {
    if (value > std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    if (value < std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    return static_cast<qint16>(value);
}

} // namespace korimo
