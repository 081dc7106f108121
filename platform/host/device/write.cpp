// Writing a file of the device whole: a new temporary file in the private
// area (beside it, for a folder without one), flushed and renamed over it,
// so that a crash at any step leaves the old file or the new one, never a
// mix.
#include "device.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "device_io.h"

namespace host {
namespace {

// A name of the private area no other write takes: this process's id and a
// count. One left by a crash is removed at set-up (RemoveLeftovers).
std::string TemporaryName()
{
    static std::atomic<unsigned> count{0};
    return std::to_string(getpid()) + "." + std::to_string(count++) + kWritingSuffix;
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

}  // namespace

bool DeviceFolder::Replace(std::string_view name, std::string_view bytes, mode_t mode,
                           std::string& problem) const
{
    return WriteWhole(*this, name, bytes, mode, true, problem);
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
        problem = SystemProblem("cannot read " + from);
        return false;
    }
    return WriteWhole(*this, name, bytes, 0644, false, problem);
}

bool WriteWhole(const DeviceFolder& folder, std::string_view name, std::string_view bytes,
                mode_t mode, bool keepMode, std::string& problem, const SaveHook& hook)
{
    const auto goOn = [&hook](SaveStep step) { return !hook || hook(step); };
    const int dir = folder.fd();
    const bool aside = folder.privateFd() >= 0;
    const int tempDir = aside ? folder.privateFd() : dir;
    const std::string file(name), temp = aside ? TemporaryName() : file + kWritingSuffix;
    const std::string shownTemp = aside ? "a temporary file for " + folder.PathOf(file) : folder.PathOf(temp);
    // A leftover of a crash, or anything planted there: the name is taken
    // away (a link, not what it points at) and made again, new.
    unlinkat(tempDir, temp.c_str(), 0);
    struct stat old;
    const bool keep = keepMode && fstatat(dir, file.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(old.st_mode);
    const int out = openat(tempDir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           keep ? 0600 : mode);
    if (out < 0) {
        problem = SystemProblem("cannot create " + shownTemp);
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
    if (ok && !goOn(SaveStep::TempWritten)) {
        close(out);
        return false;
    }
    ok = ok && fsync(out) == 0;
    if (close(out) != 0)
        ok = false;
    if (!ok) {
        problem = SystemProblem("cannot write " + shownTemp);
        unlinkat(tempDir, temp.c_str(), 0);
        return false;
    }
    if (!goOn(SaveStep::Flushed))
        return false;
    if (renameat(tempDir, temp.c_str(), dir, file.c_str()) != 0) {
        problem = SystemProblem("cannot replace " + folder.PathOf(file));
        unlinkat(tempDir, temp.c_str(), 0);
        return false;
    }
    if (!goOn(SaveStep::Renamed))
        return false;
    fsync(dir);
    return true;
}

void RemoveLeftovers(const DeviceFolder& area)
{
    const int listingFd = openat(area.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listingFd >= 0 ? fdopendir(listingFd) : nullptr;
    if (!listing) {
        if (listingFd >= 0)
            close(listingFd);
        return;
    }
    const size_t suffix = sizeof kWritingSuffix - 1;
    while (const dirent* item = readdir(listing)) {
        const std::string name = item->d_name;
        // Another process's write in progress is its own.
        const long writer = strtol(name.c_str(), nullptr, 10);
        if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kWritingSuffix) == 0 &&
            writer > 0 && kill(pid_t(writer), 0) != 0 && errno == ESRCH)
            unlinkat(area.fd(), name.c_str(), 0);
    }
    closedir(listing);
}

}  // namespace host
