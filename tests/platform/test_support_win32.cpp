#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "test_support.h"

namespace testsupport {

namespace {

// Stored handles use -1 (INVALID_HANDLE_VALUE) for none; no real handle has that value.
HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

std::intptr_t stored(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

void closeHandle(std::intptr_t* handle) {
    if (*handle != -1) {
        ::CloseHandle(handleOf(*handle));
        *handle = -1;
    }
}

// `path` in \\?\ form, so that trees deeper than MAX_PATH go too.
void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            const DWORD attributes = entry.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                removeTree(child);
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                ::RemoveDirectoryW(child.c_str());
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace

NativeString fromAscii(const std::string& text) {
    return NativeString(text.begin(), text.end());
}

NativeString joinPath(const NativeString& directory, const std::string& name) {
    return directory + L"\\" + fromAscii(name);
}

ScratchDir::ScratchDir() {
    static unsigned counter = 0;
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error("cannot find the temporary directory");
    }
    const std::wstring path = std::wstring(temp, length) + L"lu-platform-test-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter);
    if (!::CreateDirectoryW(path.c_str(), nullptr)) {
        throw std::runtime_error("cannot create a scratch directory");
    }
    path_ = path;
}

ScratchDir::~ScratchDir() {
    if (!path_.empty()) {
        removeTree(L"\\\\?\\" + path_);
    }
}

bool makeDirectory(const NativeString& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr);
}

bool writeFile(const NativeString& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        ok = ::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    return ::CloseHandle(file) && ok;
}

bool entryExists(const NativeString& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool runningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

OtherHandle::~OtherHandle() {
    closeHandle(&handle_);
}

std::uint32_t OtherHandle::open(const NativeString& path, bool forWriting) {
    closeHandle(&handle_);
    const DWORD access = forWriting ? GENERIC_WRITE : GENERIC_READ;
    const DWORD share =
        forWriting ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    handle_ = stored(handle);
    return 0;
}

ChildProcess::~ChildProcess() {
    closeHandle(&input_);
    closeHandle(&output_);
    if (process_ != -1) {
        if (::WaitForSingleObject(handleOf(process_), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(handleOf(process_), 1);
            ::WaitForSingleObject(handleOf(process_), INFINITE);
        }
        closeHandle(&process_);
    }
}

bool ChildProcess::start() {
    std::wstring self(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
    if (length == 0 || length >= self.size()) {
        return false;
    }
    self.resize(length);

    // Only the child's ends are inheritable; were ours inherited too, the child would hold
    // its own input open and never see its end.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!::CreatePipe(&inputRead, &inputWrite, &inheritable, 0)) {
        return false;
    }
    if (!::CreatePipe(&outputRead, &outputWrite, &inheritable, 0)) {
        ::CloseHandle(inputRead);
        ::CloseHandle(inputWrite);
        return false;
    }
    input_ = stored(inputWrite);
    output_ = stored(outputRead);
    ::SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = nullptr;
    std::wstring commandLine = L"\"" + self + L"\" " + fromAscii(kChildSwitch);
    PROCESS_INFORMATION info = {};
    const bool started = ::CreateProcessW(self.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &info);
    ::CloseHandle(inputRead);
    ::CloseHandle(outputWrite);
    if (!started) {
        closeHandle(&input_);
        closeHandle(&output_);
        return false;
    }
    ::CloseHandle(info.hThread);
    process_ = stored(info.hProcess);
    pid_ = info.dwProcessId;
    return true;
}

bool ChildProcess::readLine(std::string* line) {
    line->clear();
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!::ReadFile(handleOf(output_), &c, 1, &got, nullptr) || got == 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        // The child's standard output is in text mode.
        if (c != '\r') {
            *line += c;
        }
    }
}

void ChildProcess::closeInput() {
    closeHandle(&input_);
}

bool ChildProcess::waitAndRelease() {
    closeHandle(&output_);
    if (process_ == -1 || ::WaitForSingleObject(handleOf(process_), INFINITE) != WAIT_OBJECT_0) {
        return false;
    }
    closeHandle(&process_);
    pid_ = 0;
    return true;
}

}  // namespace testsupport
