#include "symlink_guard.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {

// A dangling link counts too: whoever planted it can point it anywhere before we write.
bool isLink(const QString& path) {
    const QFileInfo info(path);
    return info.isSymLink() || info.isJunction();
}

}  // namespace

bool hasSymbolicLinkAlong(const QString& root, const QString& relativePath) {
    // Qt refuses to look at a name holding a NUL and would report no link; such a path cannot be
    // checked, so it counts as unsafe.
    if (root.contains(QChar(0)) || relativePath.contains(QChar(0))) {
        return true;
    }
    // Cleaned, because a trailing separator would make the link test look through the link.
    const QString cleanRoot = QDir::cleanPath(root);
    if (isLink(cleanRoot)) {
        return true;
    }
    // Each prefix by appending, not by cleaning again: the root is clean and the segments come
    // from a path that isSafeRelativePath accepted.
    QString current = QFileInfo(cleanRoot).absoluteFilePath();
    if (!current.endsWith(QLatin1Char('/'))) {
        current += QLatin1Char('/');
    }
    const QStringList segments = relativePath.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < segments.size(); ++i) {
        current += segments.at(i);
        if (isLink(current)) {
            return true;
        }
        current += QLatin1Char('/');
    }
    return false;
}
