#include <fcntl.h>

#include <filesystem>

#include "test_support.h"

namespace testsupport {

bool holdOpen(const platform::NativeString& path) {
    return ::open(path.c_str(), O_RDONLY) >= 0;
}

platform::NativeString selfPath() {
    return std::filesystem::read_symlink("/proc/self/exe").native();
}

}  // namespace testsupport
