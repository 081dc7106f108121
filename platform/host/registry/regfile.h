// The registry editor's text export format (.reg), read and written so that
// whatever was not changed is written back exactly as it was read: the same
// encoding, each line with its own ending, a last line without one kept so.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// A stretch of the document's text.
struct Span {
    uint32_t at = 0, size = 0;
};

// One item of a key's section: a value's lines, or a comment or blank line,
// each with its ending as read (CRLF, LF, or CR alone); a line made new has
// none, and is given the document's when written. A value is read from its
// lines when it is asked for, so that a document costs little more than its
// text.
struct Item {
    Span text;
    bool isValue = false;  // otherwise a comment or blank line
};

// A table of hashes and the places they were found at, at most half full,
// so that a lookup reads one place in memory rather than a chain of nodes
// scattered over the heap: a key's values by their folded names, or the
// document's keys by their folded paths. What is at a place is compared by
// the caller.
class ValueIndex {
public:
    static constexpr uint32_t kNone = uint32_t(-1);
    static uint32_t HashOf(std::string_view name);  // of the name folded (text::Folded)

    // The first place with `hash` for which `same(place)` holds; kNone when
    // there is none.
    template <typename Same>
    uint32_t Find(uint32_t hash, const Same& same) const
    {
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask; !slots_.empty(); i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.place == kNone)
                break;
            if (slot.hash == hash && same(slot.place))
                return slot.place;
        }
        return kNone;
    }
    void Add(uint32_t hash, uint32_t place);
    // The places from `from` on have moved one on.
    void ShiftFrom(uint32_t from);
    void Clear();

private:
    struct Slot {
        uint32_t hash = 0, place = kNone;
    };
    void Grow(size_t slots);
    std::vector<Slot> slots_;  // a power of two of them, or none
    size_t count_ = 0;
};

// A key's section: its items are the document's items[first, first + count).
struct Section {
    Span path;    // full key path with its root, as read, e.g. HKEY_CURRENT_USER\Software
    Span header;  // the "[...]" line as read, or as made for a new key (then without an ending)
    Span folded;  // the path folded, in Document::folded
    uint32_t first = 0, count = 0;
    uint32_t values = ValueIndex::kNone;  // its table in Document::values; none for a few values
};

enum class Encoding { Utf8, Utf8Bom, Utf16Le };  // UTF-16LE always has its mark

// The file's text once (decoded to UTF-8), and where its lines are: whatever
// was not changed is written back by copying it. What a change writes is
// added at the end of the text.
struct Document {
    Encoding encoding = Encoding::Utf8;  // written back as read
    std::string eol = "\n";  // ends new lines: the ending most of the file's lines have
    bool lastEnded = true;   // the file's last line has an ending
    bool crAlone = false;    // CR alone ends a line (the first line ends so)
    std::string text;
    std::vector<Span> head;  // the version line and what precedes the first key
    std::vector<Section> sections;
    std::vector<Item> items;
    std::vector<ValueIndex> values;  // the tables of keys with many values
    // Every section's path folded, one after the other; the sections by it,
    // found by hash (sectionOf) and in sorted order (sorted), and the first
    // section in the file of each run of the sorted order (firstOf, a tree
    // of minimums), which gives the stored case of a key above others.
    std::string folded;
    ValueIndex sectionOf;
    std::vector<uint32_t> sorted, firstOf;

    std::string_view View(Span span) const { return std::string_view(text).substr(span.at, span.size); }
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
bool Parse(std::string&& bytes, Document& doc, ParseError& error);  // the bytes kept as the text

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

std::optional<Value> FindValue(const Document& doc, std::string_view path, std::string_view name);

// Each key that has a section, in file order, and then each of its values:
// `value` is null for the key itself.
void Each(const Document& doc, const std::function<void(std::string_view key, const Value* value)>& visit);
std::vector<std::string> KeysOf(const Document& doc);  // each key's path with a section, in file order

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
