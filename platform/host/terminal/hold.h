// Who shows on the terminal. The device session hands the programs it
// starts one file, by the descriptor that CE_TERMINAL_HOLD names; whoever
// shows on the terminal, a program's dialog or the session's own lines and
// prompt, holds a lock on it, and whoever comes next waits until it is let
// go. A program started without the session holds nothing and waits for
// nothing. Not part of the Windows API subset.
#pragma once

namespace host {

inline constexpr const char kTerminalHoldVariable[] = "CE_TERMINAL_HOLD";

// The session's: makes the file and names it to every program started from
// now on. False when it can't be made (nothing is then held by anyone).
bool ShareTerminal();

// Waits until nobody else holds the terminal, then holds it.
void HoldTerminal();

void LetGoTerminal();

// Whether somebody else holds it now; asked while this process doesn't.
bool TerminalHeldElsewhere();

}  // namespace host
