// Reading a file of the device: bounded, never blocking, and stamped so
// that a later change to it can be told.
#include "device/device.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "device/device_io.h"

namespace host {

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
        problem = SystemProblem("cannot read " + folder.PathOf(file));
        return FileRead::Failed;
    }
    struct stat info;
    FileRead result = FileRead::Failed;
    if (fstat(fd, &info) != 0) {
        problem = SystemProblem("cannot read " + folder.PathOf(file));
    } else if (!S_ISREG(info.st_mode)) {
        problem = folder.PathOf(file) + " is " + KindOf(info.st_mode) +
                  ", not a file; it is left as it is and will not be read";
    } else if (uint64_t(info.st_size) > limit) {
        problem = folder.PathOf(file) + " is " + std::to_string(info.st_size) +
                  " bytes, over the " + std::to_string(limit >> 20) +
                  " MiB a device file may hold; it is left as it is and will not be read";
    } else if (!ReadAll(fd, size_t(info.st_size), bytes)) {
        problem = SystemProblem("cannot read " + folder.PathOf(file));
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

}  // namespace host
