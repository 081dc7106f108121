// The host's CreateProcessW: device paths into the device's files, only the
// build's programs run, the command line as the only argument, no waiting,
// no zombie, failures.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "host_device.h"
#include "host_programs.h"
#include "host_watch.h"
#include "child_run.h"

namespace {

// Notes its pid, argument count and first argument, then waits at the gate
// until the test lets it go.
const char kWaitingProgram[] =
    "#!/bin/sh\n"
    "exec >/dev/null 2>&1\n"
    "here=$(dirname \"$0\")\n"
    "printf '%s\\n%s\\n%s\\n' $$ $# \"$1\" > \"$here/started\"\n"
    "read line < \"$here/gate\"\n";

class HostProcessStart : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&info_, 0xbd, sizeof info_); }

    void TearDown() override { UseTestProgram("controlPanel", ""); }

    // Puts a file at `path` in the device, and the waiting program, outside
    // the device with its gate, in the build's control panel's place.
    void InstallWaitingProgram(const std::string& path)
    {
        device_.Write(path, "any bytes");
        folder_ = device_.Outside() / "program";
        std::filesystem::create_directory(folder_);
        std::ofstream(folder_ / "waiting") << kWaitingProgram;
        chmod((folder_ / "waiting").c_str(), 0755);
        UseTestProgram("controlPanel", folder_ / "waiting");
        ASSERT_EQ(0, mkfifo((folder_ / "gate").c_str(), 0600));
    }

    BOOL Start(LPCWSTR program, const WCHAR* commandLine = L"cplmain.cpl,7")
    {
        std::wstring line = commandLine ? commandLine : L"";
        return CreateProcessW(program, commandLine ? &line[0] : NULL, NULL, NULL, FALSE, 0, NULL,
                              NULL, NULL, &info_);
    }

    // Opening the gate waits until the program stands at it, so its notes
    // are complete; closing it lets the program end.
    std::vector<std::string> NotesOfWaitingProgram()
    {
        int gate = open((folder_ / "gate").c_str(), O_WRONLY);
        EXPECT_GE(gate, 0);
        std::vector<std::string> notes;
        std::ifstream file(folder_ / "started");
        for (std::string line; std::getline(file, line);)
            notes.push_back(line);
        if (gate >= 0)
            close(gate);
        return notes;
    }

    HostDevice device_;
    std::filesystem::path folder_;  // the waiting program's, outside the device
    PROCESS_INFORMATION info_;
};

// One row a start: where the program is, the name and command line it is
// started by, and the arguments it then notes.
struct Started {
    const char* name;
    const char* installed;
    const WCHAR* program;
    const WCHAR* commandLine;
    std::vector<std::string> arguments;  // their count, then the first
};

const Started kStarts[] = {
    {"GivesTheCommandLineAsTheOnlyArgument", "Windows/ctlpnl.exe", L"\\Windows\\ctlpnl.exe", L"cplmain.cpl,7",
     {"1", "cplmain.cpl,7"}},
    {"MatchesEachNameWithoutRegardToCase", "WINDOWS/CtlPnl.EXE", L"\\windows\\ctlpnl.exe", L"cplmain.cpl,7",
     {"1", "cplmain.cpl,7"}},
    {"PassesNoArgumentForANullCommandLine", "Windows/ctlpnl.exe", L"\\Windows\\ctlpnl.exe", nullptr, {"0", ""}},
};

class HostProcessStarted : public HostProcessStart, public testing::WithParamInterface<Started> {};

TEST_P(HostProcessStarted, RunsWithoutWaitingAndLeavesNoChild)
{
    InstallWaitingProgram(GetParam().installed);
    ASSERT_TRUE(Start(GetParam().program, GetParam().commandLine));
    // Neither the running program nor the process that started it is ours
    // to wait for, so nothing can linger as our zombie.
    errno = 0;
    EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
    EXPECT_EQ(ECHILD, errno);
    // The program is still at its gate: the call did not wait for it.
    std::vector<std::string> expected = {std::to_string(info_.dwProcessId)};
    expected.insert(expected.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    EXPECT_EQ(expected, NotesOfWaitingProgram());
    EXPECT_NE(nullptr, info_.hProcess);
    EXPECT_NE(nullptr, info_.hThread);
}

INSTANTIATE_TEST_SUITE_P(Host, HostProcessStarted, testing::ValuesIn(kStarts),
                         [](const testing::TestParamInfo<Started>& row) { return std::string(row.param.name); });

// One row a refusal: what the device holds, the programs asked for, and the
// error each gets, the process information left unwritten. A link or a
// special file is refused with one line on stderr naming what was asked for;
// nothing else is said. keep.exe in \\Windows and shell.exe outside the
// device, each leaving "ran" outside if run, are there to be planted.
struct Refusal {
    const char* name;
    void (*plant)(const HostDevice& device);
    std::vector<const WCHAR*> programs;
    DWORD error;
};

void Link(const std::filesystem::path& target, const std::filesystem::path& link)
{
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str())) << link;
}

const WCHAR* const kPanel = L"\\Windows\\ctlpnl.exe";

// A PE for ARM, as far as its headers go.
std::string ArmProgram()
{
    std::string pe(0x100, '\0');
    pe[0] = 'M', pe[1] = 'Z', pe[0x3c] = 0x40;
    pe.replace(0x40, 6, std::string("PE\0\0\xc0\x01", 6));
    return pe;
}

const Refusal kRefusals[] = {
    {"MissingProgramIsFileNotFound", [](const HostDevice& d) { d.Write("Windows/other.exe", kWaitingProgram, 0755); },
     {kPanel, L"\\Programs\\ctlpnl.exe"}, ERROR_FILE_NOT_FOUND},
    // Only the build's programs run: a script the device holds, runnable or
    // not, in a program's place or where a shortcut or a start-up entry
    // leads, is no program.
    {"ScriptTheDeviceHoldsIsNoProgram",
     [](const HostDevice& d) { d.Write("Windows/StartUp/run.exe", kWaitingProgram, 0755); },
     {L"\\Windows\\keep.exe", L"\\Windows\\StartUp\\run.exe"}, ERROR_BAD_EXE_FORMAT},
    {"LauncherOutsideASessionOfTheHostsProgramsIsNoProgram",
     [](const HostDevice& d) { d.Write("Windows/StartUp/Tarquell.exe", kWaitingProgram, 0755); },
     {L"\\Windows\\StartUp\\Tarquell.exe"}, ERROR_BAD_EXE_FORMAT},
    {"HandheldProgramWithoutAnEmulatorIsNoProgram",
     [](const HostDevice& d) { d.Write("Program Files/arm.exe", ArmProgram(), 0755); },
     {L"\\Program Files\\arm.exe"}, ERROR_BAD_EXE_FORMAT},
    {"FolderIsFileNotFound", [](const HostDevice& d) { d.Write("Windows/ctlpnl.exe/inside", "", 0755); },
     {kPanel, L"\\"}, ERROR_FILE_NOT_FOUND},
    {"PathCannotLeaveTheDeviceFolder", [](const HostDevice&) {},
     {L"\\..\\shell.exe", L"\\Windows\\..\\..\\shell.exe", L"\\Windows/../../shell.exe"}, ERROR_FILE_NOT_FOUND},
    {"WindowsProgramThatIsNoHandheldsIsNoProgram",
     [](const HostDevice& d) { d.Write("Windows/other.exe", "MZ not a program here\n", 0755); },
     {L"\\Windows\\other.exe"}, ERROR_BAD_EXE_FORMAT},
    {"NoProgramNameIsAnInvalidParameter", [](const HostDevice&) {}, {nullptr}, ERROR_INVALID_PARAMETER},
    // Whatever was left in the device folder, nothing is run through a link
    // nor waited on as a special file.
    {"ProgramALinkOutIsAccessDenied",
     [](const HostDevice& d) { Link(d.Outside() / "shell.exe", d.Files() / "Windows/ctlpnl.exe"); }, {kPanel},
     ERROR_ACCESS_DENIED},
    {"FolderALinkOutIsAccessDenied",
     [](const HostDevice& d) {
         std::filesystem::create_directory(d.Outside() / "win");
         std::filesystem::copy_file(d.Outside() / "shell.exe", d.Outside() / "win/ctlpnl.exe");
         std::filesystem::remove_all(d.Files() / "Windows");
         Link(d.Outside() / "win", d.Files() / "Windows");
     },
     {kPanel}, ERROR_ACCESS_DENIED},
    {"ProgramALinkWithinTheDeviceIsAccessDenied",
     [](const HostDevice& d) { Link("keep.exe", d.Files() / "Windows/ctlpnl.exe"); }, {kPanel}, ERROR_ACCESS_DENIED},
    {"ProgramAFifoIsAccessDenied", [](const HostDevice& d) { mkfifo((d.Files() / "Windows/ctlpnl.exe").c_str(), 0755); },
     {kPanel}, ERROR_ACCESS_DENIED},
    {"ProgramALinkToADeviceNodeIsAccessDenied",
     [](const HostDevice& d) { Link("/dev/zero", d.Files() / "Windows/ctlpnl.exe"); }, {kPanel}, ERROR_ACCESS_DENIED},
};

class HostProcessRefusal : public HostProcessStart, public testing::WithParamInterface<Refusal> {};

TEST_P(HostProcessRefusal, FailsWithTheErrorAndWritesNothing)
{
    const std::filesystem::path ran = device_.Outside() / "ran";
    const std::string escape = "#!/bin/sh\ntouch '" + ran.string() + "'\n";
    device_.Write("Windows/keep.exe", escape, 0755);
    std::ofstream(device_.Outside() / "shell.exe") << escape;
    chmod((device_.Outside() / "shell.exe").c_str(), 0755);
    GetParam().plant(device_);
    const bool tells = GetParam().error == ERROR_ACCESS_DENIED;
    for (const WCHAR* program : GetParam().programs) {
        SCOPED_TRACE(program ? testing::PrintToString(std::wstring(program)) : "NULL");
        StderrCapture said;
        SetLastError(0);
        EXPECT_FALSE(Start(program));
        EXPECT_EQ(GetParam().error, GetLastError());
        const std::string text = said.Finish();
        EXPECT_EQ(tells ? 1 : 0, std::count(text.begin(), text.end(), '\n')) << text;
        EXPECT_EQ(tells, text.find("ctlpnl.exe") != std::string::npos) << text;
        PROCESS_INFORMATION untouched;
        std::memset(&untouched, 0xbd, sizeof untouched);
        EXPECT_EQ(0, std::memcmp(&untouched, &info_, sizeof info_)) << "process information written";
    }
    usleep(200000);  // what was started in spite of it has run by now
    EXPECT_FALSE(std::filesystem::exists(ran));
}

INSTANTIATE_TEST_SUITE_P(Host, HostProcessRefusal, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& row) { return std::string(row.param.name); });

// The test-facing record.

TEST_F(HostProcessStart, RecordsEachCallWithItsArgumentsAndOutcome)
{
    struct : host::Observer {
        std::vector<host::ProcessStart> log;
        void ProcessStarted(const host::ProcessStart& start) override { log.push_back(start); }
    } recorder;
    host::Watches::Shared().Join(&recorder);
    WCHAR commandLine[] = L"x,1";
    STARTUPINFOW startup = {};
    int environment = 0;
    EXPECT_FALSE(CreateProcessW(L"\\Windows\\none.exe", commandLine, NULL, NULL, TRUE, 0x10,
                                &environment, L"\\Temp", &startup, &info_));
    host::Watches::Shared().Leave(&recorder);
    EXPECT_FALSE(Start(L"\\Windows\\none.exe"));

    ASSERT_EQ(1u, recorder.log.size());
    const host::ProcessStart expected = {L"\\Windows\\none.exe", L"x,1", NULL, NULL, TRUE, 0x10, &environment,
                                         L"\\Temp", &startup, &info_, FALSE, ERROR_FILE_NOT_FOUND};
    const auto fields = [](const host::ProcessStart& c) {
        return std::tie(c.applicationName, c.commandLine, c.processAttributes, c.threadAttributes, c.inheritHandles,
                        c.creationFlags, c.environment, c.currentDirectory, c.startupInfo, c.processInformation,
                        c.result, c.error);
    };
    EXPECT_EQ(fields(expected), fields(recorder.log[0]));
}

TEST(HostModule, OnlyTheProgramItselfHasAHandle)
{
    EXPECT_NE(nullptr, GetModuleHandleW(NULL));
    EXPECT_EQ(GetModuleHandleW(NULL), GetModuleHandleW(NULL));
    SetLastError(0);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"coredll.dll"));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
}

}  // namespace
