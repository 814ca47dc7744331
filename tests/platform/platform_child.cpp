/* platform_child.cpp -- the program the child-process tests start: it shows
 * what the C runtime made of its command line and handles.
 *   args A B ...  "<n>\n", then "[A]\n" for each argument
 *   exit N        "out\n" on stdout, "err\n" on stderr, exit code N
 *   flood N       N lines of 49 digits
 *   stdin         "read <bytes>\n" for what standard input held
 *   cwd           the current directory
 *   sleep MS      "started\n", then sleeps MS milliseconds
 *   console       what PLStdoutIsTerminal, PLKeyWaiting and PLReadKey say
 */
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/platform.h"

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const char *arg = argc > 2 ? argv[2] : "";
    long n = atol(arg);
    if (mode == "args") {
        printf("%d\n", argc - 2);
        for (int i = 2; i < argc; i++)
            printf("[%s]\n", argv[i]);
    } else if (mode == "exit") {
        fputs("out\n", stdout);
        fflush(stdout);
        fputs("err\n", stderr);
        return static_cast<int>(n);
    } else if (mode == "flood") {
        for (long i = 0; i < n; i++)
            fputs("0123456789012345678901234567890123456789012345678\n", stdout);
    } else if (mode == "stdin") {
        for (n = 0; getchar() != EOF;)
            n++;
        printf("read %ld\n", n);
    } else if (mode == "cwd") {
        std::error_code ec;
        printf("%s\n", std::filesystem::current_path(ec).string().c_str());
    } else if (mode == "sleep") {
        fputs("started\n", stdout);
        fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(n));
    } else if (mode == "console") {
        printf("terminal %d\nkey waiting %d\n", PLStdoutIsTerminal(), PLKeyWaiting());
        printf("key %d\n", PLReadKey());
    } else {
        return 100;
    }
    return 0;
}
