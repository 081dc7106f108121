// Installing a CE 3.0 cabinet on the emulated device, as the device's
// installer (wceload) does, removing what it installed, and following the
// shortcuts it makes.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "cab_header.h"
#include "device/device.h"

namespace session {

// The most a cabinet's files may hold once decompressed, all together, and
// the CPU time its reader (cabextract) is given.
inline constexpr uint64_t kInstallLimit = 32 << 20;
inline constexpr unsigned kReaderSeconds = 20;

// What an install or a removal changed on the device, one file a line:
// "added \Program Files\Velloria\Velloria.exe" (or "replaced", "removed").
// A file replaced by the same bytes is no change.
using Changed = std::vector<std::string>;

// The steps of an install, for the tests: after the cabinet is extracted,
// once every file is checked and staged, after each file moved into place,
// once the install is recorded.
enum class InstallStep { Extracted, Staged, Moved, Recorded };
// Fail: the step fails, and the install is undone as on any failure. Crash:
// the install stops there as a crash would, to be finished or undone by
// FinishInterruptedInstall.
enum class StepOutcome { Go, Fail, Crash };
using InstallHook = std::function<StepOutcome(InstallStep)>;

// Installs the cabinet `cab` as its installer does, all or nothing: the
// cabinet read once, under kInstallLimit and kReaderSeconds, into the
// emulator's private area; every file and shortcut checked against the
// device's limits and the host's, then staged, then moved into place, the
// files it replaces kept aside until it is done. An application of the same
// maker and name installed before is removed in the same move. Files are
// installed as data, never runnable. True with `changed` and, for a cabinet
// the device may refuse, `warning`; false with `problem`, one line naming
// the cabinet, the device as it was.
bool InstallCabinet(const std::string& cab, Changed& changed, std::string& warning, std::string& problem,
                    const InstallHook& hook = {});

// The applications installed, as their records name them: "<maker> <application>".
std::vector<std::string> InstalledApplications();

// Removes the installed application `name` ("<maker> <application>", or the
// application's name alone when only one has it) as Remove Programs does:
// its files and shortcuts, only regular files inside the device and never
// through a link, and the folders it made once they are empty, but never
// one of the device's standard folders. Registry values stay.
bool RemoveApplication(const std::string& name, Changed& changed, std::string& problem);

// Finishes or undoes an install a crash stopped, and clears what staging
// left; makes the device's standard folders (%CE1% to %CE17%). At start.
void PrepareInstalls();

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
