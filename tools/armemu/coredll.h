// COREDLL.dll as the emulated handheld sees it: of the functions Windows CE
// 3.0's COREDLL exports, those our programs import, each by its name and its
// ordinal, served by the host platform's function of the same name over the
// device folder. Nothing CE 3.0 lacks is served (no LockResource). Handles
// and pointers are translated at this edge (the ARM side is 32-bit, strings
// UTF-16 in its memory). The thunks only marshal: what the calls were, the
// host's observer is told by the host's functions (call_lines.h writes it).
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "machine.h"

namespace armemu {

// USER's state for one run (user.cpp): the host's windows, which the ARM side
// knows by small numbers of its own, and the dialogs running.
struct UserState {
    // A dialog of the program's while the host runs it.
    struct Running {
        Machine* machine;
        uint32_t procedure;  // the ARM dialog procedure its messages go to
        HWND window;         // NULL until its first message
    };
    std::vector<HWND> windows;  // ARM handle kFirstWindow + 4 * i
    std::vector<Running> running;  // innermost last
};

// COREDLL for one run of one program: the table of its exports, bound to the
// state it keeps. Whoever runs the program owns it beside the Machine, which
// it must outlive.
class CoreDll {
public:
    // `refusesReset`: the device lacks the restart call, so the restart
    // fails with FALSE, as CE documents for a device without it.
    explicit CoreDll(bool refusesReset = false);
    CoreDll(const CoreDll&) = delete;
    CoreDll& operator=(const CoreDll&) = delete;

    // The exports, for Machine: the kernel's (coredll.cpp) and USER's.
    const std::vector<Export>& exports() const& { return exports_; }
    // A temporary's exports would be bound to state already gone.
    void exports() && = delete;

private:
    UserState user_;
    std::vector<Export> exports_;
};

// USER's exports (user.cpp), each given the state.
struct UserExport {
    const char* name;
    uint16_t ordinal;
    uint32_t (*call)(Machine&, UserState&);
};
extern const std::vector<UserExport> kUserExports;

}  // namespace armemu
