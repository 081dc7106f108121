// The calls the observer is told of, as text lines: one formatter for the
// emulator's trace (armemu --trace) and the tests' records, so that the host
// and the handheld write the same call the same way.
//
//   RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\GWE", 0, 0x20019) = 0 -> h1
//   RegSetValueExW(h1, "Animate", 0, REG_DWORD, [01 00 00 00], 4) = 0
//   CreateProcessW("\Windows\ctlpnl.exe", "cplmain.cpl,7", NULL, ..., &process) = 1
//   ShowWindow 1018 0
//
// Registry handles a call returned are named h1, h2, ... in order; the hives
// by their names; any other handle by its number. Pointer arguments show
// whether one was given: NULL, or &type, data, &key, etc. A query shows the
// size word as it was before the call. A USER call names its window
// "dialog", or a control by its id, and the arguments that tell it apart.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "observer.h"

namespace host {

class CallLines {
public:
    std::string Line(const RegCall& call);
    std::string Line(const ProcessStart& start) const;
    // While the call's window is still alive (as the observer is told).
    std::string Line(const UserCall& call) const;

private:
    std::string Name(HKEY key) const;
    std::map<HKEY, std::string> names_;
};

// An observer that hands each call's line to `sink`.
class CallTrace : public Observer {
public:
    explicit CallTrace(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}
    void RegistryCalled(const RegCall& call) override { sink_(lines_.Line(call)); }
    void ProcessStarted(const ProcessStart& start) override { sink_(lines_.Line(start)); }
    void UserCalled(const UserCall& call) override { sink_(lines_.Line(call)); }

private:
    std::function<void(const std::string&)> sink_;
    CallLines lines_;
};

}  // namespace host
