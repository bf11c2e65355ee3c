// The exit codes of quillet-cli and the outcome classes they stand for.
#pragma once

#include <QString>
#include <cstdint>

enum ExitCode : int {
    kExitOk = 0,       // " Program Ok "
    kExitOther = 1,    // the log could not be written, a child process could not run
    kExitUsage = 2,    // the command line is wrong
    kExitPortOpen = 3, // the port could not be opened ("Invalid Port Com")
    kExitNotFound = 4, // no bootloader answered ("Device not Found")
    kExitRefused = 5,  // unknown chip, no or too big an image, board or preparation refused
    kExitTransfer = 6, // no response, CHK error, the device hung up
    kExitStopped = 7,  // Ctrl-C (" User Abort !! ")
    kExitBroker = 8,   // the broker refused the station's login or TLS handshake
};

// The console's outcome text for a search that ended without a result line of its own.
inline constexpr const char* kNotFoundText = "Device not Found";

// The class of a session's outcome: the search's result (session/search.h) and the last
// result line the session showed (empty when it showed none).
ExitCode ClassifyOutcome(std::int16_t searchResult, const QString& resultText);

// The exit code of several boards (a gang, or the boards of a repeat loop): 0 only when every
// one passed, else the first failure's.
ExitCode CombinedExitCode(const int* codes, int count);
