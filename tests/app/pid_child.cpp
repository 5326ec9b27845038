// Stands in for the launcher in the parent-wait tests: prints its own process id as the OS layer
// sees it (a Windows id under Wine), then runs until its standard input closes.
#include <cstdio>

#include "platform.h"

int main() {
    std::printf("%u\n", static_cast<unsigned>(platform::currentProcessId()));
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
