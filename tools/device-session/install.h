// Installing a CE 3.0 cabinet on the emulated device, as the device's
// installer (wceload) does, and following the shortcuts it makes.
#pragma once

#include <string>

#include "cab_header.h"
#include "device/device.h"

namespace session {

// The bytes of the cabinet's file numbered `number` (0: the installation
// header), read by cabextract and no more than `limit` of them. False with
// `problem` when there is no such file, or it is larger.
bool CabinetFile(const std::string& cab, unsigned number, size_t limit, std::string& bytes,
                 std::string& problem);

// Installs the cabinet `cab`: each file into its folder, each shortcut as a
// shortcut file (name.lnk) in its folder; the folders are made when missing.
// The header and every file are read and checked first: a cabinet refused
// writes nothing to the device. False with `problem`, one line.
bool InstallCabinet(const std::string& cab, std::string& problem);

// The folder `path` of the device, reached from its root without following
// a link; made when missing and `create` is set.
host::DeviceFolder DeviceFolderAt(const cab::DevicePath& path, bool create, std::string& problem);

// Whether the device's shell takes the file `name` for a shortcut (.lnk).
bool IsShortcut(const std::string& name);

// Where the shortcut file `name` of `folder` leads: the target's folder and
// name, a regular file inside the device. False with `why`, which reads after
// "<shortcut> is", when the shortcut is missing, no file, malformed, leaves
// the device, or leads to a link, a special file or nothing.
bool FollowShortcut(const host::DeviceFolder& folder, const std::string& name,
                    host::DeviceFolder& targetFolder, std::string& targetName, cab::DevicePath& target,
                    std::string& why);

// The program the shortcut file at `shortcut` leads to, opened for reading
// and left open across exec; -1 with `why` as FollowShortcut tells it.
int OpenShortcut(const cab::DevicePath& shortcut, std::string& why);

}  // namespace session
