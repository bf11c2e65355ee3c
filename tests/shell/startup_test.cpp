// Start-up, settings and identity of the full-layout release.
#include "serial/comport.h"
#include "shell/clickable_label.h"
#include "shell/identity.h"
#include "shell/instance_guard.h"
#include "shell/panel_status_bar.h"
#include "shell/quillet.h"
#include "shell/settings.h"
#include "shell/status.h"
#include "support/message_boxes.h"
#include "support/temp_env.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Constructs the full main window as start-up does and closes it as the user would.
struct MainWindow {
    std::unique_ptr<TForm1> window = std::make_unique<TForm1>();
    MainWindow() { Form1 = window.get(); }
    ~MainWindow() { Form1 = nullptr; }
    QString portPanel() const { return window->StatusBar1->panelText(PortPanelIndex); }
    void close() const { window->close(); }
};

struct SettingsCase {
    const char* stored; // nullptr: no settings at all
    const char* shownPort;
    const char* writtenAtClose;
};

class PortSettingTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(PortSettingTest, RestoresThePortAndWritesItBackAtClose) {
    TempEnvironment env;
    const SettingsCase& c = GetParam();
    if (c.stored != nullptr)
        env.writeComSetting(QString::fromLatin1(c.stored));
    MainWindow main;
    EXPECT_EQ(main.portPanel(), QString::fromLatin1(c.shownPort));
    EXPECT_EQ(OpenPortIndex, static_cast<std::int16_t>(SelectedPortIndex - 1));
    main.close();
    EXPECT_EQ(env.readComSetting(), QString::fromLatin1(c.writtenAtClose));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PortSettingTest,
    ::testing::Values(SettingsCase{nullptr, "COM1", "0"}, SettingsCase{"4", "COM5", "4"},
                      SettingsCase{"-1", "-----", "-1"}, SettingsCase{"65540", "COM5", "4"},
                      SettingsCase{"", "COM1", "0"}, SettingsCase{"x9", "COM1", "0"}));

TEST(PortIndexSetting, ConvertsLikeADecimalReaderKeptIn16Bits) {
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("  12")), 12);
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("+3")), 3);
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("-1")), -1);
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("abc")), 0);
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("7xy")), 7);
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("65536")), 0);
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("32768")), -32768);
    // Far too many digits: the low 16 bits of the value, no overflow.
    EXPECT_EQ(ParsePortIndexSetting(QStringLiteral("99999999999999999999")), -1);
}

TEST(Settings, UnreadableOrUnwritableStoreIsSilent) {
    TempEnvironment env;
    EXPECT_TRUE(ReadSetting(QStringLiteral("version")).isEmpty());
    WriteSetting(QStringLiteral("com"), QStringLiteral("3"));
    EXPECT_EQ(ReadSetting(QStringLiteral("com")), QStringLiteral("3"));
}

TEST(Identity, TitlesOfThisRelease) {
    EXPECT_STREQ(ProductString(), "MERICON 00.03.00.32");
    EXPECT_EQ(BuildMainTitle(),
              QStringLiteral("Updater 2.7 - MERICON 00.03.00.32   [ Feb 18 2011 ]"));
    EXPECT_EQ(BuildCompactTitle(),
              QStringLiteral("Upgrade 1.0 -   MERICON 00.03.00.32   - Feb 17 2011"));
}

TEST(Identity, CompactLayoutIsChosenBySubstringCaseSensitively) {
    EXPECT_FALSE(UsesCompactLayout(QStringLiteral("MERICON 00.03.00.32")));
    EXPECT_TRUE(UsesCompactLayout(QStringLiteral("XX HGJ 1.0")));
    EXPECT_TRUE(UsesCompactLayout(QStringLiteral("KFN")));
    EXPECT_FALSE(UsesCompactLayout(QStringLiteral("xx hgj 1.0")));
    EXPECT_FALSE(UsesCompactLayout(QStringLiteral("KF N")));
}

TEST(Identity, PictureChoiceByProductCode) {
    const auto pictures = [](const char* product) {
        const PictureChoice c = ChoosePictures(QString::fromLatin1(product));
        return std::make_pair(c.image1Visible, c.image2Visible);
    };
    EXPECT_EQ(pictures("TQ500 1.0"), std::make_pair(false, false));
    EXPECT_EQ(pictures("BEX 2"), std::make_pair(false, false));
    EXPECT_EQ(pictures("TQ 1.0"), std::make_pair(true, false));
    EXPECT_EQ(pictures("MERICON 00.03.00.32"), std::make_pair(true, false));
    EXPECT_EQ(pictures("AP.7"), std::make_pair(true, false));
    EXPECT_EQ(pictures("OTHER 1.0"), std::make_pair(false, true));
}

TEST(MainWindow, ConstructionShowsTheProductAndHidesTheLines) {
    TempEnvironment env;
    MainWindow main;
    TForm1& w = *main.window;
    EXPECT_EQ(w.windowTitle(), BuildMainTitle());
    EXPECT_EQ(w.Label1->text(), QStringLiteral("MERICON 00.03.00.32"));
    EXPECT_FALSE(w.Image1->isHidden());
    EXPECT_FALSE(w.Image1->pixmap().isNull());
    EXPECT_FALSE(w.Image2->pixmap().isNull());
    EXPECT_TRUE(w.Image2->isHidden());
    EXPECT_TRUE(w.Button2->isHidden());
    EXPECT_FALSE(w.Button1->isHidden());
    EXPECT_TRUE(w.Label2->isHidden());
    EXPECT_EQ(w.StatusBar1->panelCount(), 4);
    EXPECT_EQ(w.Button1->text(), QStringLiteral("&Update"));
    EXPECT_FALSE(StartingUp);
    // The hint is the title, and no control pops it up.
    EXPECT_EQ(w.accessibleDescription(), BuildMainTitle());
    EXPECT_TRUE(w.toolTip().isEmpty());
}

TEST(StatusReporting, ResultIsWhiteOnItsColourAndRestoresTheButtons) {
    TempEnvironment env;
    MainWindow main;
    TForm1& w = *main.window;
    w.show();
    w.Button1->setVisible(false);
    w.Button2->setVisible(true);

    ShowResult(QStringLiteral(" CHK Error !! "), kColorRed, 0);
    EXPECT_EQ(w.Label2->text(), QStringLiteral(" CHK Error !! "));
    EXPECT_TRUE(w.Label2->isVisible());
    EXPECT_EQ(w.Label2->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_EQ(w.Label2->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    EXPECT_TRUE(w.Button1->isVisible());
    EXPECT_FALSE(w.Button2->isVisible());

    ShowResult(QStringLiteral(" Program Ok "), kColorGreen, 1);
    EXPECT_EQ(w.Label2->palette().color(QPalette::Window), QColor(0, 128, 0));
}

TEST(StatusReporting, WorkingLineIsBlackOnButtonFaceAndLeavesButtons) {
    TempEnvironment env;
    MainWindow main;
    TForm1& w = *main.window;
    w.show();
    w.Button1->setVisible(false);
    w.Button2->setVisible(true);
    ShowStatus(QStringLiteral(" Programming... "), kColorButtonFace);
    EXPECT_EQ(w.Label2->text(), QStringLiteral(" Programming... "));
    EXPECT_EQ(w.Label2->palette().color(QPalette::Window), w.palette().color(QPalette::Button));
    EXPECT_EQ(w.Label2->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_FALSE(w.Button1->isVisible());
    EXPECT_TRUE(w.Button2->isVisible());
}

TEST(StatusReporting, PortPanelFollowsTheSelection) {
    TempEnvironment env;
    MainWindow main;
    SelectedPortIndex = 0;
    ShowPortPanel(main.window->StatusBar1);
    EXPECT_EQ(main.portPanel(), QStringLiteral("COM1"));
    SelectedPortIndex = 11;
    ShowPortPanel(main.window->StatusBar1);
    EXPECT_EQ(main.portPanel(), QStringLiteral("COM12"));
    SelectedPortIndex = -3;
    ShowPortPanel(main.window->StatusBar1);
    EXPECT_EQ(main.portPanel(), QStringLiteral("-----"));
    SelectedPortIndex = 0;
}

// What the user is told when the chosen port cannot be used, by the driver's reason.
struct PortFailureCase {
    const char* name;
    PortFailure failure;
    const char* box; // caption|text of the message box, or nullptr for none
    const char* line;
};

class PortFailureTest : public ::testing::TestWithParam<PortFailureCase> {};

TEST_P(PortFailureTest, ShowsTheBoxOfItsReasonThenInvalidPortCom) {
    const PortFailureCase& c = GetParam();
    TempEnvironment env;
    MainWindow main;
    MessageBoxWatcher boxes;
    ShowPortOpenFailure(PortOpenResult{nullptr, c.failure, {}, {}});
    const std::vector<QString> expected = c.box != nullptr
                                              ? std::vector<QString>{QString::fromLatin1(c.box)}
                                              : std::vector<QString>{};
    EXPECT_EQ(boxes.seen, expected);
    EXPECT_EQ(main.window->Label2->text(), QString::fromLatin1(c.line));
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, PortFailureTest,
    ::testing::Values(
        PortFailureCase{"Usable", PortFailure::kNone, nullptr, ""},
        PortFailureCase{"Absent", PortFailure::kOpenRefused, nullptr, "Invalid Port Com"},
        PortFailureCase{"NoSerialLine", PortFailure::kNotSerial, nullptr, "Invalid Port Com"},
        PortFailureCase{"LineRefused", PortFailure::kLineRefused,
                        "Error|Unable to configure the serial port", "Invalid Port Com"},
        PortFailureCase{"TimeoutsRefused", PortFailure::kTimeoutsRefused,
                        "Error|Unable to set the time-out parameters", "Invalid Port Com"},
        PortFailureCase{"LostAfterOpening", PortFailure::kLost, nullptr, "Invalid Port Com"}),
    [](const ::testing::TestParamInfo<PortFailureCase>& info) { return info.param.name; });

TEST(MainWindow, ChangePortHidesTheResultAndIdentityLines) {
    TempEnvironment env;
    MainWindow main;
    TForm1& w = *main.window;
    w.show();
    ShowResult(QStringLiteral(" not Response "), kColorRed, 0);
    w.Label3->setVisible(true);
    w.S1->trigger();
    EXPECT_FALSE(w.Label2->isVisible());
    EXPECT_FALSE(w.Label3->isVisible());
}

TEST(InstanceGuard, SecondHolderIsRefusedUntilTheFirstEnds) {
    QTemporaryDir dir;
    const std::string path = (dir.path() + QStringLiteral("/QUILLET.MUTEX")).toStdString();
    auto first = std::make_unique<InstanceGuard>(path);
    ASSERT_TRUE(first->Acquire());
    InstanceGuard second(path);
    EXPECT_FALSE(second.Acquire());
    first.reset(); // a crashed instance releases the lock the same way
    InstanceGuard third(path);
    EXPECT_TRUE(third.Acquire());
}

// A lock file in /tmp can be made by anyone. One that belongs to another user, or a link, is
// not used: its owner could otherwise hold the lock and keep the updater from starting.
TEST(InstanceGuard, ForeignFileOrLinkDoesNotKeepTheUpdaterFromStarting) {
    QTemporaryDir dir;
    const std::string foreign = (dir.path() + QStringLiteral("/foreign")).toStdString();
    const std::string link = (dir.path() + QStringLiteral("/link")).toStdString();
    const std::string target = (dir.path() + QStringLiteral("/target")).toStdString();

    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_TRUE(InstanceGuard(link).Acquire());
    EXPECT_NE(::access(target.c_str(), F_OK), 0) << "the link was followed";

    if (::geteuid() != 0)
        GTEST_SKIP() << "making a file of another user needs root";
    const int fd = ::open(foreign.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0); // the other user holds it
    EXPECT_TRUE(InstanceGuard(foreign).Acquire());
    ::close(fd);
}

} // namespace
