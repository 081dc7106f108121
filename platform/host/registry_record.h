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

#include "observer.h"  // RegCall

namespace host {

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
