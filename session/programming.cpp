#include "session/programming.h"

#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "session/chip_families.h"
#include "session/framing.h"
#include "session/programming_plan.h"
#include "session/protocol.h"
#include "session/receiver.h"
#include "session/search.h"
#include "session/session_state.h"
#include "shell/status.h"

#include <cstring>

std::int32_t AddressUnit = 1;
std::int32_t BootAreaSize = 320;
std::int32_t LargeBootAreaSize = 1088;
std::uint8_t ResetPatch[kResetPatchCapacity] = {};
std::int32_t ResetPatchLength = 4;
std::int32_t BlockSize = 64;
std::int32_t ProgramLimit = 0;
std::int32_t ProgramLength = 0;

namespace {

constexpr int kTextBlockPolls = 250; // about 1.25 s of pump cycles

// Does the image's preparation fit the device's? D: the device's code, I: the image's.
bool PreparationMismatch(std::uint8_t device, std::uint8_t image) {
    if (device == image || (device == 3 && (image & 0x80)) || ((device & 0x80) && (image & 0x80)))
        return false;
    bool mismatch = (device & 0x10) && !(image & 0x10);
    const int d = device & 0x0F;
    const int m = image & 0x6F;
    bool fits;
    switch (d) {
    case 1:
        fits = m == 1 || m == 4;
        break;
    case 2:
        fits = m == 1 || m == 2 || m == 4;
        break;
    case 5:
        fits = m == 4 || m == 5;
        break;
    default:
        fits = m == d;
        break;
    }
    return mismatch || !fits;
}

// A device that vanished mid-run (its port record was closed) ends the run at once.
bool DeviceVanished() {
    return FlushPort(SelectedPortIndex) < 0;
}

// The compact window shows no image warnings at all.
void ImageWarning(const QString& text) {
    if (CompactLayout())
        return;
    ShowResult(text, kColorRed, 0);
    ShowPanelText(MainStatusBar(), ChipPanelIndex, QStringLiteral("Warning"));
    ShowDeviceInfo();
}

// Takes up a Stop request: true when the user asked to stop.
bool StopTakenUp() {
    if (AbortRequested == 0)
        return false;
    AbortRequested = 0;
    return true;
}

// Newer bootloaders send a text block after their identity; it is given about 1.25 s, and the
// run goes on whether or not it came. False when the user stopped meanwhile.
bool WaitForTextBlock() {
    if (!IsTextBlockVersion(DeviceInfo.BiosVersion))
        return !StopTakenUp();
    for (int polls = 0; BlockComplete == 0; ++polls) {
        PollReplies();
        PumpDelay(static_cast<int>(kPumpCycle.count()));
        if (AbortRequested != 0 || polls == kTextBlockPolls)
            break;
    }
    // A block cut off mid-way (line noise, a board reset) would take the replies to
    // programming for its data: a refused block would pass for a silent one and be skipped.
    if (BlockComplete == 0)
        BlockState = 0;
    return !StopTakenUp();
}

// Sets the chip parameters and the run's sizes; false (after saying why) when the chip is
// unknown or the image cannot be programmed. Only 0xFE refuses an image that is too long;
// the others cut it to the programmable area.
bool SetUpRun(PanelDisplay* statusBar) {
    const std::uint8_t chip = DeviceInfo.ChipCode;
    const ChipFamily* family = FindChipFamily(chip);
    if (family == nullptr) {
        ShowResult(QStringLiteral(" Error !! "), kColorRed, 0);
        if (ChipPanelIndex > 0)
            ShowPanelText(statusBar, ChipPanelIndex, QStringLiteral("Unknow Device"));
        return false;
    }
    SetupChipParameters(chip, DeviceInfo.BiosVersion);
    const RunLayout layout = ChipRunLayout(*family, AddressUnit, BootAreaSize, LargeBootAreaSize,
                                           SelectedImage.FlashSize);
    BlockSize = layout.blockSize;
    ProgramLimit = layout.programLimit;
    ProgramLength = layout.programLength;
    if (chip == kChip24HJ64 && 2 * ProgramLimit < SelectedImage.FlashSize) {
        ImageTooBigWarning();
        return false;
    }
    if (SelectedImage.FlashSize <= 1) {
        NoImageWarning();
        return false;
    }
    if (ChipPanelIndex > 0)
        ShowPanelText(statusBar, ChipPanelIndex, QString::fromLatin1(family->statusText));
    return true;
}

// Reads the image's own board and preparation codes, shows the identity and refuses an image
// built for another board or preparation, or a board whose protected range did not arrive,
// before anything is written.
bool ImageFitsBoard(PanelDisplay* statusBar) {
    const std::uint8_t chip = DeviceInfo.ChipCode;
    const std::uint8_t key = ImageKey(0, ImagesScrambled);
    const int header = ImageBoardCodeOffset(ChipSlot(chip));
    ImageBoardCode = SelectedImage.FlashData[header] ^ key;
    ImagePreparationCode = SelectedImage.FlashData[header + 1] ^ key;
    const bool usesProtectedRange =
        chip == kChip24HJ64 && IsTextBlockVersion(DeviceInfo.BiosVersion);
    if (usesProtectedRange) {
        SkipStart = ProtectedStart;
        SkipLength = ProtectedLength;
    }
    ShowDeviceInfo();
    // The protected range comes in the text block: a block cut off leaves it unknown, and a
    // guessed range would let the run write over what the bootloader keeps.
    if (usesProtectedRange && BlockComplete == 0) {
        ShowResult(QStringLiteral(" Identity incomplete !! "), kColorRed, 0);
        if (ChipPanelIndex >= 0)
            ShowPanelText(statusBar, ChipPanelIndex, QStringLiteral("Warning!!"));
        return false;
    }

    if (ImageBoardCode == 0 || ImageBoardCode == 0xFF || VersionRecordSeen == 0)
        return true;
    if (BoardCheckMask(DeviceInfo.BoardCode, DeviceInfo.PreparationCode, ImageBoardCode,
                       ImagePreparationCode) == 0)
        return true;
    ShowResult(
        QString::asprintf("%s - Preparation%x", BoardName(ImageBoardCode), ImagePreparationCode),
        kColorRed, 0);
    if (ChipPanelIndex >= 0)
        ShowPanelText(statusBar, ChipPanelIndex, QStringLiteral("Warning!!"));
    if (ImagePanelIndex >= 0)
        ShowPanelText(statusBar, ImagePanelIndex, QStringLiteral("not suitable apparatus"));
    return false;
}

// Bootloaders from version 5 that sent an identity record are switched into programming
// mode. Programming follows whatever the answer: a 'K', an 'N' or silence. False when the user
// stopped before or during the wait: then nothing more is written.
bool EnterProgramMode(PanelDisplay* statusBar) {
    if (StopTakenUp())
        return false;
    if (VersionRecordSeen == 0 || DeviceInfo.BiosVersion < 5)
        return true;
    ShowPanelText(statusBar, StatusPanelIndex, QStringLiteral("Entry in PrgMode"));
    DiscardStaleInput();
    AckReceived = 0;
    NakReceived = 0;
    CommandBuffer[0] = kCmdEnterProgramMode;
    WritePort(SelectedPortIndex, CommandBuffer, 1);
    return WaitReply(static_cast<int>(kProgramModeReplyWait.count())) != kWaitStopped &&
           !StopTakenUp();
}

RunLayout CurrentLayout() {
    RunLayout layout;
    layout.addressUnit = AddressUnit;
    layout.blockSize = BlockSize;
    layout.programLimit = ProgramLimit;
    layout.programLength = ProgramLength;
    layout.skipStart = SkipStart;
    layout.skipLength = SkipLength;
    layout.fixKey = ImageKey(static_cast<std::uint8_t>(ProgramLimit), ImagesScrambled);
    return layout;
}

// Builds one planned frame in CommandBuffer and sends it.
std::int16_t SendPlannedFrame(const PlannedFrame& frame) {
    const int n = static_cast<int>(frame.bytes.size());
    std::memcpy(CommandBuffer, frame.bytes.data(), frame.bytes.size());
    return SendFrame(CommandBuffer, n);
}

// What the window shows before a frame goes out.
void ShowFrameStarting(const PlannedFrame& frame, ProgressDisplay* progressBar,
                       PanelDisplay* statusBar) {
    switch (frame.kind) {
    case FrameKind::kFullBlock:
    case FrameKind::kLastBlock:
        if (!CompactLayout())
            ShowPanelText(statusBar, StatusPanelIndex,
                          QString::asprintf("Program %05d (%05x)", frame.address, frame.address));
        if (frame.kind == FrameKind::kFullBlock)
            ShowProgress(progressBar, frame.end);
        break;
    case FrameKind::kFixBlock:
        ShowPanelText(statusBar, StatusPanelIndex, QStringLiteral("Fix Program"));
        break;
    case FrameKind::kEepromByte:
        if (frame.address == 0) {
            ShowProgress(progressBar, 0);
            SetProgressRange(progressBar, SelectedImage.EepromSize);
        }
        if (!CompactLayout())
            ShowPanelText(statusBar, StatusPanelIndex,
                          QString::asprintf("Program EEP %d", frame.address));
        break;
    }
}

// A full block drew no reply in time. Older bootloaders stay silent on blocks in their own
// protected area, so it is passed over; but the line must go quiet first, or a late 'K' would
// be taken for the next frame's. A late 'K' in that time means the block was taken after all.
// False when the block ends the run instead: the device has gone, or silence is not accepted.
bool PassOverSilentBlock(const PlannedFrame& frame) {
    if (DeviceVanished())
        return false;
    if (SettleAfterSilence(static_cast<int>(kSilenceSettleQuiet.count()),
                           static_cast<int>(kSilenceSettleLimit.count())))
        return true;
    UnansweredBlocks.push_back(frame.address);
    return PassOverSilentBlocks != 0;
}

// Sends the plan; false (after reporting it) when the run ends early. Silence after a full
// block is passed over (see above); every other frame must be acknowledged.
bool SendPlan(const std::vector<PlannedFrame>& plan, ProgressDisplay* progressBar,
              PanelDisplay* statusBar) {
    for (const PlannedFrame& frame : plan) {
        ShowFrameStarting(frame, progressBar, statusBar);
        if (frame.skipped)
            continue;
        const std::int16_t r = SendPlannedFrame(frame);
        const bool passedOver = frame.kind == FrameKind::kFullBlock && r == kExchangeNoReply &&
                                PassOverSilentBlock(frame);
        if (r < 0 && !passedOver) {
            ReportSessionError(r);
            return false;
        }
        if (frame.kind == FrameKind::kEepromByte)
            ShowProgress(progressBar, frame.address);
    }
    return true;
}

} // namespace

int BoardCheckMask(std::uint8_t deviceBoard, std::uint8_t devicePreparation,
                   std::uint8_t imageBoard, std::uint8_t imagePreparation) {
    int mask = 0;
    if (deviceBoard != imageBoard)
        mask |= 1;
    if (PreparationMismatch(devicePreparation, imagePreparation))
        mask |= 2;
    return mask;
}

void SetupChipParameters(std::uint8_t chipCode, std::uint8_t biosVersion) {
    AddressUnit = 1;
    LargeBootAreaSize = kLargeBootArea;
    BootAreaSize = biosVersion < 5 ? kBootAreaBefore5 : kBootAreaFrom5;
    const ChipFamily* family = FindChipFamily(chipCode);
    if (family == nullptr)
        return;
    if (chipCode == kChip24HJ64) {
        std::memcpy(ResetPatch, kPatch24HJ64, sizeof kPatch24HJ64);
        ResetPatchLength = ResetPatchLengthOf(chipCode);
        AddressUnit = AddressUnitOf(chipCode);
        return;
    }
    std::memcpy(ResetPatch, biosVersion < 5 ? family->patchBefore5 : family->patchFrom5, 4);
    ResetPatchLength = ResetPatchLengthOf(chipCode);
}

void NoImageWarning() {
    ImageWarning(QStringLiteral(" No Hex inside !! "));
}

void ImageTooBigWarning() {
    ImageWarning(QStringLiteral(" Hex too Big !! "));
}

void ProgramDevice(ProgressDisplay* progressBar, PanelDisplay* statusBar) {
    ShowProgress(progressBar, 0);
    if (!WaitForTextBlock()) {
        ReportSessionError(kExchangeStopped);
        return;
    }
    if (VersionRecordSeen == 0)
        DeviceInfo.BoardCode = 2; // what a bootloader without identity record is taken for
    SelectImage(DeviceInfo.ChipCode, DeviceInfo.BoardCode);
    if (!SetUpRun(statusBar) || !ImageFitsBoard(statusBar))
        return;
    if (!CompactLayout())
        ShowPanelText(statusBar, ImagePanelIndex,
                      QString::asprintf("Loaded %d bytes (%04X to %04X)",
                                        SelectedImage.FlashSize / AddressUnit, 0,
                                        ProgramLength / AddressUnit));
    if (!EnterProgramMode(statusBar)) {
        ReportSessionError(kExchangeStopped);
        return;
    }
    ShowStatus(QStringLiteral(" Programming... "), kColorButtonFace);

    // The reset patch goes into the image in place and stays there for later runs.
    const std::uint8_t key = ImageKey(0, ImagesScrambled);
    for (int j = 0; j < ResetPatchLength; ++j)
        SelectedImage.FlashData[j] = ResetPatch[j] ^ key;

    ShowProgress(progressBar, 0);
    SetProgressRange(progressBar, ProgramLength / AddressUnit);
    if (!SendPlan(PlanProgramming(CurrentLayout(), SelectedImage), progressBar, statusBar))
        return;

    ShowProgress(progressBar, 0);
    if (CompactLayout()) {
        ShowPanelText(CompactStatusBar(), StatusPanelIndex, QStringLiteral("Program OK"));
    } else {
        ShowResult(QStringLiteral(" Program Ok "), kColorGreen, 1);
    }
    ShowIdleButtons();
}
