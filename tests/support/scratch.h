// What differs between the targets for the registry tests, one file per
// target: scratch_host.cpp and scratch_win32.cpp.
#pragma once

#include <string>

#include <gtest/gtest.h>
#include <windows.h>

// A test's own registry, for as long as this lives. On the host: a new
// device folder whose registry.reg holds no keys. On Windows: the real
// registry; every key the test or the catalogue may create under the
// catalogue's paths and the test root, and every catalogue value, is removed
// again afterwards.
class ScratchRegistry {
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

private:
    struct State;
    State* state_;
};

// A test with a scratch registry of its own.
class ScratchTest : public testing::Test {
protected:
    ScratchRegistry scratch_;
};

// Where tests make their own keys: under HKEY_CURRENT_USER.
constexpr const WCHAR* kTestRoot = L"Software\\ZelkoranTest";

// The name of a key or value as the registry keeps it, found without regard
// to case; empty when there is none.
std::wstring StoredKeyName(HKEY hive, const WCHAR* parent, const WCHAR* name);
std::wstring StoredValueName(HKEY hive, const WCHAR* key, const WCHAR* name);
