// The registry editor's text export format (.reg), read and written so that
// whatever was not changed is written back exactly as it was read: the same
// encoding, each line with its own ending, a last line without one kept so.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text.h"

namespace host::reg {

// What the device's registry holds at most. The first three are the
// handheld's own, as Windows CE documents them; the last is what the host
// reads and writes of registry.reg. A file or a call that goes past one is
// refused and changes nothing.
inline constexpr size_t kMostNameChars = 255;  // a key name (one level) or a value name, in UTF-16 units
inline constexpr size_t kMostDataBytes = 4096;  // the data of one value
inline constexpr size_t kMostKeyDepth = 16;     // levels of keys below the root
inline constexpr size_t kMostFileBytes = size_t(32) << 20;  // registry.reg

struct Value {
    std::string name;  // UTF-8; empty for the default value, "@"
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// One item of a key's section: a value, or a comment or blank line.
// Lines are kept as read, each with its ending (CRLF, LF, or CR alone); a
// line made new has none, and is given the document's when written.
struct Item {
    bool isValue = false;            // otherwise a comment or blank line
    Value value;
    std::string text;  // its lines as read, with their endings; empty once the value changed
    std::string eol;   // a changed value's: the ending its lines had
};

// A key's values found by name, without regard to case: a flat table of the
// hashes of their folded names (text::Folded) and their items' places, at
// most half full, so that a lookup reads one place in memory rather than a
// chain of nodes scattered over the heap. A key of 100,000 values no longer
// fits the caches, and such a chain cost a miss at every step.
class ValueIndex {
public:
    static constexpr size_t kNone = size_t(-1);
    static size_t HashOf(std::string_view name);

    void Reserve(size_t count);
    // The place in `items` of the value called `name`, whose HashOf is
    // `hash`; kNone when there is none.
    size_t Find(const std::vector<Item>& items, std::string_view name, size_t hash) const;
    void Add(size_t hash, size_t item);
    // The items from `from` on have moved one place on.
    void ShiftFrom(size_t from);

private:
    struct Slot {
        size_t hash = 0, item = kNone;
    };
    void Grow(size_t slots);
    std::vector<Slot> slots_;  // a power of two of them, or none
    size_t count_ = 0;
};

struct Section {
    std::string path;    // full key path with its root, as read, e.g. HKEY_CURRENT_USER\Software
    std::string header;  // the "[...]" line as read; empty for a new section
    std::vector<Item> items;
    ValueIndex values;
};

enum class Encoding { Utf8, Utf8Bom, Utf16Le };  // UTF-16LE always has its mark

struct Document {
    Encoding encoding = Encoding::Utf8;  // written back as read
    std::string eol = "\n";  // ends new lines: the ending most of the file's lines have
    bool lastEnded = true;   // the file's last line has an ending
    bool crAlone = false;    // CR alone ends a line (the first line ends so)
    std::vector<std::string> head;  // the version line and what precedes the first key
    std::vector<Section> sections;
    // Folded key path -> its section; folded path of every key that exists
    // (each section's and those above it) -> that path as first stored.
    std::unordered_map<std::string, size_t> sectionOf;
    std::unordered_map<std::string, std::string> keys;
};

struct ParseError {
    size_t line = 0;  // 1-based; 0 when the problem is the file as a whole
    std::string message;
};

// Reads a whole file's bytes: UTF-8, with or without a byte order mark, or
// UTF-16LE with one. Returns false and fills `error` on the first problem,
// a key or value past the limits above included. Time and memory are linear
// in the size of the file.
bool Parse(std::string_view bytes, Document& doc, ParseError& error);

// The file's bytes, in the encoding it was read in. Parse(Write(d)) gives
// back d's keys and values, and Write of that gives the same bytes; Write of
// a document as parsed gives the bytes parsed.
std::string Write(const Document& doc);

// Why a key's full path (with its root) or a value is past the handheld's
// limits, for a line that names it; empty when it is within them.
std::string KeyOverLimit(std::string_view path);
std::string ValueOverLimit(const Value& value);

// A document holding only the version line.
Document Empty();

// Key paths are full paths with their root ("HKEY_LOCAL_MACHINE\SYSTEM\GWE");
// names compare without regard to case. A key exists when it has a section, or
// a key below it has one. Lookups take time in the length of the names, not
// in the size of the document.
bool KeyExists(const Document& doc, std::string_view path);

// The path with the case of each existing component as stored.
std::string StoredPath(const Document& doc, std::string_view path);

const Value* FindValue(const Document& doc, std::string_view path, std::string_view name);

// Adds a section for a key that does not exist yet, at the end of the file.
void AddKey(Document& doc, std::string_view path);

// Replaces the value in place, or appends it after the key's last value;
// adds the key's section when the key has none. False when the key already
// held the value as given.
bool SetValue(Document& doc, std::string_view path, const Value& value);

// The registry's text conversions and name comparison are the host's one
// text module's (text.h), named here too for the registry's callers.
using text::SameName;
using text::Utf16FromUtf8;
using text::Utf8FromUtf16;
using text::Utf8FromWide;
using text::WideFromUtf8;

}  // namespace host::reg
