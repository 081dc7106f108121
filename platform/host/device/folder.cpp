// The device's folders: where the device is, finding an entry as the
// device's file system does (without regard to case), and opening a folder
// of it, never through a link.
#include "device.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "device_io.h"
#include "text.h"

namespace host {
namespace {

bool MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

}  // namespace

std::string SystemProblem(const std::string& what)
{
    return what + ": " + strerror(errno);
}

const char* KindOf(mode_t mode)
{
    return S_ISREG(mode)    ? "a file"
           : S_ISDIR(mode)  ? "a folder"
           : S_ISLNK(mode)  ? "a link"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISSOCK(mode) ? "a socket"
           : S_ISCHR(mode) || S_ISBLK(mode) ? "a device node"
                                             : "not a regular file";
}

std::string FindEntry(int dir, std::string_view name, bool* found)
{
    std::string match(name);
    bool any = false;
    const int listingFd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* listing = listingFd >= 0 ? fdopendir(listingFd) : nullptr) {
        while (dirent* item = readdir(listing)) {
            if (name == item->d_name) {
                match = item->d_name;
                any = true;
                break;
            }
            if (!any && text::SameName(item->d_name, name)) {
                match = item->d_name;
                any = true;
            }
        }
        closedir(listing);
    } else if (listingFd >= 0) {
        close(listingFd);
    }
    if (found)
        *found = any;
    return match;
}

std::string DeviceRoot()
{
    if (const char* root = getenv("CE_DEVICE_ROOT"); root && *root)
        return root;
    if (const char* data = getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/ce-device";
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/ce-device";
}

void TellDeviceProblem(const std::string& problem)
{
    static std::string last;
    if (problem == last)
        return;
    last = problem;
    fprintf(stderr, "ce-device: %s\n", text::Printable(problem).c_str());
}

DeviceFolder::~DeviceFolder()
{
    if (fd_ >= 0)
        close(fd_);
}

DeviceFolder::DeviceFolder(DeviceFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_))
{
    other.fd_ = -1;
}

DeviceFolder& DeviceFolder::operator=(DeviceFolder&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

DeviceFolder DeviceFolder::Root(std::string& problem)
{
    const std::string root = DeviceRoot();
    // The root is the user's to name, a link included.
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
    int fd = open(root.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        if (!MakeFolders(root)) {
            problem = SystemProblem("cannot create the device folder " + root);
            return {};
        }
        fd = open(root.c_str(), kFlags);
    }
    if (fd < 0) {
        problem = SystemProblem("cannot open the device folder " + root);
        return {};
    }
    return DeviceFolder(fd, root);
}

DeviceFolder DeviceFolder::Files(std::string& problem)
{
    return Root(problem);
}

DeviceFolder DeviceFolder::Private(std::string& problem)
{
    const DeviceFolder root = Root(problem);
    return root.ok() ? root.Sub(".state", true, problem) : DeviceFolder();
}

DeviceFolder DeviceFolder::At(const std::string& path, std::string& problem)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = SystemProblem("cannot open the folder " + path);
        return {};
    }
    return DeviceFolder(fd, path);
}

std::string DeviceFolder::Find(std::string_view name, bool* found) const
{
    return FindEntry(fd_, name, found);
}

DeviceFolder DeviceFolder::Sub(std::string_view name, bool create, std::string& problem) const
{
    bool found;
    std::string match = Find(name, &found);
    if (!found && create && mkdirat(fd_, match.c_str(), 0755) != 0 && errno != EEXIST) {
        problem = SystemProblem("cannot create " + PathOf(match));
        return {};
    }
    if (!found && create)
        match = Find(name);
    struct stat info;
    if (fstatat(fd_, match.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        problem = SystemProblem("cannot open " + PathOf(match));
        return {};
    }
    if (!S_ISDIR(info.st_mode)) {
        problem = PathOf(match) + " is " + KindOf(info.st_mode) +
                  ", where the device's folder \\" + std::string(name) +
                  " belongs; move it away and start again";
        return {};
    }
    const int fd = openat(fd_, match.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = SystemProblem("cannot open " + PathOf(match));
        return {};
    }
    return DeviceFolder(fd, PathOf(match));
}

}  // namespace host
