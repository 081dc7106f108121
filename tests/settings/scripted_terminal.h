// A terminal for tests: hands the modal loop a script of keys and clicks,
// keeps what it was shown, and can look at the running dialog before each
// event. When the script runs out, input is closed.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

#include "terminal/screen.h"

class ScriptedTerminal : public host::Terminal {
public:
    explicit ScriptedTerminal(std::vector<host::InputEvent> script = {}, int columns = 80,
                              int rows = 24)
        : script_(std::move(script)), columns_(columns), rows_(rows)
    {
        host::UseTerminal(this);
    }
    ~ScriptedTerminal() override { host::UseTerminal(nullptr); }

    bool Open() override
    {
        ++opened;
        return available;
    }
    void Close() override { ++closed; }
    int Columns() const override { return columns_; }
    int Rows() const override { return rows_; }
    void Show(const host::Canvas& canvas) override { shown.push_back(canvas); }
    void Flash(const host::Canvas& pressed, const host::Canvas& after) override
    {
        flashes.emplace_back(pressed, after);
    }
    host::InputEvent Next() override
    {
        if (beforeEach)
            beforeEach(next_);
        if (next_ < script_.size())
            return script_[next_++];
        ++next_;
        return host::InputEvent::Closed();
    }

    // Called with the index of the event about to be handed out.
    std::function<void(size_t)> beforeEach;
    bool available = true;
    int opened = 0;
    int closed = 0;
    std::vector<host::Canvas> shown;
    std::vector<std::pair<host::Canvas, host::Canvas>> flashes;

private:
    std::vector<host::InputEvent> script_;
    size_t next_ = 0;
    int columns_;
    int rows_;
};

inline host::InputEvent Key(int key, bool alt = false)
{
    return host::InputEvent::Press(key, alt);
}

inline host::InputEvent Click(int column, int row)
{
    return host::InputEvent::Click(column, row);
}
