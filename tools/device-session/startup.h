// The device's start-up list: the programs in \Windows\StartUp, which the
// handheld's shell runs at each warm start. On the emulated device that is
// the folder Windows/StartUp in the device folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "install.h"

namespace session {

// The device path of the start-up folder.
constexpr const char* kStartUpDevicePath = "\\Windows\\StartUp";

// Gives the device a start-up folder holding the launcher as Tarquell.exe,
// copied from `tarquell`, when it has none or has the other build's (the
// handheld's where the host's belongs, or the other way); with `renew`,
// installs the launcher anew in the folder it has. The cabinet's shortcut to
// the handheld's launcher is taken away; other files in the folder are kept.
// False with `problem` when that failed.
bool InstallStartUp(const std::string& tarquell, bool renew, std::string& problem);

// Installs the handheld's programs from the installation cabinet `cab`, as
// the device's installer does (its shortcut in the start-up folder starts
// the launcher), and takes away the launcher InstallStartUp copied in.
// False with `problem` when the cabinet is refused or a write failed;
// `changed` and `warning` as InstallCabinet tells them.
bool InstallFromCabinet(const std::string& cab, Changed& changed, std::string& warning, std::string& problem);

// The names in the start-up folder, in the order the shell runs them: by
// name, without regard to case.
std::vector<std::string> StartUpNames();

// Runs the start-up programs one after the other, as the handheld does at a
// warm start, each with no command line; waits for each and for what it
// started, and tells on stdout what happened. A program that asked for a
// restart (`restartAsked` says so once it stopped) restarts the device at
// once: the rest are not run, and its entry is returned; else "".
std::string RunStartUp(const std::function<bool()>& restartAsked);

}  // namespace session
