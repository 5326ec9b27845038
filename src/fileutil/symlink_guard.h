#pragma once

#include <QString>

// True when `root`, or any entry on the way from it to `relativePath` (a path that
// isSafeRelativePath accepted), is a symbolic link or junction, whether or not the link's
// target exists: the caller must then refuse. Entries that do not exist yet are passed over, so
// a file about to be created can be guarded. Directories above the root are not examined. A
// root or path holding U+0000 cannot be examined and gives true as well.
// Reflects the disk at the moment of the call.
bool hasSymbolicLinkAlong(const QString& root, const QString& relativePath);
