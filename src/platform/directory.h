// Directories held open, and the file operations done relative to them. A name below a held
// directory is resolved from its handle, one component at a time, and never through a link (on
// Windows a reparse point whose tag is a name surrogate: a symbolic link, a junction, a mount
// point). A directory on the way that is swapped for a link after it was checked, or while an
// operation runs, cannot carry the operation elsewhere: the operation fails with 1921
// (ERROR_CANT_RESOLVE_FILENAME) instead.
//
// The `name` of every *At function is one component: not empty, no separator, not "." or ".."
// (123 otherwise). Errors are Windows error numbers, as everywhere in this layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform.h"

namespace platform {

constexpr std::uint32_t kErrorDirectoryNotEmpty = 145;
constexpr std::uint32_t kErrorLinkOnTheWay = 1921;

class Directory {
public:
    Directory() = default;
    ~Directory() { close(); }
    Directory(Directory&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
    Directory& operator=(Directory&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            other.handle_ = kClosed;
        }
        return *this;
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // Opens the directory at `path` by name: its ancestors are taken as the system finds them,
    // but `path` itself must be a directory and no link. False with *error set otherwise: 1921
    // for a link, 3 for anything else that is no directory, 2 or 3 when missing.
    bool open(const NativeString& path, std::uint32_t* error);
    // Opens the directory `relative` below `parent`: components separated by '/', none of them
    // a link (1921), each a directory (3), all present (2 for the last, 3 before it). An empty
    // `relative` opens `parent` again.
    bool openBelow(const Directory& parent, const NativeString& relative, std::uint32_t* error);
    bool isOpen() const { return handle_ != kClosed; }
    std::intptr_t native() const { return handle_; }
    void close();

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
};

enum class EntryType { Missing, File, Directory, Link, Other };

// Windows: whether an entry of these file attributes and reparse tag is a link. Only a name
// surrogate is (a symbolic link, a junction, a mount point); any other reparse point (a cloud
// placeholder, a deduplicated or WOF-compressed file, an app execution alias) is an ordinary file
// or directory, and a ".lnk" file is an ordinary file. Compiled on every platform so that it can
// be tested.
bool isLinkReparsePoint(std::uint32_t attributes, std::uint32_t tag);

struct DirectoryEntry {
    NativeString name;
    EntryType type = EntryType::Missing;
    std::int64_t size = -1;  // of a regular file; -1 for anything else
    bool hidden = false;     // POSIX: the name begins with a dot; Windows: the hidden attribute
};

// What stands at `name` in `directory`, the link itself when it is one; `size`, when given,
// receives a regular file's size and -1 for anything else.
EntryType entryTypeAt(const Directory& directory, const NativeString& name,
                      std::int64_t* size = nullptr);

// Every entry of `directory` but "." and "..", in no particular order, each as entryTypeAt
// tells it.
bool listDirectory(const Directory& directory, std::vector<DirectoryEntry>* entries,
                   std::uint32_t* error);

// As createDirectory, renameNoReplace, replaceFile, deleteFile, copyToNewFile and writeNewFile
// of platform.h, relative to held directories.
bool createDirectoryAt(const Directory& directory, const NativeString& name, std::uint32_t* error);
bool renameNoReplaceAt(const Directory& from, const NativeString& fromName, const Directory& to,
                       const NativeString& toName, std::uint32_t* error);
bool replaceFileAt(const Directory& from, const NativeString& fromName, const Directory& to,
                   const NativeString& toName, std::uint32_t* error);
bool deleteFileAt(const Directory& directory, const NativeString& name, std::uint32_t* error);
bool copyToNewFileAt(const Directory& from, const NativeString& fromName, const Directory& to,
                     const NativeString& toName, std::uint32_t* error);
bool writeNewFileAt(const Directory& directory, const NativeString& name, const void* data,
                    std::size_t size, std::uint32_t* error, bool ownerOnly = false);

// Removes the empty directory `name`: 145 when it holds anything, 267 when it is no directory
// (a link to one included).
bool removeDirectoryAt(const Directory& directory, const NativeString& name, std::uint32_t* error);
// Removes `name` and, when it is a directory, everything in it, walking by handles: a link met
// anywhere is removed as an entry, never entered.
bool removeTreeAt(const Directory& directory, const NativeString& name, std::uint32_t* error);

// Opens the regular file `name` for one pass of reading, as SequentialFile::open does.
bool openFileAt(SequentialFile& file, const Directory& directory, const NativeString& name,
                std::uint32_t* error);

// flushDirectory and syncFileSystem of platform.h for a held directory.
bool flushDirectory(const Directory& directory, std::uint32_t* error);
bool syncFileSystem(const Directory& directory, std::uint32_t* error);

}  // namespace platform
