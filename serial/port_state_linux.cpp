// Linux: the state of a port from what the kernel publishes, without opening the device.
//
// - The node's metadata: is it there, a character device, and may this user read and write it.
// - /proc/tty/drivers: which device numbers belong to serial lines (a character device such as
//   /dev/null is no port).
// - /proc/locks: flock and POSIX locks on the node, with the pid that holds them. Serial
//   programs, this one included, lock the port they use; the table is readable by every user.
// - /proc/<pid>/fd: which processes have the device open (ModemManager probing a modem, a
//   terminal program), by descriptors whose target lies under /dev. Only the processes of this
//   user are readable (all of them for root).
#include "serial/port_state.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

// A process id from a /proc entry name; nothing for the entries that are no process.
std::optional<int> PidOfEntry(const char* name) {
    char* end = nullptr;
    const long pid = std::strtol(name, &end, 10);
    if (end == name || *end != '\0' || pid <= 0 || pid > INT_MAX)
        return std::nullopt;
    return static_cast<int>(pid);
}

PortHolder HolderOf(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return {pid, name.empty() ? std::string("?") : name};
}

// Whether a device number belongs to a serial line or a pseudo-terminal's slave side, from
// lines such as "usbserial  /dev/ttyUSB  188 0-511 serial". Nothing when the table cannot be
// read (then nobody can tell).
std::optional<bool> IsSerialLine(dev_t device) {
    std::ifstream drivers("/proc/tty/drivers");
    if (!drivers)
        return std::nullopt;
    std::string line;
    while (std::getline(drivers, line)) {
        std::istringstream fields(line);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;)
            tokens.push_back(token);
        if (tokens.size() < 4)
            continue;
        const std::string& type = tokens[tokens.size() - 1];
        const std::string& minors = tokens[tokens.size() - 2];
        const unsigned long major = std::strtoul(tokens[tokens.size() - 3].c_str(), nullptr, 10);
        const std::size_t dash = minors.find('-');
        const unsigned long first = std::strtoul(minors.c_str(), nullptr, 10);
        const unsigned long last = dash == std::string::npos
                                       ? first
                                       : std::strtoul(minors.c_str() + dash + 1, nullptr, 10);
        if (major == ::major(device) && ::minor(device) >= first && ::minor(device) <= last)
            return type == "serial" || type == "pty:slave";
    }
    return false;
}

// The holder of a lock on the node, from lines such as "1: FLOCK ADVISORY WRITE 812 00:1b:3 0
// EOF" (device numbers in hex, then the inode).
std::optional<PortHolder> LockHolder(const struct stat& node) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string id, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> id >> kind) || kind == "->") // "->": waiting for the lock, not holding
            continue;
        if (!(fields >> mode >> access >> pid >> where))
            continue;
        unsigned int major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3)
            continue;
        if (pid > 0 && pid != ::getpid() && major == ::major(node.st_dev) &&
            minor == ::minor(node.st_dev) && inode == node.st_ino)
            return HolderOf(static_cast<int>(pid));
    }
    return std::nullopt;
}

// Whether a descriptor link's target is a node under /dev. The link's text comes from /proc
// alone; only such a target is then looked at, on the local device file systems: a stat of any
// other descriptor would reach its file system, and one on a hung network or FUSE mount would
// block the window's thread with it.
bool IsDeviceNodeLink(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 5 && std::string_view(target, static_cast<std::size_t>(n)).substr(0, 5) == "/dev/";
}

bool HasDeviceOpen(int pid, dev_t device) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = ::opendir(dir.c_str());
    if (fds == nullptr)
        return false; // another user's process, or gone meanwhile
    bool found = false;
    while (const dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string link = dir + "/" + entry->d_name;
        struct stat target {};
        if (IsDeviceNodeLink(link) && ::stat(link.c_str(), &target) == 0 &&
            S_ISCHR(target.st_mode) && target.st_rdev == device) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

std::optional<PortHolder> OpenerOf(dev_t device) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return std::nullopt;
    std::optional<PortHolder> holder;
    while (const dirent* entry = ::readdir(proc)) {
        const std::optional<int> pid = PidOfEntry(entry->d_name);
        if (pid && *pid != ::getpid() && HasDeviceOpen(*pid, device)) {
            holder = HolderOf(*pid);
            break;
        }
    }
    ::closedir(proc);
    return holder;
}

} // namespace

std::optional<PortHolder> FindPortHolder(const std::string& path) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0)
        return std::nullopt;
    // The lock holder first: it is the one an open runs into.
    if (std::optional<PortHolder> holder = LockHolder(node))
        return holder;
    if (S_ISCHR(node.st_mode))
        return OpenerOf(node.st_rdev);
    return std::nullopt;
}

PortCheck CheckPortState(const std::string& path) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0) {
        const bool denied = errno == EACCES;
        return {denied ? PortState::kDenied : PortState::kGone, std::nullopt, {}};
    }
    if (!S_ISCHR(node.st_mode) || IsSerialLine(node.st_rdev) == false)
        return {PortState::kNotSerial, std::nullopt, {}};
    // With the effective ids, as the open would use them.
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0)
        return {errno == ENOENT ? PortState::kGone : PortState::kDenied, std::nullopt, {}};
    if (std::optional<PortHolder> holder = FindPortHolder(path))
        return {PortState::kBusy, holder, {}};
    return {};
}
