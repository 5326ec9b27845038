// Tests of the OS layer. The same cases run natively, as a mingw-w64 build under Wine, and on
// Windows; what Wine cannot judge is left out there, with the reason. The children of the process
// cases are this program again, in one of the modes of main().
#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "directory.h"
#include "harness.h"
#include "test_support.h"

using namespace platform;
using testsupport::selfPath;
namespace fs = std::filesystem;

#ifdef _WIN32
#define WINDOWS_OR_POSIX(windows, posix) (windows)
#else
#define WINDOWS_OR_POSIX(windows, posix) (posix)
#endif

namespace {

std::uint32_t e = 0;  // the error of the call made last
// Holds every case's scratch directories; main() removes it at the end.
const fs::path kScratch =
    fs::temp_directory_path() / ("lu-platform-test-" + std::to_string(currentProcessId()));

NativeString native(const std::string& text) {
    return NativeString(text.begin(), text.end());
}

bool writeFile(const fs::path& path, const std::string& bytes) {
    return std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size()).good();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<unreadable>";
}

// A new empty directory. A path converts to the NativeString the layer takes.
fs::path scratch() {
    static int count = 0;
    const fs::path path = kScratch / std::to_string(++count);
    fs::create_directories(path);
    return path;
}

// What stands at `path`, without following a link: a file as its bytes.
std::string describe(const fs::path& path) {
    std::error_code ignored;
    const fs::file_type type = fs::symlink_status(path, ignored).type();
    return type == fs::file_type::not_found ? "missing"
           : type == fs::file_type::regular ? readFile(path)
           : type == fs::file_type::directory
               ? "dir:" + std::to_string(std::distance(fs::directory_iterator(path), {}))
           : type == fs::file_type::symlink ? "link"
                                            : "other";
}

// Where an operation of the table below is done: the entry under test is `name` in `at` (at
// `path` by name); "src" is a file in `dir`, at `src` by name.
struct Place {
    NativeString path, name, src;
    Directory dir, at;
};
const NativeString S = native("src"), C = native("copy");
SequentialFile file;
FileStamp stamp;
std::int64_t size = 0;
// X: not run. E: something stands there, for a new directory or name. M: a missing directory on
// the way, to Directory::open. F: a flush of a file, which Windows only checks to be there.
constexpr std::int64_t X = -9, E = WINDOWS_OR_POSIX(183, 80), M = WINDOWS_OR_POSIX(3, 2),
                       F = WINDOWS_OR_POSIX(0, 3);

// Each kind of entry that may stand at a path; the links, the FIFO and the device on POSIX.
const char* const kKinds[] = {"missing", "no parent",    "file",        "directory",
                              "NUL",     "link to file", "link to dir", "dangling link",
                              "FIFO",    "device"};
constexpr std::size_t kFirstPosixOnly = 5;

// A call's result: 0 when it succeeded, else its error; what a query found as it is.
struct Result {
    Result(bool succeeded) : value(succeeded ? 0 : e) {}
    Result(std::int64_t found) : value(found) {}
    Result(EntryType type) : value(10 * std::int64_t(type)) {}
    std::int64_t value;
};

// Each kind under each operation by name and below a held directory: what stands at the entry
// after the operation succeeded ("": as before), the call, and then what it returns for each
// kind (0 or the Windows error, or what a query found; X: not run, a device is never written).
// Types are 10 * EntryType: 0 missing, 10 file, 20 directory, 30 link, 40 other.
// clang-format off
#define OP(after, f, ...) {#f, after, [](Place& p) { return Result(f).value; }, {__VA_ARGS__}}
// clang-format on
const struct Operation {
    const char *call, *after;
    std::int64_t (*run)(Place&);
    std::int64_t expected[std::size(kKinds)];
} kOperations[] = {
    // after, call; then missing, no parent, file, directory, NUL, link to file, link to dir,
    // dangling link, FIFO, device
    // clang-format off
    OP("", file.open(p.path, &e), 2, 3, 0, 5, 123, 0, 5, 2, 5, 5),
    OP("", probeNewFile(p.path, &e), 0, 3, 80, 80, 123, 80, 80, 80, 80, X),
    OP("new", writeNewFile(p.path, "new", 3, &e), 0, 3, 80, 80, 123, 80, 80, 80, 80, X),
    OP("src", copyToNewFile(p.src, p.path, &e), 0, 3, 80, 80, 123, 80, 80, 80, 80, X),
    OP("src", renameNoReplace(p.src, p.path, &e), 0, 3, E, E, 123, 80, 80, 80, 80, X),
    OP("src", replaceFile(p.src, p.path, &e), 0, 3, 0, 5, 123, 0, 0, 0, 0, X),
    OP("missing", deleteFile(p.path, &e), 2, 3, 0, 5, 123, 0, 0, 0, 0, X),
    OP("dir:0", createDirectory(p.path, &e), 0, 3, E, E, 123, 80, 80, 80, 80, X),
    OP("", copyToNewFile(p.path, p.src + C, &e), 2, 3, 0, 5, 123, 0, 5, 2, 5, 5),
    OP("", regularFileSize(p.path), -1, -1, 3, -1, -1, -1, -1, -1, -1, -1),
    OP("", std::int64_t(regularFileStamp(p.path, &stamp)), 0, 0, 1, 0, 0, 0, 0, 0, 0, 0),
    OP("", std::int64_t(entryExists(p.path)), 0, 0, 1, 1, 0, 1, 1, 1, 1, 1),
    OP("", flushDirectory(p.path, &e), 2, 3, F, 0, 123, 3, 0, 2, 3, X),
    OP("", Directory().open(p.path, &e), 2, M, 3, 0, 123, 1921, 1921, 1921, 3, X),
    OP("", openFileAt(file, p.at, p.name, &e), 2, X, 0, 5, 123, 1921, 1921, 1921, 5, 5),
    OP("new", writeNewFileAt(p.at, p.name, "new", 3, &e), 0, X, 80, 80, 123, 80, 80, 80, 80, X),
    OP("src", copyToNewFileAt(p.dir, S, p.at, p.name, &e), 0, X, 80, 80, 123, 80, 80, 80, 80, X),
    OP("src", renameNoReplaceAt(p.dir, S, p.at, p.name, &e), 0, X, 80, 80, 123, 80, 80, 80, 80, X),
    OP("src", replaceFileAt(p.dir, S, p.at, p.name, &e), 0, X, 0, 5, 123, 0, 0, 0, 0, X),
    OP("missing", deleteFileAt(p.at, p.name, &e), 2, X, 0, 5, 123, 0, 0, 0, 0, X),
    OP("dir:0", createDirectoryAt(p.at, p.name, &e), 0, X, 80, 80, 123, 80, 80, 80, 80, X),
    OP("", copyToNewFileAt(p.at, p.name, p.dir, C, &e), 2, X, 0, 5, 123, 1921, 1921, 1921, 5, 5),
    OP("", entryTypeAt(p.at, p.name, &size), 0, X, 10, 20, 0, 30, 30, 30, 40, 40),
    OP("", (entryTypeAt(p.at, p.name, &size), size), -1, X, 3, -1, -1, -1, -1, -1, -1, -1),
    OP("missing", removeDirectoryAt(p.at, p.name, &e), 2, X, 267, 145, 123, 267, 267, 267, 267, X),
    OP("missing", removeTreeAt(p.at, p.name, &e), 2, X, 0, 0, 123, 0, 0, 0, 0, X),
    OP("", Directory().openBelow(p.at, p.name, &e), 2, X, 3, 0, 123, 1921, 1921, 1921, 3, X),
    // clang-format on
};

}  // namespace

// What stands at an entry is never followed, replaced or written through unless the operation
// replaces (replace) or removes (delete, rmdir, tree) it, and then only the entry itself goes.
TEST_CASE(every_kind_of_entry_under_every_operation) {
    const fs::path s = scratch();
    REQUIRE(fs::create_directories(s / "outside/sub") && writeFile(s / "outside/secret", "secret"));
    for (const Operation& operation : kOperations) {
        for (std::size_t k = 0; k < WINDOWS_OR_POSIX(kFirstPosixOnly, std::size(kKinds)); ++k) {
            const std::string kind = kKinds[k];
            harness::row = std::string(operation.call) + " / " + kind;
            const fs::path work = scratch(), entry = work / "entry";
            const fs::path at = kind == "no parent" ? work / "none/entry"
                                : kind == "device"  ? fs::path("/dev/zero")
                                                    : entry;
            const NativeString nul = native(kind == "NUL" ? std::string(1, '\0') + "x" : "");
            Place p{at.native() + nul, at.filename().native() + nul, work / "src", {}, {}};
            REQUIRE(writeFile(work / "src", "src"));
            REQUIRE((kind != "file" && kind != "NUL") || writeFile(entry, "old"));
            REQUIRE(kind != "directory" ||
                    (fs::create_directory(entry) && writeFile(entry / "i", "")));
#ifndef _WIN32
            const char* target = kind == "link to file"  ? "outside/secret"
                                 : kind == "link to dir" ? "outside"
                                                         : "none";
            REQUIRE(kind.find("link") == std::string::npos ||
                    ::symlink((s / target).c_str(), entry.c_str()) == 0);
            REQUIRE(kind != "FIFO" || ::mkfifo(entry.c_str(), 0600) == 0);
#endif
            REQUIRE(p.dir.open(work, &e));
            p.at.open(at.parent_path(), &e);
            const std::string before = describe(entry);
            CHECK_EQ(operation.expected[k] == X ? X : operation.run(p), operation.expected[k]);
            file.close();
            const bool changed = *operation.after && operation.expected[k] == 0;
            CHECK_EQ(describe(entry), changed ? operation.after : before);
            CHECK(readFile(s / "outside/secret") == "secret" &&
                  fs::is_directory(s / "outside/sub"));
        }
    }
}

// What counts as a link on Windows, by attributes and reparse tag: a name surrogate (a symbolic
// link, a junction) that is marked a reparse point; not a cloud placeholder or an app execution
// alias, nor a surrogate tag without the attribute.
TEST_CASE(only_name_surrogates_are_links) {
    for (const auto& [attributes, tag, link] : {std::tuple{0x400u, 0xA000000Cu, true},
                                                {0x410u, 0xA0000003u, true},
                                                {0x410u, 0x9000601Au, false},
                                                {0x400u, 0x8000001Bu, false},
                                                {0x10u, 0xA0000003u, false}}) {
        harness::row = std::to_string(tag);
        CHECK_EQ(isLinkReparsePoint(attributes, tag), link);
    }
}

// Below a held directory a name is one component; a tree goes whole through its handles, a
// read-only file too (as an original moved into a backup may be), and a directory of 250
// characters on Windows, where that is past 260 whatever the temporary directory.
TEST_CASE(held_directory_takes_single_names_and_removes_trees) {
    const fs::path s = scratch();
    const std::string deep = WINDOWS_OR_POSIX(std::string(250, 'd'), "d");
    REQUIRE(fs::create_directories(s / "tree/a/b") && writeFile(s / "tree/g", "g"));
    Directory root, tree;
    REQUIRE(root.open(s, &e) && tree.openBelow(root, native("tree/a/b"), &e));
    REQUIRE(createDirectoryAt(tree, native(deep), &e) &&
            writeNewFile(WINDOWS_OR_POSIX(L"\\\\?\\", "") +
                             (s / "tree/a/b" / deep / "f").make_preferred().native(),
                         "f", 1, &e));
    fs::permissions(s / "tree/g", fs::perms::owner_read);
    for (const char* bad : {"", ".", "..", "tree/a"}) {
        harness::row = bad;
        CHECK(!createDirectoryAt(root, native(bad), &e) && e == kErrorInvalidName);
    }
    harness::row.clear();
    CHECK(flushDirectory(root, &e) && syncFileSystem(root, &e) && syncFileSystem(s, &e));
    tree.close();  // Windows removes a directory only once no handle holds it
    CHECK(removeTreeAt(root, native("tree"), &e) && fs::is_empty(s));
}

#ifdef _WIN32
TEST_CASE(open_file_keeps_writers_out_but_not_deleters_and_devices_are_refused) {
    const fs::path s = scratch();
    REQUIRE(writeFile(s / "shared", "abc") && file.open(s / "shared", &e));
    CHECK_EQ(testsupport::openForWritingError(s / "shared"), kErrorSharingViolation);
    CHECK(deleteFile(s / "shared", &e));
    file.close();
    // A reserved name opens its device, spaces before the extension or not.
    CHECK(!file.open(s / "nul .txt", &e) && e == kErrorAccessDenied);
}
#else
// A held directory swapped for a link to the outside after it was opened: what is done through
// it stays in the real directory, and a new walk through its old name stops at the link, a
// trailing separator or not.
TEST_CASE(held_directory_swapped_for_a_link_stays_where_it_was) {
    const fs::path s = scratch();
    REQUIRE(fs::create_directories(s / "inst/data") && fs::create_directories(s / "outside/sub"));
    Directory inst, data, again;
    REQUIRE(inst.open(s / "inst", &e) && data.openBelow(inst, "data", &e));
    fs::rename(s / "inst/data", s / "inst/moved");
    fs::create_directory_symlink(s / "outside", s / "inst/data");
    CHECK(writeNewFileAt(data, "new", "n", 1, &e) && readFile(s / "inst/moved/new") == "n");
    CHECK(!again.openBelow(inst, "data/sub", &e) && e == kErrorLinkOnTheWay);
    CHECK(!again.open((s / "inst/data/").native(), &e) && e == kErrorLinkOnTheWay);
}

// An installed file is never writable by others, nor setuid, setgid or sticky: a root-owned copy
// of a staged 0666 or 4777 file would let any user replace what the next elevated run starts.
TEST_CASE(copy_keeps_the_permissions_but_no_write_for_others) {
    const fs::path s = scratch();
    REQUIRE(writeFile(s / "tool", "#!/bin/sh\n"));
    for (const auto& [staged, copied] :
         {std::pair{0750u, 0750u}, {0666u, 0644u}, {07777u, 0755u}}) {
        harness::row = std::to_string(staged);
        const fs::path copy = s / std::to_string(staged);
        struct stat st;
        REQUIRE(::chmod((s / "tool").c_str(), staged) == 0 && copyToNewFile(s / "tool", copy, &e));
        REQUIRE(::stat(copy.c_str(), &st) == 0);
        CHECK_EQ(st.st_mode & 07777, copied);
    }
}

// A file size limit below the file stops the write partway, as a full disk would.
TEST_CASE(new_file_that_cannot_be_written_whole_is_gone) {
    const fs::path s = scratch();
    const std::string bytes(8192, 'x');
    rlimit previous;
    REQUIRE(writeFile(s / "source", bytes) && ::getrlimit(RLIMIT_FSIZE, &previous) == 0);
    const rlimit limited = {4096, previous.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN);
    REQUIRE(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
    const bool written = writeNewFile(s / "written", bytes.data(), bytes.size(), &e);
    const bool copied = copyToNewFile(s / "source", s / "copied", &e);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::signal(SIGXFSZ, SIG_DFL);
    CHECK(!written && !copied && !entryExists(s / "written") && !entryExists(s / "copied"));
}
#endif

// One run at a time: the lock holds against a second owner, and goes with its owner.
TEST_CASE(directory_lock_is_exclusive_until_its_owner_ends) {
    const fs::path s = scratch();
    {
        DirectoryLock first, second;
        REQUIRE(first.acquire(s, &e));
        CHECK(!second.acquire(s, &e) && e == kErrorSharingViolation);
    }
    DirectoryLock again, missing;
    CHECK(again.acquire(s, &e) && !missing.acquire(s / "none", &e) &&
          (e == kErrorFileNotFound || e == kErrorPathNotFound));
}

namespace {

// What an --echo child writes: each argument followed by a NUL character (UTF-16 on Windows).
std::string echoOf(const std::vector<NativeString>& arguments) {
    NativeString text;
    for (const NativeString& argument : arguments) {
        text += argument + NativeString(1, 0);
    }
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof text[0]);
}

}  // namespace

// On Windows each argument goes through quoteArgument into a command line that the child reads
// back with CommandLineToArgvW; these are the ones a careless quoting would split, join, shorten
// or let add an argument. On POSIX the child also lists its descriptors and blocked signals: it
// gets neither the one opened here without close-on-exec nor the signal blocked here, as a
// library might.
TEST_CASE(started_process_gets_exactly_its_arguments_and_nothing_else) {
    std::vector<NativeString> arguments;
    for (const char* argument :
         {"", " ", "\t", "two words", "a\"b", "\"", "\\", "C:\\Games\\",
          "C:\\Program Files\\Game\\", "a\\\"b", "a\\\\\"b", "\\\\server\\share\\",
          "ends with a quote\"", "\" --elevated \"", "a\\\\b\\", "--elevated"}) {
        arguments.push_back(native(argument));
    }
#ifdef _WIN32
    arguments.push_back(L"Spiele \u00fcber \u6e38\u620f \U0001F3AE");
#else
    arguments.insert(arguments.end(),
                     {"\xe6\xb8\xb8\xe6\x88\x8f $(id) `id` ; * ~ |\n", "\xff not UTF-8"});
    const int inherited = ::open(".", O_RDONLY);
    sigset_t blocked;
    ::sigemptyset(&blocked);
    ::sigaddset(&blocked, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
#endif
    // Outside Wine, Windows would ask a person for administrator rights; pkexec always does (the
    // whole-process tests put a stand-in on PATH).
    for (const bool elevated :
         {false, WINDOWS_OR_POSIX(testsupport::runningUnderWine() || isProcessElevated(), false)}) {
        harness::row = elevated ? "elevated" : "plain";
        const fs::path echo = scratch() / "echo";
        std::vector<NativeString> child = {native("--echo"), echo};
        child.insert(child.end(), arguments.begin(), arguments.end());
        Process process;
        std::uint32_t code = 99;
        REQUIRE(elevated ? process.startElevated(selfPath(), child, &e)
                         : process.start(selfPath(), child, &e));
        CHECK(process.wait(kWaitForever) == ProcessWait::Ended && process.exitCode(&code) &&
              code == 0);
        // The standard three, and the one the child lists them through.
        CHECK(readFile(echo) == echoOf(arguments) + WINDOWS_OR_POSIX("", "0 1 2 3 blocked:"));
    }
#ifndef _WIN32
    ::close(inherited);
    ::pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
#endif
}

TEST_CASE(process_is_followed_and_ended) {
    std::uint32_t code = 0, pid = 0, error = 0;
    {
        Process child;
        REQUIRE(child.start(selfPath(), {native("--exit"), native("23")}, &e));
        // The child has ended or ends while waited for; it stays a process until followed.
        CHECK(waitForProcessExit(child.id(), kWaitForever, &e) == ProcessWait::Ended);
        CHECK(child.wait(kWaitForever) == ProcessWait::Ended && child.exitCode(&code) &&
              code == 23);
        CHECK(child.terminate(&e));  // it has ended already: nothing to do
        pid = child.id();
    }
    // Wine keeps an ended process openable for about half a second after its last handle is
    // closed, and nothing can be awaited for it to go.
    CHECK(
        WINDOWS_OR_POSIX(testsupport::runningUnderWine(), false) ||
        (waitForProcessExit(pid, 0, &e) == ProcessWait::OpenFailed && e == kErrorInvalidParameter));
    CHECK(waitForProcessExit(currentProcessId(), 0, &error) == ProcessWait::TimedOut && error == 0);
    Process hanging;
    REQUIRE(hanging.start(selfPath(), {native("--hang")}, &e));
    CHECK(hanging.wait(50) == ProcessWait::TimedOut && !hanging.exitCode(&code));
    CHECK(hanging.terminate(&e) && hanging.wait(kWaitForever) == ProcessWait::Ended);
    // Ended with exit code 1; on POSIX by a signal, which gives no code.
    CHECK(WINDOWS_OR_POSIX(hanging.exitCode(&code) && code == 1, !hanging.exitCode(&code)));

    // What cannot be started: missing, no program, a NUL in an argument, not executable.
    const fs::path s = scratch();
    REQUIRE(writeFile(s / "text.exe", "no program") && writeFile(s / "plain", ""));
    fs::permissions(s / "text.exe", fs::perms::owner_all);
    for (const auto& [program, argument, error] :
         {std::tuple{s / "missing.exe", native("-"), kErrorFileNotFound},
          {s / "text.exe", native("-"), 193u},
          {fs::path(selfPath()), native(std::string(1, '\0') + "0"), kErrorInvalidParameter},
          {s / WINDOWS_OR_POSIX("text.exe", "plain"), native("-"),
           WINDOWS_OR_POSIX(193u, kErrorAccessDenied)}}) {
        harness::row = program.string();
        Process process;
        CHECK(!process.start(program, {native("--exit"), argument}, &e) && !process.started());
        CHECK_EQ(e, error);
    }
}

// An elevated copy starts the updated launcher with the rights of the user it was elevated for,
// in the launcher's own directory; where it cannot, the launcher starts all the same, with this
// program's rights, and the caller learns why. Wine has no secondary logon: the child runs
// either way, in its job.
TEST_CASE(process_starts_as_the_desktop_user_where_it_can) {
    const fs::path s = scratch();
    const fs::path program = s / "child";
    fs::copy_file(selfPath(), program);
    fs::permissions(s, fs::perms::all);  // the user may run the program and write beside it
    // PKEXEC_UID ("": not started through pkexec), and then the owner of what the child writes.
    for (const auto& [uid, owner] : {std::pair{"", 0u}, {"65534", 65534u}, {"4294967294", 0u}}) {
        harness::row = uid;
        if (WINDOWS_OR_POSIX(*uid != '\0', ::geteuid() != 0 && *uid != '\0')) {
            continue;  // only root may start a process as another user
        }
        WINDOWS_OR_POSIX(void(), *uid ? ::setenv("PKEXEC_UID", uid, 1) : ::unsetenv("PKEXEC_UID"));
        // A relative name lands in the working directory: the program's own, as that user.
        const std::string name = std::string("echo") + uid;
        std::uint32_t desktopError = 0, code = 9;
        Process process;
        REQUIRE(process.start(program,
                              {native("--echo"), owner ? native(name) : (s / name).native()}, &e,
                              ProcessGroup::Own, ProcessUser::Desktop, &desktopError));
        CHECK(process.wait(kWaitForever) == ProcessWait::Ended && process.exitCode(&code) &&
              code == 0);
#ifndef _WIN32
        struct stat st;
        CHECK_EQ(desktopError, owner != 0 ? 0 : kErrorNotFound);
        CHECK(::stat((s / name).c_str(), &st) == 0 && st.st_uid == owner);
#endif
    }
    WINDOWS_OR_POSIX(void(), ::unsetenv("PKEXEC_UID"));
}

#ifndef _WIN32
TEST_CASE(elevation_helper_is_never_taken_from_the_current_directory) {
    const fs::path s = scratch();
    REQUIRE(writeFile(s / "pkexec", "#!/bin/sh\n") && ::chmod((s / "pkexec").c_str(), 0755) == 0);
    const std::string previousPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const fs::path previousDirectory = fs::current_path();
    fs::current_path(s);
    ::setenv("PATH", ":/nonexistent", 1);  // an empty entry names the current directory to a shell
    Process process;
    const bool started = process.startElevated(selfPath(), {"--exit", "0"}, &e);
    ::setenv("PATH", previousPath.c_str(), 1);
    fs::current_path(previousDirectory);
    CHECK(!started && e == kErrorFileNotFound);
    process.wait(kWaitForever);
}
#endif

// The child modes: --exit N ends with exit code N; --hang runs until it is ended from outside;
// --echo FILE writes the arguments after FILE to FILE as echoOf() puts them, and then, on POSIX,
// its open descriptors (procfs lists them in order) and blocked signals.
int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::vector<NativeString> arguments = processArguments(argc, argv);
    if (mode == "--exit" && argc == 3) {
        return std::atoi(argv[2]);
    } else if (mode == "--hang") {  // its own end never comes
        return waitForProcessExit(currentProcessId(), kWaitForever, &e) == ProcessWait::Ended;
    } else if (mode == "--echo" && arguments.size() >= 3) {
        std::string echo = echoOf({arguments.begin() + 3, arguments.end()});
#ifndef _WIN32
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            echo += entry.path().filename().string() + " ";
        }
        sigset_t blocked;
        ::sigprocmask(SIG_BLOCK, nullptr, &blocked);
        echo += "blocked:";
        for (int signal = 1; signal < NSIG; ++signal) {
            echo += ::sigismember(&blocked, signal) == 1 ? " " + std::to_string(signal) : "";
        }
#endif
        return !writeFile(arguments[2], echo);
    }
    const int failed = harness::run(argc, argv);
    std::error_code ignored;
    fs::remove_all(kScratch, ignored);
    return failed;
}
