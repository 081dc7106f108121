// The emulated device: one folder on the host, holding the emulator's own
// state (registry.reg, the restart request), its private area and, in a
// folder of their own, the device's files (\Windows\ctlpnl.exe is
// <root>/device:/Windows/ctlpnl.exe). No device path reaches past that
// folder, and ':' is no name a device path can spell.
//
// The folder is untrusted: whatever a user, a script or a crash left in it,
// nothing here writes, creates or replaces anything outside it, follows a
// link to write, or blocks on a FIFO or a device node. Every file written
// into it is a new temporary file, created exclusively and never through a
// link, flushed, and renamed over its name within its folder. The device's
// subfolders are never reached through a link.
#pragma once

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace host {

// The device folder's own files and folders.
inline constexpr const char kRegistryFile[] = "registry.reg";
inline constexpr const char kRestartRequestFile[] = "restart-requested";
inline constexpr const char kFilesFolder[] = "device:";      // the device's root folder
inline constexpr const char kPrivateFolder[] = "emulator:";  // the emulator's private area
inline constexpr const char kWindowsFolder[] = "Windows";
inline constexpr const char kControlPanelFile[] = "ctlpnl.exe";  // in \Windows
// Ends the name of a file being written (see Replace); one left by a crash is
// nobody's file.
inline constexpr const char kWritingSuffix[] = ".tmp";

// What a file of mode `mode` is, as the lines that refuse it say: "a file",
// "a folder", "a link", "a FIFO", "a socket" or "a device node".
const char* KindOf(mode_t mode);

// The entry of the open folder `dir` called `name` without regard to case, as
// the device's file system finds it (an exact match first); `name` itself
// when there is none.
std::string FindEntry(int dir, std::string_view name, bool* found = nullptr);

// $CE_DEVICE_ROOT when set, else $XDG_DATA_HOME/ce-device, else
// ~/.local/share/ce-device.
std::string DeviceRoot();

// One folder of the device, open for as long as this lives.
class DeviceFolder {
public:
    DeviceFolder() = default;
    ~DeviceFolder();
    DeviceFolder(DeviceFolder&& other) noexcept;
    DeviceFolder& operator=(DeviceFolder&& other) noexcept;

    // The device folder itself, made (with its parents) when missing: the
    // emulator's state.
    static DeviceFolder Root(std::string& problem);

    // The device's own file system: the device's `\`. Made when missing; a
    // device of the earlier layout (its files beside registry.reg) is moved
    // into it at its first use, once, under the folder's lock.
    static DeviceFolder Files(std::string& problem);
    // The emulator's private area, on the same file system as Files(), which no device path
    // reaches: temporary files, staging, install records. Made when missing.
    static DeviceFolder Private(std::string& problem);

    // The folder at the host path `path`, which must exist. It has no
    // private area: its files are written through a temporary name beside
    // them.
    static DeviceFolder At(const std::string& path, std::string& problem);

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    std::string PathOf(std::string_view name) const { return path_ + "/" + std::string(name); }

    // The name of the entry called `name` without regard to case, as the
    // device's file system finds it (an exact match first); `name` itself
    // when there is none.
    std::string Find(std::string_view name, bool* found = nullptr) const;

    // The subfolder called `name` (any case), made when missing and `create`
    // is set. A link, or anything but a folder, where it belongs is refused.
    DeviceFolder Sub(std::string_view name, bool create, std::string& problem) const;

    // Writes `bytes` as the file `name`: into a temporary file of the
    // private area (of a folder without one, `name`.tmp, one left over from
    // a crash removed first, a link there removed, never followed), created
    // new and exclusive, flushed, renamed over `name`, and the folder
    // flushed. A file replaced keeps its mode and owner; a new one gets
    // `mode`. On failure `name` is as it was and `problem` says why.
    bool Replace(std::string_view name, std::string_view bytes, mode_t mode,
                 std::string& problem) const;

    // Copies the regular file `from` (a host path outside the device) to
    // `name` as Replace writes. The one copy for installing a program into
    // the device: data on the host, never runnable there.
    bool Install(const std::string& from, std::string_view name, std::string& problem) const;

    // The private area temporary files of this folder are made in; -1 for
    // none.
    int privateFd() const { return private_ ? *private_ : -1; }

private:
    DeviceFolder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    std::string path_;
    std::shared_ptr<const int> private_;
};

// Holds the device folder's lock for as long as it lives. The lock is the
// folder's own (flock on the folder), so there is no lock file to plant.
// Whoever writes a file of the folder that another process may write too
// holds it while writing.
class DeviceLock {
public:
    DeviceLock(const DeviceFolder& folder, std::string& problem);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    bool ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// What tells one version of a file from another. Compared only while the
// file stamped is held open, so that its inode can't be another file's.
struct FileStamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modified = 0, modifiedNs = 0, changed = 0, changedNs = 0;
    static FileStamp Of(const struct stat& info);
    bool operator==(const FileStamp& o) const
    {
        return device == o.device && inode == o.inode && size == o.size &&
               modified == o.modified && modifiedNs == o.modifiedNs && changed == o.changed &&
               changedNs == o.changedNs;
    }
};

// Reads the file `name` of `folder` whole, through a link if it is one.
// Anything but a regular file, or one over `limit` bytes, is refused before
// it is read, at once (a FIFO never blocks); `problem` says what it is.
// With `held`, the file read is left open there.
enum class FileRead { Done, Missing, Failed };
FileRead ReadDeviceFile(const DeviceFolder& folder, std::string_view name, size_t limit,
                        std::string& bytes, FileStamp& stamp, std::string& problem,
                        int* held = nullptr);

// The stamp of the regular file `name` (through a link); false when there is
// none.
bool StampOf(const DeviceFolder& folder, std::string_view name, FileStamp& stamp);

// The steps of writing a file whole, in order.
enum class SaveStep { TempWritten, Flushed, Renamed };

// Called at each step of a write; false stops the write there, as a crash
// there would: the temporary file stays and the write fails with no problem
// told. Empty: every step goes on.
using SaveHook = std::function<bool(SaveStep)>;

// What Replace (keepMode set) and Install do; `hook`, when given, is called
// at each step.
bool WriteWhole(const DeviceFolder& folder, std::string_view name, std::string_view bytes,
                mode_t mode, bool keepMode, std::string& problem, const SaveHook& hook = {});

// A problem with the device folder, told on stderr as one "ce-device: ..."
// line; the same problem is told once, not at every call that meets it.
void TellDeviceProblem(const std::string& problem);

// Sets up the device folder, finishing whatever is missing, every time: the
// folder, a device of the earlier layout moved to this one, temporary files
// left by a crash removed, registry.reg from the default image, \Windows, and
// \Windows\ctlpnl.exe copied from `controlPanel`. Safe from several processes
// at once. False, told on stderr, when the folder holds something in their
// way (a file or a link where \Windows belongs).
bool SetUpDevice(const std::string& controlPanel);

// Makes the device's copy of the build's program `from` (a host path) the
// file `name` of `folder` when it is missing or differs from the build's.
// A copy over 64 MiB is never read, and renewed; a folder by that name is
// left as it is.
inline constexpr size_t kRenewLimit = 64 << 20;
bool Renew(const DeviceFolder& folder, std::string_view name, const std::string& from, std::string& problem);

// SetUpDevice with the build's stand-in control panel, which it also hands
// to process start (programs.h). These are the device_setup library's
// (device_setup.cpp), the one place told where the stand-in is (by the build:
// cmake/build-programs.cmake); the programs' start-up, the device session
// and the tests link it.
void PrepareDevice();

}  // namespace host
