// The host's CreateProcessW: device paths into the device folder, the
// command line as the only argument, no waiting, no zombie, failures.
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

#include "host_device.h"
#include "host_watch.h"
#include "registry/device_files.h"

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

    // Installs the waiting program at `path`, with its gate in the same folder.
    void InstallWaitingProgram(const std::string& path)
    {
        device_.Write(path, kWaitingProgram, 0755);
        folder_ = (device_.Root() / path).parent_path().string();
        ASSERT_EQ(0, mkfifo((folder_ + "/gate").c_str(), 0600));
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
        int gate = open((folder_ + "/gate").c_str(), O_WRONLY);
        EXPECT_GE(gate, 0);
        std::vector<std::string> notes;
        std::ifstream file(folder_ + "/started");
        for (std::string line; std::getline(file, line);)
            notes.push_back(line);
        if (gate >= 0)
            close(gate);
        return notes;
    }

    HostDevice device_;
    std::string folder_;
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
// error each gets, the process information left unwritten.
struct Refusal {
    const char* name;
    void (*plant)(const HostDevice& device);
    std::vector<const WCHAR*> programs;
    DWORD error;
};

const Refusal kRefusals[] = {
    {"MissingProgramIsFileNotFound", [](const HostDevice& d) { d.Write("Windows/other.exe", kWaitingProgram, 0755); },
     {L"\\Windows\\ctlpnl.exe", L"\\Programs\\ctlpnl.exe"}, ERROR_FILE_NOT_FOUND},
    {"FileThatIsNotExecutableIsFileNotFound",
     [](const HostDevice& d) { d.Write("Windows/ctlpnl.exe", kWaitingProgram, 0644); }, {L"\\Windows\\ctlpnl.exe"},
     ERROR_FILE_NOT_FOUND},
    {"FolderIsFileNotFound", [](const HostDevice& d) { d.Write("Windows/ctlpnl.exe/inside", "", 0755); },
     {L"\\Windows\\ctlpnl.exe", L"\\"}, ERROR_FILE_NOT_FOUND},
    {"PathCannotLeaveTheDeviceFolder",
     [](const HostDevice& d) {
         d.Write("Windows/keep", "");
         std::ofstream(d.Outside() / "outside.exe") << kWaitingProgram;
         chmod((d.Outside() / "outside.exe").c_str(), 0755);
     },
     {L"\\..\\outside.exe", L"\\Windows\\..\\..\\outside.exe", L"\\Windows/../../outside.exe"}, ERROR_FILE_NOT_FOUND},
    {"ExecutableThatIsNoProgramIsBadFormat",
     [](const HostDevice& d) { d.Write("Windows/ctlpnl.exe", "MZ not a program here\n", 0755); },
     {L"\\Windows\\ctlpnl.exe"}, ERROR_BAD_FORMAT},
    {"NoProgramNameIsAnInvalidParameter", [](const HostDevice&) {}, {nullptr}, ERROR_INVALID_PARAMETER},
};

class HostProcessRefusal : public HostProcessStart, public testing::WithParamInterface<Refusal> {};

TEST_P(HostProcessRefusal, FailsWithTheErrorAndWritesNothing)
{
    GetParam().plant(device_);
    for (const WCHAR* program : GetParam().programs) {
        SCOPED_TRACE(program ? testing::PrintToString(std::wstring(program)) : "NULL");
        SetLastError(0);
        EXPECT_FALSE(Start(program));
        EXPECT_EQ(GetParam().error, GetLastError());
        PROCESS_INFORMATION untouched;
        std::memset(&untouched, 0xbd, sizeof untouched);
        EXPECT_EQ(0, std::memcmp(&untouched, &info_, sizeof info_)) << "process information written";
    }
}

INSTANTIATE_TEST_SUITE_P(Host, HostProcessRefusal, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& row) { return std::string(row.param.name); });

// Whatever was left in the device folder, nothing outside it is run, and a
// file that is no program is refused at once with one line on stderr.
TEST(HostProcessPlanted, NeverRunsThroughALinkNorWaitsOnASpecialFile)
{
    using Plant = void (*)(const std::filesystem::path& device, const std::string& outside);
    struct Planted {
        const char* what;
        Plant plant;
    };
    const Planted cases[] = {
        {"the program a link out",
         [](const auto& device, const auto& outside) {
             symlink((outside + "/shell.exe").c_str(), (device / "Windows/ctlpnl.exe").c_str());
         }},
        {"its folder a link out",
         [](const auto& device, const auto& outside) {
             std::filesystem::create_directory(outside + "/win");
             std::filesystem::copy_file(outside + "/shell.exe", outside + "/win/ctlpnl.exe");
             std::filesystem::remove_all(device / "Windows");
             symlink((outside + "/win").c_str(), (device / "Windows").c_str());
         }},
        {"the program a link within the device",
         [](const auto& device, const auto&) {
             std::filesystem::copy_file(device / "Windows/keep.exe", device / "Windows/real.exe");
             symlink("real.exe", (device / "Windows/ctlpnl.exe").c_str());
         }},
        {"the program a FIFO",
         [](const auto& device, const auto&) { mkfifo((device / "Windows/ctlpnl.exe").c_str(), 0755); }},
        {"the program a link to a device node",
         [](const auto& device, const auto&) { symlink("/dev/zero", (device / "Windows/ctlpnl.exe").c_str()); }},
    };
    for (const Planted& planted : cases) {
        SCOPED_TRACE(planted.what);
        HostDevice device;
        const std::string outside = device.Outside().string();
        const std::string escape = "#!/bin/sh\ntouch '" + outside + "/ran'\n";
        device.Write("Windows/keep.exe", escape, 0755);
        std::ofstream(outside + "/shell.exe") << escape;
        chmod((outside + "/shell.exe").c_str(), 0755);
        planted.plant(device.Root(), outside);

        StderrCapture said;
        WCHAR commandLine[] = L"cplmain.cpl,7";
        PROCESS_INFORMATION info = {};
        SetLastError(0);
        const BOOL started = CreateProcessW(L"\\Windows\\ctlpnl.exe", commandLine, NULL, NULL, FALSE,
                                            0, NULL, NULL, NULL, &info);
        const DWORD error = GetLastError();
        const std::string text = said.Finish();
        EXPECT_FALSE(started);
        EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), error);
        EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
        EXPECT_NE(std::string::npos, text.find("ctlpnl.exe")) << text;
        usleep(200000);  // what was started in spite of it has run by now
        EXPECT_FALSE(std::filesystem::exists(outside + "/ran"));
    }
}

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
    const host::ProcessStart& call = recorder.log[0];
    EXPECT_EQ(std::optional<std::wstring>(L"\\Windows\\none.exe"), call.applicationName);
    EXPECT_EQ(std::optional<std::wstring>(L"x,1"), call.commandLine);
    EXPECT_EQ(nullptr, call.processAttributes);
    EXPECT_EQ(nullptr, call.threadAttributes);
    EXPECT_EQ(TRUE, call.inheritHandles);
    EXPECT_EQ(0x10u, call.creationFlags);
    EXPECT_EQ(&environment, call.environment);
    EXPECT_EQ(std::optional<std::wstring>(L"\\Temp"), call.currentDirectory);
    EXPECT_EQ(&startup, call.startupInfo);
    EXPECT_EQ(&info_, call.processInformation);
    EXPECT_EQ(FALSE, call.result);
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), call.error);
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
