// The executable the start-up benchmark spawns: with "init" it starts the library as a tool process with a
// logger and shuts it down again; without, main returns at once (the cost of the process alone).
#include "app/VProcessIPC.h"

#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "init") != 0) return 0;
    // The tool parses its own arguments: "init" is a free argument it would refuse, so it is not handed over.
    vela::sProcessCommandLineArgc = 1;
    vela::VProcessIPC tool;
    return tool.Init(vela::eProcessInit_Logger) ? 0 : tool.GetExitStatus() + 10;
}
