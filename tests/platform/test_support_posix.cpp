#include <fcntl.h>
#include <sys/stat.h>
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

bool holdOpen(const NativeString& path) {
    return ::open(path.c_str(), O_RDONLY) >= 0;
}

bool makeDirectory(const NativeString& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

NativeString selfPath() {
    return std::filesystem::read_symlink("/proc/self/exe").native();
}

std::vector<std::wstring> windowsArguments(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    std::size_t i = 0;
    const auto blank = [&](std::size_t at) { return line[at] == L' ' || line[at] == L'\t'; };
    for (;;) {
        while (i < line.size() && blank(i)) {
            ++i;
        }
        if (i == line.size()) {
            return arguments;
        }
        std::wstring argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !blank(i))) {
            std::size_t backslashes = 0;
            for (; i < line.size() && line[i] == L'\\'; ++i) {
                ++backslashes;
            }
            if (i < line.size() && line[i] == L'"') {
                // 2n backslashes and a quote: n backslashes, and the quote opens or closes;
                // 2n+1: n backslashes and a literal quote.
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    argument += L'"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, L'\\');
                if (i < line.size() && (quoted || !blank(i))) {
                    argument += line[i++];
                }
            }
        }
        arguments.push_back(argument);
    }
}

}  // namespace testsupport
