// POSIX helpers shared by the files of the OS layer; not part of its interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

namespace platform {

// Writes all of `size` bytes, retrying short writes and interrupted calls; 0 or an errno value.
int writeAll(int fd, const char* bytes, std::size_t size);

// Copies the rest of `in` to `out`: in the kernel where it can, by reading and writing where it
// cannot (another file system, an older kernel). 0 or an errno value.
int copyContent(int in, int out);

// The descriptor of an open regular file, read-only and close-on-exec, from a descriptor just
// opened (with O_NONBLOCK, so that a FIFO planted in place of a file cannot hang the open). -1
// with *error set, and `fd` closed, for anything that is no regular file (5, as Windows refuses
// a directory) or when it cannot be looked at.
int keepRegularFile(int fd, std::uint32_t* error);

}  // namespace platform
