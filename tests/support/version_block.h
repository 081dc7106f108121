// Tests on either target: a version resource read back as its tree of
// nodes. Each node is its length, value length, type and key, then its value
// and its children, each DWORD-aligned.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "support/res_file.h"

struct VersionNode {
    std::u16string key;
    WORD type = 0;  // 1: text, its value length counted in UTF-16 units
    std::vector<BYTE> value;
    std::vector<VersionNode> children;
};

// False when a node runs past its parent (`end`) or its value past the node.
inline bool ParseVersion(const std::vector<BYTE>& bytes, VersionNode& node, size_t offset = 0,
                         size_t end = SIZE_MAX)
{
    const auto align = [](size_t at) { return (at + 3) & ~size_t(3); };
    WORD length = At<WORD>(bytes, offset), valueLength = At<WORD>(bytes, offset + 2);
    node.type = At<WORD>(bytes, offset + 4);
    if (length < 6 || offset + length > std::min(end, bytes.size()))
        return false;
    size_t stop = offset + length;
    host::LeBytes key(bytes.data(), stop);
    key.Seek(offset + 6);
    node.key = key.Utf16();
    size_t at = align(key.at());
    size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
    if (!key.ok() || at + valueBytes > stop)
        return false;
    node.value.assign(bytes.begin() + at, bytes.begin() + at + valueBytes);
    for (at = align(at + valueBytes); at < stop; at = align(at + At<WORD>(bytes, at))) {
        node.children.emplace_back();
        if (!ParseVersion(bytes, node.children.back(), at, stop))
            return false;
    }
    return true;
}

// A text value, up to its NUL.
inline std::u16string Text(const std::vector<BYTE>& value)
{
    return host::LeBytes(value.data(), value.size()).Utf16();
}
