// Velloria.exe as desktop Windows runs it: started as its own process under
// Wine on an X display, its dialog found and read from outside, its buttons
// pressed, and Wine's registry read back after each press. Runs the
// dialog's cases, then the desktop's own ways out.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/dialog_driver.h"
#include "facts.h"
#include "support/helpers.h"
#include "support/from_host.h"
#include "velloria_ids.h"

namespace {

// Bounds on waiting for the program, so that a hung dialog fails the test
// instead of the run.
const DWORD kStartBound = 30000;
const DWORD kEndBound = 30000;

// The driver: each Open() starts Velloria.exe afresh, and the program is
// ended at the latest when the test is over.
class DialogCases : public DialogDriver {
protected:
    void SetUp() override
    {
        WCHAR display[256];
        ASSERT_NE(0u, GetEnvironmentVariableW(L"DISPLAY", display, 256))
            << "no X display: run the win32 tests under xvfb-run";
    }
    ~DialogCases() override { DialogCases::Stop(); }

    HWND Dialog() const override { return dialog_; }

    void Stop() override
    {
        if (!process_.hProcess)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, kEndBound);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        process_ = {};
        dialog_ = NULL;
    }

    // The dialog shows itself once OnInitDialog has returned, so a visible
    // dialog is one whose rows are already decided.
    void Open()
    {
        Stop();
        ASSERT_TRUE(StartFromHost(VELLORIA_EXE, process_))
            << "Velloria.exe didn't start: error " << GetLastError();
        WaitForInputIdle(process_.hProcess, kStartBound);
        const ULONGLONG deadline = GetTickCount64() + kStartBound;
        while ((dialog_ = FindDialog()) == NULL || !IsWindowVisible(dialog_)) {
            ASSERT_NE(WaitForSingleObject(process_.hProcess, 20), WAIT_OBJECT_0)
                << "Velloria.exe ended before its dialog showed";
            ASSERT_LE(GetTickCount64(), deadline)
                << "no visible Velloria dialog after " << kStartBound << " ms";
        }
    }

    std::optional<std::wstring> Text(int id) const
    {
        WCHAR text[256] = L"";
        GetWindowTextW(Item(id), text, 256);
        return std::wstring(text);
    }

    // The window with the keyboard's focus in the program's thread.
    HWND Focused() const
    {
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        EXPECT_TRUE(GetGUIThreadInfo(process_.dwThreadId, &gui));
        return gui.hwndFocus;
    }

    int Focus() const { return GetDlgCtrlID(Focused()); }

    std::optional<std::vector<int>> Hidden() const { return std::nullopt; }

    // A click on the button as the button itself takes it: its handler has
    // run when this returns.
    void Press(int id) override
    {
        HWND button = Item(id);
        ASSERT_NE(button, HWND(NULL)) << "no control " << id;
        ASSERT_TRUE(IsWindowVisible(button)) << "a user can't press the hidden " << id;
        DWORD_PTR result;
        ASSERT_TRUE(SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, kEndBound, &result))
            << "button " << id << " didn't take the click";
    }

    // The caption's OK and a cancel as the dialog's commands. (Soft reset
    // just ends the dialog: desktop Windows refuses the restart.)
    void CaptionOk() override { Command(IDOK); }
    void Cancel() override { Command(IDCANCEL); }

    void Command(WORD id) const
    {
        DWORD_PTR result;
        ASSERT_TRUE(SendMessageTimeoutW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0, SMTO_NORMAL,
                                        kEndBound, &result));
    }

    // The program ends with its dialog, with exit code 0.
    facts::Ending End() const
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_.hProcess, kEndBound) != WAIT_OBJECT_0)
            ADD_FAILURE() << "Velloria.exe still runs " << kEndBound << " ms after its dialog ended";
        else
            GetExitCodeProcess(process_.hProcess, &code);
        EXPECT_EQ(0u, code);
        EXPECT_FALSE(IsWindow(dialog_));
        return {code != STILL_ACTIVE, std::nullopt, std::nullopt};
    }

    bool Running() const
    {
        return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
    }

private:
    // The process's dialog captioned as Velloria's; NULL while it has none.
    HWND FindDialog() const
    {
        HWND window = NULL;
        while ((window = FindWindowExW(NULL, window, L"#32770", facts::kDialogCaption)) != NULL) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == process_.dwProcessId)
                return window;
        }
        return NULL;
    }

    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = NULL;
};

}  // namespace

#include "dialog_cases.h"

namespace {

// The desktop's own ways out: the caption's close box, and Escape from the
// keyboard's focus through the dialog's own loop.
TEST_F(DialogCases, Desktop_CloseBoxAndEscapeEndTheProgram)
{
    for (int way = 0; way < 2; ++way) {
        FreshRegistry();
        STOP_ON_FAILURE(EverySetting());
        ASSERT_NO_FATAL_FAILURE(Open());
        ASSERT_TRUE(way == 0 ? PostMessageW(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0)
                             : PostMessageW(Focused(), WM_KEYDOWN, VK_ESCAPE, 1));
        EXPECT_TRUE(End().ended);
        ExpectWritten(HERE, {}, way == 0 ? "the close box" : "Escape");
    }
}

// The messages Velloria's template brings before WM_INITDIALOG, in Wine's
// order: its FONT is set first, as CE's dialog manager and the terminal's
// dialog box do (messages only the desktop sends are not compared).
std::vector<UINT> g_order;

INT_PTR CALLBACK RecordOrder(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_SETFONT && wParam != 0)
        g_order.push_back(message);
    if (message == WM_INITDIALOG) {
        g_order.push_back(message);
        EndDialog(dialog, IDOK);
    }
    return message == WM_INITDIALOG;
}

TEST(WineDialogManager, SetsTheTemplatesFontBeforeWmInitDialog)
{
    const HMODULE velloria = LoadLibraryExW(FromHost(VELLORIA_EXE).c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(velloria, nullptr) << GetLastError();
    const HRSRC found = FindResourceW(velloria, MAKEINTRESOURCEW(IDD_VELLORIA_DIALOG), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    ASSERT_NE(found, nullptr) << GetLastError();
    const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(velloria, found)));
    EXPECT_EQ(IDOK, DialogBoxIndirectParamW(GetModuleHandleW(NULL), dialog, NULL, RecordOrder, 0));
    EXPECT_EQ(std::vector<UINT>({WM_SETFONT, WM_INITDIALOG}), g_order);
    FreeLibrary(velloria);
}

}  // namespace
