// Many short updates through the window against the simulated board, each with a random
// fault schedule: refusals, silences, garbage, late replies, a hang-up, a Stop, an identity
// cut off mid-record. Whatever the faults, every session must end with exactly one outcome,
// tell the parent program at most once and with the matching code, send only the probes, the
// 0xCC and the frames of its run in their order, and send nothing once it has ended.
//
// QUILLET_RANDOM_SEED picks the seed (a failure prints it), QUILLET_RANDOM_SESSIONS the number
// of sessions; the default is a short run for CI.
#include "parent_link/udp_test_socket.h"

#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "shell/panel_status_bar.h"
#include "shell/parent_link.h"
#include "shell/quillet.h"
#include "shell/startup.h"
#include "shell/status.h"
#include "support/board_session.h"
#include "support/sim_board.h"
#include "support/temp_env.h"
#include "support/test_images.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDefaultSessions = 25; // about 20 s

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

// A chip family as the board's datasheet has it, written down here apart from the updater.
struct Family {
    std::uint8_t code;
    int memoryTop; // address units; the fix block sits one boot area (or one block) below
    bool large;    // fixed large boot area
    int blockSize; // data bytes per flash frame
    int unit;      // image bytes per address unit
};
constexpr Family kFamilies[] = {
    {'B', 0x8000, false, 64, 1},   {'C', 0x8000, false, 64, 1}, {'D', 0x4000, false, 64, 1},
    {'E', 0x4000, false, 64, 1},   {'F', 0x2000, false, 64, 1}, {0xC7, 0x4000, true, 64, 1},
    {0xFE, 0xA800, false, 256, 2},
};

// One frame of the run as it must reach the board.
struct Frame {
    int cmd;
    int addr;
    int len; // -1 for EEPROM frames, whose log shows no length
    bool fullBlock;
};

struct Schedule {
    std::uint64_t seed = 0;
    Family family{};
    int bios = 12;
    int board = 16;
    int prep = 2;
    bool oldIdentity = false;
    bool fits = true; // false: the image is for another preparation
    int imageSize = 0;
    int fixSize = 8;
    int eepromSize = 0;
    int protectedStart = 0;
    int protectedLength = 0;
    // Faults.
    int answerFrom = 0;
    bool nakProbes = false;
    int cutBytes = -1;
    int cutCount = 0;
    int lateProbeMs = 0;
    int lateProbeCount = 0;
    std::vector<std::uint8_t> garbage;
    std::vector<std::uint8_t> frameGarbage;
    std::string progModeReply = "K";
    std::map<int, int> naks;
    std::set<int> silent;
    std::map<int, int> late;
    int hangupAfter = -1;
    int stopAfterMs = -1;

    bool textBlock() const { return !oldIdentity && bios >= 8 && bios <= 31; }
    bool progMode() const { return !oldIdentity && bios >= 5; }
    int identityBytes() const { return oldIdentity ? 2 : textBlock() ? 6 + 3 + 28 + 1 : 6; }
    bool textBlockCut() const { return cutBytes > 6 && cutBytes < identityBytes(); }
    // Chip 0xFE learns its protected range from the text block: without it, nothing is written.
    bool refusedForCutBlock() const { return family.code == 0xFE && textBlockCut(); }
    bool inProtectedRange(int end) const {
        return family.code == 0xFE && textBlock() && protectedStart != 0 && protectedStart <= end &&
               end <= protectedStart + protectedLength;
    }
    int programLimit() const {
        if (family.code == 0xFE)
            return family.memoryTop - family.blockSize / family.unit;
        const int bootArea = family.large ? 1088 : (oldIdentity || bios < 5) ? 320 : 448;
        return family.memoryTop - bootArea;
    }

    std::vector<Frame> frames() const;
    std::vector<std::string> simArgs() const;
    std::string describe() const;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

// The frames of a whole run, from the image's size and the family's block layout.
std::vector<Frame> Schedule::frames() const {
    std::vector<Frame> out;
    if (refusedForCutBlock())
        return out;
    const int length = family.code == 0xFE ? imageSize : std::min(imageSize, programLimit());
    const int blocks = (length + family.blockSize - 1) / family.blockSize;
    for (int k = 0; k + 1 < blocks; ++k) {
        const int end = (k + 1) * family.blockSize / family.unit;
        if (inProtectedRange(end))
            continue;
        out.push_back({0x00, k * family.blockSize / family.unit, family.blockSize, true});
    }
    out.push_back({0x00, (blocks - 1) * family.blockSize / family.unit,
                   length - (blocks - 1) * family.blockSize, false});
    out.push_back({0x00, programLimit(), family.blockSize, false});
    for (int j = 0; j < eepromSize; ++j)
        out.push_back({0x40, j, -1, false});
    return out;
}

std::vector<std::string> Schedule::simArgs() const {
    std::vector<std::string> args = {
        "--chip",  std::to_string(family.code), "--bios", std::to_string(bios),
        "--board", std::to_string(board),       "--prep", std::to_string(prep)};
    auto add = [&args](const std::string& option, const std::string& value) {
        args.push_back(option);
        args.push_back(value);
    };
    if (oldIdentity)
        args.push_back("--old-identity");
    if (protectedStart != 0 || protectedLength != 0) {
        add("--protected-start", std::to_string(protectedStart));
        add("--protected-length", std::to_string(protectedLength));
    }
    if (answerFrom > 0)
        add("--answer-from", std::to_string(answerFrom));
    if (nakProbes)
        args.push_back("--nak-probes");
    if (cutBytes >= 0)
        add("--cut-identity", std::to_string(cutBytes) + ":" + std::to_string(cutCount));
    if (lateProbeMs > 0)
        add("--late-probe-reply",
            std::to_string(lateProbeMs) + ":" + std::to_string(lateProbeCount));
    if (!garbage.empty())
        add("--garbage", Hex(garbage));
    if (!frameGarbage.empty())
        add("--frame-garbage", Hex(frameGarbage));
    if (progModeReply != "K")
        add("--progmode-reply", progModeReply);
    for (const auto& [frame, count] : naks)
        add("--nak", std::to_string(frame) + ":" + std::to_string(count));
    for (int frame : silent)
        add("--silent", std::to_string(frame));
    for (const auto& [frame, ms] : late)
        add("--late-reply", std::to_string(frame) + ":" + std::to_string(ms));
    if (hangupAfter >= 0)
        add("--hangup-after", std::to_string(hangupAfter));
    return args;
}

std::string Schedule::describe() const {
    std::ostringstream text;
    if (seed != 0)
        text << "session seed " << seed << ": ";
    text << "image " << imageSize << " bytes, fix " << fixSize << ", eeprom " << eepromSize
         << (fits ? "" : ", unsuitable preparation") << "; board-sim";
    for (const std::string& arg : simArgs())
        text << ' ' << arg;
    if (stopAfterMs >= 0)
        text << "; Stop after " << stopAfterMs << " ms";
    return text.str();
}

// Bytes of line noise: never a letter the reply parser gives a meaning to.
std::vector<std::uint8_t> Noise(std::mt19937_64& rng) {
    std::vector<std::uint8_t> bytes(std::uniform_int_distribution<int>(1, 6)(rng));
    for (std::uint8_t& b : bytes) {
        do
            b = static_cast<std::uint8_t>(rng());
        while (b == 'K' || b == 'N' || b == 'V' || b == 'R');
    }
    return bytes;
}

Schedule Draw(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto chance = [&rng](double p) { return std::bernoulli_distribution(p)(rng); };
    auto pick = [&rng](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    Schedule s;
    s.seed = seed;
    s.family = kFamilies[pick(0, 6)];
    // Identity bytes never equal a reply letter: the protocol has no escaping.
    const int biosValues[] = {1, 4, 5, 7, 8, 12, 31, 40};
    const int boards[] = {3, 5, 9, 16, 20};
    const int preps[] = {0x01, 0x02, 0x04, 0x83};
    s.bios = biosValues[pick(0, 7)];
    s.board = boards[pick(0, 4)];
    s.prep = preps[pick(0, 3)];
    s.oldIdentity = chance(0.15);
    s.fits = !chance(0.05);
    // A few blocks; chip 0xFE carries its header at 1024, so its image is longer.
    s.imageSize = s.family.code == 0xFE ? pick(1026, 5 * 256) : pick(16, 6 * 64);
    s.fixSize = pick(0, 8);
    s.eepromSize = chance(0.4) ? pick(1, 6) : 0;
    if (s.family.code == 0xFE && s.textBlock() && chance(0.3)) {
        s.protectedStart = 128 * pick(0, 4);
        s.protectedLength = 128 * pick(0, 2);
    }

    const int frameCount = static_cast<int>(s.frames().size());
    if (chance(0.15))
        s.answerFrom = pick(1, 8);
    if (chance(0.03))
        s.nakProbes = true;
    if (chance(0.12)) {
        // Mostly inside the identity record; now and then inside the text block.
        s.cutBytes = s.textBlock() && chance(0.15) ? pick(6, s.identityBytes() - 1)
                                                   : pick(0, std::min(5, s.identityBytes() - 1));
        s.cutCount = pick(1, 3);
    }
    if (chance(0.1)) {
        s.lateProbeMs = pick(20, 80); // still within the probe's 100 ms
        s.lateProbeCount = pick(1, 5);
    }
    if (chance(0.2))
        s.garbage = Noise(rng);
    if (chance(0.2))
        s.frameGarbage = Noise(rng);
    if (s.progMode() && chance(0.15))
        s.progModeReply = chance(0.5) ? "N" : "none";
    for (int f = 0; f < frameCount; ++f) {
        if (chance(0.12))
            s.naks[f] = chance(0.2) ? pick(5, 7) : pick(1, 4);
        if (chance(0.04))
            s.silent.insert(f);
    }
    // Late, but within the 1000 ms limit; a reply after it would be taken as the next one's.
    if (chance(0.1))
        s.late[pick(0, frameCount - 1)] = pick(700, 950);
    if (chance(0.1))
        s.hangupAfter = pick(0, frameCount - 1);
    if (chance(0.15))
        s.stopAfterMs = chance(0.7) ? pick(0, 300) : pick(0, 3000);
    return s;
}

// A generous upper bound of a session's length, from the waits its faults cause.
Clock::duration TimeBound(const Schedule& s) {
    const int frames = static_cast<int>(s.frames().size());
    double seconds = 1.5; // text block wait
    seconds += s.nakProbes ? 100 * 0.1 : (1 + s.answerFrom + s.cutCount) * 0.1;
    seconds += s.progModeReply == "none" ? 2.0 : 0.0;
    seconds += frames * 5 * 0.01;
    seconds += static_cast<double>(s.silent.size());
    for (const auto& entry : s.late)
        seconds += 5 * entry.second / 1000.0;
    return std::chrono::milliseconds(static_cast<int>((5.0 + 2.0 * seconds) * 1000));
}

std::vector<std::string> SettledLog(const SimBoard& sim) {
    std::vector<std::string> lines = sim.logLines();
    const auto deadline = Clock::now() + 1s;
    for (int quiet = 0; quiet < 3 && Clock::now() < deadline;) {
        std::this_thread::sleep_for(10ms);
        std::vector<std::string> next = sim.logLines();
        quiet = next.size() == lines.size() ? quiet + 1 : 0;
        lines = std::move(next);
    }
    return lines;
}

std::string Kind(const std::string& line) {
    return line.substr(0, line.find(' '));
}

// Notes the first outcome the result line shows, and what the board had received by then:
// the session waits here, so whatever reaches the board later was sent after the outcome.
class OutcomeWatcher : public QObject {
public:
    explicit OutcomeWatcher(const SimBoard& sim) : sim_(sim) {}
    bool seen = false;
    std::size_t linesBefore = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if (!seen && (type == QEvent::PaletteChange || type == QEvent::Show) &&
            static_cast<QLabel*>(watched)->text() != QStringLiteral(" Programming... ")) {
            seen = true;
            linesBefore = SettledLog(sim_).size();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const SimBoard& sim_;
};

struct Tally {
    int sessions = 0;
    std::map<std::string, int> faults;
    std::map<std::string, int> outcomes;

    void count(const Schedule& s) {
        ++sessions;
        auto note = [this](bool present, const char* kind) {
            if (present)
                ++faults[kind];
        };
        note(s.oldIdentity, "old identity");
        note(!s.fits, "unsuitable image");
        note(s.protectedStart != 0, "protected range");
        note(s.answerFrom > 0, "silent probes");
        note(s.nakProbes, "'N' to every probe");
        note(s.cutBytes >= 0 && !s.textBlockCut(), "identity cut");
        note(s.textBlockCut(), "text block cut");
        note(s.textBlockCut() && s.protectedStart != 0, "protected range with a cut text block");
        note(s.lateProbeMs > 0, "late probe answers");
        note(!s.garbage.empty(), "garbage before identity");
        note(!s.frameGarbage.empty(), "garbage before frame replies");
        note(s.progModeReply == "N", "'N' to 0xCC");
        note(s.progModeReply == "none", "silent 0xCC");
        note(!s.naks.empty(), "'N' to frames");
        note(std::any_of(s.naks.begin(), s.naks.end(), [](auto& e) { return e.second >= 5; }),
             "five or more 'N'");
        note(!s.silent.empty(), "silent frame");
        note(!s.late.empty(), "late frame reply");
        note(s.hangupAfter >= 0, "hang-up");
        note(s.stopAfterMs >= 0, "Stop");
    }
    std::string summary() const {
        std::ostringstream text;
        text << sessions << " sessions; faults:";
        for (const auto& [kind, n] : faults)
            text << ' ' << kind << ' ' << n << ';';
        text << " outcomes:";
        for (const auto& [outcome, n] : outcomes)
            text << " \"" << outcome << "\" " << n << ';';
        return text.str();
    }
};

class RandomSessions : public ::testing::Test {
protected:
    void SetUp() override {
        EndParentLink();
        ASSERT_TRUE(parent_.Bind(kParentPort)) << "port 3000 is taken by another program";
        ProgramArguments = {"quillet", "\\P"};
        env_ = std::make_unique<TempEnvironment>();
        env_->writeComSetting(QStringLiteral("0"));
        window_ = std::make_unique<TForm1>();
        Form1 = window_.get();
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        ResetUpdaterState();
        env_.reset();
        EndParentLink();
        ProgramArguments.clear();
    }

    // Runs one session; returns what went wrong (empty when nothing did).
    std::vector<std::string> Run(const Schedule& s, Tally& tally);

    UdpTestSocket parent_;
    std::unique_ptr<TempEnvironment> env_;
    std::unique_ptr<TForm1> window_;
};

std::vector<std::string> RandomSessions::Run(const Schedule& s, Tally& tally) {
    std::vector<std::string> faults;
    auto fail = [&faults](const std::string& what) { faults.push_back(what); };
    tally.count(s);

    BuildImageCatalogue();
    const int slot = ChipSlot(s.family.code);
    TestImage image =
        MakeTestImage(slot, s.imageSize, static_cast<std::uint8_t>(s.board),
                      static_cast<std::uint8_t>(s.fits ? s.prep : 0x10), s.fixSize, s.eepromSize);
    InstallTestImage(s.oldIdentity ? 2 : s.board, slot, image);

    SimBoard sim(s.simArgs(), env_->comDir().toStdString());
    if (!sim.ready()) {
        fail("simulator did not start: " + sim.error());
        return faults;
    }
    TForm1& w = *window_;
    w.Label2->setVisible(false); // so that the first outcome shows it again
    OutcomeWatcher watcher(sim);
    w.Label2->installEventFilter(&watcher);
    QTimer stop;
    stop.setSingleShot(true);
    bool stopPressed = false;
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (w.Button2->isVisible()) {
            w.Button2->click();
            stopPressed = true;
        }
    });
    if (s.stopAfterMs >= 0)
        stop.start(s.stopAfterMs);

    const auto started = Clock::now();
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    const auto took = Clock::now() - started;
    stop.stop();
    w.Label2->removeEventFilter(&watcher);

    // What the parent heard: each ShowResult sends one datagram.
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (auto wait = watcher.seen ? 1000ms : 50ms;; wait = 20ms) {
        const auto datagram = parent_.Receive(wait);
        if (!datagram)
            break;
        datagrams.push_back(datagram->bytes);
    }
    const QString line = w.Label2->isVisible() ? w.Label2->text() : QString();
    const QString status = w.StatusBar1->panelText(StatusPanelIndex);
    const bool notFound = status == QStringLiteral("Device not Found");
    const std::string outcome = notFound ? "Device not Found" : line.toStdString();
    ++tally.outcomes[outcome.find(" - Preparation") != std::string::npos ? "%s - Preparation%x"
                                                                         : outcome];

    // Exactly one outcome, told to the parent at most once, with its code.
    const bool programOk = line == QStringLiteral(" Program Ok ");
    if (notFound) {
        if (!datagrams.empty())
            fail("\"Device not Found\" sent a datagram");
        if (watcher.seen)
            fail("\"Device not Found\" and a result line: \"" + line.toStdString() + "\"");
    } else if (!watcher.seen || line.isEmpty()) {
        fail("no outcome shown (status panel \"" + status.toStdString() + "\")");
    } else if (datagrams.size() != 1) {
        fail(std::to_string(datagrams.size()) + " datagrams for \"" + outcome + "\"");
    } else if (datagrams[0] != (programOk ? kSuccessDatagram : kFailureDatagram)) {
        fail("datagram " + Hex(datagrams[0]) + " for \"" + outcome + "\"");
    }
    if (!w.Button1->isVisible() || w.Button2->isVisible())
        fail("the window did not return to idle");
    if (took > TimeBound(s))
        fail("took " +
             std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) +
             " ms, bound " +
             std::to_string(
                 std::chrono::duration_cast<std::chrono::milliseconds>(TimeBound(s)).count()) +
             " ms");

    // What the board received.
    const std::vector<std::string> log = SettledLog(sim);
    if (watcher.seen) {
        for (std::size_t i = watcher.linesBefore; i < log.size(); ++i)
            if (Kind(log[i]) != "HANGUP")
                fail("sent after the outcome: " + log[i]);
    }
    const std::vector<Frame> expected = s.frames();
    bool framesStarted = false;
    int progModes = 0;
    int group = -1; // frame number of the current group of sends
    int sends = 0;
    std::vector<std::string> lastOfGroup;
    for (const std::string& entry : log) {
        const std::string kind = Kind(entry);
        auto field = [&entry](const char* key) { return SimBoard::logField(entry, key); };
        if (kind == "PROBE") {
            if (framesStarted || progModes > 0)
                fail("probe after programming began: " + entry);
        } else if (kind == "PROGMODE") {
            if (framesStarted || ++progModes > 1)
                fail("0xCC out of place: " + entry);
        } else if (kind == "FRAME") {
            framesStarted = true;
            const int n = std::stoi(field("n"));
            const int address = std::stoi(field("addr"), nullptr, 16);
            if (std::stoi(field("cmd"), nullptr, 16) == 0 &&
                s.inProtectedRange(address + s.family.blockSize / s.family.unit))
                fail("frame in the board's protected range: " + entry);
            const int send = std::stoi(field("send"));
            if (n == group) {
                ++sends;
            } else {
                if (n != group + 1)
                    fail("frame number jumps: " + entry);
                group = n;
                sends = 1;
                lastOfGroup.push_back(entry);
            }
            lastOfGroup.back() = entry;
            if (send != sends || send > 5)
                fail("send count " + std::to_string(send) + ", expected " + std::to_string(sends) +
                     ": " + entry);
            if (field("sum") != "ok")
                fail("bad checksum: " + entry);
            if (n >= static_cast<int>(expected.size())) {
                fail("frame beyond the run: " + entry);
                continue;
            }
            const Frame& want = expected[static_cast<std::size_t>(n)];
            char addr[8];
            std::snprintf(addr, sizeof addr, "%04X", want.addr);
            const std::string len = want.len < 0 ? "-" : std::to_string(want.len);
            if (std::stoi(field("cmd"), nullptr, 16) != want.cmd || field("addr") != addr ||
                field("len") != len)
                fail("frame out of order, expected cmd " + std::to_string(want.cmd) + " addr " +
                     addr + " len " + len + ": " + entry);
        } else if (kind != "HANGUP") {
            fail("not a probe, 0xCC or frame: " + entry);
        }
    }

    // " Program Ok " only after every frame was taken, bar full blocks the board kept silent on.
    if (programOk) {
        if (lastOfGroup.size() != expected.size())
            fail(std::to_string(lastOfGroup.size()) + " of " + std::to_string(expected.size()) +
                 " frames sent before \" Program Ok \"");
        for (std::size_t k = 0; k < lastOfGroup.size() && k < expected.size(); ++k) {
            const std::string reply = SimBoard::logField(lastOfGroup[k], "reply");
            if (reply != "K" && !(reply == "none" && expected[k].fullBlock))
                fail("\" Program Ok \" but frame not acknowledged: " + lastOfGroup[k]);
        }
    }
    if (s.refusedForCutBlock() && !stopPressed &&
        line != QStringLiteral(" Identity incomplete !! "))
        fail("a cut text block on chip 0xFE not refused");
    if (line == QStringLiteral(" User Abort !! ") && !stopPressed)
        fail("\" User Abort !! \" without a Stop");
    if (line == QStringLiteral(" CHK Error !! ") &&
        (lastOfGroup.empty() || SimBoard::logField(lastOfGroup.back(), "send") != "5" ||
         SimBoard::logField(lastOfGroup.back(), "reply") != "N"))
        fail("\" CHK Error !! \" without five refusals");

    if (!faults.empty()) {
        std::string text = "board log:";
        for (const std::string& entry : log)
            text += "\n    " + entry;
        fail(text);
    }
    return faults;
}

// Schedules that once went wrong, kept as they were drawn.
TEST_F(RandomSessions, FoundBefore) {
    Tally tally;
    // A text block cut off mid-way once swallowed the replies to programming, the 'N' to a
    // block among them: the refused block was passed over as if silent.
    Schedule s;
    s.family = kFamilies[0];
    s.imageSize = 300;
    s.cutBytes = 11;
    s.cutCount = 3;
    s.naks = {{1, 1}, {2, 4}};
    std::string text = s.describe();
    for (const std::string& fault : Run(s, tally))
        text += "\n  " + fault;
    EXPECT_EQ(text, s.describe());

    // A text block cut before its protected range arrived once let the run write over it.
    Schedule cut;
    cut.family = kFamilies[6];
    cut.imageSize = 1280;
    cut.protectedStart = 256;
    cut.protectedLength = 256;
    cut.cutBytes = 19;
    cut.cutCount = 1;
    text = cut.describe();
    for (const std::string& fault : Run(cut, tally))
        text += "\n  " + fault;
    EXPECT_EQ(text, cut.describe());
}

TEST_F(RandomSessions, EveryFaultScheduleEndsCleanly) {
    const std::uint64_t seed = EnvNumber("QUILLET_RANDOM_SEED", std::random_device{}());
    const int sessions = static_cast<int>(EnvNumber("QUILLET_RANDOM_SESSIONS", kDefaultSessions));
    std::mt19937_64 rng(seed);
    Tally tally;
    const auto started = Clock::now();
    auto report = [&] {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        std::printf("random sessions: seed %llu, %lld ms, %s\n",
                    static_cast<unsigned long long>(seed), static_cast<long long>(ms.count()),
                    tally.summary().c_str());
        std::fflush(stdout);
    };
    for (int i = 0; i < sessions; ++i) {
        const Schedule s = Draw(rng());
        const std::vector<std::string> faults = Run(s, tally);
        if ((i + 1) % 100 == 0 && i + 1 < sessions)
            report(); // a long run's figures so far
        if (faults.empty())
            continue;
        std::string text = "QUILLET_RANDOM_SEED=" + std::to_string(seed) + ", session " +
                           std::to_string(i) + " of " + std::to_string(sessions) + "\n" +
                           s.describe();
        for (const std::string& f : faults)
            text += "\n  " + f;
        ADD_FAILURE() << text;
        std::fflush(stdout);
    }
    report();
}

} // namespace
