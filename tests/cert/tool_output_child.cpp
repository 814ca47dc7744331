/* tool_output_child.cpp -- a stand-in for a chatty tool in the runner's
 * tests: writes the bytes of the file named by its argument to standard
 * output, unchanged, and ends with exit code 0 (1 when it cannot read it).
 */
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char **argv) {
    if (argc != 2)
        return 1;
    FILE *f = PLOpenFile(argv[1], "rb", nullptr);
    if (f == nullptr)
        return 1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        fwrite(buf, 1, n, stdout);
    fclose(f);
    return fflush(stdout) == 0 ? 0 : 1;
}
