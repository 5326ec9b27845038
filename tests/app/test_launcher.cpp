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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

#ifdef _WIN32
// Without <windows.h>, which only the OS layer includes.
std::string toUtf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint16_t>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint16_t>(text[++i]) - 0xDC00);
        }
        const int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        // The lead byte: 0xxxxxxx, 110xxxxx, 1110xxxx or 11110xxx; then 10xxxxxx each.
        out += static_cast<char>((tail == 0 ? 0 : 0xFF00 >> (tail + 1)) | c >> (6 * tail));
        for (int k = tail - 1; k >= 0; --k) {
            out += static_cast<char>(0x80 | (c >> (6 * k) & 0x3F));
        }
    }
    return out;
}
#else
const std::string& toUtf8(const std::string& text) {
    return text;
}
#endif

// Written beside the path and moved there, replacing what stood there.
bool write(const NativeString& path, const std::string& content) {
    const NativeString temporary = withSuffix(path, ".tmp");
    std::uint32_t error = 0;
    return platform::writeNewFile(temporary, content.data(), content.size(), &error) &&
           platform::replaceFile(temporary, path, &error);
}

// Polls for `path` for at most two minutes.
void waitFor(const NativeString& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!platform::entryExists(path) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<NativeString> arguments = platform::processArguments(argc, argv);
    if (arguments.size() == 2 && arguments[1] == withSuffix(NativeString(), "--pid")) {
        std::printf("%u\n", static_cast<unsigned>(platform::currentProcessId()));
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    if (arguments.size() < 3 || arguments[1] != withSuffix(NativeString(), "--update-ack")) {
        return 2;
    }
    const NativeString& ackPath = arguments[2];
    const char* variable = std::getenv("LAUNCHERUPDATER_TEST_LAUNCHER");
    const std::string mode = variable != nullptr ? variable : "";
    const std::string pid = std::to_string(platform::currentProcessId());
    platform::Process helper;
    std::uint32_t error = 0;
    if (mode == "helper" && arguments.size() == 4) {
        if (!testsupport::holdOpen(arguments[0]) || !write(withSuffix(ackPath, ".pid"), pid) ||
            !write(withSuffix(ackPath, ".held"), std::string())) {
            return 1;
        }
        waitFor(withSuffix(ackPath, ".stop"));
        return 0;
    }
    if (mode == "helper") {
        if (!helper.start(arguments[0], {arguments[1], arguments[2], withSuffix({}, "--hold")},
                          &error)) {
            return 1;
        }
        waitFor(withSuffix(ackPath, ".held"));
        return 0;
    }
    if (mode == "never" || mode == "late") {
        if (!write(withSuffix(ackPath, ".pid"), pid)) {
            return 1;
        }
        waitFor(withSuffix(ackPath, ".stop"));
        if (mode == "never") {
            return 0;
        }
    }
    if (mode == "empty") {
        return write(ackPath, std::string()) ? 0 : 1;
    }
    if (mode == "slow") {
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    if (mode == "stay" || mode == "exit" || mode == "late" || mode == "slow") {
        std::string content;
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            content += toUtf8(arguments[i]) + '\n';
        }
        if (!write(ackPath, content)) {
            return 1;
        }
        if (mode == "stay") {
            waitFor(withSuffix(ackPath, ".stop"));
            return write(withSuffix(ackPath, ".done"), std::string()) ? 0 : 1;
        }
        return 0;
    }
    return mode == "no-ack" ? 0 : 2;
}
