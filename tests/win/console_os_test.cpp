// The console's Win32 seam under Wine: the log's durable append, the stop request and the
// console's control events.
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

// A name with letters outside ASCII, given as UTF-8 like every path of the program.
TEST(ConsoleOs, AppendsToAFileNamedInUtf8) {
    wchar_t dir[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, dir), 0u);
    const std::wstring wide =
        std::wstring(dir) + L"quillet-Pr\u00fcfstand-\u00e6\u00f8-\u20ac.jsonl";
    std::string path(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1,
                                                                  nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, path.data(), static_cast<int>(path.size()),
                        nullptr, nullptr);
    path.pop_back(); // the terminating zero
    DeleteFileW(wide.c_str());
    std::string error;
    ASSERT_TRUE(console_os::AppendLineDurably(path, "{}", &error)) << error;
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the log is not under its own name";
    DeleteFileW(wide.c_str());
}

TEST(ConsoleOs, AStopRequestStays) {
    EXPECT_FALSE(console_os::StopRequested());
    console_os::RequestStop();
    EXPECT_TRUE(console_os::StopRequested());
    EXPECT_TRUE(console_os::StopRequested());
}

// Ctrl-C returns at once; a closing console, a logoff or a shutdown ask for the stop and then
// hold the handler, since the system ends the process when it returns.
TEST(ConsoleOs, AClosingConsoleWaitsForTheSession) {
    EXPECT_TRUE(console_os::OnConsoleControl(CTRL_C_EVENT));
    for (const DWORD type : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
        SCOPED_TRACE(type);
        const HANDLE handler = CreateThread(
            nullptr, 0,
            [](void* event) -> DWORD {
                return static_cast<DWORD>(console_os::OnConsoleControl(
                    static_cast<DWORD>(reinterpret_cast<UINT_PTR>(event))));
            },
            reinterpret_cast<void*>(static_cast<UINT_PTR>(type)), 0, nullptr);
        ASSERT_NE(handler, nullptr);
        // Still there after a frame's reply wait; the process's end takes it away.
        EXPECT_EQ(WaitForSingleObject(handler, 300), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_TRUE(console_os::StopRequested());
        CloseHandle(handler);
    }
}
