// Tests on either target: a version resource read back as its tree of
// nodes. Each node is its length, value length, type and key, then its value
// and its children, each DWORD-aligned.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "resources/res_file.h"

struct VersionNode {
    std::u16string key;
    WORD type = 0;  // 1: text, its value length counted in UTF-16 units
    std::vector<BYTE> value;
    std::vector<VersionNode> children;
};

// False when a node runs past its parent or its value past the node.
inline bool ParseVersion(const std::vector<BYTE>& bytes, size_t offset, size_t end, VersionNode& node)
{
    const auto align = [](size_t at) { return (at + 3) & ~size_t(3); };
    WORD length = At<WORD>(bytes, offset), valueLength = At<WORD>(bytes, offset + 2);
    node.type = At<WORD>(bytes, offset + 4);
    if (length < 6 || offset + length > end)
        return false;
    size_t stop = offset + length, at = offset + 6;
    for (; at + 2 <= stop && At<WORD>(bytes, at) != 0; at += 2)
        node.key += char16_t(At<WORD>(bytes, at));
    at = align(at + 2);
    size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
    if (at + valueBytes > stop)
        return false;
    node.value.assign(bytes.begin() + at, bytes.begin() + at + valueBytes);
    for (at = align(at + valueBytes); at < stop; at = align(at + At<WORD>(bytes, at))) {
        node.children.emplace_back();
        if (!ParseVersion(bytes, at, stop, node.children.back()))
            return false;
    }
    return true;
}

inline bool ParseVersion(const std::vector<BYTE>& bytes, VersionNode& root)
{
    return ParseVersion(bytes, 0, bytes.size(), root);
}

// A text value, up to its NUL.
inline std::u16string Text(const std::vector<BYTE>& value)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < value.size(); i += 2)
        text += char16_t(value[i] | value[i + 1] << 8);
    text.erase(std::find(text.begin(), text.end(), u'\0'), text.end());
    return text;
}
