// The installation header of a CE 3.0 cabinet: the .000 file that the
// device's installer (wceload) reads to know what goes where.
//
// A cabinet is untrusted input. The reader never reads past the bytes it is
// given, and refuses, with one line, a header whose tables lie outside it,
// whose strings have no end, whose ids name nothing, or whose files or
// shortcuts would be placed outside the device's folders.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cab {

// A place on the device: its folders from the root, then its name.
using DevicePath = std::vector<std::string>;

// "\Program Files\Velloria\Velloria.exe"
std::string Joined(const DevicePath& path);

struct Header {
    std::string appName, provider;
    uint32_t architecture = 0;
    uint32_t minMajor = 0, minMinor = 0, maxMajor = 0, maxMinor = 0;  // 0: no limit
    uint32_t minBuild = 0, maxBuild = 0;

    struct File {
        uint16_t number = 0;  // the extension of its file in the cabinet
        DevicePath folder;
        std::string name;
        uint32_t flags = 0;
    };
    struct Link {
        DevicePath folder;
        std::string name;    // the shortcut's, without ".lnk"
        DevicePath target;   // a file or a folder on the device
        bool toFile = true;
    };
    std::vector<File> files;
    std::vector<Link> links;
    size_t registryKeys = 0;
};

// The device's folder for %CEn% (1 to 17), or nullopt for another n.
std::optional<DevicePath> StandardFolder(unsigned n);

// The header in `bytes`, or nullopt with `problem`, one line.
std::optional<Header> ReadHeader(std::string_view bytes, std::string& problem);

// How a cabinet's folder of data is compressed.
enum class Compression { Stored, Mszip, Quantum, Lzx };

// "stored", "MSZIP", "Quantum", "LZX".
const char* CompressionName(Compression compression);

// The MS-CAB file's own tables: its folders of data and its files.
struct Layout {
    struct Entry {
        std::string name;  // a plain name: no folder, drive or separator
        uint32_t size = 0;
        uint32_t offset = 0;  // in its folder's data, decompressed
        uint16_t folder = 0;
    };
    std::vector<Compression> folders;
    std::vector<Entry> entries;

    // The bytes a reader decompresses to extract every file.
    uint64_t Unpacked() const;
};

// The tables of the cabinet `bytes`, or nullopt with `problem`, one line
// ("is no cabinet ..."). Refused: a cabinet of a set, a file in no folder of
// its own, a name that is no plain file name, two files of one name in any
// case.
std::optional<Layout> ReadLayout(std::string_view bytes, std::string& problem);

// Whether `part` is one folder or file name on the device: not empty, not
// "." or "..", without a separator, drive or wildcard.
bool OneName(const std::string& part);

// A CE shortcut file: the length of the text after '#', '#', and the target
// path in quotes, as the installer writes it: 40#"\Program Files\...".
std::string ShortcutText(const DevicePath& target);

// The target of a shortcut file's text (quoted or not, one trailing line end
// allowed), a path from the device's root; nullopt with `why` when the text
// is no shortcut or its target leaves the device's folders.
std::optional<DevicePath> ShortcutTarget(std::string_view text, std::string& why);

}  // namespace cab
