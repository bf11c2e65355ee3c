#include "sim_board.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#ifndef QUILLET_BOARD_SIM_PATH
#error "QUILLET_BOARD_SIM_PATH must name the quillet-board-sim executable"
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::seconds kReadyTimeout{5};
constexpr std::chrono::seconds kStopTimeout{2};
constexpr std::chrono::milliseconds kPollPeriod{5};

std::vector<std::uint8_t> readBinary(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int exitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

SimBoard::SimBoard(std::vector<std::string> args, std::string comDir) : comDir_(std::move(comDir)) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillet-sim-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error_ = std::string("mkdtemp: ") + std::strerror(errno);
        return;
    }
    workDir_ = pattern;
    std::error_code ec;
    if (comDir_.empty())
        comDir_ = workDir_ + "/com";
    fs::create_directories(comDir_, ec);
    if (ec) {
        error_ = comDir_ + ": " + ec.message();
        return;
    }
    ready_ = start(args);
    if (!ready_)
        stop();
}

bool SimBoard::start(const std::vector<std::string>& args) {
    std::vector<std::string> argStrings = {QUILLET_BOARD_SIM_PATH,
                                           "--com-dir",
                                           comDir_,
                                           "--flash-out",
                                           workDir_ + "/flash.bin",
                                           "--eeprom-out",
                                           workDir_ + "/eeprom.bin",
                                           "--flash-wire-out",
                                           workDir_ + "/flash-wire.bin",
                                           "--eeprom-wire-out",
                                           workDir_ + "/eeprom-wire.bin",
                                           "--log",
                                           workDir_ + "/sim.log"};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    // Built before fork: the child of a threaded process may only make async-signal-safe calls.
    std::vector<char*> argv;
    for (std::string& s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error_ = std::string("pipe2: ") + std::strerror(errno);
        return false;
    }
    pid_ = ::fork();
    if (pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid_ == 0) {
#ifdef __linux__
        ::prctl(PR_SET_PDEATHSIG, SIGTERM); // a crashed test leaves no simulator behind
#endif
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);

    // Wait for "READY COM<n> <slave path>\n".
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) == 0) {
            error_ = "no READY line within 5 s";
            break;
        }
        char buf[256];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = "simulator ended before READY (see its stderr)";
            break;
        }
        line.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (!error_.empty())
        return false;

    char path[256] = {};
    if (std::sscanf(line.c_str(), "READY COM%d %255s", &com_, path) != 2) {
        error_ = "unexpected first line: " + line;
        return false;
    }
    slavePath_ = path;
    return true;
}

SimBoard::~SimBoard() {
    stop();
    std::error_code ec;
    // A killed simulator cannot remove its link from a com dir that we do not own.
    if (!slavePath_.empty() && fs::read_symlink(portPath(), ec) == slavePath_)
        fs::remove(portPath(), ec);
    if (!workDir_.empty())
        fs::remove_all(workDir_, ec);
}

std::string SimBoard::portPath() const {
    return comDir_ + "/COM" + std::to_string(com_);
}

std::vector<std::uint8_t> SimBoard::flash() const {
    return readBinary(workDir_ + "/flash.bin");
}

std::vector<std::uint8_t> SimBoard::eeprom() const {
    return readBinary(workDir_ + "/eeprom.bin");
}

std::vector<std::uint8_t> SimBoard::wireFlash() const {
    return readBinary(workDir_ + "/flash-wire.bin");
}

std::vector<std::uint8_t> SimBoard::wireEeprom() const {
    return readBinary(workDir_ + "/eeprom-wire.bin");
}

std::vector<std::string> SimBoard::logLines() const {
    std::vector<std::string> lines;
    std::ifstream in(workDir_ + "/sim.log");
    // A line is complete only with its newline; the simulator may be writing the next one.
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    return lines;
}

bool SimBoard::waitForLog(const std::string& prefix, std::size_t count,
                          std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::size_t found = 0;
        for (const std::string& line : logLines())
            found += line.compare(0, prefix.size(), prefix) == 0;
        if (found >= count)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollPeriod);
    }
}

bool SimBoard::running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0)
        return true;
    if (r == pid_)
        exitCode_ = exitCodeOf(status);
    pid_ = -1;
    return false;
}

int SimBoard::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(kPollPeriod);
    }
    return exitCode_;
}

int SimBoard::stop() {
    if (!running())
        return exitCode_;
    ::kill(pid_, SIGTERM);
    if (waitForExit(kStopTimeout) >= 0 || pid_ <= 0)
        return exitCode_;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    exitCode_ = -1;
    return -1;
}

std::string SimBoard::logField(const std::string& line, const std::string& key) {
    std::istringstream words(line);
    std::string word;
    while (words >> word)
        if (word.rfind(key + "=", 0) == 0)
            return word.substr(key.size() + 1);
    return {};
}
