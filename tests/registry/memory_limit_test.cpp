// A registry.reg within the device's limits, read where memory is too short
// for it: every program says so in one line naming the file, nothing ends by
// a signal, the calls fail as the handheld's do when its object store is
// full, and the file stays as it was. Not in the sanitizer build, whose
// shadow memory can't live under a limit on the address space.
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "support/child_run.h"
#include "support/device_files.h"
#include "support/host_device.h"
#include "registry/regfile.h"
#include "registry.h"
#include "support/scratch.h"

namespace {

// The full device with the flag raised, and then keys enough for about
// 24 MB: more than half of it can't fit under the limits below.
const std::string& LargeDevice()
{
    static const std::string text = [] {
        std::string out = Swapped(kFullDevice, "\"align\"=dword:00000000", "\"align\"=dword:00000001");
        char key[120];
        for (unsigned i = 0; out.size() < (size_t(24) << 20); ++i) {
            snprintf(key, sizeof key, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler\\Key%07u]\n\"Number\"=dword:%08x\n",
                     i, i * 2654435761u);
            out += key;
        }
        return out;
    }();
    return text;
}

void LimitTo(size_t bytes)
{
    const rlimit memory = {bytes, bytes};
    setrlimit(RLIMIT_AS, &memory);
}

#ifndef ARMEMU
// The address space this process maps now.
size_t MappedBytes()
{
    size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    return pages * size_t(sysconf(_SC_PAGESIZE));
}

// Each returns 0 when the call failed as it should, else what it gave.
int ReadUnderLimit()
{
    LimitTo(MappedBytes() + LargeDevice().size() / 2);
    HKEY key;
    const LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, kFlagKey, 0, kKeyAccess, &key);
    return result == ERROR_BADDB ? 0 : int(result & 0x7F) | 0x80;
}

int ChangeUnderLimit()
{
    LimitTo(MappedBytes() + LargeDevice().size() / 2);
    HKEY key;
    const LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\New", 0, NULL, 0, kKeyAccess,
                                        NULL, &key, NULL);
    return result == ERROR_NOT_ENOUGH_MEMORY ? 0 : int(result & 0x7F) | 0x80;
}

// The launcher, which clears the flag it finds raised: it gives up and
// returns 0, as it does on every path. Its start-up maps less than 40 MiB.
int LauncherUnderLimit()
{
    LimitTo((size_t(40) << 20) + LargeDevice().size() / 2);
    execl(TARQUELL, TARQUELL, nullptr);
    return 127;
}

// A press of "Animate windows: slow" by the tests' press tool.
int PressUnderLimit()
{
    LimitTo((size_t(40) << 20) + LargeDevice().size() / 2);
    execl(PRESS, PRESS, "1009", nullptr);
    return 127;
}

#else
// The launcher's ARM build on the emulator under `limit`: its status.
int EmulatorUnder(size_t limit)
{
    const pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        LimitTo(limit);
        execl(ARMEMU, ARMEMU, TARQUELL_EXE, nullptr);
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0) {
    }
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The emulator, with the least address space it runs the launcher in on an
// empty registry (most of it the translator's buffer, found to 4 MiB), and
// half the large file more: the shortage comes inside the registry call, the
// launcher goes on and returns 0.
int EmulatorUnderLimit()
{
    const std::string device = getenv("CE_DEVICE_ROOT");
    size_t runs = size_t(4) << 30;
    {
        HostDevice small;
        for (size_t fails = size_t(64) << 20; runs - fails > (size_t(4) << 20);) {
            const size_t limit = fails + (runs - fails) / 2;
            small.Write("registry.reg", host::reg::Write(host::reg::Empty()));
            (EmulatorUnder(limit) == 0 ? runs : fails) = limit;
        }
    }
    setenv("CE_DEVICE_ROOT", device.c_str(), 1);
    LimitTo(runs + LargeDevice().size() / 2);
    execl(ARMEMU, ARMEMU, TARQUELL_EXE, nullptr);
    return 127;
}
#endif

const struct LimitCase {
    const char* name;
    int (*run)();
} kLimitCases[] = {
#ifndef ARMEMU
    {"a read fails with ERROR_BADDB", ReadUnderLimit},
    {"a change fails with ERROR_NOT_ENOUGH_MEMORY", ChangeUnderLimit},
    {"the launcher returns 0", LauncherUnderLimit},
    {"a press changes nothing", PressUnderLimit},
#else  // the wince build's, a test of its own
    {"the emulator runs the launcher to its end", EmulatorUnderLimit},
#endif
};

using MemoryLimit = ScratchTest;

TEST_F(MemoryLimit, EachProgramSaysSoInOneLineAndTheFileStays)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer build can't run under a memory limit";
#endif
    for (const LimitCase& c : kLimitCases) {
        SCOPED_TRACE(c.name);
        WriteRegistryFile(LargeDevice());
        const ChildRun run = RunChild(c.run, Said::Errors);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_NE(run.output.find(RegistryPath() + ": out of memory while "), std::string::npos)
            << run.output;
        EXPECT_TRUE(ReadRegistryFile() == LargeDevice()) << "registry.reg changed";
    }
}

}  // namespace
