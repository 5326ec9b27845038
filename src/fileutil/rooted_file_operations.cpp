#include "rooted_file_operations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <vector>

#include "atomic_file.h"
#include "capped_read.h"
#include "directory.h"
#include "error_text.h"
#include "file_hash.h"
#include "native_path.h"
#include "symlink_guard.h"

namespace {

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

}  // namespace

struct RootedFileOperations::Root {
    QString path;
    platform::Directory directory;
};

struct RootedFileOperations::Located {
    const Root* root = nullptr;
    QStringList components;  // empty: the root itself
    QString last() const { return components.isEmpty() ? QString() : components.last(); }
};

RootedFileOperations::RootedFileOperations(const QStringList& roots) {
    for (const QString& root : roots) {
        // A root that is not there yet is held at the nearest directory above it that is, and
        // made below it by handles like everything else.
        auto held = std::make_shared<Root>();
        held->path = cleanAbsolute(root);
        std::uint32_t error = 0;
        while (!held->directory.open(nativeFilePath(held->path), &error) &&
               (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) &&
               QFileInfo(held->path).absolutePath() != held->path) {
            held->path = QFileInfo(held->path).absolutePath();
        }
        if (held->directory.isOpen()) {
            roots_.append(held);
        }
    }
}

RootedFileOperations::~RootedFileOperations() = default;

std::uint32_t& RootedFileOperations::fresh() {
    lastError_ = 0;
    return lastError_;
}

bool RootedFileOperations::locate(const QString& path, Located& located) const {
    const QString clean = cleanAbsolute(path);
    located = Located();
    for (const std::shared_ptr<Root>& root : roots_) {
        const bool same = clean.compare(root->path, kFileNameCase) == 0;
        const QString prefix =
            root->path.endsWith(QLatin1Char('/')) ? root->path : root->path + QLatin1Char('/');
        // The deepest root that holds the path decides.
        if ((same || clean.startsWith(prefix, kFileNameCase)) &&
            (located.root == nullptr || root->path.size() > located.root->path.size())) {
            located.root = root.get();
            located.components =
                same ? QStringList() : clean.mid(prefix.size()).split(QLatin1Char('/'));
        }
    }
    return located.root != nullptr;
}

bool RootedFileOperations::openParent(const Located& located, platform::Directory& parent) const {
    const QStringList above = located.components.mid(0, located.components.size() - 1);
    return parent.openBelow(located.root->directory, nativeName(above.join(QLatin1Char('/'))),
                            &lastError_);
}

bool RootedFileOperations::exists(const QString& path) {
    Located at;
    platform::Directory parent;
    return locate(path, at) &&
           (at.components.isEmpty() ||
            (openParent(at, parent) &&
             platform::entryTypeAt(parent, nativeName(at.last())) != platform::EntryType::Missing));
}

qint64 RootedFileOperations::regularFileSize(const QString& path) {
    Located at;
    platform::Directory parent;
    std::int64_t size = -1;
    if (locate(path, at) && !at.components.isEmpty() && openParent(at, parent)) {
        platform::entryTypeAt(parent, nativeName(at.last()), &size);
    }
    return size;
}

bool RootedFileOperations::isDirectory(const QString& path) {
    Located at;
    platform::Directory parent;
    return locate(path, at) &&
           (at.components.isEmpty() ||
            (openParent(at, parent) && platform::entryTypeAt(parent, nativeName(at.last())) ==
                                           platform::EntryType::Directory));
}

bool RootedFileOperations::hasLinkAlong(const QString& root, const QString& relativePath) {
    Located at;
    if (!locate(QDir(root).absoluteFilePath(relativePath), at)) {
        // Not below a root of this run: only its names can be looked at.
        return hasSymbolicLinkAlong(root, relativePath);
    }
    if (relativePath.contains(QChar(0))) {
        return true;
    }
    return hasLinkBelow(at.root->directory, at.components);
}

bool RootedFileOperations::makeDirectories(const QString& path) {
    Located at;
    platform::Directory current;
    std::uint32_t& error = fresh();
    if (!locate(path, at) ||
        !current.openBelow(at.root->directory, platform::NativeString(), &error)) {
        return false;
    }
    for (const QString& component : at.components) {
        const platform::NativeString name = nativeName(component);
        // One made meanwhile by someone else is as good, so long as it is a directory; when
        // there is none, why the creation failed is the error (a scanner's 32 is retried).
        std::uint32_t created = 0;
        if (platform::entryTypeAt(current, name) == platform::EntryType::Missing) {
            platform::createDirectoryAt(current, name, &created);
        }
        platform::Directory next;
        if (!next.openBelow(current, name, &error)) {
            if (created != 0 &&
                platform::entryTypeAt(current, name) == platform::EntryType::Missing) {
                error = created;
            }
            return false;
        }
        current = std::move(next);
    }
    return true;
}

bool RootedFileOperations::rename(const QString& from, const QString& to) {
    Located source;
    Located target;
    platform::Directory sourceParent;
    platform::Directory targetParent;
    std::uint32_t& error = fresh();
    return locate(from, source) && locate(to, target) && !source.components.isEmpty() &&
           !target.components.isEmpty() && openParent(source, sourceParent) &&
           openParent(target, targetParent) &&
           platform::renameNoReplaceAt(sourceParent, nativeName(source.last()), targetParent,
                                       nativeName(target.last()), &error);
}

bool RootedFileOperations::copy(const QString& from, const QString& to) {
    Located source;
    Located target;
    platform::Directory sourceParent;
    platform::Directory targetParent;
    std::uint32_t& error = fresh();
    return locate(from, source) && locate(to, target) && !source.components.isEmpty() &&
           !target.components.isEmpty() && openParent(source, sourceParent) &&
           openParent(target, targetParent) &&
           platform::copyToNewFileAt(sourceParent, nativeName(source.last()), targetParent,
                                     nativeName(target.last()), &error);
}

bool RootedFileOperations::atEntry(const QString& path, EntryOperation operation) {
    Located at;
    platform::Directory parent;
    std::uint32_t& error = fresh();
    return locate(path, at) && !at.components.isEmpty() && openParent(at, parent) &&
           operation(parent, nativeName(at.last()), &error);
}

bool RootedFileOperations::remove(const QString& path) {
    return atEntry(path, platform::deleteFileAt);
}

bool RootedFileOperations::removeDirectory(const QString& path) {
    return atEntry(path, platform::removeDirectoryAt);
}

bool RootedFileOperations::removeTree(const QString& path) {
    return atEntry(path, [](const platform::Directory& parent, const platform::NativeString& name,
                            std::uint32_t* error) {
        return platform::removeTreeAt(parent, name, error) ||
               *error == platform::kErrorFileNotFound;
    });
}

QByteArray RootedFileOperations::hashSha256(const QString& path, QString& message) {
    Located at;
    platform::Directory parent;
    platform::SequentialFile file;
    std::uint32_t error = platform::kErrorPathNotFound;
    if (!locate(path, at) || at.components.isEmpty() || !openParent(at, parent) ||
        !platform::openFileAt(file, parent, nativeName(at.last()), &error)) {
        message = windowsErrorText("Could not open", path, error);
        return {};
    }
    return hashOpenFileSha256(file, path, message);
}

bool RootedFileOperations::readFile(const QString& path, qint64 cap, QByteArray& bytes) {
    Located at;
    platform::Directory parent;
    platform::SequentialFile file;
    std::int64_t size = -1;
    std::uint32_t error = 0;
    return locate(path, at) && !at.components.isEmpty() && openParent(at, parent) &&
           platform::entryTypeAt(parent, nativeName(at.last()), &size) ==
               platform::EntryType::File &&
           platform::openFileAt(file, parent, nativeName(at.last()), &error) &&
           readOpenFileCapped(file, size, cap, bytes);
}

bool RootedFileOperations::writeFile(const QString& path, const QByteArray& data) {
    Located at;
    platform::Directory parent;
    std::uint32_t& error = fresh();
    if (!locate(path, at) || at.components.isEmpty() || !openParent(at, parent)) {
        return false;
    }
    // As saveFileAtomically does by name: stale temporaries of this name go, the new content is
    // durable under a fresh name before it replaces the old, and the new name is flushed.
    const QString name = at.last();
    std::vector<platform::DirectoryEntry> entries;
    if (platform::listDirectory(parent, &entries, &error)) {
        for (const platform::DirectoryEntry& entry : entries) {
#ifdef Q_OS_WIN
            const QString entryName = QString::fromStdWString(entry.name);
#else
            const QString entryName = QFile::decodeName(entry.name.c_str());
#endif
            if (isTemporaryOf(entryName, name)) {
                std::uint32_t ignored = 0;
                platform::deleteFileAt(parent, entry.name, &ignored);
            }
        }
    }
    const platform::NativeString temporary = nativeName(temporaryNameFor(name));
    if (!platform::writeNewFileAt(parent, temporary, data.constData(),
                                  static_cast<std::size_t>(data.size()), &error)) {
        return false;
    }
    if (!platform::replaceFileAt(parent, temporary, parent, nativeName(name), &error)) {
        std::uint32_t ignored = 0;
        platform::deleteFileAt(parent, temporary, &ignored);
        return false;
    }
    return platform::flushDirectory(parent, &error);
}

bool RootedFileOperations::flushDirectory(const QString& path) {
    Located at;
    platform::Directory directory;
    std::uint32_t& error = fresh();
    return locate(path, at) &&
           directory.openBelow(at.root->directory, nativeName(at.components.join(QLatin1Char('/'))),
                               &error) &&
           platform::flushDirectory(directory, &error);
}

bool RootedFileOperations::syncFileSystem(const QString& path) {
    Located at;
    platform::Directory directory;
    std::uint32_t& error = fresh();
    return locate(path, at) &&
           directory.openBelow(at.root->directory, nativeName(at.components.join(QLatin1Char('/'))),
                               &error) &&
           platform::syncFileSystem(directory, &error);
}
