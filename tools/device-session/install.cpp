#include "install.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace session {
namespace {

// The device: CE 3.0 on a StrongARM.
constexpr uint32_t kArchitectures[] = {0, 2577};  // any, StrongARM
constexpr uint32_t kVersion = 3 * 100 + 0;

constexpr size_t kHeaderLimit = 1 << 20;
constexpr size_t kFilesLimit = 32 << 20;  // all the files together, held at once
constexpr size_t kShortcutLimit = 1024;

// Whether the device takes what the header asks of it; why not otherwise.
std::string Unfit(const cab::Header& header)
{
    bool architecture = false;
    for (const uint32_t each : kArchitectures)
        architecture = architecture || header.architecture == each;
    if (!architecture)
        return "is for processor " + std::to_string(header.architecture) + ", not this StrongARM (2577)";
    const uint32_t min = header.minMajor * 100 + header.minMinor;
    const uint32_t max = header.maxMajor * 100 + header.maxMinor;
    if (kVersion < min || (max && kVersion > max))
        return "is not for Windows CE 3.0";
    if (header.registryKeys)
        return "sets registry values, which this device's installer does not";
    return "";
}

}  // namespace

bool CabinetFile(const std::string& cab, unsigned number, size_t limit, std::string& bytes,
                 std::string& problem)
{
    char pattern[8];
    snprintf(pattern, sizeof pattern, "*.%03u", number % 1000);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        problem = std::string("cannot read the cabinet: ") + strerror(errno);
        return false;
    }
    // One cabinet alone (-s: never the others of a set beside it), the file
    // to the pipe, and nothing else said.
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execlp("cabextract", "cabextract", "-q", "-s", "-p", "-F", pattern, cab.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    bytes.clear();
    char buffer[65536];
    ssize_t n = 0;
    while (pid > 0 && bytes.size() <= limit && ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
        bytes.append(buffer, size_t(n > 0 ? n : 0));
    close(out[0]);
    int status = -1;
    if (pid > 0) {
        if (bytes.size() > limit)
            kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    const std::string file = "its file " + std::string(pattern + 1);
    if (pid < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 127))
        problem = "cannot run cabextract (scripts/setup.sh installs it)";
    else if (bytes.size() > limit)
        problem = file + " is too large (over the " + std::to_string(limit >> 10) + " KiB left to it)";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        problem = "cabextract cannot read it";
    else if (bytes.empty())
        problem = "it has no " + file.substr(4);
    else
        return true;
    problem = cab + ": " + problem;
    return false;
}

host::DeviceFolder DeviceFolderAt(const cab::DevicePath& path, bool create, std::string& problem)
{
    host::DeviceFolder folder = host::DeviceFolder::Files(problem);
    for (size_t i = 0; i < path.size() && folder.ok(); ++i)
        folder = folder.Sub(path[i], create, problem);
    return folder;
}

bool InstallCabinet(const std::string& cab, std::string& problem)
{
    // Everything is read and checked before the first write.
    std::string bytes;
    if (!CabinetFile(cab, 0, kHeaderLimit, bytes, problem))
        return false;
    const std::optional<cab::Header> header = cab::ReadHeader(bytes, problem);
    if (header && !(problem = Unfit(*header)).empty())
        problem = "the cabinet " + problem;
    if (!header || !problem.empty()) {
        problem = cab + ": " + problem;
        return false;
    }
    std::vector<std::string> contents(header->files.size());
    size_t left = kFilesLimit;
    for (size_t i = 0; i < contents.size(); left -= contents[i++].size())
        if (!CabinetFile(cab, header->files[i].number, left, contents[i], problem))
            return false;

    const host::DeviceFolder root = host::DeviceFolder::Root(problem);
    const host::DeviceLock lock(root, problem);
    if (!root.ok() || !lock.ok())
        return false;
    for (size_t i = 0; i < contents.size(); ++i) {
        const cab::Header::File& file = header->files[i];
        const host::DeviceFolder folder = DeviceFolderAt(file.folder, true, problem);
        if (!folder.ok() ||
            !host::WriteWhole(folder, folder.Find(file.name), contents[i], 0755, false, problem))
            return false;
    }
    for (const cab::Header::Link& link : header->links) {
        const host::DeviceFolder folder = DeviceFolderAt(link.folder, true, problem);
        if (!folder.ok() || !host::WriteWhole(folder, folder.Find(link.name + ".lnk"),
                                              cab::ShortcutText(link.target), 0644, false, problem))
            return false;
    }
    return true;
}

bool IsShortcut(const std::string& name)
{
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".lnk") == 0;
}

bool FollowShortcut(const host::DeviceFolder& folder, const std::string& name,
                    host::DeviceFolder& targetFolder, std::string& targetName, cab::DevicePath& target,
                    std::string& why)
{
    // The shortcut itself: a file, never reached through a link, small.
    const int fd = openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    char text[kShortcutLimit + 1];
    ssize_t length = -1;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        length = read(fd, text, sizeof text);
    if (fd >= 0)
        close(fd);
    if (length < 0 || size_t(length) > kShortcutLimit) {
        // Read as "<shortcut> is <why>".
        if (length >= 0)
            why = "a shortcut over 1 KiB";
        else if (fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            why = errno == ENOENT ? "missing" : std::string("unreadable (") + strerror(errno) + ")";
        else
            why = std::string(host::KindOf(info.st_mode)) + ", not a shortcut file";
        return false;
    }
    const std::optional<cab::DevicePath> path = cab::ShortcutTarget(std::string_view(text, size_t(length)), why);
    if (!path)
        return false;
    target = *path;
    std::string problem;
    targetFolder = DeviceFolderAt(cab::DevicePath(path->begin(), path->end() - 1), false, problem);
    bool found = false;
    targetName = targetFolder.ok() ? targetFolder.Find(path->back(), &found) : path->back();
    if (!targetFolder.ok()) {
        why = "a shortcut to " + cab::Joined(target) + ", whose folder is missing or not the device's own";
        return false;
    }
    if (!found || fstatat(targetFolder.fd(), targetName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        why = "a shortcut to " + cab::Joined(target) + ", which is not on the device";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "a shortcut to " + std::string(host::KindOf(info.st_mode)) + ", not a program";
        return false;
    }
    return true;
}

int OpenShortcut(const cab::DevicePath& shortcut, std::string& why)
{
    std::string problem;
    const host::DeviceFolder folder =
        DeviceFolderAt(cab::DevicePath(shortcut.begin(), shortcut.end() - 1), false, problem);
    host::DeviceFolder targetFolder;
    std::string name;
    cab::DevicePath target;
    if (!folder.ok() || !FollowShortcut(folder, folder.Find(shortcut.back()), targetFolder, name, target, why)) {
        if (!folder.ok())
            why = "missing";
        return -1;
    }
    // Left open across exec: the emulator reads this file, whatever is put
    // in its place meanwhile.
    const int fd = openat(targetFolder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        why = "a shortcut to " + cab::Joined(target) + ", which can't be read (" + strerror(errno) + ")";
    return fd;
}

}  // namespace session
