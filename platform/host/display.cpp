// The display: the terminal dialogs run on, by default the console through
// ncurses, with the mouse where the terminal reports it. Alt+key arrives as
// Esc followed by the key.
#include <windows.h>

#include <locale.h>
#include <unistd.h>

#include <ncursesw/curses.h>

#include <string>

#include "screen.h"

namespace host {
namespace {

enum Pair : short { kPairCaption = 1, kPairButton, kPairFocus, kPairFrame };

Terminal* g_terminal = nullptr;

class CursesTerminal : public Terminal {
public:
    bool Open() override
    {
        if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))
            return false;
        const char* previous = setlocale(LC_CTYPE, nullptr);
        savedLocale_ = previous ? previous : "C";
        setlocale(LC_CTYPE, "");
        screen_ = newterm(nullptr, stdout, stdin);
        if (!screen_) {
            setlocale(LC_CTYPE, savedLocale_.c_str());
            return false;
        }
        set_term(screen_);
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
    }

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
