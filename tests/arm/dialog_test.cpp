// The settings dialog of the handheld build: Velloria.exe on the emulated
// StrongARM, in this process, its dialog the host's on a terminal of the
// test's own (terminal_driver.h) with the ARM dialog procedure called back.
// Runs the dialog's cases and the terminal's, the opening's exact calls
// among them: every open asks for 0x20019, with no desktop mending.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "coredll.h"
#include "machine.h"
#include "settings/terminal_driver.h"

namespace {

// The program to its end; the end code is what it gave EndDialog, as the
// host's observer is told of it.
std::optional<INT_PTR> RunVelloria()
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
        armemu::CoreDll coredll;
        armemu::Machine machine(VELLORIA_EXE, coredll.exports());
        EXPECT_EQ(0, machine.RunEntry());
    } catch (const std::exception& error) {
        ADD_FAILURE() << "Velloria.exe stopped: " << error.what();
        watch.code.reset();
    }
    host::Watches::Shared().Leave(&watch);
    return watch.code;
}

class DialogCases : public TerminalDriver {
protected:
    DialogCases() : TerminalDriver(RunVelloria) {}
};

}  // namespace

#include "dialog_cases.h"
#include "settings/terminal_cases.h"
