// Tests on either target: a compiled resource file (.res) read back entry
// by entry, with the little-endian reader the tests read resources with.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

class Reader {
public:
    Reader(const BYTE* data, size_t size) : base_(data), at_(data), end_(data + size) {}

    size_t Offset() const { return size_t(at_ - base_); }
    size_t Left() const { return size_t(end_ - at_); }
    bool Overrun() const { return overrun_; }

    // Zero, and the reader at its end, past the end.
    WORD Word()
    {
        overrun_ = overrun_ || Left() < 2;
        const WORD value = overrun_ ? 0 : WORD(at_[0] | at_[1] << 8);
        at_ = overrun_ ? end_ : at_ + 2;
        return value;
    }
    DWORD Dword()
    {
        const DWORD low = Word();  // read first
        return low | DWORD(Word()) << 16;
    }
    void Align() { at_ = base_ + ((Offset() + 3) & ~size_t(3)); }
    void Skip(size_t bytes) { at_ += std::min(bytes, Left()); }

    std::u16string String()
    {
        std::u16string text;
        for (WORD unit = Word(); unit && !overrun_; unit = Word())
            text += char16_t(unit);
        return text;
    }
    // "#<n>" for an ordinal.
    std::u16string NameOrOrdinal()
    {
        if (Left() >= 2 && at_[0] == 0xFF && at_[1] == 0xFF) {
            Word();
            std::string number = "#" + std::to_string(Word());
            return std::u16string(number.begin(), number.end());
        }
        return String();
    }

private:
    const BYTE* base_;
    const BYTE* at_;
    const BYTE* end_;
    bool overrun_ = false;
};

// One entry of a .res: a header (data and header sizes, type, name, its
// flags and language), then the data, each entry 4-byte aligned.
struct ResEntry {
    std::u16string type;  // "#<n>" for a number, as for a name
    std::u16string name;
    WORD language = 0;
    std::vector<BYTE> data;
};

// Every entry, the empty one a .res starts with too; an entry running past
// the end fails the test.
inline std::vector<ResEntry> ReadRes(const BYTE* res, size_t size)
{
    std::vector<ResEntry> entries;
    size_t at = 0;
    while (size - at >= 32) {
        Reader header(res + at, size - at);
        DWORD dataSize = header.Dword();
        DWORD headerSize = header.Dword();
        ResEntry entry;
        entry.type = header.NameOrOrdinal();
        entry.name = header.NameOrOrdinal();
        header.Align();
        header.Dword();  // data version
        header.Word();   // memory flags
        entry.language = header.Word();
        EXPECT_FALSE(header.Overrun());
        EXPECT_LE(size_t(headerSize) + dataSize, size - at);
        if (size_t(headerSize) + dataSize > size - at)
            break;
        entry.data.assign(res + at + headerSize, res + at + headerSize + dataSize);
        entries.push_back(entry);
        at += headerSize + ((dataSize + 3) & ~DWORD(3));
    }
    EXPECT_EQ(at, size);
    return entries;
}
