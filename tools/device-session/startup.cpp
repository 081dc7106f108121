#include "startup.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <windows.h>

#include "children.h"
#include "device.h"
#include "text.h"

namespace session {
namespace {

constexpr const char* kLauncherName = "Tarquell.exe";

// A start-up program and what it opens get this long to finish.
constexpr int kStartUpLimitMs = 10000;

// The entry of `dir` called `name` without regard to case, as the device's
// file system finds it; `name` itself when there is none.
std::string FindEntry(int dir, const std::string& name, bool* found = nullptr)
{
    std::string entryName = name;
    bool any = false;
    const int listed = dir >= 0 ? dup(dir) : -1;
    if (DIR* listing = listed >= 0 ? fdopendir(listed) : nullptr) {
        while (dirent* entry = readdir(listing)) {
            if (host::text::SameName(entry->d_name, name)) {
                entryName = entry->d_name;
                any = true;
                break;
            }
        }
        closedir(listing);
    } else if (listed >= 0) {
        close(listed);
    }
    if (found)
        *found = any;
    return entryName;
}

const char* KindOf(mode_t mode)
{
    if (S_ISLNK(mode)) return "a link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device node";
    if (S_ISDIR(mode)) return "a folder";
    return "a file";
}

// A folder of the device, open: never reached through a link.
class Folder {
public:
    Folder() = default;
    explicit Folder(const std::string& path) : path_(path)
    {
        fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~Folder()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Folder(Folder&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }
    Folder& operator=(Folder&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        std::swap(path_, other.path_);
        return *this;
    }

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // The subfolder `name` (any case), made when missing and `create` is set;
    // a link or a file where it belongs is refused with `problem`.
    Folder Sub(const std::string& name, bool create, bool* existed, std::string& problem) const
    {
        Folder sub;
        if (fd_ < 0)
            return sub;
        bool present;
        const std::string found = FindEntry(fd_, name, &present);
        sub.path_ = path_ + "/" + found;
        if (existed)
            *existed = present;
        if (!present) {
            if (!create)
                return sub;
            if (mkdirat(fd_, found.c_str(), 0755) != 0 && errno != EEXIST) {
                problem = "cannot create " + sub.path_ + ": " + strerror(errno);
                return sub;
            }
        }
        struct stat info;
        if (fstatat(fd_, found.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            problem = "cannot open " + sub.path_ + ": " + strerror(errno);
            return sub;
        }
        if (!S_ISDIR(info.st_mode)) {
            problem = sub.path_ + " is " + KindOf(info.st_mode) + ", not a folder; the device's " +
                      "start-up folder is not set up through it";
            return sub;
        }
        sub.fd_ = openat(fd_, found.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub.fd_ < 0)
            problem = "cannot open " + sub.path_ + ": " + strerror(errno);
        return sub;
    }

private:
    int fd_ = -1;
    std::string path_;
};

Folder StartUpFolder(std::string& problem)
{
    return Folder(host::DeviceRoot()).Sub("Windows", false, nullptr, problem).Sub("StartUp", false, nullptr, problem);
}

// Copies `from` into `folder` as `name`: a temporary file created exclusively,
// never through a link, then renamed over `name`. A dot first: the start-up
// list passes over it while it is written.
bool Copy(const std::string& from, const Folder& folder, const std::string& name, std::string& problem)
{
    const std::string temp = "." + name + ".tmp";
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        problem = "cannot read " + from + ": " + strerror(errno);
        return false;
    }
    unlinkat(folder.fd(), temp.c_str(), 0);
    const int out = openat(folder.fd(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
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
    if (out >= 0 && (fchmod(out, 0755) != 0 || close(out) != 0))
        ok = false;
    if (ok && renameat(folder.fd(), temp.c_str(), folder.fd(), name.c_str()) == 0)
        return true;
    problem = "cannot install " + folder.path() + "/" + name + ": " + strerror(ok ? errno : error);
    unlinkat(folder.fd(), temp.c_str(), 0);
    return false;
}

// A name as the user reads it: characters that would move the cursor
// (a newline, say) show as '?'.
std::string Printable(std::string name)
{
    for (char& c : name)
        if ((unsigned char)c < 0x20 || c == 0x7F)
            c = '?';
    return name;
}

// Why the entry `name` of the start-up folder is no program to run, or "".
std::string NotAProgram(const Folder& folder, const std::string& name)
{
    struct stat info;
    if (fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return strerror(errno);
    if (!S_ISREG(info.st_mode))
        return std::string(KindOf(info.st_mode)) + ", not a program";
    if (faccessat(folder.fd(), name.c_str(), X_OK, 0) != 0)
        return "not a program";
    return "";
}

// With --arm, a CE executable (MZ) runs on the emulated StrongARM.
bool Emulated(const Folder& folder, const std::string& name)
{
    if (!Emulating())
        return false;
    const int fd = openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    char magic[2] = {};
    const bool pe = fd >= 0 && read(fd, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    if (fd >= 0)
        close(fd);
    return pe;
}

void RunOne(const Folder& folder, const std::string& name)
{
    const std::string devicePath = std::string(kStartUpDevicePath) + "\\" + name;
    const std::string shown = Printable(devicePath);
    if (const std::string why = NotAProgram(folder, name); !why.empty()) {
        printf("Skipped %s: %s.\n", shown.c_str(), why.c_str());
        return;
    }
    printf("Starting %s\n", shown.c_str());
    fflush(stdout);

    // What an earlier program left running is not waited for again.
    const std::set<pid_t> earlier = Children();
    std::wstring application = host::text::WideFromUtf8(devicePath);
    PROCESS_INFORMATION process = {};
    if (Emulated(folder, name)) {
        // A handheld program: the shell's start, on the emulated StrongARM.
        const pid_t pid = StartEmulated(folder.path() + "/" + name);
        if (pid < 0) {
            printf("Could not start %s: %s.\n", shown.c_str(), strerror(errno));
            return;
        }
        process.dwProcessId = DWORD(pid);
    } else if (!CreateProcessW(application.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, nullptr, &process)) {
        printf("Could not start %s (error %u).\n", shown.c_str(), unsigned(GetLastError()));
        return;
    }
    const Settled settled = WaitForAll(pid_t(process.dwProcessId), earlier, kStartUpLimitMs);
    fflush(stdout);

    std::string outcome = Printable(name);
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
            outcome += (i ? ", " : "") + Printable(settled.others[i]);
    }
    if (settled.timedOut)
        outcome += "; something it started is still running after " +
                   std::to_string(kStartUpLimitMs / 1000) + " s, and the device goes on";
    printf("%s.\n", outcome.c_str());
}

}  // namespace

bool InstallStartUp(const std::string& tarquell, bool renew, std::string& problem)
{
    const Folder root(host::DeviceRoot());
    if (!root.ok()) {
        problem = "cannot open the device folder " + root.path() + ": " + strerror(errno);
        return false;
    }
    // The device folder's lock, which every writer of its files holds.
    while (flock(root.fd(), LOCK_EX) != 0 && errno == EINTR) {
    }
    const Folder windows = root.Sub("Windows", true, nullptr, problem);
    if (!windows.ok())
        return false;
    bool present;
    const Folder folder = windows.Sub("StartUp", true, &present, problem);
    if (!folder.ok())
        return false;
    if (present && !renew)
        return true;
    return Copy(tarquell, folder, FindEntry(folder.fd(), kLauncherName), problem);
}

std::vector<std::string> StartUpNames()
{
    std::vector<std::string> names;
    std::string problem;
    const Folder folder = StartUpFolder(problem);
    const int listed = folder.ok() ? dup(folder.fd()) : -1;
    if (DIR* listing = listed >= 0 ? fdopendir(listed) : nullptr) {
        while (dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            // Hidden host files, our copies in progress among them, are not
            // the device's.
            if (name[0] != '.')
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

void RunStartUp()
{
    const std::vector<std::string> names = StartUpNames();
    if (names.empty()) {
        printf("There are no start-up programs in %s.\n", kStartUpDevicePath);
        return;
    }
    std::string problem;
    const Folder folder = StartUpFolder(problem);
    if (!folder.ok()) {
        printf("The start-up folder can't be opened: %s.\n", problem.c_str());
        return;
    }
    for (const std::string& name : names)
        RunOne(folder, name);
}

}  // namespace session
