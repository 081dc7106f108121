// Whatever a device folder holds: links planted where the platform writes,
// FIFOs, sockets and device nodes where it reads or writes, a registry.reg
// of any size, a set-up left half-made. Each case runs in a child process
// that may not take long (a hang is a failure, not a stuck test run), and
// nothing outside the device folder may change.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "device.h"
#include "device_files.h"
#include "host_device.h"
#include "registry/helpers.h"
#include "registry_store.h"

namespace {

namespace fs = std::filesystem;

// `action` in a child that may take 5 seconds and 1 GiB: its result, or
// minus the signal that ended it, and what it said on stderr.
ChildRun InChild(int (*action)())
{
    return RunChild(
        [action] {
#ifndef __SANITIZE_ADDRESS__
            const rlimit memory = {1u << 30, 1u << 30};
            setrlimit(RLIMIT_AS, &memory);
#endif
            return action();
        },
        Said::Errors, 5);
}

int Press()  // "Animate" = 1, as a button writes it
{
    return int(SetIn(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate", Dword(1)));
}

int Probe()
{
    return int(OpenKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE"));
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
            all += FileBytes(item.path());
    }
    return all;
}

using Plant = std::function<void(const HostDevice&)>;

struct Case {
    const char* what;
    Plant plant;
    int (*action)();
    int result;
    size_t lines;       // on stderr
    bool kept = false;  // registry.reg is left as planted
    // What the line said begins with, the device folder's path at "@".
    const char* said = nullptr;
};

mode_t ModeOf(const fs::path& path)
{
    struct stat info = {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// registry.reg as it stands: the file or link itself, not what it names.
std::string Stamp(const HostDevice& device)
{
    struct stat info = {};
    lstat((device.Root() / "registry.reg").c_str(), &info);
    return std::to_string(info.st_ino) + " " + std::to_string(info.st_size) + " " +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

// Each case on a device with a registry and a control panel, and a file
// outside it that links may name. A press that goes through writes its
// value into a file of the mode the old one had.
void RunCases(const Case* cases, size_t count,
              const std::function<void(const HostDevice&, const Case&)>& check = {})
{
    for (size_t i = 0; i < count; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        HostDevice device;
        device.Write("registry.reg", kFullDevice);
        device.Write("Windows/ctlpnl.exe", "#!/bin/sh\n", 0755);
        fs::create_directory(device.Root() / "emulator:");
        fs::create_directory(device.Outside() / "elsewhere");
        std::ofstream(device.Outside() / "elsewhere/target") << "not the device's";
        c.plant(device);
        const std::string before = Snapshot(device.Outside(), device.Root());
        const std::string registry = Stamp(device);
        const mode_t mode = ModeOf(device.Root() / "registry.reg");

        const ChildRun run = InChild(c.action);
        EXPECT_EQ(run.status, c.result & 0xff) << run.output;  // as an exit status
        EXPECT_EQ(LineCount(run.output), c.lines) << run.output;
        EXPECT_EQ(Snapshot(device.Outside(), device.Root()), before);
        if (c.kept) {
            EXPECT_EQ(Stamp(device), registry);
        }
        if (c.action == Press && c.result == ERROR_SUCCESS) {
            EXPECT_EQ(device.Read("registry.reg"), kAnimateOn);
            EXPECT_EQ(ModeOf(device.Root() / "registry.reg"), mode);
        }
        if (c.said) {
            EXPECT_EQ(run.output.rfind("ce-device: " + Swapped(c.said, "@", device.Root()), 0), 0u)
                << run.output;
        }
        if (check)
            check(device, c);
    }
}

// `name` in the device made a link to `to`, outside it unless absolute;
// what stood there goes.
Plant LinkAs(const char* name, const std::string& to)
{
    return [=](const HostDevice& d) {
        fs::remove_all(d.At(name));
        fs::create_symlink(to[0] == '/' ? fs::path(to) : d.Outside() / to, d.At(name));
    };
}

const Plant kNothing = [](const HostDevice&) {};

Plant Remove(const char* name)
{
    return [=](const HostDevice& d) { fs::remove_all(d.At(name)); };
}

// Both plants, one after the other.
Plant operator+(Plant first, Plant second)
{
    return [=](const HostDevice& d) {
        first(d);
        second(d);
    };
}

Plant WriteAs(const char* name, const std::string& bytes, mode_t mode = 0644)
{
    return [=](const HostDevice& d) { d.Write(name, bytes, mode); };
}

TEST(DeviceFolderSafety, PlantedLinksAndLeftoversAreNeverWrittenThrough)
{
    const Case cases[] = {
        {"registry.reg.tmp to a file outside", LinkAs("registry.reg.tmp", "elsewhere/target"), Press, 0, 0},
        {"registry.reg.tmp dangling, to a name outside", LinkAs("registry.reg.tmp", "elsewhere/new"), Press, 0, 0},
        {"registry.reg to a registry outside, read and replaced by a file",
         [](const HostDevice& d) { std::ofstream(d.Outside() / "elsewhere/registry.reg") << kFullDevice; } +
             LinkAs("registry.reg", "elsewhere/registry.reg"),
         Press, ERROR_SUCCESS, 0},
        {"Windows/ctlpnl.exe.tmp to a file outside, the panel missing",
         Remove("Windows/ctlpnl.exe") + LinkAs("Windows/ctlpnl.exe.tmp", "elsewhere/target"), SetUpDevice, 0, 0},
        {"Windows to a folder outside", LinkAs("Windows", "elsewhere"), SetUpDevice, 0, 1},
        {"registry.reg.tmp left over, larger than the registry",
         WriteAs("registry.reg.tmp", std::string(1 << 20, 'x')), Press, 0, 0},
        {"registry.reg its owner's alone", WriteAs("registry.reg", kFullDevice, 0600), Press, 0, 0},
    };
    RunCases(cases, std::size(cases), [](const HostDevice& device, const Case&) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(device.Root() / "registry.reg")));
        // Written through the private area: a name planted beside the file
        // is nobody's, left as it was.
        EXPECT_EQ(FolderEntries(device.Root() / "emulator:"), std::vector<std::string>{});
    });
}

Plant Fifo(const char* name)
{
    return [=](const HostDevice& d) {
        fs::remove(d.At(name));
        ASSERT_EQ(mkfifo(d.At(name).c_str(), 0644), 0);
    };
}

TEST(DeviceFolderSafety, SpecialFilesAreToldAtOnceAndNeverWaitedOn)
{
    const Case cases[] = {
        {"a FIFO as registry.reg, probed", Fifo("registry.reg"), Probe, ERROR_REGISTRY_IO_FAILED, 1},
        {"a FIFO as registry.reg, pressed", Fifo("registry.reg"), Press, ERROR_REGISTRY_IO_FAILED, 1},
        {"a FIFO as registry.reg.tmp", Fifo("registry.reg.tmp"), Press, ERROR_SUCCESS, 0},
        // No name the device can hold stops a later write.
        {"a folder as registry.reg.tmp",
         [](const HostDevice& d) { fs::create_directory(d.Root() / "registry.reg.tmp"); }, Press, ERROR_SUCCESS, 0},
        {"a folder as \\Windows\\ctlpnl.exe.tmp, the panel missing",
         Remove("Windows/ctlpnl.exe") + [](const HostDevice& d) { fs::create_directory(d.At("Windows/ctlpnl.exe.tmp")); },
         SetUpDevice, 0, 0},
        {"a socket as registry.reg",
         [](const HostDevice& d) {
             fs::remove(d.Root() / "registry.reg");
             const int s = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address = {};
             address.sun_family = AF_UNIX;
             snprintf(address.sun_path, sizeof address.sun_path, "%s", (d.Root() / "registry.reg").c_str());
             ASSERT_EQ(bind(s, (sockaddr*)&address, sizeof address), 0);
             close(s);
         },
         Probe, ERROR_REGISTRY_IO_FAILED, 1},
        {"a device node as registry.reg", LinkAs("registry.reg", "/dev/null"), Probe, ERROR_REGISTRY_IO_FAILED, 1},
    };
    RunCases(cases, std::size(cases));
}

// Sets `name` under HKEY_LOCAL_MACHINE\SYSTEM\GWE to `size` bytes.
LONG SetData(const std::wstring& name, size_t size)
{
    return SetIn(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", name.c_str(), Value(REG_BINARY, std::vector<BYTE>(size, 0x5A)));
}

int TwoValuesOf7MiB()
{
    const LONG first = SetData(L"Big1", size_t(7) << 20);
    return first != ERROR_SUCCESS ? int(first) : int(SetData(L"Big2", size_t(7) << 20));
}

TEST(DeviceFolderSafety, ARegistryOverTheLimitIsRefusedBeforeItIsReadOrWritten)
{
    auto sparse = [](off_t size) {
        return [size](const HostDevice& d) { ASSERT_EQ(truncate((d.Root() / "registry.reg").c_str(), size), 0); };
    };
    const size_t limit = host::reg::kMostFileBytes;
    const Case cases[] = {
        {"a link to /dev/zero", LinkAs("registry.reg", "/dev/zero"), Probe, ERROR_REGISTRY_IO_FAILED, 1, true},
        {"a sparse file of 8 GiB", sparse(off_t(8) << 30), Probe, ERROR_REGISTRY_IO_FAILED, 1, true},
        {"a sparse file one byte over", sparse(off_t(limit) + 1), Press, ERROR_REGISTRY_IO_FAILED, 1, true},
        // What the registry writes, it can read back.
        {"two values of 7 MiB, past the 4 KB a value holds", kNothing, TwoValuesOf7MiB,
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
    return CreateKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\" + std::wstring(chars, L'k'));
}

LONG KeyOfDepth(size_t levels)
{
    std::wstring path = L"L1";
    for (size_t level = 2; level <= levels; ++level)
        path += L"\\L" + std::to_wstring(level);
    return CreateKey(HKEY_CURRENT_USER, path);
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
    const Plant& nothing = kNothing;
    const Case cases[] = {
        {"a key name of 256 characters", nothing, AtAndPast<KeyOfName, kMostNameChars>, ERROR_INVALID_PARAMETER, 0},
        {"a key 17 levels deep", nothing, AtAndPast<KeyOfDepth, kMostKeyDepth>, ERROR_INVALID_PARAMETER, 0},
        {"a value name of 256 characters", nothing, AtAndPast<ValueOfName, kMostNameChars>, ERROR_INVALID_PARAMETER, 0},
        {"a value of 4 KB and one byte", nothing, AtAndPast<ValueOfSize, kMostDataBytes>, ERROR_INVALID_PARAMETER, 0},
        {"six creates 16,200 levels deep", nothing, SixDeepCreates, ERROR_INVALID_PARAMETER, 0, true},
    };
    RunCases(cases, std::size(cases));
}

// The set-up ends well; where it could finish, the control panel is in the
// device's Windows folder, whatever that folder's case, and nothing else is
// left; where a file is in the way, it says so once.
TEST(DeviceFolderSafety, SetUpFinishesWhatIsMissingAndRefusesWhatIsInTheWay)
{
    const Case cases[] = {
        {"killed before the panel went into Windows", Remove("Windows/ctlpnl.exe"), SetUpDevice, 0, 0},
        {"killed while the panel was copied",
         [](const HostDevice& d) {
             fs::rename(d.Files() / "Windows/ctlpnl.exe", d.Root() / "emulator:/999999999.0.tmp");
         },
         SetUpDevice, 0, 0},
        {"windows in another case",
         [](const HostDevice& d) { fs::rename(d.Files() / "Windows", d.Files() / "windows"); }, SetUpDevice, 0, 0},
        {"no registry.reg", Remove("registry.reg"), SetUpDevice, 0, 0},
        {"a file where windows belongs",
         Remove("Windows") + [](const HostDevice& d) { d.Write("WINDOWS", "a file"); }, SetUpDevice, 0, 1},
    };
    RunCases(cases, std::size(cases), [](const HostDevice& device, const Case& c) {
        const std::string windows = fs::exists(device.Files() / "windows") ? "windows" : "Windows";
        std::vector<std::string> expected = {"WINDOWS"};
        if (c.lines == 0) {
            expected = {windows, windows + "/ctlpnl.exe"};
            // Data on the host, never runnable: the build's runs in its place.
            EXPECT_NE(access((device.Files() / windows / "ctlpnl.exe").c_str(), X_OK), 0);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FolderEntries(device.Files()), expected);
        EXPECT_EQ(FolderEntries(device.Root() / "emulator:"), std::vector<std::string>{});
        EXPECT_TRUE(fs::is_regular_file(device.Root() / "registry.reg"));
    });
}

// A device of the earlier layout (its files beside registry.reg) moves into
// the device's own folder at its first start, and so does one whose move a
// crash stopped half-way; nothing is lost, the emulator's own files stay.
TEST(DeviceFolderSafety, AnEarlierLayoutMovesOnceAndLosesNothing)
{
    const struct {
        const char* what;
        bool halfWay;
    } cases[] = {{"earlier layout", false}, {"a move stopped half-way", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostDevice device;
        fs::create_directories(device.Root() / "Windows/StartUp");
        std::ofstream(device.Root() / "registry.reg") << kFullDevice;
        std::ofstream(device.Root() / "restart-requested") << "warm\n";
        std::ofstream(device.Root() / "Windows/StartUp/Tarquell.exe") << "the launcher";
        fs::create_directories(device.Root() / "Program Files/App");
        std::ofstream(device.Root() / "Program Files/App/app.exe") << "an app";
        if (c.halfWay) {
            fs::create_directories(device.Root() / "emulator:/moving");
            fs::rename(device.Root() / "Program Files", device.Root() / "emulator:/moving/Program Files");
        }
        EXPECT_EQ(InChild(SetUpDevice).status, 0);
        EXPECT_EQ(FileBytes(device.Root() / "registry.reg"), kFullDevice);
        EXPECT_EQ(device.Read("restart-requested"), "warm\n");
        EXPECT_EQ(device.Read("Windows/StartUp/Tarquell.exe"), "the launcher");
        EXPECT_EQ(device.Read("Program Files/App/app.exe"), "an app");
        EXPECT_EQ(FolderEntries(device.Root() / "emulator:"), std::vector<std::string>{});
        std::vector<std::string> top;
        for (const auto& entry : fs::directory_iterator(device.Root()))
            top.push_back(entry.path().filename());
        std::sort(top.begin(), top.end());
        EXPECT_EQ(top, (std::vector<std::string>{"device:", "emulator:", "registry.reg", "restart-requested"}));
    }
}

}  // namespace
