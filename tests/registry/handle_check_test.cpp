// CE_HANDLE_CHECK=1: a process that leaves a registry key handle open, closes
// one twice or uses one after its close says so on stderr and exits with
// status 3; one that does none of these exits as it would have.
#include <stdlib.h>

#include <filesystem>

#include <gtest/gtest.h>
#include <windows.h>

#include "device/device.h"
#include "support/scratch.h"

namespace {

class HandleCheck : public ScratchTest {
protected:
    static void SetUpTestSuite()
    {
        // The child re-runs this program, which reads the switch as it starts.
        testing::FLAGS_gtest_death_test_style = "threadsafe";
        setenv("CE_HANDLE_CHECK", "1", 1);
    }
    static void TearDownTestSuite() { unsetenv("CE_HANDLE_CHECK"); }
};

// Ends the child as a program ends, its scratch device tidied away first.
[[noreturn]] void Exit(int status)
{
    std::error_code ignored;
    std::filesystem::remove_all(host::DeviceRoot(), ignored);
    exit(status);
}

HKEY OpenTestRoot()
{
    HKEY key = NULL;
    RegCreateKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, NULL, 0, 0, NULL, &key, NULL);
    return key;
}

TEST_F(HandleCheck, EachMisuseFailsTheProcessWithOneLine)
{
    const struct {
        void (*misuse)();
        const char* said;  // the whole of stderr, after "ce-device: registry key handle "
    } rows[] = {
        {[] { OpenTestRoot(); },
         R"(0x[0-9a-f]+ \(HKEY_CURRENT_USER\\Software\\ZelkoranTest\) still open at exit)"},
        {[] {
             const HKEY key = OpenTestRoot();
             RegCloseKey(key);
             RegCloseKey(key);
         },
         R"(0x[0-9a-f]+ closed twice \(RegCloseKey\))"},
        {[] {
             const HKEY key = OpenTestRoot();
             RegCloseKey(key);
             DWORD size = 4;
             BYTE data[4];
             RegQueryValueExW(key, L"v", NULL, NULL, data, &size);
         },
         R"(0x[0-9a-f]+ used after its close \(RegQueryValueExW\))"},
        {[] {
             RegSetValueExW(reinterpret_cast<HKEY>(ULONG_PTR(0x13)), L"v", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>("\1\0\0\0"), 4);
         },
         R"(0x13 was never opened \(RegSetValueExW\))"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.said);
        EXPECT_EXIT(
            {
                row.misuse();
                Exit(0);
            },
            testing::ExitedWithCode(3), std::string("^ce-device: registry key handle ") + row.said + "\n$");
    }
}

}  // namespace
