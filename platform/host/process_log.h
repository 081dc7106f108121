// For tests: a record of what CreateProcessW was asked to do. Recording
// changes nothing about the start itself.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace host {

struct ProcessStart {
    std::optional<std::wstring> applicationName;  // nullopt for NULL
    std::optional<std::wstring> commandLine;
    LPSECURITY_ATTRIBUTES processAttributes;
    LPSECURITY_ATTRIBUTES threadAttributes;
    BOOL inheritHandles;
    DWORD creationFlags;
    LPVOID environment;
    std::optional<std::wstring> currentDirectory;
    LPSTARTUPINFOW startupInfo;
    LPPROCESS_INFORMATION processInformation;
    // The outcome: CreateProcessW's result, and its last error on failure.
    BOOL result;
    DWORD error;
};

// While `log` is set, every CreateProcessW call is appended to it; nullptr
// stops recording.
void RecordProcessStarts(std::vector<ProcessStart>* log);

}  // namespace host
