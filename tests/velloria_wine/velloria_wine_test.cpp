// Velloria.exe as desktop Windows runs it: started as its own process under
// Wine on an X display, its dialog found and read from outside, its buttons
// pressed, and Wine's registry read back after each press. Runs the
// dialog's cases, then the desktop's own ways out.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "facts.h"
#include "registry/helpers.h"
#include "wine/from_host.h"

namespace {

// Bounds on waiting for the program, so that a hung dialog fails the test
// instead of the run.
const DWORD kStartBound = 30000;
const DWORD kEndBound = 30000;

// One run of Velloria.exe, from its start until its dialog ends or the test
// is over.
class Velloria {
public:
    Velloria()
    {
        started_ = StartFromHost(VELLORIA_EXE, process_);
        if (!started_) {
            ADD_FAILURE() << "Velloria.exe didn't start: error " << GetLastError();
            return;
        }
        WaitForInputIdle(process_.hProcess, kStartBound);
        // The dialog shows itself once OnInitDialog has returned, so a visible
        // dialog is one whose rows are already decided.
        ULONGLONG deadline = GetTickCount64() + kStartBound;
        while ((dialog_ = FindDialog()) == NULL || !IsWindowVisible(dialog_)) {
            if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) {
                ADD_FAILURE() << "Velloria.exe ended before its dialog showed";
                return;
            }
            if (GetTickCount64() > deadline) {
                ADD_FAILURE() << "no visible Velloria dialog after " << kStartBound << " ms";
                return;
            }
        }
    }

    ~Velloria()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, kEndBound);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    Velloria(const Velloria&) = delete;
    Velloria& operator=(const Velloria&) = delete;

    HWND Dialog() const { return dialog_; }

    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    // The window with the keyboard's focus in the program's thread.
    HWND Focused() const
    {
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        EXPECT_TRUE(GetGUIThreadInfo(process_.dwThreadId, &gui));
        return gui.hwndFocus;
    }

    // A click on the button as the button itself takes it: its handler has
    // run when this returns.
    void Press(int id) const
    {
        HWND button = Item(id);
        ASSERT_NE(button, HWND(NULL)) << "no control " << id;
        ASSERT_TRUE(IsWindowVisible(button)) << "a user can't press the hidden " << id;
        DWORD_PTR result;
        ASSERT_TRUE(SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, kEndBound, &result))
            << "button " << id << " didn't take the click";
    }

    void Command(WORD id) const
    {
        DWORD_PTR result;
        ASSERT_TRUE(SendMessageTimeoutW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0,
                                        SMTO_NORMAL, kEndBound, &result));
    }

    // The exit code once the process has ended; fails if it doesn't end.
    DWORD Ended() const
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_.hProcess, kEndBound) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "Velloria.exe still runs " << kEndBound << " ms after its dialog ended";
            return code;
        }
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

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

    bool started_ = false;
    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = NULL;
};

class DialogCases : public DialogDriver {
protected:
    void SetUp() override
    {
        WCHAR display[256];
        ASSERT_NE(0u, GetEnvironmentVariableW(L"DISPLAY", display, 256))
            << "no X display: run the win32 tests under xvfb-run";
    }

    HWND Dialog() const override { return velloria_->Dialog(); }
    void Stop() override { velloria_.reset(); }

    void Open()
    {
        velloria_.reset();
        velloria_ = std::make_unique<Velloria>();
        ASSERT_NE(velloria_->Dialog(), HWND(NULL));
    }

    std::optional<std::wstring> Text(int id) const
    {
        WCHAR text[256] = L"";
        GetWindowTextW(Item(id), text, 256);
        return std::wstring(text);
    }

    int Focus() const { return GetDlgCtrlID(velloria_->Focused()); }

    std::optional<std::vector<int>> Hidden() const { return std::nullopt; }

    void Press(int id) const { velloria_->Press(id); }

    void TakeWayOut(facts::WayOut way) const
    {
        switch (way) {
        case facts::WayOut::Close:
            return velloria_->Press(facts::kClose);
        case facts::WayOut::CaptionOk:
            return velloria_->Command(IDOK);
        case facts::WayOut::Cancel:
            return velloria_->Command(IDCANCEL);
        case facts::WayOut::SoftReset:
            // Desktop Windows refuses the restart, so the dialog just ends.
            return velloria_->Press(facts::kSoftReset);
        }
    }

    // The program ends with its dialog, with exit code 0.
    facts::Ending End() const
    {
        const DWORD code = velloria_->Ended();
        EXPECT_EQ(0u, code);
        EXPECT_FALSE(IsWindow(velloria_->Dialog()));
        return {code != STILL_ACTIVE, std::nullopt, std::nullopt};
    }

    bool Running() const { return velloria_ && velloria_->Running(); }

    std::unique_ptr<Velloria> velloria_;
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
        if (way == 0) {
            ASSERT_TRUE(PostMessageW(velloria_->Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0));
        } else {
            ASSERT_TRUE(PostMessageW(velloria_->Focused(), WM_KEYDOWN, VK_ESCAPE, 1));
        }
        EXPECT_TRUE(End().ended);
        ExpectWritten(HERE, {}, way == 0 ? "the close box" : "Escape");
    }
}

}  // namespace
