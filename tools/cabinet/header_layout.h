// The installation header's layout, the one description of it: the reader
// (cab_header.cpp) reads each part by these tables, and the writer
// (ce-cab.py) packs each part by them, reading this file. Every integer is
// little-endian: a field is `count` integers of `width` bytes. A table's
// entry is followed by `length` bytes of its own: a string, a name or a list
// of string ids ended by 0.
#pragma once

namespace cab::layout {

struct Field {
    const char* name;
    unsigned width;
    unsigned count;
};

// The fixed part, 100 bytes; the tables follow in this order: STRINGS,
// DIRS, FILES, REGHIVES, REGKEYS, LINKS.
inline constexpr Field kFixed[] = {
    {"signature", 4, 1},     // "MSCE"
    {"unknown1", 4, 1},
    {"length", 4, 1},        // the whole header's
    {"unknown2", 4, 2},
    {"architecture", 4, 1},  // 2577: StrongARM; 0: any
    {"minVersion", 4, 2},    // major, minor
    {"maxVersion", 4, 2},    // 0: no limit
    {"builds", 4, 2},        // least and most
    {"counts", 2, 6},        // of each table's entries
    {"offsets", 4, 6},       // where each table starts
    {"names", 2, 8},         // offset and length of the application's name, the maker's and
                             // the unsupported list; then two unknown
};

inline constexpr Field kString[] = {{"id", 2, 1}, {"length", 2, 1}};
inline constexpr Field kDir[] = {{"id", 2, 1}, {"length", 2, 1}};
inline constexpr Field kFile[] = {{"number", 2, 1}, {"dir", 2, 1}, {"unknown", 2, 1}, {"flags", 4, 1},
                                  {"length", 2, 1}};
inline constexpr Field kHive[] = {{"id", 2, 1}, {"root", 2, 1}, {"unknown", 2, 1}, {"length", 2, 1}};
inline constexpr Field kKey[] = {{"id", 2, 1}, {"hive", 2, 1}, {"unknown", 2, 1}, {"type", 4, 1},
                                 {"length", 2, 1}};
inline constexpr Field kLink[] = {{"id", 2, 1},     {"unknown", 2, 1}, {"base", 2, 1},
                                  {"target", 2, 1}, {"type", 2, 1},     {"length", 2, 1}};

}  // namespace cab::layout
