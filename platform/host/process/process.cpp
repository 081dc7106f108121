// Process start. A device path \A\B.exe names A/B.exe in the device's
// files, each name matched without regard to case, as the device's file
// system does, and none of them a link. What runs is never that file: the
// build's own program for its place on the device (programs.h), or, for a PE
// for ARM, the emulator reading it; anything else is no program
// (ERROR_BAD_EXE_FORMAT). The program gets the command line as its single
// argument and runs on its own: it is started from a short-lived middle
// process, so it never becomes this process's child and is never left as
// its zombie.
//
// As on the handheld, security attributes, handle inheritance, environment,
// current directory and start-up information are not supported and are
// ignored.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "device/device.h"
#include "le_bytes.h"
#include "observer.h"
#include "process/programs.h"
#include "text.h"

// Defined only in test builds: the program a test runs in place of the
// build's one for `role` (a member of HostPrograms, by name), or null.
extern "C" __attribute__((weak)) const char* ZkTestHostProgram(const char* role);

namespace host {
namespace {

HostPrograms& Programs()
{
    static HostPrograms programs;
    return programs;
}

}  // namespace

void UseHostPrograms(const HostPrograms& programs)
{
    for (auto member : {&HostPrograms::controlPanel, &HostPrograms::launcher, &HostPrograms::emulator})
        if (!(programs.*member).empty())
            Programs().*member = programs.*member;
}

const HostPrograms& CurrentHostPrograms()
{
    return Programs();
}

}  // namespace host

namespace {

// The build's programs, by their place on the device.
struct Role {
    const char* name;  // for the tests' hook
    std::string host::HostPrograms::*program;
    std::vector<const char*> place;
};
const Role kRoles[] = {
    {"controlPanel", &host::HostPrograms::controlPanel, {"Windows", "ctlpnl.exe"}},
    {"launcher", &host::HostPrograms::launcher, {"Windows", "StartUp", "Tarquell.exe"}},
};

// The build's program for the device path `names`; empty when there is none.
std::string BuildProgramAt(const std::vector<std::string>& names)
{
    for (const Role& role : kRoles) {
        if (role.place.size() != names.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < names.size(); ++i)
            same = same && host::text::SameName(names[i], role.place[i]);
        if (!same)
            continue;
        if (ZkTestHostProgram)
            if (const char* test = ZkTestHostProgram(role.name))
                return test;
        return host::CurrentHostPrograms().*role.program;
    }
    return "";
}

// Whether the open file `fd` is a PE for ARM, a handheld program.
bool IsArmProgram(int fd)
{
    char bytes[4096];
    const ssize_t n = pread(fd, bytes, sizeof bytes, 0);
    host::LeBytes head(bytes, n < 0 ? 0 : size_t(n));
    const uint32_t pe = head.U32At(0x3c);
    const unsigned machine = head.U16At(pe + 4);
    if (!head.ok() || head.TakeAt(0, 2) != "MZ" || head.TakeAt(pe, 4) != std::string_view("PE\0\0", 4))
        return false;
    return machine == 0x1c0 || machine == 0x1c2;  // ARM, Thumb
}

// A program found in the device folder: its folder, open, and its name there.
struct Program {
    int folder = -1;
    std::string name;
    std::string path;                // the device file's, on the host
    std::vector<std::string> names;  // its device path
    std::string run;                 // the build's program that runs
    int file = -1;                   // the device file, for the emulator to read
    ~Program()
    {
        if (folder >= 0)
            close(folder);
        if (file >= 0)
            close(file);
    }
};

// Finds the program at `devicePath` in the device folder, each name matched
// without regard to case, never through a link: the device has none, and one
// planted there may lead anywhere. A path that would lead out of the folder
// names nothing. Returns ERROR_SUCCESS or the error a start gives.
DWORD FindProgram(LPCWSTR devicePath, Program& program)
{
    const std::string text = host::text::Utf8FromWide(devicePath);
    std::vector<std::string> names;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos)
            end = text.size();
        std::string name = text.substr(start, end - start);
        if (name == "." || name == ".." || name.find('/') != std::string::npos)
            return ERROR_FILE_NOT_FOUND;
        if (!name.empty())
            names.push_back(name);
        start = end + 1;
    }
    if (names.empty())
        return ERROR_FILE_NOT_FOUND;
    program.names = names;

    std::string problem;
    const host::DeviceFolder files = host::DeviceFolder::Files(problem);
    program.path = files.path();
    program.folder = files.ok() ? dup(files.fd()) : -1;
    if (program.folder < 0)
        return ERROR_FILE_NOT_FOUND;
    for (size_t i = 0; i < names.size(); ++i) {
        bool any;
        const std::string found = host::FindEntry(program.folder, names[i], &any);
        if (!any)
            return ERROR_FILE_NOT_FOUND;
        program.path += '/' + found;
        struct stat info;
        if (fstatat(program.folder, found.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return ERROR_FILE_NOT_FOUND;
        const bool last = i + 1 == names.size();
        if (S_ISLNK(info.st_mode) || (last && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))) {
            host::TellDeviceProblem(text + " is not run: " + program.path + " is " + host::KindOf(info.st_mode));
            return ERROR_ACCESS_DENIED;
        }
        if (last) {
            if (!S_ISREG(info.st_mode))
                return ERROR_FILE_NOT_FOUND;
            program.name = found;
            return ERROR_SUCCESS;
        }
        const int next = openat(program.folder, found.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return errno == ELOOP ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        close(program.folder);
        program.folder = next;
    }
    return ERROR_FILE_NOT_FOUND;
}

// What runs for the program found: the build's program for its place, else
// the emulator for a handheld program. Returns ERROR_SUCCESS or the error a
// start gives.
DWORD ChooseRun(Program& program)
{
    program.run = BuildProgramAt(program.names);
    if (!program.run.empty())
        return ERROR_SUCCESS;
    const std::string emulator = host::CurrentHostPrograms().emulator;
    // Read by the emulator from this open file, whatever is put in its place
    // meanwhile; kept across exec.
    program.file = openat(program.folder, program.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (emulator.empty() || program.file < 0 || !IsArmProgram(program.file))
        return ERROR_BAD_EXE_FORMAT;
    program.run = emulator;
    return ERROR_SUCCESS;
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
DWORD Spawn(const Program& program, LPCWSTR commandLine, pid_t& pid)
{
    // The emulator is given the program's file; the build's programs the
    // command line.
    std::string argument = program.file >= 0 ? "/proc/self/fd/" + std::to_string(program.file)
                           : commandLine    ? host::text::Utf8FromWide(commandLine)
                                            : std::string();
    char* argv[] = {const_cast<char*>(program.run.c_str()),
                    commandLine || program.file >= 0 ? const_cast<char*>(argument.c_str()) : nullptr, nullptr};

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
        pid_t started = fork();
        if (started == 0) {
            execve(program.run.c_str(), argv, environ);
            Tell(notes[1], Note::ExecFailed, errno);
            _exit(127);
        }
        if (started < 0)
            Tell(notes[1], Note::ForkFailed, errno);
        else
            Tell(notes[1], Note::Started, started);
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
            error = note.value == ENOEXEC ? ERROR_BAD_FORMAT
                    : note.value == ELOOP ? ERROR_ACCESS_DENIED
                                          : ERROR_FILE_NOT_FOUND;
        }
    }
    close(notes[0]);
    return error;
}

BOOL Start(LPCWSTR applicationName, LPWSTR commandLine, LPPROCESS_INFORMATION information)
{
    if (!applicationName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Program program;
    DWORD error = FindProgram(applicationName, program);
    if (error == ERROR_SUCCESS)
        error = ChooseRun(program);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    pid_t pid = 0;
    error = Spawn(program, commandLine, pid);
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

}  // namespace

unsigned long host::CheckProgram(const std::wstring& devicePath)
{
    Program program;
    const DWORD error = FindProgram(devicePath.c_str(), program);
    return error == ERROR_SUCCESS ? ChooseRun(program) : error;
}

namespace {

std::optional<std::wstring> Copy(LPCWSTR text)
{
    return text ? std::optional<std::wstring>(text) : std::nullopt;
}

}  // namespace

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation)
{
    BOOL result = Start(lpApplicationName, lpCommandLine, lpProcessInformation);
    // The call's record is made only for an observer; Start leaves the
    // strings as they were given.
    if (host::Observer* observer = host::CurrentObserver()) {
        DWORD error = GetLastError();
        observer->ProcessStarted({Copy(lpApplicationName), Copy(lpCommandLine), lpProcessAttributes,
                                  lpThreadAttributes, bInheritHandles, dwCreationFlags, lpEnvironment,
                                  Copy(lpCurrentDirectory), lpStartupInfo, lpProcessInformation,
                                  result, result ? DWORD(ERROR_SUCCESS) : error});
        SetLastError(error);
    }
    return result;
}
