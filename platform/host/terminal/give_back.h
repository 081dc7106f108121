// Giving the terminal back when an ending signal arrives, for every program
// that changes the terminal: the dialogs' display and the device session.
#pragma once

#include <stddef.h>
#include <termios.h>

namespace host {

// What gives a terminal back: plain data, read from a signal handler.
struct TerminalGiveBack {
    int fd = -1;           // the terminal; -1: nothing to give back
    termios modes;         // as found
    bool haveModes = false;
    char reset[256];       // undoes the screen's modes: attributes, mouse, keypad, cursor, alternate screen
    size_t resetLength = 0;
};

// Writes all of `bytes` to `fd`, as far as it takes them. Signal-safe.
void WriteAll(int fd, const char* bytes, size_t length);

// Writes `back`'s reset to its terminal and sets its modes again; then calls
// `then` (when given); then ends the process as `signal` would have, its
// disposition reset to the default and the signal raised again. For a
// signal handler: everything it does is signal-safe.
void GiveBackAndRaise(int signal, const TerminalGiveBack& back, void (*then)() = nullptr);

}  // namespace host
