#include "file_operations.h"

#include <QDir>
#include <QFileInfo>

#include "atomic_file.h"
#include "capped_read.h"
#include "directory.h"
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
        return entryTypeOf(path) == platform::EntryType::Directory;
    }

    bool hasLinkAlong(const QString& root, const QString& relativePath) override {
        return hasSymbolicLinkAlong(root, relativePath);
    }

    bool makeDirectories(const QString& path) override {
        // Parent first, each created by the layer, so that only the missing ones are made.
        const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        fresh();
        if (QFileInfo(clean).isDir()) {
            return true;
        }
        const QString parent = QFileInfo(clean).path();
        if (parent == clean || !makeDirectories(parent)) {
            return false;
        }
        std::uint32_t& error = lastError_;
        return platform::createDirectory(nativeFilePath(clean), &error) || QFileInfo(clean).isDir();
    }

    bool rename(const QString& from, const QString& to) override {
        std::uint32_t& error = fresh();
        return platform::renameNoReplace(nativeFilePath(from), nativeFilePath(to), &error);
    }

    bool copy(const QString& from, const QString& to) override {
        std::uint32_t& error = fresh();
        return platform::copyToNewFile(nativeFilePath(from), nativeFilePath(to), &error);
    }

    bool remove(const QString& path) override {
        std::uint32_t& error = fresh();
        return platform::deleteFile(nativeFilePath(path), &error);
    }

    bool removeDirectory(const QString& path) override {
        platform::Directory parent;
        std::uint32_t& error = fresh();
        const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
        return parent.open(nativeFilePath(info.absolutePath()), &error) &&
               platform::removeDirectoryAt(parent, nativeName(info.fileName()), &error);
    }

    bool removeTree(const QString& path) override {
        // By handles from its directory on: a link met anywhere goes as an entry, never entered.
        platform::Directory parent;
        std::uint32_t& error = fresh();
        const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
        return (parent.open(nativeFilePath(info.absolutePath()), &error) &&
                platform::removeTreeAt(parent, nativeName(info.fileName()), &error)) ||
               error == platform::kErrorFileNotFound;
    }

    QByteArray hashSha256(const QString& path, QString& message) override {
        return hashFileSha256(path, message);
    }

    bool readFile(const QString& path, qint64 cap, QByteArray& bytes) override {
        return readFileCapped(path, cap, bytes);
    }

    bool writeFile(const QString& path, const QByteArray& data) override {
        fresh();
        return saveFileAtomically(path, data);
    }

    bool flushDirectory(const QString& path) override {
        std::uint32_t& error = fresh();
        return platform::flushDirectory(nativeFilePath(path), &error);
    }

    bool syncFileSystem(const QString& path) override {
        std::uint32_t& error = fresh();
        return platform::syncFileSystem(nativeFilePath(path), &error);
    }

    std::uint32_t lastError() const override { return lastError_; }

private:
    std::uint32_t& fresh() {
        lastError_ = 0;
        return lastError_;
    }

    std::uint32_t lastError_ = 0;
};

}  // namespace

FileOperations& systemFileOperations() {
    static SystemFileOperations operations;
    return operations;
}
