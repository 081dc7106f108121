// One seam through which tests and benchmarks watch the host platform: an
// Observer installed here is told of each registry call, process start and
// USER call the programs make. The platform only reports; what a watcher
// makes of it (text, counts, a recorded list) is the watcher's business.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace host {

enum class RegFunction { OpenKeyEx, CreateKeyEx, QueryValueEx, SetValueEx, CloseKey };

// One Reg*W call with its arguments and result.
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

// One CreateProcessW call with its arguments and outcome.
struct ProcessStart {
    std::optional<std::wstring> applicationName;  // nullopt for NULL
    std::optional<std::wstring> commandLine;
    LPSECURITY_ATTRIBUTES processAttributes;
    LPSECURITY_ATTRIBUTES threadAttributes;
    BOOL inheritHandles;
    DWORD creationFlags;
    LPVOID environment;
    std::optional<std::wstring> currentDirectory;
    LPSTARTUPINFOW startupInfo;
    LPPROCESS_INFORMATION processInformation;
    BOOL result;  // CreateProcessW's result
    DWORD error;  // its last error on failure
};

// One USER call of the dialog's: the function, the window it was given (NULL
// for none; still alive while the observer is told) and its other arguments
// in order, pointers and resource names as numbers.
struct UserCall {
    const char* function = "";
    HWND window = NULL;
    std::vector<LONG_PTR> arguments;
};

class Observer {
public:
    virtual ~Observer() = default;
    virtual void RegistryCalled(const RegCall&) {}
    virtual void ProcessStarted(const ProcessStart&) {}
    virtual void UserCalled(const UserCall&) {}
};

// Installs `observer` (null: none) and returns the one it replaces.
Observer* SetObserver(Observer* observer);
Observer* CurrentObserver();

}  // namespace host
