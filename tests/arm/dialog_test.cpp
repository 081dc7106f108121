// The settings dialog of the handheld build: Velloria.exe on the emulated
// StrongARM, in this process, its dialog the host's on a terminal of the
// test's own (terminal_driver.h) with the ARM dialog procedure called back.
// Runs the dialog's cases and the terminal's, the opening's exact calls
// among them: every open asks for 0x20019, with no desktop mending.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "coredll.h"
#include "machine.h"
#include "settings/terminal_driver.h"

namespace {

// The program to its end; the end code is what it gave EndDialog, as the
// host's observer is told of it. A program stopped at the restart call has
// none. `refusesReset`: the device lacks the call.
std::optional<INT_PTR> RunVelloria(bool& stoppedAtRestart, bool refusesReset)
{
    struct EndWatch : host::Observer {
        std::optional<INT_PTR> code;
        void UserCalled(const host::UserCall& call) override
        {
            if (call.function == std::string("EndDialog"))
                code = call.arguments.at(0);
        }
    } watch;
    host::Watches::Shared().Join(&watch);
    try {
        armemu::CoreDll coredll(refusesReset);
        armemu::Machine machine(VELLORIA_EXE, coredll.exports());
        EXPECT_EQ(0, machine.RunEntry());
    } catch (const armemu::Reset&) {
        stoppedAtRestart = true;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "Velloria.exe stopped: " << error.what();
        watch.code.reset();
    }
    host::Watches::Shared().Leave(&watch);
    return watch.code;
}

class DialogCases : public TerminalDriver {
protected:
    DialogCases()
        : TerminalDriver([this](bool& stopped) { return RunVelloria(stopped, refusesReset_); }, true) {}

    bool refusesReset_ = false;
};

}  // namespace

#include "dialog_cases.h"
#include "settings/terminal_cases.h"

namespace {

// Every call the program makes while a test runs, as the trace writes them.
class Traced {
public:
    Traced() { host::Watches::Shared().Join(&trace_); }
    ~Traced() { host::Watches::Shared().Leave(&trace_); }
    std::vector<std::string> lines;

private:
    host::CallTrace trace_{[this](const std::string& line) { lines.push_back(line); }};
};

// Soft reset on a device that restarts: the restart call is the program's
// last; nothing after it runs (no EndDialog, no write), and the flag stays.
TEST_F(DialogCases, Arm_SoftResetStopsTheProgramAtTheRestartCall)
{
    STOP_ON_FAILURE(EverySetting());
    SET_PLACE(facts::kFlag, Dword(facts::kFlagSet));
    ASSERT_NO_FATAL_FAILURE(Open());
    Traced traced;
    Send(host::InputEvent::Press('r'));  // its mnemonic: no lookup of the test's in the trace
    const facts::Ending ending = End();
    EXPECT_TRUE(ending.stoppedAtRestart);
    EXPECT_EQ(std::vector<std::string>{"KernelIoControl " + std::to_string(facts::kRebootCode)}, traced.lines);
    EXPECT_TRUE(std::filesystem::exists(host::DeviceRoot() + "/restart-requested"));
    ExpectWritten(HERE, {{&facts::kFlag, facts::kFlagSet}}, "soft reset");
}

// A device without the restart call: the call fails, the dialog ends through
// OnOK, no restart is asked for, and the flag stays as it was.
TEST_F(DialogCases, Arm_ADeviceRefusingTheRestartEndsTheDialogThroughOnOk)
{
    refusesReset_ = true;
    for (DWORD flag : {facts::kFlagCleared, facts::kFlagSet}) {
        SCOPED_TRACE(flag);
        FreshRegistry();
        STOP_ON_FAILURE(EverySetting());
        SET_PLACE(facts::kFlag, Dword(flag));
        ASSERT_NO_FATAL_FAILURE(Open());
        Traced traced;
        Send(host::InputEvent::Press('r'));  // its mnemonic: no lookup of the test's in the trace
        const facts::Ending ending = End();
        EXPECT_FALSE(ending.stoppedAtRestart);
        EXPECT_EQ(facts::kEndCode, ending.code.value_or(-1));
        EXPECT_EQ(false, ending.restartFirst.value_or(true));
        EXPECT_EQ((std::vector<std::string>{"KernelIoControl " + std::to_string(facts::kRebootCode),
                                            "EndDialog " + std::to_string(facts::kEndCode)}),
                  traced.lines);
        EXPECT_FALSE(std::filesystem::exists(host::DeviceRoot() + "/restart-requested"));
        ExpectWritten(HERE, {{&facts::kFlag, flag}}, "soft reset refused");
    }
}

}  // namespace
