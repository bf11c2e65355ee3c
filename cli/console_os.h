// What the console front end needs of the operating system, behind one small seam:
// console_os_posix.cpp and console_os_win.cpp, chosen by the build.
#pragma once

#include <string>
#include <vector>

namespace console_os {

// Text written to a console shows as UTF-8 (Windows consoles start in a legacy code page).
void UseUtf8Console();

// From now on Ctrl-C, a closed terminal and a polite termination request only ask the running
// session to stop; StopRequested() tells whether one came.
void CatchStopSignals();
// Also stop when standard input ends or a line arrives on it: the way a parent process stops
// its children on every platform, and a child whose parent died does not go on flashing.
void StopOnInputEnd();
bool StopRequested();
// Asks for a stop from this process (as Ctrl-C would).
void RequestStop();

// Whether standard output (or error) is an interactive terminal.
bool StdoutIsTerminal();
bool StderrIsTerminal();
// The terminal's width in columns; 80 when it cannot be told.
int TerminalColumns();
// Readies the terminal for the live line (Windows consoles are asked to interpret escape
// sequences); false when it cannot show one.
bool EnableTerminalSequences();

// The live line and a gang's table, redrawn in place on a terminal (the texts are UTF-8,
// narrower than the terminal, with colours as "ESC [ n m" only). RewriteLine rewrites the row the
// cursor is on and leaves the cursor after the text; RewriteRows goes up rowsAbove rows and
// rewrites the rows below, the cursor then on the row after them. Windows consoles are driven
// through the console API, since not all of them honour cursor and erase sequences (Wine's does
// not).
void RewriteLine(const std::string& text);
void RewriteRows(const std::vector<std::string>& rows, int rowsAbove);
// Goes up rowsAbove rows to the first column and erases from there to the end of the screen.
void EraseRows(int rowsAbove);

// Ends a run that used the line's MQTT client, its work done and said: returns code for main
// to return, except on Windows, where the process ends here with code, without the DLLs'
// teardown. Its MQTT thread, ended just before, hung that teardown now and then (under Wine,
// in libstdc++'s DLL_PROCESS_DETACH); nothing is left for it to do.
int EndAfterLine(int code);

// Appends one whole line to the file at path (created if missing) with a single append
// write, and waits until it is on the disk. False, with the OS's words in *error, on failure.
bool AppendLineDurably(const std::string& path, const std::string& line, std::string* error);

#ifdef _WIN32
// The console control handler that CatchStopSignals installs; a closing console, a logoff or a
// shutdown keeps it waiting while the session ends.
int __stdcall OnConsoleControl(unsigned long type);
#endif

} // namespace console_os
