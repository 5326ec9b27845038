// POSIX implementation of the OS layer. Errors leave here as Windows error numbers, mapped in
// one place (windowsErrorFromErrno), so the messages read the same on every platform.
#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "posix_io.h"
#include "usable_path.h"

namespace platform {

namespace {

int fdOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// errno says ENOENT both for a missing file and for a missing directory on the way to it;
// Windows tells them apart (2 and 3), and callers may decide on the difference.
std::uint32_t pathError(const std::string& path, int errnoValue) {
    if (errnoValue == ENOENT) {
        const std::string::size_type slash = path.find_last_of('/');
        if (slash != std::string::npos) {
            const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
            struct stat st;
            if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                return kErrorPathNotFound;
            }
        }
    }
    return windowsErrorFromErrno(errnoValue);
}

// Opens an existing regular file read-only; -1 with *error set otherwise (see SequentialFile).
int openRegularFile(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return -1;
    }
    // O_NONBLOCK only so that a FIFO planted in place of a file cannot hang the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = pathError(path, errno);
        return -1;
    }
    return keepRegularFile(fd, error);
}

// Closes a file written by this layer, and removes it again when anything failed (`failure`: 0
// or an errno value).
bool finishNewFile(const NativeString& path, int fd, int failure, std::uint32_t* error) {
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(path.c_str());
        *error = windowsErrorFromErrno(failure);
        return false;
    }
    return true;
}

// Opens directory `path` and hands it to `sync` (fsync: its entries; syncfs: its file system).
bool syncThroughDirectory(const NativeString& path, int (*sync)(int), std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = pathError(path, errno);
        return false;
    }
    const bool ok = sync(fd) == 0;
    if (!ok) {
        *error = windowsErrorFromErrno(errno);
    }
    ::close(fd);
    return ok;
}

}  // namespace

SequentialFile::~SequentialFile() {
    close();
}

bool SequentialFile::open(const NativeString& path, std::uint32_t* error) {
    close();
    int fd = openRegularFile(path, error);
    if (fd < 0) {
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    handle_ = fd;
    return true;
}

bool SequentialFile::read(void* buffer, std::size_t capacity, std::size_t* bytesRead,
                          std::uint32_t* error) {
    for (;;) {
        ssize_t n = ::read(fdOf(handle_), buffer, capacity);
        if (n >= 0) {
            *bytesRead = static_cast<std::size_t>(n);
            return true;
        }
        if (errno != EINTR) {
            *error = windowsErrorFromErrno(errno);
            return false;
        }
    }
}

void SequentialFile::close() {
    if (handle_ != kClosed) {
        ::close(fdOf(handle_));
        handle_ = kClosed;
    }
}

Sha256Provider::~Sha256Provider() {
    EVP_MD_free(static_cast<EVP_MD*>(native_));
}

HashStatus Sha256Provider::open() {
    EVP_MD_free(static_cast<EVP_MD*>(native_));
    native_ = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return native_ ? 0 : kHashStatusUnsuccessful;
}

Sha256Hash::~Sha256Hash() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(native_));
}

HashStatus Sha256Hash::create(const Sha256Provider& provider) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(native_));
    native_ = nullptr;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) {
        return kHashStatusUnsuccessful;
    }
    native_ = ctx;
    const EVP_MD* md = static_cast<const EVP_MD*>(provider.native());
    return md && EVP_DigestInit_ex(ctx, md, nullptr) == 1 ? 0 : kHashStatusUnsuccessful;
}

HashStatus Sha256Hash::update(const void* data, std::size_t size) {
    auto* ctx = static_cast<EVP_MD_CTX*>(native_);
    return ctx && EVP_DigestUpdate(ctx, data, size) == 1 ? 0 : kHashStatusUnsuccessful;
}

HashStatus Sha256Hash::finish(unsigned char* digest) {
    auto* ctx = static_cast<EVP_MD_CTX*>(native_);
    unsigned int length = 0;
    if (!ctx || EVP_DigestFinal_ex(ctx, digest, &length) != 1 || length != kSha256Size) {
        return kHashStatusUnsuccessful;
    }
    return 0;
}

bool probeNewFile(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    // O_EXCL also refuses a symbolic link at the name, dangling or not.
    int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        *error = pathError(path, errno);
        return false;
    }
    ::close(fd);
    ::unlink(path.c_str());
    return true;
}

bool writeNewFile(const NativeString& path, const void* data, std::size_t size,
                  std::uint32_t* error, bool ownerOnly) {
    if (!usablePath(path, error)) {
        return false;
    }
    // The mode is given at creation, so a secret is never readable by others for a moment.
    int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY,
                    ownerOnly ? 0600 : 0644);
    if (fd < 0) {
        *error = pathError(path, errno);
        return false;
    }
    int failure = writeAll(fd, static_cast<const char*>(data), size);
    if (failure == 0 && ::fdatasync(fd) != 0) {
        failure = errno;
    }
    return finishNewFile(path, fd, failure, error);
}

bool flushDirectory(const NativeString& path, std::uint32_t* error) {
    return syncThroughDirectory(path, ::fsync, error);
}

bool deleteFile(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    if (::unlink(path.c_str()) != 0) {
        *error = pathError(path, errno);
        return false;
    }
    return true;
}

bool replaceFile(const NativeString& from, const NativeString& to, std::uint32_t* error) {
    if (!usablePath(from, error) || !usablePath(to, error)) {
        return false;
    }
    // rename(2) replaces whatever entry stands at `to`, a link included, without following it.
    if (::rename(from.c_str(), to.c_str()) != 0) {
        *error = pathError(to, errno);
        return false;
    }
    return true;
}

NativeString absolutePath(const NativeString& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return path;
        }
        buffer.resize(buffer.size() * 2);
    }
    return NativeString(buffer.data()) + "/" + path;
}

bool entryExists(const NativeString& path) {
    std::uint32_t error = 0;
    struct stat st;
    return usablePath(path, &error) && ::lstat(path.c_str(), &st) == 0;
}

std::int64_t regularFileSize(const NativeString& path) {
    std::uint32_t error = 0;
    struct stat st;
    if (!usablePath(path, &error) || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool createDirectory(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    if (::mkdir(path.c_str(), 0755) != 0) {
        *error = pathError(path, errno);
        return false;
    }
    return true;
}

bool renameNoReplace(const NativeString& from, const NativeString& to, std::uint32_t* error) {
    if (!usablePath(from, error) || !usablePath(to, error)) {
        return false;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        *error = pathError(to, errno);
        return false;
    }
    // A file system without RENAME_NOREPLACE: a hard link is just as exclusive for files, and
    // both names stand for the one file until the old one goes.
    if (::link(from.c_str(), to.c_str()) != 0) {
        *error = pathError(to, errno);
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

bool copyToNewFile(const NativeString& from, const NativeString& to, std::uint32_t* error) {
    if (!usablePath(to, error)) {
        return false;
    }
    const int in = openRegularFile(from, error);
    if (in < 0) {
        return false;
    }
    struct stat st;
    int out = -1;
    if (::fstat(in, &st) != 0) {
        *error = windowsErrorFromErrno(errno);
    } else if ((out = ::open(to.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY,
                             0600)) < 0) {
        *error = pathError(to, errno);
    }
    if (out < 0) {
        ::close(in);
        return false;
    }
    int failure = copyContent(in, out);
    // Never writable by group or others, never setuid, setgid or sticky: an elevated run must
    // not install a file that any local user may rewrite before the next start.
    if (failure == 0 && ::fchmod(out, st.st_mode & 0755) != 0) {
        failure = errno;
    }
    ::close(in);
    return finishNewFile(to, out, failure, error);
}

bool syncFileSystem(const NativeString& path, std::uint32_t* error) {
    return syncThroughDirectory(path, ::syncfs, error);
}

DirectoryLock::~DirectoryLock() {
    if (handle_ != kNone) {
        ::close(fdOf(handle_));
    }
}

bool DirectoryLock::acquire(const NativeString& directory, std::uint32_t* error) {
    if (handle_ != kNone) {
        *error = kErrorInvalidParameter;
        return false;
    }
    if (!usablePath(directory, error)) {
        return false;
    }
    // Close-on-exec, and every process this program starts has its descriptors closed anyway:
    // a launcher left running must not keep the installation locked. A link is followed: the
    // lock writes nothing, and the runs refuse such a root with their own words.
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = pathError(directory, errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = errno == EWOULDBLOCK ? kErrorSharingViolation : windowsErrorFromErrno(errno);
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool regularFileStamp(const NativeString& path, FileStamp* stamp) {
    std::uint32_t error = 0;
    struct stat st;
    if (!usablePath(path, &error) || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    stamp->volume = static_cast<std::uint64_t>(st.st_dev);
    stamp->file = static_cast<std::uint64_t>(st.st_ino);
    stamp->size = static_cast<std::int64_t>(st.st_size);
    stamp->modified =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

std::vector<NativeString> processArguments(int argc, char** argv) {
    return std::vector<NativeString>(argv, argv + argc);
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void restrictLibrarySearch() {}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

bool isProcessElevated() {
    return ::geteuid() == 0;
}

namespace {

// Polls a pidfd until its process ends or `timeoutMs` (kWaitForever: no limit) has passed.
ProcessWait pollUntilEnded(int pidfd, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != kWaitForever) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        struct pollfd pfd = {pidfd, POLLIN, 0};
        const int n = ::poll(&pfd, 1, waitMs);
        if (n > 0) {
            return ProcessWait::Ended;
        }
        if (n == 0) {
            return ProcessWait::TimedOut;
        }
        if (errno != EINTR) {
            return ProcessWait::WaitFailed;
        }
    }
}

int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Waits for child `pid` to end, or only looks whether it has with WNOHANG; true once reaped.
bool reapChild(pid_t pid, int options, int* status) {
    for (;;) {
        const pid_t reaped = ::waitpid(pid, status, options);
        if (reaped == pid) {
            return true;
        }
        if (reaped == 0 || errno != EINTR) {
            return false;
        }
    }
}

// `program`, then `arguments`, as the NULL-ended vector that exec takes; the pointers lead into
// the strings, which must outlive it. False with 87 for an argument holding a NUL, which exec
// would cut short.
bool argumentVector(const NativeString& program, const std::vector<NativeString>& arguments,
                    std::vector<char*>* vector, std::uint32_t* error) {
    vector->assign(1, const_cast<char*>(program.c_str()));
    for (const NativeString& argument : arguments) {
        if (argument.find('\0') != NativeString::npos) {
            *error = kErrorInvalidParameter;
            return false;
        }
        vector->push_back(const_cast<char*>(argument.c_str()));
    }
    vector->push_back(nullptr);
    return true;
}

// The first executable regular file called `name` in a directory of PATH, as a shell would find
// it; empty when there is none. Empty entries (the current directory) are not searched: the
// directory a user happens to stand in is no place to pick up an elevation helper from.
NativeString findOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "";
    std::string::size_type begin = 0;
    while (begin <= directories.size()) {
        std::string::size_type end = directories.find(':', begin);
        if (end == std::string::npos) {
            end = directories.size();
        }
        const std::string directory = directories.substr(begin, end - begin);
        begin = end + 1;
        if (directory.empty()) {
            continue;
        }
        const std::string candidate = directory + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return NativeString();
}

// pkexec found on PATH (empty, with *error 2, when it is not there), and the arguments that make
// it run `program` with `arguments`.
NativeString pkexecCommand(const NativeString& program, const std::vector<NativeString>& arguments,
                           std::vector<NativeString>* pkexecArguments, std::uint32_t* error) {
    if (!usablePath(program, error)) {
        return NativeString();
    }
    const NativeString pkexec = findOnPath("pkexec");
    if (pkexec.empty()) {
        *error = kErrorFileNotFound;
    }
    pkexecArguments->assign(1, program);
    pkexecArguments->insert(pkexecArguments->end(), arguments.begin(), arguments.end());
    return pkexec;
}

// setpriv, and the arguments that make it run `program` with `arguments` as the user that
// pkexec names in PKEXEC_UID, with that user's groups; and the environment to run it in: this
// one, with that user's HOME, USER, LOGNAME and SHELL. False with *error set when that cannot be
// done: 1168 (not found) without PKEXEC_UID, as when this program was not started through pkexec,
// or for a uid without an account, 2 without setpriv.
bool desktopUserCommand(const NativeString& program, const std::vector<NativeString>& arguments,
                        NativeString* setpriv, std::vector<NativeString>* setprivArguments,
                        std::vector<std::string>* environment, std::uint32_t* error) {
    // Digits only, and within uid_t: strtoul alone would take "-1" or " 0".
    const char* text = std::getenv("PKEXEC_UID");
    const std::string digits = text != nullptr ? text : "";
    uid_t uid = 0;
    bool valid = !digits.empty() && digits.size() <= 10 &&
                 digits.find_first_not_of("0123456789") == std::string::npos;
    if (valid) {
        const unsigned long long value = std::stoull(digits);
        uid = static_cast<uid_t>(value);
        valid = value == uid;
    }
    struct passwd account;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (!valid || ::getpwuid_r(uid, &account, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        *error = kErrorNotFound;
        return false;
    }
    // At its place in the system, never looked up on a PATH.
    for (const char* candidate : {"/usr/bin/setpriv", "/bin/setpriv"}) {
        if (::access(candidate, X_OK) == 0) {
            *setpriv = candidate;
            *setprivArguments = {"--reuid=" + std::to_string(uid),
                                 "--regid=" + std::to_string(account.pw_gid), "--init-groups", "--",
                                 program};
            setprivArguments->insert(setprivArguments->end(), arguments.begin(), arguments.end());
            // What pkexec kept (the display, say), with the account's own names and home.
            const std::string own[] = {std::string("HOME=") + account.pw_dir,
                                       std::string("USER=") + account.pw_name,
                                       std::string("LOGNAME=") + account.pw_name,
                                       std::string("SHELL=") + account.pw_shell};
            environment->assign(std::begin(own), std::end(own));
            for (char** entry = environ; *entry != nullptr; ++entry) {
                const std::string name = std::string(*entry).substr(0, std::strcspn(*entry, "="));
                if (name != "HOME" && name != "USER" && name != "LOGNAME" && name != "SHELL") {
                    environment->push_back(*entry);
                }
            }
            return true;
        }
    }
    *error = kErrorFileNotFound;
    return false;
}

}  // namespace

ProcessWait waitForProcessExit(std::uint32_t pid, std::uint32_t timeoutMs,
                               std::uint32_t* openError) {
    // Ids that do not fit a pid_t name no process, as on Windows.
    if (pid == 0 || pid > 0x7fffffffu) {
        *openError = kErrorInvalidParameter;
        return ProcessWait::OpenFailed;
    }
    const int pidfd = openPidfd(static_cast<pid_t>(pid));
    if (pidfd < 0) {
        // ESRCH: the process is gone, which Windows reports as an invalid parameter.
        *openError = errno == ESRCH ? kErrorInvalidParameter : windowsErrorFromErrno(errno);
        return ProcessWait::OpenFailed;
    }
    const ProcessWait result = pollUntilEnded(pidfd, timeoutMs);
    ::close(pidfd);
    return result;
}

Process::~Process() {
    if (started()) {
        if (!reaped_) {
            reapChild(static_cast<pid_t>(id_), WNOHANG, &status_);
        }
        ::close(fdOf(handle_));
    }
}

bool Process::start(const NativeString& program, const std::vector<NativeString>& arguments,
                    std::uint32_t* error, ProcessGroup group, ProcessUser user,
                    std::uint32_t* desktopError) {
    if (started()) {
        *error = kErrorInvalidParameter;
        return false;
    }
    if (!usablePath(program, error)) {
        return false;
    }
    // As the desktop's user, setpriv takes the program over; otherwise it starts itself.
    NativeString executable = program;
    std::vector<NativeString> rest = arguments;
    NativeString directory;
    std::vector<std::string> environment;
    std::uint32_t notAsDesktopUser = 0;
    if (user == ProcessUser::Desktop && desktopUserCommand(program, arguments, &executable, &rest,
                                                           &environment, &notAsDesktopUser)) {
        directory = program.substr(0, program.rfind('/') + 1);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(&entry[0]);
    }
    envp.push_back(nullptr);
    if (desktopError != nullptr) {
        *desktopError = notAsDesktopUser;
    }
    std::vector<char*> argv;
    if (!argumentVector(executable, rest, &argv, error)) {
        return false;
    }
    // Orphans of the group come back to this process rather than to init, so that
    // terminateGroup can see them gone.
    if (group == ProcessGroup::Own && ::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        *error = windowsErrorFromErrno(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    // Nothing this program holds open reaches the child, whether or not it was opened
    // close-on-exec; and the child starts with no signal blocked and every one at its default.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t signals;
    ::sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(&attributes, &signals);
    ::sigfillset(&signals);
    ::posix_spawnattr_setsigdefault(&attributes, &signals);
    if (!directory.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (group == ProcessGroup::Own) {
        ::posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    ::posix_spawnattr_setflags(&attributes, flags);
    pid_t pid = 0;
    const int failure = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(),
                                      environment.empty() ? environ : envp.data());
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        *error = pathError(executable, failure);
        if (group == ProcessGroup::Own) {
            ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        }
        return false;
    }
    // The child cannot be reaped by anyone else, so its id stays its own until waitpid here.
    const int pidfd = openPidfd(pid);
    if (pidfd < 0) {
        *error = windowsErrorFromErrno(errno);
        ::kill(pid, SIGKILL);
        reapChild(pid, 0, &status_);
        return false;
    }
    handle_ = pidfd;
    id_ = static_cast<std::uint32_t>(pid);
    group_ = group == ProcessGroup::Own ? pid : kNone;
    reaped_ = false;
    return true;
}

bool Process::startElevated(const NativeString& program, const std::vector<NativeString>& arguments,
                            std::uint32_t* error) {
    std::vector<NativeString> pkexecArguments;
    const NativeString pkexec = pkexecCommand(program, arguments, &pkexecArguments, error);
    return !pkexec.empty() && start(pkexec, pkexecArguments, error);
}

ProcessWait Process::wait(std::uint32_t timeoutMs) {
    if (!started()) {
        return ProcessWait::WaitFailed;
    }
    if (reaped_) {
        return ProcessWait::Ended;
    }
    const ProcessWait result = pollUntilEnded(fdOf(handle_), timeoutMs);
    // A group's leader stays unreaped, and its id with it, until terminateGroup or exitCode.
    if (result == ProcessWait::Ended && group_ == kNone) {
        reaped_ = reapChild(static_cast<pid_t>(id_), 0, &status_);
    }
    return result;
}

bool Process::exitCode(std::uint32_t* code) {
    if (started() && !reaped_) {
        reaped_ = reapChild(static_cast<pid_t>(id_), WNOHANG, &status_);
    }
    if (!reaped_ || !WIFEXITED(status_)) {
        return false;
    }
    *code = static_cast<std::uint32_t>(WEXITSTATUS(status_));
    return true;
}

bool Process::terminate(std::uint32_t* error) {
    if (!started()) {
        *error = kErrorInvalidParameter;
        return false;
    }
    if (reaped_) {
        return true;
    }
    // Still our unreaped child, so the id cannot have passed to another process.
    if (::kill(static_cast<pid_t>(id_), SIGKILL) != 0) {
        *error = windowsErrorFromErrno(errno);
        return false;
    }
    reaped_ = reapChild(static_cast<pid_t>(id_), 0, &status_);
    return true;
}

bool Process::terminateGroup(std::uint32_t timeoutMs, std::uint32_t* error) {
    if (group_ == kNone) {
        return terminate(error);
    }
    const pid_t group = static_cast<pid_t>(group_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Members that were starting when the last signal went out get one too. The id names
        // no other group meanwhile: it stays taken while any member, a zombie included, is
        // left, and the leader (left a zombie by wait) is reaped only here.
        if (::kill(-group, SIGKILL) != 0) {
            if (errno == ESRCH) {
                break;
            }
            *error = windowsErrorFromErrno(errno);
            return false;
        }
        // The leader, and the orphans that the subreaper role made this program's children.
        int status = 0;
        for (pid_t reaped; (reaped = ::waitpid(-group, &status, WNOHANG)) > 0;) {
            if (reaped == static_cast<pid_t>(id_)) {
                reaped_ = true;
                status_ = status;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            *error = kErrorTimeout;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!reaped_) {
        reaped_ = reapChild(static_cast<pid_t>(id_), 0, &status_);
    }
    return true;
}

bool startElevatedDetached(const NativeString& program, const std::vector<NativeString>& arguments,
                           std::uint32_t* error) {
    std::vector<NativeString> pkexecArguments;
    const NativeString pkexec = pkexecCommand(program, arguments, &pkexecArguments, error);
    std::vector<char*> argv;
    if (pkexec.empty() || !argumentVector(pkexec, pkexecArguments, &argv, error)) {
        return false;
    }
    // Everything is prepared before the fork: the helper may only make async-signal-safe calls.
    const pid_t helper = ::fork();
    if (helper < 0) {
        *error = windowsErrorFromErrno(errno);
        return false;
    }
    if (helper == 0) {
        ::syscall(SYS_close_range, 3u, ~0u, 0u);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            // The caller's standard handles may be pipes that close when it ends, and the copy
            // would die writing to them; on Windows it gets a hidden console of its own.
            const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            for (int fd = 0; fd < 3 && null >= 0; ++fd) {
                ::dup2(null, fd);
            }
            ::execve(argv[0], argv.data(), environ);
            ::_exit(127);
        }
        int status = 0;
        if (child > 0) {
            reapChild(child, 0, &status);
        }
        ::_exit(0);
    }
    return true;
}

bool elevationRefused(std::uint32_t exitCode, std::uint32_t* error) {
    switch (exitCode) {
        case 126:
            *error = kErrorCancelled;
            return true;
        case 127:
            *error = kErrorAccessDenied;
            return true;
        default:
            return false;
    }
}

}  // namespace platform
