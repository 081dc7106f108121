// What every driver of the dialog's cases (dialog_cases.h) shares: a scratch
// registry for each test, and the dialog's controls read from its window
// through the Windows API, which the host's terminal and Wine both answer.
// A driver says where the running dialog is and how to stop it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "facts.h"
#include "registry/scratch.h"

class DialogDriver : public ::testing::Test {
protected:
    // The running dialog's window.
    virtual HWND Dialog() const = 0;
    // Ends the dialog if it still runs.
    virtual void Stop() = 0;

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
        for (int id : facts::AllControls())
            if (IsWindowVisible(Item(id)))
                visible.push_back(id);
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
