// Existence test for a path as the user wrote it: 1 when something is there, else 0.
#pragma once

#include <QString>

namespace korimo {

// A file, folder or link (even a dangling one) at the path gives 1; so does a pattern with '*' or
// '?' that matches at least one entry. The empty text gives 0.
int FileExists(const QString& path);

} // namespace korimo
