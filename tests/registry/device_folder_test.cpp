// Whatever a device folder holds: links planted where the platform writes,
// FIFOs, sockets and device nodes where it reads or writes, a registry.reg
// of any size, a set-up left half-made. Each case runs in a child process
// that may not take long (a hang is a failure, not a stuck test run), and
// nothing outside the device folder may change.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "device.h"
#include "device_files.h"
#include "host_device.h"
#include "registry_store.h"

namespace {

namespace fs = std::filesystem;

// What a case did: the action's result (or -signal), and what was said.
struct Outcome {
    int result;
    std::string said;
};

Outcome InChild(const std::function<int()>& action)
{
    FILE* said = tmpfile();
    const pid_t child = fork();
    if (child == 0) {
        dup2(fileno(said), 2);
        alarm(5);
#ifndef __SANITIZE_ADDRESS__
        const rlimit memory = {1u << 30, 1u << 30};
        setrlimit(RLIMIT_AS, &memory);
#endif
        _exit(action());
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), ""};
    rewind(said);
    for (int c; (c = fgetc(said)) != EOF;)
        outcome.said += char(c);
    fclose(said);
    return outcome;
}

int Press()  // "Animate" = 1, as a button writes it
{
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", 0, 0, &key);
    if (result != ERROR_SUCCESS)
        return int(result);
    const DWORD one = 1;
    result = RegSetValueExW(key, L"Animate", 0, REG_DWORD, (const BYTE*)&one, 4);
    RegCloseKey(key);
    return int(result);
}

int Probe()
{
    HKEY key;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", 0, 0, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return int(result);
}

int SetUpDevice()
{
    host::PrepareDevice();
    return 0;
}

size_t LineCount(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// Everything beside the device folder: paths and contents.
std::string Snapshot(const fs::path& outside, const fs::path& device)
{
    std::string all;
    for (const auto& item : fs::recursive_directory_iterator(outside)) {
        if (item.path().string().rfind(device.string(), 0) == 0)
            continue;
        all += item.path().string() + "\n";
        if (item.is_regular_file() && !item.is_symlink())
            all += std::string(std::istreambuf_iterator<char>(std::ifstream(item.path()).rdbuf()), {});
    }
    return all;
}

struct Case {
    const char* what;
    std::function<void(const HostDevice&)> plant;
    int (*action)();
    int result;
    size_t lines;       // on stderr
    bool kept = false;  // registry.reg is left as planted
};

// registry.reg as it stands: the file or link itself, not what it names.
std::string Stamp(const HostDevice& device)
{
    struct stat info = {};
    lstat((device.Root() / "registry.reg").c_str(), &info);
    return std::to_string(info.st_ino) + " " + std::to_string(info.st_size) + " " +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

void RunCases(const Case* cases, size_t count, const std::function<void(const HostDevice&)>& check = {})
{
    for (size_t i = 0; i < count; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        HostDevice device;
        device.Write("registry.reg", kFullDevice);
        device.Write("Windows/ctlpnl.exe", "#!/bin/sh\n", 0755);
        fs::create_directory(device.Outside() / "elsewhere");
        std::ofstream(device.Outside() / "elsewhere/target") << "not the device's";
        c.plant(device);
        const std::string before = Snapshot(device.Outside(), device.Root());
        const std::string registry = Stamp(device);

        const Outcome outcome = InChild(c.action);
        EXPECT_EQ(outcome.result, c.result & 0xff) << outcome.said;  // as an exit status
        EXPECT_EQ(LineCount(outcome.said), c.lines) << outcome.said;
        EXPECT_EQ(Snapshot(device.Outside(), device.Root()), before);
        if (c.kept) {
            EXPECT_EQ(Stamp(device), registry);
        }
        if (check)
            check(device);
    }
}

void Link(const HostDevice& device, const char* name, const fs::path& to)
{
    fs::create_symlink(to, device.Root() / name);
}

TEST(DeviceFolderSafety, PlantedLinksAreNeverWrittenThrough)
{
    const Case cases[] = {
        {"registry.reg.tmp to a file outside",
         [](const HostDevice& d) { Link(d, "registry.reg.tmp", d.Outside() / "elsewhere/target"); },
         Press, ERROR_SUCCESS, 0},
        {"registry.reg.tmp dangling, to a name outside",
         [](const HostDevice& d) { Link(d, "registry.reg.tmp", d.Outside() / "elsewhere/new"); },
         Press, ERROR_SUCCESS, 0},
        {"registry.reg to a registry outside, read and replaced by a file",
         [](const HostDevice& d) {
             std::ofstream(d.Outside() / "elsewhere/registry.reg") << kFullDevice;
             fs::remove(d.Root() / "registry.reg");
             Link(d, "registry.reg", d.Outside() / "elsewhere/registry.reg");
         },
         Press, ERROR_SUCCESS, 0},
        {"Windows/ctlpnl.exe.tmp to a file outside, the panel missing",
         [](const HostDevice& d) {
             fs::remove(d.Root() / "Windows/ctlpnl.exe");
             Link(d, "Windows/ctlpnl.exe.tmp", d.Outside() / "elsewhere/target");
         },
         SetUpDevice, 0, 0},
        {"Windows to a folder outside",
         [](const HostDevice& d) {
             fs::remove_all(d.Root() / "Windows");
             Link(d, "Windows", d.Outside() / "elsewhere");
         },
         SetUpDevice, 0, 1},
    };
    RunCases(cases, std::size(cases), [](const HostDevice& device) {
        const fs::file_status status = fs::symlink_status(device.Root() / "registry.reg");
        EXPECT_TRUE(fs::is_regular_file(status));
        EXPECT_FALSE(fs::exists(fs::symlink_status(device.Root() / "registry.reg.tmp")));
    });
}

void Fifo(const HostDevice& device, const char* name)
{
    fs::remove(device.Root() / name);
    ASSERT_EQ(mkfifo((device.Root() / name).c_str(), 0644), 0);
}

TEST(DeviceFolderSafety, SpecialFilesAreToldAtOnceAndNeverWaitedOn)
{
    const Case cases[] = {
        {"a FIFO as registry.reg, probed", [](const HostDevice& d) { Fifo(d, "registry.reg"); },
         Probe, ERROR_REGISTRY_IO_FAILED, 1},
        {"a FIFO as registry.reg, pressed", [](const HostDevice& d) { Fifo(d, "registry.reg"); },
         Press, ERROR_REGISTRY_IO_FAILED, 1},
        {"a FIFO as registry.reg.tmp", [](const HostDevice& d) { Fifo(d, "registry.reg.tmp"); },
         Press, ERROR_SUCCESS, 0},
        {"a socket as registry.reg",
         [](const HostDevice& d) {
             fs::remove(d.Root() / "registry.reg");
             const int s = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address = {};
             address.sun_family = AF_UNIX;
             snprintf(address.sun_path, sizeof address.sun_path, "%s",
                      (d.Root() / "registry.reg").c_str());
             ASSERT_EQ(bind(s, (sockaddr*)&address, sizeof address), 0);
             close(s);
         },
         Probe, ERROR_REGISTRY_IO_FAILED, 1},
        {"a device node as registry.reg",
         [](const HostDevice& d) {
             fs::remove(d.Root() / "registry.reg");
             Link(d, "registry.reg", "/dev/null");
         },
         Probe, ERROR_REGISTRY_IO_FAILED, 1},
    };
    RunCases(cases, std::size(cases));
}

// Sets `name` under HKEY_LOCAL_MACHINE\SYSTEM\GWE to `size` bytes.
LONG SetData(const std::wstring& name, size_t size)
{
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", 0, 0, &key);
    if (result != ERROR_SUCCESS)
        return result;
    const std::vector<BYTE> data(size, 0x5A);
    result = RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), DWORD(size));
    RegCloseKey(key);
    return result;
}

int TwoValuesOf7MiB()
{
    const LONG first = SetData(L"Big1", size_t(7) << 20);
    return first != ERROR_SUCCESS ? int(first) : int(SetData(L"Big2", size_t(7) << 20));
}

TEST(DeviceFolderSafety, ARegistryOverTheLimitIsRefusedBeforeItIsReadOrWritten)
{
    auto sparse = [](off_t size) {
        return [size](const HostDevice& d) {
            ASSERT_EQ(truncate((d.Root() / "registry.reg").c_str(), size), 0);
        };
    };
    const size_t limit = host::reg::kMostFileBytes;
    const Case cases[] = {
        {"a link to /dev/zero",
         [](const HostDevice& d) {
             fs::remove(d.Root() / "registry.reg");
             Link(d, "registry.reg", "/dev/zero");
         },
         Probe, ERROR_REGISTRY_IO_FAILED, 1, true},
        {"a sparse file of 8 GiB", sparse(off_t(8) << 30), Probe, ERROR_REGISTRY_IO_FAILED, 1, true},
        {"a sparse file one byte over", sparse(off_t(limit) + 1), Press, ERROR_REGISTRY_IO_FAILED, 1, true},
        // What the registry writes, it can read back.
        {"two values of 7 MiB, past the 4 KB a value holds", [](const HostDevice&) {}, TwoValuesOf7MiB,
         ERROR_INVALID_PARAMETER, 0, true},
    };
    RunCases(cases, std::size(cases));
}

// The call at the limit goes through and what it writes reads back; the
// call one past it fails and leaves the file as it was. The exit status
// says which failed: the call past the limit's result, or 200 (the call at
// the limit failed) or 201 (the file changed).
template <LONG (*Call)(size_t), size_t kLimit>
int AtAndPast()
{
    if (Call(kLimit) != ERROR_SUCCESS || Probe() != ERROR_SUCCESS)
        return 200;
    const std::string before = ReadRegistryFile();
    const LONG past = Call(kLimit + 1);
    return ReadRegistryFile() == before ? int(past) : 201;
}

LONG KeyOfName(size_t chars)
{
    HKEY key;
    const std::wstring name = L"SYSTEM\\" + std::wstring(chars, L'k');
    const LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, NULL, 0, 0, NULL, &key, NULL);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

LONG KeyOfDepth(size_t levels)
{
    std::wstring path = L"L1";
    for (size_t level = 2; level <= levels; ++level)
        path += L"\\L" + std::to_wstring(level);
    HKEY key;
    const LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, 0, NULL, &key, NULL);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

LONG ValueOfName(size_t chars)
{
    return SetData(std::wstring(chars, L'v'), 4);
}

LONG ValueOfSize(size_t bytes)
{
    return SetData(L"Data", bytes);
}

// An ARM program's six calls, each going 2,700 levels below the key the one
// before made: 16,200 levels, with a path that grows at every call.
int SixDeepCreates()
{
    std::wstring levels = L"k";
    for (int i = 1; i < 2700; ++i)
        levels += L"\\k";
    HKEY key = HKEY_CURRENT_USER;
    for (int call = 0; call < 6; ++call) {
        HKEY below;
        const std::wstring path = call ? levels : L"Software\\" + levels;
        const LONG result = RegCreateKeyExW(key, path.c_str(), 0, NULL, 0, 0, NULL, &below, NULL);
        if (key != HKEY_CURRENT_USER)
            RegCloseKey(key);
        if (result != ERROR_SUCCESS)
            return int(result);
        key = below;
    }
    RegCloseKey(key);
    return 0;
}

// A call past the handheld's limits fails and changes nothing.
TEST(DeviceFolderSafety, TheHandheldsLimitsAreKeptByEveryCall)
{
    using host::reg::kMostDataBytes;
    using host::reg::kMostKeyDepth;
    using host::reg::kMostNameChars;
    auto nothing = [](const HostDevice&) {};
    const Case cases[] = {
        {"a key name of 256 characters", nothing, AtAndPast<KeyOfName, kMostNameChars>, ERROR_INVALID_PARAMETER, 0},
        {"a key 17 levels deep", nothing, AtAndPast<KeyOfDepth, kMostKeyDepth>, ERROR_INVALID_PARAMETER, 0},
        {"a value name of 256 characters", nothing, AtAndPast<ValueOfName, kMostNameChars>, ERROR_INVALID_PARAMETER, 0},
        {"a value of 4 KB and one byte", nothing, AtAndPast<ValueOfSize, kMostDataBytes>, ERROR_INVALID_PARAMETER, 0},
        {"six creates 16,200 levels deep", nothing, SixDeepCreates, ERROR_INVALID_PARAMETER, 0, true},
    };
    RunCases(cases, std::size(cases));
}

TEST(DeviceFolderSafety, SetUpFinishesWhatIsMissingAndRefusesWhatIsInTheWay)
{
    const struct {
        const char* what;
        std::function<void(const HostDevice&)> plant;
        const char* panel;  // where the control panel must be after; null: nowhere
        size_t lines;
    } cases[] = {
        {"killed before the panel went into Windows",
         [](const HostDevice& d) { fs::remove(d.Root() / "Windows/ctlpnl.exe"); }, "Windows/ctlpnl.exe", 0},
        {"killed while the panel was copied",
         [](const HostDevice& d) {
             fs::rename(d.Root() / "Windows/ctlpnl.exe", d.Root() / "Windows/ctlpnl.exe.tmp");
         },
         "Windows/ctlpnl.exe", 0},
        {"windows in another case",
         [](const HostDevice& d) { fs::rename(d.Root() / "Windows", d.Root() / "windows"); },
         "windows/ctlpnl.exe", 0},
        {"no registry.reg", [](const HostDevice& d) { fs::remove(d.Root() / "registry.reg"); },
         "Windows/ctlpnl.exe", 0},
        {"a file where windows belongs",
         [](const HostDevice& d) {
             fs::remove_all(d.Root() / "Windows");
             d.Write("WINDOWS", "a file");
         },
         nullptr, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostDevice device;
        device.Write("registry.reg", kFullDevice);
        device.Write("Windows/ctlpnl.exe", "#!/bin/sh\n", 0755);
        c.plant(device);
        const Outcome outcome = InChild(SetUpDevice);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(LineCount(outcome.said), c.lines) << outcome.said;
        EXPECT_TRUE(fs::is_regular_file(device.Root() / "registry.reg"));
        if (c.panel) {
            EXPECT_EQ(access((device.Root() / c.panel).c_str(), X_OK), 0);
        }
        std::vector<std::string> names;
        for (const auto& item : fs::recursive_directory_iterator(device.Root()))
            names.push_back(item.path().filename().string());
        for (const std::string& name : names)
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
        EXPECT_EQ(names.size(), c.panel ? 3u : 2u);
    }
}

TEST(DeviceFolderSafety, ASaveKeepsTheModeOfTheFileItReplaces)
{
    HostDevice device;
    device.Write("registry.reg", kFullDevice, 0600);
    ASSERT_EQ(Press(), ERROR_SUCCESS);
    struct stat info;
    ASSERT_EQ(stat((device.Root() / "registry.reg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_NE(ReadRegistryFile(), kFullDevice);
}

}  // namespace
