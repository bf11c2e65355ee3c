// The single-instance guard as a second process sees it.
#include "win_support.h"

#include "shell/instance_guard.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Runs this executable as a process that tries the guard of that name; its exit code.
DWORD TryGuardInAnotherProcess(const std::string& name) {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine =
        std::string("\"") + self + "\" " + kTryGuardSwitch + " \"" + name + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return static_cast<DWORD>(-1);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

TEST(InstanceGuardWin, TheMutexIsCalledQuilletMutex) {
    EXPECT_EQ(InstanceGuard::DefaultPath(), "QUILLET.MUTEX");
}

TEST(InstanceGuardWin, ASecondProcessFindsTheMutexTakenUntilTheFirstEnds) {
    auto first = std::make_unique<InstanceGuard>();
    ASSERT_TRUE(first->Acquire());
    EXPECT_EQ(TryGuardInAnotherProcess(InstanceGuard::DefaultPath()), kGuardHeldElsewhere);
    InstanceGuard sameProcess;
    EXPECT_FALSE(sameProcess.Acquire());

    first.reset();
    EXPECT_EQ(TryGuardInAnotherProcess(InstanceGuard::DefaultPath()), kGuardAcquired);
}

} // namespace
