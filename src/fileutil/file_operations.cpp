#include "file_operations.h"

#include <QDir>
#include <QFileInfo>

#include "atomic_file.h"
#include "capped_read.h"
#include "file_hash.h"
#include "native_path.h"
#include "platform.h"
#include "symlink_guard.h"

namespace {

class SystemFileOperations final : public FileOperations {
public:
    bool exists(const QString& path) override {
        return platform::entryExists(nativeFilePath(path));
    }

    qint64 regularFileSize(const QString& path) override {
        return platform::regularFileSize(nativeFilePath(path));
    }

    bool isDirectory(const QString& path) override {
        const QFileInfo info(path);
        return info.isDir() && !info.isSymLink() && !info.isJunction();
    }

    bool hasLinkAlong(const QString& root, const QString& relativePath) override {
        return hasSymbolicLinkAlong(root, relativePath);
    }

    bool makeDirectories(const QString& path) override {
        // Parent first, each created by the layer, so that only the missing ones are made.
        const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        if (QFileInfo(clean).isDir()) {
            return true;
        }
        const QString parent = QFileInfo(clean).path();
        if (parent == clean || !makeDirectories(parent)) {
            return false;
        }
        std::uint32_t error = 0;
        return platform::createDirectory(nativeFilePath(clean), &error) || QFileInfo(clean).isDir();
    }

    bool rename(const QString& from, const QString& to) override {
        std::uint32_t error = 0;
        return platform::renameNoReplace(nativeFilePath(from), nativeFilePath(to), &error);
    }

    bool copy(const QString& from, const QString& to) override {
        std::uint32_t error = 0;
        return platform::copyToNewFile(nativeFilePath(from), nativeFilePath(to), &error);
    }

    bool remove(const QString& path) override {
        std::uint32_t error = 0;
        return platform::deleteFile(nativeFilePath(path), &error);
    }

    bool removeDirectory(const QString& path) override { return QDir().rmdir(path); }

    bool removeTree(const QString& path) override {
        // QDir removes a link it meets as an entry and never descends into it.
        return QDir(path).removeRecursively();
    }

    QByteArray hashSha256(const QString& path, QString& message) override {
        return hashFileSha256(path, message);
    }

    bool readFile(const QString& path, qint64 cap, QByteArray& bytes) override {
        return readFileCapped(path, cap, bytes);
    }

    bool writeFile(const QString& path, const QByteArray& data) override {
        return saveFileAtomically(path, data);
    }

    bool flushDirectory(const QString& path) override {
        std::uint32_t error = 0;
        return platform::flushDirectory(nativeFilePath(path), &error);
    }

    bool syncFileSystem(const QString& path) override {
        std::uint32_t error = 0;
        return platform::syncFileSystem(nativeFilePath(path), &error);
    }
};

}  // namespace

FileOperations& systemFileOperations() {
    static SystemFileOperations operations;
    return operations;
}
