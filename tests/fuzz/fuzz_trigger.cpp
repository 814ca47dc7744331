/* fuzz_trigger.cpp -- a trigger message of any bytes (up to its first NUL)
 * made into arguments and read as options; input starting with '!' is split
 * at NULs into the argument vector itself. */
#include <cstdlib>
#include <string>
#include <vector>

#include "core/startup.h"
#include "fuzz_support.h"

FUZZ_TARGET(0, 8192) {
    QuietSettings();
    static char program[] = "torvik";
    if (size > 0 && data[0] == '!') {
        std::vector<std::string> words = {"torvik", ""};
        for (size_t i = 1; i < size; i++) {
            if (data[i] == '\0')
                words.emplace_back();
            else
                words.back() += (char)data[i];
        }
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        ParseOptions((int)words.size(), argv.data());
        return 0;
    }
    std::string trigger((const char *)data, size);
    trigger = trigger.c_str(); /* an argument ends at its first NUL */
    char *argvIn[] = {program, &trigger[0], nullptr};
    int argc = 0;
    char **argv = nullptr;
    if (ParseTriggerMessage(trigger.c_str(), &argc, argvIn, &argv) != 1)
        return 0;
    FUZZ_CHECK(argc >= 1 && argv != nullptr);
    ParseOptions(argc, argv);
    FreeTriggerArgs(argv);
    return 0;
}
