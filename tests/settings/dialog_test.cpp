// The settings dialog on the host, as the program runs it: CVelloriaDlg's
// modal loop on a terminal of the test's own (terminal_driver.h), over a
// scratch device folder. Runs the dialog's cases and the terminal's, then
// what only the host shows: the restart stand-in.
#include <gtest/gtest.h>
#include <pkfuncs.h>
#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

#include "device.h"
#include "dialog.h"
#include "facts.h"
#include "settings/terminal_driver.h"

namespace {

class DialogCases : public TerminalDriver {
protected:
    DialogCases() : TerminalDriver([]() -> std::optional<INT_PTR> {
        CVelloriaDlg dialog;
        return dialog.DoModal();
    }) {}
};

}  // namespace

#include "dialog_cases.h"
#include "settings/terminal_cases.h"

namespace {

// The restart stand-in takes only the call the handheld documents.
TEST(Restart, TheHostTakesOnlyTheRebootCallAsDocumented)
{
    ScratchRegistry scratch;
    const std::string request = host::DeviceRoot() + "/restart-requested";
    DWORD count = 0;
    BYTE buffer[4];
    SetLastError(0);
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode + 4, NULL, 0, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode, buffer, sizeof buffer, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode, NULL, 0, buffer, sizeof buffer, NULL));
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode, NULL, 0, NULL, 0, &count));
    EXPECT_FALSE(std::filesystem::exists(request));

    EXPECT_TRUE(KernelIoControl(facts::kRebootCode, NULL, 0, NULL, 0, NULL));
    EXPECT_TRUE(std::filesystem::exists(request));
}

}  // namespace
