// Held directories on POSIX: a descriptor per directory, openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS where the kernel has it, otherwise a walk with O_NOFOLLOW | O_DIRECTORY
// one component at a time; every operation then works relative to the held parent with O_NOFOLLOW
// (or the *at calls' equivalent) on its last component.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

#include "directory.h"
#include "posix_io.h"
#include "usable_path.h"

namespace platform {

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int fdOf(const Directory& directory) {
    return static_cast<int>(directory.native());
}

bool usableName(const NativeString& name, std::uint32_t* error) {
    if (!usablePath(name, error) || name == "." || name == ".." ||
        name.find('/') != NativeString::npos) {
        *error = kErrorInvalidName;
        return false;
    }
    return true;
}

// The Windows error for a failed open of directory `name` in `parent`. With O_NOFOLLOW and
// O_DIRECTORY a link fails as "not a directory", so what stands there decides: a link is 1921,
// anything else that is no directory 3.
std::uint32_t componentError(int parent, const char* name, int errnoValue, bool last) {
    struct stat st;
    if ((errnoValue == ENOTDIR || errnoValue == ELOOP) &&
        ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        return kErrorLinkOnTheWay;
    }
    if (errnoValue == ENOENT) {
        return last ? kErrorFileNotFound : kErrorPathNotFound;
    }
    return windowsErrorFromErrno(errnoValue);
}

// One component at a time: each must be a directory, opened without following a link.
int walkBelow(int parent, const NativeString& relative, std::uint32_t* error) {
    int current = ::fcntl(parent, F_DUPFD_CLOEXEC, 0);
    if (current < 0) {
        *error = windowsErrorFromErrno(errno);
        return -1;
    }
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t slash = relative.find('/', start);
        if (slash == NativeString::npos) {
            slash = relative.size();
        }
        const NativeString name = relative.substr(start, slash - start);
        start = slash + 1;
        if (!usableName(name, error)) {
            ::close(current);
            return -1;
        }
        const int next = ::openat(current, name.c_str(), kDirectoryFlags);
        if (next < 0) {
            *error = componentError(current, name.c_str(), errno, start >= relative.size());
        }
        ::close(current);
        if (next < 0) {
            return -1;
        }
        current = next;
    }
    return current;
}

// The kernel's own walk: one call, and a link anywhere below `parent` is refused outright.
// -1 when it is not there or refused the call; the caller then walks, which also words the
// error exactly.
int openat2Below(int parent, const NativeString& relative) {
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
    open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = kDirectoryFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, parent, relative.c_str(), &how, sizeof how));
#else
    (void)parent;
    (void)relative;
    return -1;
#endif
}

EntryType typeOf(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        return EntryType::Link;
    }
    if (S_ISDIR(st.st_mode)) {
        return EntryType::Directory;
    }
    return S_ISREG(st.st_mode) ? EntryType::File : EntryType::Other;
}

bool fail(std::uint32_t* error) {
    *error = windowsErrorFromErrno(errno);
    return false;
}

// Removes everything in the open directory `fd`, then closes it.
bool emptyTree(int fd, std::uint32_t* error);

bool removeEntry(int parent, const char* name, std::uint32_t* error) {
    struct stat st;
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return fail(error);
    }
    if (S_ISDIR(st.st_mode)) {
        const int child = ::openat(parent, name, kDirectoryFlags);
        if (child < 0 || !emptyTree(child, error)) {
            return child < 0 ? fail(error) : false;
        }
        return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 || fail(error);
    }
    return ::unlinkat(parent, name, 0) == 0 || fail(error);
}

bool emptyTree(int fd, std::uint32_t* error) {
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
        ::close(fd);
        return fail(error);
    }
    bool ok = true;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            ok = removeEntry(::dirfd(listing), entry->d_name, error) && ok;
        }
    }
    ::closedir(listing);
    return ok;
}

}  // namespace

void Directory::close() {
    if (handle_ != kClosed) {
        ::close(static_cast<int>(handle_));
        handle_ = kClosed;
    }
}

bool Directory::open(const NativeString& path, std::uint32_t* error) {
    close();
    if (!usablePath(path, error)) {
        return false;
    }
    // A trailing separator would make the open look through a link at the name.
    NativeString clean = path;
    while (clean.size() > 1 && clean.back() == '/') {
        clean.pop_back();
    }
    const int fd = ::open(clean.c_str(), kDirectoryFlags);
    if (fd < 0) {
        *error = componentError(AT_FDCWD, clean.c_str(), errno, true);
        return false;
    }
    handle_ = fd;
    return true;
}

bool Directory::openBelow(const Directory& parent, const NativeString& relative,
                          std::uint32_t* error) {
    close();
    int fd = relative.empty() ? -1 : openat2Below(fdOf(parent), relative);
    if (fd < 0) {
        fd = walkBelow(fdOf(parent), relative, error);
    }
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

EntryType entryTypeAt(const Directory& directory, const NativeString& name, std::int64_t* size) {
    std::uint32_t error = 0;
    struct stat st;
    if (size != nullptr) {
        *size = -1;
    }
    if (!usableName(name, &error) ||
        ::fstatat(fdOf(directory), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return EntryType::Missing;
    }
    const EntryType type = typeOf(st);
    if (size != nullptr && type == EntryType::File) {
        *size = static_cast<std::int64_t>(st.st_size);
    }
    return type;
}

bool listDirectory(const Directory& directory, std::vector<DirectoryEntry>* entries,
                   std::uint32_t* error) {
    // A descriptor of its own: a duplicate would share, and move, the held one's position.
    const int fd = ::openat(fdOf(directory), ".", kDirectoryFlags);
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return fail(error);
    }
    entries->clear();
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            DirectoryEntry found;
            found.name = entry->d_name;
            found.type = entryTypeAt(directory, found.name, &found.size);
            found.hidden = found.name[0] == '.';
            entries->push_back(found);
        }
        errno = 0;
    }
    const int failure = errno;
    ::closedir(listing);
    if (failure != 0) {
        *error = windowsErrorFromErrno(failure);
        return false;
    }
    return true;
}

bool createDirectoryAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    return usableName(name, error) &&
           (::mkdirat(fdOf(directory), name.c_str(), 0755) == 0 || fail(error));
}

bool renameNoReplaceAt(const Directory& from, const NativeString& fromName, const Directory& to,
                       const NativeString& toName, std::uint32_t* error) {
    if (!usableName(fromName, error) || !usableName(toName, error)) {
        return false;
    }
    if (::renameat2(fdOf(from), fromName.c_str(), fdOf(to), toName.c_str(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return fail(error);
    }
    // A file system without RENAME_NOREPLACE: a hard link is just as exclusive for files.
    if (::linkat(fdOf(from), fromName.c_str(), fdOf(to), toName.c_str(), 0) != 0) {
        return fail(error);
    }
    ::unlinkat(fdOf(from), fromName.c_str(), 0);
    return true;
}

bool replaceFileAt(const Directory& from, const NativeString& fromName, const Directory& to,
                   const NativeString& toName, std::uint32_t* error) {
    if (!usableName(fromName, error) || !usableName(toName, error)) {
        return false;
    }
    // Never onto a directory: renameat would replace an empty one.
    if (entryTypeAt(to, toName) == EntryType::Directory) {
        *error = kErrorAccessDenied;
        return false;
    }
    return ::renameat(fdOf(from), fromName.c_str(), fdOf(to), toName.c_str()) == 0 || fail(error);
}

bool deleteFileAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    return usableName(name, error) &&
           (::unlinkat(fdOf(directory), name.c_str(), 0) == 0 || fail(error));
}

bool copyToNewFileAt(const Directory& from, const NativeString& fromName, const Directory& to,
                     const NativeString& toName, std::uint32_t* error) {
    if (!usableName(fromName, error) || !usableName(toName, error)) {
        return false;
    }
    const int opened = ::openat(fdOf(from), fromName.c_str(),
                                O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    const int in = opened < 0 ? (fail(error), -1) : keepRegularFile(opened, error);
    if (in < 0) {
        return false;
    }
    struct stat st;
    int out = -1;
    if (::fstat(in, &st) != 0 ||
        (out = ::openat(fdOf(to), toName.c_str(),
                        O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0600)) <
            0) {
        fail(error);
        ::close(in);
        return false;
    }
    int failure = copyContent(in, out);
    // Never writable by group or others, never setuid, setgid or sticky.
    if (failure == 0 && ::fchmod(out, st.st_mode & 0755) != 0) {
        failure = errno;
    }
    ::close(in);
    if (::close(out) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlinkat(fdOf(to), toName.c_str(), 0);
        *error = windowsErrorFromErrno(failure);
        return false;
    }
    return true;
}

bool writeNewFileAt(const Directory& directory, const NativeString& name, const void* data,
                    std::size_t size, std::uint32_t* error, bool ownerOnly) {
    if (!usableName(name, error)) {
        return false;
    }
    const int fd = ::openat(fdOf(directory), name.c_str(),
                            O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW,
                            ownerOnly ? 0600 : 0644);
    if (fd < 0) {
        return fail(error);
    }
    int failure = writeAll(fd, static_cast<const char*>(data), size);
    if (failure == 0 && ::fdatasync(fd) != 0) {
        failure = errno;
    }
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlinkat(fdOf(directory), name.c_str(), 0);
        *error = windowsErrorFromErrno(failure);
        return false;
    }
    return true;
}

bool removeDirectoryAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    if (!usableName(name, error)) {
        return false;
    }
    if (::unlinkat(fdOf(directory), name.c_str(), AT_REMOVEDIR) == 0) {
        return true;
    }
    *error = errno == ENOTEMPTY || errno == EEXIST ? kErrorDirectoryNotEmpty
             : errno == ENOTDIR                    ? 267
                                                   : windowsErrorFromErrno(errno);
    return false;
}

bool removeTreeAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    return usableName(name, error) && removeEntry(fdOf(directory), name.c_str(), error);
}

bool openFileAt(SequentialFile& file, const Directory& directory, const NativeString& name,
                std::uint32_t* error) {
    file.close();
    if (!usableName(name, error)) {
        return false;
    }
    const int opened = ::openat(fdOf(directory), name.c_str(),
                                O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    const int fd = opened < 0 ? (fail(error), -1) : keepRegularFile(opened, error);
    if (fd < 0) {
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    file.handle_ = fd;
    return true;
}

bool flushDirectory(const Directory& directory, std::uint32_t* error) {
    return ::fsync(fdOf(directory)) == 0 || fail(error);
}

bool syncFileSystem(const Directory& directory, std::uint32_t* error) {
    return ::syncfs(fdOf(directory)) == 0 || fail(error);
}

}  // namespace platform
