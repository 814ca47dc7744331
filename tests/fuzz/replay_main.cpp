/* replay_main.cpp -- a fuzz target's entry point run once on each file named
 * (corpus and kept crash inputs), for the ordinary test suite; exit code 1
 * when a file cannot be read. */
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    int failed = 0;
    for (int i = 1; i < argc; i++) {
        std::ifstream f(argv[i], std::ios::binary);
        if (!f) {
            fprintf(stderr, "replay: cannot open %s\n", argv[i]);
            failed = 1;
            continue;
        }
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)),
                                  std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    printf("replay: %d input(s)\n", argc - 1);
    return failed;
}
