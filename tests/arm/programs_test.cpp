// The handheld's two files as a CE 3.0 ARM linker writes them, and the
// emulated StrongARM's refusals: a program it can't run faithfully stops
// with the reason, never runs on.
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "coredll.h"
#include "facts.h"
#include "host_device.h"
#include "machine.h"
#include "pe.h"
#include "regfile.h"
#include "run_arm.h"

namespace {

struct Program {
    const char* path;
    const char* res;  // the .res compiled from the same .rc as on the other targets
};

const Program kPrograms[] = {
    {TARQUELL_EXE, TARQUELL_RES},
    {VELLORIA_EXE, VELLORIA_RES},
};

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What COREDLL.dll exports under these names: the .def the import library
// is made from.
std::set<std::string> CoreDllNames()
{
    std::set<std::string> names;
    std::ifstream def(COREDLL_DEF);
    bool exports = false;
    for (std::string line; std::getline(def, line);) {
        if (line.empty() || line[0] == ';')
            continue;
        if (line == "EXPORTS")
            exports = true;
        else if (exports)
            names.insert(line);
    }
    return names;
}

TEST(ArmExecutables, HeadersAreThoseOfACe3ArmGuiProgram)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.path);
        armemu::Image image = armemu::ReadImage(program.path);
        EXPECT_EQ(0x1C0, image.machine);
        EXPECT_EQ(9, image.subsystem);  // Windows CE GUI
        EXPECT_EQ(3, image.subsystemMajor);
        EXPECT_EQ(0, image.subsystemMinor);
        EXPECT_EQ(0x10000u, image.imageBase);
    }
}

TEST(ArmExecutables, ImportOnlyFromCoreDllByNamesItExports)
{
    const std::set<std::string> exported = CoreDllNames();
    ASSERT_TRUE(exported.count("RegOpenKeyExW")) << "no names read from " COREDLL_DEF;
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.path);
        armemu::Image image = armemu::ReadImage(program.path);
        EXPECT_FALSE(image.imports.empty());
        for (const armemu::Import& import : image.imports) {
            EXPECT_EQ("COREDLL.dll", import.dll);
            EXPECT_TRUE(exported.count(import.name)) << import.name << " (ordinal " << import.ordinal << ")";
        }
    }
}

// The StrongARM has no bx (ARMv4T): a call through libgcc or a return
// compiled for a later ARM would be one.
TEST(ArmExecutables, CodeHasNoBx)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.path);
        armemu::Image image = armemu::ReadImage(program.path);
        int codeSections = 0;
        for (const armemu::Section& section : image.sections) {
            if (!(section.characteristics & 0x20000000))
                continue;
            ++codeSections;
            std::vector<uint8_t> code = image.Bytes(section.rva, section.virtualSize & ~3u);
            for (size_t i = 0; i + 4 <= code.size(); i += 4) {
                uint32_t word = code[i] | code[i + 1] << 8 | code[i + 2] << 16 | uint32_t(code[i + 3]) << 24;
                EXPECT_NE(0x012FFF10u, word & 0x0FFFFFF0u) << "bx at " << std::hex << section.rva + i;
            }
        }
        EXPECT_EQ(1, codeSections);
    }
}

// The resources of a .res file: 32-byte-aligned entries of a header (sizes,
// type, name, language) and data.
std::vector<armemu::ResourceEntry> ReadRes(const std::vector<uint8_t>& res)
{
    auto u16 = [&](size_t at) { return uint16_t(res.at(at) | res.at(at + 1) << 8); };
    auto u32 = [&](size_t at) { return u16(at) | uint32_t(u16(at + 2)) << 16; };
    auto id = [&](size_t& at) {
        armemu::ResourceId result;
        if (u16(at) == 0xFFFF) {
            result.number = u16(at + 2);
            at += 4;
            return result;
        }
        for (; u16(at); at += 2)
            result.name += char16_t(u16(at));
        at += 2;
        return result;
    };
    std::vector<armemu::ResourceEntry> entries;
    for (size_t at = 0; at + 32 <= res.size();) {
        uint32_t dataSize = u32(at), headerSize = u32(at + 4);
        size_t field = at + 8;
        armemu::ResourceEntry entry;
        entry.type = id(field);
        entry.name = id(field);
        field = (field + 3) & ~size_t(3);
        entry.language = u16(field + 6);
        entry.data.assign(res.begin() + at + headerSize, res.begin() + at + headerSize + dataSize);
        if (dataSize || entry.type.number)  // the leading empty entry
            entries.push_back(entry);
        at = (at + headerSize + dataSize + 3) & ~size_t(3);
    }
    return entries;
}

std::string Describe(const armemu::ResourceEntry& entry)
{
    auto id = [](const armemu::ResourceId& r) {
        return r.name.empty() ? std::to_string(r.number) : std::string(r.name.begin(), r.name.end());
    };
    return id(entry.type) + "/" + id(entry.name) + "/" + std::to_string(entry.language) + " (" +
           std::to_string(entry.data.size()) + " bytes)";
}

TEST(ArmExecutables, ResourcesAreTheOtherBuildsOnesByteForByte)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.path);
        std::vector<armemu::ResourceEntry> expected = ReadRes(ReadFile(program.res));
        std::vector<armemu::ResourceEntry> linked = armemu::AllResources(armemu::ReadImage(program.path));
        // The dialog (Velloria only), icons, icon group and version block.
        ASSERT_GE(expected.size(), 3u);
        ASSERT_EQ(expected.size(), linked.size());
        std::multiset<std::string> want, got;
        for (size_t i = 0; i < expected.size(); ++i) {
            want.insert(Describe(expected[i]));
            got.insert(Describe(linked[i]));
            bool same = false;
            for (const armemu::ResourceEntry& l : linked)
                same = same || (Describe(l) == Describe(expected[i]) && l.data == expected[i].data);
            EXPECT_TRUE(same) << Describe(expected[i]) << " differs or is missing";
        }
        EXPECT_EQ(want, got);
    }
}

// A resource directory whose every entry leads back to itself: looking a
// resource up ends with the reason instead of going round for hours.
TEST(ArmExecutables, ResourceDirectoryGoingRoundInCirclesIsRefused)
{
    HostDevice device;
    std::vector<uint8_t> file = ReadFile(VELLORIA_EXE);
    const armemu::Image image = armemu::ReadImage(VELLORIA_EXE);
    const armemu::Section* rsrc = nullptr;
    for (const armemu::Section& section : image.sections)
        if (section.rva == image.resourceRva)
            rsrc = &section;
    ASSERT_NE(nullptr, rsrc);
    const uint16_t count = uint16_t((rsrc->rawSize - 16) / 8);
    std::fill(file.begin() + rsrc->rawOffset, file.begin() + rsrc->rawOffset + rsrc->rawSize, 0);
    memcpy(&file[rsrc->rawOffset + 14], &count, 2);  // ids
    for (size_t i = 0; i < count; ++i) {
        const uint32_t root = 0x80000000u;  // a directory, at offset 0
        memcpy(&file[rsrc->rawOffset + 16 + 8 * i + 4], &root, 4);
    }
    const std::string path = (device.Outside() / "circles.exe").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    const armemu::Image circles = armemu::ReadImage(path);
    EXPECT_THROW(armemu::AllResources(circles), std::runtime_error);
    EXPECT_THROW(armemu::FindResource(circles, armemu::ResourceId{}, armemu::ResourceId{}), std::runtime_error);
}

// A program file without end is refused once past the largest a handheld's
// program may be, not read on until the memory runs out.
TEST(ArmExecutables, EndlessFileIsRefusedAtTheLimit)
{
    EXPECT_THROW(armemu::ReadImage("/dev/zero"), std::runtime_error);
}

// The emulator's refusals, on copies of Tarquell.exe changed in one place.
struct Refusal {
    const char* what;
    void (*change)(std::vector<uint8_t>& file, const armemu::Image& image);
    const char* message;
};

// Where the byte loaded at `rva` is in the file.
size_t FileOffset(const armemu::Image& image, uint32_t rva)
{
    for (const armemu::Section& s : image.sections)
        if (rva >= s.rva && rva < s.rva + s.rawSize)
            return s.rawOffset + rva - s.rva;
    abort();
}

void SetEntryWord(std::vector<uint8_t>& file, const armemu::Image& image, uint32_t word)
{
    memcpy(&file[FileOffset(image, image.entryRva)], &word, 4);
}

const Refusal kRefusals[] = {
    {"an import the model lacks",
     [](std::vector<uint8_t>& file, const armemu::Image&) {
         const std::string name = "RegCloseKey";
         auto at = std::search(file.begin(), file.end(), name.begin(), name.end());
         ASSERT_NE(file.end(), at);
         at[name.size() - 1] = 'Q';
     },
     "COREDLL.dll!RegCloseKeQ, which the model lacks"},
    {"bx, which the StrongARM lacks",
     [](std::vector<uint8_t>& file, const armemu::Image& image) { SetEntryWord(file, image, 0xE12FFF1E); },
     "an instruction the StrongARM lacks"},
    {"a word load from an address not divisible by 4",
     [](std::vector<uint8_t>& file, const armemu::Image& image) {
         SetEntryWord(file, image, 0xE59F0001);  // ldr r0, [pc, #1]
     },
     "unaligned word load from 0x"},
    {"a halfword store to an odd address",
     [](std::vector<uint8_t>& file, const armemu::Image& image) {
         SetEntryWord(file, image, 0xE1CD00B1);  // strh r0, [sp, #1]
     },
     "unaligned halfword store to 0x"},
    {"an entry at an odd address, which would be Thumb code",
     [](std::vector<uint8_t>& file, const armemu::Image& image) {
         const uint32_t odd = image.entryRva + 1;
         uint32_t pe;
         memcpy(&pe, &file[0x3C], 4);
         memcpy(&file[pe + 24 + 16], &odd, 4);  // the optional header's AddressOfEntryPoint
     },
     ", which is no ARM instruction's address"},
    {"a jump to nowhere",
     [](std::vector<uint8_t>& file, const armemu::Image& image) {
         SetEntryWord(file, image, 0xE3A0F000);  // mov pc, #0
     },
     "execution at 0x0 (unmapped)"},
};

TEST(ArmEmulator, StopsWithTheReasonOnWhatTheHandheldWouldNotRun)
{
    const std::vector<uint8_t> original = ReadFile(TARQUELL_EXE);
    const armemu::Image image = armemu::ReadImage(TARQUELL_EXE);
    for (const Refusal& refusal : kRefusals) {
        SCOPED_TRACE(refusal.what);
        HostDevice device;
        std::vector<uint8_t> changed = original;
        refusal.change(changed, image);
        const std::string path = (device.Outside() / "changed.exe").string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(changed.data()), changed.size());
        ArmRun run = RunArm(path, (device.Outside() / "trace").string());
        EXPECT_EQ(70, run.status);
        EXPECT_NE(std::string::npos, run.output.find(refusal.message)) << run.output;
        EXPECT_TRUE(run.calls.empty()) << run.calls.front();
    }
}

// A program may hand the system a buffer as large as its memory holds: on a
// copy of Tarquell.exe whose last section is 3 MiB larger, a 2 MiB value is
// refused as the host refuses it (past the handheld's 4 KB a value), and the
// largest value kept, set from the far end of that buffer and read back into
// all 2 MiB of it, reaches both sides whole.
TEST(ArmEmulator, RegistryBuffersAreCopiedWholeAtAnySize)
{
    HostDevice device;
    host::PrepareDevice();
    std::vector<uint8_t> file = ReadFile(TARQUELL_EXE);
    const armemu::Image original = armemu::ReadImage(TARQUELL_EXE);
    constexpr uint32_t kGrowth = 3 << 20, kValueSize = 2 << 20;
    uint32_t pe, imageSize, virtualSize;
    uint16_t optionalSize;
    memcpy(&pe, &file[0x3C], 4);
    memcpy(&optionalSize, &file[pe + 20], 2);
    size_t last = 0;
    for (size_t i = 0; i < original.sections.size(); ++i)
        if (original.sections[i].rva > original.sections[last].rva)
            last = i;
    const armemu::Section& section = original.sections[last];
    const size_t header = pe + 24 + optionalSize + 40 * last;
    virtualSize = std::max(section.virtualSize, section.rawSize) + kGrowth;
    memcpy(&file[header + 8], &virtualSize, 4);
    memcpy(&imageSize, &file[pe + 24 + 56], 4);
    imageSize += kGrowth;
    memcpy(&file[pe + 24 + 56], &imageSize, 4);
    const std::string path = (device.Outside() / "large.exe").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());

    armemu::Machine machine(path, armemu::CoreDll());
    auto stub = [&](const std::string& name) {
        for (const armemu::Import& import : machine.image().imports)
            if (import.name == name)
                return machine.Read32(machine.base() + import.slotRva);
        ADD_FAILURE() << "Tarquell.exe doesn't import " << name;
        return 0u;
    };
    const uint32_t buffer = machine.base() + section.rva + ((virtualSize - kGrowth + 0xFFF) & ~0xFFFu);
    std::vector<uint8_t> value(kValueSize);
    for (size_t i = 0; i < value.size(); ++i)
        value[i] = uint8_t(i * 7 + i / 4096);
    machine.Write(buffer, value);
    ASSERT_EQ(uint32_t(ERROR_INVALID_PARAMETER),
              machine.Call(stub("RegSetValueExW"), {0x80000001u, 0, 0, REG_BINARY, buffer, kValueSize}));
    constexpr uint32_t kKept = host::reg::kMostDataBytes;
    const std::vector<uint8_t> tail(value.end() - kKept, value.end());
    ASSERT_EQ(0u, machine.Call(stub("RegSetValueExW"),
                               {0x80000001u, 0, 0, REG_BINARY, buffer + kValueSize - kKept, kKept}));
    std::vector<uint8_t> stored(kValueSize);
    DWORD size = kValueSize;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(HKEY_CURRENT_USER, NULL, NULL, NULL, stored.data(), &size));
    EXPECT_EQ(kKept, size);
    stored.resize(size);
    EXPECT_TRUE(stored == tail) << "the value stored is not the program's buffer";

    machine.Write(buffer, std::vector<uint8_t>(kValueSize, 0));
    const uint32_t sizeAt = buffer + kValueSize;
    machine.Write32(sizeAt, kValueSize);
    ASSERT_EQ(0u, machine.Call(stub("RegQueryValueExW"), {0x80000001u, 0, 0, 0, buffer, sizeAt}));
    EXPECT_EQ(kKept, machine.Read32(sizeAt));
    EXPECT_TRUE(machine.Read(buffer, kKept) == tail) << "the program's buffer is not the value read";
}

// A dialog template is read as far as it says it goes, as Windows does: one
// whose caption runs on to the end of its resource must not lead the host's
// reader past the emulator's copy of it. The dialog is refused and the
// program ends as it does when its dialog can't be made.
TEST(ArmEmulator, ADialogTemplateRunningPastItsResourceIsReadNoFurther)
{
    HostDevice device;
    host::PrepareDevice();
    std::vector<uint8_t> file = ReadFile(VELLORIA_EXE);
    const armemu::Image image = armemu::ReadImage(VELLORIA_EXE);
    const std::optional<armemu::Resource> dialog = armemu::FindResource(image, {5, {}}, {facts::kDialogId, {}});
    ASSERT_TRUE(dialog);
    // After the fixed part (18 bytes), no menu and the default class, the
    // caption: no zero from there to the resource's end.
    const size_t at = FileOffset(image, dialog->dataRva);
    std::fill(file.begin() + at + 22, file.begin() + at + dialog->size, 0x41);
    const std::string path = (device.Outside() / "endless.exe").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    ArmRun run = RunArm(path, (device.Outside() / "trace").string());
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(run.calls.end(), std::find_if(run.calls.begin(), run.calls.end(), [](const std::string& call) {
                  return call.rfind("DialogBoxIndirectParamW", 0) == 0;
              })) << "the dialog was never asked for";
}

}  // namespace
