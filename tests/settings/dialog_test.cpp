// The settings dialog on the host, as the program runs it: CVelloriaDlg's
// modal loop on a terminal of the test's own, over a scratch device folder.
// The loop runs on a thread of its own and waits in the terminal for each
// key or click, which the test hands it one at a time; between two, the test
// looks at the dialog and the registry. Runs the dialog's cases, then what
// only the host shows: the exact calls of the opening, its keys and mouse,
// and the restart stand-in.
#include <gtest/gtest.h>
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device.h"
#include "dialog.h"
#include "facts.h"
#include "host_watch.h"
#include "registry/helpers.h"
#include "registry/scratch.h"
#include "restart.h"
#include "screen.h"

namespace {

// A terminal whose input the test hands over one event at a time.
class LiveTerminal : public host::Terminal {
public:
    bool Open() override { return true; }
    void Close() override {}
    int Columns() const override { return 80; }
    int Rows() const override { return 24; }
    void Show(const host::Canvas&) override {}
    void Flash(const host::Canvas&, const host::Canvas&) override {}

    // The dialog's side: waits for the test's next event.
    host::InputEvent Next() override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !events_.empty(); });
        waiting_ = false;
        host::InputEvent event = events_.front();
        events_.pop_front();
        return event;
    }

    // The test's side: hands over an event, and returns once the dialog has
    // dealt with it and waits again, or has ended.
    void Send(const host::InputEvent& event)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        events_.push_back(event);
        waiting_ = false;
        changed_.notify_all();
        changed_.wait(lock, [this] { return (waiting_ && events_.empty()) || ended_; });
    }

    // Returns once the dialog waits for input or has ended; true if it waits.
    bool Settle()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return waiting_ || ended_; });
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
    std::deque<host::InputEvent> events_;
    bool waiting_ = false;
    bool ended_ = false;
};

class DialogCases : public ::testing::Test {
protected:
    ~DialogCases() override { Join(); }

    void FreshRegistry()
    {
        Join();
        scratch_.reset();
        scratch_ = std::make_unique<ScratchRegistry>();
    }

    void Open()
    {
        Join();
        terminal_ = std::make_unique<LiveTerminal>();
        hidden_.clear();
        opening_.clear();
        restartFirst_ = false;
        result_.reset();
        recorder_ = std::make_unique<host::RegistryRecorder>();
        size_t seen = 0;
        bool open = true;
        // The opening's registry and USER calls, in the order made.
        auto catchUp = [this, &seen] {
            const std::vector<std::string> lines = recorder_->Lines();
            for (; seen < lines.size(); ++seen)
                opening_.push_back(lines[seen]);
        };
        host::WatchUserCalls([this, &open, catchUp](const std::string& call) {
            if (open) {
                catchUp();
                opening_.push_back(call);
                if (call.rfind("ShowWindow ", 0) == 0 && call.compare(call.size() - 2, 2, " 0") == 0)
                    hidden_.push_back(std::stoi(call.substr(11)));
            }
            if (call.rfind("EndDialog", 0) == 0)
                restartFirst_ = std::filesystem::exists(host::DeviceRoot() + "/restart-requested");
        });
        host::UseTerminal(terminal_.get());
        thread_ = std::thread([this] {
            CVelloriaDlg dialog;
            result_ = dialog.DoModal();
            terminal_->MarkEnded();
        });
        running_ = terminal_->Settle();
        catchUp();
        open = false;
        recorder_.reset();
        ASSERT_TRUE(running_) << "the dialog ended before it waited for the user";
        ASSERT_NE(host::ActiveDialog(), HWND(NULL));
    }

    std::vector<int> Visible() const
    {
        std::vector<int> visible;
        for (int id : facts::AllControls())
            if (IsWindowVisible(Item(id)))
                visible.push_back(id);
        return visible;
    }

    std::optional<std::wstring> Text(int) const { return std::nullopt; }  // the resource test reads them

    RECT Rect(int id) const
    {
        RECT rect = {};
        EXPECT_TRUE(GetWindowRect(Item(id), &rect)) << "control " << id;
        return rect;
    }

    int Focus() const { return GetDlgCtrlID(GetFocus()); }

    std::optional<std::vector<int>> Hidden() const { return hidden_; }

    // A click on the button's first cell.
    void Press(int id)
    {
        ASSERT_TRUE(running_) << "no dialog to press " << id << " in";
        const RECT rect = Rect(id);
        Send(host::InputEvent::Click(rect.left, rect.top));
    }

    void TakeWayOut(facts::WayOut way)
    {
        RECT dialog = {};
        switch (way) {
        case facts::WayOut::Close:
            return Press(facts::kClose);
        case facts::WayOut::CaptionOk:
            GetWindowRect(host::ActiveDialog(), &dialog);
            return Send(host::InputEvent::Click(dialog.right - 2, dialog.top));
        case facts::WayOut::Cancel:
            return Send(host::InputEvent::Press(host::kKeyEscape));
        case facts::WayOut::SoftReset:
            return Press(facts::kSoftReset);
        }
    }

    facts::Ending End()
    {
        Join();
        return {result_.has_value(), result_, restartFirst_};
    }

    bool Running() const { return running_; }

    void Send(const host::InputEvent& event)
    {
        ASSERT_TRUE(running_) << "the dialog has ended";
        terminal_->Send(event);
        running_ = terminal_->Settle();
    }

    std::unique_ptr<ScratchRegistry> scratch_ = std::make_unique<ScratchRegistry>();
    std::vector<std::string> opening_;  // the opening's calls, as text

private:
    static HWND Item(int id) { return GetDlgItem(host::ActiveDialog(), id); }

    // Waits for the dialog's end: closes its input if it still runs.
    void Join()
    {
        if (!thread_.joinable())
            return;
        if (running_)
            terminal_->Send(host::InputEvent::Closed());
        thread_.join();
        running_ = false;
        host::WatchUserCalls(nullptr);
        host::UseTerminal(nullptr);
    }

    std::unique_ptr<LiveTerminal> terminal_;
    std::thread thread_;
    bool running_ = false;
    std::unique_ptr<host::RegistryRecorder> recorder_;
    std::vector<int> hidden_;
    bool restartFirst_ = false;
    std::optional<INT_PTR> result_;
};

}  // namespace

#include "dialog_cases.h"

namespace {

std::string HiveName(HKEY hive)
{
    return hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

// The opening's calls in order: the icon, centring, the own key, then each
// row's probes, each followed by its hides when all its probes failed.
TEST_F(DialogCases, Host_TheOpeningCallsInOrder)
{
    STOP_ON_FAILURE(NoSetting());
    SET_PLACE(facts::kMq1100, Dword(kUntouched));
    std::vector<bool> keyExisted;
    for (const facts::Row& row : facts::kProbedRows)
        for (const facts::Place* probe : row.probes)
            keyExisted.push_back(KeyExists(*probe));
    ASSERT_NO_FATAL_FAILURE(Open());

    std::vector<std::string> expected = {
        "LoadIconW 128",
        "SendMessageW dialog WM_SETICON 1",
        "SendMessageW dialog WM_SETICON 0",
        "SetWindowPos dialog 6 5",  // centred on 80 x 24
        R"(RegOpenKeyExW(HKEY_CURRENT_USER, "SOFTWARE\Zelkoran", 0, 0x20019) = 2)",
        R"(RegCreateKeyExW(HKEY_CURRENT_USER, "Software\Zelkoran", 0, NULL, 0, 0x0, NULL, &key, &disposition) = 0 -> h1)",
        "RegCloseKey(h1) = 0",
    };
    int handle = 1;
    size_t probeIndex = 0;
    for (const facts::Row& row : facts::kProbedRows) {
        bool found = false;
        for (const facts::Place* probe : row.probes) {
            const std::string open = "RegOpenKeyExW(" + HiveName(probe->hive) + ", \"" + Narrow(probe->key) + "\", 0, 0x20019) = ";
            if (!keyExisted[probeIndex++]) {
                expected.push_back(open + "2");
                continue;
            }
            const std::string h = "h" + std::to_string(++handle);
            found = probe == &facts::kMq1100;
            expected.push_back(open + "0 -> " + h);
            expected.push_back("RegQueryValueExW(" + h + ", \"" + Narrow(probe->value) + "\", NULL, &type, data, 4) = " +
                               (found ? "0" : "2"));
            expected.push_back("RegCloseKey(" + h + ") = 0");
            if (found)
                break;
        }
        if (!found)
            for (int id : row.hides) {
                expected.push_back("GetDlgItem " + std::to_string(id));
                expected.push_back("ShowWindow " + std::to_string(id) + " 0");
            }
    }
    EXPECT_EQ(expected, opening_);
}

// The terminal's own ways to the same ends: mnemonics, the keyboard's focus,
// and input that closes.
TEST_F(DialogCases, Host_KeysAndClosedInputEndAsTheWaysOutDo)
{
    const struct {
        const char* name;
        std::vector<host::InputEvent> keys;
        bool restart;
    } ways[] = {
        {"c", {host::InputEvent::Press('c')}, false},
        {"Alt+C", {host::InputEvent::Press('C', true)}, false},
        {"Tab, Enter", {host::InputEvent::Press(host::kKeyTab), host::InputEvent::Press(host::kKeyEnter)}, false},
        {"Tab, Space", {host::InputEvent::Press(host::kKeyTab), host::InputEvent::Press(host::kKeySpace)}, false},
        {"input closed", {host::InputEvent::Closed()}, false},
        {"Enter on the first focus", {host::InputEvent::Press(host::kKeyEnter)}, true},
        {"r", {host::InputEvent::Press('r')}, true},
        {"Alt+R", {host::InputEvent::Press('R', true)}, true},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        FreshRegistry();
        STOP_ON_FAILURE(EverySetting());
        ASSERT_NO_FATAL_FAILURE(Open());
        for (const host::InputEvent& key : way.keys)
            Send(key);
        const facts::Ending ending = End();
        EXPECT_EQ(facts::kEndCode, ending.code.value_or(-1));
        EXPECT_EQ(way.restart, ending.restartFirst.value_or(!way.restart));
        ExpectWritten(HERE, {}, way.name);
    }
}

TEST_F(DialogCases, Host_ARefusedRestartStillEnds)
{
    std::filesystem::create_directories(host::DeviceRoot() + "/restart-requested");  // can't be written
    STOP_ON_FAILURE(EverySetting());
    ASSERT_NO_FATAL_FAILURE(Open());
    TakeWayOut(facts::WayOut::SoftReset);
    EXPECT_EQ(facts::kEndCode, End().code.value_or(-1));
}

// The restart stand-in takes only the call the handheld documents.
TEST(Restart, TheHostTakesOnlyTheRebootCallAsDocumented)
{
    ScratchRegistry scratch;
    const std::string request = host::DeviceRoot() + "/restart-requested";
    DWORD count = 0;
    BYTE buffer[4];
    SetLastError(0);
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode + 4, NULL, 0, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode, buffer, sizeof buffer, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode, NULL, 0, buffer, sizeof buffer, NULL));
    EXPECT_FALSE(KernelIoControl(facts::kRebootCode, NULL, 0, NULL, 0, &count));
    EXPECT_FALSE(std::filesystem::exists(request));

    EXPECT_TRUE(KernelIoControl(facts::kRebootCode, NULL, 0, NULL, 0, NULL));
    EXPECT_TRUE(std::filesystem::exists(request));
}

}  // namespace
