// A pseudo-terminal held open for the length of a test: a serial device without hardware.
#pragma once

#include <climits>
#include <pty.h>
#include <string>
#include <unistd.h>

class Pty {
public:
    Pty() {
        char name[PATH_MAX] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            slavePath_ = name;
    }
    ~Pty() {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
