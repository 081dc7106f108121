// Watching the host platform from tests. The platform tells one observer
// (platform/host/observer.h) of what the programs do; the watches here turn
// that into what tests assert on: a list of process starts, USER calls as
// text, the registry calls as text, a save stopped part-way. Several watches may be on at once: each joins the one observer the
// platform is given.
#pragma once

#include <stdio.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "observer.h"
#include "text.h"

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

// ---- The registry: its calls recorded, its saves stopped ---------------

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
    auto rootName = [](HKEY key) -> const char* {
        return key == HKEY_CURRENT_USER    ? "HKEY_CURRENT_USER"
               : key == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE"
                                           : nullptr;
    };
    std::map<HKEY, std::string> names;
    auto name = [&](HKEY key) -> std::string {
        if (const char* root = rootName(key))
            return root;
        if (auto it = names.find(key); it != names.end())
            return it->second;
        char text[32];
        snprintf(text, sizeof text, "%#llx", (unsigned long long)reinterpret_cast<ULONG_PTR>(key));
        return text;
    };
    auto quoted = [](bool given, const std::wstring& text) {
        return given ? "\"" + text::Utf8FromWide(text) + "\"" : std::string("NULL");
    };
    auto pointer = [](bool given, const char* what) { return std::string(given ? what : "NULL"); };
    auto number = [](DWORD n, bool asHex) {
        char text[16];
        snprintf(text, sizeof text, asHex ? "%#x" : "%u", unsigned(n));
        return std::string(n == 0 && asHex ? "0x0" : text);
    };
    auto typeName = [&](DWORD type) {
        switch (type) {
        case REG_SZ: return std::string("REG_SZ");
        case REG_BINARY: return std::string("REG_BINARY");
        case REG_DWORD: return std::string("REG_DWORD");
        default: return number(type, false);
        }
    };

    std::vector<std::string> lines;
    for (const RegCall& call : calls_) {
        std::string line;
        switch (call.function) {
        case RegFunction::OpenKeyEx:
            line = "RegOpenKeyExW(" + name(call.key) + ", " + quoted(call.subkeyGiven, call.subkey) +
                   ", " + number(call.options, false) + ", " + number(call.access, true) +
                   (call.resultGiven ? "" : ", NULL") + ")";
            break;
        case RegFunction::CreateKeyEx:
            line = "RegCreateKeyExW(" + name(call.key) + ", " +
                   quoted(call.subkeyGiven, call.subkey) + ", " + number(call.reserved, false) +
                   ", " + pointer(call.classGiven, "class") + ", " + number(call.options, false) +
                   ", " + number(call.access, true) + ", " +
                   pointer(call.securityGiven, "&security") + ", " +
                   pointer(call.resultGiven, "&key") + ", " +
                   pointer(call.dispositionGiven, "&disposition") + ")";
            break;
        case RegFunction::QueryValueEx:
            line = "RegQueryValueExW(" + name(call.key) + ", " +
                   quoted(call.valueNameGiven, call.valueName) + ", " +
                   pointer(call.reservedGiven, "&reserved") + ", " +
                   pointer(call.typeGiven, "&type") + ", " + pointer(call.dataGiven, "data") +
                   ", " + (call.sizeGiven ? number(call.size, false) : "NULL") + ")";
            break;
        case RegFunction::SetValueEx: {
            std::string bytes = call.dataGiven ? "[" : "NULL";
            for (size_t i = 0; call.dataGiven && i < call.data.size(); ++i) {
                char byte[4];
                snprintf(byte, sizeof byte, i ? " %02x" : "%02x", call.data[i]);
                bytes += byte;
            }
            if (call.dataGiven)
                bytes += "]";
            line = "RegSetValueExW(" + name(call.key) + ", " +
                   quoted(call.valueNameGiven, call.valueName) + ", " +
                   number(call.reserved, false) + ", " + typeName(call.type) + ", " + bytes +
                   ", " + number(call.size, false) + ")";
            break;
        }
        case RegFunction::CloseKey:
            line = "RegCloseKey(" + name(call.key) + ")";
            break;
        }
        line += " = " + std::to_string(call.result);
        if (call.opened && !rootName(call.opened)) {
            std::string& handle = names[call.opened];
            if (handle.empty())
                handle = "h" + std::to_string(names.size());
            line += " -> " + handle;
        }
        lines.push_back(line);
    }
    return lines;
}

// A hook called at each step of a registry save may stop the save there by
// returning false, as a crash at that point would: the temporary file is
// left behind and the change is reported as failed. Null: none.
using SaveHook = bool (*)(SaveStep step);

inline void SetSaveHook(SaveHook hook)
{
    struct HookWatcher : Observer {
        SaveHook hook = nullptr;
        bool SaveReached(SaveStep step) override { return hook(step); }
    };
    static HookWatcher watcher;
    watcher.hook = hook;
    if (hook)
        Watches::Shared().Join(&watcher);
    else
        Watches::Shared().Leave(&watcher);
}

}  // namespace host
