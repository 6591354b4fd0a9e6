// Saving attachments: the name a message suggests is reduced to a safe base name, and the file is
// created inside the chosen folder only, never over an existing file and never through a symlink.
#pragma once

#include <QByteArray>
#include <QString>

namespace korimo {

// The longest file name we create, in bytes of its UTF-8 form (the limit of Linux file systems).
inline constexpr qsizetype kMaxFileNameBytes = 255;

// Reduces a suggested attachment name (already decoded from RFC 2047/2231) to a base name: directory
// parts (both '/' and '\') dropped, control, bidi and invisible format characters removed, leading
// dots, dashes and colons (nothing a command would take for an option, nor Qt for a resource) and
// surrounding blanks trimmed, cut to kMaxFileNameBytes keeping the extension. Returns "" when nothing
// usable is left.
QString safeFileName(const QString& suggested);

// The name tried after `name` is taken: "a.txt" -> "a (n).txt", still within kMaxFileNameBytes.
QString numberedFileName(const QString& name, int n);

// A folder opened once; every file is created relative to it, so replacing the folder or planting a
// symlink inside it cannot redirect a write.
class AttachmentFolder {
public:
    explicit AttachmentFolder(const QString& path);
    ~AttachmentFolder();
    AttachmentFolder(const AttachmentFolder&) = delete;
    AttachmentFolder& operator=(const AttachmentFolder&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    QString error() const { return error_; }

    // Creates a new file holding data under `name` (already safe), or under "name (2)", "name (3)", ...
    // when that is taken. The bytes are written to a hidden temporary file first and given their
    // final name only when complete. Returns the name used, or "" on failure (see error()).
    QString saveNew(const QString& name, const QByteArray& data);

private:
    int fd_ = -1;
    QString error_;
};

} // namespace korimo
