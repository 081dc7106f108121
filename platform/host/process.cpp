// Process start. A device path \A\B.exe names <device folder>/A/B.exe, each
// name matched without regard to case, as the device's file system does. The
// program gets the command line as its single argument and runs on its own:
// it is started from a short-lived middle process, so it never becomes this
// process's child and is never left as its zombie.
//
// As on the handheld, security attributes, handle inheritance, environment,
// current directory and start-up information are not supported and are
// ignored.
#include <windows.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "device.h"
#include "observer.h"
#include "text.h"

namespace {

// The entry of `dir` called `name`, preferring an exact match. Case is
// folded for ASCII letters only.
bool FindName(const std::string& dir, const std::string& name, std::string& found)
{
    DIR* listing = opendir(dir.c_str());
    if (!listing)
        return false;
    bool any = false;
    while (dirent* entry = readdir(listing)) {
        if (name == entry->d_name) {
            found = name;
            any = true;
            break;
        }
        if (!any && strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            any = true;
        }
    }
    closedir(listing);
    return any;
}

// The host path of an executable file at `devicePath`, or false. A path that
// would lead out of the device folder names nothing.
bool HostProgram(LPCWSTR devicePath, std::string& path)
{
    const std::string text = host::text::Utf8FromWide(devicePath);
    std::vector<std::string> names;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos)
            end = text.size();
        std::string name = text.substr(start, end - start);
        if (name == "." || name == ".." || name.find('/') != std::string::npos)
            return false;
        if (!name.empty())
            names.push_back(name);
        start = end + 1;
    }
    if (names.empty())
        return false;

    path = host::DeviceRoot();
    for (const std::string& wanted : names) {
        std::string found;
        if (!FindName(path, wanted, found))
            return false;
        path += '/' + found;
    }
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// What the middle process and the program tell the caller through a pipe.
struct Note {
    enum Kind : int { Started, ForkFailed, ExecFailed } kind;
    int value;  // the program's pid, or errno
};

void Tell(int pipe, Note::Kind kind, int value)
{
    Note note{kind, value};
    while (write(pipe, &note, sizeof note) < 0 && errno == EINTR) {
    }
}

// Starts the program without waiting for it; fills `pid` or returns a
// Windows error code.
DWORD Spawn(const std::string& path, LPCWSTR commandLine, pid_t& pid)
{
    std::string argument = commandLine ? host::text::Utf8FromWide(commandLine) : std::string();
    char* argv[] = {const_cast<char*>(path.c_str()),
                    commandLine ? const_cast<char*>(argument.c_str()) : nullptr, nullptr};

    int notes[2];
    if (pipe2(notes, O_CLOEXEC) != 0)
        return ERROR_NOT_ENOUGH_MEMORY;

    pid_t middle = fork();
    if (middle < 0) {
        close(notes[0]);
        close(notes[1]);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (middle == 0) {
        close(notes[0]);
        pid_t program = fork();
        if (program == 0) {
            execv(path.c_str(), argv);
            Tell(notes[1], Note::ExecFailed, errno);
            _exit(127);
        }
        if (program < 0)
            Tell(notes[1], Note::ForkFailed, errno);
        else
            Tell(notes[1], Note::Started, program);
        _exit(0);
    }

    close(notes[1]);
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }

    // The pipe ends when the middle process has gone and the program has
    // either replaced itself or given up.
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    Note note;
    ssize_t got;
    while ((got = read(notes[0], &note, sizeof note)) != 0) {
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (got != sizeof note)
            break;
        if (note.kind == Note::Started) {
            pid = note.value;
            if (error == ERROR_NOT_ENOUGH_MEMORY)
                error = ERROR_SUCCESS;
        } else if (note.kind == Note::ExecFailed) {
            error = note.value == ENOEXEC ? ERROR_BAD_FORMAT : ERROR_FILE_NOT_FOUND;
        }
    }
    close(notes[0]);
    return error;
}

BOOL Start(LPCWSTR applicationName, LPWSTR commandLine, LPPROCESS_INFORMATION information)
{
    std::string path;
    if (!applicationName || !HostProgram(applicationName, path)) {
        SetLastError(applicationName ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pid_t pid = 0;
    DWORD error = Spawn(path, commandLine, pid);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    if (information) {
        // Handles carry the pid; the main thread's id is the pid on Linux.
        information->hProcess = reinterpret_cast<HANDLE>(ULONG_PTR(pid));
        information->hThread = reinterpret_cast<HANDLE>(ULONG_PTR(pid));
        information->dwProcessId = DWORD(pid);
        information->dwThreadId = DWORD(pid);
    }
    return TRUE;
}

std::optional<std::wstring> Copy(LPCWSTR text)
{
    return text ? std::optional<std::wstring>(text) : std::nullopt;
}

char thisModule;

}  // namespace

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation)
{
    host::ProcessStart call{Copy(lpApplicationName), Copy(lpCommandLine), lpProcessAttributes,
                            lpThreadAttributes, bInheritHandles, dwCreationFlags, lpEnvironment,
                            Copy(lpCurrentDirectory), lpStartupInfo, lpProcessInformation,
                            FALSE, ERROR_SUCCESS};
    BOOL result = Start(lpApplicationName, lpCommandLine, lpProcessInformation);
    if (host::Observer* observer = host::CurrentObserver()) {
        DWORD error = GetLastError();
        call.result = result;
        call.error = result ? ERROR_SUCCESS : error;
        observer->ProcessStarted(call);
        SetLastError(error);
    }
    return result;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    // Only the program itself is a module here.
    if (lpModuleName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return reinterpret_cast<HMODULE>(&thisModule);
}
