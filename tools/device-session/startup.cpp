#include "startup.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <windows.h>

#include "children.h"
#include "device/device.h"
#include "terminal/hold.h"
#include "install.h"
#include "process/programs.h"
#include "status.h"
#include "text.h"

namespace session {
namespace {

constexpr const char* kLauncherName = "Tarquell.exe";
// What the cabinet puts in the start-up folder in its place.
constexpr const char* kLauncherShortcut = "Tarquell.lnk";
constexpr const char* kStartUpFolder = "StartUp";  // in \Windows

// A start-up program and what it opens get this long to finish.
constexpr int kStartUpLimitMs = 10000;

// The start-up folder, never reached through a link; `create` makes what is
// missing of it.
host::DeviceFolder StartUpFolder(bool create, bool* existed, std::string& problem)
{
    const host::DeviceFolder files = host::DeviceFolder::Files(problem);
    const host::DeviceFolder windows = files.ok() ? files.Sub(host::kWindowsFolder, create, problem)
                                                  : host::DeviceFolder();
    if (!windows.ok())
        return {};
    if (existed)
        windows.Find(kStartUpFolder, existed);
    return windows.Sub(kStartUpFolder, create, problem);
}

// Why the entry `name` of the start-up folder is no program to run, or "".
std::string NotAProgram(const host::DeviceFolder& folder, const std::string& name)
{
    struct stat info;
    if (fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return strerror(errno);
    if (!S_ISREG(info.st_mode))
        return std::string(host::KindOf(info.st_mode)) + ", not a program";
    return "";
}

// Whether `name` in the folder `at` is a Windows executable (MZ), such as
// the handheld's own programs; never through a link.
bool IsWindowsProgram(int at, const std::string& name)
{
    const int fd = openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    char magic[2] = {};
    const bool pe = fd >= 0 && read(fd, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    if (fd >= 0)
        close(fd);
    return pe;
}

// With --arm, a CE executable runs on the emulated StrongARM.
bool Emulated(const host::DeviceFolder& folder, const std::string& name)
{
    return Emulating() && IsWindowsProgram(folder.fd(), name);
}

// One line of the start-up run. What it names (an entry, where a shortcut
// leads, what a program started) is the device's, shown printable.
void Tell(const std::string& line)
{
    printf("%s\n", host::text::Printable(line).c_str());
}

void RunOne(const host::DeviceFolder& entries, const std::string& entry)
{
    std::string devicePath = std::string(kStartUpDevicePath) + "\\" + entry;
    const std::string shown = devicePath;
    // A shortcut starts what it leads to, as the shell does.
    host::DeviceFolder linked;
    const host::DeviceFolder* folder = &entries;
    std::string name = entry, why, leadsTo;
    cab::DevicePath target;
    if (IsShortcut(entry)) {
        if (!FollowShortcut(entries, entry, linked, name, target, why)) {
            Tell("Skipped " + shown + ": " + why + ".");
            return;
        }
        folder = &linked;
        devicePath = cab::Joined(target);
        leadsTo = ", which starts " + devicePath;
    }
    if (const std::string notOne = NotAProgram(*folder, name); !notOne.empty()) {
        Tell("Skipped " + shown + leadsTo + ": " + notOne + ".");
        return;
    }
    std::wstring application = host::text::WideFromUtf8(devicePath);
    if (!Emulated(*folder, name) && host::CheckProgram(application) == ERROR_BAD_EXE_FORMAT) {
        Tell("Skipped " + shown + leadsTo + ": not a handheld program, not run (error 193).");
        return;
    }
    Tell("Starting " + shown + leadsTo);
    fflush(stdout);

    // What an earlier program left running is not waited for again.
    const std::set<pid_t> earlier = Children();
    // The program may open a dialog; the session's next line waits for it.
    host::LetGoTerminal();
    PROCESS_INFORMATION process = {};
    if (Emulated(*folder, name)) {
        // A handheld program: the shell's start, on the emulated StrongARM.
        const pid_t pid = StartEmulated(folder->fd(), name);
        if (pid < 0) {
            host::HoldTerminal();
            Tell("Could not start " + shown + ": " + strerror(errno) + ".");
            return;
        }
        process.dwProcessId = DWORD(pid);
    } else if (!CreateProcessW(application.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, nullptr, &process)) {
        host::HoldTerminal();
        Tell("Could not start " + shown + " (error " + std::to_string(GetLastError()) + ").");
        return;
    }
    const Settled settled = WaitForAll(pid_t(process.dwProcessId), earlier, kStartUpLimitMs);
    host::HoldTerminal();
    fflush(stdout);
    // A handheld program that stopped at the restart it asked for did not fail.
    const bool restart = settled.started && Emulated(*folder, name) && WIFEXITED(settled.status) &&
                         WEXITSTATUS(settled.status) == armemu::kResetStatus;
    Tell(DescribeSettled(name, settled, kStartUpLimitMs, restart) + ".");
}

}  // namespace

bool InstallStartUp(const std::string& tarquell, bool renew, std::string& problem)
{
    const host::DeviceFolder root = host::DeviceFolder::Root(problem);
    const host::DeviceLock lock(root, problem);
    if (!root.ok() || !lock.ok())
        return false;
    bool present;
    const host::DeviceFolder folder = StartUpFolder(true, &present, problem);
    if (!folder.ok())
        return false;
    // The shortcut an --arm session installed leads to the handheld's
    // launcher, which this session can't run: this session's own takes its
    // place.
    const bool installed = unlinkat(folder.fd(), folder.Find(kLauncherShortcut).c_str(), 0) == 0;
    const std::string name = folder.Find(kLauncherName);
    // The device's copy only marks the launcher's place: the build's runs
    // there, and the copy is renewed when it differs.
    if (present && !renew && !installed)
        return host::Renew(folder, name, tarquell, problem);
    return folder.Install(tarquell, name, problem);
}

bool InstallFromCabinet(const std::string& cab, Changed& changed, std::string& warning, std::string& problem)
{
    if (!InstallCabinet(cab, changed, warning, problem))
        return false;
    // The launcher a session of the host's programs copied in is not the
    // handheld's: the cabinet's shortcut starts that.
    const host::DeviceFolder folder = StartUpFolder(false, nullptr, problem);
    if (folder.ok())
        unlinkat(folder.fd(), folder.Find(kLauncherName).c_str(), 0);
    return true;
}

std::vector<std::string> StartUpNames()
{
    std::vector<std::string> names;
    std::string problem;
    const host::DeviceFolder folder = StartUpFolder(false, nullptr, problem);
    const int listed = folder.ok() ? dup(folder.fd()) : -1;
    if (DIR* listing = listed >= 0 ? fdopendir(listed) : nullptr) {
        while (dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            // Hidden host files, and copies in progress or left by a crash,
            // are not the device's programs.
            const size_t suffix = sizeof host::kWritingSuffix - 1;
            const bool writing = name.size() > suffix &&
                                 name.compare(name.size() - suffix, suffix, host::kWritingSuffix) == 0;
            if (name[0] != '.' && !writing)
                names.push_back(name);
        }
        closedir(listing);
    } else if (listed >= 0) {
        close(listed);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int order = host::text::CompareNames(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

std::string RunStartUp(const std::function<bool()>& restartAsked)
{
    const std::vector<std::string> names = StartUpNames();
    if (names.empty()) {
        printf("There are no start-up programs in %s.\n", kStartUpDevicePath);
        return "";
    }
    std::string problem;
    const host::DeviceFolder folder = StartUpFolder(false, nullptr, problem);
    if (!folder.ok()) {
        Tell("The start-up folder can't be opened: " + problem + ".");
        return "";
    }
    for (const std::string& name : names) {
        RunOne(folder, name);
        if (restartAsked())
            return std::string(kStartUpDevicePath) + "\\" + name;
    }
    return "";
}

}  // namespace session
