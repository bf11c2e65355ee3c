// quillet-board-sim: a bootloader board on a pseudo-terminal, for development and tests.
//
// One thread, one ppoll loop: bytes from the host go straight into the Board with the time
// they count as received (later than now when --line-rate paces them), and the replies the
// Board schedules are written when due. Memory files and the log are written before the
// reply that follows them, so whoever sees the reply can read the files.

#include "board.h"
#include "options.h"
#include "pty_port.h"
#include "wire.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <unistd.h>

namespace boardsim {
namespace {

volatile std::sig_atomic_t gStopSignal = 0;

constexpr timespec kHangupBackoff{0, 5'000'000};

void onStopSignal(int signal) {
    gStopSignal = signal;
}

// Readers poll these files while we run: never let them see a half-written one.
bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out)
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

class Records {
public:
    explicit Records(const SimOptions& options) : options_(options) {}
    ~Records() {
        if (log_ != nullptr && log_ != stderr)
            std::fclose(log_);
    }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    std::string open() {
        if (options_.logPath == "-") {
            log_ = stderr;
        } else if (!options_.logPath.empty()) {
            log_ = std::fopen(options_.logPath.c_str(), "we");
            if (log_ == nullptr)
                return options_.logPath + ": " + std::strerror(errno);
        }
        return {};
    }

    void log(const std::vector<std::string>& lines) {
        if (log_ == nullptr || lines.empty())
            return;
        for (const std::string& line : lines) {
            std::fputs(line.c_str(), log_);
            std::fputc('\n', log_);
        }
        std::fflush(log_);
    }

    bool writeMemory(const Board& board) {
        bool ok = true;
        if (!options_.flashOut.empty())
            ok &=
                writeFileAtomically(options_.flashOut, board.flash().data(), board.flash().size());
        if (!options_.eepromOut.empty())
            ok &= writeFileAtomically(options_.eepromOut, board.eeprom().data(),
                                      board.eeprom().size());
        if (!options_.flashWireOut.empty())
            ok &= writeFileAtomically(options_.flashWireOut, board.wireFlash().data(),
                                      board.wireFlash().size());
        if (!options_.eepromWireOut.empty())
            ok &= writeFileAtomically(options_.eepromWireOut, board.wireEeprom().data(),
                                      board.wireEeprom().size());
        return ok;
    }

private:
    const SimOptions& options_;
    std::FILE* log_ = nullptr;
};

struct OutByte {
    std::uint8_t byte;
    TimePoint due;
    bool hangUpAfter;
};

int run(const SimOptions& options) {
    // SIGINT/SIGTERM/SIGHUP are only let through inside ppoll, so a stop never interrupts a
    // half-done step and the link is always removed.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    PtyPort port;
    Records records(options);
    std::string error = port.open();
    if (error.empty())
        error = records.open();
    Board board(options.board, Clock::now());
    if (error.empty() && !records.writeMemory(board))
        error = "cannot write the memory files (--flash-out, ...)";
    if (error.empty())
        error = port.publish(options.comDir, options.com);
    if (!error.empty()) {
        std::cerr << "quillet-board-sim: " << error << '\n';
        return 1;
    }
    std::printf("READY COM%d %s\n", options.com, port.slavePath().c_str());
    std::fflush(stdout);

    std::deque<OutByte> output;
    TimePoint lastIn{};  // when the last byte from the host counts as received
    TimePoint lastOut{}; // when the last reply byte is due
    bool outputBlocked = false;
    std::optional<TimePoint> hangUpArmed;
    bool hostSpokeSinceArmed = false;
    std::vector<std::uint8_t> buffer(4096);

    while (gStopSignal == 0) {
        TimePoint now = Clock::now();
        board.tick(now);
        records.log(board.takeLog());
        if (board.takeMemoryChanged() && !records.writeMemory(board))
            std::cerr << "quillet-board-sim: cannot write memory files\n";
        for (Reply& reply : board.takeReplies()) {
            for (std::size_t i = 0; i < reply.bytes.size(); ++i) {
                TimePoint due = std::max(reply.notBefore, lastOut);
                if (options.lineRate)
                    due += wire::kByteTime;
                lastOut = due;
                output.push_back(
                    {reply.bytes[i], due, reply.hangUpAfter && i + 1 == reply.bytes.size()});
            }
        }

        // Everything due goes out in one write; with --line-rate that is one byte unless
        // we woke up late.
        std::vector<std::uint8_t> chunk;
        for (std::size_t i = 0; i < output.size() && output[i].due <= now; ++i)
            chunk.push_back(output[i].byte);
        outputBlocked = false;
        if (!chunk.empty()) {
            const ssize_t n = ::write(port.master(), chunk.data(), chunk.size());
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::cerr << "quillet-board-sim: write: " << std::strerror(errno) << '\n';
                return 1;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (output.front().hangUpAfter)
                    hangUpArmed = now;
                output.pop_front();
            }
            outputBlocked = n < static_cast<ssize_t>(chunk.size());
        }

        if (hangUpArmed) {
            // Let the host read the last reply first: a hang-up flushes what it has not read.
            // It has read it once it sends again, or once the queue stays empty.
            const auto armedFor = now - *hangUpArmed;
            bool go = hostSpokeSinceArmed || armedFor >= std::chrono::seconds(1);
            if (!go && armedFor >= std::chrono::milliseconds(10))
                go = port.unreadByHost() == 0;
            if (go) {
                board.noteHangup(now);
                records.log(board.takeLog());
                port.unpublish();
                port.hangUp();
                return 0;
            }
        }

        std::optional<TimePoint> wake = board.deadline();
        if (!output.empty() && !outputBlocked)
            wake = wake ? std::min(*wake, output.front().due) : output.front().due;
        if (hangUpArmed) {
            const TimePoint check = now + std::chrono::milliseconds(5);
            wake = wake ? std::min(*wake, check) : check;
        }
        timespec timeout{};
        if (wake) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::max(*wake - now, Clock::duration::zero()))
                                .count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        pollfd fds[2] = {
            {port.master(), static_cast<short>(POLLIN | (outputBlocked ? POLLOUT : 0)), 0},
            {port.openCloseWatch(), POLLIN, 0}};
        const pollfd& pfd = fds[0];
        const int ready = ::ppoll(fds, 2, wake ? &timeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::cerr << "quillet-board-sim: ppoll: " << std::strerror(errno) << '\n';
            return 1;
        }
        if (fds[1].revents & POLLIN)
            port.hostOpenedOrClosed();
        if ((pfd.revents & POLLIN) == 0) {
            // A hang-up on the master would make ppoll return at once, again and again.
            if (pfd.revents & (POLLHUP | POLLERR))
                ::ppoll(nullptr, 0, &kHangupBackoff, &waitMask);
            continue;
        }
        const ssize_t n = ::read(port.master(), buffer.data(), buffer.size());
        if (n <= 0)
            continue; // EAGAIN, or EIO while no slave is open (we hold one, so rare)
        if (hangUpArmed) {
            hostSpokeSinceArmed = true;
            continue;
        }
        now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            // At line rate a byte needs 11 bit times on the wire after the one before it.
            TimePoint at = options.lineRate ? std::max(now, lastIn) + wire::kByteTime : now;
            lastIn = at;
            board.receive(buffer[static_cast<std::size_t>(i)], at);
        }
    }
    return 0; // port's destructor removes the link
}

} // namespace
} // namespace boardsim

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const boardsim::ParseResult parsed =
        boardsim::parseOptions(args, std::getenv("QUILLET_COM_DIR"));
    if (parsed.options.help) {
        std::cout << boardsim::usage();
        return 0;
    }
    if (!parsed.error.empty()) {
        std::cerr << "quillet-board-sim: " << parsed.error << "\nTry --help.\n";
        return 2;
    }
    return boardsim::run(parsed.options);
}
