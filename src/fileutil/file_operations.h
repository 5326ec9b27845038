#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// The file operations of the repair and update transactions, and nothing else: the transaction
// code sees only this interface, so that a test can put one in its place that fails the k-th
// call of a kind on purpose (see FileOperationsWrapper), and the real one can later move to
// handle-relative calls without the transactions noticing.
//
// Paths are absolute, with either kind of separator. No operation follows a symbolic link at the
// name it creates, removes or renames, and none replaces an entry that stands where it creates
// one. Each mutating call reports whether it worked, and lastError() then says why not: the
// transactions word their own failures.
class FileOperations {
public:
    // The kinds a test can make fail, one counter each.
    enum class Kind { MakeDirectory, Rename, Copy, Remove, Hash, WriteFile, Flush };
    static constexpr int kKindCount = 7;

    virtual ~FileOperations() = default;

    // Anything at `path`, a dangling link included.
    virtual bool exists(const QString& path) = 0;
    // The size of the regular file at `path`, without following a link; -1 for anything else.
    virtual qint64 regularFileSize(const QString& path) = 0;
    // A directory at `path` itself, not a link to one.
    virtual bool isDirectory(const QString& path) = 0;
    // hasSymbolicLinkAlong: a link at `root` or on the way from it to `relativePath`.
    virtual bool hasLinkAlong(const QString& root, const QString& relativePath) = 0;

    // Creates the directory and any missing parents; true when it exists as a directory after.
    virtual bool makeDirectories(const QString& path) = 0;
    // Renames `from` to `to`; fails when anything stands at `to`.
    virtual bool rename(const QString& from, const QString& to) = 0;
    // Copies the regular file `from` to a new file `to`; fails when anything stands at `to`.
    virtual bool copy(const QString& from, const QString& to) = 0;
    // Removes the file, or the link itself, at `path`.
    virtual bool remove(const QString& path) = 0;
    // Removes the directory at `path` if it is empty.
    virtual bool removeDirectory(const QString& path) = 0;
    // Removes the directory at `path` and everything in it, by handles; links inside are
    // removed, not followed. True when nothing stands there.
    virtual bool removeTree(const QString& path) = 0;
    // hashFileSha256: 32 bytes, or empty with `message` set.
    virtual QByteArray hashSha256(const QString& path, QString& message) = 0;
    // readFileCapped: the whole regular file of 1 to `cap` bytes, never through a link.
    virtual bool readFile(const QString& path, qint64 cap, QByteArray& bytes) = 0;
    // saveFileAtomically: the old or the new content, durably, never through a link.
    virtual bool writeFile(const QString& path, const QByteArray& data) = 0;
    // Makes the names in directory `path` durable.
    virtual bool flushDirectory(const QString& path) = 0;
    // Makes everything written so far to the file system of directory `path` durable.
    virtual bool syncFileSystem(const QString& path) = 0;

    // Right after a mutating call above (makeDirectories to syncFileSystem) returned false: the
    // Windows error that made it fail, or 0 when there was none (a path below no root, say).
    virtual std::uint32_t lastError() const = 0;
};

// The real operations, over the OS layer.
FileOperations& systemFileOperations();

// Hands every call on to another FileOperations; derive from it to change a few of them.
class FileOperationsWrapper : public FileOperations {
public:
    explicit FileOperationsWrapper(FileOperations& target) : target_(target) {}

    bool exists(const QString& path) override { return target_.exists(path); }
    qint64 regularFileSize(const QString& path) override { return target_.regularFileSize(path); }
    bool isDirectory(const QString& path) override { return target_.isDirectory(path); }
    bool hasLinkAlong(const QString& root, const QString& relativePath) override {
        return target_.hasLinkAlong(root, relativePath);
    }
    bool makeDirectories(const QString& path) override { return target_.makeDirectories(path); }
    bool rename(const QString& from, const QString& to) override {
        return target_.rename(from, to);
    }
    bool copy(const QString& from, const QString& to) override { return target_.copy(from, to); }
    bool remove(const QString& path) override { return target_.remove(path); }
    bool removeDirectory(const QString& path) override { return target_.removeDirectory(path); }
    bool removeTree(const QString& path) override { return target_.removeTree(path); }
    QByteArray hashSha256(const QString& path, QString& message) override {
        return target_.hashSha256(path, message);
    }
    bool readFile(const QString& path, qint64 cap, QByteArray& bytes) override {
        return target_.readFile(path, cap, bytes);
    }
    bool writeFile(const QString& path, const QByteArray& data) override {
        return target_.writeFile(path, data);
    }
    bool flushDirectory(const QString& path) override { return target_.flushDirectory(path); }
    bool syncFileSystem(const QString& path) override { return target_.syncFileSystem(path); }
    std::uint32_t lastError() const override { return target_.lastError(); }

private:
    FileOperations& target_;
};
