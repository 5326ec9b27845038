// The attacker of the race tests: run as an unprivileged user, it swaps names in a tight loop
// until it is killed, so that a link stands where the updater expects a directory or a file at
// random moments of its run. It prints "ready" once the loop has started.
//
//   swapper exchange NAME LINK     swaps NAME and LINK (a link made beforehand, in another
//                                  directory of the user's) again and again
//   swapper children DIRECTORY LINK-TARGET
//                                  swaps every entry the updater makes in DIRECTORY with a link
//                                  to LINK-TARGET, again and again
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

bool exchange(int directory, const char* first, const char* second) {
    return renameat2(directory, first, directory, second, RENAME_EXCHANGE) == 0;
}

void announce() {
    fputs("ready\n", stdout);
    fflush(stdout);
}

int exchangeForever(const char* name, const char* link) {
    if (!exchange(AT_FDCWD, name, link)) {
        perror("swapper: exchange");
        return 1;
    }
    announce();
    for (;;) {
        exchange(AT_FDCWD, name, link);
    }
}

// Each entry the updater makes gets a twin ".swap-NAME", a link to the target, and trades places
// with it on every pass: a link at its name one pass, the real entry the next.
int swapChildrenForever(const char* path, const char* target) {
    const int directory = open(path, O_RDONLY | O_DIRECTORY);
    if (directory < 0) {
        perror("swapper: open");
        return 1;
    }
    announce();
    for (;;) {
        std::vector<std::string> names;
        if (DIR* listing = opendir(path)) {
            while (const dirent* entry = readdir(listing)) {
                if (entry->d_name[0] != '.') {
                    names.emplace_back(entry->d_name);
                }
            }
            closedir(listing);
        }
        for (const std::string& name : names) {
            const std::string twin = ".swap-" + name;
            symlinkat(target, directory, twin.c_str());
            exchange(directory, name.c_str(), twin.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "exchange") == 0) {
        return exchangeForever(argv[2], argv[3]);
    }
    if (argc == 4 && strcmp(argv[1], "children") == 0) {
        return swapChildrenForever(argv[2], argv[3]);
    }
    fputs("usage: swapper exchange NAME LINK | swapper children DIRECTORY LINK-TARGET\n", stderr);
    return 2;
}
