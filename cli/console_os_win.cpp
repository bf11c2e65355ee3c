#include "cli/console_os.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <thread>
#include <windows.h>

namespace console_os {

namespace {
// Set by the console's control handler (its own thread) and the input thread.
std::atomic<bool> Stop{false};

// Longer than Windows lets a handler keep a closing console's process (about 5 s, which
// covers a frame's 1 s reply wait): it is the system, or the end of main, that ends the wait.
constexpr DWORD kCloseWaitMs = 30000;

} // namespace

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        Stop.store(true);
        return TRUE; // handled: the session ends at its next wait
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this returns: stay here while the session
        // ends at its next wait and writes its record and log line. The process then ends
        // from main, this thread with it.
        Stop.store(true);
        ::Sleep(kCloseWaitMs);
        return TRUE;
    default:
        return FALSE;
    }
}

namespace {

std::string LastErrorText() {
    char* text = nullptr;
    const DWORD code = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text != nullptr ? text : "error " + std::to_string(code);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r'))
        result.pop_back();
    return result;
}

// The UTF-8 text as UTF-16, for the wide calls; empty when it is not UTF-8.
std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                            static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// The console's own code page, to be given back at the end; 0 when it was not changed.
UINT PreviousCodePage = 0;

void RestoreCodePage() {
    if (PreviousCodePage != 0)
        SetConsoleOutputCP(PreviousCodePage);
}
} // namespace

void UseUtf8Console() {
    // The output is UTF-8 whatever code page the console had; the console outlives this
    // process, so its own page comes back at the end.
    const UINT previous = GetConsoleOutputCP();
    if (previous == 0 || previous == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8))
        return;
    PreviousCodePage = previous;
    std::atexit(RestoreCodePage);
}

int EndAfterLine(int code) {
    std::fflush(nullptr);
    RestoreCodePage();
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
}

void CatchStopSignals() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void StopOnInputEnd() {
    std::thread([] {
        char byte;
        DWORD read = 0;
        ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr);
        Stop.store(true); // end of input, an error or any byte: stop
    }).detach();
}

bool StopRequested() {
    return Stop.load();
}

void RequestStop() {
    Stop.store(true);
}

bool StdoutIsTerminal() {
    return IsConsole(STD_OUTPUT_HANDLE);
}

bool StderrIsTerminal() {
    return IsConsole(STD_ERROR_HANDLE);
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

bool EnableTerminalSequences() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode))
        return false;
    // For what the C library writes; the live line itself goes through the console API, so
    // a console that refuses the flag (before Windows 10) still shows it.
    SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return true;
}

namespace {

// The colours of "ESC [ n m" that rows use (a failed board's row is red): n's foreground on
// the console's attributes, or those attributes themselves for 0 and anything unknown.
WORD ColourAttributes(int code, WORD normal) {
    const WORD rest = normal & ~static_cast<WORD>(FOREGROUND_RED | FOREGROUND_GREEN |
                                                  FOREGROUND_BLUE | FOREGROUND_INTENSITY);
    if (code < 30 || code > 37)
        return normal;
    const int ansi = code - 30; // bits: red 1, green 2, blue 4
    WORD colour = FOREGROUND_INTENSITY;
    colour |= (ansi & 1) != 0 ? FOREGROUND_RED : 0;
    colour |= (ansi & 2) != 0 ? FOREGROUND_GREEN : 0;
    colour |= (ansi & 4) != 0 ? FOREGROUND_BLUE : 0;
    return rest | colour;
}

// Writes text at the cursor, its colour sequences as console attributes, then blanks the rest
// of its row; false when output is no console.
bool WriteAndClearRow(HANDLE out, const std::string& text) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info))
        return false;
    const WORD normal = info.wAttributes;
    DWORD done = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t escape = text.find("\x1b[", at);
        const std::wstring wide = Wide(text.substr(at, escape - at));
        if (!wide.empty() &&
            !WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr))
            return false;
        if (escape == std::string::npos)
            break;
        const std::size_t end = text.find('m', escape);
        if (end == std::string::npos)
            break;
        SetConsoleTextAttribute(out,
                                ColourAttributes(std::atoi(text.c_str() + escape + 2), normal));
        at = end + 1;
    }
    SetConsoleTextAttribute(out, normal);
    if (!GetConsoleScreenBufferInfo(out, &info))
        return false;
    const DWORD rest = static_cast<DWORD>(std::max(info.dwSize.X - info.dwCursorPosition.X, 0));
    FillConsoleOutputAttribute(out, normal, rest, info.dwCursorPosition, &done);
    return FillConsoleOutputCharacterW(out, L' ', rest, info.dwCursorPosition, &done) != 0;
}

// Puts the cursor at the first column, rowsUp rows above its row; false when output is no
// console.
bool CursorToRowStart(HANDLE out, int rowsUp) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info))
        return false;
    const COORD start{0, static_cast<SHORT>(std::max(info.dwCursorPosition.Y - rowsUp, 0))};
    return SetConsoleCursorPosition(out, start) != 0;
}

void WriteBytes(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

} // namespace

void RewriteLine(const std::string& text) {
    std::fflush(stdout); // what the C library holds goes first
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!CursorToRowStart(out, 0) || !WriteAndClearRow(out, text))
        WriteBytes("\r" + text + "\x1b[K");
}

void RewriteRows(const std::vector<std::string>& rows, int rowsAbove) {
    std::fflush(stdout);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (CursorToRowStart(out, rowsAbove)) {
        DWORD done = 0;
        for (const std::string& row : rows)
            if (!WriteAndClearRow(out, row) || !WriteConsoleW(out, L"\n", 1, &done, nullptr))
                break;
        return;
    }
    std::string bytes;
    if (rowsAbove > 0)
        bytes += "\x1b[" + std::to_string(rowsAbove) + "A";
    for (const std::string& row : rows)
        bytes += "\r" + row + "\x1b[K\n";
    WriteBytes(bytes);
}

void EraseRows(int rowsAbove) {
    std::fflush(stdout);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!CursorToRowStart(out, rowsAbove) || !GetConsoleScreenBufferInfo(out, &info)) {
        WriteBytes("\x1b[" + std::to_string(rowsAbove) + "A\r\x1b[J");
        return;
    }
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) *
                        static_cast<DWORD>(std::max(info.dwSize.Y - info.dwCursorPosition.Y, 0));
    DWORD done = 0;
    FillConsoleOutputAttribute(out, info.wAttributes, cells, info.dwCursorPosition, &done);
    FillConsoleOutputCharacterW(out, L' ', cells, info.dwCursorPosition, &done);
}

bool AppendLineDurably(const std::string& path, const std::string& line, std::string* error) {
    // Append-only access: every write lands at the end, so the lines of several processes
    // appending to one log never mix.
    // The wide call: the ANSI one would read a UTF-8 name in the system's code page.
    const std::wstring name = Wide(path);
    if (name.empty() && !path.empty()) {
        *error = "the file name is not UTF-8";
        return false;
    }
    const HANDLE file =
        CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = LastErrorText();
        return false;
    }
    const std::string whole = line + "\n";
    DWORD written = 0;
    bool ok = WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr) &&
              written == whole.size();
    if (ok && !FlushFileBuffers(file))
        ok = false;
    if (!ok)
        *error = LastErrorText();
    CloseHandle(file);
    return ok;
}

} // namespace console_os
