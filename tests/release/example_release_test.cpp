// The example release (releases/example), built from its HEX files: what its device list
// shows, and a whole update of each image set through the compact window, checked byte by
// byte against the HEX files themselves.
#include "catalogue/catalogue.h"
#include "catalogue/version.h"
#include "shell/identity.h"
#include "shell/mhead.h"
#include "shell/panel_status_bar.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/board_session.h"
#include "support/sim_board.h"
#include "support/temp_env.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Intel HEX read independently of the build's srec_cat: address -> byte.
std::map<std::uint32_t, std::uint8_t> ReadHex(const std::string& path) {
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::ifstream in(path);
    std::string line;
    std::uint32_t upper = 0;
    auto byteAt = [&line](std::size_t i) {
        return static_cast<std::uint8_t>(std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16));
    };
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != ':')
            continue;
        const std::size_t count = byteAt(0);
        const std::uint32_t address = static_cast<std::uint32_t>(byteAt(1) << 8 | byteAt(2));
        const int kind = byteAt(3);
        if (kind == 4)
            upper = static_cast<std::uint32_t>(byteAt(4) << 24 | byteAt(5) << 16);
        if (kind == 0)
            for (std::size_t i = 0; i < count; ++i)
                bytes[upper + address + static_cast<std::uint32_t>(i)] = byteAt(4 + i);
    }
    return bytes;
}

std::string ExamplePath(const std::string& name) {
    return std::string(QUILLET_SOURCE_DIR) + "/releases/example/" + name;
}

struct ImageSetCase {
    const char* name;
    const char* chip; // simulator's --chip
    int board;        // the simulated board's code
    int preparation;
    const char* program;
    const char* eeprom; // nullptr: none
    // Reset patch and address unit of the fix block, for bootloaders below version 5 and
    // from version 5 on.
    std::vector<std::uint8_t> patchBefore5, patchFrom5;
    int programLimitBefore5, programLimitFrom5;
    int unit; // image bytes per address unit
    int blockSize;
    std::vector<std::uint8_t> fix; // as the description gives them
};

void PrintTo(const ImageSetCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<std::uint8_t> k24HJ64Patch = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};

const ImageSetCase kCases[] = {
    {"KJB_R01_24HJ64",
     "0xFE",
     5,
     0x04,
     "kjb-24hj64.hex",
     nullptr,
     k24HJ64Patch,
     k24HJ64Patch,
     0xA780,
     0xA780,
     2,
     256,
     {0x7F, 0xCF, 0x00, 0x00}},
    {"KJC_R01_24HJ64",
     "0xFE",
     6,
     0x05,
     "kjc-24hj64.hex",
     nullptr,
     k24HJ64Patch,
     k24HJ64Patch,
     0xA780,
     0xA780,
     2,
     256,
     {0x7F, 0xCF, 0x00, 0x00, 0xE7, 0x00}},
    {"KJA_R02_2580",
     "C",
     2,
     0x01,
     "kja-2580.hex",
     "kja-2580-eeprom.hex",
     {0x80, 0xEF, 0x3F, 0xF0},
     {0x40, 0xEF, 0x3F, 0xF0},
     0x7EC0,
     0x7E40,
     1,
     64,
     {0xA5, 0x5A}},
    // A board without an entry of its own takes the default entry of chip 2480.
    {"AnyBoard_2480",
     "D",
     9,
     0x02,
     "any-2480.hex",
     nullptr,
     {0x80, 0xEF, 0x1F, 0xF0},
     {0x40, 0xEF, 0x1F, 0xF0},
     0x3EC0,
     0x3E40,
     1,
     64,
     {}},
};

// Each image set against a bootloader of each generation: version 4 (smaller boot area, no
// programming mode, no text block) and version 12.
class ExampleUpdateTest : public ::testing::TestWithParam<std::tuple<ImageSetCase, int>> {};

TEST_P(ExampleUpdateTest, BoardKeepsTheHexContents) {
    const ImageSetCase& c = std::get<0>(GetParam());
    const int bios = std::get<1>(GetParam());
    const std::vector<std::uint8_t>& patch = bios < 5 ? c.patchBefore5 : c.patchFrom5;
    const int programLimit = bios < 5 ? c.programLimitBefore5 : c.programLimitFrom5;
    TempEnvironment env;
    SimBoard sim({"--chip", c.chip, "--board", std::to_string(c.board), "--prep",
                  std::to_string(c.preparation), "--bios", std::to_string(bios)},
                 env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    env.writeComSetting(QStringLiteral("0"));
    // Start-up order of a compact-layout product: the compact window leads.
    auto compact = std::make_unique<TForm5>();
    Form5 = compact.get();
    auto full = std::make_unique<TForm1>();
    Form1 = full.get();
    compact->show();
    QTest::mouseClick(compact->Button1, Qt::LeftButton);
    EXPECT_EQ(compact->StatusBar1->panelText(StatusPanelIndex), QStringLiteral("Program OK"));
    full.reset();
    compact.reset();
    ResetUpdaterState();

    // Program memory as the board keeps it: the HEX bytes with gaps as 0xFF and the reset
    // patch over the first bytes; nothing else below the fix block.
    const auto hex = ReadHex(ExamplePath(c.program));
    ASSERT_FALSE(hex.empty());
    const std::size_t length = hex.rbegin()->first + 1;
    const std::size_t fixBlock = static_cast<std::size_t>(programLimit * c.unit);
    const std::vector<std::uint8_t> flash = sim.flash();
    ASSERT_EQ(flash.size(), fixBlock + static_cast<std::size_t>(c.blockSize));
    for (std::size_t i = 0; i < fixBlock; ++i) {
        std::uint8_t expected = 0xFF;
        if (i < patch.size())
            expected = patch[i];
        else if (const auto it = hex.find(static_cast<std::uint32_t>(i)); it != hex.end())
            expected = it->second;
        ASSERT_EQ(flash[i], expected) << "byte " << i;
    }
    EXPECT_GT(fixBlock, length);
    // The fix block: 0xFF, then the fix bytes exactly as the description gives them.
    const std::size_t fill = static_cast<std::size_t>(c.blockSize) - c.fix.size();
    for (std::size_t j = 0; j < static_cast<std::size_t>(c.blockSize); ++j)
        ASSERT_EQ(flash[fixBlock + j], j < fill ? 0xFF : c.fix[j - fill]) << "fix block byte " << j;

    // EEPROM: the HEX bytes, gaps as 0xFF; unwritten bytes stay 0xFF.
    const std::vector<std::uint8_t> eeprom = sim.eeprom();
    ASSERT_EQ(eeprom.size(), 256u);
    const auto eepromHex =
        c.eeprom ? ReadHex(ExamplePath(c.eeprom)) : std::map<std::uint32_t, std::uint8_t>{};
    for (std::size_t j = 0; j < eeprom.size(); ++j) {
        const auto it = eepromHex.find(static_cast<std::uint32_t>(j));
        ASSERT_EQ(eeprom[j], it != eepromHex.end() ? it->second : 0xFF) << "EEPROM byte " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(ImageSets, ExampleUpdateTest,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Values(4, 12)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_Bios" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(ExampleRelease, DeviceListShowsOneLinePerImageSet) {
    BuildImageCatalogue();
    EXPECT_TRUE(UsesCompactLayout(QString::fromLatin1(ProductString())));
    TForm4 dialog;
    dialog.show();
    QStringList lines;
    for (int i = 0; i < dialog.ListBox1->count(); ++i)
        lines << dialog.ListBox1->item(i)->text();
    EXPECT_EQ(lines, (QStringList{
                         QStringLiteral("Device - Print          - Preparation"),
                         QStringLiteral("-------------------------------------"),
                         QStringLiteral("24HJ64 - KJB_R01[16PIN] - CAN   [Code:04]"),
                         QStringLiteral("24HJ64 - KJC_R01[16PIN] - SRV   [Code:05]"),
                         QStringLiteral("2580   - KJA_R02[14PIN] - CAN+SPI   [Code:01]"),
                         QStringLiteral("2480   - KJA_R02[14PIN] - UNKNOWN   [Code:02]"),
                     }));
}

} // namespace
