#include "harness.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace harness {

namespace {

struct Case {
    const char* name;
    TestFunction function;
};

std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

std::vector<std::string>& rows() {
    static std::vector<std::string> names;
    return names;
}

const char* currentCase = "";
int failuresInCase = 0;

enum class Outcome { Passed, Failed, Skipped };

Outcome runCase(const Case& c) {
    currentCase = c.name;
    failuresInCase = 0;
    rows().clear();
    try {
        c.function();
    } catch (const Abort&) {
        // Already reported.
    } catch (const Skip& skip) {
        if (failuresInCase == 0) {
            std::printf("SKIP %s: %s\n", c.name, skip.reason.c_str());
            return Outcome::Skipped;
        }
    } catch (const std::exception& e) {
        reportFailure("", 0, std::string("uncaught exception: ") + e.what());
    } catch (...) {
        reportFailure("", 0, "uncaught exception");
    }
    std::printf("%s %s\n", failuresInCase == 0 ? "ok  " : "FAIL", c.name);
    return failuresInCase == 0 ? Outcome::Passed : Outcome::Failed;
}

}  // namespace

Registration::Registration(const char* name, TestFunction function) {
    registry().push_back({name, function});
}

Row::Row(std::string name) {
    rows().push_back(std::move(name));
}

Row::~Row() {
    rows().pop_back();
}

void reportFailure(const char* file, int line, const std::string& text) {
    ++failuresInCase;
    std::string where;
    for (const std::string& row : rows()) {
        where += " [row " + row + "]";
    }
    std::printf("%s:%d: %s%s: %s\n", file, line, currentCase, where.c_str(), text.c_str());
}

void skip(const std::string& reason) {
    throw Skip{reason};
}

std::string show(const std::string& value) {
    return '"' + value + '"';
}

std::string show(const char* value) {
    return value ? show(std::string(value)) : "null";
}

std::string show(bool value) {
    return value ? "true" : "false";
}

int run(int argc, char** argv) {
    std::vector<Case> selected;
    int failed = 0;
    if (argc <= 1) {
        selected = registry();
    }
    for (int i = 1; i < argc; ++i) {
        bool found = false;
        for (const Case& c : registry()) {
            if (std::strcmp(c.name, argv[i]) == 0) {
                selected.push_back(c);
                found = true;
            }
        }
        if (!found) {
            std::printf("FAIL %s: no such test\n", argv[i]);
            ++failed;
        }
    }
    int passed = 0;
    int skipped = 0;
    for (const Case& c : selected) {
        switch (runCase(c)) {
            case Outcome::Passed:
                ++passed;
                break;
            case Outcome::Failed:
                ++failed;
                break;
            case Outcome::Skipped:
                ++skipped;
                break;
        }
        std::fflush(stdout);
    }
    if (skipped > 0) {
        std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    } else {
        std::printf("%d passed, %d failed\n", passed, failed);
    }
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

}  // namespace harness
