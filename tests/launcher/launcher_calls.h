// The launcher's registry calls, exactly, as each target's driver records
// them: every open asks for 0x20019, as on the handheld.
#pragma once

#include <string>
#include <vector>

#include "facts.h"
#include "registry/call_lines.h"

// The flag is 1: read, then read again, cleared and closed.
const std::vector<std::string> kFlagOneCalls = {
    calls::Open(facts::kFlag, ERROR_SUCCESS, 1),
    calls::QueryDword(1, facts::kFlag, ERROR_SUCCESS),
    calls::Close(1),
    calls::Open(facts::kFlag, ERROR_SUCCESS, 2),
    calls::QueryDword(2, facts::kFlag, ERROR_SUCCESS),
    calls::SetDword(2, facts::kFlag, facts::kFlagCleared),
    calls::Close(2),
};

// No key: it is created (asking for no access), then the cleared flag written.
const std::vector<std::string> kNoKeyCalls = {
    calls::Open(facts::kFlag, ERROR_FILE_NOT_FOUND),
    calls::CreateOwnKey(ERROR_SUCCESS, 1),
    calls::Close(1),
    calls::Open(facts::kFlag, ERROR_SUCCESS, 2),
    calls::QueryDword(2, facts::kFlag, ERROR_FILE_NOT_FOUND),
    calls::SetDword(2, facts::kFlag, facts::kFlagCleared),
    calls::Close(2),
};
