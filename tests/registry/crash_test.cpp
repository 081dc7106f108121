// Saves that fail or are killed part-way: a child process makes the three
// writes of "rotate", three saves, and one save fails, or the process is
// killed or exits, at one of its steps. A failed save's call says
// ERROR_REGISTRY_IO_FAILED; registry.reg is then, byte for byte, the file
// before or after that save, never a mix; and the next change goes through
// as if nothing had happened.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "child_run.h"
#include "device.h"
#include "device_files.h"
#include "registry.h"
#include "registry/helpers.h"
#include "registry_store.h"
#include "scratch.h"

namespace {

// What the private area holds once the next start has set the device up:
// temporary files of writes that never finished are gone.
std::vector<std::string> PrivateAreaAfterAStart()
{
    host::PrepareDevice();
    return FolderEntries(host::DeviceRoot() + "/" + host::kPrivateFolder);
}

constexpr WORD kRotate = 1025;    // "rotate"
constexpr WORD kMenuFast = 1022;  // Anitype = 0
constexpr WORD kAnimSlow = 1009;  // Animate = 1

enum class Ending { Fail, Kill, Exit };

// The steps a save can stop at, and the ways it stops, each with its name.
const std::pair<host::SaveStep, const char*> kSteps[] = {
    {host::SaveStep::TempWritten, "temporary written"}, {host::SaveStep::Flushed, "flushed"},
    {host::SaveStep::Renamed, "renamed"}};
const std::pair<Ending, const char*> kEndings[] = {
    {Ending::Fail, "fail"}, {Ending::Kill, "SIGKILL"}, {Ending::Exit, "_exit"}};

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

using CrashSafety = ScratchTest;

TEST_F(CrashSafety, ASaveStoppedAtAnyStepLeavesTheFileBeforeOrAfterItWhole)
{
    const std::string before = kFullDevice;
    const size_t writes = RotateWrites().size();
    ASSERT_EQ(writes, 3u);
    int runs = 0;
    for (int save = 1; save <= int(writes); ++save)
        for (const auto& stepNamed : kSteps)
            for (const auto& endingNamed : kEndings) {
                const host::SaveStep step = stepNamed.first;
                const Ending ending = endingNamed.first;
                SCOPED_TRACE("save " + std::to_string(save) + ", " + stepNamed.second + ", " + endingNamed.second);
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
                    // As the button makes them, each call's result seen: the
                    // failed one's is the child's.
                    LONG failed = ERROR_SUCCESS;
                    for (const RegistryDwordSetting& write : RotateWrites())
                        if (const LONG result = SetIn(HiveKey(write.where.hive), write.where.subkey,
                                                      write.where.valueName, Dword(write.value)))
                            failed = result;
                    return int(failed);
                });
                EXPECT_EQ(run.status, ending == Ending::Kill   ? -SIGKILL
                                      : ending == Ending::Exit ? 9
                                                               : ERROR_REGISTRY_IO_FAILED & 0xff)
                    << run.output;
                ++runs;

                EXPECT_EQ(ReadRegistryFile(), expected);
                EXPECT_TRUE(LockIsFree());

                // The next change goes through, whatever temporary file was
                // left behind, and the next start takes that away.
                ApplyButton(kMenuFast);
                EXPECT_EQ(ReadRegistryFile(),
                          Swapped(expected, "\"Anitype\"=dword:00000006", "\"Anitype\"=dword:00000000"));
                EXPECT_EQ(PrivateAreaAfterAStart(), std::vector<std::string>{});
            }
    EXPECT_EQ(runs, 27);
}

TEST_F(CrashSafety, AProcessKilledHoldingTheLockHoldsUpNoOne)
{
    WriteRegistryFile(kFullDevice);
    // Holds the device folder's lock in the middle of a save until killed,
    // and says so once it does.
    const Child holder = StartChild(
        [] {
            host::SetSaveHook([](host::SaveStep step) {
                if (step != host::SaveStep::Flushed)
                    return true;
                if (write(1, "h", 1) != 1)
                    _exit(1);
                for (;;)
                    pause();
            });
            ApplyButton(kRotate);
            return 0;
        },
        Said::Out);
    char byte;
    ASSERT_EQ(read(holder.output, &byte, 1), 1);  // the holder is inside its first save
    EXPECT_FALSE(LockIsFree());

    // A second process waits for the lock; the holder dies with it held.
    const Child waiter = StartChild([] {
        ApplyButton(kAnimSlow);
        return 0;
    });
    kill(holder.pid, SIGKILL);
    EXPECT_EQ(Finish(holder).status, -SIGKILL);
    EXPECT_EQ(Finish(waiter).status, 0);

    EXPECT_EQ(ReadRegistryFile(), kAnimateOn);
    EXPECT_TRUE(LockIsFree());
    EXPECT_EQ(PrivateAreaAfterAStart(), std::vector<std::string>{});
}

}  // namespace
