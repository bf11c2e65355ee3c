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
#include <string>
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
    std::vector<std::uint8_t> patch;
    int programLimit; // address unit of the fix block
    int unit;         // image bytes per address unit
    int blockSize;
    std::vector<std::uint8_t> fix;
};

const ImageSetCase kCases[] = {
    {"KJB_R01_24HJ64",
     "0xFE",
     5,
     0x04,
     "kjb-24hj64.hex",
     nullptr,
     {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
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
     {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
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
     {0x40, 0xEF, 0x3F, 0xF0},
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
     {0x40, 0xEF, 0x1F, 0xF0},
     0x3E40,
     1,
     64,
     {}},
};

class ExampleUpdateTest : public ::testing::TestWithParam<ImageSetCase> {};

TEST_P(ExampleUpdateTest, BoardReceivesTheHexContents) {
    const ImageSetCase& c = GetParam();
    TempEnvironment env;
    SimBoard sim({"--chip", c.chip, "--board", std::to_string(c.board), "--prep",
                  std::to_string(c.preparation)},
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

    // Program memory: the HEX bytes with gaps as 0xFF, the reset patch over the first bytes,
    // all as stored (key of value 0); nothing else below the fix block.
    const std::uint8_t key = ImageKey(0, 1);
    const auto hex = ReadHex(ExamplePath(c.program));
    ASSERT_FALSE(hex.empty());
    const std::size_t length = hex.rbegin()->first + 1;
    const std::size_t fixBlock = static_cast<std::size_t>(c.programLimit * c.unit);
    const std::vector<std::uint8_t> flash = sim.flash();
    ASSERT_GE(flash.size(), fixBlock + static_cast<std::size_t>(c.blockSize));
    for (std::size_t i = 0; i < fixBlock; ++i) {
        std::uint8_t plain = 0xFF;
        if (i < c.patch.size())
            plain = c.patch[i];
        else if (const auto it = hex.find(static_cast<std::uint32_t>(i)); it != hex.end())
            plain = it->second;
        const std::uint8_t expected = i < length ? static_cast<std::uint8_t>(plain ^ key) : 0xFF;
        ASSERT_EQ(flash[i], expected) << "byte " << i;
    }
    // The fix block: the complement of its key as fill, the fix bytes plain at its end.
    const std::uint8_t fixKey = ImageKey(static_cast<std::uint8_t>(c.programLimit), 1);
    const std::size_t fill = static_cast<std::size_t>(c.blockSize) - c.fix.size();
    for (std::size_t j = 0; j < static_cast<std::size_t>(c.blockSize); ++j)
        ASSERT_EQ(flash[fixBlock + j],
                  j < fill ? static_cast<std::uint8_t>(~fixKey) : c.fix[j - fill])
            << "fix block byte " << j;

    // EEPROM: the HEX bytes as stored, gaps as 0xFF; unwritten bytes stay 0xFF.
    const std::vector<std::uint8_t> eeprom = sim.eeprom();
    ASSERT_EQ(eeprom.size(), 256u);
    const auto eepromHex =
        c.eeprom ? ReadHex(ExamplePath(c.eeprom)) : std::map<std::uint32_t, std::uint8_t>{};
    const std::size_t eepromLength = eepromHex.empty() ? 0 : eepromHex.rbegin()->first + 1;
    for (std::size_t j = 0; j < eeprom.size(); ++j) {
        const auto it = eepromHex.find(static_cast<std::uint32_t>(j));
        const std::uint8_t plain = it != eepromHex.end() ? it->second : 0xFF;
        ASSERT_EQ(eeprom[j], j < eepromLength ? static_cast<std::uint8_t>(plain ^ key) : 0xFF)
            << "EEPROM byte " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(ImageSets, ExampleUpdateTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

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
