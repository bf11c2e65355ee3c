// The console's Win32 seam under Wine: the log's durable append and the stop request.
#include "cli/console_os.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <windows.h>

TEST(ConsoleOs, AppendsWholeLinesAndSaysWhyItCannot) {
    char dir[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
    const std::string path = std::string(dir) + "quillet-console-os-test.jsonl";
    DeleteFileA(path.c_str());
    std::string error;
    ASSERT_TRUE(console_os::AppendLineDurably(path, "{\"board\":1}", &error)) << error;
    ASSERT_TRUE(console_os::AppendLineDurably(path, "{\"board\":2}", &error)) << error;
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    file.close();
    EXPECT_EQ(content.str(), "{\"board\":1}\n{\"board\":2}\n");
    DeleteFileA(path.c_str());

    error.clear();
    EXPECT_FALSE(
        console_os::AppendLineDurably(std::string(dir) + "no-such-dir\\x.jsonl", "{}", &error));
    EXPECT_FALSE(error.empty());
}

TEST(ConsoleOs, AStopRequestStays) {
    EXPECT_FALSE(console_os::StopRequested());
    console_os::RequestStop();
    EXPECT_TRUE(console_os::StopRequested());
    EXPECT_TRUE(console_os::StopRequested());
}
