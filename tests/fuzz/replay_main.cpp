/* replay_main.cpp -- runs a fuzz target's entry point once on each file
 * named on the command line (the seed corpus and every crash input kept),
 * for the ordinary test suite, without libFuzzer. Exit code 1 when a file
 * cannot be read; a fault in the target ends the process as it would under
 * the fuzzer. */
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    int failed = 0;
    for (int i = 1; i < argc; i++) {
        FILE *f = fopen(argv[i], "rb");
        if (f == nullptr) {
            fprintf(stderr, "replay: cannot open %s\n", argv[i]);
            failed = 1;
            continue;
        }
        std::vector<uint8_t> data;
        uint8_t buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            data.insert(data.end(), buf, buf + n);
        fclose(f);
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    printf("replay: %d input(s)\n", argc - 1);
    return failed;
}
