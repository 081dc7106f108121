// The host's dialogs on a terminal, driven through the same modal loop the
// programs use: layout from the template, painting, focus and tab order,
// keys, mnemonics, clicks and the caption's OK, presses, and the cases
// where there is no terminal or no input.
#include <limits.h>

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/res_file.h"
#include "scripted_terminal.h"
#include "process/module.h"
#include "text.h"
#include "velloria_ids.h"

namespace {

// Velloria's dialog template, as the program finds it.
const DLGTEMPLATE* VelloriaTemplate()
{
    static const std::vector<BYTE> bytes = Resource(RT_DIALOG, IDD_VELLORIA_DIALOG);
    return reinterpret_cast<const DLGTEMPLATE*>(bytes.data());
}

// A dialog procedure that hides what the test asks for and keeps every
// command it gets; it ends the dialog only on IDOK.
struct Probe {
    std::vector<int> hide;
    bool endOnCancel = false;
    std::vector<std::pair<int, int>> commands;  // id, notification
    std::vector<HWND> senders;
    int initCalls = 0;
    int focusGiven = 0;
    std::function<void()> onClose;  // run on IDC_CLOSE's command, after keeping it
};

Probe* g_probe;
std::vector<std::pair<UINT, WPARAM>> g_messages;  // every message but commands, in order

INT_PTR CALLBACK ProbeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COMMAND)
        g_messages.emplace_back(message, wParam);
    switch (message) {
    case WM_INITDIALOG:
        g_probe = reinterpret_cast<Probe*>(lParam);
        ++g_probe->initCalls;
        g_probe->focusGiven = GetDlgCtrlID(reinterpret_cast<HWND>(wParam));
        for (int id : g_probe->hide)
            ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
        return TRUE;
    case WM_COMMAND:
        g_probe->commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
        g_probe->senders.push_back(reinterpret_cast<HWND>(lParam));
        if (LOWORD(wParam) == IDOK || (LOWORD(wParam) == IDCANCEL && g_probe->endOnCancel))
            EndDialog(dialog, LOWORD(wParam));
        if (Probe* probe = g_probe; LOWORD(wParam) == IDC_CLOSE && probe->onClose) {
            probe->onClose();
            g_probe = probe;  // back from a dialog of its own
        }
        return TRUE;
    }
    return FALSE;
}

// The template, by default Velloria's, run under ProbeProc.
INT_PTR RunProbe(Probe& probe, const void* dialog = VelloriaTemplate())
{
    return DialogBoxIndirectParamW(GetModuleHandleW(NULL), static_cast<const DLGTEMPLATE*>(dialog), NULL,
                                   ProbeProc, reinterpret_cast<LPARAM>(&probe));
}

const std::vector<int> kAnimRow = {1018, 1008, 1009};

TEST(TerminalLayout, TheDialogFitsIn70By15WithEveryControlInItsPlace)
{
    Probe probe;
    ScriptedTerminal terminal;
    std::map<int, RECT> at;
    terminal.beforeEach = [&](size_t) {
        for (int id : {1004, 1006, 1016, 1007, 1017, 1009, 1008, 1024, 1025, 1026, 1027})
            GetWindowRect(GetDlgItem(host::ActiveDialog(), id), &at[id]);
    };
    RunProbe(probe);

    // Not centred by this procedure, the dialog is at the template's (0, 0)
    // (afx_test's runs check its place and size). Cells: x / 2 and y / 11
    // from the controls' top left, rounded, inside a frame column and below
    // the caption bar.
    // In order: 1026's left and top; the tops of 1016, 1007 and 1017; 1016
    // and 1009 in one column (x 66 and 65); 1009's right, 1008's left; 1024's
    // height and width; 1004's top and bottom; 1006's right.
    const std::vector<LONG> cells = {
        at[1026].left, at[1026].top, at[1016].top, at[1007].top, at[1017].top, at[1016].left - at[1009].left,
        at[1009].right, at[1008].left, at[1024].bottom - at[1024].top, at[1024].right - at[1024].left,
        at[1004].top, at[1004].bottom, at[1006].right};
    EXPECT_EQ(cells, (std::vector<LONG>{1, 1, 2, 3, 4, 0, 47, 52, 3, 65, 13, 15, 67}));
    // No two visible controls share a cell.
    for (const auto& [one, a] : at)
        for (const auto& [other, b] : at) {
            bool apart = a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
            EXPECT_TRUE(one >= other || apart) << one << " and " << other;
        }
}

// The first screen, then a press of "slow (save RAM)" (Tab, Tab, Enter),
// which flashes only the button and changes nothing else.
TEST(TerminalPainting, CaptionNoteAndButtonsAsShownAndAPressFlashesOnlyTheButton)
{
    Probe probe;
    probe.hide = kAnimRow;
    ScriptedTerminal terminal({Key(host::kKeyTab), Key(host::kKeyTab), Key(host::kKeyEnter)});
    RunProbe(probe);
    ASSERT_FALSE(terminal.shown.empty());
    const host::Canvas& screen = terminal.shown.front();

    std::wstring caption = screen.Text(0);
    EXPECT_EQ(caption.substr(0, 10), L" Velloria ");
    EXPECT_EQ(caption.substr(63, 5), L"[OK] ");
    EXPECT_TRUE(screen.At(0, 0).look & host::kLookCaption);

    // The note on rows 10 to 12.
    EXPECT_EQ(screen.Text(10).substr(0, 68) + screen.Text(11).substr(0, 68) + screen.Text(12).substr(0, 68),
              L"|You must click the reset button bellow for any changes to take in |"
              L"|effect.  Disable password protection if you rotate the display    |"
              L"|orientation.                                                      |");

    // Mnemonic marks are not drawn; the letter is marked instead.
    std::wstring resetRow = screen.Text(13);
    size_t reset = resetRow.find(L"soft reset");
    ASSERT_NE(reset, std::wstring::npos);
    EXPECT_TRUE(screen.At(int(reset) + 5, 13).look & host::kLookMnemonic);
    EXPECT_TRUE(screen.At(int(reset), 13).look & host::kLookFocus);
    EXPECT_NE(resetRow.find(L"close"), std::wstring::npos);

    // The hidden row leaves its gap.
    EXPECT_EQ(screen.Text(5).substr(0, 68), L"|" + std::wstring(66, L' ') + L"|");

    ASSERT_EQ(terminal.flashes.size(), 1u);
    ASSERT_GE(terminal.shown.size(), 4u);
    const host::Canvas& before = terminal.shown[2];
    const host::Canvas& pressed = terminal.flashes[0].first;
    const host::Canvas& after = terminal.flashes[0].second;
    EXPECT_TRUE(after == before);
    EXPECT_TRUE(terminal.shown[3] == before);

    // The pressed look covers exactly the "slow (save RAM)" button: row 2,
    // columns 33 to 65.
    int changed = 0;
    for (int row = 0; row < before.Rows(); ++row)
        for (int col = 0; col < before.Columns(); ++col)
            if (!(pressed.At(col, row) == before.At(col, row))) {
                ++changed;
                EXPECT_EQ(row, 2);
                EXPECT_GE(col, 33);
                EXPECT_LT(col, 66);
                EXPECT_TRUE(pressed.At(col, row).look & host::kLookPressed);
            }
    EXPECT_EQ(changed, 33);
}

// However large a rectangle a program gives a control, painting walks no
// more of it than the screen shows.
TEST(TerminalPainting, AControlOfAnySizeIsPaintedOnlyWhereTheScreenIs)
{
    const struct {
        const char* what;
        int x, y, cx, cy;
        UINT flags;
        bool reachesTheCorner;  // the button then covers the screen's bottom right
    } sizes[] = {
        {"2^30 cells wide and high", 0, 0, 1 << 30, 1 << 30, SWP_NOMOVE, true},
        {"at the far end of the coordinates", INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, false},
        {"from the near end across them all", INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, false},
    };
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.what);
        Probe probe;
        ScriptedTerminal terminal({Key('x')});  // a key that does nothing: painted again
        terminal.beforeEach = [&](size_t event) {
            if (event == 0)
                SetWindowPos(GetDlgItem(host::ActiveDialog(), IDC_CLOSE), NULL, size.x, size.y, size.cx, size.cy,
                             size.flags | SWP_NOZORDER);
        };
        RunProbe(probe);
        ASSERT_EQ(terminal.shown.size(), 2u);
        EXPECT_EQ(bool(terminal.shown.back().At(79, 23).look & host::kLookButton), size.reachesTheCorner);
    }
}

// What a program's text may hold that the terminal would act on, cursor
// moves and escapes, reordering and line breaks, is shown as '?', both in
// the device's text told on the terminal and in a dialog's cells; what
// merely looks unusual is shown as it is.
TEST(TerminalPainting, ControlAndFormatCharactersShowAsQuestionMarks)
{
    const struct {
        char32_t cp;
        bool shown;
    } table[] = {
        {0x1B, false},   {0x7F, false},   {0x9B, false},   {0x061C, false}, {0x200E, false},
        {0x200F, false}, {0x2028, false}, {0x2029, false}, {0x202A, false}, {0x202E, false},
        {0x2066, false}, {0x2069, false}, {0x20, true},    {0xA0, true},    {0x061B, true},
        {0x200D, true},  {0x2027, true},  {0x202F, true},  {0x2065, true},  {0x206A, true},
        {0x1F600, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << unsigned(row.cp));
        std::string utf8 = "a";
        host::text::AppendUtf8(utf8, row.cp);
        EXPECT_EQ(host::text::Printable(utf8 + "b"), row.shown ? utf8 + "b" : "a?b");
        host::Canvas canvas(2, 1);
        canvas.Put(1, 0, wchar_t(row.cp), host::kLookCaption);
        EXPECT_EQ(canvas.At(1, 0).ch, row.shown ? wchar_t(row.cp) : L'?');
        EXPECT_EQ(canvas.At(1, 0).look, unsigned(host::kLookCaption));
    }
}

// Scripts of keys and clicks on the template under ProbeProc: the commands
// the procedure gets, in order, and the dialog's end. Every run opens the
// terminal once, gives the first focus to soft reset, sends only BN_CLICKED,
// from a control that is gone once the dialog is, and leaves no dialog open.
// On 80 x 24 with no centring the dialog is at (0, 0).
struct Script {
    const char* what;
    std::vector<host::InputEvent> events;
    std::vector<int> commands;
    INT_PTR result = IDCANCEL;
    std::vector<int> hide = {};
    bool endOnCancel = false;
    std::vector<int> focus = {};  // before each event and at the end, where given
    int flashes = -1;             // where given
};

TEST(TerminalInput, EachScriptGivesItsCommandsAndEnd)
{
    std::vector<host::InputEvent> tabs(16, Key(host::kKeyTab));  // then two back
    tabs.insert(tabs.end(), 2, Key(host::kKeyBackTab));
    const Script scripts[] = {
        {"Tab and Shift+Tab follow the template, skipping hidden buttons", tabs, {IDCANCEL},
         IDCANCEL, kAnimRow, false,
         {1004, 1006, 1016, 1017, 1007, 1010, 1011, 1013, 1014, 1022, 1023, 1025, 1027, 1004, 1006,
          1016, 1017, 1016, 1006}},
        {"Enter and Space press the focused button; a carriage return does not",
         {Key(host::kKeyEnter), Key(host::kKeyTab), Key(host::kKeySpace), Key(host::kKeyTab), Key('\r')},
         {1004, 1006, IDCANCEL}, IDCANCEL, {}, false, {}, 2},
        {"mnemonics with and without Alt, then Escape and closed input",
         {Key('r'), Key('R'), Key('r', true), Key('c'), Key('C', true), Key('x'), Key('1'),
          Key(host::kKeyEscape)},
         {1004, 1004, 1004, 1006, 1006, IDCANCEL, IDCANCEL}},
        {"a hidden button takes no mnemonic, click or focus", {Key('c'), Click(50, 19), Key(host::kKeyTab)},
         {IDCANCEL}, IDCANCEL, {IDC_CLOSE}, false, {1004, 1004, 1004, IDC_GLYPH_SLOW}},
        {"Escape sends cancel", {Key(host::kKeyEscape), Key('c')}, {IDCANCEL}, IDCANCEL, {}, true},
        // soft reset, close, rotate; the label, the frame and outside do
        // nothing; the caption's OK is not a control and doesn't flash.
        {"clicks press buttons and the caption's OK",
         {Click(10, 13), Click(40, 14), Click(55, 1), Click(5, 1), Click(0, 8), Click(75, 3), Click(65, 0)},
         {1004, 1006, 1025, IDOK}, IDOK, {}, false, {}, 3},
        {"clicking moves the focus to the button", {Click(40, 14)}, {1006, IDCANCEL}, IDCANCEL, {}, false,
         {1004, IDC_CLOSE}},
        {"closed input cancels and ends even if ignored", {}, {IDCANCEL}},
    };
    for (const Script& script : scripts) {
        SCOPED_TRACE(script.what);
        Probe probe;
        probe.hide = script.hide;
        probe.endOnCancel = script.endOnCancel;
        ScriptedTerminal terminal(script.events);
        std::vector<int> focus;
        terminal.beforeEach = [&](size_t) { focus.push_back(GetDlgCtrlID(GetFocus())); };
        EXPECT_EQ(RunProbe(probe), script.result);
        std::vector<int> ids;
        for (size_t i = 0; i < probe.commands.size(); ++i) {
            ids.push_back(probe.commands[i].first);
            EXPECT_EQ(probe.commands[i].second, BN_CLICKED) << "command " << i;
            if (probe.commands[i].first != IDCANCEL && probe.commands[i].first != IDOK) {
                EXPECT_NE(probe.senders[i], nullptr) << "command " << i;
                EXPECT_EQ(GetDlgCtrlID(probe.senders[i]), 0) << "the control is gone after the dialog";
            }
        }
        EXPECT_EQ(ids, script.commands);
        EXPECT_EQ(probe.focusGiven, IDC_SOFT_RESET);
        EXPECT_EQ(focus, script.focus.empty() ? focus : script.focus);
        EXPECT_EQ(terminal.flashes.size(), script.flashes < 0 ? terminal.flashes.size() : size_t(script.flashes));
        // The terminal opened and closed once, and no dialog left open.
        EXPECT_EQ(std::make_tuple(terminal.opened, terminal.closed, host::ActiveDialog()),
                  std::make_tuple(1, 1, HWND(NULL)));
    }
}

// A template put together by hand: header without a font, no menu, default
// class, the caption, and one control of the given class.
std::vector<WORD> OneControlTemplate(std::vector<WORD> className, std::vector<WORD> caption = {'T', 0})
{
    std::vector<WORD> t = {0x0200, 0x90C8, 0, 0, 1, 0, 0, 100, 50, 0, 0};
    t.insert(t.end(), caption.begin(), caption.end());
    while (t.size() % 2)
        t.push_back(0);
    std::vector<WORD> item = {0, 0x5001, 0, 0, 2, 2, 40, 12, 7};
    t.insert(t.end(), item.begin(), item.end());
    t.insert(t.end(), className.begin(), className.end());
    t.insert(t.end(), {'O', 'K', 0, 0});
    return t;
}

TEST(TerminalTemplates, ClassesByOrdinalOrNameAndNothingElse)
{
    ScriptedTerminal terminal;
    Probe probe;
    probe.endOnCancel = true;
    EXPECT_EQ(RunProbe(probe, OneControlTemplate({'b', 'u', 'T', 't', 'o', 'n', 0}).data()), IDCANCEL);
    SetLastError(0);
    EXPECT_EQ(RunProbe(probe, OneControlTemplate({'E', 'D', 'I', 'T', 0}).data()), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));

    const WORD extended[] = {1, 0xFFFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(RunProbe(probe, extended), -1);
    // Lent without its control's text, a template is not read past its end.
    const std::vector<WORD> cut = OneControlTemplate({0xFFFF, 0x0080});
    const host::LentBytes lent(cut.data(), (cut.size() - 4) * sizeof(WORD));
    EXPECT_EQ(RunProbe(probe, cut.data()), -1);
    EXPECT_EQ(terminal.opened, 1) << "only the usable template reached the terminal";
}

// As CE's dialog manager does: a template naming a font (DS_SETFONT) has a
// font set, one of the terminal's, before WM_INITDIALOG; one without gets
// WM_INITDIALOG first.
TEST(TerminalTemplates, AFontNamedIsSetBeforeWmInitDialog)
{
    const std::vector<WORD> fontless = OneControlTemplate({0xFFFF, 0x0080});
    const struct {
        const char* what;
        const void* dialog;
        std::vector<UINT> first;
    } rows[] = {
        {"Velloria's, with its FONT", VelloriaTemplate(), {WM_SETFONT, WM_INITDIALOG}},
        {"one without a font", fontless.data(), {WM_INITDIALOG}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedTerminal terminal;
        Probe probe;
        probe.endOnCancel = true;
        g_messages.clear();
        EXPECT_EQ(IDCANCEL, RunProbe(probe, row.dialog));
        std::vector<UINT> first;
        for (const auto& [message, wParam] : g_messages) {
            first.push_back(message);
            EXPECT_TRUE(message != WM_SETFONT || wParam != 0) << "a null font";
            if (message == WM_INITDIALOG)
                break;
        }
        EXPECT_EQ(row.first, first);
    }
}

// Without a terminal, one line that names the dialog whatever its caption's
// letters, and a cancel before the dialog starts. (The program's own line
// is velloria_program_test's.)
TEST(TerminalEnd, WithoutATerminalOneLineAndCancel)
{
    const std::vector<WORD> accented = OneControlTemplate({0xFFFF, 0x0080}, {'R', 0xE9, 's', 'u', 'm', 0xE9, 0});
    Probe probe;
    ScriptedTerminal terminal({Key('c')});
    terminal.available = false;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProbe(probe, accented.data()), IDCANCEL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "R\xC3\xA9sum\xC3\xA9: no terminal to show the dialog on; closing it.\n");
    EXPECT_EQ(probe.initCalls, 0);
    EXPECT_TRUE(probe.commands.empty());
    EXPECT_EQ(terminal.closed, 0);
}

// A dialog that opens a second modal dialog from close, as a CE program
// asks something more: the inner runs on the same screen, and its end (the
// caption's OK) returns to the outer, painted again and still open, until
// its own end (Escape).
TEST(TerminalNesting, ClosingADialogOpenedFromADialogReturnsToTheOuter)
{
    ScriptedTerminal terminal({Key('c'), Click(65, 0), Key(host::kKeyEscape)});
    std::vector<HWND> active;
    std::vector<size_t> shown;
    terminal.beforeEach = [&](size_t) {
        active.push_back(host::ActiveDialog());
        shown.push_back(terminal.shown.size());
    };
    Probe outer, inner;
    outer.endOnCancel = true;
    INT_PTR innerResult = 0;
    outer.onClose = [&] { innerResult = RunProbe(inner); };
    EXPECT_EQ(RunProbe(outer), IDCANCEL);
    EXPECT_EQ(innerResult, IDOK);
    EXPECT_EQ(outer.commands,
              (std::vector<std::pair<int, int>>{{IDC_CLOSE, BN_CLICKED}, {IDCANCEL, BN_CLICKED}}));
    EXPECT_EQ(inner.commands, (std::vector<std::pair<int, int>>{{IDOK, BN_CLICKED}}));
    ASSERT_EQ(active.size(), 3u) << "the outer ended with the inner";
    EXPECT_NE(active[1], active[0]);
    EXPECT_EQ(active[2], active[0]);
    EXPECT_GT(shown[2], shown[1]) << "the outer was not painted again";
    EXPECT_EQ(terminal.opened, 1) << "the screen was opened again for the inner";
    EXPECT_EQ(terminal.closed, 1);
    EXPECT_EQ(host::ActiveDialog(), nullptr);
}

TEST(TerminalWindows, HandlesOutsideARunningDialogAreRefused)
{
    Probe probe;
    ScriptedTerminal terminal;
    HWND dialog = nullptr;
    HWND control = nullptr;
    terminal.beforeEach = [&](size_t) {
        dialog = host::ActiveDialog();
        control = GetDlgItem(dialog, IDC_CLOSE);
        SetLastError(0);
        EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CONTROL_ID_NOT_FOUND));
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
        EXPECT_EQ(GetDlgCtrlID(control), IDC_CLOSE);
    };
    RunProbe(probe);
    ASSERT_NE(dialog, nullptr);
    SetLastError(0);
    EXPECT_FALSE(EndDialog(dialog, IDOK));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(ShowWindow(control, SW_SHOW));
    EXPECT_FALSE(IsWindowVisible(control));
    EXPECT_EQ(SendMessageW(dialog, WM_COMMAND, IDOK, 0), 0);
}

}  // namespace
