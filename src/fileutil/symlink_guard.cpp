#include "symlink_guard.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "native_path.h"

platform::EntryType entryTypeOf(const QString& path, qint64* size) {
    if (size != nullptr) {
        *size = -1;
    }
    const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (path.contains(QChar(0))) {
        return platform::EntryType::Missing;
    }
    // The top of a volume has no name of its own to look at, and is no link.
    if (info.fileName().isEmpty()) {
        return info.isDir() ? platform::EntryType::Directory : platform::EntryType::Missing;
    }
    platform::Directory parent;
    std::uint32_t error = 0;
    std::int64_t found = -1;
    if (!parent.open(nativeFilePath(info.absolutePath()), &error)) {
        return platform::EntryType::Missing;
    }
    const platform::EntryType type =
        platform::entryTypeAt(parent, nativeName(info.fileName()), &found);
    if (size != nullptr) {
        *size = found;
    }
    return type;
}

bool hasSymbolicLinkAlong(const QString& root, const QString& relativePath) {
    // Such a name cannot be examined, and counts as unsafe.
    if (root.contains(QChar(0)) || relativePath.contains(QChar(0))) {
        return true;
    }
    const QString cleanRoot = QDir::cleanPath(QFileInfo(root).absoluteFilePath());
    if (entryTypeOf(cleanRoot) == platform::EntryType::Link) {
        return true;
    }
    platform::Directory start;
    std::uint32_t error = 0;
    return start.open(nativeFilePath(cleanRoot), &error) &&
           hasLinkBelow(start, relativePath.split(QLatin1Char('/')));
}

bool hasLinkBelow(const platform::Directory& start, const QStringList& components) {
    platform::Directory current;
    std::uint32_t error = 0;
    if (!current.openBelow(start, platform::NativeString(), &error)) {
        return false;
    }
    for (const QString& segment : components) {
        const platform::EntryType type = platform::entryTypeAt(current, nativeName(segment));
        if (type == platform::EntryType::Link) {
            return true;
        }
        platform::Directory next;
        if (type != platform::EntryType::Directory ||
            !next.openBelow(current, nativeName(segment), &error)) {
            // Swapped for a link since it was looked at, or nothing more to examine.
            return type == platform::EntryType::Directory && error == platform::kErrorLinkOnTheWay;
        }
        current = std::move(next);
    }
    return false;
}
