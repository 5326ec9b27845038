#include "posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

int writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
        } else if (n == 0) {
            return EIO;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

int copyContent(int in, int out) {
    for (;;) {
        ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                break;
            }
            return errno;
        }
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (int failure = writeAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            return failure;
        }
    }
}

int keepRegularFile(int fd, std::uint32_t* error) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *error = windowsErrorFromErrno(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        // Windows refuses to open a directory as a file with "access denied"; so do we, and the
        // same for a FIFO or a device, which would read as empty, endless or hang the reader.
        *error = kErrorAccessDenied;
        ::close(fd);
        return -1;
    }
    // Cleared again before reading; F_SETFL sets only the status flags, and the open set no
    // other, so one call does.
    ::fcntl(fd, F_SETFL, 0);
    return fd;
}

}  // namespace platform
