// The device's folders: where the device is, its layout (the emulator's
// state apart from the device's files), finding an entry as the device's
// file system does (without regard to case), and opening a folder of it,
// never through a link.
#include "device.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
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

// The device's root while an earlier layout moves into kFilesFolder: made in
// the private area, filled, and renamed into place last, so that a move
// stopped half-way is taken up again at the next start.
constexpr const char kMovingFolder[] = "moving";

// What the device folder keeps for itself in either layout: it stays where it
// is when an earlier layout moves.
bool EmulatorsOwn(const char* name)
{
    for (const char* own : {".", "..", kRegistryFile, kRestartRequestFile, kFilesFolder, kPrivateFolder})
        if (strcmp(name, own) == 0)
            return true;
    return false;
}

// A leftover of an earlier layout's write of the emulator's own files.
bool EmulatorsLeftover(const std::string& name)
{
    return name == std::string(kRegistryFile) + kWritingSuffix ||
           name == std::string(kRestartRequestFile) + kWritingSuffix;
}

// The folder `name` of `dir`, its exact name, made (private to this user)
// when missing; never through a link.
int OwnFolder(int dir, const char* name, std::string& problem, const std::string& shown)
{
    if (mkdirat(dir, name, 0700) != 0 && errno != EEXIST) {
        problem = SystemProblem("cannot create " + shown);
        return -1;
    }
    const int fd = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        struct stat info;
        problem = fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode)
                      ? shown + " is " + KindOf(info.st_mode) + ", where the emulator's own folder belongs; "
                        "move it away and start again"
                      : SystemProblem("cannot open " + shown);
    }
    return fd;
}

// An open folder shared by the folders whose temporary files it holds.
std::shared_ptr<const int> Shared(int fd)
{
    return std::shared_ptr<const int>(new int(fd), [](const int* held) {
        close(*held);
        delete held;
    });
}

bool IsFolder(int dir, const char* name)
{
    struct stat info;
    return fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

// Moves a device of the earlier layout (its files beside registry.reg) into
// kFilesFolder; a new device gets an empty one. Each entry is renamed whole,
// so nothing is copied and nothing lost; the caller holds the lock.
bool MoveToFiles(const DeviceFolder& root, int privateFd, std::string& problem)
{
    const std::string moving = root.PathOf(kPrivateFolder) + "/" + kMovingFolder;
    const int into = OwnFolder(privateFd, kMovingFolder, problem, moving);
    if (into < 0)
        return false;
    bool ok = true;
    const int listingFd = openat(root.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listingFd >= 0 ? fdopendir(listingFd) : nullptr;
    if (!listing) {
        ok = false;
        problem = SystemProblem("cannot list " + root.path());
        if (listingFd >= 0)
            close(listingFd);
    }
    while (ok) {
        errno = 0;
        const dirent* item = readdir(listing);
        if (!item) {
            ok = errno == 0;
            if (!ok)
                problem = SystemProblem("cannot list " + root.path());
            break;
        }
        const std::string name = item->d_name;
        if (EmulatorsOwn(name.c_str()) || (EmulatorsLeftover(name) && unlinkat(root.fd(), name.c_str(), 0) == 0))
            continue;
        if (renameat(root.fd(), name.c_str(), into, name.c_str()) != 0) {
            problem = SystemProblem("cannot move " + root.PathOf(name) + " into " + moving);
            ok = false;
        }
    }
    if (listing)
        closedir(listing);
    ok = ok && fsync(into) == 0;
    close(into);
    if (ok && renameat(privateFd, kMovingFolder, root.fd(), kFilesFolder) != 0) {
        problem = SystemProblem("cannot rename " + moving + " to " + root.PathOf(kFilesFolder));
        ok = false;
    }
    if (ok)
        fsync(root.fd());
    return ok;
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
    : fd_(other.fd_), path_(std::move(other.path_)), private_(std::move(other.private_))
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
        private_ = std::move(other.private_);
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
    DeviceFolder folder(fd, root);
    // Without a private area (a read-only folder, something in its place)
    // the folder's own files are written beside themselves; Private() and
    // Files() tell why.
    std::string why;
    if (const int area = OwnFolder(fd, kPrivateFolder, why, folder.PathOf(kPrivateFolder)); area >= 0)
        folder.private_ = Shared(area);
    else
        problem = why;
    return folder;
}

DeviceFolder DeviceFolder::Private(std::string& problem)
{
    const DeviceFolder root = Root(problem);
    if (!root.ok())
        return {};
    const int fd = root.private_ ? dup(*root.private_) : -1;
    if (fd < 0) {
        if (problem.empty())
            problem = SystemProblem("cannot open " + root.PathOf(kPrivateFolder));
        return {};
    }
    DeviceFolder area(fd, root.PathOf(kPrivateFolder));
    area.private_ = root.private_;
    return area;
}

DeviceFolder DeviceFolder::Files(std::string& problem)
{
    const DeviceFolder root = Root(problem);
    const DeviceFolder area = root.ok() ? Private(problem) : DeviceFolder();
    if (!area.ok())
        return {};
    if (!IsFolder(root.fd(), kFilesFolder)) {
        // The move is the folder's first use, once, under its lock (unless
        // this process holds it already: flock is not counted).
        std::optional<DeviceLock> lock;
        if (!HoldsDeviceLock())
            lock.emplace(root, problem);
        if ((lock && !lock->ok()) ||
            (!IsFolder(root.fd(), kFilesFolder) && !MoveToFiles(root, area.fd(), problem)))
            return {};
    }
    const int fd = openat(root.fd(), kFilesFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = SystemProblem("cannot open " + root.PathOf(kFilesFolder));
        return {};
    }
    DeviceFolder files(fd, root.PathOf(kFilesFolder));
    files.private_ = root.private_;
    return files;
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
    DeviceFolder sub(fd, PathOf(match));
    sub.private_ = private_;
    return sub;
}

}  // namespace host
