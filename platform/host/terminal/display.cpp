// The display: the terminal dialogs run on, by default the console through
// ncurses, with the mouse where the terminal reports it. Alt+key arrives as
// Esc followed by the key.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <ncursesw/curses.h>

#include <string.h>

#include <string>

#include "terminal/give_back.h"
#include "terminal/hold.h"
#include "terminal/screen.h"

// After our headers: it defines names such as `columns` as macros.
#include <ncursesw/term.h>

namespace host {
namespace {

enum Pair : short { kPairCaption = 1, kPairButton, kPairFocus, kPairFrame };

Terminal* g_terminal = nullptr;

// What gives the terminal back, set while a dialog is shown: read by the
// signal handler, so plain data only.
struct GivenBack {
    TerminalGiveBack terminal;  // the terminal, output
    int heldError = -1;     // the process's stderr, while lines for it are held
    int held = -1;          // the file they are held in
};
GivenBack g_back;

constexpr int kEndSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
struct sigaction g_previous[sizeof kEndSignals / sizeof kEndSignals[0]];

// Gives stderr back and tells what was held for it. Signal-safe.
void TellHeld()
{
    if (g_back.held < 0)
        return;
    dup2(g_back.heldError, STDERR_FILENO);
    close(g_back.heldError);
    g_back.heldError = -1;
    char buffer[4096];
    ssize_t n;
    lseek(g_back.held, 0, SEEK_SET);
    while ((n = read(g_back.held, buffer, sizeof buffer)) > 0)
        WriteAll(STDERR_FILENO, buffer, size_t(n));
    close(g_back.held);
    g_back.held = -1;
}

// Ends as the signal would have ended it, once the terminal is whole and
// what was held for stderr is told.
void OnEndSignal(int signal)
{
    GiveBackAndRaise(signal, g_back.terminal, TellHeld);
}

void CatchEndSignals()
{
    for (size_t i = 0; i < sizeof kEndSignals / sizeof kEndSignals[0]; ++i) {
        struct sigaction action = {};
        action.sa_handler = OnEndSignal;
        sigfillset(&action.sa_mask);
        sigaction(kEndSignals[i], nullptr, &g_previous[i]);
        // One that was ignored (nohup) stays ignored.
        if (g_previous[i].sa_handler != SIG_IGN)
            sigaction(kEndSignals[i], &action, nullptr);
    }
}

void LeaveEndSignals()
{
    for (size_t i = 0; i < sizeof kEndSignals / sizeof kEndSignals[0]; ++i)
        sigaction(kEndSignals[i], &g_previous[i], nullptr);
}

// A terminfo string, when the terminal has it.
const char* Capability(const char* name)
{
    char* value = tigetstr(const_cast<char*>(name));
    return value == nullptr || value == reinterpret_cast<char*>(-1) ? nullptr : value;
}

// Kept without the delays ("$<2>") a terminfo string may hold: those are
// for tputs, and written as they are they would show as text.
void AddReset(const char* bytes)
{
    if (!bytes)
        return;
    std::string plain;
    for (const char* at = bytes; *at; ++at) {
        const char* close = at[0] == '$' && at[1] == '<' ? strchr(at, '>') : nullptr;
        if (close)
            at = close;
        else
            plain += *at;
    }
    if (g_back.terminal.resetLength + plain.size() <= sizeof g_back.terminal.reset) {
        memcpy(g_back.terminal.reset + g_back.terminal.resetLength, plain.data(), plain.size());
        g_back.terminal.resetLength += plain.size();
    }
}

// Lines the process writes to stderr while the dialog is up would land on
// the dialog: they are held in a file and told when the terminal is given
// back. Only a stderr that is this terminal is held.
void HoldStderr()
{
    if (!isatty(STDERR_FILENO))
        return;
    fflush(stderr);
    FILE* file = tmpfile();
    if (!file)
        return;
    g_back.held = dup(fileno(file));
    fclose(file);
    g_back.heldError = dup(STDERR_FILENO);
    if (g_back.held < 0 || g_back.heldError < 0 || dup2(g_back.held, STDERR_FILENO) < 0) {
        if (g_back.held >= 0)
            close(g_back.held);
        if (g_back.heldError >= 0)
            close(g_back.heldError);
        g_back.held = g_back.heldError = -1;
    }
}

class CursesTerminal : public Terminal {
public:
    bool Open() override
    {
        unusable_ = "no terminal to show the dialog on";
        if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))
            return false;
        const char* type = getenv("TERM");
        const std::string named = std::string("the terminal (TERM=") + (type ? type : "") + ")";
        // A terminal that can't place the cursor would show a garbled dialog,
        // or none: it is refused before anything is drawn.
        int found = 0;
        if (setupterm(nullptr, STDOUT_FILENO, &found) != OK) {
            unusable_ = named + " is not known here, so the dialog can't be shown on it";
            return false;
        }
        const bool addressable = Capability("cup") != nullptr;
        del_curterm(cur_term);
        if (!addressable) {
            unusable_ = named + " can't place the cursor, so the dialog can't be shown on it";
            return false;
        }

        // Another program's dialog, or the session's own lines, keep the
        // terminal until they are done with it.
        HoldTerminal();
        g_back = GivenBack();
        g_back.terminal.fd = STDOUT_FILENO;
        g_back.terminal.haveModes = tcgetattr(STDOUT_FILENO, &g_back.terminal.modes) == 0;
        CatchEndSignals();
        const char* previous = setlocale(LC_CTYPE, nullptr);
        savedLocale_ = previous ? previous : "C";
        setlocale(LC_CTYPE, "");
        screen_ = newterm(nullptr, stdout, stdin);
        if (!screen_) {
            setlocale(LC_CTYPE, savedLocale_.c_str());
            LeaveEndSignals();
            LetGoTerminal();
            g_back.terminal.fd = -1;
            unusable_ = named + " can't be used for the dialog";
            return false;
        }
        set_term(screen_);
        AddReset(Capability("sgr0"));
        if (Capability("kmous"))
            AddReset("\033[?1006l\033[?1003l\033[?1002l\033[?1000l");
        AddReset(Capability("rmkx"));
        AddReset(Capability("cnorm"));
        AddReset(Capability("rmcup"));
        HoldStderr();
        cbreak();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        curs_set(0);
        set_escdelay(25);
        mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
        mouseinterval(0);
        if (has_colors()) {
            start_color();
            init_pair(kPairCaption, COLOR_WHITE, COLOR_BLUE);
            init_pair(kPairButton, COLOR_BLACK, COLOR_WHITE);
            init_pair(kPairFocus, COLOR_BLACK, COLOR_CYAN);
            init_pair(kPairFrame, COLOR_BLUE, COLOR_BLACK);
        }
        return true;
    }

    void Close() override
    {
        if (!screen_)
            return;
        endwin();
        delscreen(screen_);
        screen_ = nullptr;
        setlocale(LC_CTYPE, savedLocale_.c_str());
        TellHeld();
        LeaveEndSignals();
        g_back.terminal.fd = -1;
        LetGoTerminal();
    }

    std::string Unusable() const override { return unusable_; }

    int Columns() const override { return screen_ ? COLS : 80; }
    int Rows() const override { return screen_ ? LINES : 24; }

    void Show(const Canvas& canvas) override
    {
        erase();
        for (int row = 0; row < canvas.Rows() && row < LINES; ++row) {
            for (int col = 0; col < canvas.Columns() && col < COLS; ++col) {
                const Cell& cell = canvas.At(col, row);
                if (cell.look & kLookFrame) {
                    mvadd_wch(row, col, WACS_VLINE);
                    continue;
                }
                wchar_t text[2] = {cell.ch, 0};
                cchar_t out;
                short pair = 0;
                attr_t attrs = Attributes(cell.look, pair);
                setcchar(&out, text, attrs, pair, nullptr);
                mvadd_wch(row, col, &out);
            }
        }
        refresh();
    }

    void Flash(const Canvas& pressed, const Canvas& after) override
    {
        Show(pressed);
        napms(120);
        Show(after);
    }

    InputEvent Next() override
    {
        for (;;) {
            wint_t ch;
            int kind = get_wch(&ch);
            if (kind == ERR)
                return InputEvent::Closed();
            if (kind == KEY_CODE_YES) {
                switch (ch) {
                case KEY_BTAB: return InputEvent::Press(kKeyBackTab);
                case KEY_ENTER: return InputEvent::Press(kKeyEnter);
                case KEY_RESIZE: return InputEvent::Redraw();
                case KEY_MOUSE: {
                    // Of reports that arrive in one read, ncurses keeps the
                    // last: a person's clicks come one at a time.
                    MEVENT mouse;
                    if (getmouse(&mouse) == OK && (mouse.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)))
                        return InputEvent::Click(mouse.x, mouse.y);
                    continue;
                }
                }
                continue;
            }
            if (ch == '\r')
                return InputEvent::Press(kKeyEnter);
            if (ch == kKeyEscape) {
                // Alone, Esc; followed at once by a key, Alt with that key.
                timeout(30);
                wint_t next;
                int nextKind = get_wch(&next);
                timeout(-1);
                if (nextKind == OK)
                    return InputEvent::Press(int(next), true);
                return InputEvent::Press(kKeyEscape);
            }
            return InputEvent::Press(int(ch));
        }
    }

private:
    static attr_t Attributes(unsigned look, short& pair)
    {
        bool colours = has_colors();
        attr_t attrs = A_NORMAL;
        if (look & kLookCaption) {
            pair = kPairCaption;
            attrs = colours ? A_BOLD : A_REVERSE;
        } else if (look & kLookPressed) {
            pair = 0;
            attrs = A_BOLD;
        } else if (look & kLookButton) {
            pair = (look & kLookFocus) ? kPairFocus : kPairButton;
            attrs = colours ? A_NORMAL : A_REVERSE;
            if (look & kLookFocus)
                attrs |= A_BOLD;
        }
        if (look & kLookMnemonic)
            attrs |= A_UNDERLINE;
        if (!colours)
            pair = 0;
        return attrs;
    }

    SCREEN* screen_ = nullptr;
    std::string savedLocale_;
    std::string unusable_;
};

}  // namespace

Terminal& ConsoleTerminal()
{
    static CursesTerminal terminal;
    return terminal;
}

void UseTerminal(Terminal* terminal)
{
    g_terminal = terminal;
}

Terminal& CurrentTerminal()
{
    return g_terminal ? *g_terminal : ConsoleTerminal();
}

}  // namespace host

// The work area is the whole terminal.
BOOL WINAPI SystemParametersInfoW(UINT uiAction, UINT, PVOID pvParam, UINT)
{
    if (uiAction != SPI_GETWORKAREA || !pvParam) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    host::Terminal& terminal = host::CurrentTerminal();
    *static_cast<RECT*>(pvParam) = {0, 0, terminal.Columns(), terminal.Rows()};
    return TRUE;
}
