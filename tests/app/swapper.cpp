// The attacker of the race test: run as an unprivileged user, it swaps names in a tight loop
// until it is killed, so that a link stands where the program expects a directory or a file at
// random moments of its run. It prints "ready" once the loop has started.
//
//   swapper exchange NAME LINK     swaps NAME and LINK (a link made beforehand, in another
//                                  directory of the user's) again and again
//   swapper children DIRECTORY LINK-TARGET
//                                  swaps every entry the program makes in DIRECTORY with a link
//                                  to LINK-TARGET, again and again
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        return 2;
    }
    const bool children = strcmp(argv[1], "children") == 0;
    const int directory = children ? open(argv[2], O_RDONLY | O_DIRECTORY) : AT_FDCWD;
    if ((children && directory < 0) ||
        (!children && renameat2(AT_FDCWD, argv[2], AT_FDCWD, argv[3], RENAME_EXCHANGE) != 0)) {
        perror("swapper");
        return 1;
    }
    write(STDOUT_FILENO, "ready\n", 6);
    while (!children) {
        renameat2(AT_FDCWD, argv[2], AT_FDCWD, argv[3], RENAME_EXCHANGE);
    }
    // Each entry the program makes gets a twin ".swap-NAME", a link to the target, and trades
    // places with it on every pass: a link at its name one pass, the real entry the next.
    for (;;) {
        if (DIR* listing = opendir(argv[2])) {
            while (const dirent* entry = readdir(listing)) {
                const std::string twin = std::string(".swap-") + entry->d_name;
                if (entry->d_name[0] != '.') {
                    symlinkat(argv[3], directory, twin.c_str());
                    renameat2(directory, entry->d_name, directory, twin.c_str(), RENAME_EXCHANGE);
                }
            }
            closedir(listing);
        }
    }
}
