// Saves that fail or are killed part-way: a child process presses "rotate",
// whose three writes are three saves, and one save fails, or the process is
// killed or exits, at one of its steps. registry.reg is then, byte for byte,
// the file before or after that save, never a mix; and the next change goes
// through as if nothing had happened.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "child_run.h"
#include "device.h"
#include "device_files.h"
#include "registry.h"
#include "registry_store.h"
#include "scratch.h"

namespace {

constexpr WORD kRotate = 1025;    // "rotate"
constexpr WORD kMenuFast = 1022;  // Anitype = 0
constexpr WORD kAnimSlow = 1009;  // Animate = 1

enum class Ending { Fail, Kill, Exit };

const char* NameOf(Ending ending)
{
    return ending == Ending::Fail ? "fail" : ending == Ending::Kill ? "SIGKILL" : "_exit";
}

const char* NameOf(host::SaveStep step)
{
    return step == host::SaveStep::TempWritten ? "temporary written"
           : step == host::SaveStep::Flushed   ? "flushed"
                                               : "renamed";
}

// "rotate" writes these, in this order, one save each.
const std::vector<RegistryDwordSetting>& RotateWrites()
{
    static const std::vector<RegistryDwordSetting> writes(FindButton(kRotate)->writes.begin(),
                                                          FindButton(kRotate)->writes.end());
    return writes;
}

// The file after the writes of "rotate" for which `done` says yes.
std::string AfterWrites(const std::string& before, const std::vector<bool>& done)
{
    WriteRegistryFile(before);
    for (size_t i = 0; i < RotateWrites().size(); ++i)
        if (done[i])
            WriteDword(HiveKey(RotateWrites()[i].where.hive), RotateWrites()[i].where.subkey,
                       RotateWrites()[i].where.valueName, RotateWrites()[i].value);
    return ReadRegistryFile();
}

bool LockIsFree()
{
    const int fd = open(host::DeviceRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        close(fd);
    return free;
}

std::vector<std::string> FolderEntries()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(host::DeviceRoot()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class CrashSafety : public testing::Test {
protected:
    ScratchRegistry scratch_;
};

TEST_F(CrashSafety, ASaveStoppedAtAnyStepLeavesTheFileBeforeOrAfterItWhole)
{
    const std::string before = kFullDevice;
    const size_t writes = RotateWrites().size();
    ASSERT_EQ(writes, 3u);
    int runs = 0;
    for (int save = 1; save <= int(writes); ++save)
        for (host::SaveStep step :
             {host::SaveStep::TempWritten, host::SaveStep::Flushed, host::SaveStep::Renamed})
            for (Ending ending : {Ending::Fail, Ending::Kill, Ending::Exit}) {
                SCOPED_TRACE(std::string("save ") + std::to_string(save) + ", " + NameOf(step) +
                             ", " + NameOf(ending));
                // A stopped save has happened when the rename did. A process
                // that goes on after a failed save still makes its later writes.
                std::vector<bool> done(writes);
                for (int i = 0; i < int(writes); ++i)
                    done[i] = i + 1 < save || (i + 1 == save && step == host::SaveStep::Renamed) ||
                              (i + 1 > save && ending == Ending::Fail);
                const std::string expected = AfterWrites(before, done);
                WriteRegistryFile(before);

                const ChildRun run = RunChild([&] {
                    // Save `save` ends at `step` as `ending` says.
                    host::SetSaveHook([&, saves = 0](host::SaveStep at) mutable {
                        if (at == host::SaveStep::TempWritten)
                            ++saves;
                        if (saves != save || at != step)
                            return true;
                        if (ending == Ending::Kill)
                            raise(SIGKILL);
                        if (ending == Ending::Exit)
                            _exit(9);
                        return false;
                    });
                    ApplyButton(kRotate);
                    return 0;
                });
                EXPECT_EQ(run.status, ending == Ending::Kill ? -SIGKILL : ending == Ending::Exit ? 9 : 0)
                    << run.output;
                ++runs;

                EXPECT_EQ(ReadRegistryFile(), expected);
                EXPECT_TRUE(LockIsFree());

                // The next change goes through, over whatever temporary file
                // was left behind, and takes it away.
                std::string next = expected;
                const size_t at = next.find("\"Anitype\"=dword:00000006");
                ASSERT_NE(at, std::string::npos);
                next.replace(at, 24, "\"Anitype\"=dword:00000000");
                ApplyButton(kMenuFast);
                EXPECT_EQ(ReadRegistryFile(), next);
                EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
            }
    EXPECT_EQ(runs, 27);
}

// The file after "anim slow" (Animate = 1) over the full device.
std::string AnimateOn()
{
    std::string after = kFullDevice;
    after.replace(after.find("\"Animate\"=dword:00000000"), 24, "\"Animate\"=dword:00000001");
    return after;
}

TEST_F(CrashSafety, AProcessKilledHoldingTheLockHoldsUpNoOne)
{
    WriteRegistryFile(kFullDevice);
    int held[2];
    ASSERT_EQ(pipe(held), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        close(held[0]);
        // Holds the device folder's lock in the middle of a save until killed.
        host::SetSaveHook([&](host::SaveStep step) {
            if (step != host::SaveStep::Flushed)
                return true;
            const char byte = 'h';
            if (write(held[1], &byte, 1) != 1)
                _exit(1);
            for (;;)
                pause();
        });
        ApplyButton(kRotate);
        _exit(0);
    }
    close(held[1]);
    char byte;
    ASSERT_EQ(read(held[0], &byte, 1), 1);  // the holder is inside its first save
    close(held[0]);
    EXPECT_FALSE(LockIsFree());

    // A second process waits for the lock; the holder dies with it held.
    const pid_t waiter = fork();
    ASSERT_GE(waiter, 0);
    if (waiter == 0) {
        ApplyButton(kAnimSlow);
        _exit(0);
    }
    kill(holder, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_EQ(waitpid(waiter, &status, 0), waiter);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(ReadRegistryFile(), AnimateOn());
    EXPECT_TRUE(LockIsFree());
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
}

TEST_F(CrashSafety, ALeftOverTemporaryFileLargerThanTheRegistryIsWrittenOver)
{
    WriteRegistryFile(kFullDevice);
    std::ofstream(RegistryPath() + ".tmp", std::ios::binary) << std::string(1 << 20, 'x');
    ApplyButton(kAnimSlow);
    EXPECT_EQ(ReadRegistryFile(), AnimateOn());
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
}

TEST_F(CrashSafety, ATemporaryFileThatCannotBeMadeFailsTheChangeAndKeepsTheFile)
{
    WriteRegistryFile(kFullDevice);
    std::filesystem::create_directory(RegistryPath() + ".tmp");
    StderrCapture capture;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", 0, KEY_READ, &key), ERROR_SUCCESS);
    const LONG result = RegSetValueExW(key, L"Animate", 0, REG_DWORD, (const BYTE*)"\1\0\0\0", 4);
    RegCloseKey(key);
    const std::string text = capture.Finish();

    EXPECT_EQ(result, ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(ReadRegistryFile(), kFullDevice);
    EXPECT_EQ(text.rfind("ce-device: cannot create " + RegistryPath() + ".tmp: ", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;

    std::filesystem::remove(RegistryPath() + ".tmp");
    ApplyButton(kAnimSlow);
    EXPECT_EQ(ReadRegistryFile(), AnimateOn());
}

}  // namespace
