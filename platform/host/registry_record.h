// A record of the registry calls a host test makes, for tests that assert
// the exact calls and arguments and not only the end state.
//
// While a RegistryRecorder lives, every Reg*W call of the process is appended
// to it with its arguments and result; the calls still go to the device's
// registry as usual. Recorders don't nest.
//
//   host::RegistryRecorder recorder;
//   ApplyButton(IDC_ANIM_SLOW);
//   EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{
//       "RegOpenKeyExW(HKEY_LOCAL_MACHINE, \"SYSTEM\\GWE\", 0, 0x20019) = 0 -> h1",
//       "RegSetValueExW(h1, \"Animate\", 0, REG_DWORD, [01 00 00 00], 4) = 0",
//       "RegCloseKey(h1) = 0",
//   }));
//
// Lines() names the handles that the recorded calls returned h1, h2, ... in
// order; the hives by their names; any other handle by its number. Pointer
// arguments show whether one was given: NULL, or &type, data, &key, etc.
// A query shows the size word as it was before the call.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

namespace host {

enum class RegFunction { OpenKeyEx, CreateKeyEx, QueryValueEx, SetValueEx, CloseKey };

struct RegCall {
    RegFunction function = RegFunction::OpenKeyEx;
    HKEY key = NULL;               // the hive or handle passed in
    std::wstring subkey;           // OpenKeyEx, CreateKeyEx
    bool subkeyGiven = false;
    DWORD options = 0;             // OpenKeyEx: ulOptions; CreateKeyEx: dwOptions
    REGSAM access = 0;             // OpenKeyEx, CreateKeyEx
    DWORD reserved = 0;            // CreateKeyEx, SetValueEx
    bool reservedGiven = false;    // QueryValueEx: lpReserved was not NULL
    bool classGiven = false;       // CreateKeyEx
    bool securityGiven = false;    // CreateKeyEx
    bool resultGiven = false;      // OpenKeyEx, CreateKeyEx: phkResult
    bool dispositionGiven = false; // CreateKeyEx
    std::wstring valueName;        // QueryValueEx, SetValueEx
    bool valueNameGiven = false;
    bool typeGiven = false;        // QueryValueEx: lpType
    bool dataGiven = false;        // QueryValueEx: lpData; SetValueEx: lpData
    bool sizeGiven = false;        // QueryValueEx: lpcbData
    DWORD type = 0;                // SetValueEx: dwType
    DWORD size = 0;                // QueryValueEx: *lpcbData before; SetValueEx: cbData
    std::vector<BYTE> data;        // SetValueEx: the cbData bytes passed
    HKEY opened = NULL;            // OpenKeyEx, CreateKeyEx: the handle returned
    LONG result = 0;
};

class RegistryRecorder {
public:
    RegistryRecorder();
    ~RegistryRecorder();
    RegistryRecorder(const RegistryRecorder&) = delete;
    RegistryRecorder& operator=(const RegistryRecorder&) = delete;

    const std::vector<RegCall>& Calls() const { return calls_; }
    std::vector<std::string> Lines() const;
    void Clear() { calls_.clear(); }

    void Add(RegCall call) { calls_.push_back(std::move(call)); }
    static RegistryRecorder* Active();

private:
    std::vector<RegCall> calls_;
};

}  // namespace host
