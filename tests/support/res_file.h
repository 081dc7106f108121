// Tests on either target: a compiled resource file (.res) read back entry
// by entry, with the little-endian reader the tests read resources with, and
// a resource as the program itself finds it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

// A little-endian T at `offset`; zero past the end.
template <typename T>
T At(const std::vector<BYTE>& bytes, size_t offset)
{
    T value{};
    if (offset <= bytes.size() && sizeof value <= bytes.size() - offset)
        std::memcpy(&value, &bytes[offset], sizeof value);
    return value;
}

// A resource of this program (or of `module`) as FindResourceW gives it;
// empty when missing.
inline std::vector<BYTE> Resource(LPCWSTR type, WORD id, HMODULE module = GetModuleHandleW(NULL))
{
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!info)
        return {};
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
    return std::vector<BYTE>(data, data + SizeofResource(module, info));
}

// One entry of a .res: a header (data and header sizes, type, name, its
// flags and language), then the data, each entry 4-byte aligned.
struct ResEntry {
    std::u16string type;  // "#<n>" for a number, as for a name
    std::u16string name;
    WORD language = 0;
    std::vector<BYTE> data;
};

// A type or name at `at`, which moves past it: "#<n>" for an ordinal.
inline std::u16string ResName(const std::vector<BYTE>& bytes, size_t& at)
{
    if (At<WORD>(bytes, at) == 0xFFFF) {
        const std::string number = "#" + std::to_string(At<WORD>(bytes, at + 2));
        at += 4;
        return std::u16string(number.begin(), number.end());
    }
    std::u16string text;
    for (; at + 2 <= bytes.size() && At<WORD>(bytes, at) != 0; at += 2)
        text += char16_t(At<WORD>(bytes, at));
    at += 2;
    return text;
}

// Every entry, the empty one a .res starts with too; an entry running past
// the end fails the test.
inline std::vector<ResEntry> ReadRes(const BYTE* data, size_t size)
{
    const std::vector<BYTE> res(data, data + size);
    std::vector<ResEntry> entries;
    size_t at = 0;
    while (size - at >= 32) {
        const size_t dataSize = At<DWORD>(res, at), headerSize = At<DWORD>(res, at + 4);
        ResEntry entry;
        size_t field = at + 8;
        entry.type = ResName(res, field);
        entry.name = ResName(res, field);
        field = (field + 3) & ~size_t(3);  // then the data version and the memory flags
        entry.language = At<WORD>(res, field + 6);
        EXPECT_LE(field + 8, at + headerSize) << "a header runs past its size";
        EXPECT_LE(headerSize + dataSize, size - at);
        if (headerSize + dataSize > size - at)
            break;
        entry.data.assign(res.begin() + at + headerSize, res.begin() + at + headerSize + dataSize);
        entries.push_back(entry);
        at += headerSize + ((dataSize + 3) & ~size_t(3));
    }
    EXPECT_EQ(at, size);
    return entries;
}
