// One update setting as a user has it: a simulated board published as COM1 in a temporary
// COM directory, a temporary settings store naming COM1, and the full main window.
#pragma once

#include "shell/quillet.h"
#include "support/sim_board.h"
#include "support/temp_env.h"

#include <QString>
#include <memory>
#include <string>
#include <vector>

class BoardSession {
public:
    explicit BoardSession(std::vector<std::string> simArgs);
    ~BoardSession();

    TempEnvironment env;
    SimBoard sim;
    std::unique_ptr<TForm1> window;

    QString panel(int index) const;
    QString resultLine() const;
    // Log lines of the simulator that start with kind ("FRAME", "PROBE", "PROGMODE").
    std::vector<std::string> log(const std::string& kind) const;
    // The value of key=value in a log line ("" when absent).
    static std::string field(const std::string& line, const std::string& key);
};

// Puts the process-wide state back as a freshly started updater has it (the test main does so
// before every test).
void ResetUpdaterState();
