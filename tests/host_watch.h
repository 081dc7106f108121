// Watching the host platform from tests. The platform tells one observer
// (platform/host/observer.h) of what the programs do; the watches here turn
// that into what tests assert on: a list of process starts, USER calls as
// text. Several watches may be on at once: each joins the one observer the
// platform is given.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "observer.h"

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
    bool SaveReached(SaveStep step) override
    {
        bool goOn = true;
        for (Observer* watch : std::vector<Observer*>(members_))
            goOn = watch->SaveReached(step) && goOn;
        return goOn;
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

// A USER call as text: the function, then the window ("dialog", or a
// control's id) and the arguments that tell the call apart, e.g.
// "ShowWindow 1018 0", "SendMessageW dialog WM_SETICON 1", "SetWindowPos
// dialog 6 4", "GetDlgItem 1004", "EndDialog 1", "LoadIconW 128".
inline std::string UserCallText(const UserCall& call)
{
    const DWORD error = GetLastError();
    // Only a dialog has a dialog procedure.
    const std::string window =
        GetWindowLongPtrW(call.window, DWLP_DLGPROC) ? "dialog" : std::to_string(GetDlgCtrlID(call.window));
    SetLastError(error);

    const std::string function = call.function;
    const std::vector<LONG_PTR>& a = call.arguments;
    auto message = [](LONG_PTR code) -> std::string {
        switch (code) {
        case WM_CLOSE: return "WM_CLOSE";
        case WM_SETICON: return "WM_SETICON";
        case WM_INITDIALOG: return "WM_INITDIALOG";
        case WM_COMMAND: return "WM_COMMAND";
        }
        char text[16];
        snprintf(text, sizeof text, "0x%04X", unsigned(code));
        return text;
    };
    if (function == "ShowWindow")
        return function + " " + window + " " + std::to_string(a.at(0));
    if (function == "SendMessageW")
        return function + " " + window + " " + message(a.at(0)) + " " + std::to_string(WPARAM(a.at(1)));
    if (function == "SetWindowPos")
        return function + " " + window + " " + std::to_string(a.at(1)) + " " + std::to_string(a.at(2));
    if (function == "LoadIconW")
        return function + " " +
               (IS_INTRESOURCE(a.at(1)) ? std::to_string(ULONG_PTR(a.at(1))) : std::string("name"));
    // GetDlgItem, EndDialog: the one argument after the dialog.
    return function + " " + std::to_string(a.at(0));
}

// Called after each USER call the program makes with the call as text
// (UserCallText); null stops it.
inline void WatchUserCalls(std::function<void(const std::string&)> watcher)
{
    struct Watcher : Observer {
        std::function<void(const std::string&)> watcher;
        void UserCalled(const UserCall& call) override { watcher(UserCallText(call)); }
    };
    static Watcher watch;
    watch.watcher = std::move(watcher);
    if (watch.watcher)
        Watches::Shared().Join(&watch);
    else
        Watches::Shared().Leave(&watch);
}

}  // namespace host
