// A scratch device folder for one host test: $CE_DEVICE_ROOT points at a
// folder that does not exist yet, and everything goes when the test ends.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A file's bytes; empty when it cannot be read.
inline std::string FileBytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Everything in the folder and below it, by path from it, sorted.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        paths.push_back(entry.path().lexically_relative(folder).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

class HostDevice {
public:
    HostDevice()
    {
        std::string base = (std::filesystem::temp_directory_path() / "zk-XXXXXX").string();
        if (!mkdtemp(base.data()))
            abort();
        base_ = base;
        root_ = base_ / "device";
        setenv("CE_DEVICE_ROOT", root_.c_str(), 1);
    }
    ~HostDevice()
    {
        unsetenv("CE_DEVICE_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
    }
    HostDevice(const HostDevice&) = delete;
    HostDevice& operator=(const HostDevice&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    // The device's own files: its `\`.
    std::filesystem::path Files() const { return root_ / "device:"; }
    // Where `path` is: the emulator's own files (registry.reg, the restart
    // request) at the root, everything else in the device's files.
    std::filesystem::path At(const std::string& path) const
    {
        const std::string first = path.substr(0, path.find('/'));
        for (const char* own : {"registry.reg", "registry.reg.tmp", "restart-requested", "restart-requested.tmp",
                                "..", "emulator:", "device:"})
            if (first == own)
                return root_ / path;
        return Files() / path;
    }
    // Beside the device folder, out of the device's reach.
    const std::filesystem::path& Outside() const { return base_; }

    // A file in the device, folders made as needed.
    void Write(const std::string& path, const std::string& bytes, mode_t mode = 0644) const
    {
        std::filesystem::path file = At(path);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        chmod(file.c_str(), mode);
    }

    std::string Read(const std::string& path) const { return FileBytes(At(path)); }

    std::vector<std::string> Lines(const std::string& path) const
    {
        std::vector<std::string> lines;
        std::ifstream file(At(path));
        for (std::string line; std::getline(file, line);)
            lines.push_back(line);
        return lines;
    }

private:
    std::filesystem::path base_;
    std::filesystem::path root_;
};
