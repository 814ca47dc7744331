/* torvik_main.cpp -- the program entry of the agent TORVIK.
 *
 * Owns: nothing. Threads: main thread.
 */
#include "core/startup.h"

int main(int argc, char **argv) {
    return TorvikMain(argc, argv);
}
