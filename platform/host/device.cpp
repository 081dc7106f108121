// The emulated device's folder and its registry.reg: the folder's lock, the
// default image, and a save that leaves the old file or the new one.
#include "device.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "registry_debug.h"
#include "registry_store.h"
#include "text.h"

extern const char kDefaultRegistry[];  // default.reg, embedded at build time

namespace host {
namespace {

constexpr const char* kRegistryName = "registry.reg";
constexpr const char* kTempName = "registry.reg.tmp";

SaveHook saveHook = nullptr;

// Problems with the device are the host's to report, never the programs'.
// The same problem is told once, not at every registry call.
void Report(const std::string& problem)
{
    static std::string last;
    if (problem == last)
        return;
    last = problem;
    fprintf(stderr, "ce-device: %s\n", problem.c_str());
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

bool ReadAll(int fd, std::string& bytes)
{
    char buffer[8192];
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

bool WriteAll(int fd, const std::string& bytes)
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

// The folder, open and locked for as long as this lives.
class LockedFolder {
public:
    explicit LockedFolder(const std::string& root) : root_(root)
    {
        if (!MakeFolders(root_)) {
            Report("cannot create the device folder " + root_ + ": " + strerror(errno));
            return;
        }
        fd_ = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            Report("cannot open the device folder " + root_ + ": " + strerror(errno));
            return;
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                Report("cannot lock the device folder " + root_ + ": " + strerror(errno));
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~LockedFolder()
    {
        if (fd_ >= 0)
            close(fd_);  // lets go of the lock
    }
    LockedFolder(const LockedFolder&) = delete;
    LockedFolder& operator=(const LockedFolder&) = delete;

    bool ok() const { return fd_ >= 0; }
    std::string Path(const char* name) const { return root_ + "/" + name; }

    // registry.reg's bytes; false when it is missing (`missing` set) or
    // unreadable.
    bool Read(std::string& bytes, bool& missing) const
    {
        missing = false;
        const int fd = openat(fd_, kRegistryName, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            missing = errno == ENOENT;
            if (!missing)
                Report("cannot read " + Path(kRegistryName) + ": " + strerror(errno));
            return false;
        }
        const bool ok = ReadAll(fd, bytes);
        if (!ok)
            Report("cannot read " + Path(kRegistryName) + ": " + strerror(errno));
        close(fd);
        return ok;
    }

    // Temporary file, flushed, renamed over registry.reg, folder flushed.
    bool Save(const std::string& bytes) const
    {
        const int fd = openat(fd_, kTempName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return Failed("cannot create " + Path(kTempName));
        bool ok = WriteAll(fd, bytes);
        if (ok && !Step(SaveStep::TempWritten)) {
            close(fd);
            return false;
        }
        ok = ok && fsync(fd) == 0;
        if (close(fd) != 0)
            ok = false;
        if (!ok) {
            unlinkat(fd_, kTempName, 0);
            return Failed("cannot write " + Path(kTempName));
        }
        if (!Step(SaveStep::Flushed))
            return false;
        if (renameat(fd_, kTempName, fd_, kRegistryName) != 0) {
            unlinkat(fd_, kTempName, 0);
            return Failed("cannot replace " + Path(kRegistryName));
        }
        if (!Step(SaveStep::Renamed))
            return false;
        fsync(fd_);
        return true;
    }

private:
    static bool Step(SaveStep step) { return !saveHook || saveHook(step); }

    static bool Failed(const std::string& what)
    {
        Report(what + ": " + strerror(errno));
        return false;
    }

    std::string root_;
    int fd_ = -1;
};

// A device without a \Windows folder gets one holding the stand-in control
// panel, \Windows\ctlpnl.exe, copied from the build (ZK_CTLPNL).
void InstallWindowsFolder(const std::string& root)
{
    if (DIR* listing = opendir(root.c_str())) {
        bool present = false;
        while (dirent* entry = readdir(listing))
            present = present || text::SameName(entry->d_name, "Windows");
        closedir(listing);
        if (present)
            return;
    }
    const std::string folder = root + "/Windows";
    const std::string temp = folder + "/ctlpnl.exe." + std::to_string(getpid());
    std::string bytes;
    const int in = open(ZK_CTLPNL, O_RDONLY | O_CLOEXEC);
    const bool read = in >= 0 && ReadAll(in, bytes);
    if (in >= 0)
        close(in);
    if (!read) {
        Report(std::string("cannot read the control panel ") + ZK_CTLPNL + ": " + strerror(errno));
        return;
    }
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        Report("cannot create " + folder + ": " + strerror(errno));
        return;
    }
    const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    bool ok = out >= 0 && WriteAll(out, bytes);
    if (out >= 0 && close(out) != 0)
        ok = false;
    if (!ok || rename(temp.c_str(), (folder + "/ctlpnl.exe").c_str()) != 0) {
        Report("cannot install " + folder + "/ctlpnl.exe: " + strerror(errno));
        unlink(temp.c_str());
    }
}

}  // namespace

std::string DeviceRoot()
{
    if (const char* root = getenv("CE_DEVICE_ROOT"); root && *root)
        return root;
    if (const char* data = getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/ce-device";
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/ce-device";
}

LONG WithRegistry(const std::function<LONG(reg::Document&)>& work)
{
    LockedFolder folder(DeviceRoot());
    if (!folder.ok())
        return ERROR_REGISTRY_IO_FAILED;

    std::string bytes;
    bool missing;
    if (!folder.Read(bytes, missing)) {
        if (!missing)
            return ERROR_REGISTRY_IO_FAILED;
        bytes = kDefaultRegistry;
    }
    reg::Document doc;
    reg::ParseError error;
    if (!reg::Parse(bytes, doc, error)) {
        std::string where = missing ? "the default registry image" : folder.Path(kRegistryName);
        if (error.line)
            where += ":" + std::to_string(error.line);
        Report(where + ": " + error.message + "; the registry is left as it is and will not open");
        return ERROR_BADDB;
    }

    const LONG result = work(doc);
    const std::string changed = reg::Write(doc);
    if ((missing || changed != bytes) && !folder.Save(changed))
        return ERROR_REGISTRY_IO_FAILED;
    return result;
}

void PrepareDevice()
{
    // Creates the folder, and registry.reg from the default image.
    WithRegistry([](reg::Document&) { return LONG(ERROR_SUCCESS); });

    // The device's files are installed here.
    InstallWindowsFolder(DeviceRoot());
}

void SetSaveHook(SaveHook hook)
{
    saveHook = hook;
}

}  // namespace host
