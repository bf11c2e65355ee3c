#include "session/programming.h"

#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "session/chip_families.h"
#include "session/framing.h"
#include "session/protocol.h"
#include "session/receiver.h"
#include "session/search.h"
#include "session/session_state.h"
#include "shell/status.h"

#include <algorithm>
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

constexpr int kFillLength = 300; // bytes of CommandBuffer preset before each frame is built
constexpr int kTextBlockPolls = 250;

bool TextBlockVersion(std::uint8_t version) {
    return version >= kFirstTextBlockVersion && version <= kLastTextBlockVersion;
}

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

// Writes command, address (high first) and the length field; returns the header length.
int WriteBlockHeader(std::int32_t address, std::int32_t length) {
    CommandBuffer[0] = kCmdWriteFlashBlock;
    CommandBuffer[1] = static_cast<std::uint8_t>(address >> 8);
    CommandBuffer[2] = static_cast<std::uint8_t>(address);
    if (BlockSize <= 255) {
        CommandBuffer[3] = static_cast<std::uint8_t>(length);
        return 4;
    }
    CommandBuffer[3] = static_cast<std::uint8_t>(length >> 8);
    CommandBuffer[4] = static_cast<std::uint8_t>(length);
    return 5;
}

// A device that vanished mid-run (its port record was closed) ends the run at once.
bool DeviceVanished() {
    return FlushPort(SelectedPortIndex) < 0;
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

namespace {
// The compact window shows no image warnings at all.
void ImageWarning(const QString& text) {
    if (Form5 != nullptr)
        return;
    ShowResult(text, kColorRed, 0);
    ShowPanelText(MainStatusBar(), ChipPanelIndex, QStringLiteral("Warning"));
    ShowDeviceInfo();
}
} // namespace

void NoImageWarning() {
    ImageWarning(QStringLiteral(" No Hex inside !! "));
}

void ImageTooBigWarning() {
    ImageWarning(QStringLiteral(" Hex too Big !! "));
}

void ProgramDevice(QProgressBar* progressBar, PanelStatusBar* statusBar) {
    ShowProgress(progressBar, 0);

    // Newer bootloaders send a text block after their identity; give it about 1.25 s.
    if (TextBlockVersion(DeviceInfo.BiosVersion)) {
        for (int polls = 0; BlockComplete == 0; ++polls) {
            PollReplies();
            PumpDelay(static_cast<int>(kPumpCycle.count()));
            if (polls == kTextBlockPolls)
                break;
        }
    }
    if (VersionRecordSeen == 0)
        DeviceInfo.BoardCode = 2;
    SelectImage(DeviceInfo.ChipCode, DeviceInfo.BoardCode);

    const std::uint8_t chip = DeviceInfo.ChipCode;
    const ChipFamily* family = FindChipFamily(chip);
    if (family == nullptr) {
        ShowResult(QStringLiteral(" Error !! "), kColorRed, 0);
        if (ChipPanelIndex > 0)
            ShowPanelText(statusBar, ChipPanelIndex, QStringLiteral("Unknow Device"));
        return;
    }
    SetupChipParameters(chip, DeviceInfo.BiosVersion);
    if (chip == kChip24HJ64) {
        BlockSize = BlockSizeOf(chip);
        ProgramLimit = ProgramLimitOf(*family, BootAreaSize, LargeBootAreaSize);
        ProgramLength = SelectedImage.FlashSize;
        // Only this family refuses an image that does not fit; the others cut it.
        if (2 * ProgramLimit < SelectedImage.FlashSize) {
            ImageTooBigWarning();
            return;
        }
    } else {
        BlockSize = BlockSizeOf(chip);
        ProgramLimit = ProgramLimitOf(*family, BootAreaSize, LargeBootAreaSize);
        ProgramLength = std::min(SelectedImage.FlashSize, ProgramLimit);
    }
    if (SelectedImage.FlashSize <= 1) {
        NoImageWarning();
        return;
    }
    if (ChipPanelIndex > 0)
        ShowPanelText(statusBar, ChipPanelIndex, QString::fromLatin1(family->statusText));

    // The image's own board and preparation codes.
    const std::uint8_t key = ImageKey(0, ImagesScrambled);
    const int header = ImageBoardCodeOffset(ChipSlot(chip));
    ImageBoardCode = SelectedImage.FlashData[header] ^ key;
    ImagePreparationCode = SelectedImage.FlashData[header + 1] ^ key;
    if (chip == kChip24HJ64 && TextBlockVersion(DeviceInfo.BiosVersion)) {
        SkipStart = ProtectedStart;
        SkipLength = ProtectedLength;
    }
    ShowDeviceInfo();

    // Refuse an image built for another board or preparation before anything is written.
    if (ImageBoardCode != 0 && ImageBoardCode != 0xFF && VersionRecordSeen != 0) {
        if (BoardCheckMask(DeviceInfo.BoardCode, DeviceInfo.PreparationCode, ImageBoardCode,
                           ImagePreparationCode) != 0) {
            ShowResult(QString::asprintf("%s - Preparation%x", BoardName(ImageBoardCode),
                                         ImagePreparationCode),
                       kColorRed, 0);
            if (ChipPanelIndex >= 0)
                ShowPanelText(statusBar, ChipPanelIndex, QStringLiteral("Warning!!"));
            if (ImagePanelIndex >= 0)
                ShowPanelText(statusBar, ImagePanelIndex, QStringLiteral("not suitable apparatus"));
            return;
        }
    }
    if (Form5 == nullptr)
        ShowPanelText(statusBar, ImagePanelIndex,
                      QString::asprintf("Loaded %d bytes (%04X to %04X)",
                                        SelectedImage.FlashSize / AddressUnit, 0,
                                        ProgramLength / AddressUnit));

    if (VersionRecordSeen != 0 && DeviceInfo.BiosVersion >= 5) {
        ShowPanelText(statusBar, StatusPanelIndex, QStringLiteral("Entry in PrgMode"));
        AckReceived = 0;
        NakReceived = 0;
        CommandBuffer[0] = kCmdEnterProgramMode;
        WritePort(SelectedPortIndex, CommandBuffer, 1);
        // Whatever the answer (even a Stop, which this wait consumes), programming follows.
        WaitReply(static_cast<int>(kProgramModeReplyWait.count()));
    }
    ShowStatus(QStringLiteral(" Programming... "), kColorButtonFace);

    // The reset patch goes into the image in place and stays there for later runs.
    for (int j = 0; j < ResetPatchLength; ++j)
        SelectedImage.FlashData[j] = ResetPatch[j] ^ key;

    ShowProgress(progressBar, 0);
    SetProgressRange(progressBar, ProgramLength / AddressUnit);

    int i = 0; // image byte index
    int n = 0; // bytes in CommandBuffer
    int h = 0; // header length - 1
    while (i < ProgramLength) {
        if (n == 0) {
            const int address = i / AddressUnit;
            if (Form5 == nullptr)
                ShowPanelText(statusBar, StatusPanelIndex,
                              QString::asprintf("Program %05d (%05x)", address, address));
            std::memset(CommandBuffer, 0xFF, kFillLength);
            n = WriteBlockHeader(address, BlockSize);
            h = n - 1;
        }
        if (n - h <= BlockSize) {
            CommandBuffer[n++] = SelectedImage.FlashData[i++];
            continue;
        }
        // The block is full: send it, unless it ends inside the protected range.
        const int end = i / AddressUnit;
        ShowProgress(progressBar, end);
        if (!(SkipStart != 0 && SkipStart <= end && end <= SkipStart + SkipLength)) {
            const std::int16_t r = SendFrame(CommandBuffer, n);
            // Silence on a full block is passed over (the bootloader may rely on that), but
            // not a device that has gone.
            if (r == kExchangeNoReply && DeviceVanished()) {
                ReportSessionError(r);
                return;
            }
            if (r != kExchangeAccepted && r != kExchangeNoReply) {
                ReportSessionError(r);
                return;
            }
        }
        n = 0;
    }

    // The last block holds 1..BlockSize bytes; its length field is rewritten to match.
    const int lastLength = n - h - 1;
    if (BlockSize <= 255) {
        CommandBuffer[3] = static_cast<std::uint8_t>(lastLength);
    } else {
        CommandBuffer[3] = static_cast<std::uint8_t>(lastLength >> 8);
        CommandBuffer[4] = static_cast<std::uint8_t>(lastLength);
    }
    {
        const std::int16_t r = SendFrame(CommandBuffer, n);
        if (r < 0) {
            ReportSessionError(r);
            return;
        }
    }

    // The fix block at the top of the programmable area, the fix bytes at its end.
    ShowPanelText(statusBar, StatusPanelIndex, QStringLiteral("Fix Program"));
    const std::uint8_t fixKey = ImageKey(static_cast<std::uint8_t>(ProgramLimit), ImagesScrambled);
    std::memset(CommandBuffer, static_cast<std::uint8_t>(~fixKey), kFillLength);
    const int fixHeader = WriteBlockHeader(ProgramLimit, BlockSize);
    for (int j = 0; j < SelectedImage.FixSize; ++j)
        CommandBuffer[fixHeader + BlockSize - SelectedImage.FixSize + j] =
            SelectedImage.FixData[j] ^ fixKey;
    if (const std::int16_t r = SendFrame(CommandBuffer, fixHeader + BlockSize); r < 0) {
        ReportSessionError(r);
        return;
    }

    if (SelectedImage.EepromSize > 0) {
        ShowProgress(progressBar, 0);
        SetProgressRange(progressBar, SelectedImage.EepromSize);
        for (int j = 0; j < SelectedImage.EepromSize; ++j) {
            if (Form5 == nullptr)
                ShowPanelText(statusBar, StatusPanelIndex, QString::asprintf("Program EEP %d", j));
            std::memset(CommandBuffer, 0xFF, kFillLength);
            CommandBuffer[0] = kCmdWriteEepromByte;
            CommandBuffer[1] = static_cast<std::uint8_t>(j);
            CommandBuffer[2] = SelectedImage.EepromData[j];
            CommandBuffer[3] = 0x01;
            CommandBuffer[4] = 0x00;
            if (const std::int16_t r = SendFrame(CommandBuffer, 5); r < 0) {
                ReportSessionError(r);
                return;
            }
            ShowProgress(progressBar, j);
        }
    }

    ShowProgress(progressBar, 0);
    if (Form5 != nullptr) {
        ShowPanelText(CompactStatusBar(), StatusPanelIndex, QStringLiteral("Program OK"));
    } else {
        ShowResult(QStringLiteral(" Program Ok "), kColorGreen, 1);
    }
    ShowIdleButtons();
}
