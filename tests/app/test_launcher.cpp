// Stands in for the launcher in the whole-process tests. With "--pid" it is the launcher an
// update waits for: it prints its own process id as the OS layer sees it (a Windows id under
// Wine), then runs until its standard input closes. Otherwise it is the updated launcher: the
// updater starts it as ClientLauncher.exe with "--update-ack ACK", and
// LAUNCHERUPDATER_TEST_LAUNCHER, inherited through the updater, says how it answers:
//   stay    acknowledges, runs until ACK.stop appears, then writes ACK.done and ends
//   exit    acknowledges and ends at once
//   slow    acknowledges after 3 seconds, and ends
//   empty   acknowledges with an empty file, and ends
//   no-ack  ends at once without acknowledging
//   never   writes its process id to ACK.pid and runs until ACK.stop appears, never acknowledging
//   late    as never, then acknowledges and ends
//   helper  starts a helper that holds ClientLauncher.exe open and writes its process id to
//           ACK.pid, waits for it to say so (ACK.held), and ends without acknowledging; the
//           helper runs until ACK.stop appears
// The acknowledgement holds the arguments after element 0, one a line, in UTF-8, as this process
// received them. Every wait is bounded, so a test that fails halfway leaves nothing running.
#include <chrono>
#include <codecvt>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "test_support.h"

namespace {

using platform::NativeString;

NativeString withSuffix(NativeString path, const char* suffix) {
    for (; *suffix != '\0'; ++suffix) {
        path.push_back(static_cast<NativeString::value_type>(*suffix));
    }
    return path;
}

std::string toUtf8(const NativeString& text) {
#ifdef _WIN32
    return std::wstring_convert<std::codecvt_utf8_utf16<wchar_t>>().to_bytes(text);
#else
    return text;
#endif
}

// Written beside the path and moved there, replacing what stood there.
bool write(const NativeString& path, const std::string& content) {
    const NativeString temporary = withSuffix(path, ".tmp");
    std::uint32_t error = 0;
    return platform::writeNewFile(temporary, content.data(), content.size(), &error) &&
           platform::replaceFile(temporary, path, &error);
}

// Polls for `path` for at most two minutes; true when it is there.
bool waitFor(const NativeString& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!platform::entryExists(path) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return platform::entryExists(path);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<NativeString> arguments = platform::processArguments(argc, argv);
    if (arguments.size() == 2 && arguments[1] == withSuffix({}, "--pid")) {
        std::printf("%u\n", static_cast<unsigned>(platform::currentProcessId()));
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    if (arguments.size() < 3 || arguments[1] != withSuffix({}, "--update-ack")) {
        return 2;
    }
    const auto ack = [&](const char* suffix) { return withSuffix(arguments[2], suffix); };
    const char* variable = std::getenv("LAUNCHERUPDATER_TEST_LAUNCHER");
    const std::string mode = variable != nullptr ? variable : "";
    const std::string pid = std::to_string(platform::currentProcessId());
    platform::Process helper;
    std::uint32_t error = 0;
    if (mode == "helper" && arguments.size() == 4) {  // the helper: this program again
        if (!testsupport::holdOpen(arguments[0]) || !write(ack(".pid"), pid) ||
            !write(ack(".held"), {})) {
            return 1;
        }
        return waitFor(ack(".stop")) ? 0 : 1;
    }
    if (mode == "helper") {
        const NativeString hold = withSuffix({}, "--hold");
        const bool started = helper.start(arguments[0], {arguments[1], arguments[2], hold}, &error);
        return started && waitFor(ack(".held")) ? 0 : 1;
    }
    if ((mode == "never" || mode == "late") &&
        (!write(ack(".pid"), pid) || !waitFor(ack(".stop")))) {
        return 1;
    }
    if (mode == "empty") {
        return write(ack(""), {}) ? 0 : 1;
    }
    if (mode != "stay" && mode != "exit" && mode != "late" && mode != "slow") {
        return mode == "no-ack" || mode == "never" ? 0 : 2;
    }
    std::this_thread::sleep_for(std::chrono::seconds(mode == "slow" ? 3 : 0));
    std::string content;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        content += toUtf8(arguments[i]) + '\n';
    }
    const bool stay = mode == "stay";
    return write(ack(""), content) && (!stay || (waitFor(ack(".stop")) && write(ack(".done"), {})))
               ? 0
               : 1;
}
