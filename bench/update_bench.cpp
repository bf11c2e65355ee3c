// Times a full update of the release image against the simulated board paced at 115200 baud
// 8N2, through the real SearchDevice and ProgramDevice, and compares it with the wire time.
#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "session/programming.h"
#include "session/search.h"
#include "shell/panel_status_bar.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/sim_board.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr double kBitsPerByte = 11.0; // start, 8 data, 2 stop
constexpr double kBaud = 115200.0;
constexpr double kPumpCycleSeconds = 0.005;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir config;
    QTemporaryDir com;
    qputenv("QUILLET_COM_DIR", com.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, config.path());
    QDir().mkpath(config.path() + QStringLiteral("/Tessaly"));
    QSettings(config.path() + QStringLiteral("/Tessaly/Quillet.conf"), QSettings::IniFormat)
        .setValue(QStringLiteral("com"), QStringLiteral("0"));

    SimBoard sim({"--line-rate"}, com.path().toStdString());
    if (!sim.ready()) {
        std::fprintf(stderr, "simulated board did not start: %s\n", sim.error().c_str());
        return 1;
    }
    TForm1 window;
    Form1 = &window;
    window.show();

    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    if (SearchDevice(window.ProgressBar1, window.StatusBar1) != 0) {
        std::fprintf(stderr, "board not found\n");
        return 1;
    }
    ProgramDevice(window.ProgressBar1, window.StatusBar1);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    const QString result = window.Label2->text();
    Form1 = nullptr;

    // What crossed the wire from the updater: probes, the mode switch and every frame send.
    long bytes = 0;
    long frames = 0;
    for (const std::string& line : sim.logLines()) {
        if (line.rfind("PROBE ", 0) == 0 || line.rfind("PROGMODE ", 0) == 0) {
            bytes += 1;
        } else if (line.rfind("FRAME ", 0) == 0) {
            const bool eeprom = SimBoard::logField(line, "cmd") == "40";
            const long header = eeprom ? 5 : (BlockSize > 255 ? 5 : 4);
            bytes += (eeprom ? header : header + std::stol(SimBoard::logField(line, "data"))) + 1;
            ++frames;
        }
    }
    const double wire = static_cast<double>(bytes) * kBitsPerByte / kBaud;
    const double floor = wire + static_cast<double>(frames) * kPumpCycleSeconds;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);

    std::printf("result               %s\n", result.trimmed().toLocal8Bit().constData());
    std::printf("frames               %ld\n", frames);
    std::printf("bytes sent           %ld\n", bytes);
    std::printf("wall time            %.3f s\n", wall);
    std::printf("wire-time floor      %.3f s  (bytes x 11 bits / 115200)\n", wire);
    std::printf("wall / wire          %.3f\n", wall / wire);
    std::printf("design floor         %.3f s  (wire + one 5 ms cycle a frame)\n", floor);
    std::printf("wall / design floor  %.3f\n", wall / floor);
    std::printf("outside the wire     %.2f ms a frame\n", (wall - wire) * 1000.0 / frames);
    std::printf("updater CPU time     %.3f s\n", cpu);
    std::printf("peak memory          %ld KiB\n", usage.ru_maxrss);
    return result.trimmed() == QStringLiteral("Program Ok") ? 0 : 1;
}
