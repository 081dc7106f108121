// The display: the host's dialogs on a character terminal, what the dialog
// box draws and the terminal it draws on and reads input from. Not part of
// the Windows API subset.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace host {

// Keys beyond plain characters.
enum Key : int {
    kKeyTab = '\t',
    kKeyEnter = '\n',
    kKeyEscape = 27,
    kKeySpace = ' ',
    kKeyBackTab = 0x1000,
};

struct InputEvent {
    enum Type { kKey, kClick, kRedraw, kClosed } type = kClosed;
    int key = 0;      // kKey: a character or a Key
    bool alt = false; // kKey: held with Alt
    int column = 0;   // kClick: the cell, from the terminal's top left
    int row = 0;

    static InputEvent Press(int key, bool alt = false) { return {kKey, key, alt, 0, 0}; }
    static InputEvent Click(int column, int row) { return {kClick, 0, false, column, row}; }
    static InputEvent Redraw() { return {kRedraw, 0, false, 0, 0}; }
    static InputEvent Closed() { return {}; }
};

// Cell looks, combined as bits.
enum Look : unsigned {
    kLookPlain = 0,
    kLookCaption = 1,  // the caption bar
    kLookFrame = 2,
    kLookButton = 4,   // a button's face
    kLookFocus = 8,    // the focused button
    kLookPressed = 16, // a button held down
    kLookMnemonic = 32, // the letter of a mnemonic
};

struct Cell {
    wchar_t ch = L' ';
    unsigned look = kLookPlain;
    bool operator==(const Cell& other) const { return ch == other.ch && look == other.look; }
};

class Canvas {
public:
    Canvas(int columns, int rows);

    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    const Cell& At(int column, int row) const { return cells_[size_t(row) * columns_ + column]; }
    // Outside the canvas: dropped. Wide enough for any place a window's
    // rectangle and its dialog's together can name.
    void Put(int64_t column, int64_t row, wchar_t ch, unsigned look);
    std::wstring Text(int row) const;
    bool operator==(const Canvas& other) const;

private:
    int columns_;
    int rows_;
    std::vector<Cell> cells_;
};

class Terminal {
public:
    virtual ~Terminal() = default;
    // False when there is no terminal to show a dialog on; Unusable() then
    // says why.
    virtual bool Open() = 0;
    virtual std::string Unusable() const { return "no terminal to show the dialog on"; }
    virtual void Close() = 0;
    virtual int Columns() const = 0;
    virtual int Rows() const = 0;
    virtual void Show(const Canvas& canvas) = 0;
    // A button press: `pressed` for a moment, then `after`.
    virtual void Flash(const Canvas& pressed, const Canvas& after) = 0;
    // Waits for the next key or click; kRedraw when the terminal changed
    // size, kClosed when input has ended.
    virtual InputEvent Next() = 0;
};

// The process's terminal, drawn with ncurses. While a dialog is shown, the
// process's stderr is held and told once the terminal is given back, and the
// terminal is given back whole however the process ends (hangup, quit,
// interrupt or terminate).
Terminal& ConsoleTerminal();

// The terminal that dialogs run on; null restores the console.
void UseTerminal(Terminal* terminal);
Terminal& CurrentTerminal();

// The running modal dialog, or null.
HWND ActiveDialog();

// Draws a dialog and its visible children; `pressed` is shown held down.
void PaintDialog(HWND dialog, HWND pressed, Canvas& canvas);

}  // namespace host
