// The settings dialog on the host, as the program runs it: CVelloriaDlg's
// modal loop on a terminal of the test's own (terminal_driver.h), over a
// scratch device folder. Runs the dialog's cases and the terminal's.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>

#include "dialog.h"
#include "settings/terminal_driver.h"

namespace {

class DialogCases : public TerminalDriver {
protected:
    DialogCases() : TerminalDriver([](bool&) -> std::optional<INT_PTR> {
        CVelloriaDlg dialog;
        return dialog.DoModal();
    }) {}
};

}  // namespace

#include "dialog_cases.h"
#include "settings/terminal_cases.h"
