// Command line of quillet-board-sim.
#pragma once

#include "board.h"

#include <string>
#include <vector>

namespace boardsim {

struct SimOptions {
    BoardConfig board;
    std::string comDir; // from --com-dir, else $QUILLET_COM_DIR
    int com = 1;
    bool lineRate = false;
    std::string flashOut;
    std::string eepromOut;
    std::string flashWireOut; // the same places as the wire carried them, still scrambled
    std::string eepromWireOut;
    std::string logPath; // "-" is stderr
    bool help = false;
};

struct ParseResult {
    SimOptions options;
    std::string error; // empty when the command line was fine
};

// args excludes the program name. `envComDir` is the default com dir (may be null).
ParseResult parseOptions(const std::vector<std::string>& args, const char* envComDir);

// Numbers as decimal or 0x-prefixed hex; false on anything else or out of [min, max].
bool parseNumber(const std::string& text, long min, long max, long& out);

std::string usage();

} // namespace boardsim
