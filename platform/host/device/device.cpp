// The emulated device's folder: finding and opening its folders, writing
// its files whole, the folder's lock, and setting the device up.
#include "device.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "observer.h"
#include "text.h"

extern const char kDefaultRegistry[];  // default.reg, embedded at build time

namespace host {
namespace {

std::string Problem(const std::string& what)
{
    return what + ": " + strerror(errno);
}

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

bool WriteAll(int fd, std::string_view bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool ReadAll(int fd, size_t size, std::string& bytes)
{
    bytes.clear();
    bytes.reserve(size);
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buffer, size_t(n));
    }
}

bool Step(bool watched, SaveStep step)
{
    Observer* observer = watched ? CurrentObserver() : nullptr;
    return !observer || observer->SaveReached(step);
}

}  // namespace

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
            problem = Problem("cannot create the device folder " + root);
            return {};
        }
        fd = open(root.c_str(), kFlags);
    }
    if (fd < 0) {
        problem = Problem("cannot open the device folder " + root);
        return {};
    }
    return DeviceFolder(fd, root);
}

DeviceFolder DeviceFolder::At(const std::string& path, std::string& problem)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = Problem("cannot open the folder " + path);
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
        problem = Problem("cannot create " + PathOf(match));
        return {};
    }
    if (!found && create)
        match = Find(name);
    struct stat info;
    if (fstatat(fd_, match.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        problem = Problem("cannot open " + PathOf(match));
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
        problem = Problem("cannot open " + PathOf(match));
        return {};
    }
    return DeviceFolder(fd, PathOf(match));
}

bool DeviceFolder::Replace(std::string_view name, std::string_view bytes, mode_t mode,
                           std::string& problem) const
{
    return WriteWhole(*this, name, bytes, mode, true, false, problem);
}

bool DeviceFolder::Install(const std::string& from, std::string_view name,
                           std::string& problem) const
{
    const int in = open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    std::string bytes;
    bool ok = in >= 0 && fstat(in, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        ok = false;
    }
    ok = ok && ReadAll(in, size_t(info.st_size), bytes);
    if (in >= 0)
        close(in);
    if (!ok) {
        problem = Problem("cannot read " + from);
        return false;
    }
    return WriteWhole(*this, name, bytes, 0755, false, false, problem);
}

bool WriteWhole(const DeviceFolder& folder, std::string_view name, std::string_view bytes,
                mode_t mode, bool keepMode, bool watched, std::string& problem)
{
    const std::string file(name), temp = file + kWritingSuffix;
    const int dir = folder.fd();
    // A leftover of a crash, or anything planted there: the name is taken
    // away (a link, not what it points at) and made again, new.
    unlinkat(dir, temp.c_str(), 0);
    struct stat old;
    const bool keep = keepMode && fstatat(dir, file.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(old.st_mode);
    const int out = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           keep ? 0600 : mode);
    if (out < 0) {
        problem = Problem("cannot create " + folder.PathOf(temp));
        return false;
    }
    bool ok = true;
    if (keep) {
        // The owner first: a change of owner may clear the set-id bits.
        if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
            fchown(out, old.st_uid, old.st_gid) != 0 && fchown(out, geteuid(), old.st_gid) != 0) {
            // Kept as far as this user may; the file is still ours to write.
        }
        ok = fchmod(out, old.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(out, bytes);
    if (ok && !Step(watched, SaveStep::TempWritten)) {
        close(out);
        return false;
    }
    ok = ok && fsync(out) == 0;
    if (close(out) != 0)
        ok = false;
    if (!ok) {
        problem = Problem("cannot write " + folder.PathOf(temp));
        unlinkat(dir, temp.c_str(), 0);
        return false;
    }
    if (!Step(watched, SaveStep::Flushed))
        return false;
    if (renameat(dir, temp.c_str(), dir, file.c_str()) != 0) {
        problem = Problem("cannot replace " + folder.PathOf(file));
        unlinkat(dir, temp.c_str(), 0);
        return false;
    }
    if (!Step(watched, SaveStep::Renamed))
        return false;
    fsync(dir);
    return true;
}

DeviceLock::DeviceLock(const DeviceFolder& folder, std::string& problem)
{
    if (!folder.ok())
        return;
    // The lock is the folder's own: there is no lock file to plant. The
    // folder is opened again so that the lock is this object's alone.
    fd_ = openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd_);
            fd_ = -1;
        }
    }
    if (fd_ < 0)
        problem = Problem("cannot lock the device folder " + folder.path());
}

DeviceLock::~DeviceLock()
{
    if (fd_ >= 0)
        close(fd_);  // lets go of the lock
}

FileRead ReadDeviceFile(const DeviceFolder& folder, std::string_view name, size_t limit,
                        std::string& bytes, FileStamp& stamp, std::string& problem, int* held)
{
    const std::string file(name);
    // Never blocks: a FIFO opens at once without a writer, and is refused
    // below with anything else that is not a regular file.
    const int fd = openat(folder.fd(), file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return FileRead::Missing;
        problem = Problem("cannot read " + folder.PathOf(file));
        return FileRead::Failed;
    }
    struct stat info;
    FileRead result = FileRead::Failed;
    if (fstat(fd, &info) != 0) {
        problem = Problem("cannot read " + folder.PathOf(file));
    } else if (!S_ISREG(info.st_mode)) {
        problem = folder.PathOf(file) + " is " + KindOf(info.st_mode) +
                  ", not a file; it is left as it is and will not be read";
    } else if (uint64_t(info.st_size) > limit) {
        problem = folder.PathOf(file) + " is " + std::to_string(info.st_size) +
                  " bytes, over the " + std::to_string(limit >> 20) +
                  " MiB a device file may hold; it is left as it is and will not be read";
    } else if (!ReadAll(fd, size_t(info.st_size), bytes)) {
        problem = Problem("cannot read " + folder.PathOf(file));
    } else if (bytes.size() > limit) {  // grew while read
        problem = folder.PathOf(file) + " grew past the " + std::to_string(limit >> 20) +
                  " MiB a device file may hold while it was read; it will not be read";
    } else {
        stamp = FileStamp::Of(info);
        result = FileRead::Done;
    }
    if (held && result == FileRead::Done)
        *held = fd;
    else
        close(fd);
    return result;
}

bool StampOf(const DeviceFolder& folder, std::string_view name, FileStamp& stamp)
{
    struct stat info;
    if (fstatat(folder.fd(), std::string(name).c_str(), &info, 0) != 0 || !S_ISREG(info.st_mode))
        return false;
    stamp = FileStamp::Of(info);
    return true;
}

FileStamp FileStamp::Of(const struct stat& info)
{
    return {uint64_t(info.st_dev),          uint64_t(info.st_ino),
            uint64_t(info.st_size),         int64_t(info.st_mtim.tv_sec),
            int64_t(info.st_mtim.tv_nsec),  int64_t(info.st_ctim.tv_sec),
            int64_t(info.st_ctim.tv_nsec)};
}

bool SetUpDevice(const std::string& controlPanel)
{
    std::string problem;
    const DeviceFolder root = DeviceFolder::Root(problem);
    const DeviceLock lock(root, problem);
    bool ok = root.ok() && lock.ok();

    // registry.reg from the default image. A link there, even a broken one,
    // is the registry's to read and to replace with a file.
    struct stat info;
    if (ok && fstatat(root.fd(), kRegistryFile, &info, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT)
        ok = WriteWhole(root, kRegistryFile, kDefaultRegistry, 0644, false, false, problem);

    // \Windows and the stand-in control panel in it.
    const DeviceFolder windows = ok ? root.Sub(kWindowsFolder, true, problem) : DeviceFolder();
    ok = ok && windows.ok();
    bool present = false;
    if (ok)
        windows.Find(kControlPanelFile, &present);
    if (ok && !present)
        ok = windows.Install(controlPanel, kControlPanelFile, problem);

    if (!ok)
        TellDeviceProblem(problem);
    return ok;
}

}  // namespace host
