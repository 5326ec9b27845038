// A minimal test harness without Qt, so that the OS layer's tests also run as a Windows program
// under Wine. TEST_CASE(name) registers a case. CHECK and CHECK_EQ report a failure and let the
// case go on; REQUIRE ends the case when it fails; SKIP(reason) ends it as skipped.
#pragma once

#include <sstream>
#include <string>

namespace harness {

bool registerCase(const char* name, void (*function)());

// Thrown to end a case: after a failed REQUIRE (no reason), or to skip it.
struct Stop {
    const char* skipReason;
};

// Names the row of a data table under test in failure reports; cleared before every case.
extern std::string row;

// Reports a failure unless `ok`; returns `ok`.
bool report(bool ok, const char* file, int line, const std::string& what);

template <typename A, typename B>
bool equal(const A& a, const B& b, const char* file, int line, const char* expression) {
    std::ostringstream text;
    text << expression << ": " << a << " != " << b;
    return report(a == b, file, line, text.str());
}

// Runs every case, or the one named by argv[1], printing a line for each and then
// "N passed, N failed" (", N skipped" when any were). Returns 0 when none failed.
int run(int argc, char** argv);

}  // namespace harness

#define TEST_CASE(name)                                                       \
    static void name();                                                       \
    static const bool name##_registered = harness::registerCase(#name, name); \
    static void name()

#define CHECK(condition) \
    harness::report(static_cast<bool>(condition), __FILE__, __LINE__, #condition)
#define CHECK_EQ(a, b) harness::equal((a), (b), __FILE__, __LINE__, #a " == " #b)
#define REQUIRE(condition) (CHECK(condition) ? void() : throw harness::Stop{nullptr})
#define SKIP(reason) (throw harness::Stop{reason})
