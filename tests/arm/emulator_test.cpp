// The handheld's two files as a CE 3.0 ARM linker writes them, and the
// emulated StrongARM's refusals: a program it can't run faithfully stops
// with the reason, never runs on.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "coredll.h"
#include "device/device.h"
#include "facts.h"
#include "le_bytes.h"
#include "registry/handles.h"
#include "support/host_device.h"
#include "machine.h"
#include "pe.h"
#include "registry/regfile.h"
#include "support/helpers.h"
#include "support/res_file.h"
#include "run_arm.h"
#include "settings/scripted_terminal.h"

namespace {

struct Program {
    const char* name;
    const char* path;
    const char* res;  // the .res compiled from the same .rc as on the other targets
};

const Program kPrograms[] = {
    {"Tarquell", TARQUELL_EXE, TARQUELL_RES},
    {"Velloria", VELLORIA_EXE, VELLORIA_RES},
};

// The cases that hold for each program's file, run on both.
class ArmExecutable : public testing::TestWithParam<Program> {
protected:
    const armemu::Image image_ = armemu::ReadImage(GetParam().path);
};

INSTANTIATE_TEST_SUITE_P(Built, ArmExecutable, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program>& row) { return std::string(row.param.name); });

std::string WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& file)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    return path.string();
}

// Where the byte loaded at `rva` is in the file.
size_t FileOffset(const armemu::Image& image, uint32_t rva)
{
    for (const armemu::Section& s : image.sections)
        if (rva >= s.rva && rva < s.rva + s.rawSize)
            return s.rawOffset + rva - s.rva;
    abort();
}

// Where the optional header starts: after the PE signature and file header.
size_t OptionalHeader(const std::vector<uint8_t>& file)
{
    return host::LeBytes(file.data(), file.size()).U32At(0x3C) + 24;
}

// Reads or writes `size` bytes at `offset` into the optional header, or
// before it for a negative one (the file header).
uint32_t Header(const std::vector<uint8_t>& file, int offset, size_t size = 4)
{
    return host::LeBytes(file.data(), file.size()).ReadAt(OptionalHeader(file) + offset, size);
}
void SetHeader(std::vector<uint8_t>& file, int offset, uint32_t value, size_t size = 4)
{
    memcpy(&file[OptionalHeader(file) + offset], &value, size);
}

// The names and ordinals the import library is made from: the .def.
std::set<std::pair<std::string, int>> DefExports()
{
    std::set<std::pair<std::string, int>> names;
    std::ifstream def(COREDLL_DEF);
    for (std::string line; std::getline(def, line);)  // "Name @ordinal", past the comments
        if (line[0] != ';' && line.find(" @") != std::string::npos)
            names.insert({line.substr(0, line.find(" @")), atoi(line.c_str() + line.find(" @") + 2)});
    return names;
}

TEST_P(ArmExecutable, HeadersAreThoseOfACe3ArmGuiProgram)
{
    // ARM, the Windows CE GUI subsystem 3.0, the base, and no link time in
    // the file, so the same sources give the same bytes (and the same cabinet).
    EXPECT_EQ((std::vector<uint32_t>{0x1C0, 9, 3, 0, 0x10000, 0}),
              (std::vector<uint32_t>{image_.machine, image_.subsystem, image_.subsystemMajor, image_.subsystemMinor,
                                     image_.imageBase, Header(image_.file, -16)}));
}

// Both programs import only what CE 3.0's COREDLL exports (the emulator's
// table, which the .def repeats), by name, each hinting its ordinal.
TEST_P(ArmExecutable, ImportOnlyWhatCe3CoreDllExports)
{
    std::set<std::pair<std::string, int>> table;
    const armemu::CoreDll coredll;
    for (const armemu::Export& e : coredll.exports())
        table.insert({e.name, e.ordinal});
    EXPECT_EQ(table, DefExports());
    EXPECT_FALSE(image_.imports.empty());
    for (const armemu::Import& import : image_.imports) {
        EXPECT_EQ("COREDLL.dll", import.dll);
        EXPECT_TRUE(table.count({import.name, import.ordinal})) << import.name << " hinting " << import.ordinal;
    }
}

// The StrongARM has no bx (ARMv4T): a call through libgcc or a return
// compiled for a later ARM would be one.
TEST_P(ArmExecutable, CodeHasNoBx)
{
    int codeSections = 0;
    for (const armemu::Section& section : image_.sections) {
        if (!(section.characteristics & 0x20000000))
            continue;
        ++codeSections;
        std::vector<uint8_t> code = image_.Bytes(section.rva, section.virtualSize & ~3u);
        for (size_t i = 0; i + 4 <= code.size(); i += 4) {
            uint32_t word = host::LeBytes(code.data(), code.size()).U32At(i);
            EXPECT_NE(0x012FFF10u, word & 0x0FFFFFF0u) << "bx at " << std::hex << section.rva + i;
        }
    }
    EXPECT_EQ(1, codeSections);
}

// A resource as a .res names it (a number as "#<n>"), with its data.
using Named = std::tuple<std::u16string, std::u16string, WORD, std::vector<uint8_t>>;

std::u16string ResName(const armemu::ResourceId& id)
{
    const std::string number = "#" + std::to_string(id.number);
    return id.name.empty() ? std::u16string(number.begin(), number.end()) : id.name;
}

TEST_P(ArmExecutable, ResourcesAreTheOtherBuildsOnesByteForByte)
{
    const std::string res = FileBytes(GetParam().res);
    const std::vector<ResEntry> entries = ReadRes(reinterpret_cast<const BYTE*>(res.data()), res.size());
    std::multiset<Named> expected, linked;
    for (size_t i = 1; i < entries.size(); ++i)  // after the empty entry a .res starts with
        expected.insert(Named{entries[i].type, entries[i].name, entries[i].language, entries[i].data});
    for (const armemu::ResourceEntry& e : armemu::AllResources(image_))
        linked.insert(Named{ResName(e.type), ResName(e.name), e.language, e.data});
    // The dialog (Velloria only), icons, icon group and version block.
    EXPECT_GE(expected.size(), 3u);
    EXPECT_EQ(expected, linked);
}

// A resource directory whose every entry leads back to itself: looking a
// resource up ends with the reason instead of going round for hours.
TEST(ArmExecutables, ResourceDirectoryGoingRoundInCirclesIsRefused)
{
    HostDevice device;
    const armemu::Image image = armemu::ReadImage(VELLORIA_EXE);
    std::vector<uint8_t> file = image.file;
    const auto rsrc = std::find_if(image.sections.begin(), image.sections.end(),
                                   [&](const armemu::Section& section) { return section.rva == image.resourceRva; });
    ASSERT_NE(image.sections.end(), rsrc);
    const uint16_t count = uint16_t((rsrc->rawSize - 16) / 8);
    std::fill(file.begin() + rsrc->rawOffset, file.begin() + rsrc->rawOffset + rsrc->rawSize, 0);
    memcpy(&file[rsrc->rawOffset + 14], &count, 2);  // ids
    for (size_t i = 0; i < count; ++i) {
        const uint32_t root = 0x80000000u;  // a directory, at offset 0
        memcpy(&file[rsrc->rawOffset + 16 + 8 * i + 4], &root, 4);
    }
    const armemu::Image circles = armemu::ReadImage(WriteFile(device.Outside() / "circles.exe", file));
    EXPECT_THROW(armemu::AllResources(circles), std::runtime_error);
    EXPECT_THROW(armemu::FindResource(circles, armemu::ResourceId{}, armemu::ResourceId{}), std::runtime_error);
}

// A program file without end is refused once past the largest a handheld's
// program may be, not read on until the memory runs out.
TEST(ArmExecutables, EndlessFileIsRefusedAtTheLimit)
{
    EXPECT_THROW(armemu::ReadImage("/dev/zero"), std::runtime_error);
}

// Copies of Tarquell.exe changed in one place: a header field (at an offset
// into the optional header, as SetHeader takes it), the entry's first
// instructions, or something else. What the handheld would not run stops
// with the reason; what CE 3.0's loader ignores, the emulator ignores, and
// the copy runs as Tarquell.exe itself does.
struct Changed {
    const char* what;
    const char* message;               // the reason it stops with, or null: runs as the original
    std::vector<uint32_t> entry = {};  // the entry's first instructions, if changed
    int field = 0;
    uint32_t value = 0;
    size_t size = 0;  // the field's, or 0 for none
    void (*change)(std::vector<uint8_t>& file, const armemu::Image& image) = nullptr;
};

// The instructions at the entry replaced by `words`.
void SetEntry(std::vector<uint8_t>& file, const armemu::Image& image, const std::vector<uint32_t>& words)
{
    for (size_t i = 0; i < words.size(); ++i)
        memcpy(&file[FileOffset(image, image.entryRva + 4 * uint32_t(i))], &words[i], 4);
}

// A changed copy run on the emulator, in the device's folder.
ArmRun RunChanged(HostDevice& device, const std::vector<uint8_t>& file)
{
    return RunArm(WriteFile(device.Outside() / "changed.exe", file), (device.Outside() / "trace").string());
}

const Changed kChanged[] = {
    // The checks of CE 3.0's loader.
    {"a machine other than ARM", "is not for ARM (its machine is not 0x1C0)", {}, -20, 0x14C, 2},
    {"the DLL flag on a program", "is marked as a DLL, not a program", {}, 0, 0, 0,
     [](auto& file, auto& image) { SetHeader(file, -2, image.characteristics | 0x2000, 2); }},
    {"a subsystem version above 3.0", "is for a Windows CE later than 3.0: not a valid application", {}, 50, 1, 2},
    // The import directory's first descriptor.
    {"an import descriptor without its OriginalFirstThunk", "its imports from COREDLL.dll have no OriginalFirstThunk",
     {}, 0, 0, 0, [](auto& file, auto& image) { memset(&file[FileOffset(image, Header(file, 104))], 0, 4); }},
    {"a .NET directory", "is a .NET program", {}, 96 + 8 * 14, 0x2000, 4},
    // SizeOfHeaders 0 keeps within what is left; the cut is 3 bytes into the
    // first section's name.
    {"a section table that runs past the end of the file", "section table runs past the end of the file", {}, 60, 0, 4,
     [](auto& file, auto&) { file.resize(OptionalHeader(file) + 0xE0 + 3); }},
    {"bx, which the StrongARM lacks", "an instruction the StrongARM lacks", {0xE12FFF1E}},
    // ldr r0, [pc, #1]
    {"a word load from an address not divisible by 4", "unaligned word load from 0x", {0xE59F0001}},
    // strh r0, [sp, #1]
    {"a halfword store to an odd address", "unaligned halfword store to 0x", {0xE1CD00B1}},
    // AddressOfEntryPoint
    {"an entry at an odd address, which would be Thumb code", ", which is no ARM instruction's address", {}, 0, 0, 0,
     [](auto& file, auto& image) { SetHeader(file, 16, image.entryRva + 1); }},
    // mov r0, #0xF00000; add pc, r0, #0x1100
    {"a jump into the page past the system's stubs", "an instruction the StrongARM lacks", {0xE3A0060F, 0xE280FC11}},
    // mov pc, #0
    {"a jump to nowhere", "execution at 0x0 (unmapped)", {0xE3A0F000}},
    // What that loader ignores. The section headers are where a 0xE0-byte
    // optional header puts them, whatever its size says.
    {"DllCharacteristics", nullptr, {}, 70, 0x0140, 2},
    {"the OS version", nullptr, {}, 40, 0x00090009, 4},
    {"the heap sizes", nullptr, {}, 80, 0x7FFFFFFF, 4},
    {"the heap commit", nullptr, {}, 84, 0x7FFFFFFF, 4},
    {"the checksum", nullptr, {}, 64, 0x12345678, 4},
    {"SizeOfOptionalHeader", nullptr, {}, -4, 0xF0, 2},
    {"a stack reserve of 256 MiB, which CE clamps to 1 MiB", nullptr, {}, 72, 0x10000000, 4},
};

TEST(ArmEmulator, StopsWithTheReasonOnWhatTheHandheldWouldNotRunAndIgnoresTheRest)
{
    const armemu::Image image = armemu::ReadImage(TARQUELL_EXE);
    HostDevice first;
    const ArmRun itself = RunChanged(first, image.file);
    ASSERT_EQ(0, itself.status) << itself.output;
    for (const Changed& row : kChanged) {
        SCOPED_TRACE(row.what);
        HostDevice device;
        std::vector<uint8_t> changed = image.file;
        if (row.size)
            SetHeader(changed, row.field, row.value, row.size);
        if (row.change)
            row.change(changed, image);
        SetEntry(changed, image, row.entry);
        ArmRun run = RunChanged(device, changed);
        EXPECT_EQ(row.message ? 70 : 0, run.status) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(row.message ? row.message : "")) << run.output;
        EXPECT_EQ(row.message ? std::vector<std::string>{} : itself.calls, run.calls);
    }
}

// The stack is the file's reserve, page-rounded, 64 KiB for none and at
// most 1 MiB, less the 2 KB CE keeps at its end for overflow control.
TEST(ArmEmulator, StackIsTheReserveClampedTo1MiBLess2Kb)
{
    const struct {
        uint32_t reserve, stack;
    } kStacks[] = {{0, 0xF800}, {0x8000, 0x7800}, {0x12345, 0x12800}, {0x100000, 0xFF800}, {0x200000, 0xFF800}};
    const std::vector<uint8_t> original = armemu::ReadImage(TARQUELL_EXE).file;
    HostDevice device;
    for (const auto& row : kStacks) {
        std::vector<uint8_t> changed = original;
        SetHeader(changed, 72, row.reserve);
        armemu::CoreDll coredll;
        armemu::Machine machine(WriteFile(device.Outside() / "stack.exe", changed), coredll.exports());
        EXPECT_EQ(row.stack, machine.stackSize()) << std::hex << row.reserve;
        std::vector<uint8_t> word(4);
        EXPECT_TRUE(machine.Peek(armemu::kStackTop - row.stack, word));
        EXPECT_FALSE(machine.Peek(armemu::kStackTop - row.stack - 4, word));
    }
}

// The entry's code touching one word `used` bytes below the stack's top
// (the entry's sp is 4 below it), then returning 0: sub r1, sp, #high;
// sub r1, r1, #low; str r0, [r1]; mov r0, #0; mov pc, lr.
std::vector<uint32_t> TouchStack(uint32_t used)
{
    const uint32_t below = used - 4;
    return {0xE24D1C00 | (below >> 8 & 0xFF), 0xE2411000 | (below & 0xFF), 0xE5810000, 0xE3A00000, 0xE1A0F00E};
}

// A program using its whole stack runs; one word further is a stack
// overflow, which ends it with one line saying so, never a write into
// whatever lies below. An image reaching the stack's reserve is refused.
TEST(ArmEmulator, AStackOverflowStopsTheProgramAndNothingMayLieAgainstTheStack)
{
    const armemu::Image image = armemu::ReadImage(TARQUELL_EXE);
    constexpr uint32_t kReserve = 0x10000, kUsable = kReserve - 0x800;
    // The last section made to end `gap` bytes below the stack's reserve.
    const auto reaching = [&](std::vector<uint8_t>& file, uint32_t gap) {
        const size_t last = image.sections.size() - 1;
        const uint32_t end = armemu::kStackTop - kReserve - gap - image.imageBase;
        SetHeader(file, int(Header(file, -4, 2) + 40 * last + 8), end - image.sections[last].rva);
        SetHeader(file, 56, end);
    };
    const struct {
        const char* what;
        uint32_t used;     // bytes of stack the entry uses, or 0 for the original entry
        uint32_t gap;      // how far below the reserve the image ends, or 0 as it is
        const char* message;  // or null: it runs
    } kRows[] = {
        {"the reserve less 2 KB less 4 bytes", kUsable - 4, 0, nullptr},
        {"the reserve less 2 KB plus 4 bytes", kUsable + 4, 0, "a stack overflow: write to 0x"},
        {"an image a page below the reserve", 0, 0x1000, nullptr},
        {"an image against the reserve", 0, 0, "reaches the stack's reserve at 0x"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.what);
        HostDevice device;
        std::vector<uint8_t> changed = image.file;
        SetHeader(changed, 72, kReserve);
        if (row.used)
            SetEntry(changed, image, TouchStack(row.used));
        if (row.gap || (row.message && !row.used))
            reaching(changed, row.gap);
        ArmRun run = RunChanged(device, changed);
        EXPECT_EQ(row.message ? 70 : 0, run.status) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(row.message ? row.message : "")) << run.output;
        EXPECT_EQ(row.message ? 1 : 0, std::count(run.output.begin(), run.output.end(), '\n')) << run.output;
    }
}

// The entry is called as COREDLL's thread start calls it: the process
// handle first, on a stack 4 bytes past a multiple of 8.
TEST(ArmEmulator, EntryGetsTheProcessHandleOnAStackAlignedTo4Not8)
{
    HostDevice device;
    const armemu::Image image = armemu::ReadImage(TARQUELL_EXE);
    const struct {
        uint32_t code;  // the entry's first word, then mov pc, lr
        uint32_t result;
    } kEntries[] = {{0xE1A00000 /* mov r0, r0 */, armemu::kProcessHandle}, {0xE20D0007 /* and r0, sp, #7 */, 4}};
    for (const auto& entry : kEntries) {
        std::vector<uint8_t> changed = image.file;
        SetEntry(changed, image, {entry.code, 0xE1A0F00E});
        armemu::CoreDll coredll;
        armemu::Machine machine(WriteFile(device.Outside() / "entry.exe", changed), coredll.exports());
        EXPECT_EQ(entry.result, uint32_t(machine.RunEntry()));
    }
}

// Programs built from crafted.cpp: each runs, makes its first call, then
// stops at the call the emulator must stop at, with the line that says so
// and names the caller, an address in the program's code.
const struct {
    const char* path;
    const char* message;
} kCrafted[] = {
    {CRAFTED_BY_NAME_EXE, "a call to COREDLL.dll!LockResource, which Windows CE 3.0 does not export, from 0x"},
    {CRAFTED_BY_ORDINAL_EXE, "a call to COREDLL.dll ordinal 4000, which Windows CE 3.0 does not export, from 0x"},
    {CRAFTED_PAST_THE_IMPORTS_EXE, "among the system's stubs, where no import is bound"},
};

TEST(ArmEmulator, StopsAtTheFirstCallOfWhatCe3Lacks)
{
    for (const auto& crafted : kCrafted) {
        SCOPED_TRACE(crafted.path);
        HostDevice device;
        ArmRun run = RunArm(crafted.path, (device.Outside() / "trace").string());
        EXPECT_EQ(70, run.status);
        const size_t at = run.output.find(crafted.message);
        ASSERT_NE(std::string::npos, at) << run.output;
        EXPECT_EQ(std::vector<std::string>{}, run.calls);  // its first call is not one the trace shows
        EXPECT_EQ(1, std::count(run.output.begin(), run.output.end(), '\n')) << run.output;
        const std::string from = run.output.substr(at + strlen(crafted.message));
        if (from.empty() || !isxdigit(from[0]))
            continue;
        const armemu::Image image = armemu::ReadImage(crafted.path);
        const uint32_t caller = uint32_t(strtoul(from.c_str(), nullptr, 16)) - image.imageBase;
        EXPECT_TRUE(std::any_of(image.sections.begin(), image.sections.end(), [&](const armemu::Section& code) {
            return (code.characteristics & 0x20000000) && caller >= code.rva && caller < code.rva + code.virtualSize;
        })) << std::hex << caller;
    }
}

// A dialog whose template names a font is sent WM_SETFONT, with a font,
// before WM_INITDIALOG and nothing else, as CE's dialog manager sends it.
TEST(ArmEmulator, ADialogNamingAFontGetsItBeforeWmInitDialog)
{
    HostDevice device;
    host::PrepareDevice();
    ScriptedTerminal terminal;
    armemu::CoreDll coredll;
    armemu::Machine machine(CRAFTED_FONT_EXE, coredll.exports());
    EXPECT_EQ(0x11, machine.RunEntry());
}

// A program asking for a restart stops at the call, the restart asked for,
// with the emulator's own status; on a device refusing it the call fails
// and the program runs on to its end, nothing asked for.
TEST(ArmEmulator, ARestartStopsTheProgramUnlessTheDeviceRefusesIt)
{
    const struct {
        std::vector<const char*> options;
        int status;
        bool asked;
    } kRows[] = {{{}, armemu::kResetStatus, true}, {{"--refuse-reset"}, 1, false}};
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.options.size());
        HostDevice device;
        std::vector<const char*> command = {ARMEMU};
        command.insert(command.end(), row.options.begin(), row.options.end());
        command.push_back(CRAFTED_RESET_EXE);
        const ChildRun run = RunToEnd(command);
        EXPECT_EQ(row.status, run.status) << run.output;
        EXPECT_EQ("", run.output);
        EXPECT_EQ(row.asked, std::filesystem::exists(host::DeviceRoot() + "/" + host::kRestartRequestFile));
    }
}

// Where the program's import of `name` is bound: calling it calls COREDLL.
uint32_t Stub(armemu::Machine& machine, const std::string& name)
{
    for (const armemu::Import& import : machine.image().imports)
        if (import.name == name)
            return machine.Read32(machine.base() + import.slotRva);
    ADD_FAILURE() << machine.path() << " doesn't import " << name;
    return 0;
}

uint32_t WriteText(armemu::Machine& machine, uint32_t at, const std::u16string& text)
{
    std::vector<uint8_t> bytes;
    for (char16_t c : text + u'\0')
        bytes.insert(bytes.end(), {uint8_t(c), uint8_t(c >> 8)});
    machine.Write(at, bytes);
    return at;
}

// The program's resources are found through the process handle alone: null
// and the image's address are refused, as on CE 3.0.
TEST(ArmEmulator, ResourcesAreTheProcessHandlesAlone)
{
    HostDevice device;
    armemu::CoreDll coredll;
    armemu::Machine machine(VELLORIA_EXE, coredll.exports());
    EXPECT_EQ(armemu::kProcessHandle, machine.Call(Stub(machine, "GetModuleHandleW"), {0}));
    const uint32_t found = machine.Call(Stub(machine, "FindResourceW"), {armemu::kProcessHandle, facts::kDialogId, 5});
    ASSERT_NE(0u, found);
    const struct {
        uint32_t module;
        bool found;
    } kModules[] = {{armemu::kProcessHandle, true}, {0, false}, {machine.base(), false}};
    for (const auto& row : kModules) {
        SCOPED_TRACE(row.module);
        SetLastError(0);
        EXPECT_EQ(row.found, machine.Call(Stub(machine, "FindResourceW"), {row.module, facts::kDialogId, 5}) != 0);
        EXPECT_EQ(row.found, machine.Call(Stub(machine, "LoadResource"), {row.module, found}) != 0);
        EXPECT_EQ(row.found ? 0u : DWORD(ERROR_INVALID_HANDLE), GetLastError());
    }
}

// Tarquell.exe loaded on a device set up, the far end of its stack free for
// a test's own data.
class LoadedTarquell : public testing::Test {
protected:
    LoadedTarquell() { host::PrepareDevice(); }

    HostDevice device_;
    armemu::CoreDll coredll_;
    armemu::Machine machine_{TARQUELL_EXE, coredll_.exports()};
    const uint32_t scratch_ = armemu::kStackTop - machine_.stackSize();
};

// CreateProcessW refuses what CE 3.0 refuses, whatever the program: the
// program named doesn't exist, so only the refusal says 87.
TEST_F(LoadedTarquell, CreateProcessRefusesWhatCe3Refuses)
{
    const uint32_t name = WriteText(machine_, scratch_, u"\\nothing.exe");
    const uint32_t given = scratch_ + 256;  // zeros enough for any structure
    machine_.Write(given, std::vector<uint8_t>(128, 0));
    const struct {
        const char* what;
        int index;  // the argument made non-null, or 0 for none
    } kArguments[] = {{"none", 0},           {"process security", 2}, {"thread security", 3},     {"inheritance", 4},
                      {"environment", 6},    {"current folder", 7},   {"start-up information", 8}};
    for (const auto& row : kArguments) {
        SCOPED_TRACE(row.what);
        std::vector<uint32_t> arguments = {name, 0, 0, 0, 0, 0, 0, 0, 0, given};
        if (row.index)
            arguments[size_t(row.index)] = row.index == 4 ? 1 : given;
        SetLastError(0);
        EXPECT_EQ(0u, machine_.Call(Stub(machine_, "CreateProcessW"), arguments));
        EXPECT_EQ(row.index != 0, GetLastError() == ERROR_INVALID_PARAMETER) << GetLastError();
    }
}

// CE 3.0 runs at most 32 processes: a program that 31 of the device's led
// to may start one more (here a program that isn't there, so the start fails
// as the host's does); one that 32 led to may not.
TEST_F(LoadedTarquell, CreateProcessFailsOnceTheDeviceRuns32)
{
    const uint32_t name = WriteText(machine_, scratch_, u"\\nothing.exe"), information = scratch_ + 64;
    PROCESS_INFORMATION process;
    ASSERT_FALSE(CreateProcessW(L"\\nothing.exe", NULL, NULL, NULL, FALSE, 0, NULL, NULL, NULL, &process));
    const DWORD missing = GetLastError();
    const struct {
        const char* running;
        DWORD error;
    } kRows[] = {{"31", missing}, {"32", ERROR_NOT_ENOUGH_MEMORY}, {"4000", ERROR_NOT_ENOUGH_MEMORY}};
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.running);
        setenv("CE_DEVICE_PROCESSES", row.running, 1);
        SetLastError(0);
        EXPECT_EQ(0u, machine_.Call(Stub(machine_, "CreateProcessW"), {name, 0, 0, 0, 0, 0, 0, 0, 0, information}));
        EXPECT_EQ(row.error, GetLastError());
        EXPECT_STREQ(row.running, getenv("CE_DEVICE_PROCESSES"));
    }
    unsetenv("CE_DEVICE_PROCESSES");
}

// A program that starts itself, each copy ending once it has started the
// next: the device runs copies until 32 led to the last, whose start fails.
TEST(ArmEmulator, ProgramsStartingEachOtherStopAt32)
{
    HostDevice device;
    host::PrepareDevice();
    std::filesystem::copy_file(CRAFTED_LOOP_EXE, device.Files() / "loop.exe");
    const ChildRun run = RunToEnd({ARMEMU, (device.Files() / "loop.exe").c_str()});
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_EQ("", run.output);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, L"", L"starts") == Dword(32));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, L"", L"refused") == Dword(ERROR_NOT_ENOUGH_MEMORY));
}

// However often a program opens keys without closing them, the handle table
// stays bounded: past kMostOpenKeys an open fails as CE's does when its table
// is full, and makes no key; a key closed makes room again.
TEST_F(LoadedTarquell, OpenKeysAreBoundedAsTheHandheldsHandleTable)
{
    const uint32_t name = WriteText(machine_, scratch_, u"k"), other = WriteText(machine_, scratch_ + 16, u"new");
    const uint32_t out = scratch_ + 64;
    const uint32_t open = Stub(machine_, "RegOpenKeyExW"), create = Stub(machine_, "RegCreateKeyExW");
    const uint32_t close = Stub(machine_, "RegCloseKey");
    std::vector<uint32_t> opened;
    ASSERT_EQ(0u, machine_.Call(create, {0x80000001u, name, 0, 0, 0, 0, 0, out, 0}));
    opened.push_back(machine_.Read32(out));
    for (size_t i = 1; i < host::kMostOpenKeys; ++i) {
        ASSERT_EQ(0u, machine_.Call(open, {0x80000001u, name, 0, KEY_READ, out})) << i;
        opened.push_back(machine_.Read32(out));
    }
    EXPECT_EQ(uint32_t(ERROR_NOT_ENOUGH_MEMORY), machine_.Call(open, {0x80000001u, name, 0, KEY_READ, out}));
    EXPECT_EQ(uint32_t(ERROR_NOT_ENOUGH_MEMORY), machine_.Call(create, {0x80000001u, other, 0, 0, 0, 0, 0, out, 0}));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"new"));
    ASSERT_EQ(0u, machine_.Call(close, {opened.front()}));
    EXPECT_EQ(0u, machine_.Call(open, {0x80000001u, name, 0, KEY_READ, out}));
    opened.front() = machine_.Read32(out);
    for (uint32_t key : opened)
        machine_.Call(close, {key});
}

// A program's CreateProcessW starts only a handheld program or the build's
// own: a runnable script the device holds, wherever it is, is no program
// (ERROR_BAD_EXE_FORMAT, said in one line) and never runs.
TEST_F(LoadedTarquell, CreateProcessRunsNoScriptTheDeviceHolds)
{
    const std::filesystem::path ran = device_.Outside() / "ran";
    const std::string script = "#!/bin/sh\ntouch '" + ran.string() + "'\n";
    device_.Write("Windows/run.exe", script, 0755);
    device_.Write("Program Files/run.exe", script, 0755);
    for (const char16_t* program : {u"\\Windows\\run.exe", u"\\Program Files\\run.exe"}) {
        const uint32_t name = WriteText(machine_, scratch_, program);
        SetLastError(0);
        EXPECT_EQ(0u, machine_.Call(Stub(machine_, "CreateProcessW"), {name, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(DWORD(ERROR_BAD_EXE_FORMAT), GetLastError());
    }
    usleep(200000);  // what was started in spite of it has run by now
    EXPECT_FALSE(std::filesystem::exists(ran));
}

// The emulator's registry calls answer as the host's, because they are the
// host's: the size-0 and missing-size queries of the registry suite, and a
// string set without its terminator counted, the terminator (or not) what
// follows it in the program's memory.
TEST_F(LoadedTarquell, RegistryCallsAnswerAsTheHosts)
{
    const uint32_t data = scratch_ + 64, size = scratch_ + 96, type = scratch_ + 100;
    const std::vector<uint8_t> six = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(HKEY_CURRENT_USER, L"six", 0, REG_BINARY, six.data(), 6));
    const uint32_t sixName = WriteText(machine_, scratch_, u"six");
    const struct {
        bool data, size;
        DWORD sizeIn;
    } kQueries[] = {{true, true, 0}, {true, false, 0}, {false, true, 0}, {false, false, 0}, {true, true, 4}, {true, true, 8}};
    for (const auto& row : kQueries) {
        SCOPED_TRACE(testing::Message() << row.data << row.size << row.sizeIn);
        std::vector<uint8_t> hostData(8, 0xbd);
        DWORD hostType = 99, hostSize = row.sizeIn;
        LONG expected = RegQueryValueExW(HKEY_CURRENT_USER, L"six", NULL, &hostType, row.data ? hostData.data() : NULL,
                                         row.size ? &hostSize : NULL);
        machine_.Write(data, std::vector<uint8_t>(8, 0xbd));
        machine_.Write32(size, row.sizeIn);
        const uint32_t answer = machine_.Call(Stub(machine_, "RegQueryValueExW"),
                                              {0x80000001u, sixName, 0, type, row.data ? data : 0, row.size ? size : 0});
        EXPECT_EQ(uint32_t(expected), answer);
        EXPECT_EQ(hostSize, machine_.Read32(size));
        EXPECT_EQ(hostData, machine_.Read(data, 8));
    }

    const uint32_t textName = WriteText(machine_, scratch_, u"text");
    for (const uint8_t after : {uint8_t(0), uint8_t('x')}) {
        const std::vector<uint8_t> text = {'a', 0, 'b', 0, 'c', 0, after, 0};
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(HKEY_CURRENT_USER, L"host", 0, REG_SZ, text.data(), 6));
        machine_.Write(data, text);
        ASSERT_EQ(0u, machine_.Call(Stub(machine_, "RegSetValueExW"), {0x80000001u, textName, 0, REG_SZ, data, 6}));
        const Stored stored = ReadValue(HKEY_CURRENT_USER, L"", L"text");
        EXPECT_TRUE(stored.present);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, L"", L"host"), stored);
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
    const armemu::Image original = armemu::ReadImage(TARQUELL_EXE);
    std::vector<uint8_t> file = original.file;
    constexpr uint32_t kGrowth = 3 << 20, kValueSize = 2 << 20;
    const size_t last = std::max_element(original.sections.begin(), original.sections.end(),
                                         [](const armemu::Section& a, const armemu::Section& b) { return a.rva < b.rva; }) -
                        original.sections.begin();
    const armemu::Section& section = original.sections[last];
    // The section header's VirtualSize, past the optional header (its size
    // in the file header), and the image's SizeOfImage.
    const uint32_t virtualSize = std::max(section.virtualSize, section.rawSize) + kGrowth;
    SetHeader(file, int(Header(file, -4, 2) + 40 * last + 8), virtualSize);
    SetHeader(file, 56, original.imageSize + kGrowth);
    const std::string path = WriteFile(device.Outside() / "large.exe", file);

    armemu::CoreDll coredll;
    armemu::Machine machine(path, coredll.exports());
    const uint32_t buffer = machine.base() + section.rva + ((virtualSize - kGrowth + 0xFFF) & ~0xFFFu);
    std::vector<uint8_t> value(kValueSize);
    for (size_t i = 0; i < value.size(); ++i)
        value[i] = uint8_t(i * 7 + i / 4096);
    machine.Write(buffer, value);
    ASSERT_EQ(uint32_t(ERROR_INVALID_PARAMETER),
              machine.Call(Stub(machine, "RegSetValueExW"), {0x80000001u, 0, 0, REG_BINARY, buffer, kValueSize}));
    constexpr uint32_t kKept = host::reg::kMostDataBytes;
    const std::vector<uint8_t> tail(value.end() - kKept, value.end());
    ASSERT_EQ(0u, machine.Call(Stub(machine, "RegSetValueExW"),
                               {0x80000001u, 0, 0, REG_BINARY, buffer + kValueSize - kKept, kKept}));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, L"", NULL) == Value(REG_BINARY, tail))
        << "the value stored is not the program's buffer";

    machine.Write(buffer, std::vector<uint8_t>(kValueSize, 0));
    const uint32_t sizeAt = buffer + kValueSize;
    machine.Write32(sizeAt, kValueSize);
    ASSERT_EQ(0u, machine.Call(Stub(machine, "RegQueryValueExW"), {0x80000001u, 0, 0, 0, buffer, sizeAt}));
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
    const armemu::Image image = armemu::ReadImage(VELLORIA_EXE);
    std::vector<uint8_t> file = image.file;
    const std::optional<armemu::Resource> dialog = armemu::FindResource(image, {5, {}}, {facts::kDialogId, {}});
    ASSERT_TRUE(dialog);
    // After the fixed part (18 bytes), no menu and the default class, the
    // caption: no zero from there to the resource's end.
    const size_t at = FileOffset(image, dialog->dataRva);
    std::fill(file.begin() + at + 22, file.begin() + at + dialog->size, 0x41);
    ArmRun run = RunArm(WriteFile(device.Outside() / "endless.exe", file), (device.Outside() / "trace").string());
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(run.calls.end(), std::find_if(run.calls.begin(), run.calls.end(), [](const std::string& call) {
                  return call.rfind("DialogBoxIndirectParamW", 0) == 0;
              })) << "the dialog was never asked for";
}

}  // namespace
