// The only file of the tests that sees <windows.h>.
#include <windows.h>

#include <shellapi.h>

#include <cstring>
#include <stdexcept>

#include "test_support.h"

namespace testsupport {

namespace {

// `path` in \\?\ form, so that trees deeper than MAX_PATH go too.
void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            const std::wstring child = path + L"\\" + name;
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                ::DeleteFileW(child.c_str());
            } else if (name != L"." && name != L"..") {
                removeTree(child);
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace

ScratchDir::ScratchDir() {
    static unsigned counter = 0;
    const std::string name = "lu-platform-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(++counter);
    path_ = (std::filesystem::temp_directory_path() / name).native();
    if (!::CreateDirectoryW(path_.c_str(), nullptr)) {
        throw std::runtime_error("cannot create a scratch directory");
    }
}

ScratchDir::~ScratchDir() {
    removeTree(L"\\\\?\\" + path_);
}

NativeString ScratchDir::operator/(const std::string& relative) const {
    return path_ + L"\\" + std::wstring(relative.begin(), relative.end());
}

bool makeDirectory(const NativeString& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr);
}

NativeString selfPath() {
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size())));
    return self;
}

std::vector<std::wstring> windowsArguments(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* parsed = ::CommandLineToArgvW((L"program " + line).c_str(), &count);
    if (parsed != nullptr) {
        arguments.assign(parsed + 1, parsed + count);
        ::LocalFree(parsed);
    }
    return arguments;
}

bool makeReadOnly(const NativeString& path) {
    return ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool holdOpen(const NativeString& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr) != INVALID_HANDLE_VALUE;
}

std::uint32_t openForWritingError(const NativeString& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    ::CloseHandle(file);
    return 0;
}

}  // namespace testsupport
