// Win32 implementation of the OS layer, and the only file of the program that sees <windows.h>.
// Errors are GetLastError() values and CNG status values as the system reports them.
#include <windows.h>

// bcrypt.h, shellapi.h and winternl.h rely on the types that windows.h declares.
#include <bcrypt.h>
#include <shellapi.h>
#include <winternl.h>

#include <cstddef>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <vector>

#include "directory.h"
#include "platform.h"
#include "usable_path.h"

namespace platform {

namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Owns one kernel handle; null and INVALID_HANDLE_VALUE both mean none, since the API uses each.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Writes all of `size` bytes; ERROR_SUCCESS or the Windows error.
DWORD writeAll(HANDLE file, const char* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!::WriteFile(file, bytes, chunk, &written, nullptr)) {
            return ::GetLastError();
        }
        if (written == 0) {
            return ERROR_WRITE_FAULT;
        }
        bytes += written;
        size -= written;
    }
    return ERROR_SUCCESS;
}

// Copies what is left of `source` to `file`; ERROR_SUCCESS or the Windows error.
DWORD copyRest(SequentialFile& source, HANDLE file) {
    constexpr std::size_t kBlock = 1 << 20;
    std::unique_ptr<char[]> buffer(new char[kBlock]);
    for (;;) {
        std::size_t got = 0;
        std::uint32_t readError = 0;
        if (!source.read(buffer.get(), kBlock, &got, &readError)) {
            return readError;
        }
        if (got == 0) {
            return ERROR_SUCCESS;
        }
        const DWORD failure = writeAll(file, buffer.get(), got);
        if (failure != ERROR_SUCCESS) {
            return failure;
        }
    }
}

// Creates a new file for writing; the reparse point itself, so that a link standing at the name
// counts as existing.
HANDLE createNewForWriting(const NativeString& path) {
    return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Flushes and closes a file written by this layer, and deletes it again when anything failed.
bool finishNewFile(const NativeString& path, HANDLE file, DWORD failure, std::uint32_t* error) {
    if (failure == ERROR_SUCCESS && !::FlushFileBuffers(file)) {
        failure = ::GetLastError();
    }
    if (!::CloseHandle(file) && failure == ERROR_SUCCESS) {
        failure = ::GetLastError();
    }
    if (failure != ERROR_SUCCESS) {
        ::DeleteFileW(path.c_str());
        *error = failure;
        return false;
    }
    return true;
}

}  // namespace

static_assert(sizeof(HANDLE) == sizeof(std::intptr_t), "a HANDLE must fit the stored handle");

SequentialFile::~SequentialFile() {
    close();
}

bool SequentialFile::open(const NativeString& path, std::uint32_t* error) {
    close();
    if (!usablePath(path, error)) {
        return false;
    }
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return false;
    }
    // A name can still reach a device or a pipe (a reserved name, \\.\pipe\...), which would
    // read as empty or endless; refused like a directory.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool SequentialFile::read(void* buffer, std::size_t capacity, std::size_t* bytesRead,
                          std::uint32_t* error) {
    // The closed marker is also the pseudo-handle of the current process, which must never
    // reach ReadFile.
    if (!isOpen()) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    // ReadFile counts in DWORD; reading less than asked is within the contract.
    const DWORD wanted =
        static_cast<DWORD>(std::min<std::size_t>(capacity, std::numeric_limits<DWORD>::max()));
    DWORD got = 0;
    if (!::ReadFile(handleOf(handle_), buffer, wanted, &got, nullptr)) {
        *error = ::GetLastError();
        return false;
    }
    *bytesRead = got;
    return true;
}

void SequentialFile::close() {
    if (handle_ != kClosed) {
        ::CloseHandle(handleOf(handle_));
        handle_ = kClosed;
    }
}

Sha256Provider::~Sha256Provider() {
    if (native_) {
        ::BCryptCloseAlgorithmProvider(native_, 0);
    }
}

HashStatus Sha256Provider::open() {
    if (native_) {
        ::BCryptCloseAlgorithmProvider(native_, 0);
        native_ = nullptr;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    NTSTATUS status =
        ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status >= 0) {
        native_ = algorithm;
    }
    return status;
}

Sha256Hash::~Sha256Hash() {
    if (native_) {
        ::BCryptDestroyHash(native_);
    }
}

HashStatus Sha256Hash::create(const Sha256Provider& provider) {
    if (native_) {
        ::BCryptDestroyHash(native_);
        native_ = nullptr;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    // No object buffer: CNG allocates the hash object's memory and frees it with the hash.
    NTSTATUS status = ::BCryptCreateHash(provider.native(), &hash, nullptr, 0, nullptr, 0, 0);
    if (status >= 0) {
        native_ = hash;
    }
    return status;
}

HashStatus Sha256Hash::update(const void* data, std::size_t size) {
    // BCryptHashData counts in ULONG and does not write to its input despite the PUCHAR.
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    NTSTATUS status = 0;
    do {
        const ULONG chunk =
            static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
        status = ::BCryptHashData(native_, bytes, chunk, 0);
        bytes += chunk;
        size -= chunk;
    } while (status >= 0 && size > 0);
    return status;
}

HashStatus Sha256Hash::finish(unsigned char* digest) {
    return ::BCryptFinishHash(native_, digest, static_cast<ULONG>(kSha256Size), 0);
}

bool probeNewFile(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    // CreateFileW asks for DELETE access itself with FILE_FLAG_DELETE_ON_CLOSE.
    ScopedHandle file(::CreateFileW(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

bool writeNewFile(const NativeString& path, const void* data, std::size_t size,
                  std::uint32_t* error, bool /*ownerOnly*/) {
    if (!usablePath(path, error)) {
        return false;
    }
    HANDLE file = createNewForWriting(path);
    if (file == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return false;
    }
    return finishNewFile(path, file, writeAll(file, static_cast<const char*>(data), size), error);
}

bool flushDirectory(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    // Nothing to flush: the renames of this layer are written through. The directory must still
    // be there, as on POSIX.
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

bool deleteFile(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    if (!::DeleteFileW(path.c_str())) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

bool replaceFile(const NativeString& from, const NativeString& to, std::uint32_t* error) {
    if (!usablePath(from, error) || !usablePath(to, error)) {
        return false;
    }
    // MoveFileEx replaces a link standing at `to` rather than the file it points to; write-
    // through so the rename is on disk when the call returns.
    if (!::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

NativeString absolutePath(const NativeString& path) {
    if (path.empty() || path.find(L'\0') != NativeString::npos) {
        return path;
    }
    // The size needed includes the terminating NUL; the path may change in between (another
    // thread setting the current directory), hence the loop.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                                              &buffer[0], nullptr);
        if (size == 0) {
            return path;
        }
        if (size < buffer.size()) {
            buffer.resize(size);
            return buffer;
        }
        buffer.resize(size);
    }
}

bool entryExists(const NativeString& path) {
    std::uint32_t error = 0;
    // The attributes of a link are its own; it is not followed.
    return usablePath(path, &error) &&
           ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::int64_t regularFileSize(const NativeString& path) {
    std::uint32_t error = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    // The attributes of a link are its own; a reparse point of any kind is no regular file here.
    if (!usablePath(path, &error) ||
        !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return -1;
    }
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool createDirectory(const NativeString& path, std::uint32_t* error) {
    if (!usablePath(path, error)) {
        return false;
    }
    if (!::CreateDirectoryW(path.c_str(), nullptr)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

bool renameNoReplace(const NativeString& from, const NativeString& to, std::uint32_t* error) {
    if (!usablePath(from, error) || !usablePath(to, error)) {
        return false;
    }
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

bool copyToNewFile(const NativeString& from, const NativeString& to, std::uint32_t* error) {
    SequentialFile source;
    if (!source.open(from, error) || !usablePath(to, error)) {
        return false;
    }
    HANDLE file = createNewForWriting(to);
    if (file == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return false;
    }
    return finishNewFile(to, file, copyRest(source, file), error);
}

bool syncFileSystem(const NativeString& path, std::uint32_t* error) {
    // Every file of this layer is flushed as it is written and every rename written through.
    return flushDirectory(path, error);
}

DirectoryLock::~DirectoryLock() {
    if (handle_ != kNone) {
        ::CloseHandle(handleOf(handle_));
    }
}

bool DirectoryLock::acquire(const NativeString& directory, std::uint32_t* error) {
    if (handle_ != kNone) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (!usablePath(directory, error)) {
        return false;
    }
    NativeString path = directory;
    if (path.back() != L'\\' && path.back() != L'/') {
        path += L'\\';
    }
    path += L".tavorin-lock";
    // No sharing at all: any second open fails with a sharing violation for as long as this
    // handle lives, and the system closes it when the process ends, however it ends. Deleted on
    // that close, so nothing stays behind but after a power cut an empty file, which the next
    // run opens again. A link planted at the name is opened, and deleted, as itself.
    HANDLE file = ::CreateFileW(
        path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool regularFileStamp(const NativeString& path, FileStamp* stamp) {
    std::uint32_t error = 0;
    if (!usablePath(path, &error)) {
        return false;
    }
    // Attributes only, which no sharing mode of a writer refuses; the reparse point itself.
    ScopedHandle file(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
        nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (file.get() == INVALID_HANDLE_VALUE || ::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return false;
    }
    stamp->volume = info.dwVolumeSerialNumber;
    stamp->file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp->size = (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp->modified = (static_cast<std::int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                      info.ftLastWriteTime.dwLowDateTime;
    return true;
}

std::vector<NativeString> processArguments(int, char**) {
    std::vector<NativeString> arguments;
    int count = 0;
    LPWSTR* parsed = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (parsed != nullptr) {
        arguments.assign(parsed, parsed + count);
        ::LocalFree(parsed);
    }
    return arguments;
}

bool standardErrorIsTerminal() {
    return ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
}

void restrictLibrarySearch() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::uint32_t currentProcessId() {
    return ::GetCurrentProcessId();
}

bool isProcessElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    ScopedHandle owner(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) {
        return false;
    }
    return elevation.TokenIsElevated != 0;
}

ProcessWait waitForProcessExit(std::uint32_t pid, std::uint32_t timeoutMs,
                               std::uint32_t* openError) {
    // Only the right to wait, so that no other missing right can make the open fail.
    ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (process.get() == nullptr) {
        *openError = ::GetLastError();
        return ProcessWait::OpenFailed;
    }
    switch (::WaitForSingleObject(process.get(), timeoutMs)) {
        case WAIT_OBJECT_0:
            return ProcessWait::Ended;
        case WAIT_TIMEOUT:
            return ProcessWait::TimedOut;
        default:
            return ProcessWait::WaitFailed;
    }
}

namespace {

// Checks a start request and builds its command line: the arguments quoted, one space between
// two, `program` first when `withProgram`. 87 for a process already started, or an argument
// holding a NUL, which would end the line there.
bool commandLine(bool started, const NativeString& program,
                 const std::vector<NativeString>& arguments, bool withProgram, std::wstring* line,
                 std::uint32_t* error) {
    if (started) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (!usablePath(program, error)) {
        return false;
    }
    *line = withProgram ? quoteArgument(program) : std::wstring();
    for (const NativeString& argument : arguments) {
        if (argument.find(L'\0') != NativeString::npos) {
            *error = ERROR_INVALID_PARAMETER;
            return false;
        }
        if (!line->empty()) {
            *line += L' ';
        }
        *line += quoteArgument(argument);
    }
    return true;
}

}  // namespace

Process::~Process() {
    if (started()) {
        ::CloseHandle(handleOf(handle_));
    }
    // Without kill-on-close the job's processes go on running; the job ends with the last.
    if (group_ != kNone) {
        ::CloseHandle(handleOf(group_));
    }
}

namespace {

// A primary token of the user whose desktop this is: the shell's (the process of the shell's
// window, Explorer), which an elevated administrator may duplicate. False with *error set when
// there is none (no shell on this desktop: 1168) or it cannot be had.
bool desktopUserToken(HANDLE* token, std::uint32_t* error) {
    const HWND shell = ::GetShellWindow();
    DWORD shellProcessId = 0;
    if (shell == nullptr || ::GetWindowThreadProcessId(shell, &shellProcessId) == 0 ||
        shellProcessId == 0) {
        *error = ERROR_NOT_FOUND;
        return false;
    }
    ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
    HANDLE shellToken = nullptr;
    if (process.get() == nullptr ||
        !::OpenProcessToken(process.get(), TOKEN_DUPLICATE, &shellToken)) {
        *error = ::GetLastError();
        return false;
    }
    ScopedHandle ownedShellToken(shellToken);
    if (!::DuplicateTokenEx(shellToken,
                            TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                                TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                            nullptr, SecurityImpersonation, TokenPrimary, token)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

// Starts the command line `line` as the desktop's user, in `program`'s directory and with that
// user's environment (CreateProcessWithTokenW, which the Secondary Logon service carries out;
// an elevated administrator holds the impersonation right it needs). False with *error set.
bool startAsDesktopUser(const NativeString& program, std::wstring line, DWORD flags,
                        PROCESS_INFORMATION* info, std::uint32_t* error) {
    HANDLE token = nullptr;
    if (!desktopUserToken(&token, error)) {
        return false;
    }
    ScopedHandle ownedToken(token);
    const std::wstring directory = program.substr(0, program.find_last_of(L"\\/") + 1);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!::CreateProcessWithTokenW(token, 0, nullptr, &line[0], flags | CREATE_UNICODE_ENVIRONMENT,
                                   nullptr, directory.empty() ? nullptr : directory.c_str(),
                                   &startup, info)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

}  // namespace

bool Process::start(const NativeString& program, const std::vector<NativeString>& arguments,
                    std::uint32_t* error, ProcessGroup group, ProcessUser user,
                    std::uint32_t* desktopError) {
    std::wstring line;
    if (!commandLine(started(), program, arguments, true, &line, error)) {
        return false;
    }
    // No limits, and no breakaway either: a helper started with CREATE_BREAKAWAY_FROM_JOB
    // would outlive terminateGroup. Jobs nest (Windows 8 on), so this works whether or not
    // this program runs in a job of its own caller.
    HANDLE job = nullptr;
    if (group == ProcessGroup::Own && (job = ::CreateJobObjectW(nullptr, nullptr)) == nullptr) {
        *error = ::GetLastError();
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // No application name: the program is the first token of the command line, which the
    // started process reads its own element 0 from. The line is writable, as the call wants.
    // Suspended until it is in its job, so that nothing it starts runs outside.
    const DWORD flags = job != nullptr ? CREATE_SUSPENDED : 0;
    const auto joined = [&](std::uint32_t* failure) {
        if (job == nullptr || ::AssignProcessToJobObject(job, info.hProcess)) {
            return true;
        }
        *failure = ::GetLastError();
        ::TerminateProcess(info.hProcess, 1);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        return false;
    };
    // A process that the secondary logon service starts may sit in a job of the service's that
    // will not take ours: it goes again, and the start is made with this program's rights.
    std::uint32_t notAsDesktopUser = 0;
    const bool asDesktopUser = user == ProcessUser::Desktop &&
                               startAsDesktopUser(program, line, flags, &info, &notAsDesktopUser) &&
                               joined(&notAsDesktopUser);
    if (desktopError != nullptr) {
        *desktopError = notAsDesktopUser;
    }
    if (!asDesktopUser) {
        if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                              &startup, &info)) {
            *error = ::GetLastError();
            if (job != nullptr) {
                ::CloseHandle(job);
            }
            return false;
        }
        // A job this program runs in that takes no nested one: the process runs all the same,
        // without a group of its own, as it did before groups (terminateGroup ends it alone).
        if (job != nullptr && !::AssignProcessToJobObject(job, info.hProcess)) {
            ::CloseHandle(job);
            job = nullptr;
        }
    }
    if (flags != 0 && ::ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
        *error = ::GetLastError();
        ::TerminateProcess(info.hProcess, 1);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        if (job != nullptr) {
            ::CloseHandle(job);
        }
        return false;
    }
    ::CloseHandle(info.hThread);
    handle_ = reinterpret_cast<std::intptr_t>(info.hProcess);
    group_ = job != nullptr ? reinterpret_cast<std::intptr_t>(job) : kNone;
    id_ = info.dwProcessId;
    return true;
}

bool Process::startElevated(const NativeString& program, const std::vector<NativeString>& arguments,
                            std::uint32_t* error) {
    std::wstring parameters;
    if (!commandLine(started(), program, arguments, false, &parameters, error)) {
        return false;
    }
    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_NOCLOSEPROCESS;
    request.lpVerb = L"runas";
    request.lpFile = program.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&request)) {
        *error = ::GetLastError();
        return false;
    }
    if (request.hProcess != nullptr) {
        handle_ = reinterpret_cast<std::intptr_t>(request.hProcess);
        id_ = ::GetProcessId(request.hProcess);
    }
    return true;
}

ProcessWait Process::wait(std::uint32_t timeoutMs) {
    if (!started()) {
        return ProcessWait::WaitFailed;
    }
    switch (::WaitForSingleObject(handleOf(handle_), timeoutMs)) {
        case WAIT_OBJECT_0:
            return ProcessWait::Ended;
        case WAIT_TIMEOUT:
            return ProcessWait::TimedOut;
        default:
            return ProcessWait::WaitFailed;
    }
}

bool Process::exitCode(std::uint32_t* code) {
    // STILL_ACTIVE (259) is also a code a process may end with; only the wait tells them apart.
    DWORD value = 0;
    if (wait(0) != ProcessWait::Ended || !::GetExitCodeProcess(handleOf(handle_), &value)) {
        return false;
    }
    *code = value;
    return true;
}

bool Process::terminate(std::uint32_t* error) {
    if (!started()) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (!::TerminateProcess(handleOf(handle_), 1)) {
        const DWORD failure = ::GetLastError();
        if (wait(0) == ProcessWait::Ended) {
            return true;
        }
        *error = failure;
        return false;
    }
    return true;
}

bool Process::terminateGroup(std::uint32_t timeoutMs, std::uint32_t* error) {
    if (group_ == kNone) {
        return terminate(error);
    }
    const HANDLE job = handleOf(group_);
    if (!::TerminateJobObject(job, 1)) {
        *error = ::GetLastError();
        return false;
    }
    // TerminateJobObject only starts the end of each process; a process counts as active
    // until it is gone, its mapped files with it.
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                         sizeof accounting, nullptr)) {
            *error = ::GetLastError();
            return false;
        }
        if (accounting.ActiveProcesses == 0 && wait(0) == ProcessWait::Ended) {
            return true;
        }
        if (::GetTickCount64() >= deadline) {
            *error = ERROR_TIMEOUT;
            return false;
        }
        ::Sleep(5);
    }
}

bool startElevatedDetached(const NativeString& program, const std::vector<NativeString>& arguments,
                           std::uint32_t* error) {
    Process copy;
    return copy.startElevated(program, arguments, error);
}

bool elevationRefused(std::uint32_t, std::uint32_t*) {
    return false;
}

// Held directories. Every name below one is opened relative to its handle (NtCreateFile with a
// root directory), one component at a time, as the entry itself: a reparse point is opened, not
// followed. A name surrogate (symbolic link, junction, mount point) is a link and refused or
// removed as one entry; any other reparse point (a cloud placeholder, a deduplicated or
// compressed file) is an ordinary file or directory, opened again through its filter and only
// if it is still the same file. Renames and deletions go through the handle of the entry itself
// (FileRenameInformation with a root directory, FileDispositionInformation).
namespace {

constexpr NTSTATUS kStatusObjectNameCollision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kStatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003AL);
constexpr ACCESS_MASK kDirectoryAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handleOf(const Directory& directory) {
    return handleOf(directory.native());
}

// The Windows error of an NT status; a name taken is 80 on every platform.
std::uint32_t errorOf(NTSTATUS status) {
    return status == kStatusObjectNameCollision ? ERROR_FILE_EXISTS
                                                : ::RtlNtStatusToDosError(status);
}

bool usableName(const NativeString& name, std::uint32_t* error) {
    if (!usablePath(name, error) || name == L"." || name == L".." ||
        name.find_first_of(L"/\\") != NativeString::npos) {
        *error = kErrorInvalidName;
        return false;
    }
    if (name.size() > 32767 / sizeof(wchar_t)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    return true;
}

// NtCreateFile of `name` relative to `parent`, synchronous, the entry itself when it is a
// reparse point.
NTSTATUS createRelative(HANDLE parent, const NativeString& name, ACCESS_MASK access, ULONG share,
                        ULONG disposition, ULONG options, HANDLE* handle) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io;
    *handle = nullptr;
    return ::NtCreateFile(
        handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

// What an open handle is. A reparse point is a link only when its tag is a name surrogate.
EntryType typeOf(HANDLE handle, std::int64_t* size, bool* otherReparsePoint = nullptr) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
        return EntryType::Other;
    }
    const bool reparse = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (isLinkReparsePoint(tag.FileAttributes, tag.ReparseTag)) {
        return EntryType::Link;
    }
    if (otherReparsePoint != nullptr) {
        *otherReparsePoint = reparse;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EntryType::Directory;
    }
    FILE_STANDARD_INFO standard;
    if (::GetFileType(handle) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
        return EntryType::Other;
    }
    if (size != nullptr) {
        *size = standard.EndOfFile.QuadPart;
    }
    return EntryType::File;
}

bool sameFile(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    return ::GetFileInformationByHandle(first, &a) && ::GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Opens the existing entry `name` below `parent` as what it is: *type says what, and a link is
// opened as the link. With `throughFilter` (to read a file, or to list or enter a directory) an
// ordinary file or directory behind a reparse point of another kind is opened again through its
// filter, so that its content is there: from the first handle, never by name, so that nothing
// swapped in at the name meanwhile is reached. False with *error set when it cannot be opened.
bool openEntry(HANDLE parent, const NativeString& name, ACCESS_MASK access, ULONG share,
               ULONG options, HANDLE* handle, EntryType* type, std::uint32_t* error,
               std::int64_t* size = nullptr, bool throughFilter = false) {
    if (!usableName(name, error)) {
        return false;
    }
    const NTSTATUS status = createRelative(parent, name, access | FILE_READ_ATTRIBUTES, share,
                                           FILE_OPEN, options, handle);
    if (status < 0) {
        *error = errorOf(status);
        return false;
    }
    bool otherReparsePoint = false;
    *type = typeOf(*handle, size, &otherReparsePoint);
    if (!otherReparsePoint || !throughFilter) {
        return true;
    }
    // An empty name relative to a file's handle opens that same file again.
    UNICODE_STRING same;
    same.Buffer = nullptr;
    same.Length = 0;
    same.MaximumLength = 0;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &same, 0, *handle, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE through = nullptr;
    const NTSTATUS again =
        ::NtCreateFile(&through, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io,
                       nullptr, FILE_ATTRIBUTE_NORMAL, share, FILE_OPEN,
                       options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    const bool sameFileAgain = again >= 0 && sameFile(*handle, through);
    ::CloseHandle(*handle);
    *handle = nullptr;
    if (!sameFileAgain) {
        if (again >= 0) {
            ::CloseHandle(through);
        }
        *error = again >= 0 ? kErrorLinkOnTheWay : errorOf(again);
        return false;
    }
    *handle = through;
    return true;
}

// Marks the open entry for deletion. Where the system has it, the name goes at once even while
// others (a virus scanner, the indexer) still hold the file open, and with `ignoreReadOnly` a
// read-only file goes too; elsewhere the classic call, the read-only attribute cleared first
// where asked (the handle then needs FILE_WRITE_ATTRIBUTES).
std::uint32_t markDeleted(HANDLE handle, bool ignoreReadOnly = false) {
    constexpr ULONG kDelete = 0x1;
    constexpr ULONG kPosixSemantics = 0x2;
    constexpr ULONG kIgnoreReadOnly = 0x10;
    constexpr int kFileDispositionInformationEx = 64;
    constexpr NTSTATUS kNotThere[] = {
        static_cast<NTSTATUS>(0xC0000002L),  // STATUS_NOT_IMPLEMENTED
        static_cast<NTSTATUS>(0xC0000003L),  // STATUS_INVALID_INFO_CLASS
        static_cast<NTSTATUS>(0xC000000DL),  // STATUS_INVALID_PARAMETER
        static_cast<NTSTATUS>(0xC00000BBL),  // STATUS_NOT_SUPPORTED
    };
    ULONG flags = kDelete | kPosixSemantics | (ignoreReadOnly ? kIgnoreReadOnly : 0);
    IO_STATUS_BLOCK io;
    NTSTATUS status =
        ::NtSetInformationFile(handle, &io, &flags, sizeof flags,
                               static_cast<FILE_INFORMATION_CLASS>(kFileDispositionInformationEx));
    if (status >= 0) {
        return ERROR_SUCCESS;
    }
    if (std::find(std::begin(kNotThere), std::end(kNotThere), status) == std::end(kNotThere)) {
        return ::RtlNtStatusToDosError(status);
    }
    FILE_BASIC_INFO basic;
    if (ignoreReadOnly &&
        ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFORMATION disposition;
    disposition.DoDeleteFile = TRUE;
    status = ::NtSetInformationFile(handle, &io, &disposition, sizeof disposition,
                                    FileDispositionInformation);
    return status < 0 ? ::RtlNtStatusToDosError(status) : ERROR_SUCCESS;
}

// Renames the entry `fromName` itself (a link as the link) to `toName` in `to`.
bool renameAt(const Directory& from, const NativeString& fromName, const Directory& to,
              const NativeString& toName, bool replace, std::uint32_t* error) {
    if (!usableName(fromName, error) || !usableName(toName, error)) {
        return false;
    }
    HANDLE raw = nullptr;
    // Written through, as MoveFileEx with MOVEFILE_WRITE_THROUGH opens its source.
    const NTSTATUS opened = createRelative(handleOf(from), fromName, DELETE, kShareAll, FILE_OPEN,
                                           FILE_OPEN_FOR_BACKUP_INTENT | FILE_WRITE_THROUGH, &raw);
    if (opened < 0) {
        *error = errorOf(opened);
        return false;
    }
    ScopedHandle entry(raw);
    const std::size_t bytes = toName.size() * sizeof(wchar_t);
    // Never shorter than the structure itself, which the system checks first.
    std::vector<char> buffer(std::max(sizeof(FILE_RENAME_INFORMATION),
                                      offsetof(FILE_RENAME_INFORMATION, FileName) + bytes));
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = handleOf(to);
    rename->FileNameLength = static_cast<ULONG>(bytes);
    std::copy(toName.begin(), toName.end(), rename->FileName);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = ::NtSetInformationFile(
        entry.get(), &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    if (status < 0) {
        *error = errorOf(status);
        return false;
    }
    return true;
}

// Creates the new file `name` in `directory` for writing, able to delete itself again.
bool createFileAt(const Directory& directory, const NativeString& name, HANDLE* file,
                  std::uint32_t* error) {
    if (!usableName(name, error)) {
        return false;
    }
    const NTSTATUS status =
        createRelative(handleOf(directory), name, GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                       FILE_CREATE, FILE_NON_DIRECTORY_FILE, file);
    if (status < 0) {
        *error = errorOf(status);
        return false;
    }
    return true;
}

// Flushes and closes a file of createFileAt, deleting it when anything failed.
bool finishFileAt(HANDLE file, DWORD failure, std::uint32_t* error) {
    if (failure == ERROR_SUCCESS && !::FlushFileBuffers(file)) {
        failure = ::GetLastError();
    }
    if (failure != ERROR_SUCCESS) {
        markDeleted(file);
    }
    if (!::CloseHandle(file) && failure == ERROR_SUCCESS) {
        failure = ::GetLastError();
    }
    if (failure != ERROR_SUCCESS) {
        *error = failure;
        return false;
    }
    return true;
}

}  // namespace

void Directory::close() {
    if (handle_ != kClosed) {
        ::CloseHandle(handleOf(handle_));
        handle_ = kClosed;
    }
}

bool Directory::open(const NativeString& path, std::uint32_t* error) {
    close();
    if (!usablePath(path, error)) {
        return false;
    }
    HANDLE handle =
        ::CreateFileW(path.c_str(), kDirectoryAccess, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return false;
    }
    const EntryType type = typeOf(handle, nullptr);
    if (type != EntryType::Directory) {
        ::CloseHandle(handle);
        *error = type == EntryType::Link ? kErrorLinkOnTheWay : kErrorPathNotFound;
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool Directory::openBelow(const Directory& parent, const NativeString& relative,
                          std::uint32_t* error) {
    close();
    HANDLE current = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handleOf(parent), ::GetCurrentProcess(), &current,
                           0, FALSE, DUPLICATE_SAME_ACCESS)) {
        *error = ::GetLastError();
        return false;
    }
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t slash = relative.find(L'/', start);
        if (slash == NativeString::npos) {
            slash = relative.size();
        }
        const NativeString name = relative.substr(start, slash - start);
        start = slash + 1;
        HANDLE next = nullptr;
        EntryType type = EntryType::Missing;
        const bool opened =
            openEntry(current, name, kDirectoryAccess, kShareAll, FILE_OPEN_FOR_BACKUP_INTENT,
                      &next, &type, error, nullptr, true);
        ::CloseHandle(current);
        if (!opened) {
            if (*error == ERROR_FILE_NOT_FOUND && start < relative.size()) {
                *error = ERROR_PATH_NOT_FOUND;
            }
            return false;
        }
        if (type != EntryType::Directory) {
            ::CloseHandle(next);
            *error = type == EntryType::Link ? kErrorLinkOnTheWay : kErrorPathNotFound;
            return false;
        }
        current = next;
    }
    handle_ = reinterpret_cast<std::intptr_t>(current);
    return true;
}

EntryType entryTypeAt(const Directory& directory, const NativeString& name, std::int64_t* size) {
    if (size != nullptr) {
        *size = -1;
    }
    HANDLE handle = nullptr;
    EntryType type = EntryType::Missing;
    std::uint32_t error = 0;
    std::int64_t fileSize = -1;
    if (!openEntry(handleOf(directory), name, 0, kShareAll, FILE_OPEN_FOR_BACKUP_INTENT, &handle,
                   &type, &error, &fileSize)) {
        return EntryType::Missing;
    }
    ::CloseHandle(handle);
    if (size != nullptr && type == EntryType::File) {
        *size = fileSize;
    }
    return type;
}

bool listDirectory(const Directory& directory, std::vector<DirectoryEntry>* entries,
                   std::uint32_t* error) {
    entries->clear();
    std::vector<char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(handleOf(directory), kind, buffer.data(),
                                            static_cast<DWORD>(buffer.size()))) {
            const DWORD failure = ::GetLastError();
            if (failure == ERROR_NO_MORE_FILES) {
                return true;
            }
            *error = failure;
            return false;
        }
        kind = FileFullDirectoryInfo;
        for (std::size_t offset = 0;;) {
            const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + offset);
            const NativeString name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                DirectoryEntry entry;
                entry.name = name;
                entry.type = entryTypeAt(directory, name, &entry.size);
                entry.hidden = (info->FileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
                entries->push_back(entry);
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            offset += info->NextEntryOffset;
        }
    }
}

bool createDirectoryAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    if (!usableName(name, error)) {
        return false;
    }
    HANDLE handle = nullptr;
    const NTSTATUS status = createRelative(handleOf(directory), name, FILE_LIST_DIRECTORY,
                                           kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE, &handle);
    if (status < 0) {
        *error = errorOf(status);
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

bool renameNoReplaceAt(const Directory& from, const NativeString& fromName, const Directory& to,
                       const NativeString& toName, std::uint32_t* error) {
    return renameAt(from, fromName, to, toName, false, error);
}

bool replaceFileAt(const Directory& from, const NativeString& fromName, const Directory& to,
                   const NativeString& toName, std::uint32_t* error) {
    if (entryTypeAt(to, toName) == EntryType::Directory) {
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
    return renameAt(from, fromName, to, toName, true, error);
}

namespace {

// Deletes the entry `name` when it is of `wanted` type (a file: 5 for a directory; a directory:
// 267 for anything else), through its own handle.
bool deleteEntryAt(const Directory& directory, const NativeString& name, EntryType wanted,
                   std::uint32_t* error) {
    HANDLE raw = nullptr;
    EntryType type = EntryType::Missing;
    if (!openEntry(handleOf(directory), name, DELETE, kShareAll, FILE_OPEN_FOR_BACKUP_INTENT, &raw,
                   &type, error)) {
        return false;
    }
    ScopedHandle entry(raw);
    const bool isDirectory = type == EntryType::Directory;
    const std::uint32_t failure = isDirectory != (wanted == EntryType::Directory)
                                      ? (isDirectory ? ERROR_ACCESS_DENIED : ERROR_DIRECTORY)
                                      : markDeleted(entry.get());
    if (failure != ERROR_SUCCESS) {
        *error = failure;
        return false;
    }
    return true;
}

}  // namespace

bool deleteFileAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    return deleteEntryAt(directory, name, EntryType::File, error);
}

bool copyToNewFileAt(const Directory& from, const NativeString& fromName, const Directory& to,
                     const NativeString& toName, std::uint32_t* error) {
    SequentialFile source;
    HANDLE file = nullptr;
    if (!openFileAt(source, from, fromName, error) || !createFileAt(to, toName, &file, error)) {
        return false;
    }
    return finishFileAt(file, copyRest(source, file), error);
}

bool writeNewFileAt(const Directory& directory, const NativeString& name, const void* data,
                    std::size_t size, std::uint32_t* error, bool /*ownerOnly*/) {
    HANDLE file = nullptr;
    return createFileAt(directory, name, &file, error) &&
           finishFileAt(file, writeAll(file, static_cast<const char*>(data), size), error);
}

bool removeDirectoryAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    return deleteEntryAt(directory, name, EntryType::Directory, error);
}

bool removeTreeAt(const Directory& directory, const NativeString& name, std::uint32_t* error) {
    HANDLE raw = nullptr;
    EntryType type = EntryType::Missing;
    if (!openEntry(handleOf(directory), name, DELETE | FILE_WRITE_ATTRIBUTES | kDirectoryAccess,
                   kShareAll, FILE_OPEN_FOR_BACKUP_INTENT, &raw, &type, error)) {
        return false;
    }
    ScopedHandle entry(raw);
    bool ok = true;
    if (type == EntryType::Directory) {
        Directory inside;
        std::vector<DirectoryEntry> entries;
        ok = inside.openBelow(directory, name, error) && listDirectory(inside, &entries, error);
        for (const DirectoryEntry& child : entries) {
            ok = removeTreeAt(inside, child.name, error) && ok;
        }
    }
    // What this program backed up may have been read-only; it goes all the same.
    const std::uint32_t failure = ok ? markDeleted(entry.get(), true) : ERROR_SUCCESS;
    if (failure != ERROR_SUCCESS) {
        *error = failure;
        return false;
    }
    return ok;
}

bool openFileAt(SequentialFile& file, const Directory& directory, const NativeString& name,
                std::uint32_t* error) {
    file.close();
    HANDLE handle = nullptr;
    EntryType type = EntryType::Missing;
    if (!openEntry(handleOf(directory), name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                   FILE_SEQUENTIAL_ONLY, &handle, &type, error, nullptr, true)) {
        return false;
    }
    if (type != EntryType::File) {
        ::CloseHandle(handle);
        *error = type == EntryType::Link ? kErrorLinkOnTheWay : ERROR_ACCESS_DENIED;
        return false;
    }
    file.handle_ = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool flushDirectory(const Directory& directory, std::uint32_t* error) {
    // As for a path: the renames of this layer are written through.
    if (!directory.isOpen()) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    return true;
}

bool syncFileSystem(const Directory& directory, std::uint32_t* error) {
    return flushDirectory(directory, error);
}

}  // namespace platform
