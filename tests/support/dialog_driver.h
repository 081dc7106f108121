// What every driver of the dialog's cases (dialog_cases.h) shares: a scratch
// registry for each test, and the dialog's controls read from its window
// through the Windows API, which the host's terminal and Wine both answer.
// A driver says where the running dialog is, how to stop it, and how a user
// presses a button, the caption's OK and a cancel there.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "facts.h"
#include "support/scratch.h"

class DialogDriver : public ::testing::Test {
protected:
    // The running dialog's window.
    virtual HWND Dialog() const = 0;
    // Ends the dialog if it still runs.
    virtual void Stop() = 0;
    // Presses the button as a user does; its handler has run on return.
    virtual void Press(int id) = 0;
    virtual void CaptionOk() = 0;
    virtual void Cancel() = 0;

    void TakeWayOut(facts::WayOut way)
    {
        switch (way) {
        case facts::WayOut::Close:
            return Press(facts::kClose);
        case facts::WayOut::CaptionOk:
            return CaptionOk();
        case facts::WayOut::Cancel:
            return Cancel();
        case facts::WayOut::SoftReset:
            return Press(facts::kSoftReset);
        }
    }

    void FreshRegistry()
    {
        Stop();
        scratch_.reset();
        scratch_ = std::make_unique<ScratchRegistry>();
    }

    HWND Item(int id) const { return GetDlgItem(Dialog(), id); }

    std::vector<int> Visible() const
    {
        std::vector<int> visible;
        for (const facts::Control& control : facts::kControls)
            if (IsWindowVisible(Item(control.id)))
                visible.push_back(control.id);
        return visible;
    }

    RECT Rect(int id) const
    {
        RECT rect = {};
        EXPECT_TRUE(GetWindowRect(Item(id), &rect)) << "control " << id;
        return rect;
    }

    std::unique_ptr<ScratchRegistry> scratch_ = std::make_unique<ScratchRegistry>();
};
