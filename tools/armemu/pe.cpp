#include "pe.h"

#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "le_bytes.h"

namespace armemu {

namespace {

constexpr uint16_t kMachineArm = 0x1C0;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kSubsystemCeGui = 9;
constexpr uint32_t kClrDirectory = 14;
constexpr size_t kCeOptionalHeaderSize = 0xE0;
constexpr size_t kMaxFile = 16 << 20;

uint32_t Read(const std::vector<uint8_t>& bytes, size_t offset, size_t width)
{
    host::LeBytes in(bytes.data(), bytes.size());
    const uint32_t value = in.ReadAt(offset, width);
    if (!in.ok())
        throw std::runtime_error("truncated at offset " + std::to_string(offset));
    return value;
}

uint16_t Read16(const std::vector<uint8_t>& bytes, size_t offset)
{
    return uint16_t(Read(bytes, offset, 2));
}

uint32_t Read32(const std::vector<uint8_t>& bytes, size_t offset)
{
    return Read(bytes, offset, 4);
}

uint32_t Read32At(const Image& image, uint32_t rva)
{
    std::vector<uint8_t> bytes = image.Bytes(rva, 4);
    if (bytes.empty())
        throw std::runtime_error("address " + std::to_string(rva) + " is outside the sections");
    return Read32(bytes, 0);
}

std::string ReadName(const Image& image, uint32_t rva)
{
    std::string name;
    for (;; ++rva) {
        std::vector<uint8_t> byte = image.Bytes(rva, 1);
        if (byte.empty())
            throw std::runtime_error("a name runs out of its section");
        if (byte[0] == 0)
            return name;
        if (name.size() > 256)
            throw std::runtime_error("a name is too long");
        name += char(byte[0]);
    }
}

void ReadImports(Image& image, uint32_t rva)
{
    for (;; rva += 20) {
        uint32_t lookup = Read32At(image, rva);
        uint32_t nameRva = Read32At(image, rva + 12);
        uint32_t slots = Read32At(image, rva + 16);
        if (nameRva == 0 && slots == 0)
            return;
        const std::string dll = ReadName(image, nameRva);
        // CE's loader reads the names from OriginalFirstThunk alone.
        if (lookup == 0)
            throw std::runtime_error("its imports from " + dll + " have no OriginalFirstThunk");
        uint32_t table = lookup;
        for (uint32_t i = 0;; ++i) {
            uint32_t entry = Read32At(image, table + 4 * i);
            if (entry == 0)
                break;
            Import import;
            import.dll = dll;
            import.slotRva = slots + 4 * i;
            if (entry & 0x80000000u)
                import.ordinal = uint16_t(entry);
            else {
                import.ordinal = uint16_t(Read32At(image, entry));
                import.name = ReadName(image, entry + 2);
            }
            image.imports.push_back(import);
            if (image.imports.size() > 4096)
                throw std::runtime_error("too many imports");
        }
    }
}

// The resource directory's entries: name or id, and the offset of what
// they point to (high bit: another directory).
struct DirectoryEntry {
    ResourceId id;
    uint32_t offset;
};

// A directory may name any other, itself included: a walk reads at most
// this many entries in all, far more than any program's resources need.
constexpr size_t kMaxWalk = 4096;

std::vector<DirectoryEntry> ReadDirectory(const Image& image, uint32_t offset, size_t& walked)
{
    std::vector<uint8_t> header = image.Bytes(image.resourceRva + offset, 16);
    if (header.empty())
        throw std::runtime_error("a resource directory is outside .rsrc");
    uint32_t count = uint32_t(Read16(header, 12)) + Read16(header, 14);
    std::vector<DirectoryEntry> entries;
    for (uint32_t i = 0; i < count && i < 1024; ++i) {
        if (++walked > kMaxWalk)
            throw std::runtime_error("the resource directory leads round in circles or is too large");
        uint32_t nameField = Read32At(image, image.resourceRva + offset + 16 + 8 * i);
        uint32_t target = Read32At(image, image.resourceRva + offset + 16 + 8 * i + 4);
        DirectoryEntry entry{{}, target};
        if (nameField & 0x80000000u) {
            uint32_t at = image.resourceRva + (nameField & 0x7FFFFFFFu);
            std::vector<uint8_t> length = image.Bytes(at, 2);
            if (length.empty())
                throw std::runtime_error("a resource name is outside .rsrc");
            std::vector<uint8_t> text = image.Bytes(at + 2, 2u * Read16(length, 0));
            for (size_t c = 0; c + 1 < text.size(); c += 2)
                entry.id.name += char16_t(Read16(text, c));
        } else {
            entry.id.number = uint16_t(nameField);
        }
        entries.push_back(entry);
    }
    return entries;
}

char16_t Upper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
}

bool Same(const ResourceId& a, const ResourceId& b)
{
    if (a.name.empty() || b.name.empty())
        return a.name.empty() && b.name.empty() && a.number == b.number;
    if (a.name.size() != b.name.size())
        return false;
    for (size_t i = 0; i < a.name.size(); ++i)
        if (Upper(a.name[i]) != Upper(b.name[i]))
            return false;
    return true;
}

Resource DataEntry(const Image& image, uint32_t offset)
{
    Resource resource;
    resource.entryRva = image.resourceRva + offset;
    resource.dataRva = Read32At(image, resource.entryRva);
    resource.size = Read32At(image, resource.entryRva + 4);
    return resource;
}

}  // namespace

std::vector<uint8_t> Image::Bytes(uint32_t rva, uint32_t size) const
{
    if (rva + uint64_t(size) <= headerSize)
        return std::vector<uint8_t>(file.begin() + rva, file.begin() + rva + size);
    for (const Section& section : sections) {
        uint32_t extent = std::max(section.virtualSize, section.rawSize);
        if (rva < section.rva || rva + uint64_t(size) > uint64_t(section.rva) + extent)
            continue;
        std::vector<uint8_t> bytes(size, 0);
        uint32_t from = rva - section.rva;
        for (uint32_t i = 0; i < size && from + i < section.rawSize; ++i)
            bytes[i] = file[section.rawOffset + from + i];
        return bytes;
    }
    return {};
}

namespace {

// CE 3.0's loader refuses these, each with its one line; DllCharacteristics,
// the OS version, the heap sizes and the checksum it ignores.
struct LoaderCheck {
    const char* refusal;
    bool (*refuses)(const Image&);
};

const LoaderCheck kLoaderChecks[] = {
    {"is not for ARM (its machine is not 0x1C0)", [](const Image& i) { return i.machine != kMachineArm; }},
    {"is marked as a DLL, not a program", [](const Image& i) { return (i.characteristics & kFileDll) != 0; }},
    {"is for a Windows CE later than 3.0: not a valid application",
     [](const Image& i) {
         return i.subsystem == kSubsystemCeGui &&
                (i.subsystemMajor > 3 || (i.subsystemMajor == 3 && i.subsystemMinor > 0));
     }},
    {"is a .NET program", [](const Image& i) { return i.clrRva != 0; }},
};

}  // namespace

Image ReadImage(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    Image image;
    // One byte past the limit tells a file too large, whatever its size.
    for (std::istreambuf_iterator<char> at(in), end; at != end && image.file.size() <= kMaxFile; ++at)
        image.file.push_back(uint8_t(*at));
    if (image.file.size() > kMaxFile)
        throw std::runtime_error(path + " is too large for a handheld program");
    const std::vector<uint8_t>& f = image.file;
    if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z')
        throw std::runtime_error(path + " is not an executable (no MZ header)");
    uint32_t pe = Read32(f, 0x3C);
    if (Read32(f, pe) != 0x00004550)
        throw std::runtime_error(path + " has no PE header");
    image.machine = Read16(f, pe + 4);
    uint16_t sectionCount = Read16(f, pe + 6);
    image.characteristics = Read16(f, pe + 22);
    size_t opt = pe + 24;
    image.entryRva = Read32(f, opt + 16);
    image.imageBase = Read32(f, opt + 28);
    image.subsystemMajor = Read16(f, opt + 48);
    image.subsystemMinor = Read16(f, opt + 50);
    image.imageSize = Read32(f, opt + 56);
    image.headerSize = Read32(f, opt + 60);
    image.subsystem = Read16(f, opt + 68);
    image.stackReserve = Read32(f, opt + 72);
    uint32_t directories = Read32(f, opt + 92);
    uint32_t importRva = directories > 1 ? Read32(f, opt + 96 + 8) : 0;
    if (directories > 2) {
        image.resourceRva = Read32(f, opt + 96 + 16);
        image.resourceSize = Read32(f, opt + 96 + 20);
    }
    if (directories > kClrDirectory)
        image.clrRva = Read32(f, opt + 96 + 8 * kClrDirectory);
    for (const LoaderCheck& check : kLoaderChecks)
        if (check.refuses(image))
            throw std::runtime_error(path + " " + check.refusal);
    if (Read16(f, opt) != 0x10B)
        throw std::runtime_error(path + " is not a 32-bit PE");
    // Where CE's loader looks for them, whatever SizeOfOptionalHeader says.
    const size_t table = opt + kCeOptionalHeaderSize;
    if (table + 40u * sectionCount > f.size())
        throw std::runtime_error(path + "'s section table runs past the end of the file");
    if (image.headerSize > f.size() || image.imageSize > kMaxFile)
        throw std::runtime_error(path + " has impossible sizes");
    for (uint16_t i = 0; i < sectionCount; ++i) {
        size_t at = table + 40 * i;
        Section section;
        const char* name = reinterpret_cast<const char*>(&f[at]);
        section.name.assign(name, strnlen(name, 8));
        section.virtualSize = Read32(f, at + 8);
        section.rva = Read32(f, at + 12);
        section.rawSize = Read32(f, at + 16);
        section.rawOffset = Read32(f, at + 20);
        section.characteristics = Read32(f, at + 36);
        if (uint64_t(section.rawOffset) + section.rawSize > f.size() ||
            uint64_t(section.rva) + std::max(section.virtualSize, section.rawSize) > image.imageSize)
            throw std::runtime_error(path + ": section " + section.name + " lies outside the file or image");
        image.sections.push_back(section);
    }
    if (importRva) {
        try {
            ReadImports(image, importRva);
        } catch (const std::runtime_error& error) {
            throw std::runtime_error(path + ": " + error.what());
        }
    }
    return image;
}

std::optional<Resource> FindResource(const Image& image, const ResourceId& type,
                                     const ResourceId& name)
{
    if (image.resourceRva == 0)
        return std::nullopt;
    size_t walked = 0;
    for (const DirectoryEntry& t : ReadDirectory(image, 0, walked)) {
        if (!Same(t.id, type) || !(t.offset & 0x80000000u))
            continue;
        for (const DirectoryEntry& n : ReadDirectory(image, t.offset & 0x7FFFFFFFu, walked)) {
            if (!Same(n.id, name) || !(n.offset & 0x80000000u))
                continue;
            for (const DirectoryEntry& l : ReadDirectory(image, n.offset & 0x7FFFFFFFu, walked))
                if (!(l.offset & 0x80000000u))
                    return DataEntry(image, l.offset);
        }
    }
    return std::nullopt;
}

std::vector<ResourceEntry> AllResources(const Image& image)
{
    std::vector<ResourceEntry> all;
    if (image.resourceRva == 0)
        return all;
    size_t walked = 0;
    uint64_t copied = 0;
    for (const DirectoryEntry& t : ReadDirectory(image, 0, walked)) {
        if (!(t.offset & 0x80000000u))
            continue;
        for (const DirectoryEntry& n : ReadDirectory(image, t.offset & 0x7FFFFFFFu, walked)) {
            if (!(n.offset & 0x80000000u))
                continue;
            for (const DirectoryEntry& l : ReadDirectory(image, n.offset & 0x7FFFFFFFu, walked)) {
                if (l.offset & 0x80000000u)
                    continue;
                Resource data = DataEntry(image, l.offset);
                // Entries may share their data; copies of it stay within the image's size.
                if ((copied += data.size) > kMaxFile)
                    throw std::runtime_error("the resources come to more than the image holds");
                all.push_back({t.id, n.id, l.id.number, image.Bytes(data.dataRva, data.size)});
            }
        }
    }
    return all;
}

}  // namespace armemu
