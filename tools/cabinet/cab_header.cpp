// Reads the installation header, as header_layout.h lays it out (after
// cabextract's notes on the format): a fixed part of 100 bytes, then strings
// and tables at the offsets it gives, every list of string ids ended by 0.
#include "cab_header.h"

#include <assert.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "header_layout.h"
#include "le_bytes.h"

namespace cab {
namespace {

constexpr size_t kFixedSize = [] {
    size_t size = 0;
    for (const layout::Field& field : layout::kFixed)
        size += field.width * field.count;
    return size;
}();
static_assert(kFixedSize == 100);
constexpr size_t kMaxPath = 260;  // the device's longest path

// The standard folders of a CE 3.0 palm-size device, %CE1% first.
const char* const kStandardFolders[] = {
    "Program Files",
    "Windows",
    "Windows\\Desktop",
    "Windows\\StartUp",
    "My Documents",
    "Program Files\\Accessories",
    "Program Files\\Communications",
    "Program Files\\Games",
    "Program Files\\Pocket Outlook",
    "Program Files\\Office",
    "Windows\\Start Menu\\Programs",
    "Windows\\Start Menu\\Accessories",
    "Windows\\Start Menu\\Communications",
    "Windows\\Start Menu\\Games",
    "Windows\\Fonts",
    "Windows\\Recent",
    "Windows\\Start Menu",
};

// One part of the header, read by its table in header_layout.h: each
// field's integers, found by name. Reads past the bytes read 0, as LeBytes's do.
class Fields {
public:
    template <size_t N>
    Fields(host::LeBytes& bytes, const layout::Field (&part)[N]) : part_(part), size_(N)
    {
        for (const layout::Field& field : part)
            for (unsigned i = 0; i < field.count; ++i)
                values_.push_back(bytes.Read(field.width));
    }

    // The `index`th integer of the field `name`, one of the part's.
    uint32_t operator()(const char* name, unsigned index = 0) const
    {
        size_t at = 0;
        for (size_t f = 0; f < size_; ++f) {
            if (strcmp(part_[f].name, name) == 0 && index < part_[f].count)
                return values_[at + index];
            at += part_[f].count;
        }
        assert(!"a field the layout lacks");
        return 0;
    }

private:
    const layout::Field* part_;
    size_t size_;
    std::vector<uint32_t> values_;
};

// A string of `bytes`, which must end with its only NUL and be printable
// ASCII (the header's strings are names: nothing in one may move the cursor
// of the terminal that shows it).
bool String(std::string_view bytes, const std::string& what, std::string& text, std::string& problem)
{
    if (bytes.empty() || bytes.back() != '\0' || bytes.find('\0') != bytes.size() - 1) {
        problem = what + " has no end";
        return false;
    }
    text.assign(bytes.data(), bytes.size() - 1);
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) {
            problem = what + " is not printable ASCII";
            return false;
        }
    }
    return true;
}

class Reader {
public:
    explicit Reader(std::string_view all) : bytes_(all) {}

    std::optional<Header> Read(std::string& problem)
    {
        std::optional<Header> header = ReadAll();
        if (!header)
            problem = problem_;
        return header;
    }

private:
    using Entry = bool (Reader::*)(const std::string& what);

    std::optional<Header> ReadAll()
    {
        if (bytes_.size() < kFixedSize)
            return Refuse("is " + std::to_string(bytes_.size()) +
                          " bytes, shorter than the 100 of its fixed part");
        const Fields fixed(bytes_, layout::kFixed);
        if (fixed("signature") != 0x4543534Du)  // "MSCE"
            return Refuse("has no MSCE signature");
        const uint32_t length = fixed("length");
        if (length != bytes_.size())
            return Refuse("says it is " + std::to_string(length) + " bytes, but is " +
                          std::to_string(bytes_.size()));
        header_.architecture = fixed("architecture");
        header_.minMajor = fixed("minVersion", 0);
        header_.minMinor = fixed("minVersion", 1);
        header_.maxMajor = fixed("maxVersion", 0);
        header_.maxMinor = fixed("maxVersion", 1);
        header_.minBuild = fixed("builds", 0);
        header_.maxBuild = fixed("builds", 1);
        uint16_t counts[6];
        uint32_t offsets[6];
        for (unsigned i = 0; i < 6; ++i) {
            counts[i] = uint16_t(fixed("counts", i));
            offsets[i] = fixed("offsets", i);
        }
        uint16_t names[6];
        for (unsigned i = 0; i < 6; ++i)
            names[i] = uint16_t(fixed("names", i));

        // The installer's own folder for the application, \Program
        // Files\<name>, is where shortcuts of folder 0 go.
        const bool named = Name(names[0], names[1], "the application name", header_.appName) &&
                           Name(names[2], names[3], "the maker's name", header_.provider) &&
                           (names[5] == 0 || Name(names[4], names[5], "the unsupported list", unsupported_)) &&
                           (OneName(header_.appName) ||
                            Fail("the application name \"" + header_.appName + "\" is no folder name"));
        installDir_ = *StandardFolder(1);
        installDir_.push_back(header_.appName);
        if (!named || !Table(offsets[0], counts[0], "STRINGS", &Reader::StringEntry) ||
            !Table(offsets[1], counts[1], "DIRS", &Reader::DirEntry) ||
            !Table(offsets[2], counts[2], "FILES", &Reader::FileEntry) ||
            !Table(offsets[3], counts[3], "REGHIVES", &Reader::HiveEntry) ||
            !Table(offsets[4], counts[4], "REGKEYS", &Reader::KeyEntry) ||
            !Table(offsets[5], counts[5], "LINKS", &Reader::LinkEntry))
            return std::nullopt;
        header_.registryKeys = counts[4];
        return header_;
    }

    std::nullopt_t Refuse(const std::string& why)
    {
        problem_ = "the header " + why;
        return std::nullopt;
    }

    bool Fail(const std::string& why)
    {
        problem_ = why;
        return false;
    }

    bool Name(uint16_t at, uint16_t length, const std::string& what, std::string& text)
    {
        host::LeBytes name = bytes_;
        name.Seek(at);
        const std::string_view bytes = name.Take(length);
        if (!name.ok())
            return Fail(what + " lies outside the header (offset " + std::to_string(at) + ", " +
                        std::to_string(length) + " bytes, in " + std::to_string(bytes_.size()) + ")");
        return String(bytes, what, text, problem_);
    }

    bool Table(uint32_t offset, uint16_t count, const char* name, Entry entry)
    {
        const std::string table = std::string("the ") + name + " table";
        if (!bytes_.Seek(offset))
            return Fail(table + " starts at " + std::to_string(offset) + ", outside the " +
                        std::to_string(bytes_.size()) + "-byte header");
        for (unsigned i = 1; i <= count; ++i) {
            const std::string what = table + "'s entry " + std::to_string(i);
            if (!(this->*entry)(what))
                return false;
            if (!bytes_.ok())
                return Fail(what + " runs past the end of the header");
        }
        return true;
    }

    // A list of string ids ended by 0, as path parts.
    bool Parts(uint16_t length, const std::string& what, DevicePath& parts)
    {
        const std::string_view list = bytes_.Take(length);
        if (!bytes_.ok())
            return true;  // told by Table
        if (length < 2 || length % 2 || list[length - 2] != 0 || list[length - 1] != 0)
            return Fail(what + " has no end");
        host::LeBytes ids(list);
        for (size_t i = 0; i + 2 < length; i += 2) {
            const uint16_t id = ids.U16();
            const auto found = strings_.find(id);
            if (found == strings_.end())
                return Fail(what + " names string " + std::to_string(id) + ", which there is none");
            parts.push_back(found->second);
        }
        return true;
    }

    // Path parts from the root: a leading %CEn% is that standard folder.
    bool Place(DevicePath parts, const std::string& what, DevicePath& place)
    {
        place.clear();
        for (size_t i = 0; i < parts.size(); ++i) {
            const std::string& part = parts[i];
            unsigned n = 0;
            if (part.size() > 4 && part.compare(0, 3, "%CE") == 0 && part.back() == '%' &&
                part.find_first_not_of("0123456789", 3) == part.size() - 1 && part.size() <= 6)
                n = unsigned(std::stoul(part.substr(3)));
            if (n && i == 0 && StandardFolder(n)) {
                place = *StandardFolder(n);
                continue;
            }
            if (!OneName(part) || part[0] == '%')
                return Fail(what + " leaves the device's folders (\"" + part + "\")");
            place.push_back(part);
        }
        if (Joined(place).size() > kMaxPath)
            return Fail(what + " is longer than the device's " + std::to_string(kMaxPath) +
                        " characters");
        return true;
    }

    bool NewId(std::set<uint16_t>& ids, uint16_t id, const std::string& what)
    {
        if (id == 0 || !ids.insert(id).second)
            return Fail(what + " has the id " + std::to_string(id) + ", which is " +
                        (id ? "taken" : "none"));
        return true;
    }

    bool StringEntry(const std::string& what)
    {
        const Fields entry(bytes_, layout::kString);
        const uint16_t id = uint16_t(entry("id"));
        const std::string_view text = bytes_.Take(entry("length"));
        std::string value;
        if (!bytes_.ok())
            return true;
        if (!String(text, what, value, problem_) || !NewId(stringIds_, id, what))
            return false;
        strings_[id] = value;
        return true;
    }

    bool DirEntry(const std::string& what)
    {
        const Fields entry(bytes_, layout::kDir);
        const uint16_t id = uint16_t(entry("id"));
        DevicePath parts;
        if (!Parts(uint16_t(entry("length")), what, parts))
            return false;
        if (!bytes_.ok())
            return true;
        DevicePath place;
        if (!NewId(dirIds_, id, what) || !Place(parts, what, place))
            return false;
        dirs_[id] = place;
        return true;
    }

    bool FileEntry(const std::string& what)
    {
        const Fields entry(bytes_, layout::kFile);
        Header::File file;
        file.number = uint16_t(entry("number"));
        const uint16_t dir = uint16_t(entry("dir"));
        file.flags = entry("flags");
        const std::string_view name = bytes_.Take(entry("length"));
        if (!bytes_.ok())
            return true;
        if (!String(name, what, file.name, problem_))
            return false;
        if (file.number > 999)
            return Fail(what + " has the number " + std::to_string(file.number) +
                        ", which no file of the cabinet can have");
        if (!NewId(fileIds_, file.number, what))
            return false;
        const auto folder = dirs_.find(dir);
        if (folder == dirs_.end())
            return Fail(what + " names folder " + std::to_string(dir) + ", which there is none");
        DevicePath whole = folder->second;
        whole.push_back(file.name);
        if (!Place(whole, what, whole))
            return false;
        file.folder = folder->second;
        header_.files.push_back(file);
        return true;
    }

    bool HiveEntry(const std::string& what)
    {
        const Fields entry(bytes_, layout::kHive);
        const uint16_t id = uint16_t(entry("id"));
        const uint16_t root = uint16_t(entry("root"));
        DevicePath parts;
        if (!Parts(uint16_t(entry("length")), what, parts))
            return false;
        if (!bytes_.ok())
            return true;
        if (root < 1 || root > 4)
            return Fail(what + " has the root " + std::to_string(root) + ", which is none");
        return NewId(hiveIds_, id, what);
    }

    bool KeyEntry(const std::string& what)
    {
        const Fields entry(bytes_, layout::kKey);
        const uint16_t hive = uint16_t(entry("hive"));
        bytes_.Take(entry("length"));
        if (bytes_.ok() && !hiveIds_.count(hive))
            return Fail(what + " names hive " + std::to_string(hive) + ", which there is none");
        return true;
    }

    bool LinkEntry(const std::string& what)
    {
        const Fields entry(bytes_, layout::kLink);
        const uint16_t base = uint16_t(entry("base"));
        const uint16_t target = uint16_t(entry("target"));
        const uint16_t type = uint16_t(entry("type"));
        DevicePath parts;
        if (!Parts(uint16_t(entry("length")), what, parts))
            return false;
        if (!bytes_.ok())
            return true;
        Header::Link link;
        const std::optional<DevicePath> folder = base ? StandardFolder(base) : installDir_;
        if (!folder)
            return Fail(what + " is in %CE" + std::to_string(base) + "%, which is no folder");
        if (parts.empty())
            return Fail(what + " has no name");
        DevicePath whole = *folder;
        whole.insert(whole.end(), parts.begin(), parts.end());
        if (!Place(whole, what, whole))
            return false;
        link.name = whole.back();
        whole.pop_back();
        link.folder = whole;
        link.toFile = type == 1;
        if (type > 1)
            return Fail(what + " has the type " + std::to_string(type) + ", which is none");
        if (link.toFile) {
            for (const Header::File& file : header_.files) {
                if (file.number == target) {
                    link.target = file.folder;
                    link.target.push_back(file.name);
                }
            }
        } else if (target == 0) {
            link.target = installDir_;
        } else if (dirs_.count(target)) {
            link.target = dirs_[target];
        }
        if (link.target.empty())
            return Fail(what + " starts " + (link.toFile ? "file " : "folder ") +
                        std::to_string(target) + ", which there is none");
        header_.links.push_back(link);
        return true;
    }

    host::LeBytes bytes_;
    Header header_;
    std::string problem_, unsupported_;
    DevicePath installDir_;
    std::map<uint16_t, std::string> strings_;
    std::map<uint16_t, DevicePath> dirs_;
    std::set<uint16_t> stringIds_, dirIds_, fileIds_, hiveIds_;
};

}  // namespace

std::string Joined(const DevicePath& path)
{
    std::string joined;
    for (const std::string& part : path)
        joined += "\\" + part;
    return joined.empty() ? "\\" : joined;
}

std::optional<DevicePath> StandardFolder(unsigned n)
{
    if (n < 1 || n > sizeof kStandardFolders / sizeof *kStandardFolders)
        return std::nullopt;
    DevicePath folder;
    std::string_view rest = kStandardFolders[n - 1];
    for (size_t slash; (slash = rest.find('\\')) != std::string_view::npos; rest.remove_prefix(slash + 1))
        folder.emplace_back(rest.substr(0, slash));
    folder.emplace_back(rest);
    return folder;
}

std::optional<Header> ReadHeader(std::string_view bytes, std::string& problem)
{
    return Reader(bytes).Read(problem);
}

bool OneName(const std::string& part)
{
    return !part.empty() && part != "." && part != ".." &&
           part.find_first_of("\\/:*?\"<>|") == std::string::npos &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string ShortcutText(const DevicePath& target)
{
    const std::string quoted = "\"" + Joined(target) + "\"";
    return std::to_string(quoted.size()) + "#" + quoted;
}

std::optional<DevicePath> ShortcutTarget(std::string_view text, std::string& why)
{
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
        text.remove_suffix(2);
    else if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    const size_t hash = text.find('#');
    const std::string_view count = text.substr(0, hash), command = text.substr(hash + 1);
    if (hash == std::string_view::npos || count.empty() || count.size() > 4 ||
        count.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoul(std::string(count)) != command.size()) {
        why = "a malformed shortcut (not the length of its target, '#', the target)";
        return std::nullopt;
    }
    std::string_view path = command;
    if (!path.empty() && path[0] == '"') {
        if (path.size() < 2 || path.back() != '"' || path.find('"', 1) != path.size() - 1) {
            why = "a malformed shortcut (its target's quotes don't close it)";
            return std::nullopt;
        }
        path = path.substr(1, path.size() - 2);
    }
    DevicePath target;
    for (size_t at = 0; at < path.size() && path[at] == '\\';) {
        const size_t next = std::min(path.find('\\', at + 1), path.size());
        target.emplace_back(path.substr(at + 1, next - at - 1));
        at = next;
    }
    if (path.empty() || path[0] != '\\' || target.empty() ||
        !std::all_of(target.begin(), target.end(), OneName) || path.size() > kMaxPath) {
        why = "a shortcut whose target leaves the device's folders";
        return std::nullopt;
    }
    return target;
}

}  // namespace cab
