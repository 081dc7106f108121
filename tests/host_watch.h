// Watching the host platform from tests. The platform tells one observer
// (platform/host/observer.h) of what the programs do; the watches here turn
// that into what tests assert on: a list of process starts, USER calls, the
// registry calls as call_lines.h writes them. Several watches may be on at
// once: each joins the one observer the platform is given. A save stopped
// part-way is no watch: the registry's store is given the hook itself
// (registry_store.h, SetSaveHook), included here for the tests that stop one.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "call_lines.h"
#include "observer.h"
#include "registry_store.h"

namespace host {

// ---- The observer the watches share -------------------------------------

class Watches : public Observer {
public:
    static Watches& Shared()
    {
        static Watches watches;
        return watches;
    }

    void Join(Observer* watch)
    {
        Leave(watch);
        members_.push_back(watch);
        SetObserver(this);
    }
    void Leave(Observer* watch)
    {
        members_.erase(std::remove(members_.begin(), members_.end(), watch), members_.end());
        if (members_.empty() && CurrentObserver() == this)
            SetObserver(nullptr);
    }

    // Each event goes to the watches on when it happened, even if one of them
    // joins or leaves meanwhile.
    void RegistryCalled(const RegCall& call) override
    {
        for (Observer* watch : std::vector<Observer*>(members_))
            watch->RegistryCalled(call);
    }
    void ProcessStarted(const ProcessStart& start) override
    {
        for (Observer* watch : std::vector<Observer*>(members_))
            watch->ProcessStarted(start);
    }
    void UserCalled(const UserCall& call) override
    {
        for (Observer* watch : std::vector<Observer*>(members_))
            watch->UserCalled(call);
    }

private:
    std::vector<Observer*> members_;
};

// ---- Process starts -----------------------------------------------------

// While `log` is set, every CreateProcessW call is appended to it with its
// arguments and outcome; nullptr stops recording.
inline void RecordProcessStarts(std::vector<ProcessStart>* log)
{
    struct Recorder : Observer {
        std::vector<ProcessStart>* log = nullptr;
        void ProcessStarted(const ProcessStart& start) override { log->push_back(start); }
    };
    static Recorder recorder;
    recorder.log = log;
    if (log)
        Watches::Shared().Join(&recorder);
    else
        Watches::Shared().Leave(&recorder);
}

// ---- USER calls ---------------------------------------------------------

// Called after each USER call the program makes; null stops it.
inline void WatchUserCalls(std::function<void(const UserCall&)> watcher)
{
    struct Watcher : Observer {
        std::function<void(const UserCall&)> watcher;
        void UserCalled(const UserCall& call) override { watcher(call); }
    };
    static Watcher watch;
    watch.watcher = std::move(watcher);
    if (watch.watcher)
        Watches::Shared().Join(&watch);
    else
        Watches::Shared().Leave(&watch);
}

// ---- The registry's calls recorded --------------------------------------

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
// Lines() are the calls as call_lines.h writes them.
class RegistryRecorder : public Observer {
public:
    RegistryRecorder() { Watches::Shared().Join(this); }
    ~RegistryRecorder() override { Watches::Shared().Leave(this); }
    RegistryRecorder(const RegistryRecorder&) = delete;
    RegistryRecorder& operator=(const RegistryRecorder&) = delete;

    const std::vector<RegCall>& Calls() const { return calls_; }
    std::vector<std::string> Lines() const;
    void Clear() { calls_.clear(); }

    void RegistryCalled(const RegCall& call) override { calls_.push_back(call); }

private:
    std::vector<RegCall> calls_;
};

inline std::vector<std::string> RegistryRecorder::Lines() const
{
    CallLines format;
    std::vector<std::string> lines;
    for (const RegCall& call : calls_)
        lines.push_back(format.Line(call));
    return lines;
}

}  // namespace host
