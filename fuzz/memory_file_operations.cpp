#include "memory_file_operations.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

namespace {

QString parentOf(const QString& path) {
    return QFileInfo(path).path();
}

bool isUnder(const QString& path, const QString& directory) {
    return path.startsWith(directory + QLatin1Char('/'));
}

}  // namespace

QString MemoryFileOperations::changeable(const QString& path) const {
    const QString clean = QDir::cleanPath(path);
    bool escapes = clean != root_ && !isUnder(clean, root_);
    for (const QString& link : links) {
        escapes = escapes || isUnder(clean, link);
    }
    if (escapes) {
        std::fprintf(stderr, "changed outside the installation: %s\n", qPrintable(path));
        std::abort();
    }
    return clean;
}

bool MemoryFileOperations::parentIsDirectory(const QString& path) const {
    return directories.contains(parentOf(path));
}

QStringList MemoryFileOperations::entriesUnder(const QString& path) const {
    QStringList entries;
    for (const QString& entry : files.keys() + directories.values() + links.values()) {
        if (entry == path || isUnder(entry, path)) {
            entries.append(entry);
        }
    }
    return entries;
}

bool MemoryFileOperations::exists(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    return files.contains(clean) || directories.contains(clean) || links.contains(clean);
}

qint64 MemoryFileOperations::regularFileSize(const QString& path) {
    const auto file = files.constFind(QDir::cleanPath(path));
    return file == files.cend() ? -1 : file->size();
}

bool MemoryFileOperations::isDirectory(const QString& path) {
    return directories.contains(QDir::cleanPath(path));
}

bool MemoryFileOperations::hasLinkAlong(const QString& root, const QString& relativePath) {
    QString current = QDir::cleanPath(root);
    if (links.contains(current)) {
        return true;
    }
    for (const QString& segment : relativePath.split(QLatin1Char('/'))) {
        current += QLatin1Char('/') + segment;
        if (links.contains(current)) {
            return true;
        }
    }
    return false;
}

bool MemoryFileOperations::makeDirectories(const QString& path) {
    const QString clean = changeable(path);
    if (directories.contains(clean)) {
        return true;
    }
    if (exists(clean) || clean == root_ || !makeDirectories(parentOf(clean))) {
        return false;
    }
    directories.insert(clean);
    return true;
}

bool MemoryFileOperations::rename(const QString& from, const QString& to) {
    const QString source = changeable(from);
    const QString target = changeable(to);
    if (!exists(source) || exists(target) || !parentIsDirectory(target) || source == root_ ||
        isUnder(target, source)) {
        return false;
    }
    for (const QString& entry : entriesUnder(source)) {
        const QString moved = target + entry.mid(source.size());
        if (files.contains(entry)) {
            files.insert(moved, files.take(entry));
        } else if (directories.remove(entry)) {
            directories.insert(moved);
        } else if (links.remove(entry)) {
            links.insert(moved);
        }
    }
    return true;
}

bool MemoryFileOperations::copy(const QString& from, const QString& to) {
    const QString source = QDir::cleanPath(from);
    const QString target = changeable(to);
    if (!files.contains(source) || exists(target) || !parentIsDirectory(target)) {
        return false;
    }
    files.insert(target, files.value(source));
    return true;
}

bool MemoryFileOperations::remove(const QString& path) {
    const QString clean = changeable(path);
    return files.remove(clean) > 0 || links.remove(clean);
}

bool MemoryFileOperations::removeDirectory(const QString& path) {
    const QString clean = changeable(path);
    return clean != root_ && entriesUnder(clean) == QStringList{clean} && directories.remove(clean);
}

bool MemoryFileOperations::removeTree(const QString& path) {
    const QString clean = changeable(path);
    if (clean == root_) {
        return false;
    }
    for (const QString& entry : entriesUnder(clean)) {
        files.remove(entry);
        directories.remove(entry);
        links.remove(entry);
    }
    return true;
}

QByteArray MemoryFileOperations::hashSha256(const QString& path, QString& message) {
    const auto file = files.constFind(QDir::cleanPath(path));
    if (file == files.cend()) {
        message = QStringLiteral("not a file");
        return {};
    }
    return QCryptographicHash::hash(*file, QCryptographicHash::Sha256);
}

bool MemoryFileOperations::readFile(const QString& path, qint64 cap, QByteArray& bytes) {
    const auto file = files.constFind(QDir::cleanPath(path));
    if (file == files.cend() || file->isEmpty() || file->size() > cap) {
        return false;
    }
    bytes = *file;
    return true;
}

bool MemoryFileOperations::writeFile(const QString& path, const QByteArray& data) {
    const QString clean = changeable(path);
    if (directories.contains(clean) || links.contains(clean) || !parentIsDirectory(clean)) {
        return false;
    }
    files.insert(clean, data);
    return true;
}
