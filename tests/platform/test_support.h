// What the OS layer's tests need from the system beyond the layer itself. One implementation
// per platform, like the layer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform.h"

namespace testsupport {

using platform::NativeString;

// An ASCII text as a native string.
inline NativeString native(const char* text) {
    return NativeString(text, text + std::char_traits<char>::length(text));
}

// The test program's own path, which the process tests start again in one of the child modes
// of childMode().
NativeString selfPath();

// When argv names a child mode, runs it and returns its exit code; otherwise -1. The modes:
//   --exit N      ends with exit code N
//   --hang        runs until it is ended from outside
//   --echo FILE   writes each argument after FILE to FILE, each followed by a NUL character
//                 (UTF-16 on Windows)
//   --fds FILE    POSIX: writes the numbers of its open descriptors to FILE, one a line
int childMode(int argc, char** argv);

// The arguments that Windows reads from a command line `line` that follows the program name:
// through CommandLineToArgvW on Windows, and through the same rules written out elsewhere.
std::vector<std::wstring> windowsArguments(const std::wstring& line);

// A new empty directory under the system's temporary directory, removed with all it holds when
// the object ends. Throws when it cannot be created.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const NativeString& path() const { return path_; }
    // A path below the directory. '/' may separate, which Win32 also takes outside the \\?\ form.
    NativeString operator/(const std::string& relative) const;

private:
    NativeString path_;
};

bool makeDirectory(const NativeString& path);
// Creates or replaces a regular file holding exactly `bytes`.
inline bool writeFile(const NativeString& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    return out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush().good();
}

// The whole content of a regular file; "<unreadable>" when it cannot be read.
inline std::string readFile(const NativeString& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return in.bad() || !in.is_open() ? "<unreadable>" : bytes;
}

// Opens the file at `path` for reading and keeps it open until the process ends; on Windows
// without delete sharing, as a running program's helper may, so that it cannot be renamed or
// deleted meanwhile.
bool holdOpen(const NativeString& path);

#ifdef _WIN32
// True when the program runs under Wine (ntdll exports wine_get_version).
bool runningUnderWine();
// Gives the file at `path` the read-only attribute.
bool makeReadOnly(const NativeString& path);
// The Windows error for opening `path` for writing the way another program would (sharing
// everything), 0 when it opens; the handle is closed at once.
std::uint32_t openForWritingError(const NativeString& path);
#endif

}  // namespace testsupport
