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
    size_t lines;  // on stderr
};

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

        const Outcome outcome = InChild(c.action);
        EXPECT_EQ(outcome.result, c.result & 0xff) << outcome.said;  // as an exit status
        EXPECT_EQ(LineCount(outcome.said), c.lines) << outcome.said;
        EXPECT_EQ(Snapshot(device.Outside(), device.Root()), before);
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

TEST(DeviceFolderSafety, ARegistryOverTheLimitIsRefusedBeforeItIsRead)
{
    auto sparse = [](off_t size) {
        return [size](const HostDevice& d) {
            ASSERT_EQ(truncate((d.Root() / "registry.reg").c_str(), size), 0);
        };
    };
    const Case cases[] = {
        {"a link to /dev/zero",
         [](const HostDevice& d) {
             fs::remove(d.Root() / "registry.reg");
             Link(d, "registry.reg", "/dev/zero");
         },
         Probe, ERROR_REGISTRY_IO_FAILED, 1},
        {"a sparse file of 8 GiB", sparse(off_t(8) << 30), Probe, ERROR_REGISTRY_IO_FAILED, 1},
        {"a sparse file one byte over", sparse(off_t(host::reg::kMostFileBytes) + 1), Press,
         ERROR_REGISTRY_IO_FAILED, 1},
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
