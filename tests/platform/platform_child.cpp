/* platform_child.cpp -- the small program that the child-process tests
 * start through PLRunProcess on every system. What it shows is what the C
 * runtime made of its command line and handles (and, for "console", what
 * the platform layer's console procedures see).
 *
 *   platform_child args A B ...   prints "<n>\n" and then each argument as "[A]\n"
 *   platform_child exit N         prints "out\n" on stdout, "err\n" on stderr, ends with N
 *   platform_child flood LINES    prints LINES lines of 50 bytes (49 digits and a line end)
 *   platform_child stdin          reads standard input to its end, prints "read <bytes>\n"
 *   platform_child cwd            prints the current directory
 *   platform_child sleep MS       prints "started\n", then sleeps MS milliseconds
 *   platform_child env NAME       prints the variable's value, or "<unset>"
 *   platform_child console        prints PLStdoutIsTerminal, PLKeyWaiting and PLReadKey
 */
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/platform.h"

int main(int argc, char **argv) {
    if (argc < 2)
        return 100;
    const char *mode = argv[1];
    if (strcmp(mode, "args") == 0) {
        printf("%d\n", argc - 2);
        for (int i = 2; i < argc; i++)
            printf("[%s]\n", argv[i]);
        return 0;
    }
    if (strcmp(mode, "exit") == 0 && argc == 3) {
        fputs("out\n", stdout);
        fflush(stdout);
        fputs("err\n", stderr);
        fflush(stderr);
        return atoi(argv[2]);
    }
    if (strcmp(mode, "flood") == 0 && argc == 3) {
        long lines = atol(argv[2]);
        for (long i = 0; i < lines; i++)
            fputs("0123456789012345678901234567890123456789012345678\n", stdout);
        return 0;
    }
    if (strcmp(mode, "stdin") == 0) {
        long n = 0;
        while (getchar() != EOF)
            n++;
        printf("read %ld\n", n);
        return 0;
    }
    if (strcmp(mode, "cwd") == 0) {
        std::error_code ec;
        printf("%s\n", std::filesystem::current_path(ec).string().c_str());
        return ec ? 101 : 0;
    }
    if (strcmp(mode, "sleep") == 0 && argc == 3) {
        fputs("started\n", stdout);
        fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(atol(argv[2])));
        return 0;
    }
    if (strcmp(mode, "env") == 0 && argc == 3) {
        const char *v = getenv(argv[2]);
        printf("%s\n", v != nullptr ? v : "<unset>");
        return 0;
    }
    if (strcmp(mode, "console") == 0) {
        printf("terminal %d\n", PLStdoutIsTerminal());
        printf("key waiting %d\n", PLKeyWaiting());
        printf("key %d\n", PLReadKey());
        return 0;
    }
    return 100;
}
