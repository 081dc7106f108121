// The host programs the device may start: the build's own, each known by its
// role and place on the device, and the emulator for the handheld's. Nothing
// the device holds is ever handed to exec; a device file in a program's place
// only says that the program is there.
#pragma once

#include <string>

namespace host {

struct HostPrograms {
    std::string controlPanel;  // runs for \Windows\ctlpnl.exe
    std::string launcher;      // runs for \Windows\StartUp\Tarquell.exe; empty: not in this session
    std::string emulator;      // runs a PE for ARM on the emulated StrongARM; empty: none
};

// Handed in at start-up by the program that links this library (the build
// names them; see cmake/build-programs.cmake). Empty members keep what was
// set before.
void UseHostPrograms(const HostPrograms& programs);
const HostPrograms& CurrentHostPrograms();

}  // namespace host
