// The registry calls a suite expects, built from the facts as the host's
// observer records calls (observer.h); host::Lines writes them through the one
// formatter that writes the recorder's lines and the emulator's trace.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <vector>

#include <windows.h>

#include "facts.h"
#include "support/host_watch.h"

namespace calls {

using Calls = std::vector<host::RegCall>;

// A key handle for an open expected to succeed, never the same twice: the
// formatter names handles h1, h2, ... as they first appear, the expected
// ones as the recorded ones.
inline HKEY NewHandle()
{
    static uintptr_t last = 0x7E570000;
    return reinterpret_cast<HKEY>(last += 4);
}

inline host::RegCall Call(host::RegFunction function, HKEY key, LONG result)
{
    host::RegCall call;
    call.function = function;
    call.key = key;
    call.result = result;
    return call;
}

// An open asking for read access; `opened` is the handle it gives.
inline host::RegCall Open(const facts::Place& at, LONG result, HKEY opened = NULL)
{
    host::RegCall call = Call(host::RegFunction::OpenKeyEx, at.hive, result);
    call.subkey = at.key;
    call.subkeyGiven = call.resultGiven = true;
    call.access = facts::kOpenAccess;
    call.opened = opened;
    return call;
}

// The programs' own key, the flag's, made asking for no access.
inline host::RegCall CreateOwnKey(LONG result, HKEY opened = NULL)
{
    host::RegCall call = Open({facts::kFlag.hive, facts::kFlagKeyCreated, nullptr, nullptr}, result, opened);
    call.function = host::RegFunction::CreateKeyEx;
    call.access = 0;
    call.dispositionGiven = true;
    return call;
}

inline host::RegCall QueryDword(HKEY key, const facts::Place& at, LONG result)
{
    host::RegCall call = Call(host::RegFunction::QueryValueEx, key, result);
    call.valueName = at.value;
    call.valueNameGiven = call.typeGiven = call.dataGiven = call.sizeGiven = true;
    call.size = 4;
    return call;
}

inline host::RegCall SetDword(HKEY key, const facts::Place& at, DWORD value)
{
    host::RegCall call = Call(host::RegFunction::SetValueEx, key, ERROR_SUCCESS);
    call.valueName = at.value;
    call.valueNameGiven = call.dataGiven = true;
    call.type = REG_DWORD;
    call.data = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
    call.size = 4;
    return call;
}

inline host::RegCall Close(HKEY key)
{
    return Call(host::RegFunction::CloseKey, key, ERROR_SUCCESS);
}

inline Calls Join(std::initializer_list<Calls> parts)
{
    Calls all;
    for (const Calls& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ProbeValue: the open, and when it opened the query and the close.
inline Calls Probe(const facts::Place& at, LONG open, LONG query)
{
    if (open != ERROR_SUCCESS)
        return {Open(at, open)};
    const HKEY key = NewHandle();
    return {Open(at, open, key), QueryDword(key, at, query), Close(key)};
}

// WriteDword: the open, and when the key is there the set and the close.
inline Calls Write(const facts::Place& at, DWORD value, bool keyPresent = true)
{
    if (!keyPresent)
        return {Open(at, ERROR_FILE_NOT_FOUND)};
    const HKEY key = NewHandle();
    return {Open(at, ERROR_SUCCESS, key), SetDword(key, at, value), Close(key)};
}

// EnsureFlagKey when its probe failed: the key made and closed.
inline Calls MakeFlagKey()
{
    const HKEY key = NewHandle();
    return {CreateOwnKey(ERROR_SUCCESS, key), Close(key)};
}

// A button's writes as the facts give them, each through a key of its own,
// on a device that has every key.
inline Calls Writes(const facts::Button& button)
{
    Calls calls;
    for (const facts::Write& write : button.writes)
        calls = Join({calls, Write(*write.at, write.value)});
    return calls;
}

}  // namespace calls
