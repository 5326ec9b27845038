#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "test_support.h"

namespace testsupport {

namespace {

int fdOf(std::intptr_t value) {
    return static_cast<int>(value);
}

void closeFd(std::intptr_t* fd) {
    if (*fd >= 0) {
        ::close(fdOf(*fd));
        *fd = -1;
    }
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace

NativeString fromAscii(const std::string& text) {
    return text;
}

NativeString joinPath(const NativeString& directory, const std::string& name) {
    return directory + "/" + name;
}

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lu-platform-test-XXXXXX";
    // Readable and searchable by all, so that a child dropped to an unprivileged user can reach
    // the directories a case denies it.
    if (!::mkdtemp(&pattern[0]) || ::chmod(pattern.c_str(), 0755) != 0) {
        throw std::runtime_error("cannot create a scratch directory");
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

bool makeDirectory(const NativeString& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

bool writeFile(const NativeString& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, bytes.data(), bytes.size());
    return ::close(fd) == 0 && ok;
}

bool entryExists(const NativeString& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool makeSymbolicLink(const std::string& target, const std::string& link) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool makeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0644) == 0;
}

ChildProcess::~ChildProcess() {
    closeFd(&input_);
    closeFd(&output_);
    if (pid_ != 0) {
        ::kill(static_cast<pid_t>(pid_), SIGKILL);
        reap(static_cast<pid_t>(pid_));
    }
}

bool ChildProcess::start() {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return false;
    }
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        // The child keeps no end of its pipes but the two it uses, so it sees end of input.
        ::close(input[0]);
        ::close(input[1]);
        ::close(output[0]);
        ::close(output[1]);
        // _exit: the parent's unflushed stdio buffers must not be written twice.
        ::_exit(childMain());
    }
    ::close(input[0]);
    ::close(output[1]);
    if (pid < 0) {
        ::close(input[1]);
        ::close(output[0]);
        return false;
    }
    pid_ = static_cast<std::uint32_t>(pid);
    input_ = input[1];
    output_ = output[0];
    return true;
}

bool ChildProcess::readLine(std::string* line) {
    line->clear();
    char c = 0;
    for (;;) {
        ssize_t n = ::read(fdOf(output_), &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        *line += c;
    }
}

void ChildProcess::closeInput() {
    closeFd(&input_);
}

bool ChildProcess::waitAndRelease() {
    closeFd(&output_);
    if (pid_ == 0 || !reap(static_cast<pid_t>(pid_))) {
        return false;
    }
    pid_ = 0;
    return true;
}

bool runUnprivileged(std::uint32_t (*probe)(const std::string& argument),
                     const std::string& argument, std::uint32_t* result) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return false;
    }
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (::geteuid() == 0) {
            const struct passwd* user = ::getpwnam("nobody");
            const struct group* group = ::getgrnam("nogroup");
            if (!user || !group || ::setgroups(0, nullptr) != 0 ||
                ::setresgid(group->gr_gid, group->gr_gid, group->gr_gid) != 0 ||
                ::setresuid(user->pw_uid, user->pw_uid, user->pw_uid) != 0 || ::geteuid() == 0) {
                ::_exit(1);
            }
        }
        std::uint32_t value = probe(argument);
        ::_exit(writeAll(pipeFds[1], &value, sizeof value) ? 0 : 1);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return false;
    }
    std::size_t got = 0;
    while (got < sizeof *result) {
        ssize_t n = ::read(pipeFds[0], reinterpret_cast<char*>(result) + got, sizeof *result - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return got == sizeof *result && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace testsupport
