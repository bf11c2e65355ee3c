// Several boards at once: one child process of this executable per port (the session's state
// is process-wide), a live table or plain lines, and a summary.
#pragma once

#include "cli/board_console.h"
#include "cli/options.h"

// Runs one child per port and returns 0 only when every board passed.
int RunGang(const CliOptions& options, OutputMode mode);
