// A minimal test harness without Qt, so that the OS layer's tests also run as a Windows program
// under Wine. TEST_CASE(name) registers a case. CHECK and CHECK_EQ report a failure and let the
// case go on; REQUIRE ends the case when it fails.
#pragma once

#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace harness {

inline std::vector<std::pair<const char*, void (*)()>> cases;  // all in one file, in order
inline std::string row;   // names the table row under test in failure reports
inline int failures = 0;  // of the running case

inline bool report(bool ok, const char* file, int line, const std::string& what) {
    failures += !ok;
    return ok || std::printf("%s:%d: %s: %s\n", file, line, row.c_str(), what.c_str()) < 0;
}

template <typename A, typename B>
bool equal(const A& a, const B& b, const char* file, int line, const char* expression) {
    std::ostringstream text;
    text << expression << ": " << a << " != " << b;
    return report(a == b, file, line, text.str());
}

// Runs every case, or the one named by argv[1]. Returns 0 when all that ran passed.
inline int run(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // nothing is lost if a case crashes
    int ran = 0, failed = 0;
    for (const auto& [name, function] : cases) {
        if (argc < 2 || std::strcmp(argv[1], name) == 0) {
            row.clear();
            failures = 0;
            try {
                function();
            } catch (const std::exception& e) {
                report(false, __FILE__, __LINE__, std::string("uncaught exception: ") + e.what());
            } catch (bool) {  // a REQUIRE failed
            }
            std::printf("%s %s\n", failures ? "FAIL" : "ok  ", name);
            failed += failures > 0;
            ++ran;
        }
    }
    std::printf("%d run, %d failed\n", ran, failed);
    return ran == 0 || failed > 0;
}

}  // namespace harness

#define TEST_CASE(name)                                                                     \
    static void name();                                                                     \
    static const bool name##_registered = (harness::cases.emplace_back(#name, name), true); \
    static void name()
#define CHECK(condition) \
    harness::report(static_cast<bool>(condition), __FILE__, __LINE__, #condition)
#define CHECK_EQ(a, b) harness::equal((a), (b), __FILE__, __LINE__, #a " == " #b)
#define REQUIRE(condition) (CHECK(condition) ? void() : throw false)
