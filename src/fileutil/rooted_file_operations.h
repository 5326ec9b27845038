#pragma once

#include <QList>
#include <QString>
#include <memory>

#include "file_operations.h"
#include "platform.h"

namespace platform {
class Directory;
}

// The real file operations of one run, confined to the directories the run works in (its
// roots): each root is opened once, when the object is made, and held to the end; every path
// given afterwards must be a root or lie below one, and is resolved from the root's handle one
// component at a time, never through a link. A directory on the way swapped for a link, before
// or during a call, makes the call fail (exists and hasLinkAlong: true for the link, false for
// what lies beyond it) instead of reaching outside; a path below no root fails too. A root
// that is not there yet is held at the nearest existing directory above it; one that cannot be
// opened (a link itself, say) is not held, so that nothing below it is done.
class RootedFileOperations final : public FileOperations {
public:
    explicit RootedFileOperations(const QStringList& roots);
    ~RootedFileOperations() override;
    RootedFileOperations(const RootedFileOperations&) = delete;
    RootedFileOperations& operator=(const RootedFileOperations&) = delete;

    bool exists(const QString& path) override;
    qint64 regularFileSize(const QString& path) override;
    bool isDirectory(const QString& path) override;
    bool hasLinkAlong(const QString& root, const QString& relativePath) override;
    bool makeDirectories(const QString& path) override;
    bool rename(const QString& from, const QString& to) override;
    bool copy(const QString& from, const QString& to) override;
    bool remove(const QString& path) override;
    bool removeDirectory(const QString& path) override;
    bool removeTree(const QString& path) override;
    QByteArray hashSha256(const QString& path, QString& message) override;
    bool readFile(const QString& path, qint64 cap, QByteArray& bytes) override;
    bool writeFile(const QString& path, const QByteArray& data) override;
    bool flushDirectory(const QString& path) override;
    bool syncFileSystem(const QString& path) override;
    std::uint32_t lastError() const override { return lastError_; }

private:
    struct Root;
    struct Located;
    // The held root of `path` and the components below it; false when it lies below none.
    bool locate(const QString& path, Located& located) const;
    // Opens the directory that holds the last component of `located`; false when a component
    // on the way is missing, no directory or a link.
    bool openParent(const Located& located, platform::Directory& parent) const;

    using EntryOperation = bool (*)(const platform::Directory& parent,
                                    const platform::NativeString& name, std::uint32_t* error);
    // `operation` on the last component of `path`, in its held parent; false when the path is a
    // root, lies below none, or its parent cannot be opened.
    bool atEntry(const QString& path, EntryOperation operation);
    // Clears lastError_ for a new call, which fills it in where it fails.
    std::uint32_t& fresh();

    QList<std::shared_ptr<Root>> roots_;
    mutable std::uint32_t lastError_ = 0;
};
