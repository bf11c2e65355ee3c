// The tests' entry; also the second process of the instance guard tests.
#include "win_support.h"

#include "shell/instance_guard.h"

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kTryGuardSwitch) == 0) {
        InstanceGuard guard(argv[2]);
        return guard.Acquire() ? kGuardAcquired : kGuardHeldElsewhere;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
