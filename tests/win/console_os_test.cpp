// The console's Win32 seam under Wine: the log's durable append, the stop request and the
// console's control events.
#include "cli/console_os.h"
#include "win_support.h"

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

namespace {

// The text of a console row, without its trailing blanks.
std::wstring Row(HANDLE console, SHORT y) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(console, &info);
    std::wstring text(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, text.data(), static_cast<DWORD>(text.size()), {0, y},
                                &read);
    text.resize(read);
    return text.substr(0, text.find_last_not_of(L' ') + 1);
}

} // namespace

// On a console of its own: the live line and the table are rewritten in place, each row
// cleared to its end, however the console treats escape sequences.
TEST(ConsoleOs, RewritesTheLiveLineAndTheTableInPlace) {
    // The console the test runs on, or one of its own; Wine without a terminal or a display
    // has none to give (scripts/test-windows.sh runs this test on a pseudo-terminal too).
    const HANDLE savedOut = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE && !Environment("QUILLET_WIN_TEST_CONSOLE").empty())
        FAIL() << "no console";
    if (console == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "no console";
    // The C library keeps writing the test's output where it did; the console is the seam's.
    SetStdHandle(STD_OUTPUT_HANDLE, console);

    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
    const SHORT top = info.dwCursorPosition.Y;
    console_os::RewriteLine("COM1: program  40% 72/180 blocks");
    console_os::RewriteLine("COM1: Pr\xc3\xbc"
                            "fung");
    EXPECT_EQ(Row(console, top), L"COM1: Pr\u00fcfung");

    // The table over the live line's row, then drawn again over itself.
    console_os::RewriteRows({"COM1: program  10% 18/180 blocks", "COM2: search", "COM3: search"},
                            0);
    console_os::RewriteRows({"COM1: Program Ok", "\x1b[31mCOM2: CHK Error\x1b[0m", "COM3: waiting"},
                            3);
    EXPECT_EQ(Row(console, top), L"COM1: Program Ok");
    EXPECT_EQ(Row(console, static_cast<SHORT>(top + 1)), L"COM2: CHK Error");
    EXPECT_EQ(Row(console, static_cast<SHORT>(top + 2)), L"COM3: waiting");
    WORD red = 0;
    WORD after = 0;
    DWORD read = 0;
    ReadConsoleOutputAttribute(console, &red, 1, {0, static_cast<SHORT>(top + 1)}, &read);
    ReadConsoleOutputAttribute(console, &after, 1, {20, static_cast<SHORT>(top + 1)}, &read);
    EXPECT_EQ(red & (FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE), FOREGROUND_RED);
    EXPECT_EQ(after, info.wAttributes);
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
    EXPECT_EQ(info.dwCursorPosition.Y, top + 3);
    EXPECT_EQ(info.dwCursorPosition.X, 0);

    // A diagnostic goes where the table was, and the table below it.
    console_os::EraseRows(3);
    for (SHORT y = top; y < top + 3; ++y)
        EXPECT_EQ(Row(console, y), L"");
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
    EXPECT_EQ(info.dwCursorPosition.Y, top);

    SetStdHandle(STD_OUTPUT_HANDLE, savedOut);
    CloseHandle(console);
}
