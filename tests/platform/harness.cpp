#include "harness.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

namespace harness {

std::string row;

namespace {

std::vector<std::pair<const char*, void (*)()>>& cases() {
    static std::vector<std::pair<const char*, void (*)()>> all;
    return all;
}

const char* current = "";
int failures = 0;  // of the running case

}  // namespace

bool registerCase(const char* name, void (*function)()) {
    cases().emplace_back(name, function);
    return true;
}

bool report(bool ok, const char* file, int line, const std::string& what) {
    if (!ok) {
        ++failures;
        std::printf("%s:%d: %s%s%s: %s\n", file, line, current, row.empty() ? "" : " row ",
                    row.c_str(), what.c_str());
    }
    return ok;
}

int run(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // nothing is lost if a case crashes
    const char* only = argc > 1 ? argv[1] : nullptr;
    int passed = 0, failed = 0, skipped = 0;
    for (const auto& [name, function] : cases()) {
        if (only && std::strcmp(only, name) != 0) {
            continue;
        }
        current = name;
        row.clear();
        failures = 0;
        try {
            function();
        } catch (const Stop& stop) {
            if (stop.skipReason && failures == 0) {
                std::printf("SKIP %s: %s\n", name, stop.skipReason);
                ++skipped;
                continue;
            }
        } catch (const std::exception& e) {
            report(false, __FILE__, __LINE__, std::string("uncaught exception: ") + e.what());
        }
        std::printf("%s %s\n", failures == 0 ? "ok  " : "FAIL", name);
        ++(failures == 0 ? passed : failed);
    }
    if (only && passed + failed + skipped == 0) {
        std::printf("FAIL %s: no such test\n", only);
        ++failed;
    }
    const std::string skips = skipped > 0 ? ", " + std::to_string(skipped) + " skipped" : "";
    std::printf("%d passed, %d failed%s\n", passed, failed, skips.c_str());
    return failed == 0 ? 0 : 1;
}

}  // namespace harness
