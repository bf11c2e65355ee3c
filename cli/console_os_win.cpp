#include "cli/console_os.h"

#include <atomic>
#include <io.h>
#include <thread>
#include <windows.h>

namespace console_os {

namespace {
// Set by the console's control handler (its own thread) and the input thread.
std::atomic<bool> Stop{false};

BOOL WINAPI OnControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        Stop.store(true);
        return TRUE; // handled: the session ends at its next wait
    default:
        return FALSE;
    }
}

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

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}
} // namespace

void CatchStopSignals() {
    SetConsoleCtrlHandler(OnControl, TRUE);
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
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool AppendLineDurably(const std::string& path, const std::string& line, std::string* error) {
    // Append-only access: every write lands at the end, so the lines of several processes
    // appending to one log never mix.
    const HANDLE file =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
