// Reads an MS-CAB file's own tables, as cabextract's notes on the format
// describe them: a fixed part of 36 bytes, its optional reserve and the names
// of the cabinets beside it in a set, one entry a folder (where its data
// starts, how it is compressed), then one entry a file (its size, where it
// starts in its folder's data once decompressed, its folder, its name).
#include "cab_header.h"

#include <strings.h>

#include <algorithm>

#include "le_bytes.h"

namespace cab {
namespace {

constexpr size_t kFixedSize = 36;
constexpr uint16_t kPrevious = 0x1, kNext = 0x2, kReserve = 0x4;
constexpr uint16_t kNameIsUtf8 = 0x80;

const char* const kCompressions[] = {"stored", "MSZIP", "Quantum", "LZX"};

}  // namespace

const char* CompressionName(Compression compression)
{
    return kCompressions[size_t(compression)];
}

std::optional<Layout> ReadLayout(std::string_view bytes, std::string& problem)
{
    const auto refuse = [&problem](const std::string& why) {
        problem = why;
        return std::nullopt;
    };
    host::LeBytes fixed(bytes);
    if (bytes.size() < kFixedSize || bytes.substr(0, 4) != "MSCF")
        return refuse("is no cabinet (no MSCF signature)");
    fixed.Skip(8);
    const uint32_t size = fixed.U32();
    fixed.Skip(4);
    const uint32_t filesAt = fixed.U32();
    fixed.Skip(6);
    const uint16_t folders = fixed.U16(), files = fixed.U16();
    const uint16_t flags = fixed.U16();
    fixed.Skip(4);
    if (size != bytes.size())
        return refuse("says it is " + std::to_string(size) + " bytes, but is " + std::to_string(bytes.size()));
    if (flags & (kPrevious | kNext))
        return refuse("is one of a set of cabinets, which the device's installer does not take");
    size_t folderReserve = 0;
    if (flags & kReserve) {
        const uint16_t headerReserve = fixed.U16();
        folderReserve = fixed.U8();
        fixed.Skip(1 + headerReserve);
    }

    Layout layout;
    for (unsigned i = 0; i < folders && fixed.ok(); ++i) {
        fixed.Skip(6);
        const unsigned type = fixed.U16() & 0x000F;
        fixed.Skip(folderReserve);
        if (fixed.ok() && type >= sizeof kCompressions / sizeof *kCompressions)
            return refuse("has folder " + std::to_string(i) + " compressed by method " + std::to_string(type) +
                          ", which is none");
        layout.folders.push_back(Compression(type));
    }
    if (!fixed.ok())
        return refuse("ends inside its list of folders");

    host::LeBytes list(bytes);
    list.Seek(filesAt);
    for (unsigned i = 1; i <= files; ++i) {
        Layout::Entry entry;
        entry.size = list.U32();
        entry.offset = list.U32();
        const uint16_t folder = list.U16();
        list.Skip(4);
        const uint16_t attributes = list.U16();
        entry.name = std::string(list.Text());
        if (!list.ok())
            return refuse("ends inside its list of files (file " + std::to_string(i) + ")");
        if (folder >= layout.folders.size())
            return refuse("has file " + std::to_string(i) + " in folder " + std::to_string(folder) +
                          ", which is none of its own");
        if ((attributes & kNameIsUtf8) || !OneName(entry.name))
            return refuse("has file " + std::to_string(i) + " with a name that is no plain file name");
        for (const Layout::Entry& other : layout.entries)
            if (strcasecmp(other.name.c_str(), entry.name.c_str()) == 0)
                return refuse("holds two files named \"" + entry.name + "\"");
        entry.folder = folder;
        layout.entries.push_back(entry);
    }
    return layout;
}

uint64_t Layout::Unpacked() const
{
    // What a reader decompresses to reach the files' ends, folder by folder:
    // its data up to the furthest end of a file in it.
    std::vector<uint64_t> ends(folders.size());
    for (const Entry& entry : entries)
        ends[entry.folder] = std::max(ends[entry.folder], uint64_t(entry.offset) + entry.size);
    uint64_t total = 0;
    for (const uint64_t end : ends)
        total += end;
    return total;
}

}  // namespace cab
