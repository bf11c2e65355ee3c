// SimBoard: runs quillet-board-sim as a child process for the length of a test.
//
// The constructor starts the simulator with its COM link in a com dir (a fresh temporary
// one unless given), its memory and log files in a private temporary dir, and waits up to
// 5 s for it to report READY. It never throws: check ready() (and error()) before use.
// The destructor stops the child (SIGTERM, then SIGKILL), reaps it, and removes what it
// created. Qt-free on purpose; from a Qt test just point QUILLET_COM_DIR at comDir().
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class SimBoard {
public:
    // `args` are simulator options (--chip B, --nak 3:2, ...), without --com-dir, --log and
    // the memory files (--flash-out, --flash-wire-out, ...), which SimBoard supplies.
    explicit SimBoard(std::vector<std::string> args = {}, std::string comDir = {});
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    bool ready() const { return ready_; }
    const std::string& error() const { return error_; }

    const std::string& comDir() const { return comDir_; }
    int comNumber() const { return com_; } // n of COM<n>
    std::string portPath() const;          // comDir()/COM<n>
    const std::string& slavePath() const { return slavePath_; }

    // Snapshots of the simulator's files; empty if not written yet. flash() and eeprom() are
    // what the board keeps, unscrambled; the wire ones hold the data bytes as sent.
    std::vector<std::uint8_t> flash() const;
    std::vector<std::uint8_t> eeprom() const;
    std::vector<std::uint8_t> wireFlash() const;
    std::vector<std::uint8_t> wireEeprom() const;
    std::vector<std::string> logLines() const;

    // Polls the log every 5 ms until `count` lines start with `prefix` ("FRAME", "PROBE").
    // The value of key=value in a log line ("" when absent).
    static std::string logField(const std::string& line, const std::string& key);

    bool waitForLog(const std::string& prefix, std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    // Whether the child still runs; false after --hangup-after did its work.
    bool running();
    // Waits up to `timeout` for the child to end by itself; its exit code, or -1.
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // SIGTERM, bounded wait, SIGKILL; the exit code, or -1 if it had to be killed.
    int stop();

private:
    bool start(const std::vector<std::string>& args);

    std::string workDir_; // our temporary files; removed in the destructor
    std::string comDir_;
    bool ownComDir_ = false; // created by us, removed in the destructor
    pid_t pid_ = -1;
    int exitCode_ = -1;
    bool ready_ = false;
    int com_ = 0;
    std::string slavePath_;
    std::string error_;
};
