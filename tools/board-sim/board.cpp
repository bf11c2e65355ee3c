#include "board.h"

#include "wire.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace boardsim {

namespace {

std::string hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

std::string replyName(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty())
        return "none";
    if (bytes.size() == 1 && (bytes[0] == wire::kAck || bytes[0] == wire::kNak))
        return std::string(1, static_cast<char>(bytes[0]));
    return "id";
}

} // namespace

Board::Board(BoardConfig config, TimePoint start)
    : config_(std::move(config)), start_(start), naksLeft_(config_.naks),
      silentLeft_(config_.silent) {
    const wire::ChipLayout layout = wire::chipLayout(config_.chip);
    blockSize_ = layout.blockSize;
    addressUnit_ = layout.addressUnit;
    twoByteLength_ = layout.twoByteLength;
    eeprom_.fill(0xFF);
    wireEeprom_.fill(0xFF);
}

void Board::receive(std::uint8_t byte, TimePoint at) {
    if (!frame_.empty()) {
        frameByte(byte, at);
        return;
    }
    switch (byte) {
    case wire::kProbeMain:
    case wire::kProbeCompact:
        probe(byte, at);
        break;
    case wire::kEnterProgramming:
        resendDue_ = false;
        if (config_.progModeReply == 0) {
            log(at, "PROGMODE", "byte=CC reply=none");
        } else {
            log(at, "PROGMODE", "byte=CC reply=" + replyName({config_.progModeReply}));
            reply({config_.progModeReply}, at);
        }
        break;
    case wire::kCmdFlashBlock:
    case wire::kCmdEepromByte:
        startFrame(byte, at);
        break;
    default:
        log(at, "UNKNOWN", "byte=" + hex(byte, 2));
        break;
    }
}

void Board::probe(std::uint8_t byte, TimePoint at) {
    // A new search or session: whatever comes next is a new frame, not a resend.
    resendDue_ = false;
    const int number = probes_++;
    std::string fields = "n=" + std::to_string(number) + " byte=" + hex(byte, 2);
    if (number < config_.answerFrom) {
        log(at, "PROBE", fields + " reply=none");
        return;
    }
    std::vector<std::uint8_t> answer;
    if (config_.nakProbes) {
        answer = {wire::kNak};
    } else {
        answer = config_.garbage;
        std::vector<std::uint8_t> id = identityAnswer();
        // A board unplugged or a line hit by noise in the middle of its answer.
        const bool cut = config_.cutIdentity >= 0 && (config_.cutIdentityCount < 0 ||
                                                      answeredProbes_ < config_.cutIdentityCount);
        if (cut && id.size() > static_cast<std::size_t>(config_.cutIdentity)) {
            id.resize(static_cast<std::size_t>(config_.cutIdentity));
            fields += " cut=" + std::to_string(config_.cutIdentity);
        }
        answer.insert(answer.end(), id.begin(), id.end());
    }
    TimePoint due = at;
    const bool late = config_.lateProbeReply.count() > 0 && number >= config_.lateProbesFrom &&
                      (config_.lateProbeCount < 0 || answeredProbes_ < config_.lateProbeCount);
    ++answeredProbes_;
    if (late) {
        due += config_.lateProbeReply;
        fields += " late=" + std::to_string(config_.lateProbeReply.count());
    }
    log(at, "PROBE", fields + " reply=" + (config_.nakProbes ? "N" : "id"));
    // Identity record (6 bytes) and the text block's header (3): the rest may come later.
    const std::size_t headerEnd = config_.garbage.size() + 6 + 3;
    if (config_.textBlockGap.count() > 0 && !config_.nakProbes && answer.size() > headerEnd) {
        std::vector<std::uint8_t> rest(answer.begin() + static_cast<long>(headerEnd), answer.end());
        answer.resize(headerEnd);
        reply(std::move(answer), due);
        reply(std::move(rest), due + config_.textBlockGap);
        return;
    }
    reply(std::move(answer), due);
}

std::vector<std::uint8_t> Board::identityAnswer() const {
    if (config_.oldIdentity)
        return {config_.chip, wire::kAck};

    std::vector<std::uint8_t> out = {wire::kVersionRecord, config_.bios, config_.chip,
                                     config_.board,        config_.prep, wire::kAck};
    if (config_.bios < wire::kTextBlockVersionMin || config_.bios > wire::kTextBlockVersionMax)
        return out;

    // Text padded with zero bytes, then the protected range; a longer block is zero-filled,
    // a shorter one simply cut.
    std::vector<std::uint8_t> data(std::max<std::size_t>(config_.blockLength, 28), 0);
    std::copy_n(config_.text.begin(), std::min(config_.text.size(), wire::kTextChars),
                data.begin());
    data[wire::kProtectedStartOffset] = config_.protectedStart & 0xFF;
    data[wire::kProtectedStartOffset + 1] = config_.protectedStart >> 8;
    data[wire::kProtectedLengthOffset] = config_.protectedLength & 0xFF;
    data[wire::kProtectedLengthOffset + 1] = config_.protectedLength >> 8;
    data.resize(config_.blockLength);

    out.push_back(wire::kTextBlock);
    out.push_back(config_.blockLength);
    out.push_back(0x00); // spare
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(wire::kAck);
    return out;
}

void Board::startFrame(std::uint8_t cmd, TimePoint at) {
    frame_.assign(1, cmd);
    frameSize_ = cmd == wire::kCmdEepromByte ? wire::kEepromFrameBytes : 0;
    lastByteAt_ = at;
}

void Board::frameByte(std::uint8_t byte, TimePoint at) {
    frame_.push_back(byte);
    lastByteAt_ = at;
    if (frameSize_ == 0) {
        // Flash block: the length field decides how many bytes follow.
        const std::size_t header = twoByteLength_ ? 5 : 4;
        if (frame_.size() == header) {
            const std::size_t length =
                twoByteLength_ ? (std::size_t{frame_[3]} << 8 | frame_[4]) : frame_[3];
            frameSize_ = header + length + 1;
        }
    }
    if (frameSize_ != 0 && frame_.size() == frameSize_)
        finishFrame(at);
}

void Board::finishFrame(TimePoint at) {
    if (resendDue_ && sends_ < wire::kMaxSends) {
        ++sends_;
    } else {
        frameNumber_ = nextFrame_++;
        sends_ = 1;
    }
    resendDue_ = false;

    std::uint8_t sum = 0;
    for (std::uint8_t b : frame_)
        sum = static_cast<std::uint8_t>(sum + b);
    const bool sumOk = sum == 0;

    std::vector<std::uint8_t> answer;
    std::string fault;
    if (sends_ == 1 && silentLeft_.erase(frameNumber_) > 0) {
        fault = "silent";
    } else if (naksLeft_[frameNumber_] > 0) {
        --naksLeft_[frameNumber_];
        fault = "nak";
        answer = {wire::kNak};
    } else if (!sumOk) {
        answer = {wire::kNak};
    } else {
        answer = {wire::kAck};
    }

    const bool eeprom = frame_[0] == wire::kCmdEepromByte;
    const std::size_t header = eeprom ? 1 : (twoByteLength_ ? 5 : 4);
    const unsigned address = eeprom ? frame_[1] : (unsigned{frame_[1]} << 8 | frame_[2]);
    std::string lengthField = "-";
    if (!eeprom)
        lengthField = std::to_string(twoByteLength_ ? (frame_[3] << 8 | frame_[4]) : frame_[3]);
    const std::size_t dataBytes = eeprom ? 1 : frame_.size() - header - 1;

    std::string fields = "n=" + std::to_string(frameNumber_) + " send=" + std::to_string(sends_) +
                         " cmd=" + hex(frame_[0], 2) + " addr=" + hex(address, 4) +
                         " len=" + lengthField + " data=" + std::to_string(dataBytes) +
                         " sum=" + (sumOk ? "ok" : "bad") + " reply=" + replyName(answer);
    if (!fault.empty())
        fields += " fault=" + fault;
    const auto late = config_.lateFrames.find(frameNumber_);
    if (late != config_.lateFrames.end() && !answer.empty())
        fields += " late=" + std::to_string(late->second.count());
    log(at, "FRAME", fields);

    const bool accepted = !answer.empty() && answer[0] == wire::kAck;
    if (accepted)
        applyFrame();
    resendDue_ = !answer.empty() && answer[0] == wire::kNak;
    if (!answer.empty()) {
        answer.insert(answer.begin(), config_.frameGarbage.begin(), config_.frameGarbage.end());
        const TimePoint due = late != config_.lateFrames.end() ? at + late->second : at;
        reply(std::move(answer), due, accepted && frameNumber_ == config_.hangupAfter);
    }

    frame_.clear();
    frameSize_ = 0;
}

void Board::applyFrame() {
    if (frame_[0] == wire::kCmdEepromByte) {
        wireEeprom_[frame_[1]] = frame_[2];
        eeprom_[frame_[1]] = frame_[2] ^ wire::key(0);
    } else {
        const std::size_t header = twoByteLength_ ? 5 : 4;
        const unsigned address = unsigned{frame_[1]} << 8 | frame_[2];
        const std::size_t offset = std::size_t{address} * addressUnit_;
        const std::size_t length = frame_.size() - header - 1;
        if (flash_.size() < offset + length) {
            flash_.resize(offset + length, 0xFF);
            wireFlash_.resize(offset + length, 0xFF);
        }
        const bool fixBlock =
            static_cast<int>(address) == wire::fixBlockAddress(config_.chip, config_.bios);
        const std::uint8_t key = wire::key(fixBlock ? static_cast<std::uint8_t>(address) : 0);
        for (std::size_t i = 0; i < length; ++i) {
            wireFlash_[offset + i] = frame_[header + i];
            flash_[offset + i] = frame_[header + i] ^ key;
        }
    }
    memoryChanged_ = true;
}

void Board::tick(TimePoint now) {
    const std::optional<TimePoint> due = deadline();
    if (!due || now < *due)
        return;
    log(now, "DROP", "cmd=" + hex(frame_[0], 2) + " bytes=" + std::to_string(frame_.size()));
    frame_.clear();
    frameSize_ = 0;
}

std::optional<TimePoint> Board::deadline() const {
    if (frame_.empty())
        return std::nullopt;
    return lastByteAt_ + wire::kResyncIdle;
}

void Board::reply(std::vector<std::uint8_t> bytes, TimePoint at, bool hangUpAfter) {
    replies_.push_back(Reply{std::move(bytes), at + config_.replyDelay, hangUpAfter});
}

void Board::noteHangup(TimePoint at) {
    log(at, "HANGUP", "frame=" + std::to_string(frameNumber_));
}

void Board::log(TimePoint at, const std::string& kind, const std::string& fields) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(at - start_).count();
    char time[32];
    std::snprintf(time, sizeof time, "%lld.%03lld", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    log_.push_back(kind + " t=" + time + " " + fields);
}

std::vector<Reply> Board::takeReplies() {
    return std::exchange(replies_, {});
}

std::vector<std::string> Board::takeLog() {
    return std::exchange(log_, {});
}

bool Board::takeMemoryChanged() {
    return std::exchange(memoryChanged_, false);
}

} // namespace boardsim
