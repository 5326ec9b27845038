// Tests of starting, following and ending processes, and of the quoting that carries their
// arguments on Windows. The children are this test program again, in one of its child modes.
#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "platform.h"
#include "test_support.h"

using platform::NativeString;
using platform::ProcessWait;
using testsupport::native;
using testsupport::ScratchDir;

namespace {

// Arguments that a careless quoting would split, join, shorten or let add an argument.
const char* const kHostileArguments[] = {
    "",
    " ",
    "\t",
    "two words",
    "a\"b",
    "\"",
    "\\",
    "C:\\Games\\",
    "C:\\Program Files\\Game\\",
    "a\\\"b",
    "a\\\\\"b",
    "\\\\server\\share\\",
    "ends with a quote\"",
    "\" --elevated \"",
    "a\\\\b\\",
    "--elevated",
};

// A few that are hostile in other ways, for the processes started with them.
std::vector<NativeString> argumentsToCarry() {
    std::vector<NativeString> arguments;
    for (const char* argument : kHostileArguments) {
        arguments.push_back(native(argument));
    }
#ifdef _WIN32
    arguments.push_back(L"Spiele \u00fcber \u6e38\u620f \U0001F3AE");
#else
    arguments.push_back(
        "Spiele \xc3\xbc"
        "ber \xe6\xb8\xb8\xe6\x88\x8f");
    arguments.push_back("line\nbreak $(id) `id` ; * ~ |");
    arguments.push_back("\xff not UTF-8");
#endif
    return arguments;
}

// What an --echo child wrote: its arguments, each ended by a NUL.
std::vector<NativeString> echoed(const NativeString& file) {
    const std::string bytes = testsupport::readFile(file);
    const NativeString text(reinterpret_cast<const NativeString::value_type*>(bytes.data()),
                            bytes.size() / sizeof(NativeString::value_type));
    std::vector<NativeString> arguments;
    for (std::size_t begin = 0, end;
         (end = text.find(NativeString::value_type(0), begin)) != NativeString::npos;
         begin = end + 1) {
        arguments.push_back(text.substr(begin, end - begin));
    }
    return arguments;
}

std::vector<NativeString> childArguments(const char* mode, const NativeString& value,
                                         const std::vector<NativeString>& rest = {}) {
    std::vector<NativeString> arguments = {native(mode), value};
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    return arguments;
}

}  // namespace

TEST_CASE(quoted_argument_reads_back_unchanged) {
    for (const char* text : kHostileArguments) {
        harness::row = text;
        const std::wstring argument(text, text + std::strlen(text));
        const std::vector<std::wstring> read = testsupport::windowsArguments(
            platform::quoteArgument(argument) + L" " + platform::quoteArgument(L"next"));
        REQUIRE(read.size() == 2);
        CHECK(read[0] == argument);
        CHECK(read[1] == L"next");
    }
    harness::row.clear();
    // Where no backslash stands before a quote, every quote is escaped and nothing else.
    CHECK(platform::quoteArgument(L"a\"b") == L"\"a\\\"b\"");
    CHECK(platform::quoteArgument(L"") == L"\"\"");
    CHECK(platform::quoteArgument(L"C:\\a b\\c") == L"\"C:\\a b\\c\"");
}

TEST_CASE(started_process_gets_exactly_its_arguments) {
    const std::vector<NativeString> arguments = argumentsToCarry();
    for (const bool elevated : {false, true}) {
#ifdef _WIN32
        // Outside Wine, Windows would ask a person for administrator rights.
        if (elevated && !testsupport::runningUnderWine() && !platform::isProcessElevated()) {
            continue;
        }
#else
        // pkexec needs a person too; the whole-process tests put a stand-in on PATH.
        if (elevated) {
            continue;
        }
#endif
        harness::row = elevated ? "elevated" : "plain";
        ScratchDir scratch;
        const std::vector<NativeString> child =
            childArguments("--echo", scratch / "echo", arguments);
        platform::Process process;
        std::uint32_t error = 0;
        REQUIRE(elevated ? process.startElevated(testsupport::selfPath(), child, &error)
                         : process.start(testsupport::selfPath(), child, &error));
        REQUIRE(process.wait(platform::kWaitForever) == ProcessWait::Ended);
        std::uint32_t code = 99;
        CHECK(process.exitCode(&code) && code == 0);
        CHECK(echoed(scratch / "echo") == arguments);
    }
}

TEST_CASE(process_is_followed_and_ended) {
    platform::Process child;
    std::uint32_t error = 0;
    REQUIRE(child.start(testsupport::selfPath(), {native("--exit"), native("23")}, &error));
    CHECK(child.wait(platform::kWaitForever) == ProcessWait::Ended);
    std::uint32_t code = 0;
    CHECK(child.exitCode(&code));
    CHECK_EQ(code, 23u);
    CHECK(child.terminate(&error));  // it has ended already: nothing to do

    platform::Process hanging;
    REQUIRE(hanging.start(testsupport::selfPath(), {native("--hang")}, &error));
    CHECK(hanging.wait(50) == ProcessWait::TimedOut);
    CHECK(!hanging.exitCode(&code));
    CHECK(hanging.terminate(&error));
    CHECK(hanging.wait(platform::kWaitForever) == ProcessWait::Ended);
#ifdef _WIN32
    CHECK(hanging.exitCode(&code));
    CHECK_EQ(code, 1u);
#else
    CHECK(!hanging.exitCode(&code));  // killed by a signal: no code
#endif
}

// An elevated copy starts the updated launcher with the rights of the user it was elevated for,
// in the launcher's own directory; where it cannot, the launcher starts all the same, with this
// program's rights, and the caller learns why.
TEST_CASE(process_starts_as_the_desktop_user_where_it_can) {
    platform::Process child;
    std::uint32_t error = 0;
    std::uint32_t desktopError = 0;
#ifdef _WIN32
    // Wine has no secondary logon: either way the child runs, in its job.
    REQUIRE(child.start(testsupport::selfPath(), {native("--exit"), native("7")}, &error,
                        platform::ProcessGroup::Own, platform::ProcessUser::Desktop,
                        &desktopError));
    REQUIRE(child.wait(platform::kWaitForever) == ProcessWait::Ended);
    std::uint32_t code = 0;
    CHECK(child.exitCode(&code));
    CHECK_EQ(code, 7u);
#else
    if (::geteuid() != 0) {
        SKIP("only root may start a process as another user");
    }
    // Where the user may run the program and write beside it.
    ScratchDir scratch;
    const std::string program = scratch / "child";
    std::filesystem::copy_file(testsupport::selfPath(), program);
    REQUIRE(::chmod(scratch.path().c_str(), 0777) == 0);
    const struct {
        const char* uid;  // PKEXEC_UID; nullptr: not started through pkexec
        const char* written;
        std::uint32_t desktopError;
        uid_t owner;
    } rows[] = {{"65534", "echo", 0, 65534},
                {"4294967294", "", platform::kErrorNotFound, 0},
                {nullptr, "", platform::kErrorNotFound, 0}};
    for (const auto& row : rows) {
        row.uid != nullptr ? ::setenv("PKEXEC_UID", row.uid, 1) : ::unsetenv("PKEXEC_UID");
        // A relative name lands in the working directory: the program's own, as that user.
        const std::string file = *row.written != '\0' ? row.written : scratch / "as-root";
        platform::Process process;
        REQUIRE(process.start(program, {native("--echo"), file}, &error,
                              platform::ProcessGroup::Inherited, platform::ProcessUser::Desktop,
                              &desktopError));
        REQUIRE(process.wait(platform::kWaitForever) == ProcessWait::Ended);
        CHECK_EQ(desktopError, row.desktopError);
        struct stat written;
        CHECK(::stat((*row.written != '\0' ? scratch / row.written : file).c_str(), &written) == 0);
        CHECK_EQ(written.st_uid, row.owner);
    }
    ::unsetenv("PKEXEC_UID");
#endif
}

TEST_CASE(start_failures_give_windows_errors) {
    ScratchDir scratch;
    REQUIRE(testsupport::writeFile(scratch / "text.exe", "no program"));
#ifndef _WIN32
    REQUIRE(::chmod((scratch / "text.exe").c_str(), 0755) == 0);
    REQUIRE(testsupport::writeFile(scratch / "not-executable", ""));
#endif
    const struct {
        NativeString program;
        std::vector<NativeString> arguments;
        std::uint32_t error;
    } rows[] = {
        {scratch / "missing.exe", {}, platform::kErrorFileNotFound},
        {scratch / "text.exe", {}, 193},
        {testsupport::selfPath(), {native("--exit"), NativeString(1, 0) + native("0")}, 87},
#ifndef _WIN32
        {scratch / "not-executable", {}, platform::kErrorAccessDenied},
#endif
    };
    for (const auto& row : rows) {
        harness::row = std::string(row.program.begin(), row.program.end());
        platform::Process process;
        std::uint32_t error = 0;
        CHECK(!process.start(row.program, row.arguments, &error));
        CHECK_EQ(error, row.error);
        CHECK(!process.started());
    }
}

#ifndef _WIN32
TEST_CASE(child_gets_no_descriptor_and_no_blocked_signal) {
    ScratchDir scratch;
    // Opened without close-on-exec, and a signal blocked, as a library might.
    const int inherited = ::open(scratch.path().c_str(), O_RDONLY);
    REQUIRE(inherited >= 0);
    sigset_t blocked;
    sigset_t previous;
    ::sigemptyset(&blocked);
    ::sigaddset(&blocked, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    platform::Process child;
    std::uint32_t error = 0;
    const bool started =
        child.start(testsupport::selfPath(), {native("--fds"), scratch / "fds"}, &error);
    ::close(inherited);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    REQUIRE(started);
    REQUIRE(child.wait(platform::kWaitForever) == ProcessWait::Ended);
    // The standard three, and the one the child lists them through.
    CHECK_EQ(testsupport::readFile(scratch / "fds"), std::string("0\n1\n2\n3\nblocked:\n"));
}

TEST_CASE(elevation_helper_is_never_taken_from_the_current_directory) {
    ScratchDir scratch;
    REQUIRE(testsupport::writeFile(scratch / "pkexec", "#!/bin/sh\n"));
    REQUIRE(::chmod((scratch / "pkexec").c_str(), 0755) == 0);
    const char* path = std::getenv("PATH");
    const std::string previousPath = path != nullptr ? path : "";
    char* const previousDirectory = ::getcwd(nullptr, 0);
    REQUIRE(previousDirectory != nullptr && ::chdir(scratch.path().c_str()) == 0);
    // An empty entry names the current directory to a shell.
    ::setenv("PATH", ":/nonexistent", 1);
    platform::Process process;
    std::uint32_t error = 0;
    const bool started =
        process.startElevated(testsupport::selfPath(), {native("--exit"), native("0")}, &error);
    ::setenv("PATH", previousPath.c_str(), 1);
    CHECK(::chdir(previousDirectory) == 0);
    std::free(previousDirectory);
    CHECK(!started);
    CHECK_EQ(error, platform::kErrorFileNotFound);
    if (started) {
        process.wait(platform::kWaitForever);
    }
}

#endif

namespace testsupport {

int childMode(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--exit" && argc == 3) {
        return std::atoi(argv[2]);
    }
    if (mode == "--hang") {
        // Its own end never comes.
        std::uint32_t error = 0;
        platform::waitForProcessExit(platform::currentProcessId(), platform::kWaitForever, &error);
        return 1;
    }
    const std::vector<NativeString> arguments = platform::processArguments(argc, argv);
    if (mode == "--echo" && arguments.size() >= 3) {
        std::string bytes;
        for (std::size_t i = 3; i < arguments.size(); ++i) {
            const NativeString ended = arguments[i] + NativeString(1, 0);
            bytes.append(reinterpret_cast<const char*>(ended.data()),
                         ended.size() * sizeof(NativeString::value_type));
        }
        return writeFile(arguments[2], bytes) ? 0 : 1;
    }
#ifndef _WIN32
    if (mode == "--fds" && argc == 3) {
        std::string numbers;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            numbers += entry.path().filename().string() + "\n";
        }
        sigset_t blocked;
        ::sigprocmask(SIG_BLOCK, nullptr, &blocked);
        numbers += "blocked:";
        for (int signal = 1; signal < NSIG; ++signal) {
            numbers += ::sigismember(&blocked, signal) == 1 ? " " + std::to_string(signal) : "";
        }
        numbers += "\n";
        return writeFile(argv[2], numbers) ? 0 : 1;
    }
#endif
    return -1;
}

}  // namespace testsupport
