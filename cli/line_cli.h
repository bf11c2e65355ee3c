// quillet-cli on a line of stations: publishing to the broker (--mqtt) and the line view
// (--watch).
#pragma once

#include "cli/options.h"

#include <QString>
#include <memory>

class LineLink;

// The folder where this run's records wait for the broker: --spool, else beside the log,
// else in the user's data folder.
QString SpoolFolder(const CliOptions& options);
// Connects the station before any board is touched. Returns 0 with *link set (the broker may
// still be out of reach: the link keeps trying and says so), or the exit code when the
// station cannot publish at all.
int StartLine(const CliOptions& options, const QString& spool, std::unique_ptr<LineLink>* link);
// Says the station is offline, gives the broker a few seconds for what is spooled, and says
// what is left. Returns code, the run's exit code, for main to return; on Windows a run that
// had a link ends in here (console_os::EndAfterLine).
int FinishLine(std::unique_ptr<LineLink> link, const QString& spool, int code);
// The line view until Ctrl-C; its exit code.
int WatchLine(const CliOptions& options);
