// The file operations over a file set held in memory, for targets that drive a reader through
// the interface the transactions use. Links are entries of their own that lead outside: a call
// that would change anything outside the root, or go through a link to do it, aborts the run,
// since the real program must never touch anything but the installation.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>

#include "file_operations.h"

class MemoryFileOperations final : public FileOperations {
public:
    explicit MemoryFileOperations(const QString& root) : root_(root) { directories.insert(root); }

    QMap<QString, QByteArray> files;  // by absolute path
    QSet<QString> directories;
    QSet<QString> links;

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
    bool flushDirectory(const QString&) override { return true; }
    bool syncFileSystem(const QString&) override { return true; }
    std::uint32_t lastError() const override { return 0; }

private:
    // Aborts unless `path` is the root or below it with no link on the way to it.
    QString changeable(const QString& path) const;
    bool parentIsDirectory(const QString& path) const;
    // Every entry at `path` or below it.
    QStringList entriesUnder(const QString& path) const;

    QString root_;
};
