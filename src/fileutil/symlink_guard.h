#pragma once

#include <QString>
#include <QStringList>

#include "directory.h"

// True when `root`, or any entry on the way from it to `relativePath` (a path that
// isSafeRelativePath accepted), is a link (a symbolic link; on Windows any name surrogate, such
// as a junction or a mount point, but never a ".lnk" file), whether or not the link's target
// exists: the caller must then refuse. Entries that do not exist yet are passed over, so a file
// about to be created can be guarded. Directories above the root are not examined. A root or
// path holding U+0000 cannot be examined and gives true as well. Reflects the disk at the moment
// of the call.
bool hasSymbolicLinkAlong(const QString& root, const QString& relativePath);

// The same below a directory already held: true when an entry of `components` (in order, each
// in the one before) is a link, or turns into one as it is entered.
bool hasLinkBelow(const platform::Directory& start, const QStringList& components);

// What stands at `path` itself, a link as the link (its directory opened by name, the last name
// looked at from there); `size`, when given, receives a regular file's size and -1 otherwise.
platform::EntryType entryTypeOf(const QString& path, qint64* size = nullptr);
