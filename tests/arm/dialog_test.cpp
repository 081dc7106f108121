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

// Soft reset where the device restarts: the restart call is the program's
// last (no EndDialog, no write). On a device without the call: it fails,
// the dialog ends through OnOK, and no restart is asked for. The flag stays
// as it was either way.
TEST_F(DialogCases, Arm_SoftResetStopsTheProgramUnlessTheDeviceRefusesIt)
{
    const std::string restart = "KernelIoControl " + std::to_string(facts::kRebootCode);
    for (const bool refuses : {false, true})
        for (const DWORD flag : {facts::kFlagCleared, facts::kFlagSet}) {
            SCOPED_TRACE(testing::Message() << "refuses " << refuses << ", flag " << flag);
            refusesReset_ = refuses;
            FreshRegistry();
            STOP_ON_FAILURE(EverySetting());
            SET_PLACE(facts::kFlag, Dword(flag));
            ASSERT_NO_FATAL_FAILURE(Open());
            Traced traced;
            Send(host::InputEvent::Press('r'));  // its mnemonic: no lookup of the test's in the trace
            const facts::Ending ending = End();
            EXPECT_EQ(!refuses, ending.stoppedAtRestart);
            EXPECT_EQ(refuses ? facts::kEndCode : -1, ending.code.value_or(-1));
            std::vector<std::string> calls = {restart};
            if (refuses)
                calls.push_back("EndDialog " + std::to_string(facts::kEndCode));
            EXPECT_EQ(calls, traced.lines);
            EXPECT_EQ(!refuses, std::filesystem::exists(host::DeviceRoot() + "/restart-requested"));
            ExpectWritten(HERE, {{&facts::kFlag, flag}}, "soft reset");
        }
}

}  // namespace
