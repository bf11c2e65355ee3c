#include "cli/console_os.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace console_os {

namespace {
// Written by the signal handler and the input thread; lock-free, so safe in a handler.
std::atomic<bool> Stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    Stop.store(true);
}
} // namespace

void UseUtf8Console() {
    // A terminal's encoding is its own: Qt's output is UTF-8, as the locale says.
}

int EndAfterLine(int code) {
    return code;
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal or a dropped ssh session (SIGHUP) and a polite kill (SIGTERM) stop as
    // Ctrl-C does: the session ends at its next wait and writes its record, instead of dying
    // in the middle of a frame.
    for (const int number : {SIGINT, SIGHUP, SIGTERM})
        sigaction(number, &action, nullptr);
    // A parent that went away must not kill us in the middle of a frame through a write to a
    // closed pipe; the write fails instead and the session ends at its next wait.
    signal(SIGPIPE, SIG_IGN);
}

void StopOnInputEnd() {
    std::thread([] {
        char byte;
        for (;;) {
            const ssize_t n = read(STDIN_FILENO, &byte, 1);
            if (n < 0 && errno == EINTR)
                continue;
            break; // end of input, an error or any byte: stop
        }
        Stop.store(true);
    }).detach();
}

bool StopRequested() {
    return Stop.load();
}

void RequestStop() {
    Stop.store(true);
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

bool EnableTerminalSequences() {
    return true;
}

void RewriteLine(const std::string& text) {
    const std::string bytes = "\r" + text + "\x1b[K";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void RewriteRows(const std::vector<std::string>& rows, int rowsAbove) {
    std::string bytes;
    if (rowsAbove > 0)
        bytes += "\x1b[" + std::to_string(rowsAbove) + "A";
    for (const std::string& row : rows)
        bytes += "\r" + row + "\x1b[K\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void EraseRows(int rowsAbove) {
    const std::string bytes = "\x1b[" + std::to_string(rowsAbove) + "A\r\x1b[J";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

bool AppendLineDurably(const std::string& path, const std::string& line, std::string* error) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    // One write, so that the lines of several processes appending to one log never mix.
    const std::string whole = line + "\n";
    ssize_t written;
    do
        written = write(fd, whole.data(), whole.size());
    while (written < 0 && errno == EINTR);
    bool ok = written == static_cast<ssize_t>(whole.size());
    if (!ok)
        *error = written < 0 ? std::strerror(errno) : "short write";
    if (ok && fsync(fd) != 0) {
        *error = std::strerror(errno);
        ok = false;
    }
    close(fd);
    return ok;
}

} // namespace console_os
