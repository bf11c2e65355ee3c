// Several boards at once: one child process of this executable per port (the session's state
// is process-wide), a live table or plain lines, and a summary.
#pragma once

#include "cli/board_console.h"
#include "cli/options.h"

class LineLink;

// Runs one child per port and returns 0 only when every board passed. Publishing (--mqtt):
// the children spool their records in spool, and this process publishes them through link
// (none when the broker refused the station).
int RunGang(const CliOptions& options, OutputMode mode, const QString& spool, LineLink* link);
