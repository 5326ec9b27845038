#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "test_support.h"

namespace testsupport {

ScratchDir::ScratchDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "lu-platform-test-XXXXXX";
    if (!::mkdtemp(&pattern[0])) {
        throw std::runtime_error("cannot create a scratch directory");
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

NativeString ScratchDir::operator/(const std::string& relative) const {
    return path_ + "/" + relative;
}

bool makeDirectory(const NativeString& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

bool Child::start() {
    process_ = ::fork();  // -1, none, when it fails
    if (process_ == 0) {
        ::_exit(0);  // not exit(): the parent's stdio buffers and atexit handlers are not ours
    }
    pid_ = static_cast<std::uint32_t>(process_);
    return process_ > 0;
}

bool Child::release() {
    const bool reaped = process_ == -1 || ::waitpid(static_cast<pid_t>(process_), nullptr, 0) > 0;
    process_ = -1;
    return reaped;
}

}  // namespace testsupport
