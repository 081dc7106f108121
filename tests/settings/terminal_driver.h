// The dialog on the host's terminal, for the drivers that run it there: the
// host's own CVelloriaDlg and the handheld's Velloria.exe on the emulated
// StrongARM, whose dialog is the host's with its procedure called back. The
// dialog runs on a thread of its own over a scratch device folder and waits
// in the terminal for each key or click, which the test hands it one at a
// time; between two, the test looks at the dialog and the registry.
//
// A driver defines DialogCases as a TerminalDriver given how to run the
// dialog to its end, then includes dialog_cases.h and terminal_cases.h.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/device.h"
#include "support/dialog_driver.h"
#include "facts.h"
#include "support/host_watch.h"
#include "terminal/screen.h"
#include "settings/scripted_terminal.h"

// A terminal whose input the test hands over one event at a time, from
// another thread than the dialog's.
class LiveTerminal : public ScriptedTerminal {
public:
    // The dialog's side: waits for the test's next event.
    host::InputEvent Next() override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return next_.has_value(); });
        waiting_ = false;
        const host::InputEvent event = *next_;
        next_.reset();
        return event;
    }

    // The test's side: hands over the event, if any, and returns once the
    // dialog has dealt with it and waits again (true), or has ended.
    bool Send(std::optional<host::InputEvent> event = std::nullopt)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (event) {
            next_ = event;
            waiting_ = false;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return (waiting_ && !next_) || ended_; });
        return !ended_;
    }

    void MarkEnded()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<host::InputEvent> next_;
    bool waiting_ = false;
    bool ended_ = false;
};

class TerminalDriver : public DialogDriver {
protected:
    // Runs the dialog to its end on the dialog's thread; its end code, or
    // nullopt when it didn't run or stopped at the restart call (then its
    // argument is set).
    using RunDialog = std::function<std::optional<INT_PTR>(bool& stoppedAtRestart)>;

    // `resetStops`: the program stops at a restart the device carries out.
    explicit TerminalDriver(RunDialog run, bool resetStops = false) : run_(std::move(run)), resetStops_(resetStops) {}
    ~TerminalDriver() override { TerminalDriver::Stop(); }

    HWND Dialog() const override { return host::ActiveDialog(); }

    void Open()
    {
        Stop();
        terminal_ = std::make_unique<LiveTerminal>();
        hidden_.clear();
        opening_.clear();
        restartFirst_ = false;
        stopped_ = false;
        result_.reset();
        inOpening_ = true;
        // The opening's calls as made, registry and USER alike, until the
        // dialog waits for the user.
        host::CallTrace trace([this](const std::string& line) { opening_.push_back(line); });
        host::Watches::Shared().Join(&trace);
        // The watch outlives this function: what it keeps is the fixture's.
        host::WatchUserCalls([this](const host::UserCall& call) {
            const std::string function = call.function;
            if (inOpening_ && function == "ShowWindow" && call.arguments.at(0) == SW_HIDE)
                hidden_.push_back(GetDlgCtrlID(call.window));
            if (function == "EndDialog")
                restartFirst_ = std::filesystem::exists(host::DeviceRoot() + "/restart-requested");
        });
        thread_ = std::thread([this] {
            result_ = run_(stopped_);
            if (stopped_)
                restartFirst_ = std::filesystem::exists(host::DeviceRoot() + "/restart-requested");
            terminal_->MarkEnded();
        });
        running_ = terminal_->Send();  // until it waits for the user
        inOpening_ = false;
        host::Watches::Shared().Leave(&trace);
        ASSERT_TRUE(running_) << "the dialog ended before it waited for the user";
        ASSERT_NE(host::ActiveDialog(), HWND(NULL));
    }

    std::optional<std::wstring> Text(int) const { return std::nullopt; }  // the resource tests read them

    int Focus() const { return GetDlgCtrlID(GetFocus()); }

    std::optional<std::vector<int>> Hidden() const { return hidden_; }

    // A click on the button's first cell.
    void Press(int id) override
    {
        ASSERT_TRUE(running_) << "no dialog to press " << id << " in";
        const RECT rect = Rect(id);
        Send(host::InputEvent::Click(rect.left, rect.top));
    }

    // The caption's OK at its right end.
    void CaptionOk() override
    {
        RECT dialog = {};
        GetWindowRect(host::ActiveDialog(), &dialog);
        Send(host::InputEvent::Click(dialog.right - 2, dialog.top));
    }

    void Cancel() override { Send(host::InputEvent::Press(host::kKeyEscape)); }

    facts::Ending End()
    {
        Stop();
        return {result_.has_value() || stopped_, result_, restartFirst_, stopped_};
    }

    bool Running() const { return running_; }

    bool ResetStops() const { return resetStops_; }

    void Send(const host::InputEvent& event)
    {
        ASSERT_TRUE(running_) << "the dialog has ended";
        running_ = terminal_->Send(event);
    }

    std::vector<std::string> opening_;  // the opening's calls, as text

private:
    // Waits for the dialog's end: closes its input if it still runs.
    void Stop() override
    {
        if (!thread_.joinable())
            return;
        if (running_)
            terminal_->Send(host::InputEvent::Closed());
        thread_.join();
        running_ = false;
        host::WatchUserCalls(nullptr);
        terminal_.reset();
    }

    RunDialog run_;
    std::unique_ptr<LiveTerminal> terminal_;
    std::thread thread_;
    bool running_ = false;
    std::atomic<bool> inOpening_{false};
    std::vector<int> hidden_;
    bool restartFirst_ = false;
    bool stopped_ = false;
    const bool resetStops_;
    std::optional<INT_PTR> result_;
};
