// Times quillet-cli updating four simulated boards at once against one board alone, at the real
// line rate (115200 baud 8N2), in the same run: the gang's cost over a single update, and the
// CPU time each board takes.
#include "support/sim_board.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kGang = 4;
constexpr int kRounds = 2;

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = 0;
    double cpu = 0; // of quillet-cli and its children
    int exitCode = -1;
};

Timing RunCli(int boards) {
    QStringList arguments;
    for (int i = 1; i <= boards; ++i)
        arguments << QStringLiteral("--port") << QStringLiteral("COM%1").arg(i);
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    const double cpuBefore = ChildrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    cli.start(QStringLiteral(QUILLET_CLI_PATH), arguments);
    cli.waitForFinished(120000);
    Timing timing;
    timing.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timing.cpu = ChildrenCpuSeconds() - cpuBefore;
    timing.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    return timing;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir com;
    qputenv("QUILLET_COM_DIR", com.path().toLocal8Bit());
    std::vector<std::unique_ptr<SimBoard>> boards;
    for (int i = 1; i <= kGang; ++i) {
        boards.push_back(std::make_unique<SimBoard>(
            std::vector<std::string>{"--line-rate", "--com", std::to_string(i)},
            com.path().toStdString()));
        if (!boards.back()->ready()) {
            std::fprintf(stderr, "simulated board %d did not start: %s\n", i,
                         boards.back()->error().c_str());
            return 1;
        }
    }

    double oneWall = 0;
    double gangWall = 0;
    double oneCpu = 0;
    double gangCpu = 0;
    bool ok = true;
    // Alternating, so that both see the same machine load.
    for (int round = 0; round < kRounds; ++round) {
        const Timing one = RunCli(1);
        const Timing gang = RunCli(kGang);
        ok = ok && one.exitCode == 0 && gang.exitCode == 0;
        std::printf("round %d              1 board %.3f s, %d boards %.3f s, ratio %.3f\n",
                    round + 1, one.wall, kGang, gang.wall, gang.wall / one.wall);
        oneWall += one.wall;
        gangWall += gang.wall;
        oneCpu += one.cpu;
        gangCpu += gang.cpu;
    }
    oneWall /= kRounds;
    gangWall /= kRounds;
    std::printf("1 board wall         %.3f s\n", oneWall);
    std::printf("%d boards wall        %.3f s\n", kGang, gangWall);
    std::printf("%d boards / 1 board   %.3f  (goal <= 1.10)\n", kGang, gangWall / oneWall);
    std::printf("CPU a board alone    %.3f s\n", oneCpu / kRounds);
    std::printf("CPU a board in gang  %.3f s  (parent and children, / %d)\n",
                gangCpu / kRounds / kGang, kGang);
    std::printf("exit codes           %s\n", ok ? "all 0" : "NOT all 0");
    return ok ? 0 : 1;
}
