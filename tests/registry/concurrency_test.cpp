// Many processes on one device folder at once: pressers, each pressing the
// buttons of its own row through the press tool, launcher runs, and readers
// that read registry.reg without the lock, as any program could. Each presser
// owns the values its buttons write, so a lost write shows: before and after
// each of its presses, its values must be what its last press wrote. Every
// read must find the file whole, and at the end no lock or temporary file
// may be left.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
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

std::optional<DWORD> ReadDword(const RegistryLocation& where)
{
    HKEY key;
    if (RegOpenKeyExW(HiveKey(where.hive), where.subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    BYTE data[4];
    DWORD size = sizeof data, type = 0;
    const LONG result = RegQueryValueExW(key, where.valueName, NULL, &type, data, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != 4)
        return std::nullopt;
    return DWORD(data[0] | data[1] << 8 | data[2] << 16 | DWORD(data[3]) << 24);
}

// The values that pressing `id` leaves in the presser's own places, all
// there: false with a line on stderr when one is not.
bool HoldsPress(WORD id, const char* when, int presser, int press)
{
    for (const RegistryDwordSetting& write : FindButton(id)->writes) {
        if (IsFlag(write.where))
            continue;
        const std::optional<DWORD> value = ReadDword(write.where);
        if (value != write.value) {
            fprintf(stderr, "presser %d, %s press %d (%u): %ls \"%ls\" is %s, not %u\n", presser,
                    when, press, unsigned(id), write.where.subkey, write.where.valueName,
                    value ? std::to_string(*value).c_str() : "missing", unsigned(write.value));
            return false;
        }
    }
    return true;
}

// Every key of the catalogue is in the file; readers check this at each read.
bool Whole(const std::string& bytes, std::string& problem)
{
    host::reg::Document doc;
    host::reg::ParseError error;
    if (!host::reg::Parse(bytes, doc, error)) {
        problem = "line " + std::to_string(error.line) + ": " + error.message;
        return false;
    }
    static const host::reg::Document full = ParseReg(kFullDevice);
    for (const host::reg::Section& section : full.sections)
        if (!host::reg::KeyExists(doc, section.path)) {
            problem = "no key " + section.path;
            return false;
        }
    return true;
}

// A worker process: runs `work`, reports its count on `results` and exits 0,
// or 1 when the work failed.
template <typename Work>
pid_t Worker(int results, const char* kind, Work work)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    long count = 0;
    const bool ok = work(count);
    char line[64];
    const int n = snprintf(line, sizeof line, "%s %ld\n", kind, count);
    if (write(results, line, size_t(n)) != n)
        _exit(1);
    _exit(ok ? 0 : 1);
}

std::vector<std::string> Leftovers(const std::filesystem::path& root)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp") != std::string::npos || name.rfind("registry.reg.", 0) == 0 ||
            (name.find("ctlpnl.exe.") != std::string::npos))
            found.push_back(entry.path().string());
    }
    return found;
}

TEST(Concurrency, PressersLaunchersAndReadersAtOnceLoseNothing)
{
    ScratchRegistry scratch;
    setenv("CE_HANDLE_CHECK", "1", 1);  // for every program run
    WriteRegistryFile(kFullDevice);
    host::PrepareDevice();

    int results[2], running[2];
    // Only the workers hold these; the programs they run don't.
    ASSERT_EQ(pipe2(results, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(running, O_CLOEXEC), 0);  // readers stop at its end of file
    fcntl(running[0], F_SETFL, O_NONBLOCK);

    std::vector<pid_t> workers;
    for (int reader = 0; reader < kReaders; ++reader)
        workers.push_back(Worker(results[1], "reads", [&](long& reads) {
            close(running[1]);
            const std::string path = RegistryPath();
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

    std::vector<pid_t> busy;
    for (int presser = 0; presser < int(kPressers.size()); ++presser)
        busy.push_back(Worker(results[1], "presses", [&](long& presses) {
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
        busy.push_back(Worker(results[1], "launches", [&](long& launches) {
            close(running[1]);
            for (; launches < kLaunches; ++launches)
                if (const int status = RunToEnd({TARQUELL}, Said::Out).status; status != 0) {
                    fprintf(stderr, "launcher %d, run %ld: Tarquell ended with %d\n", launcher,
                            launches, status);
                    return false;
                }
            return true;
        }));
    close(results[1]);

    for (pid_t pid : busy) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a presser or launcher failed";
    }
    close(running[1]);  // the readers stop
    for (size_t i = 0; i < size_t(kReaders); ++i) {
        int status = 0;
        ASSERT_EQ(waitpid(workers[i], &status, 0), workers[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a reader failed";
    }

    std::map<std::string, long> counts;
    FILE* summary = fdopen(results[0], "r");
    char kind[16];
    long count;
    while (fscanf(summary, "%15s %ld", kind, &count) == 2)
        counts[kind] += count;
    fclose(summary);
    EXPECT_EQ(counts["presses"], long(kPressers.size()) * kPresses);
    EXPECT_EQ(counts["launches"], long(kLaunchers) * kLaunches);
    EXPECT_GT(counts["reads"], 0);
    printf("concurrency: %ld presses, %ld launcher runs and %ld unlocked reads at once\n",
           counts["presses"], counts["launches"], counts["reads"]);
    RecordProperty("presses", int(counts["presses"]));
    RecordProperty("launches", int(counts["launches"]));
    RecordProperty("reads", int(counts["reads"]));

    // Each presser's values are its last press's.
    for (int presser = 0; presser < int(kPressers.size()); ++presser)
        EXPECT_TRUE(HoldsPress(kPressers[presser][(kPresses - 1) % kPressers[presser].size()],
                               "after the last", presser, kPresses - 1));
    std::string problem;
    EXPECT_TRUE(Whole(ReadRegistryFile(), problem)) << problem;
    EXPECT_EQ(Leftovers(host::DeviceRoot()), std::vector<std::string>());
    const int folder = open(host::DeviceRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(flock(folder, LOCK_EX | LOCK_NB), 0) << "the device folder is still locked";
    close(folder);
    unsetenv("CE_HANDLE_CHECK");
}

}  // namespace
