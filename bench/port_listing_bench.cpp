// Times one listing of the port dialog: the present ports and each one's state, with 20
// pseudo-terminals as COM1 to COM20 and every process of this machine that this user can see.
#include "serial/port_discovery.h"
#include "serial/port_names.h"
#include "serial/port_state.h"

#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPorts = 20;
constexpr int kRounds = 50;

// Processes in /proc, and the descriptors of those this user may read.
void CountProcesses(int& processes, int& descriptors) {
    processes = descriptors = 0;
    DIR* proc = ::opendir("/proc");
    while (const dirent* entry = proc ? ::readdir(proc) : nullptr) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        ++processes;
        DIR* fds = ::opendir(("/proc/" + std::string(entry->d_name) + "/fd").c_str());
        while (const dirent* fd = fds ? ::readdir(fds) : nullptr)
            descriptors += fd->d_name[0] != '.';
        if (fds != nullptr)
            ::closedir(fds);
    }
    if (proc != nullptr)
        ::closedir(proc);
}

} // namespace

int main() {
    QTemporaryDir com;
    ::setenv("QUILLET_COM_DIR", com.path().toLocal8Bit().constData(), 1);
    std::vector<int> masters;
    for (int n = 1; n <= kPorts; ++n) {
        int master = -1;
        int slave = -1;
        char name[64];
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            return 1;
        }
        ::close(slave);
        masters.push_back(master);
        const std::string link = com.path().toStdString() + "/COM" + std::to_string(n);
        if (::symlink(name, link.c_str()) != 0) {
            std::perror("symlink");
            return 1;
        }
    }

    int listed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        std::unique_ptr<PortDeviceSet> devices = OpenPortDevices();
        std::string portName;
        std::string friendlyName;
        listed = 0;
        while (NextComPort(devices.get(), &portName, &friendlyName) == 1) {
            CheckComPort(std::atoi(portName.c_str() + 3) - 1); // "COM3": index 2
            ++listed;
        }
        ClosePortDevices(std::move(devices));
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;

    int processes = 0;
    int descriptors = 0;
    CountProcesses(processes, descriptors);
    std::printf("port listing: %d ports, %d processes (%d descriptors readable): %.2f ms a "
                "listing (mean of %d)\n",
                listed, processes, descriptors, took.count() / kRounds, kRounds);
    for (int master : masters)
        ::close(master);
    return listed == kPorts ? 0 : 1;
}
