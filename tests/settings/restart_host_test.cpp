// The host's restart request: only the call the handheld documents asks for
// it; and whatever was left where it goes, it never writes through a link,
// never blocks, and leaves what is no file alone with one line on stderr.
#include <pkfuncs.h>
#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "facts.h"
#include "host_device.h"
#include "registry/device_files.h"

namespace {

// The reboot code with no buffers and no count; anything else is refused
// and asks for nothing. (The call as documented is each planted case's.)
TEST(HostRestart, TakesOnlyTheRebootCallAsDocumented)
{
    HostDevice device;
    device.Write("registry.reg", kRegHead);
    DWORD count = 0;
    BYTE buffer[4];
    const struct {
        DWORD code;
        LPVOID in, out;
        LPDWORD returned;
        DWORD error;
    } refused[] = {
        {facts::kRebootCode + 4, NULL, NULL, NULL, ERROR_NOT_SUPPORTED},
        {facts::kRebootCode, buffer, NULL, NULL, ERROR_INVALID_PARAMETER},
        {facts::kRebootCode, NULL, buffer, NULL, ERROR_INVALID_PARAMETER},
        {facts::kRebootCode, NULL, NULL, &count, ERROR_INVALID_PARAMETER},
    };
    for (const auto& call : refused) {
        SetLastError(0);
        EXPECT_FALSE(KernelIoControl(call.code, call.in, call.in ? sizeof buffer : 0, call.out,
                                     call.out ? sizeof buffer : 0, call.returned));
        EXPECT_EQ(GetLastError(), call.error);
    }
    EXPECT_FALSE(std::filesystem::exists(device.Root() / "restart-requested"));
}

TEST(HostRestartPlanted, WritesTheRequestNewWhateverIsThere)
{
    struct Planted {
        const char* what;
        const char* at;      // in the device folder
        const char* linkTo;  // in the folder outside, or absolute; a FIFO when null
        bool asked;          // whether the request is then written
    };
    const Planted cases[] = {
        {"the request a link to a file outside", "restart-requested", "mine", true},
        {"the request a link to nothing outside", "restart-requested", "new", true},
        {"its temporary file a link outside", "restart-requested.tmp", "mine", true},
        {"the request a FIFO", "restart-requested", nullptr, false},
        {"the request a link to a device node", "restart-requested", "/dev/null", true},
    };
    for (const Planted& planted : cases) {
        SCOPED_TRACE(planted.what);
        HostDevice device;
        const std::string outside = device.Outside().string();
        device.Write("registry.reg", kRegHead);
        std::ofstream(outside + "/mine") << "mine\n";
        const std::string at = (device.Root() / planted.at).string();
        if (!planted.linkTo)
            mkfifo(at.c_str(), 0644);
        else
            symlink((planted.linkTo[0] == '/' ? planted.linkTo : outside + "/" + planted.linkTo).c_str(),
                    at.c_str());

        StderrCapture said;
        alarm(10);  // a call that blocks ends the test here
        SetLastError(0);
        const BOOL asked = KernelIoControl(facts::kRebootCode, NULL, 0, NULL, 0, NULL);
        const DWORD error = GetLastError();
        alarm(0);
        const std::string text = said.Finish();

        EXPECT_EQ(planted.asked, bool(asked));
        struct stat info;
        ASSERT_EQ(0, lstat((device.Root() / "restart-requested").c_str(), &info));
        if (planted.asked) {
            EXPECT_TRUE(S_ISREG(info.st_mode));
            EXPECT_EQ("warm\n", device.Read("restart-requested"));
            EXPECT_EQ("", text);
        } else {
            EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), error);
            EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "left as it was";
            EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
            EXPECT_NE(std::string::npos, text.find("restart-requested")) << text;
        }
        // Written through the private area, which keeps nothing after.
        EXPECT_EQ(std::vector<std::string>{}, FolderEntries(device.Root() / "emulator:"));
        EXPECT_EQ("mine\n", device.Read("../mine")) << "a file outside was written";
        EXPECT_FALSE(std::filesystem::exists(outside + "/new")) << "a file outside was made";
    }
}

}  // namespace
