#include "registry/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "device/device.h"

extern const char kDefaultRegistry[];  // default.reg, embedded at build time

namespace host {
namespace {

// The document as last parsed or saved by this process, and the file it
// came from, held open so that its stamp can't be another file's.
struct Parsed {
    std::string root;
    int held = -1;
    FileStamp stamp;
    bool broken = false;  // the file did not parse; told once
    reg::Document doc;

    void Forget()
    {
        if (held >= 0)
            close(held);
        held = -1;
        broken = false;
        doc = reg::Document();
    }
};

std::mutex parsedMutex;
Parsed parsed;
SaveHook saveHook;  // guarded by parsedMutex
// What the store is doing, for the line that tells memory ran out.
const char* doing = "";

// Holds the folder's lock and brings `parsed` up to date: ERROR_SUCCESS and
// a device without registry.reg gets one from the default image first.
class Current {
public:
    Current()
    {
        std::string problem;
        folder_ = DeviceFolder::Root(problem);
        lock_.emplace(folder_, problem);
        if (!folder_.ok() || !lock_->ok()) {
            TellDeviceProblem(problem);
            status_ = ERROR_REGISTRY_IO_FAILED;
            return;
        }
        FileStamp now;
        if (parsed.held >= 0 && parsed.root == folder_.path() &&
            StampOf(folder_, kRegistryFile, now) && now == parsed.stamp) {
            status_ = parsed.broken ? LONG(ERROR_BADDB) : LONG(ERROR_SUCCESS);
            return;
        }
        parsed.Forget();
        parsed.root = folder_.path();

        doing = "reading it";
        std::string bytes;
        FileRead read = ReadDeviceFile(folder_, kRegistryFile, reg::kMostFileBytes, bytes, parsed.stamp,
                                       problem, &parsed.held);
        if (read == FileRead::Missing) {
            // A device without one gets the default image, as it is.
            if (!WriteWhole(folder_, kRegistryFile, kDefaultRegistry, 0644, true, problem, saveHook)) {
                if (!problem.empty())
                    TellDeviceProblem(problem);
                status_ = ERROR_REGISTRY_IO_FAILED;
                return;
            }
            read = ReadDeviceFile(folder_, kRegistryFile, reg::kMostFileBytes, bytes, parsed.stamp,
                                  problem, &parsed.held);
        }
        if (read != FileRead::Done) {
            TellDeviceProblem(read == FileRead::Missing ? "cannot read " + folder_.PathOf(kRegistryFile)
                                                        : problem);
            status_ = ERROR_REGISTRY_IO_FAILED;
            return;
        }
        doing = "parsing it";
        reg::ParseError error;
        if (!reg::Parse(std::move(bytes), parsed.doc, error)) {
            std::string where = folder_.PathOf(kRegistryFile);
            if (error.line)
                where += ":" + std::to_string(error.line);
            TellDeviceProblem(where + ": " + error.message +
                              "; the registry is left as it is and will not open");
            parsed.broken = true;
            status_ = ERROR_BADDB;
        }
    }

    LONG status() const { return status_; }

    // Saves the document; what this process holds is then the file saved.
    LONG Save()
    {
        doing = "writing it out";
        const std::string bytes = reg::Write(parsed.doc);
        if (bytes.size() > reg::kMostFileBytes) {
            // Never written: the file could not be read back. What this
            // process holds is the file again, as it still is.
            TellDeviceProblem(folder_.PathOf(kRegistryFile) + " would grow to " +
                              std::to_string(bytes.size()) + " bytes, over the " +
                              std::to_string(reg::kMostFileBytes >> 20) +
                              " MiB it may hold; the change is refused and the file left as it is");
            parsed.Forget();
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        return Replace(bytes) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    }

private:
    bool Replace(const std::string& bytes)
    {
        std::string problem;
        const bool saved = WriteWhole(folder_, kRegistryFile, bytes, 0644, true, problem, saveHook);
        if (!problem.empty())
            TellDeviceProblem(problem);
        const int fd = saved ? openat(folder_.fd(), kRegistryFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
        struct stat info;
        if (fd < 0 || fstat(fd, &info) != 0) {
            if (fd >= 0)
                close(fd);
            parsed.Forget();
            return saved;
        }
        if (parsed.held >= 0)
            close(parsed.held);
        parsed.held = fd;
        parsed.stamp = FileStamp::Of(info);
        return true;
    }

    DeviceFolder folder_;
    std::optional<DeviceLock> lock_;
    LONG status_ = ERROR_SUCCESS;
};

// Memory ran out somewhere in the store, the file still as it was: what this
// process held of it is dropped, so that the next call reads it again, and
// the line is made only once that memory is given back. It is told once: the
// calls after it would mostly say the same.
LONG OutOfMemory(LONG result)
{
    static bool told = false;
    parsed.Forget();
    if (!std::exchange(told, true))
        TellDeviceProblem((parsed.root.empty() ? std::string() : parsed.root + "/") + kRegistryFile +
                      ": out of memory while " + doing + "; the registry is left as it is");
    return result;
}

}  // namespace

namespace {

// Runs `body` on the registry as the file holds it now, under the store's
// lock, as `what` it does; memory running out anywhere fails the call with
// `shortage`.
template <typename Body>
LONG WithCurrent(const char* what, LONG shortage, Body body)
{
    std::lock_guard<std::mutex> guard(parsedMutex);
    try {
        doing = "reading it";
        Current current;
        if (current.status() != ERROR_SUCCESS)
            return current.status();
        doing = what;
        return body(current);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(shortage);
    }
}

}  // namespace

LONG ReadRegistry(const std::function<LONG(const reg::Document&)>& read)
{
    return WithCurrent("looking up a key or value", ERROR_BADDB, [&](Current&) { return read(parsed.doc); });
}

LONG ChangeRegistry(const std::function<LONG(reg::Document&, bool& changed)>& change)
{
    return WithCurrent("making a change", ERROR_NOT_ENOUGH_MEMORY, [&](Current& current) {
        bool changed = false;
        const LONG result = change(parsed.doc, changed);
        if (!changed)
            return result;
        const LONG saved = current.Save();
        return saved != ERROR_SUCCESS ? saved : result;
    });
}

void SetSaveHook(SaveHook hook)
{
    std::lock_guard<std::mutex> guard(parsedMutex);
    saveHook = std::move(hook);
}

}  // namespace host
