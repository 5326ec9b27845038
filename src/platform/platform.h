// The OS layer: every call this program makes into the operating system goes through here.
//
// Qt-free on purpose, so that the Win32 half can be cross-compiled and tested under Wine on its
// own. Paths are native strings (UTF-16 on Windows, bytes on POSIX), handed to the system as they
// are: on Windows the caller passes a path of 260 or more characters in its \\?\ form. Errors
// are Windows error numbers on both platforms, because they end up in messages the launcher
// shows and logs, and hash failures are CNG status values. Nothing here exits, logs or throws.
// Every call that takes a path refuses an empty one, or one holding a NUL character, with 123
// (ERROR_INVALID_NAME): the system would read such a name only up to the NUL, and so reach
// another file than the one the caller checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
using NativeString = std::wstring;
#else
using NativeString = std::string;
#endif

// Windows error numbers that callers make decisions on.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorNotFound = 1168;
constexpr std::uint32_t kErrorCancelled = 1223;

// The Windows error number that stands for an errno value (ENOENT is 2, EACCES is 5, ...).
// Unknown values map to 31 (ERROR_GEN_FAILURE). Compiled on every platform so it can be tested.
std::uint32_t windowsErrorFromErrno(int errnoValue);

class Directory;
class SequentialFile;
bool openFileAt(SequentialFile& file, const Directory& directory, const NativeString& name,
                std::uint32_t* error);

// A file opened for one sequential pass of reading, closed when the owner ends.
// Other processes may read, rename or delete the file meanwhile, but not write it (Windows).
class SequentialFile {
public:
    SequentialFile() = default;
    ~SequentialFile();
    SequentialFile(const SequentialFile&) = delete;
    SequentialFile& operator=(const SequentialFile&) = delete;

    // Opens an existing regular file for reading. False with *error set when it cannot be
    // opened: 2 when the file is missing, 3 when a directory on the way is, 5 for a directory or
    // anything else that is no regular file (a FIFO, a device: they never end or never hold the
    // bytes of a file), and on Windows 32 while another handle may write the file.
    bool open(const NativeString& path, std::uint32_t* error);
    // Reads up to `capacity` bytes. True with *bytesRead set (0 means end of file); false with
    // *error set when the read fails.
    bool read(void* buffer, std::size_t capacity, std::size_t* bytesRead, std::uint32_t* error);
    bool isOpen() const { return handle_ != kClosed; }
    void close();

private:
    friend bool openFileAt(SequentialFile& file, const Directory& directory,
                           const NativeString& name, std::uint32_t* error);
    static constexpr std::intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE and an invalid fd alike
    std::intptr_t handle_ = kClosed;
};

// CNG status: 0 is success, a negative value (taken as signed 32-bit) is a failure. Where the
// hashing is not done by CNG, any failure reports 0xC0000001 (STATUS_UNSUCCESSFUL).
using HashStatus = std::int32_t;
constexpr HashStatus kHashStatusUnsuccessful = static_cast<HashStatus>(0xC0000001u);
constexpr std::size_t kSha256Size = 32;

// The SHA-256 algorithm provider, opened once per hashed file. It must outlive the hashes
// created on it.
class Sha256Provider {
public:
    Sha256Provider() = default;
    ~Sha256Provider();
    Sha256Provider(const Sha256Provider&) = delete;
    Sha256Provider& operator=(const Sha256Provider&) = delete;

    HashStatus open();
    void* native() const { return native_; }

private:
    void* native_ = nullptr;
};

// One SHA-256 computation on an open provider.
class Sha256Hash {
public:
    Sha256Hash() = default;
    ~Sha256Hash();
    Sha256Hash(const Sha256Hash&) = delete;
    Sha256Hash& operator=(const Sha256Hash&) = delete;

    HashStatus create(const Sha256Provider& provider);
    HashStatus update(const void* data, std::size_t size);
    // Writes kSha256Size bytes to `digest` and ends the computation; create() starts another.
    HashStatus finish(unsigned char* digest);

private:
    void* native_ = nullptr;
};

// Creates a new, empty file that must not exist yet (CREATE_NEW / O_EXCL), marked temporary,
// and removes it again before returning: Windows opens it delete-on-close, so that the system
// removes it with the handle even when this process dies first. False with *error set when it
// could not be created: 80 when something stands there (on POSIX a symbolic link too, dangling
// or not; nothing is written through it), 3 when a directory on the way is missing.
bool probeNewFile(const NativeString& path, std::uint32_t* error);
// Deletes one file, or the symbolic link itself (POSIX). False with *error set when it could not
// be deleted: 2 when missing, 3 when a directory on the way is, 5 for a directory.
bool deleteFile(const NativeString& path, std::uint32_t* error);

// Creates a new file that must not exist yet (nothing standing at the name is followed or
// replaced), writes `size` bytes to it and flushes them to the disk before closing it. False
// with *error set otherwise, and then no file of this call is left at `path`. `ownerOnly`
// creates it readable by its owner alone where the platform has modes (0600), for secrets;
// otherwise 0644. Windows: the directory's inherited permissions either way.
bool writeNewFile(const NativeString& path, const void* data, std::size_t size,
                  std::uint32_t* error, bool ownerOnly = false);

// Makes the entries of directory `path` (names created, renamed or removed in it) durable.
// POSIX: fsync on the directory. Windows: nothing to flush, since every rename of this layer is
// written through; only the directory's existence is checked. 2 or 3 when it is missing.
bool flushDirectory(const NativeString& path, std::uint32_t* error);

// Moves `from` onto `to` in one step, replacing a file (or a symbolic link, which is not
// followed) that stands at `to`. Fails when `to` is a directory.
bool replaceFile(const NativeString& from, const NativeString& to, std::uint32_t* error);

// `path` made absolute the way the system resolves it for a call: Windows GetFullPathNameW
// (against the current directory, or that of the drive named), POSIX the current directory
// joined in front of a relative path. `path` unchanged when that fails.
NativeString absolutePath(const NativeString& path);

// True when anything stands at `path`: a file, a directory, or a symbolic link itself, dangling
// or not (the name is never followed).
bool entryExists(const NativeString& path);

// The size of the regular file at `path`, or -1 for anything else (missing, a directory, a device,
// a symbolic link, which is not followed).
std::int64_t regularFileSize(const NativeString& path);

// Creates one directory; its parent must exist. False with *error set otherwise: 80 on POSIX or
// 183 on Windows when something stands at `path` already, 3 when the parent is missing.
bool createDirectory(const NativeString& path, std::uint32_t* error);

// Moves `from` to `to`, which must not exist: anything standing at `to` (a file, a directory, a
// symbolic link, dangling or not) makes it fail (80 on POSIX, 183 or 80 on Windows) and is left
// as it was; no link is followed. Written through on Windows.
bool renameNoReplace(const NativeString& from, const NativeString& to, std::uint32_t* error);

// Copies the regular file `from` (5 for anything else) to `to`, which is created and must not
// exist (nothing standing there is followed or replaced). POSIX: with the source's mode masked
// with 0755 (no write for group or others, no setuid, setgid or sticky bit); Windows: the
// inherited permissions of the directory. Windows flushes the copy to the disk before returning;
// POSIX leaves that to syncFileSystem, which makes many copies durable at once. On failure no file
// of this call is left at `to`.
bool copyToNewFile(const NativeString& from, const NativeString& to, std::uint32_t* error);

// Makes everything written so far to the file system that holds directory `path` durable, data
// and names alike (POSIX: syncfs). Windows: only checks the directory, since every file this
// layer writes is flushed and every rename written through as it happens.
bool syncFileSystem(const NativeString& path, std::uint32_t* error);

// An exclusive lock on a directory, held by one owner in one process at a time and released when
// the owner ends or the process dies, however it dies. POSIX: flock on the directory itself, which
// leaves nothing behind. Windows: ".tavorin-lock" in the directory, opened without sharing and
// deleted when its last handle closes. Neither reaches a process this program starts.
class DirectoryLock {
public:
    DirectoryLock() = default;
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Takes the lock without waiting. False with *error set otherwise: 32 when another owner
    // holds it, else why the directory could not be opened.
    bool acquire(const NativeString& directory, std::uint32_t* error);

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
};

// What tells one version of a regular file from another: which file it is, its size and its
// last modification.
struct FileStamp {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds (POSIX) or 100-nanosecond ticks (Windows)
    bool operator==(const FileStamp& other) const {
        return volume == other.volume && file == other.file && size == other.size &&
               modified == other.modified;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// The stamp of the regular file at `path`; false for anything else (missing, a directory, a
// device, a symbolic link or other reparse point, which is not followed).
bool regularFileStamp(const NativeString& path, FileStamp* stamp);

// The program's arguments as the process received them, element 0 included: POSIX from `argv`,
// Windows from the command line (CommandLineToArgvW), since argv there is in the ANSI code page.
// Taken before the application object is created, which removes the arguments it claims.
std::vector<NativeString> processArguments(int argc, char** argv);

std::uint32_t currentProcessId();

// Makes every library the process loads from now on come from the system directory only, never
// from the executable's own directory or the current one, which a user may be able to write:
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) on Windows, first thing in main.
// The executable's own imports are held to the same by its load configuration. Nothing on POSIX.
void restrictLibrarySearch();

// True when the process's standard error is a terminal (a console on Windows), where progress
// may be drawn in place.
bool standardErrorIsTerminal();

// True when the process runs with administrator rights (an elevated token; root on POSIX).
bool isProcessElevated();

enum class ProcessWait {
    Ended,       // the process has ended
    TimedOut,    // still running when the time was up
    WaitFailed,  // opened, but the wait itself failed
    OpenFailed,  // could not be opened; *openError holds why (87: no such process)
};

// Opens process `pid` for synchronisation only and waits at most `timeoutMs` for it to end.
ProcessWait waitForProcessExit(std::uint32_t pid, std::uint32_t timeoutMs,
                               std::uint32_t* openError);

// The argument as one token of a Windows command line that CommandLineToArgvW and the C runtime
// read back unchanged: between double quotes, every double quote escaped with a backslash, and
// the backslashes that stand before a double quote or before the closing quote doubled (so
// that C:\Games\ and a\"b survive). An empty argument gives "". Compiled on every platform so it
// can be tested; on Windows it builds the command lines of the processes started below.
std::wstring quoteArgument(const std::wstring& argument);

constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;
constexpr std::uint32_t kErrorTimeout = 1460;

// Whether a started process shares this program's process group, or leads one of its own that
// takes every process it starts in turn (see Process::terminateGroup).
enum class ProcessGroup { Inherited, Own };

// Whose rights a started process has: this program's, or those of the user at whose desktop an
// elevated copy of this program was asked for (see Process::start).
enum class ProcessUser { This, Desktop };

// A process started by this program. The owner closes the process handle when it ends; a
// process still running then goes on running. On POSIX an ended child is always reaped, by
// wait(), exitCode(), terminate() or the destructor; one that outlives its owner is reaped by
// the system once this program has ended.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts `program` with `arguments`; the new process sees `program` as its element 0, then
    // the arguments, exactly as given: no shell reads them, nothing is looked up on PATH. It
    // inherits the environment and the current directory, and no handle or descriptor beyond
    // the standard ones. Windows: CreateProcessW with a command line of quoted arguments.
    // False with *error set when it could not be started: 2 when `program` is missing, 5 when
    // it may not be run, 193 (Windows) when it is no program.
    // With ProcessGroup::Own the process and everything it starts belong to one group:
    // Windows: a job object, assigned while the process is still suspended, so that nothing it
    // starts can escape it (without kill-on-close: the group outlives this owner); POSIX: a new
    // process group that the process leads, this program becoming the subreaper of its
    // descendants, so that those whose parents end are still its to reap.
    // With ProcessUser::Desktop the process runs with the rights of the desktop's user, in the
    // directory of `program`: Windows the token of the shell (the process of the shell's
    // window), through CreateProcessWithTokenW, and that user's environment; POSIX the user
    // pkexec names in PKEXEC_UID, through setpriv, with that user's HOME, USER, LOGNAME and
    // SHELL. Where that cannot be done (no shell, no PKEXEC_UID, no setpriv, the call refused)
    // the process starts as with ProcessUser::This, and *desktopError says why; it is 0 when
    // the process runs as the desktop's user.
    bool start(const NativeString& program, const std::vector<NativeString>& arguments,
               std::uint32_t* error, ProcessGroup group = ProcessGroup::Inherited,
               ProcessUser user = ProcessUser::This, std::uint32_t* desktopError = nullptr);

    // Starts `program` with `arguments` and administrator rights, which the user is asked for:
    // the shell's "runas" on Windows, pkexec found on PATH on POSIX (pkexec hands the program
    // only the arguments, and a clean environment, and starts it in root's home directory).
    // False with *error set when it did not start: 1223 when the user declined the prompt
    // (Windows), 2 when there is no pkexec. True without a process to follow (!started()) when
    // the shell handed none back. On POSIX a declined or refused authorisation shows only in
    // the exit code: see elevationRefused.
    bool startElevated(const NativeString& program, const std::vector<NativeString>& arguments,
                       std::uint32_t* error);

    bool started() const { return handle_ != kNone; }
    std::uint32_t id() const { return id_; }

    // Waits at most `timeoutMs` (kWaitForever: without limit) for the process to end.
    // WaitFailed also when there is no process.
    ProcessWait wait(std::uint32_t timeoutMs);
    // The exit code of the ended process. False while it runs, and when it was ended by a
    // signal (POSIX), which gives no code.
    bool exitCode(std::uint32_t* code);
    // Ends the process at once with exit code 1 (POSIX: SIGKILL, and the child is reaped).
    // False with *error set when it could not be ended; ending one that has ended already
    // succeeds.
    bool terminate(std::uint32_t* error);
    // Ends every process of the group of a process started with ProcessGroup::Own (exit code
    // 1; POSIX: SIGKILL) and waits at most `timeoutMs` until none is left, since an ended
    // process's helpers may still hold its files. False with *error set when they could not be
    // ended, or 1460 (ERROR_TIMEOUT) when some were still there at the end. Without a group of
    // its own, the process alone.
    bool terminateGroup(std::uint32_t timeoutMs, std::uint32_t* error);

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;  // Windows: the process handle; POSIX: a pidfd
    std::intptr_t group_ = kNone;   // Windows: the job handle; POSIX: the process group id
    std::uint32_t id_ = 0;
    bool reaped_ = false;  // POSIX: the child has been waited for
    int status_ = 0;       // POSIX: its wait status then
};

// Starts an elevated copy exactly as Process::startElevated does, for a caller that will not
// follow it and may end at once. POSIX: pkexec refuses to work for a caller whose parent has
// ended already, so a helper process stays its parent for as long as it runs.
bool startElevatedDetached(const NativeString& program, const std::vector<NativeString>& arguments,
                           std::uint32_t* error);

// POSIX: pkexec reports through its own exit codes that it did not start the program: 126
// when the user dismissed the authentication dialog (*error 1223, a declined prompt), 127 when
// the authorisation was refused or failed (*error 5). True then. Windows reports both at the
// start, so it always returns false there.
bool elevationRefused(std::uint32_t exitCode, std::uint32_t* error);

}  // namespace platform
