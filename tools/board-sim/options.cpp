#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace boardsim {

bool parseNumber(const std::string& text, long min, long max, long& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' ||
        std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str() + (isHex ? 2 : 0), &end, isHex ? 16 : 10);
    if (errno != 0 || *end != '\0' || end == text.c_str() + (isHex ? 2 : 0))
        return false;
    if (value < min || value > max)
        return false;
    out = value;
    return true;
}

namespace {

bool parseChip(const std::string& text, std::uint8_t& out) {
    // A single non-digit is the chip letter itself ('B'); anything else is a number.
    if (text.size() == 1 && !std::isdigit(static_cast<unsigned char>(text[0]))) {
        out = static_cast<std::uint8_t>(text[0]);
        return true;
    }
    long value = 0;
    if (!parseNumber(text, 0, 255, value))
        return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool parseHexBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    out.clear();
    int pending = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == ',') {
            if (pending >= 0)
                return false; // odd digit count inside a group
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int nibble = std::isdigit(static_cast<unsigned char>(c))
                               ? c - '0'
                               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (pending < 0) {
            pending = nibble;
        } else {
            out.push_back(static_cast<std::uint8_t>(pending << 4 | nibble));
            pending = -1;
        }
    }
    return pending < 0 && !out.empty();
}

// "K:M" with both numbers >= 0.
bool parsePair(const std::string& text, long& first, long& second) {
    const auto colon = text.find(':');
    return colon != std::string::npos && parseNumber(text.substr(0, colon), 0, 1'000'000, first) &&
           parseNumber(text.substr(colon + 1), 0, 1'000'000, second);
}

// "N" or "N:COUNT"; `count` is left as it is when no count is given.
bool parseValueAndCount(const std::string& text, long max, long& value, long& count) {
    if (text.find(':') == std::string::npos)
        return parseNumber(text, 0, max, value);
    return parsePair(text, value, count) && value <= max;
}

} // namespace

ParseResult parseOptions(const std::vector<std::string>& args, const char* envComDir) {
    ParseResult result;
    SimOptions& o = result.options;
    BoardConfig& b = o.board;
    if (envComDir != nullptr)
        o.comDir = envComDir;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        auto fail = [&](const std::string& why) {
            result.error = opt + ": " + why;
            return result;
        };
        // Flags without a value.
        if (opt == "--help" || opt == "-h") {
            o.help = true;
            continue;
        }
        if (opt == "--line-rate") {
            o.lineRate = true;
            continue;
        }
        if (opt == "--old-identity") {
            b.oldIdentity = true;
            continue;
        }
        if (opt == "--nak-probes") {
            b.nakProbes = true;
            continue;
        }

        if (i + 1 >= args.size())
            return fail(opt.rfind("--", 0) == 0 ? "missing value" : "unknown option");
        const std::string& value = args[++i];
        long n = 0;
        long m = 0;
        if (opt == "--com-dir") {
            o.comDir = value;
        } else if (opt == "--com") {
            if (!parseNumber(value, 1, 255, n))
                return fail("expects 1..255");
            o.com = static_cast<int>(n);
        } else if (opt == "--flash-out") {
            o.flashOut = value;
        } else if (opt == "--eeprom-out") {
            o.eepromOut = value;
        } else if (opt == "--flash-wire-out") {
            o.flashWireOut = value;
        } else if (opt == "--eeprom-wire-out") {
            o.eepromWireOut = value;
        } else if (opt == "--log") {
            o.logPath = value;
        } else if (opt == "--chip") {
            if (!parseChip(value, b.chip))
                return fail("expects a letter or a byte value");
        } else if (opt == "--bios" || opt == "--board" || opt == "--prep" ||
                   opt == "--block-length") {
            if (!parseNumber(value, 0, 255, n))
                return fail("expects 0..255");
            std::uint8_t& field = opt == "--bios"    ? b.bios
                                  : opt == "--board" ? b.board
                                  : opt == "--prep"  ? b.prep
                                                     : b.blockLength;
            field = static_cast<std::uint8_t>(n);
        } else if (opt == "--text") {
            b.text = value;
        } else if (opt == "--protected-start" || opt == "--protected-length") {
            if (!parseNumber(value, 0, 0xFFFF, n))
                return fail("expects 0..65535");
            (opt == "--protected-start" ? b.protectedStart : b.protectedLength) =
                static_cast<std::uint16_t>(n);
        } else if (opt == "--answer-from") {
            if (!parseNumber(value, 0, 1'000'000, n))
                return fail("expects a probe number");
            b.answerFrom = static_cast<int>(n);
        } else if (opt == "--nak") {
            if (!parsePair(value, n, m))
                return fail("expects FRAME:COUNT");
            b.naks[static_cast<int>(n)] = static_cast<int>(m);
        } else if (opt == "--silent") {
            if (!parseNumber(value, 0, 1'000'000, n))
                return fail("expects a frame number");
            b.silent.insert(static_cast<int>(n));
        } else if (opt == "--garbage") {
            if (!parseHexBytes(value, b.garbage))
                return fail("expects hex bytes, e.g. 00FF13");
        } else if (opt == "--frame-garbage") {
            if (!parseHexBytes(value, b.frameGarbage))
                return fail("expects hex bytes, e.g. 00FF13");
        } else if (opt == "--progmode-reply") {
            if (value != "K" && value != "N" && value != "none")
                return fail("expects K, N or none");
            b.progModeReply = value == "none" ? 0 : static_cast<std::uint8_t>(value[0]);
        } else if (opt == "--late-reply") {
            if (!parsePair(value, n, m) || m > 60'000)
                return fail("expects FRAME:MS");
            b.lateFrames[static_cast<int>(n)] = std::chrono::milliseconds(m);
        } else if (opt == "--hangup-after") {
            if (!parseNumber(value, 0, 1'000'000, n))
                return fail("expects a frame number");
            b.hangupAfter = static_cast<int>(n);
        } else if (opt == "--reply-delay") {
            if (!parseNumber(value, 0, 60'000, n))
                return fail("expects milliseconds");
            b.replyDelay = std::chrono::milliseconds(n);
        } else if (opt == "--cut-identity") {
            m = b.cutIdentityCount;
            if (!parseValueAndCount(value, 1'000, n, m))
                return fail("expects BYTES or BYTES:COUNT");
            b.cutIdentity = static_cast<int>(n);
            b.cutIdentityCount = static_cast<int>(m);
        } else if (opt == "--late-probe-reply") {
            m = b.lateProbeCount;
            if (!parseValueAndCount(value, 60'000, n, m))
                return fail("expects MS or MS:COUNT");
            b.lateProbeReply = std::chrono::milliseconds(n);
            b.lateProbeCount = static_cast<int>(m);
        } else if (opt == "--late-probes-from") {
            if (!parseNumber(value, 0, 1'000'000, n))
                return fail("expects a probe number");
            b.lateProbesFrom = static_cast<int>(n);
        } else if (opt == "--text-block-gap") {
            if (!parseNumber(value, 0, 60'000, n))
                return fail("expects MS");
            b.textBlockGap = std::chrono::milliseconds(n);
        } else {
            --i;
            return fail("unknown option");
        }
    }
    if (!o.help && o.comDir.empty())
        result.error = "--com-dir: required (or set QUILLET_COM_DIR)";
    return result;
}

std::string usage() {
    return R"(Usage: quillet-board-sim --com-dir DIR [options]

Plays a microcontroller board with a serial bootloader on a pseudo-terminal, published as
the symbolic link DIR/COM<n>. Prints "READY COM<n> <slave path>" once the link exists.
Stops on SIGINT or SIGTERM (exit code 0) and removes the link.

Port:
  --com-dir DIR           directory of the COM<n> link (default: $QUILLET_COM_DIR)
  --com N                 link name COM<N>, 1..255 (default 1)
  --line-rate             pace both directions at 115200 baud 8N2 (~95.5 us a byte); a
                          frame counts as received when its last byte would have arrived

Identity (numbers are decimal or 0x hex):
  --chip C                chip code, a letter (B) or a byte (0xFE); default 0xFE
  --bios N                bootloader version (default 12); 8..31 send a text block
  --board N               board code (default 16)
  --prep N                preparation code (default 0x02)
  --old-identity          answer the probe with chip, 'K' only (no V record, no text block)
  --text STR              the board's text, at most 24 characters (default "SIM BOARD 1.0")
  --protected-start N     protected range start, address units (default 0)
  --protected-length N    protected range length, address units (default 0)
  --block-length L        announced text block length, 0..255 (default 28)

Faults (frames are numbered from 0 in order of arrival; a resend after 'N' keeps its
number; probes and 0xCC are not frames; probes are numbered from 0 too):
  --answer-from N         ignore probes 0..N-1, answer from probe N on
  --nak-probes            answer every probe with 'N' only
  --garbage HEX           send these bytes before each identity answer (e.g. 00FF13)
  --frame-garbage HEX     send these bytes before each frame reply
  --cut-identity N[:COUNT]
                          answer probes with only the first N bytes of the identity (only
                          the first COUNT answered probes): a board cut off mid-answer
  --late-probe-reply MS[:COUNT]
                          answer probes MS ms late (only the first COUNT answered probes)
  --late-probes-from N    with --late-probe-reply: probes before N are answered on time (a
                          board that answers late only once it has been updated)
  --text-block-gap MS     send the text block's data MS ms after its header, as a host that
                          reads in the middle of the block sees it
  --nak K:M               answer frame K with 'N' M times before accepting (repeatable)
  --silent K              never answer frame K the first time it arrives (repeatable)
  --hangup-after K        after accepting frame K, close the pty master and exit
  --reply-delay MS        delay every reply by MS ms
  --late-reply K:MS       delay the replies to frame K by MS ms more (repeatable)
  --progmode-reply R      answer 0xCC with R: K (default), N or none

Output (rewritten after every event, before the reply is sent):
  --flash-out FILE        program memory as the board keeps it, bytes 0..highest written,
                          unwritten 0xFF: the data bytes unscrambled, XOR 0x6B (the key of 0),
                          the fix block's XOR the key of its address's low byte (0x6B + it)
  --eeprom-out FILE       256 bytes of EEPROM as the board keeps it (XOR 0x6B), unwritten 0xFF
  --flash-wire-out FILE   like --flash-out, but the data bytes as they came on the wire
  --eeprom-wire-out FILE  like --eeprom-out, but the data bytes as they came on the wire
  --log FILE              one line per event ("-" for stderr):
                            PROBE t=MS n=P byte=HH reply=id|N|none [late=MS]
                            PROGMODE t=MS byte=CC reply=K|N|none
                            FRAME t=MS n=F send=S cmd=HH addr=HHHH len=D|- data=D
                                  sum=ok|bad reply=K|N|none [fault=nak|silent]
                                  [late=MS]
                            DROP t=MS cmd=HH bytes=D     (stalled frame given up)
                            UNKNOWN t=MS byte=HH         (not a command, ignored)
                            HANGUP t=MS frame=F
  -h, --help              this text
)";
}

} // namespace boardsim
