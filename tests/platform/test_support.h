// What the OS layer's tests need from the system beyond the layer itself. One implementation
// per platform, like the layer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform.h"

namespace testsupport {

using platform::NativeString;

// Makes the test program return 0 at once: the child that Child::start() runs on Windows.
constexpr const char* kChildSwitch = "--child";

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

// A child process that ends at once. Its id names it, ended, until release() (POSIX: it stays
// a zombie until reaped; Windows: its handle stays open).
class Child {
public:
    Child() = default;
    ~Child() { release(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool start();
    std::uint32_t pid() const { return pid_; }
    // Waits for the child to end and releases it; after that its id names no process of ours.
    bool release();

private:
    std::uint32_t pid_ = 0;
    std::intptr_t process_ = -1;  // until released: the process handle, or on POSIX its id
};

#ifdef _WIN32
// True when the program runs under Wine (ntdll exports wine_get_version).
bool runningUnderWine();
// The Windows error for opening `path` for writing the way another program would (sharing
// everything), 0 when it opens; the handle is closed at once.
std::uint32_t openForWritingError(const NativeString& path);
#endif

}  // namespace testsupport
