// The tests' entry; also the second process of the instance guard and port listing tests.
#include "win_support.h"

#include "serial/port_discovery.h"
#include "shell/instance_guard.h"

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kTryGuardSwitch) == 0) {
        InstanceGuard guard(argv[2]);
        return guard.Acquire() ? kGuardAcquired : kGuardHeldElsewhere;
    }
    if (argc == 2 && std::strcmp(argv[1], kListPortsSwitch) == 0) {
        ClosePortDevices(OpenPortDevices());
        return Environment("QUILLET_PLANTED_DLL_LOADED").empty() ? 0 : kPlantedDllLoaded;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
