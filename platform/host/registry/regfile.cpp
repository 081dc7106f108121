#include "registry/regfile.h"

#include <algorithm>

#include <stdio.h>

#include <unordered_map>

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

// Makes the section `index` and the keys above it found by their folded
// paths. A key above several sections keeps the case of the first. The keys
// above are looked at from the nearest up, to the first one known: the keys
// above a known key are known too.
void IndexSection(Document& doc, size_t index)
{
    const std::string& path = doc.sections[index].path;
    std::string folded = Folded(path);
    doc.sectionOf.emplace(folded, index);
    if (!doc.keys.emplace(std::move(folded), path).second)
        return;
    for (size_t end = path.rfind('\\'); end != std::string::npos && end > 0;
         end = path.rfind('\\', end - 1)) {
        if (!doc.keys.emplace(Folded(std::string_view(path).substr(0, end)), path.substr(0, end)).second)
            return;
    }
}

Section* FindSection(Document& doc, std::string_view path)
{
    const auto it = doc.sectionOf.find(Folded(path));
    return it == doc.sectionOf.end() ? nullptr : &doc.sections[it->second];
}

const Section* FindSection(const Document& doc, std::string_view path)
{
    const auto it = doc.sectionOf.find(Folded(path));
    return it == doc.sectionOf.end() ? nullptr : &doc.sections[it->second];
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
    for (size_t i = 0; i < data.size(); i += 2)
        units += char16_t(data[i] | (data[i + 1] << 8));
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
                 unsigned(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                          uint32_t(value.data[3]) << 24));
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

    bool Read(Value& value, std::string& error)
    {
        if (Peek() == '@') {
            ++i_;
        } else if (!Quoted(value.name, error)) {
            return false;
        }
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

// The file's text as UTF-8, or an error naming the line of the first bad
// character.
bool Decode(std::string_view bytes, Document& doc, std::string& text, ParseError& error)
{
    auto lineAt = [](std::string_view done) {
        const bool crAlone = CrAlone(done);
        size_t line = 1;
        for (size_t i = 0; i < done.size(); ++i)
            line += done[i] == '\n' ||
                    (crAlone && done[i] == '\r' && (i + 1 == done.size() || done[i + 1] != '\n'));
        return line;
    };
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
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (size_t i = 2; i < bytes.size(); i += 2)
            units += char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
        text.reserve(bytes.size());
        for (size_t i = 0; i < units.size();) {
            const char32_t cp = text::NextUtf16(units, i);
            if (text::IsSurrogate(cp) || cp == 0) {
                error = {lineAt(text), "malformed UTF-16LE text"};
                return false;
            }
            AppendUtf8(text, cp);
        }
        return true;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        doc.encoding = Encoding::Utf8Bom;
        bytes.remove_prefix(3);
    }
    for (size_t i = 0; i < bytes.size();) {
        if (uint8_t(bytes[i] - 1) < 0x7F) {  // ASCII but NUL, the common case, kept quick
            ++i;
            continue;
        }
        const size_t at = i;
        const int32_t cp = text::NextUtf8(bytes, i);
        if (cp <= 0) {
            error = {lineAt(bytes.substr(0, at)), "malformed UTF-8 text"};
            return false;
        }
    }
    text.assign(bytes);
    return true;
}

// Each line with its ending. In a file whose first line ends in CR alone,
// CR alone ends a line too, as CRLF and LF do; in any other, lines end at LF
// only, so that a stray CR stays in its line. New lines are given the ending
// most lines have (the first line's when they tie).
std::vector<std::string> Lines(const std::string& text, Document& doc)
{
    const bool crAlone = CrAlone(text);
    const std::string_view kEndings[] = {"\r\n", "\n", "\r"};
    size_t count[3] = {}, first = 1;
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = crAlone ? text.find_first_of("\r\n", start) : text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (crAlone && text[end - 1] == '\r' && end < text.size() && text[end] == '\n')
            ++end;
        lines.emplace_back(text, start, end - start);
        const std::string_view ending = EndingOf(lines.back(), crAlone);
        for (size_t kind = 0; kind < 3; ++kind)
            if (!ending.empty() && ending == kEndings[kind]) {
                first = lines.size() == 1 ? kind : first;
                ++count[kind];
            }
        start = end;
    }
    size_t most = first;
    for (size_t kind = 0; kind < 3; ++kind)
        most = count[kind] > count[most] ? kind : most;
    doc.eol = kEndings[most];
    doc.crAlone = crAlone;
    doc.lastEnded = lines.empty() || !EndingOf(lines.back(), crAlone).empty();
    return lines;
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

}  // namespace

bool Parse(std::string_view bytes, Document& doc, ParseError& error)
{
    doc = Document();
    std::string text;
    if (!Decode(bytes, doc, text, error))
        return false;
    std::vector<std::string> lines = Lines(text, doc);
    text = std::string();

    size_t n = 0;
    while (n < lines.size() && IsBlank(lines[n]))
        doc.head.push_back(std::move(lines[n++]));
    if (n == lines.size()) {
        error = {n + 1, "empty file: expected \"Windows Registry Editor Version 5.00\""};
        return false;
    }
    const std::string_view version = TrimRight(TrimLeft(Body(lines[n])));
    if (version != kVersion5 && version != kVersion4) {
        error = {n + 1, "expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""};
        return false;
    }
    doc.head.push_back(std::move(lines[n++]));

    // The tables of keys made large enough at once, as a key's of values.
    size_t headers = 0;
    for (size_t i = n; i < lines.size(); ++i)
        headers += TrimLeft(lines[i]).substr(0, 1) == "[";
    doc.sectionOf.reserve(headers);
    doc.keys.reserve(headers);

    std::vector<size_t> sectionLines;             // where each section starts
    std::vector<std::vector<size_t>> itemLines;   // where each item starts
    for (; n < lines.size(); ++n) {
        const size_t lineNo = n + 1;
        const std::string_view line = TrimLeft(Body(lines[n]));
        if (line.empty() || line[0] == ';') {
            if (doc.sections.empty())
                doc.head.push_back(std::move(lines[n]));
            else
                doc.sections.back().items.push_back({false, {}, std::move(lines[n]), {}});
            continue;
        }
        std::string message;
        if (line[0] == '[') {
            Section section;
            if (!ReadSectionPath(line, section.path, message) ||
                !(message = KeyOverLimit(section.path)).empty()) {
                error = {lineNo, message};
                return false;
            }
            if (const Section* first = FindSection(doc, section.path)) {
                error = {lineNo, "the key [" + Shown(section.path) + "] appears twice (first at line " +
                                     std::to_string(sectionLines[size_t(first - doc.sections.data())]) + ")"};
                return false;
            }
            // Its table of values made large enough at once: grown as it
            // fills, a large key's table costs more than the key's lines.
            size_t next = n + 1;
            while (next < lines.size() && TrimLeft(lines[next]).substr(0, 1) != "[")
                ++next;
            section.values.Reserve(next - n - 1);
            section.items.reserve(next - n - 1);
            section.header = std::move(lines[n]);
            doc.sections.push_back(std::move(section));
            IndexSection(doc, doc.sections.size() - 1);
            sectionLines.push_back(lineNo);
            itemLines.emplace_back();
            continue;
        }
        if (line[0] != '"' && line[0] != '@') {
            error = {lineNo, "expected a [key], a \"value\"=, @= or a ; comment"};
            return false;
        }
        if (doc.sections.empty()) {
            error = {lineNo, "a value before the first [key]"};
            return false;
        }

        Item item{true, {}, {}, {}};
        std::string logical(line);
        item.text = std::move(lines[n]);
        const bool hex = StartsWithNoCase(DataOf(logical), "hex");
        while (hex && !TrimRight(logical).empty() && TrimRight(logical).back() == '\\') {
            logical.resize(TrimRight(logical).size() - 1);
            if (++n == lines.size()) {
                error = {lineNo, "the value continues past the end of the file"};
                return false;
            }
            logical += TrimLeft(Body(lines[n]));
            item.text += lines[n];
        }
        if (!ValueReader(logical).Read(item.value, message) ||
            !(message = ValueOverLimit(item.value)).empty()) {
            error = {lineNo, message};
            return false;
        }
        Section& section = doc.sections.back();
        const size_t hash = ValueIndex::HashOf(item.value.name);
        const size_t first = section.values.Find(section.items, item.value.name, hash);
        if (first != ValueIndex::kNone) {
            error = {lineNo, "the value " +
                                 (item.value.name.empty() ? "@" : "\"" + Shown(item.value.name) + "\"") +
                                 " appears twice in this key (first at line " +
                                 std::to_string(itemLines.back()[first]) + ")"};
            return false;
        }
        section.values.Add(hash, section.items.size());
        section.items.push_back(std::move(item));
        itemLines.back().resize(section.items.size(), 0);
        itemLines.back().back() = lineNo;
    }
    return true;
}

std::string Write(const Document& doc)
{
    size_t size = 3;
    for (const std::string& line : doc.head)
        size += line.size() + 2;
    for (const Section& section : doc.sections)
        size += section.path.size() + 64 * section.items.size();
    std::string out;
    out.reserve(size);
    // Each line with its own ending, or the one given; the file's last line
    // without one when the file's had none.
    size_t lastEnd = 0;
    auto put = [&](std::string_view line, std::string_view eol) {
        out += line;
        const size_t ending = EndingOf(line, doc.crAlone).size();
        lastEnd = out.size() - ending;
        if (!ending)
            out += eol;
    };
    for (const std::string& line : doc.head)
        put(line, doc.eol);
    for (const Section& section : doc.sections) {
        if (section.header.empty())
            put("[" + section.path + "]", doc.eol);
        else
            put(section.header, doc.eol);
        for (const Item& item : section.items) {
            if (!item.isValue || !item.text.empty()) {
                put(item.text, doc.eol);
                continue;
            }
            for (const std::string& line : Render(item.value))
                put(line, item.eol.empty() ? doc.eol : item.eol);
        }
    }
    if (!doc.lastEnded)
        out.resize(lastEnd);
    switch (doc.encoding) {
    case Encoding::Utf8:
        return out;
    case Encoding::Utf8Bom:
        return "\xEF\xBB\xBF" + out;
    case Encoding::Utf16Le:
        break;
    }
    const std::u16string units = Utf16FromUtf8(out);
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + 2 * units.size());
    for (char16_t unit : units) {
        bytes += char(unit & 0xFF);
        bytes += char(unit >> 8);
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
    doc.head = {std::string(kVersion5), ""};
    return doc;
}

size_t ValueIndex::HashOf(std::string_view name)
{
    return std::hash<std::string>()(Folded(name));
}

void ValueIndex::Reserve(size_t count)
{
    if (2 * count > slots_.size())
        Grow(2 * count);
}

size_t ValueIndex::Find(const std::vector<Item>& items, std::string_view name, size_t hash) const
{
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask; !slots_.empty(); i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.item == kNone)
            break;
        if (slot.hash == hash && SameName(items[slot.item].value.name, name))
            return slot.item;
    }
    return kNone;
}

void ValueIndex::Add(size_t hash, size_t item)
{
    if (2 * (count_ + 1) > slots_.size())
        Grow(2 * (count_ + 1));
    const size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (slots_[i].item != kNone)
        i = (i + 1) & mask;
    slots_[i] = {hash, item};
    ++count_;
}

void ValueIndex::ShiftFrom(size_t from)
{
    for (Slot& slot : slots_)
        slot.item += slot.item != kNone && slot.item >= from;
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
        if (slot.item != kNone)
            Add(slot.hash, slot.item);
}

bool KeyExists(const Document& doc, std::string_view path)
{
    return path.find('\\') == std::string_view::npos  // a root
           || doc.keys.count(Folded(path)) != 0;
}

std::string StoredPath(const Document& doc, std::string_view path)
{
    std::string stored;
    for (size_t start = 0;;) {
        const size_t end = path.find('\\', start);
        std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
        const auto it = doc.keys.find(Folded(path.substr(0, end)));
        if (it != doc.keys.end())
            part = std::string_view(it->second).substr(it->second.rfind('\\') + 1);
        if (start > 0)
            stored += '\\';
        stored += part;
        if (end == std::string_view::npos)
            return stored;
        start = end + 1;
    }
}

const Value* FindValue(const Document& doc, std::string_view path, std::string_view name)
{
    const Section* section = FindSection(doc, path);
    if (!section)
        return nullptr;
    const size_t found = section->values.Find(section->items, name, ValueIndex::HashOf(name));
    return found == ValueIndex::kNone ? nullptr : &section->items[found].value;
}

void AddKey(Document& doc, std::string_view path)
{
    // Sections are separated by a blank line, as the registry editor writes them.
    std::vector<Item>* last = doc.sections.empty() ? nullptr : &doc.sections.back().items;
    if (last) {
        if (last->empty() || last->back().isValue || !IsBlank(last->back().text))
            last->push_back({false, {}, "", {}});
    } else if (doc.head.empty() || !IsBlank(doc.head.back())) {
        doc.head.push_back("");
    }
    Section section;
    section.path = StoredPath(doc, path);
    // A blank line ends the file, as the registry editor writes it, unless
    // the file ended without a line break.
    if (doc.lastEnded)
        section.items.push_back({false, {}, "", {}});
    doc.sections.push_back(std::move(section));
    IndexSection(doc, doc.sections.size() - 1);
}

bool SetValue(Document& doc, std::string_view path, const Value& value)
{
    Section* section = FindSection(doc, path);
    if (!section) {
        AddKey(doc, path);
        section = &doc.sections.back();
    }
    const size_t hash = ValueIndex::HashOf(value.name);
    if (const size_t found = section->values.Find(section->items, value.name, hash);
        found != ValueIndex::kNone) {
        Item& item = section->items[found];
        if (item.value.type == value.type && item.value.data == value.data)
            return false;
        item.value.type = value.type;
        item.value.data = value.data;
        if (!item.text.empty())
            item.eol = std::string(EndingOf(item.text, doc.crAlone));
        item.text.clear();
        return true;
    }
    size_t insertAt = section->items.size();
    while (insertAt > 0 && !section->items[insertAt - 1].isValue)
        --insertAt;
    if (insertAt < section->items.size())
        section->values.ShiftFrom(insertAt);
    section->items.insert(section->items.begin() + insertAt, Item{true, value, {}, {}});
    section->values.Add(hash, insertAt);
    return true;
}

}  // namespace host::reg
