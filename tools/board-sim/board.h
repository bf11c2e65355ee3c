// The simulated bootloader: a byte-at-a-time parser of what the host sends, the replies it
// schedules, the faults it injects, and the memory it reconstructs from accepted frames.
//
// Pure logic: no descriptors, no clock. The caller passes the time each byte counts as
// received and writes the replies at or after their `notBefore`.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace boardsim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

struct BoardConfig {
    // Identity.
    std::uint8_t chip = 0xFE;
    std::uint8_t bios = 12;
    std::uint8_t board = 16;
    std::uint8_t prep = 0x02;
    bool oldIdentity = false; // answer chip, 'K' only
    std::string text = "SIM BOARD 1.0";
    std::uint16_t protectedStart = 0;
    std::uint16_t protectedLength = 0;
    std::uint8_t blockLength = 28; // announced text block length

    // Faults.
    int answerFrom = 0;                // probes before this number get no answer
    std::map<int, int> naks;           // frame number -> injected 'N' replies before accepting
    std::set<int> silent;              // frames left unanswered the first time they arrive
    std::vector<std::uint8_t> garbage; // sent before each identity answer
    int hangupAfter = -1;              // hang up after accepting this frame
    std::chrono::milliseconds replyDelay{0};
    std::chrono::milliseconds lateProbeReply{0};
    int lateProbeCount = -1;                   // how many answered probes come late; -1 all
    int lateProbesFrom = 0;                    // probes before this number are answered on time
    std::chrono::milliseconds textBlockGap{0}; // pause inside the text block, after its header
    bool nakProbes = false;
    int cutIdentity = -1;             // identity answers cut after this many bytes; -1 whole
    int cutIdentityCount = -1;        // how many answered probes get the cut answer; -1 all
    std::uint8_t progModeReply = 'K'; // answer to 0xCC; 0: none
    std::map<int, std::chrono::milliseconds> lateFrames; // frame number -> extra reply delay
    std::vector<std::uint8_t> frameGarbage;              // sent before each frame reply
};

struct Reply {
    std::vector<std::uint8_t> bytes;
    TimePoint notBefore;
    bool hangUpAfter = false; // the link goes down once these bytes are out
};

class Board {
public:
    Board(BoardConfig config, TimePoint start);

    // One byte from the host, counted as received at `at` (times never go backwards).
    void receive(std::uint8_t byte, TimePoint at);

    // Gives up a stalled frame. Call at or after deadline().
    void tick(TimePoint now);
    std::optional<TimePoint> deadline() const;

    std::vector<Reply> takeReplies();
    std::vector<std::string> takeLog();
    void noteHangup(TimePoint at);

    // What the board keeps, unscrambled: program memory from byte 0 to the highest byte
    // written, and the EEPROM; unwritten bytes 0xFF.
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    const std::array<std::uint8_t, 256>& eeprom() const { return eeprom_; }
    // The same places holding the data bytes as they came on the wire.
    const std::vector<std::uint8_t>& wireFlash() const { return wireFlash_; }
    const std::array<std::uint8_t, 256>& wireEeprom() const { return wireEeprom_; }
    // True once after any accepted frame changed memory.
    bool takeMemoryChanged();

    // The identity answer to a probe, without garbage: V record (or chip, 'K') and text block.
    std::vector<std::uint8_t> identityAnswer() const;

private:
    void startFrame(std::uint8_t cmd, TimePoint at);
    void frameByte(std::uint8_t byte, TimePoint at);
    void finishFrame(TimePoint at);
    void probe(std::uint8_t byte, TimePoint at);
    void reply(std::vector<std::uint8_t> bytes, TimePoint at, bool hangUpAfter = false);
    void log(TimePoint at, const std::string& kind, const std::string& fields);
    void applyFrame();

    BoardConfig config_;
    TimePoint start_;
    int blockSize_;
    int addressUnit_;
    bool twoByteLength_;

    // Frame being received; empty when idle.
    std::vector<std::uint8_t> frame_;
    std::size_t frameSize_ = 0; // total with checksum, 0 while the header is incomplete
    TimePoint lastByteAt_{};

    int probes_ = 0;
    int answeredProbes_ = 0;
    int nextFrame_ = 0;
    int frameNumber_ = -1;   // number of the frame last received
    int sends_ = 0;          // arrivals of that frame
    bool resendDue_ = false; // last frame got 'N', so the next one is its resend
    std::map<int, int> naksLeft_;
    std::set<int> silentLeft_;

    std::vector<std::uint8_t> flash_;
    std::array<std::uint8_t, 256> eeprom_;
    std::vector<std::uint8_t> wireFlash_;
    std::array<std::uint8_t, 256> wireEeprom_;
    bool memoryChanged_ = false;

    std::vector<Reply> replies_;
    std::vector<std::string> log_;
};

} // namespace boardsim
