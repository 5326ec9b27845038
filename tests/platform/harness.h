// A small test harness without Qt, so that the OS layer's tests also run as a Windows program
// under Wine.
//
// TEST_CASE(name) { ... } registers a case. CHECK and CHECK_EQ report a failure (file, line,
// expression and values) and let the case go on; REQUIRE and REQUIRE_EQ end the case on failure;
// SKIP(reason) ends it as skipped. harness::run runs every case, or those named on the command
// line, and ends with a summary line "N passed, N failed" (", N skipped" when any were).
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace harness {

using TestFunction = void (*)();

struct Registration {
    Registration(const char* name, TestFunction function);
};

// Thrown to leave a case: after a failed REQUIRE, or to skip it.
struct Abort {};
struct Skip {
    std::string reason;
};

// While it lives, every failure report also names this row of a data table.
class Row {
public:
    explicit Row(std::string name);
    ~Row();
    Row(const Row&) = delete;
    Row& operator=(const Row&) = delete;
};

void reportFailure(const char* file, int line, const std::string& text);
[[noreturn]] void skip(const std::string& reason);

std::string show(const std::string& value);
std::string show(const char* value);
std::string show(bool value);
template <typename T>
std::string show(const T& value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

inline bool check(const char* file, int line, const char* expression, bool value) {
    if (!value) {
        reportFailure(file, line, std::string("CHECK(") + expression + ")");
    }
    return value;
}

template <typename A, typename B>
bool checkEqual(const char* file, int line, const char* left, const char* right, const A& a,
                const B& b) {
    if (a == b) {
        return true;
    }
    reportFailure(
        file, line,
        std::string("CHECK_EQ(") + left + ", " + right + "): " + show(a) + " != " + show(b));
    return false;
}

// Runs the cases named in argv[1..], or all when none is named. Returns the process exit code.
int run(int argc, char** argv);

}  // namespace harness

#define HARNESS_CONCAT2(a, b) a##b
#define HARNESS_CONCAT(a, b) HARNESS_CONCAT2(a, b)

#define TEST_CASE(name)                                                                  \
    static void name();                                                                  \
    static const harness::Registration HARNESS_CONCAT(registration_, name)(#name, name); \
    static void name()

#define CHECK(condition) \
    harness::check(__FILE__, __LINE__, #condition, static_cast<bool>(condition))
#define CHECK_EQ(a, b) harness::checkEqual(__FILE__, __LINE__, #a, #b, (a), (b))
#define REQUIRE(condition)          \
    do {                            \
        if (!CHECK(condition)) {    \
            throw harness::Abort{}; \
        }                           \
    } while (false)
#define REQUIRE_EQ(a, b)            \
    do {                            \
        if (!CHECK_EQ(a, b)) {      \
            throw harness::Abort{}; \
        }                           \
    } while (false)
#define SKIP(reason) harness::skip(reason)
