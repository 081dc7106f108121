// Many processes on one device folder at once: pressers, each pressing the
// buttons of its own row through the press tool, launcher runs, and readers
// that read registry.reg without the lock, as any program could. Each presser
// owns the values its buttons write, so a lost write shows: before and after
// each of its presses, its values must be what its last press wrote. Every
// read must find the file whole, and at the end no lock or temporary file
// may be left: the folder holds what it did, and the panel's log.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "child_run.h"
#include "device.h"
#include "device_files.h"
#include "regfile.h"
#include "registry.h"
#include "registry/helpers.h"
#include "scratch.h"

namespace {

constexpr int kPresses = 100;     // per presser
constexpr int kLaunches = 100;    // per launcher process
constexpr int kLaunchers = 2;
constexpr int kReaders = 2;
constexpr int kMostReads = 200000;  // per reader, should the others hang

// The rows' buttons, one presser a row; the orientation row's writes of the
// flag are shared with the launcher and not owned.
const std::vector<std::vector<WORD>> kPressers = {
    {1009, 1008}, {1011, 1010}, {1014, 1013}, {1022, 1023}, {1016, 1007, 1017}, {1025, 1027},
};

bool IsFlag(const RegistryLocation& where)
{
    return where.hive == Hive::CurrentUser && std::wstring(where.subkey) == kFlagKey &&
           std::wstring(where.valueName) == kFlagValue;
}

// The values that pressing `id` leaves in the presser's own places, all
// there: false with a line on stderr when one is not.
bool HoldsPress(WORD id, const char* when, int presser, int press)
{
    for (const RegistryDwordSetting& write : FindButton(id)->writes) {
        if (IsFlag(write.where))
            continue;
        const Stored value = ReadValue(HiveKey(write.where.hive), write.where.subkey, write.where.valueName);
        if (value != Dword(write.value)) {
            fprintf(stderr, "presser %d, %s press %d (%u): %ls \"%ls\" is %s, not %u\n", presser, when,
                    press, unsigned(id), write.where.subkey, write.where.valueName,
                    testing::PrintToString(value).c_str(), unsigned(write.value));
            return false;
        }
    }
    return true;
}

// Every key of the catalogue is in the file; readers check this at each read.
bool Whole(const std::string& bytes, std::string& problem)
{
    host::reg::Document doc;
    if (!ReadsAs(bytes, doc, problem))
        return false;
    static const host::reg::Document full = ParseReg(kFullDevice);
    for (const host::reg::Section& section : full.sections)
        if (!host::reg::KeyExists(doc, section.path)) {
            problem = "no key " + section.path;
            return false;
        }
    return true;
}

// A worker process: runs `work`, which counts what it did, and says the
// count; it ends with 0, or 1 when the work failed.
template <typename Work>
Child Worker(Work work)
{
    return StartChild(
        [&] {
            long count = 0;
            const bool ok = work(count);
            printf("%ld\n", count);
            return ok ? 0 : 1;
        },
        Said::Out, 280);
}

// The worker's count, once it has ended well.
long Count(const Child& worker, const char* kind)
{
    const ChildRun run = Finish(worker);
    EXPECT_EQ(run.status, 0) << "a " << kind << " failed";
    return atol(run.output.c_str());
}

TEST(Concurrency, PressersLaunchersAndReadersAtOnceLoseNothing)
{
    ScratchRegistry scratch;
    setenv("CE_HANDLE_CHECK", "1", 1);  // for every program run
    WriteRegistryFile(kFullDevice);
    host::PrepareDevice();

    int running[2];
    // Only the workers hold it; the programs they run don't. Readers stop at
    // its end of file.
    ASSERT_EQ(pipe2(running, O_CLOEXEC), 0);
    fcntl(running[0], F_SETFL, O_NONBLOCK);

    std::vector<Child> readers;
    for (int reader = 0; reader < kReaders; ++reader)
        readers.push_back(Worker([&](long& reads) {
            close(running[1]);
            for (char byte; reads < kMostReads && read(running[0], &byte, 1) < 0 && errno == EAGAIN;) {
                std::string problem;
                if (!Whole(ReadRegistryFile(), problem)) {
                    fprintf(stderr, "reader %d, read %ld: %s\n", reader, reads, problem.c_str());
                    return false;
                }
                ++reads;
            }
            return true;
        }));
    close(running[0]);

    std::vector<Child> pressers, launchers;
    for (int presser = 0; presser < int(kPressers.size()); ++presser)
        pressers.push_back(Worker([&](long& presses) {
            close(running[1]);
            const std::vector<WORD>& ids = kPressers[presser];
            for (int press = 0; press < kPresses; ++press) {
                const WORD id = ids[press % ids.size()];
                if (press > 0 && !HoldsPress(ids[(press - 1) % ids.size()], "before", presser, press))
                    return false;
                if (const int status = RunToEnd({PRESS, std::to_string(id).c_str()}, Said::Out).status;
                    status != 0) {
                    fprintf(stderr, "presser %d: press %u ended with %d\n", presser, unsigned(id), status);
                    return false;
                }
                ++presses;
                if (!HoldsPress(id, "after", presser, press))
                    return false;
            }
            return true;
        }));
    for (int launcher = 0; launcher < kLaunchers; ++launcher)
        launchers.push_back(Worker([&](long& launches) {
            close(running[1]);
            for (; launches < kLaunches; ++launches)
                if (const int status = RunToEnd({TARQUELL}, Said::Out).status; status != 0) {
                    fprintf(stderr, "launcher %d, run %ld: Tarquell ended with %d\n", launcher,
                            launches, status);
                    return false;
                }
            return true;
        }));

    std::map<std::string, long> counts;
    for (const Child& presser : pressers)
        counts["presses"] += Count(presser, "presser");
    for (const Child& launcher : launchers)
        counts["launches"] += Count(launcher, "launcher");
    close(running[1]);  // the readers stop
    for (const Child& reader : readers)
        counts["reads"] += Count(reader, "reader");
    EXPECT_EQ(counts["presses"], long(kPressers.size()) * kPresses);
    EXPECT_EQ(counts["launches"], long(kLaunchers) * kLaunches);
    EXPECT_GT(counts["reads"], 0);
    printf("concurrency: %ld presses, %ld launcher runs and %ld unlocked reads at once\n",
           counts["presses"], counts["launches"], counts["reads"]);
    for (const auto& [what, count] : counts)
        RecordProperty(what, int(count));

    // Each presser's values are its last press's.
    for (int presser = 0; presser < int(kPressers.size()); ++presser)
        EXPECT_TRUE(HoldsPress(kPressers[presser][(kPresses - 1) % kPressers[presser].size()],
                               "after the last", presser, kPresses - 1));
    std::string problem;
    EXPECT_TRUE(Whole(ReadRegistryFile(), problem)) << problem;
    // The stand-in control panel, with the log of its runs, and the registry.
    EXPECT_EQ(FolderEntries(host::DeviceRoot()),
              (std::vector<std::string>{"device:", "device:/Windows", "device:/Windows/ctlpnl.exe",
                                        "device:/Windows/ctlpnl.log", "emulator:", "registry.reg"}));
    EXPECT_TRUE(LockIsFree()) << "the device folder is still locked";
    unsetenv("CE_HANDLE_CHECK");
}

}  // namespace
