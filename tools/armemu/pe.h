// A CE executable's file as its loader reads it: the headers, the sections,
// the imports by name and the resource directory.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace armemu {

struct Section {
    std::string name;
    uint32_t rva = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
};

struct Import {
    std::string dll;
    std::string name;      // empty when imported by ordinal
    uint16_t ordinal = 0;  // by ordinal: the ordinal; by name: the hint
    uint32_t slotRva = 0;  // its entry in the import address table
};

struct Image {
    std::vector<uint8_t> file;
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t subsystem = 0;
    uint16_t subsystemMajor = 0;
    uint16_t subsystemMinor = 0;
    uint32_t imageBase = 0;
    uint32_t imageSize = 0;
    uint32_t headerSize = 0;
    uint32_t entryRva = 0;
    uint32_t stackReserve = 0;
    uint32_t resourceRva = 0;
    uint32_t resourceSize = 0;
    uint32_t clrRva = 0;  // the .NET runtime header's directory
    std::vector<Section> sections;
    std::vector<Import> imports;

    // The bytes at an address relative to the image base, as loaded; empty
    // when the range is not wholly in one section.
    std::vector<uint8_t> Bytes(uint32_t rva, uint32_t size) const;
};

// Reads a PE file and makes the checks CE 3.0's loader makes (machine, DLL
// flag, subsystem version, import descriptors, .NET directory), reading the
// section headers where that loader does; throws std::runtime_error saying
// in one line what is wrong. What that loader ignores is not looked at.
Image ReadImage(const std::string& path);

// A resource name or type: a number, or a string (compared without case).
struct ResourceId {
    uint16_t number = 0;
    std::u16string name;  // used when not empty
};

// One resource's data, found through the resource directory of an image.
struct Resource {
    uint32_t entryRva = 0;  // its IMAGE_RESOURCE_DATA_ENTRY
    uint32_t dataRva = 0;
    uint32_t size = 0;
};

// The first language of type/name, as FindResource does.
std::optional<Resource> FindResource(const Image& image, const ResourceId& type,
                                     const ResourceId& name);

// Every resource of the image: type, name and language ids, and the data.
struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
};
std::vector<ResourceEntry> AllResources(const Image& image);

}  // namespace armemu
