// What the OS layer's tests, and the test launcher, need from the system beyond the layer itself.
#pragma once

#include <cstdint>

#include "platform.h"

namespace testsupport {

// The test program's own path.
platform::NativeString selfPath();

// Opens the file at `path` for reading and keeps it open until the process ends; on Windows
// without delete sharing, as a running program's helper may, so that it cannot be renamed or
// deleted meanwhile.
bool holdOpen(const platform::NativeString& path);

#ifdef _WIN32
// True when the program runs under Wine (ntdll exports wine_get_version).
bool runningUnderWine();
// The Windows error for opening `path` for writing the way another program would (sharing
// everything), 0 when it opens; the handle is closed at once.
std::uint32_t openForWritingError(const platform::NativeString& path);
#endif

}  // namespace testsupport
