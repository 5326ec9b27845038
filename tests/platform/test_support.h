// What the OS layer's tests need from the system beyond the layer itself: scratch directories,
// files with given content, child processes, and on each platform the few tools its own cases
// use. One implementation per platform, like the layer.
#pragma once

#include <cstdint>
#include <string>

#include "platform.h"

namespace testsupport {

using platform::NativeString;

// The argument that makes the test binary run childMain() instead of its cases (Windows starts
// the binary again; POSIX forks and calls childMain directly).
constexpr const char* kChildSwitch = "--child";
// The child: writes its currentProcessId() in decimal and a newline to standard output, then
// reads standard input to its end and returns 0.
int childMain();

NativeString fromAscii(const std::string& text);
NativeString joinPath(const NativeString& directory, const std::string& name);

// A new empty directory under the system's temporary directory, removed with everything in it
// when the object ends. Throws std::runtime_error when it cannot be created.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const NativeString& path() const { return path_; }
    NativeString operator/(const std::string& name) const { return joinPath(path_, name); }

private:
    NativeString path_;
};

bool makeDirectory(const NativeString& path);
// Creates or replaces a regular file holding exactly `bytes`.
bool writeFile(const NativeString& path, const std::string& bytes);
// True when something, a dangling symbolic link included, stands at `path`.
bool entryExists(const NativeString& path);

// A child process running childMain(), with pipes on its standard input and output. When the
// object ends, a child still running is killed and every trace of it released.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start();
    std::uint32_t pid() const { return pid_; }
    // Reads the child's first line of output, without the newline. Returning means the child
    // runs (or ran) childMain.
    bool readLine(std::string* line);
    // Closes the child's standard input, which lets it end.
    void closeInput();
    // Waits for the child to end and releases it (reaps it; closes its handles), after which
    // its id names no process of ours. False when the wait failed.
    bool waitAndRelease();

private:
    std::uint32_t pid_ = 0;
    std::intptr_t process_ = -1;  // Windows: process handle
    std::intptr_t input_ = -1;    // write end of the child's standard input
    std::intptr_t output_ = -1;   // read end of the child's standard output
};

#ifdef _WIN32
// True when the program runs under Wine (ntdll exports wine_get_version).
bool runningUnderWine();
// Opens a second handle on `path` the way another program would: for writing without write
// sharing, or for reading with read and write sharing. 0 when it opened, else the Windows error.
class OtherHandle {
public:
    OtherHandle() = default;
    ~OtherHandle();
    OtherHandle(const OtherHandle&) = delete;
    OtherHandle& operator=(const OtherHandle&) = delete;
    std::uint32_t open(const NativeString& path, bool forWriting);

private:
    std::intptr_t handle_ = -1;
};
#else
bool makeSymbolicLink(const std::string& target, const std::string& link);
bool makeFifo(const std::string& path);
// Runs `probe` in a child process that holds no administrator rights: a root caller's child
// drops to the user and group "nobody"/"nogroup" first. *result is what the probe returned.
bool runUnprivileged(std::uint32_t (*probe)(const std::string& argument),
                     const std::string& argument, std::uint32_t* result);
#endif

}  // namespace testsupport
