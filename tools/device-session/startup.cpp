#include "startup.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <windows.h>

#include "children.h"
#include "device.h"
#include "regfile.h"

namespace session {
namespace {

constexpr const char* kLauncherName = "Tarquell.exe";

// A start-up program and what it opens get this long to finish.
constexpr int kStartUpLimitMs = 10000;

// The entry of `dir` called `name` without regard to case, as the device's
// file system finds it; `name` itself when there is none.
std::string Entry(const std::string& dir, const std::string& name, bool* found = nullptr)
{
    std::string entryName = name;
    bool any = false;
    if (DIR* listing = opendir(dir.c_str())) {
        while (dirent* entry = readdir(listing)) {
            if (strcasecmp(entry->d_name, name.c_str()) == 0) {
                entryName = entry->d_name;
                any = true;
                break;
            }
        }
        closedir(listing);
    }
    if (found)
        *found = any;
    return dir + "/" + entryName;
}

std::string Folder(bool* found = nullptr)
{
    return Entry(Entry(host::DeviceRoot(), "Windows"), "StartUp", found);
}

bool Copy(const std::string& from, const std::string& to, std::string& problem)
{
    // A dot first: the start-up list passes over it while it is written.
    const size_t slash = to.rfind('/') + 1;
    const std::string temp = to.substr(0, slash) + "." + to.substr(slash) + "." + std::to_string(getpid());
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        problem = "cannot read " + from + ": " + strerror(errno);
        return false;
    }
    const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    bool ok = out >= 0;
    char buffer[65536];
    ssize_t n = 0;
    while (ok && (n = read(in, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0 && write(out, buffer, size_t(n)) == n;
    }
    const int error = errno;
    close(in);
    if (out >= 0 && close(out) != 0)
        ok = false;
    if (ok && rename(temp.c_str(), to.c_str()) == 0)
        return true;
    problem = "cannot install " + to + ": " + strerror(ok ? errno : error);
    unlink(temp.c_str());
    return false;
}

bool IsProgram(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

void RunOne(const std::string& folder, const std::string& name)
{
    const std::string devicePath = std::string(kStartUpDevicePath) + "\\" + name;
    if (!IsProgram(folder + "/" + name)) {
        printf("Skipped %s: not a program.\n", devicePath.c_str());
        return;
    }
    printf("Starting %s\n", devicePath.c_str());
    fflush(stdout);

    // What an earlier program left running is not waited for again.
    const std::set<pid_t> earlier = Children();
    std::wstring application = host::reg::WideFromUtf8(devicePath);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(application.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, nullptr, &process)) {
        printf("Could not start %s (error %u).\n", devicePath.c_str(), unsigned(GetLastError()));
        return;
    }
    const Settled settled = WaitForAll(pid_t(process.dwProcessId), earlier, kStartUpLimitMs);
    fflush(stdout);

    std::string outcome = name;
    if (!settled.started)
        outcome += " is still running";
    else if (!WIFEXITED(settled.status) || WEXITSTATUS(settled.status) != 0)
        outcome += " ended with " + DescribeStatus(settled.status);
    else
        outcome += " ended";
    if (settled.others.empty()) {
        outcome += "; it opened nothing";
    } else {
        outcome += "; it opened ";
        for (size_t i = 0; i < settled.others.size(); ++i)
            outcome += (i ? ", " : "") + settled.others[i];
    }
    if (settled.timedOut)
        outcome += "; something it started is still running after " +
                   std::to_string(kStartUpLimitMs / 1000) + " s, and the device goes on";
    printf("%s.\n", outcome.c_str());
}

}  // namespace

bool InstallStartUp(const std::string& tarquell, bool renew, std::string& problem)
{
    bool present;
    const std::string windows = Entry(host::DeviceRoot(), "Windows", &present);
    if (!present && mkdir(windows.c_str(), 0755) != 0 && errno != EEXIST) {
        problem = "cannot create " + windows + ": " + strerror(errno);
        return false;
    }
    const std::string folder = Entry(windows, "StartUp", &present);
    if (present && !renew)
        return true;
    if (!present && mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        problem = "cannot create " + folder + ": " + strerror(errno);
        return false;
    }
    return Copy(tarquell, Entry(folder, kLauncherName), problem);
}

std::vector<std::string> StartUpNames()
{
    std::vector<std::string> names;
    if (DIR* listing = opendir(Folder().c_str())) {
        while (dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            // Hidden host files, our copies in progress among them, are not
            // the device's.
            if (name[0] != '.')
                names.push_back(name);
        }
        closedir(listing);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int order = strcasecmp(a.c_str(), b.c_str());
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

void RunStartUp()
{
    const std::vector<std::string> names = StartUpNames();
    if (names.empty()) {
        printf("There are no start-up programs in %s.\n", kStartUpDevicePath);
        return;
    }
    const std::string folder = Folder();
    for (const std::string& name : names)
        RunOne(folder, name);
}

}  // namespace session
