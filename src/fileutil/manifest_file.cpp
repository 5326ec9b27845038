#include "manifest_file.h"

#include "path_rules.h"

bool readManifestFile(const QJsonObject& element, ManifestFile& file) {
    file.path = element.value(QStringLiteral("path")).toString();
    file.size = element.value(QStringLiteral("size")).toInteger(-1);
    const QString digest = element.value(QStringLiteral("sha256")).toString();
    file.sha256 = QByteArray::fromHex(digest.toLatin1());
    // Re-encoding catches upper case and any character that fromHex skipped (a pattern ending in
    // "$" would also let a trailing line break through).
    return isSafeRelativePath(file.path) && file.size >= 0 && digest.size() == 64 &&
           file.sha256.size() == 32 && QString::fromLatin1(file.sha256.toHex()) == digest;
}
