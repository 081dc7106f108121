// The launcher's calls, exactly, as each target's driver records them: every
// open asks for 0x20019, as on the handheld.
#pragma once

#include <string>
#include <vector>

#include "facts.h"
#include "registry/expected_calls.h"

// The flag cleared: its key opened, the flag read (`found` or not), set and
// the key closed.
inline calls::Calls ClearFlag(LONG found)
{
    const HKEY key = calls::NewHandle();
    return {calls::Open(facts::kFlag, ERROR_SUCCESS, key), calls::QueryDword(key, facts::kFlag, found),
            calls::SetDword(key, facts::kFlag, facts::kFlagCleared), calls::Close(key)};
}

// The flag is 1: read, then read again, cleared and closed.
inline const std::vector<std::string> kFlagOneCalls =
    host::Lines(calls::Join({calls::Probe(facts::kFlag, ERROR_SUCCESS, ERROR_SUCCESS), ClearFlag(ERROR_SUCCESS)}));

// Then the alignment page is started: no start-up information, as on the
// handheld; the control panel's handles are asked for and kept.
inline const std::string kStartLine =
    R"(CreateProcessW("\Windows\ctlpnl.exe", "cplmain.cpl,7", NULL, NULL, 0, 0x0, NULL, NULL, NULL, &process) = 1)";

// No key: it is created (asking for no access), then the cleared flag written.
inline const std::vector<std::string> kNoKeyCalls = host::Lines(calls::Join(
    {calls::Probe(facts::kFlag, ERROR_FILE_NOT_FOUND, 0), calls::CreateFlagKey(), ClearFlag(ERROR_FILE_NOT_FOUND)}));
