// Host tests: the device folder's registry.reg as bytes, and what the
// registry says on stderr (child_run.h's capture).
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/child_run.h"
#include "device/device.h"
#include "facts.h"
#include "support/host_device.h"
#include "support/reg_text.h"
#include "registry/regfile.h"

// A key's path as registry.reg names it.
inline std::string KeyPath(HKEY hive, const std::wstring& subkey)
{
    return std::string(hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\") +
           host::reg::Utf8FromWide(subkey);
}

inline std::string RegistryPath()
{
    return host::DeviceRoot() + "/registry.reg";
}

inline std::string ReadRegistryFile()
{
    return FileBytes(RegistryPath());
}

// registry.reg as the host reads it.
inline host::reg::Document RegistryDocument()
{
    return ParseReg(ReadRegistryFile());
}

// Whether the device folder's lock is free: taken and let go at once.
inline bool LockIsFree()
{
    const int fd = open(host::DeviceRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        close(fd);
    return free;
}

inline void WriteRegistryFile(const std::string& bytes)
{
    std::ofstream(RegistryPath(), std::ios::binary | std::ios::trunc) << bytes;
}

// `text` with its first `from` made `to`.
inline std::string Swapped(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Every place the programs write, at the value a device ships with, as the
// registry writes it out.
inline std::string FullDeviceText()
{
    std::string text = kRegHead;
    char value[16];
    for (const facts::Place* at : facts::kPlaces) {
        snprintf(value, sizeof value, "%08lx", (unsigned long)facts::ShippedValue(*at));
        text += "[" + KeyPath(at->hive, at->key) + "]\n\"" + host::reg::Utf8FromWide(at->value) +
                "\"=dword:" + value + "\n\n";
    }
    return host::reg::Write(ParseReg(text));
}

inline const std::string kFullDevice = FullDeviceText();

// The full device after "anim slow" (Animate = 1).
inline const std::string kAnimateOn =
    Swapped(kFullDevice, "\"Animate\"=dword:00000000", "\"Animate\"=dword:00000001");
