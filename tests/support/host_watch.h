// Watching the host platform from tests. The platform tells one observer
// (platform/host/observer.h) of what the programs do; the watches here turn
// that into what tests assert on: USER calls and the registry calls recorded.
// Several watches may be on at once: each joins the one observer the platform
// is given. A save stopped part-way is no watch: the registry's store is given
// the hook itself (registry_store.h, SetSaveHook), included here for the tests
// that stop one.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "call_lines.h"
#include "observer.h"
#include "registry/registry_store.h"

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

    void RegistryCalled(const RegCall& call) override { Tell(&Observer::RegistryCalled, call); }
    void ProcessStarted(const ProcessStart& start) override { Tell(&Observer::ProcessStarted, start); }
    void UserCalled(const UserCall& call) override { Tell(&Observer::UserCalled, call); }

private:
    // Each event goes to the watches on when it happened, even if one of them
    // joins or leaves meanwhile.
    template <typename Event>
    void Tell(void (Observer::*told)(const Event&), const Event& event)
    {
        for (Observer* watch : std::vector<Observer*>(members_))
            (watch->*told)(event);
    }

    std::vector<Observer*> members_;
};

// Called after each USER call the program makes; null stops it.
inline void WatchUserCalls(std::function<void(const UserCall&)> watcher)
{
    static struct : Observer {
        std::function<void(const UserCall&)> watcher;
        void UserCalled(const UserCall& call) override { watcher(call); }
    } watch;
    watch.watcher = std::move(watcher);
    watch.watcher ? Watches::Shared().Join(&watch) : Watches::Shared().Leave(&watch);
}

// Registry calls as the one formatter writes them (call_lines.h).
inline std::vector<std::string> Lines(const std::vector<RegCall>& calls)
{
    CallLines format;
    std::vector<std::string> lines;
    for (const RegCall& call : calls)
        lines.push_back(format.Line(call));
    return lines;
}

// While a RegistryRecorder lives, every Reg*W call of the process is appended
// to it with its arguments and result; the calls still go to the device's
// registry as usual. Recorders don't nest.
class RegistryRecorder : public Observer {
public:
    RegistryRecorder() { Watches::Shared().Join(this); }
    ~RegistryRecorder() override { Watches::Shared().Leave(this); }
    RegistryRecorder(const RegistryRecorder&) = delete;
    RegistryRecorder& operator=(const RegistryRecorder&) = delete;

    std::vector<std::string> Lines() const { return host::Lines(calls_); }

    void RegistryCalled(const RegCall& call) override { calls_.push_back(call); }

private:
    std::vector<RegCall> calls_;
};

}  // namespace host
