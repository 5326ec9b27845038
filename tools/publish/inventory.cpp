#include "inventory.h"

#include <QDir>

#include "console.h"
#include "file_hash.h"
#include "symlink_guard.h"

bool hashTreeFiles(const QString& root, const QList<TreeEntry>& entries, QList<ManifestFile>& files,
                   QString& message) {
    qsizetype count = 0;
    for (const TreeEntry& entry : entries) {
        count += entry.directory ? 0 : 1;
    }
    Progress progress(QStringLiteral("hashing %1").arg(QDir::toNativeSeparators(root)), count);
    QList<ManifestFile> hashed;
    for (const TreeEntry& entry : entries) {
        if (entry.directory) {
            continue;
        }
        ManifestFile file;
        file.path = entry.path;
        file.size = entry.size;
        const QString path = QDir(root).filePath(entry.path);
        file.sha256 = hashFileSha256(path, message);
        if (file.sha256.isEmpty()) {
            return false;
        }
        // The digest must describe the size written beside it (the entry itself: Qt would
        // measure a shortcut's target).
        qint64 size = -1;
        if (entryTypeOf(path, &size) != platform::EntryType::File || size != entry.size) {
            message =
                QStringLiteral("%1 changed while it was read.").arg(displayPath(root, entry.path));
            return false;
        }
        hashed.append(file);
        progress.advance(file.size);
    }
    files = hashed;
    return true;
}

QJsonObject manifestFileJson(const ManifestFile& file) {
    QJsonObject element;
    element.insert(QLatin1String("path"), file.path);
    element.insert(QLatin1String("size"), file.size);
    element.insert(QLatin1String("sha256"), QString::fromLatin1(file.sha256.toHex()));
    return element;
}
