// The board's end of the serial line: a pseudo-terminal whose slave the updater opens
// through a COM<n> symbolic link.
#pragma once

#include <string>

namespace boardsim {

class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Opens master and slave, puts the slave in raw 115200 8N2. Empty string on success,
    // else what failed with the system's text.
    std::string open();

    // Creates (or replaces) DIR/COM<n> pointing to the slave.
    std::string publish(const std::string& dir, int com);
    // Removes the link if it still points to our slave.
    void unpublish();

    // Closes master and slave: the updater's next read or poll sees the hang-up.
    void hangUp();

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return linkPath_; }

    // Bytes written to the master that the updater has not read yet; -1 if unknown.
    int unreadByHost() const;

    // Readable when the updater opened or closed the slave (-1 where not supported);
    // call hostOpenedOrClosed() then.
    int openCloseWatch() const { return watch_; }
    void hostOpenedOrClosed();

private:
    int master_ = -1;
    // Kept open so the master does not report EIO while the updater has its side closed
    // (between runs, or when it reopens the port).
    int slave_ = -1;
    // Our slave descriptor also keeps a TIOCEXCL set by the updater alive after it closes,
    // which a real port drops on its last close; we drop it when the updater's opens are
    // all closed again.
    int watch_ = -1;
    int hostOpens_ = 0;
    std::string slavePath_;
    std::string linkPath_;
};

} // namespace boardsim
