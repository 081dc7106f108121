#include "registry/regfile.h"

#include <algorithm>

#include <stdio.h>

#include "le_bytes.h"

namespace host::reg {
namespace {

constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kVersion4 = "REGEDIT4";
constexpr std::string_view kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

// Regedit wraps hex data after this many columns.
constexpr size_t kHexWrap = 76;

using text::AppendUtf8;
using text::Folded;

std::vector<std::string_view> Split(std::string_view path)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

constexpr const char* kSpace = " \t\r";

// The ending a line was read with: CRLF, LF, or none; CR alone only in a
// file whose lines end so (elsewhere a CR at the end of the last line is
// part of it, and a line written after it must still begin a line).
std::string_view EndingOf(std::string_view line, bool crAlone)
{
    if (line.empty() || (line.back() != '\n' && !(crAlone && line.back() == '\r')))
        return {};
    const bool crlf = line.back() == '\n' && line.size() >= 2 && line[line.size() - 2] == '\r';
    return line.substr(line.size() - (crlf ? 2 : 1));
}

// A line's text, without its ending or a CR at its end.
std::string_view Body(std::string_view line)
{
    return line.substr(0, line.size() - EndingOf(line, true).size());
}

bool IsBlank(std::string_view line)
{
    return Body(line).find_first_not_of(kSpace) == std::string_view::npos;
}

// The length of UTF-8 text in UTF-16 units, as the handheld counts a name.
size_t Utf16Length(std::string_view utf8)
{
    size_t units = 0;
    for (char c : utf8) {
        const uint8_t byte = uint8_t(c);
        units += (byte & 0xC0) != 0x80;
        units += byte >= 0xF0;  // a pair of surrogates
    }
    return units;
}

std::string_view TrimLeft(std::string_view s)
{
    const size_t i = s.find_first_not_of(kSpace);
    return i == std::string_view::npos ? std::string_view() : s.substr(i);
}

std::string_view TrimRight(std::string_view s)
{
    const size_t i = s.find_last_not_of(kSpace);
    return i == std::string_view::npos ? std::string_view() : s.substr(0, i + 1);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Escape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

// A name or path from the file as an error message shows it: a long one is
// cut, so that the message stays one readable line.
std::string Shown(std::string_view text)
{
    constexpr size_t kMost = 60;
    if (text.size() <= kMost)
        return std::string(text);
    size_t cut = kMost;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut)) + "...";
}

// The text of REG_SZ data that a quoted string reads back to exactly: one
// terminating NUL, no other NUL, no control character, well-formed UTF-16.
bool PlainString(const std::vector<uint8_t>& data, std::string& text)
{
    if (data.size() < 2 || data.size() % 2 != 0)
        return false;
    std::u16string units;
    host::LeBytes in(data.data(), data.size());
    for (size_t i = 0; i < data.size(); i += 2)
        units += char16_t(in.U16At(i));
    if (units.back() != 0)
        return false;
    units.pop_back();
    text.clear();
    for (size_t i = 0; i < units.size();) {
        const char32_t cp = text::NextUtf16(units, i);
        if (cp < 0x20 || cp == 0x7F || text::IsSurrogate(cp))
            return false;
        AppendUtf8(text, cp);
    }
    return true;
}

std::vector<std::string> Render(const Value& value)
{
    std::string line = value.name.empty() ? "@" : "\"" + Escape(value.name) + "\"";
    line += '=';
    std::string text;
    if (value.type == kRegSz && PlainString(value.data, text))
        return {line + "\"" + Escape(text) + "\""};
    if (value.type == kRegDword && value.data.size() == 4) {
        char hex[16];
        snprintf(hex, sizeof hex, "dword:%08x",
                 unsigned(host::LeBytes(value.data.data(), 4).U32()));
        return {line + hex};
    }
    if (value.type == kRegBinary) {
        line += "hex:";
    } else {
        char prefix[24];
        snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(value.type));
        line += prefix;
    }
    std::vector<std::string> lines;
    for (size_t i = 0; i < value.data.size(); ++i) {
        char byte[4];
        snprintf(byte, sizeof byte, "%02x", value.data[i]);
        line += byte;
        if (i + 1 < value.data.size()) {
            line += ',';
            if (line.size() > kHexWrap) {
                lines.push_back(line + "\\");
                line = "  ";
            }
        }
    }
    lines.push_back(line);
    return lines;
}

// Reading one value line (already joined with its continuation lines).
class ValueReader {
public:
    explicit ValueReader(std::string_view text) : s_(text) {}

    bool Name(std::string& name, std::string& error)
    {
        if (Peek() != '@')
            return Quoted(name, error);
        ++i_;
        name.clear();
        return true;
    }

    bool Read(Value& value, std::string& error)
    {
        if (!Name(value.name, error))
            return false;
        SkipSpace();
        if (Peek() != '=')
            return Fail(error, "expected '=' after the value name");
        ++i_;
        SkipSpace();
        if (!Data(value, error))
            return false;
        SkipSpace();
        if (i_ < s_.size() && s_[i_] != ';')
            return Fail(error, "unexpected text after the value's data");
        return true;
    }

private:
    char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }

    void SkipSpace()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r'))
            ++i_;
    }

    static bool Fail(std::string& error, std::string message)
    {
        error = std::move(message);
        return false;
    }

    bool Quoted(std::string& out, std::string& error)
    {
        if (Peek() != '"')
            return Fail(error, "expected a quoted name or '@'");
        ++i_;
        out.clear();
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"')
                return true;
            if (c == '\\') {
                if (i_ >= s_.size())
                    break;
                const char next = s_[i_++];
                if (next != '\\' && next != '"')
                    return Fail(error, std::string("unknown escape '\\") + next +
                                           "' (only \\\\ and \\\" are allowed)");
                out += next;
            } else {
                out += c;
            }
        }
        return Fail(error, "unterminated string");
    }

    // Up to `limit` hex digits, at least one.
    bool HexNumber(size_t limit, uint32_t& number)
    {
        number = 0;
        size_t digits = 0;
        while (i_ < s_.size() && HexDigit(s_[i_]) >= 0) {
            if (++digits > limit)
                return false;
            number = number << 4 | uint32_t(HexDigit(s_[i_++]));
        }
        return digits > 0;
    }

    bool Data(Value& value, std::string& error)
    {
        const std::string_view rest = s_.substr(i_);
        if (Peek() == '"') {
            std::string text;
            if (!Quoted(text, error))
                return false;
            value.type = kRegSz;
            value.data.clear();
            const std::u16string units = Utf16FromUtf8(text);
            value.data.reserve(2 * units.size() + 2);
            for (char16_t unit : units) {
                value.data.push_back(uint8_t(unit));
                value.data.push_back(uint8_t(unit >> 8));
            }
            value.data.push_back(0);
            value.data.push_back(0);
            return true;
        }
        if (StartsWithNoCase(rest, "dword:")) {
            i_ += 6;
            uint32_t number;
            if (!HexNumber(8, number))
                return Fail(error, "dword: needs 1 to 8 hex digits");
            value.type = kRegDword;
            value.data = {uint8_t(number), uint8_t(number >> 8), uint8_t(number >> 16),
                          uint8_t(number >> 24)};
            return true;
        }
        if (StartsWithNoCase(rest, "hex")) {
            i_ += 3;
            value.type = kRegBinary;
            if (Peek() == '(') {
                ++i_;
                if (!HexNumber(8, value.type) || Peek() != ')')
                    return Fail(error, "hex(N): needs a type number in hex");
                ++i_;
            }
            if (Peek() != ':')
                return Fail(error, "expected ':' after hex");
            ++i_;
            return Bytes(value.data, error);
        }
        if (Peek() == '-')
            return Fail(error, "a value deletion (=-) has no place in a device registry");
        return Fail(error, "expected \"text\", dword:, hex: or hex(N): after '='");
    }

    bool Bytes(std::vector<uint8_t>& data, std::string& error)
    {
        data.clear();
        SkipSpace();
        if (i_ >= s_.size() || s_[i_] == ';')
            return true;
        data.reserve((s_.size() - i_) / 3 + 1);  // "xx," a byte
        for (;;) {
            uint32_t byte;
            if (!HexNumber(2, byte))
                return Fail(error, "expected a byte of two hex digits");
            data.push_back(uint8_t(byte));
            SkipSpace();
            if (Peek() != ',')
                return true;
            ++i_;
            SkipSpace();
        }
    }

    std::string_view s_;
    size_t i_ = 0;
};

// Whether the first line ends in CR alone.
bool CrAlone(std::string_view text)
{
    const size_t end = text.find_first_of("\r\n");
    return end != std::string_view::npos && text[end] == '\r' &&
           (end + 1 == text.size() || text[end + 1] != '\n');
}

// The line number of the place `at` in `text`.
size_t LineAt(std::string_view text, size_t at)
{
    const bool crAlone = CrAlone(text);
    size_t line = 1;
    for (size_t i = 0; i < at; ++i)
        line += text[i] == '\n' || (crAlone && text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    return line;
}

// The file's text as UTF-8, in doc.text, or an error naming the line of the
// first bad character. UTF-8 bytes are kept as they are, without a copy.
bool Decode(std::string&& bytes, Document& doc, ParseError& error)
{
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF) {
        error = {0, "UTF-16 big-endian text is not supported; use UTF-8 or UTF-16LE"};
        return false;
    }
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            error = {0, "UTF-16LE text with an odd number of bytes"};
            return false;
        }
        doc.encoding = Encoding::Utf16Le;
        std::string& text = doc.text;
        text.reserve(bytes.size() / 2 + bytes.size() / 8);
        host::LeBytes in(bytes);
        auto unit = [&](size_t i) { return char16_t(in.U16At(i)); };
        for (size_t i = 2; i < bytes.size(); i += 2) {
            char32_t cp = unit(i);
            if (cp >= 0xD800 && cp < 0xDC00 && i + 2 < bytes.size() && unit(i + 2) >= 0xDC00 &&
                unit(i + 2) < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
                i += 2;
            }
            if (text::IsSurrogate(cp) || cp == 0) {
                error = {LineAt(text, text.size()), "malformed UTF-16LE text"};
                return false;
            }
            AppendUtf8(text, cp);
        }
        bytes = std::string();
        return true;
    }
    size_t start = 0;
    if (bytes.size() >= 3 && std::string_view(bytes).substr(0, 3) == "\xEF\xBB\xBF") {
        doc.encoding = Encoding::Utf8Bom;
        start = 3;
    }
    const std::string_view view = std::string_view(bytes).substr(start);
    for (size_t i = 0; i < view.size();) {
        if (uint8_t(view[i] - 1) < 0x7F) {  // ASCII but NUL, the common case, kept quick
            ++i;
            continue;
        }
        const size_t at = i;
        const int32_t cp = text::NextUtf8(view, i);
        if (cp <= 0) {
            error = {LineAt(view, at), "malformed UTF-8 text"};
            return false;
        }
    }
    doc.text = std::move(bytes);
    doc.text.erase(0, start);
    return true;
}

// Where the line from `start` ends, its ending included. In a file whose
// first line ends in CR alone, CR alone ends a line too, as CRLF and LF do;
// in any other, lines end at LF only, so that a stray CR stays in its line.
size_t LineEnd(std::string_view text, size_t start, bool crAlone)
{
    size_t end = crAlone ? text.find_first_of("\r\n", start) : text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    if (crAlone && text[end - 1] == '\r' && end < text.size() && text[end] == '\n')
        ++end;
    return end;
}

// The last line of a stretch of lines.
std::string_view LastLine(std::string_view lines, bool crAlone)
{
    const std::string_view body = lines.substr(0, lines.size() - EndingOf(lines, crAlone).size());
    const size_t cut = crAlone ? body.find_last_of("\r\n") : body.rfind('\n');
    return lines.substr(cut == std::string_view::npos ? 0 : cut + 1);
}

// What follows the name and '=' of a value line.
std::string_view DataOf(std::string_view line)
{
    size_t i = 1;
    if (line[0] == '"') {
        while (i < line.size() && line[i] != '"')
            i += line[i] == '\\' ? 2 : 1;
        ++i;
    }
    const std::string_view rest = i < line.size() ? TrimLeft(line.substr(i)) : std::string_view();
    return rest.empty() || rest[0] != '=' ? std::string_view() : TrimLeft(rest.substr(1));
}

// A value's lines as one: each continuation line's text after the last's
// backslash.
std::string Logical(std::string_view lines, bool crAlone)
{
    std::string logical;
    for (size_t start = 0; start < lines.size();) {
        const size_t end = LineEnd(lines, start, crAlone);
        const std::string_view line = TrimLeft(Body(lines.substr(start, end - start)));
        if (start > 0)
            logical.resize(TrimRight(logical).size() - 1);
        logical += line;
        start = end;
    }
    return logical;
}

bool ReadSectionPath(std::string_view line, std::string& path, std::string& error)
{
    line = TrimRight(TrimLeft(line));
    if (line.back() != ']') {
        error = "a key line must end with ']'";
        return false;
    }
    path.assign(line.substr(1, line.size() - 2));
    if (!path.empty() && path[0] == '-') {
        error = "a key deletion ([-...]) has no place in a device registry";
        return false;
    }
    const std::vector<std::string_view> parts = Split(path);
    bool knownRoot = false;
    for (std::string_view root : kRoots)
        knownRoot = knownRoot || SameName(parts[0], root);
    if (!knownRoot) {
        error = "unknown root key \"" + Shown(parts[0]) +
                "\" (only HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are kept)";
        return false;
    }
    for (std::string_view part : parts) {
        if (part.empty()) {
            error = "empty key name in the path";
            return false;
        }
    }
    return true;
}

uint32_t HashFolded(std::string_view folded)
{
    const size_t hash = std::hash<std::string_view>()(folded);
    return uint32_t(hash ^ hash >> 32);
}

std::string_view FoldedOf(const Document& doc, uint32_t section)
{
    const Span span = doc.sections[section].folded;
    return std::string_view(doc.folded).substr(span.at, span.size);
}

uint32_t FindSection(const Document& doc, std::string_view path)
{
    const std::string folded = Folded(path);
    return doc.sectionOf.Find(HashFolded(folded),
                              [&](uint32_t section) { return FoldedOf(doc, section) == folded; });
}

// Adds the section last made to the folded paths and the table of them.
void IndexSection(Document& doc, std::string_view path)
{
    Section& section = doc.sections.back();
    const std::string folded = Folded(path);
    section.folded = {uint32_t(doc.folded.size()), uint32_t(folded.size())};
    doc.folded += folded;
    doc.sectionOf.Add(HashFolded(folded), uint32_t(doc.sections.size() - 1));
}

// The tree of firstOf: leaves at n + i hold sorted[i], each node the least
// of its two below.
void BuildFirstOf(Document& doc)
{
    const size_t n = doc.sorted.size();
    doc.firstOf.assign(2 * n, ValueIndex::kNone);
    std::copy(doc.sorted.begin(), doc.sorted.end(), doc.firstOf.begin() + n);
    for (size_t i = n; i-- > 1;)
        doc.firstOf[i] = std::min(doc.firstOf[2 * i], doc.firstOf[2 * i + 1]);
}

// The first section in the file among sorted[from, to).
uint32_t FirstAmong(const Document& doc, size_t from, size_t to)
{
    uint32_t first = ValueIndex::kNone;
    const size_t n = doc.sorted.size();
    for (from += n, to += n; from < to; from /= 2, to /= 2) {
        if (from & 1)
            first = std::min(first, doc.firstOf[from++]);
        if (to & 1)
            first = std::min(first, doc.firstOf[--to]);
    }
    return first;
}

size_t LowerBound(const Document& doc, std::string_view folded)
{
    return size_t(std::lower_bound(doc.sorted.begin(), doc.sorted.end(), folded,
                                   [&](uint32_t section, std::string_view f) { return FoldedOf(doc, section) < f; }) -
                  doc.sorted.begin());
}

// The first section in the file that is the key of the folded path, or is
// below it; kNone when there is none.
uint32_t FirstAtOrBelow(const Document& doc, const std::string& folded)
{
    // Every path below lies from folded + '\' up to folded + ']', the
    // character after it.
    const uint32_t below = FirstAmong(doc, LowerBound(doc, folded + '\\'), LowerBound(doc, folded + ']'));
    const uint32_t at = doc.sectionOf.Find(HashFolded(folded), [&](uint32_t section) {
        return FoldedOf(doc, section) == folded;
    });
    return std::min(at, below);
}

void SortSections(Document& doc)
{
    doc.sorted.resize(doc.sections.size());
    for (uint32_t i = 0; i < doc.sorted.size(); ++i)
        doc.sorted[i] = i;
    std::sort(doc.sorted.begin(), doc.sorted.end(),
              [&](uint32_t a, uint32_t b) { return FoldedOf(doc, a) < FoldedOf(doc, b); });
    BuildFirstOf(doc);
}

std::string NameOf(const Document& doc, const Item& item)
{
    std::string name, error;
    ValueReader(TrimLeft(doc.View(item.text))).Name(name, error);
    return name;
}

Value ValueOf(const Document& doc, const Item& item)
{
    Value value;
    std::string error;
    ValueReader(Logical(doc.View(item.text), doc.crAlone)).Read(value, error);
    return value;
}

// The place among the section's items of its value `name`; kNone when none.
uint32_t FindItem(const Document& doc, const Section& section, std::string_view name)
{
    auto same = [&](uint32_t i) {
        const Item& item = doc.items[section.first + i];
        return item.isValue && SameName(NameOf(doc, item), name);
    };
    if (section.values != ValueIndex::kNone)
        return doc.values[section.values].Find(ValueIndex::HashOf(name), same);
    for (uint32_t i = 0; i < section.count; ++i)
        if (same(i))
            return i;
    return ValueIndex::kNone;
}

// A key of more values than this gets a table of them.
constexpr uint32_t kFewValues = 8;

// Appends `lines` to the text, and gives where they are.
Span Append(Document& doc, std::string_view lines)
{
    const Span span{uint32_t(doc.text.size()), uint32_t(lines.size())};
    doc.text += lines;
    return span;
}

}  // namespace

bool Parse(std::string_view bytes, Document& doc, ParseError& error)
{
    return Parse(std::string(bytes), doc, error);
}

bool Parse(std::string&& bytes, Document& doc, ParseError& error)
{
    doc = Document();
    if (!Decode(std::move(bytes), doc, error))
        return false;
    const std::string_view text = doc.text;
    const bool crAlone = doc.crAlone = CrAlone(text);
    const std::string_view kEndings[] = {"\r\n", "\n", "\r"};
    size_t count[3] = {}, first = 1, lineNo = 0, start = 0;
    // The next line, with its ending; false at the end of the file.
    auto next = [&](Span& line) {
        if (start >= text.size())
            return false;
        const size_t end = LineEnd(text, start, crAlone);
        line = {uint32_t(start), uint32_t(end - start)};
        const std::string_view ending = EndingOf(text.substr(start, end - start), crAlone);
        for (size_t kind = 0; kind < 3; ++kind)
            if (!ending.empty() && ending == kEndings[kind]) {
                first = lineNo == 0 ? kind : first;
                ++count[kind];
            }
        doc.lastEnded = !ending.empty();
        start = end;
        ++lineNo;
        return true;
    };

    Span line;
    bool got;
    while ((got = next(line)) && IsBlank(doc.View(line)))
        doc.head.push_back(line);
    if (!got) {
        error = {lineNo + 1, "empty file: expected \"Windows Registry Editor Version 5.00\""};
        return false;
    }
    const std::string_view version = TrimRight(TrimLeft(Body(doc.View(line))));
    if (version != kVersion5 && version != kVersion4) {
        error = {lineNo, "expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""};
        return false;
    }
    doc.head.push_back(line);

    ValueIndex values;  // the current key's
    auto finish = [&] {
        if (doc.sections.empty())
            return;
        Section& section = doc.sections.back();
        section.count = uint32_t(doc.items.size() - section.first);
        if (section.count > kFewValues) {
            section.values = uint32_t(doc.values.size());
            doc.values.push_back(std::move(values));
            values = ValueIndex();
        } else {
            values.Clear();
        }
    };
    std::string path, message, logical;
    Value value;
    while (next(line)) {
        const std::string_view trimmed = TrimLeft(Body(doc.View(line)));
        if (trimmed.empty() || trimmed[0] == ';') {
            if (doc.sections.empty())
                doc.head.push_back(line);
            else
                doc.items.push_back({line, false});
            continue;
        }
        if (trimmed[0] == '[') {
            if (!ReadSectionPath(trimmed, path, message) || !(message = KeyOverLimit(path)).empty()) {
                error = {lineNo, message};
                return false;
            }
            if (const uint32_t earlier = FindSection(doc, path); earlier != ValueIndex::kNone) {
                error = {lineNo, "the key [" + Shown(path) + "] appears twice (first at line " +
                                     std::to_string(LineAt(text, doc.sections[earlier].header.at)) + ")"};
                return false;
            }
            finish();
            Section section;
            section.header = line;
            section.path = {uint32_t(trimmed.data() + 1 - text.data()), uint32_t(path.size())};
            section.first = uint32_t(doc.items.size());
            doc.sections.push_back(section);
            IndexSection(doc, path);
            continue;
        }
        if (trimmed[0] != '"' && trimmed[0] != '@') {
            error = {lineNo, "expected a [key], a \"value\"=, @= or a ; comment"};
            return false;
        }
        if (doc.sections.empty()) {
            error = {lineNo, "a value before the first [key]"};
            return false;
        }

        const size_t valueLine = lineNo;
        Span lines = line;
        logical.assign(trimmed);
        const bool hex = StartsWithNoCase(DataOf(logical), "hex");
        while (hex && !TrimRight(logical).empty() && TrimRight(logical).back() == '\\') {
            logical.resize(TrimRight(logical).size() - 1);
            if (!next(line)) {
                error = {valueLine, "the value continues past the end of the file"};
                return false;
            }
            logical += TrimLeft(Body(doc.View(line)));
            lines.size += line.size;
        }
        if (!ValueReader(logical).Read(value, message) || !(message = ValueOverLimit(value)).empty()) {
            error = {valueLine, message};
            return false;
        }
        const Section& section = doc.sections.back();
        const uint32_t hash = ValueIndex::HashOf(value.name);
        const uint32_t earlier = values.Find(hash, [&](uint32_t i) {
            return SameName(NameOf(doc, doc.items[section.first + i]), value.name);
        });
        if (earlier != ValueIndex::kNone) {
            error = {valueLine, "the value " + (value.name.empty() ? "@" : "\"" + Shown(value.name) + "\"") +
                                    " appears twice in this key (first at line " +
                                    std::to_string(LineAt(text, doc.items[section.first + earlier].text.at)) +
                                    ")"};
            return false;
        }
        values.Add(hash, uint32_t(doc.items.size() - section.first));
        doc.items.push_back({lines, true});
    }
    finish();
    size_t most = first;
    for (size_t kind = 0; kind < 3; ++kind)
        most = count[kind] > count[most] ? kind : most;
    doc.eol = kEndings[most];
    SortSections(doc);
    return true;
}

std::string Write(const Document& doc)
{
    std::string out;
    out.reserve(doc.text.size() + 64);
    // Each line with its own ending, or the one given; the file's last line
    // without one when the file's had none.
    size_t lastEnd = 0;
    auto put = [&](std::string_view line) {
        out += line;
        const size_t ending = EndingOf(line, doc.crAlone).size();
        lastEnd = out.size() - ending;
        if (!ending)
            out += doc.eol;
    };
    for (Span line : doc.head)
        put(doc.View(line));
    for (const Section& section : doc.sections) {
        put(doc.View(section.header));
        for (uint32_t i = section.first; i < section.first + section.count; ++i)
            put(doc.View(doc.items[i].text));
    }
    if (!doc.lastEnded)
        out.resize(lastEnd);
    switch (doc.encoding) {
    case Encoding::Utf8:
        return out;
    case Encoding::Utf8Bom:
        out.insert(0, "\xEF\xBB\xBF");
        return out;
    case Encoding::Utf16Le:
        break;
    }
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + 2 * out.size());
    for (size_t i = 0; i < out.size();) {
        const char32_t cp = char32_t(text::NextUtf8(out, i));
        const auto unit = [&](char32_t u) {
            bytes += char(u & 0xFF);
            bytes += char(u >> 8);
        };
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return bytes;
}

std::string KeyOverLimit(std::string_view path)
{
    const size_t depth = size_t(std::count(path.begin(), path.end(), '\\'));
    if (depth > kMostKeyDepth)
        return "the key is " + std::to_string(depth) + " levels deep, past the " +
               std::to_string(kMostKeyDepth) + " the device keeps";
    for (std::string_view name : Split(path)) {
        if (Utf16Length(name) > kMostNameChars)
            return "the key name \"" + Shown(name) + "\" is " + std::to_string(Utf16Length(name)) +
                   " characters long, past the " + std::to_string(kMostNameChars) + " the device keeps";
    }
    return {};
}

std::string ValueOverLimit(const Value& value)
{
    const size_t length = Utf16Length(value.name);
    if (length > kMostNameChars)
        return "the value name \"" + Shown(value.name) + "\" is " + std::to_string(length) +
               " characters long, past the " + std::to_string(kMostNameChars) + " the device keeps";
    if (value.data.size() > kMostDataBytes)
        return "the value " + (value.name.empty() ? "@" : "\"" + Shown(value.name) + "\"") + " holds " +
               std::to_string(value.data.size()) + " bytes of data, past the " +
               std::to_string(kMostDataBytes) + " (4 KB) the device keeps";
    return {};
}

Document Empty()
{
    Document doc;
    doc.text = std::string(kVersion5);
    doc.head = {{0, uint32_t(kVersion5.size())}, {uint32_t(kVersion5.size()), 0}};
    return doc;
}

uint32_t ValueIndex::HashOf(std::string_view name)
{
    return HashFolded(Folded(name));
}

void ValueIndex::Add(uint32_t hash, uint32_t place)
{
    if (2 * (count_ + 1) > slots_.size())
        Grow(2 * (count_ + 1));
    const size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (slots_[i].place != kNone)
        i = (i + 1) & mask;
    slots_[i] = {hash, place};
    ++count_;
}

void ValueIndex::ShiftFrom(uint32_t from)
{
    for (Slot& slot : slots_)
        slot.place += slot.place != kNone && slot.place >= from;
}

void ValueIndex::Clear()
{
    std::fill(slots_.begin(), slots_.end(), Slot());
    count_ = 0;
}

void ValueIndex::Grow(size_t slots)
{
    size_t size = 16;
    while (size < slots)
        size *= 2;
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot());
    count_ = 0;
    for (const Slot& slot : old)
        if (slot.place != kNone)
            Add(slot.hash, slot.place);
}

bool KeyExists(const Document& doc, std::string_view path)
{
    return path.find('\\') == std::string_view::npos  // a root
           || FirstAtOrBelow(doc, Folded(path)) != ValueIndex::kNone;
}

std::string StoredPath(const Document& doc, std::string_view path)
{
    std::string stored;
    for (size_t start = 0;;) {
        const size_t end = path.find('\\', start);
        std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
        const uint32_t first = FirstAtOrBelow(doc, Folded(path.substr(0, end)));
        if (first != ValueIndex::kNone) {
            // The same component of the first key at or below it.
            const std::string_view firstPath = doc.View(doc.sections[first].path);
            size_t at = 0;
            for (size_t level = std::count(path.begin(), path.begin() + start, '\\'); level > 0; --level)
                at = firstPath.find('\\', at) + 1;
            part = firstPath.substr(at, firstPath.find('\\', at) - at);
        }
        if (start > 0)
            stored += '\\';
        stored += part;
        if (end == std::string_view::npos)
            return stored;
        start = end + 1;
    }
}

std::optional<Value> FindValue(const Document& doc, std::string_view path, std::string_view name)
{
    const uint32_t section = FindSection(doc, path);
    if (section == ValueIndex::kNone)
        return std::nullopt;
    const uint32_t found = FindItem(doc, doc.sections[section], name);
    if (found == ValueIndex::kNone)
        return std::nullopt;
    return ValueOf(doc, doc.items[doc.sections[section].first + found]);
}

void Each(const Document& doc, const std::function<void(std::string_view key, const Value* value)>& visit)
{
    for (const Section& section : doc.sections) {
        const std::string_view path = doc.View(section.path);
        visit(path, nullptr);
        for (uint32_t i = section.first; i < section.first + section.count; ++i) {
            if (doc.items[i].isValue) {
                const Value value = ValueOf(doc, doc.items[i]);
                visit(path, &value);
            }
        }
    }
}

std::vector<std::string> KeysOf(const Document& doc)
{
    std::vector<std::string> keys;
    for (const Section& section : doc.sections)
        keys.emplace_back(doc.View(section.path));
    return keys;
}

namespace {

// Puts `item` at `at` of the section's items, which may be its end.
void InsertItem(Document& doc, uint32_t section, uint32_t at, Item item)
{
    Section& s = doc.sections[section];
    doc.items.insert(doc.items.begin() + s.first + at, item);
    ++s.count;
    for (size_t i = section + 1; i < doc.sections.size(); ++i)
        ++doc.sections[i].first;
}

}  // namespace

void AddKey(Document& doc, std::string_view path)
{
    // Sections are separated by a blank line, as the registry editor writes them.
    if (!doc.sections.empty()) {
        const Section& last = doc.sections.back();
        const Item* item = last.count ? &doc.items[last.first + last.count - 1] : nullptr;
        if (!item || item->isValue || !IsBlank(LastLine(doc.View(item->text), doc.crAlone)))
            InsertItem(doc, uint32_t(doc.sections.size() - 1), last.count, {});
    } else if (doc.head.empty() || !IsBlank(doc.View(doc.head.back()))) {
        doc.head.push_back({});
    }
    const std::string stored = StoredPath(doc, path);
    Section section;
    section.header = Append(doc, "[" + stored + "]");
    section.path = {section.header.at + 1, uint32_t(stored.size())};
    section.first = uint32_t(doc.items.size());
    doc.sections.push_back(section);
    IndexSection(doc, stored);
    // A blank line ends the file, as the registry editor writes it, unless
    // the file ended without a line break.
    if (doc.lastEnded)
        InsertItem(doc, uint32_t(doc.sections.size() - 1), 0, {});
    const std::string_view folded = FoldedOf(doc, uint32_t(doc.sections.size() - 1));
    doc.sorted.insert(doc.sorted.begin() + LowerBound(doc, folded), uint32_t(doc.sections.size() - 1));
    BuildFirstOf(doc);
}

bool SetValue(Document& doc, std::string_view path, const Value& value)
{
    uint32_t index = FindSection(doc, path);
    if (index == ValueIndex::kNone) {
        AddKey(doc, path);
        index = uint32_t(doc.sections.size() - 1);
    }
    const uint32_t found = FindItem(doc, doc.sections[index], value.name);
    // Each line ends as the value's lines did, or as new lines do.
    auto render = [&](const Value& shown, const std::string& eol) {
        std::string lines;
        for (const std::string& line : Render(shown))
            lines += line + (eol.empty() ? doc.eol : eol);
        return Append(doc, lines);
    };
    if (found != ValueIndex::kNone) {
        const uint32_t at = doc.sections[index].first + found;
        Value now = ValueOf(doc, doc.items[at]);
        if (now.type == value.type && now.data == value.data)
            return false;
        now.type = value.type;  // the name as stored stays
        now.data = value.data;
        doc.items[at].text = render(now, std::string(EndingOf(doc.View(doc.items[at].text), doc.crAlone)));
        return true;
    }
    const Section& section = doc.sections[index];
    uint32_t insertAt = section.count;
    while (insertAt > 0 && !doc.items[section.first + insertAt - 1].isValue)
        --insertAt;
    const Span lines = render(value, {});
    if (section.values != ValueIndex::kNone) {
        doc.values[section.values].ShiftFrom(insertAt);
        doc.values[section.values].Add(ValueIndex::HashOf(value.name), insertAt);
    }
    InsertItem(doc, index, insertAt, {lines, true});
    return true;
}

}  // namespace host::reg
