#include "machine.h"

#include <string.h>

#include <algorithm>
#include <cstdio>

#include "le_bytes.h"

namespace armemu {

namespace {

// The address space: the image at its base (0x10000 for our programs), the
// stack below 8 MiB (kStackTop), scratch memory for what the loader passes,
// the import stubs and the address a call from the host returns to.
constexpr uint32_t kDefaultStack = 0x00010000;  // CE's 64 KiB, for a reserve of 0
constexpr uint32_t kMaxStack = 0x00100000;      // CE clamps a larger reserve to 1 MiB
constexpr uint32_t kStackGuard = 0x800;         // the reserve's end CE keeps for overflow control
constexpr uint32_t kScratch = 0x00E00000;
constexpr uint32_t kStubs = 0x00F00000;
constexpr uint32_t kStubsSize = 0x1000;
constexpr uint32_t kReturn = 0x00F01000;
constexpr uint32_t kMemoryTop = kReturn + 0x1000;  // nothing is mapped above
constexpr uint64_t kLegTimeoutUs = 20 * 1000 * 1000;  // between two system calls
constexpr uint32_t kMovPcLr = 0xE1A0F00E;
constexpr uint32_t kUndefined = 0xE7F000F0;  // permanently undefined

constexpr uint32_t kScnExecute = 0x20000000;
constexpr uint32_t kScnWrite = 0x80000000;

std::string Hex(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "0x%llx", (unsigned long long)value);
    return text;
}

uint32_t PageUp(uint32_t size)
{
    return (size + 0xFFF) & ~0xFFFu;
}

uint32_t StackReserve(uint32_t reserve)
{
    return reserve == 0 ? kDefaultStack : PageUp(std::min(reserve, kMaxStack));
}

// What a call of an import names it as.
std::string ImportName(const Import& import)
{
    return import.dll + (import.name.empty() ? " ordinal " + std::to_string(import.ordinal) : "!" + import.name);
}

}  // namespace

Machine::Machine(const std::string& path) : path_(path), image_(ReadImage(path)) {}

// Delegating: once the image is read the machine is whole, so a refusal below
// still closes the emulator it opened.
Machine::Machine(const std::string& path, const std::vector<Export>& exports) : Machine(path)
{
    // The stack is the reserve less the end CE keeps, which no access may
    // reach; the image must end below the whole reserve, with a gap.
    const uint32_t reserve = StackReserve(image_.stackReserve);
    stackSize_ = reserve - kStackGuard;
    if (image_.imageBase < 0x10000 || image_.imageBase & 0xFFFF || image_.imageBase >= kStackTop - reserve)
        throw Fault(path + ": image base " + Hex(image_.imageBase) + " is not where CE loads a program");
    uint64_t end = uint64_t(image_.imageBase) + image_.imageSize;
    for (const Section& section : image_.sections)
        end = std::max(end, uint64_t(image_.imageBase) + section.rva + PageUp(std::max(section.virtualSize, section.rawSize)));
    if (end >= kStackTop - reserve)
        throw Fault(path + ": its image, ending at " + Hex(end) + ", reaches the stack's reserve at " +
                    Hex(kStackTop - reserve));
    if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_) != UC_ERR_OK)
        throw Fault("the ARM emulator can't start");
    if (uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_SA1110) != UC_ERR_OK)
        throw Fault("the emulator has no StrongARM SA-1110 model");

    // The headers read-only, each section with its own rights.
    Map(image_.imageBase, PageUp(image_.headerSize), UC_PROT_READ);
    Write(image_.imageBase, std::vector<uint8_t>(image_.file.begin(), image_.file.begin() + image_.headerSize));
    for (const Section& section : image_.sections) {
        uint32_t perms = UC_PROT_READ;
        if (section.characteristics & kScnExecute)
            perms |= UC_PROT_EXEC;
        if (section.characteristics & kScnWrite)
            perms |= UC_PROT_WRITE;
        uint32_t size = PageUp(std::max(section.virtualSize, section.rawSize));
        if (size == 0)
            continue;
        if (section.rva & 0xFFF)
            throw Fault(path + ": section " + section.name + " is not page-aligned");
        Map(image_.imageBase + section.rva, size, perms);
        Write(image_.imageBase + section.rva,
              std::vector<uint8_t>(image_.file.begin() + section.rawOffset,
                                   image_.file.begin() + section.rawOffset +
                                       std::min(section.rawSize, section.virtualSize ? section.virtualSize : section.rawSize)));
    }
    Map(kStackTop - stackSize_, stackSize_, UC_PROT_READ | UC_PROT_WRITE);
    Map(kScratch, 0x1000, UC_PROT_READ | UC_PROT_WRITE);
    Map(kStubs, kStubsSize + 0x1000, UC_PROT_READ | UC_PROT_EXEC);
    // A stub returns at once (the host serves the call while the emulator is
    // stopped there); the rest of the return page is no instruction, so a
    // jump into it stops the program.
    std::vector<uint8_t> stubs(kStubsSize + 0x1000);
    for (size_t i = 0; i < stubs.size(); i += 4)
        memcpy(&stubs[i], i < kStubsSize ? &kMovPcLr : &kUndefined, 4);
    Write(kStubs, stubs);

    // Imports from COREDLL.dll alone, by name or by ordinal, as CE 3.0 binds
    // them; one the library lacks is bound to a stub that stops the program.
    for (const Import& import : image_.imports) {
        if (strcasecmp(import.dll.c_str(), "COREDLL.dll") != 0)
            throw Fault(path + " imports from " + import.dll + ", which the handheld model doesn't have");
        Bound bound{ImportName(import), nullptr};
        for (const Export& e : exports)
            if (import.name.empty() ? import.ordinal == e.ordinal : import.name == e.name)
                bound.call = e.call;
        if ((bound_.size() + 1) * 4 > kStubsSize)
            throw Fault(path + " has too many imports");
        Write32(image_.imageBase + import.slotRva, kStubs + 4 * uint32_t(bound_.size()));
        bound_.push_back(bound);
    }

    uc_hook hook;
    uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&OnCode), this, kStubs, kStubs + kStubsSize - 1);
    hooks_.push_back(hook);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&OnAccess), this, 1, 0);
    hooks_.push_back(hook);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&OnUnmapped), this, 1, 0);
    hooks_.push_back(hook);
}

Machine::~Machine()
{
    if (uc_)
        uc_close(uc_);
}

void Machine::Map(uint32_t address, uint32_t size, uint32_t perms)
{
    if (uc_mem_map(uc_, address, size, perms) != UC_ERR_OK)
        throw Fault(path_ + ": can't map " + Hex(address) + "+" + Hex(size));
}

void Machine::OnCode(uc_engine* uc, uint64_t address, uint32_t, void* self)
{
    Machine* machine = static_cast<Machine*>(self);
    machine->pending_ = int((address - kStubs) / 4);
    uc_emu_stop(uc);
}

// The StrongARM rotates a word loaded from an address not divisible by 4;
// Unicorn doesn't, and our code never means to: either way it is a fault.
void Machine::OnAccess(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t, void* self)
{
    if (size > 1 && address % uint64_t(size) != 0) {
        Machine* machine = static_cast<Machine*>(self);
        if (machine->fault_.empty())
            machine->fault_ = std::string("unaligned ") + (size == 4 ? "word" : "halfword") +
                              (type == UC_MEM_WRITE ? " store to " : " load from ") + Hex(address);
        uc_emu_stop(uc);
    }
}

bool Machine::OnUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self)
{
    Machine* machine = static_cast<Machine*>(self);
    if (machine->fault_.empty()) {
        const char* what = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT ? "execution at "
                           : type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT ? "write to "
                                                                                        : "read from ";
        machine->fault_ = std::string(what) + Hex(address) +
                          (type == UC_MEM_WRITE_PROT || type == UC_MEM_READ_PROT || type == UC_MEM_FETCH_PROT
                               ? " (protected)" : " (unmapped)");
        // Below the stack, down to the image: the program ran past its stack.
        const uint32_t bottom = kStackTop - machine->stackSize_;
        if (address < bottom && address >= uint64_t(machine->base()) + machine->image_.imageSize)
            machine->fault_ = "a stack overflow: " + machine->fault_ + ", past the stack's end at " + Hex(bottom);
    }
    return false;
}

uint32_t Machine::Reg(int reg)
{
    uint32_t value = 0;
    uc_reg_read(uc_, reg, &value);
    return value;
}

void Machine::SetReg(int reg, uint32_t value)
{
    uc_reg_write(uc_, reg, &value);
}

void Machine::Stop(const std::string& what)
{
    throw Fault(path_ + ": " + what + " (pc " + Hex(Reg(UC_ARM_REG_PC)) + ", lr " + Hex(Reg(UC_ARM_REG_LR)) + ")");
}

int Machine::RunEntry()
{
    Write(kScratch, {0, 0});  // the command line: empty
    // COREDLL's thread start hands what the entry returns to ExitThread,
    // which ends the process with it.
    return int(Call(image_.imageBase + image_.entryRva, {kProcessHandle, 0, kScratch, 5 /* SW_SHOW */}));
}

uint32_t Machine::Call(uint32_t address, const std::vector<uint32_t>& arguments)
{
    if (depth_ > 16)
        Stop("callbacks nested too deeply");
    // A call from the host saves the state it interrupts and gives it back.
    uc_context* saved = nullptr;
    uc_context_alloc(uc_, &saved);
    uc_context_save(uc_, saved);
    const int pendingBefore = pending_;
    ++depth_;

    // The arguments past the fourth at sp, which is 4 more than a multiple of 8.
    uint32_t sp = depth_ == 1 ? kStackTop : Reg(UC_ARM_REG_SP) - 64;
    const uint32_t stacked = arguments.size() > 4 ? 4 * uint32_t(arguments.size() - 4) : 0;
    sp = ((sp - stacked) & ~7u) - 4;
    for (size_t i = 4; i < arguments.size(); ++i)
        Write32(sp + 4 * uint32_t(i - 4), arguments[i]);
    static const int kArgRegs[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
    for (size_t i = 0; i < 4; ++i)
        SetReg(kArgRegs[i], i < arguments.size() ? arguments[i] : 0);
    SetReg(UC_ARM_REG_SP, sp);
    SetReg(UC_ARM_REG_LR, kReturn);

    uint32_t pc = address;
    uint32_t result = 0;
    try {
        for (;;) {
            // Unicorn would take an odd address for Thumb code, which the
            // StrongARM lacks, and run a halfword-aligned one as it stands.
            if (pc & 3)
                Stop("a jump to " + Hex(pc) + ", which is no ARM instruction's address");
            pending_ = -1;
            uc_err err = uc_emu_start(uc_, pc, kReturn, kLegTimeoutUs, 0);
            if (!fault_.empty())
                Stop(fault_);
            if (err == UC_ERR_INSN_INVALID)
                Stop("an instruction the StrongARM lacks");
            if (err != UC_ERR_OK)
                Stop(std::string("emulation stopped: ") + uc_strerror(err));
            pc = Reg(UC_ARM_REG_PC);
            if (pending_ >= 0) {
                // A system call: r0-r3 and the stack hold its arguments; its
                // result goes to r0 and the caller resumes at lr.
                const size_t slot = size_t(pending_);
                if (slot >= bound_.size())
                    Stop("a call to " + Hex(pc) + " among the system's stubs, where no import is bound");
                const uint32_t callerSp = Reg(UC_ARM_REG_SP);
                const uint32_t returnTo = Reg(UC_ARM_REG_LR);
                if (!bound_[slot].call)
                    Stop("a call to " + bound_[slot].name + ", which Windows CE 3.0 does not export, from " +
                         Hex(returnTo - 4));
                uint32_t value = bound_[slot].call(*this);
                SetReg(UC_ARM_REG_SP, callerSp);
                SetReg(UC_ARM_REG_R0, value);
                pc = returnTo;
                continue;
            }
            if (pc == kReturn) {
                result = Reg(UC_ARM_REG_R0);
                break;
            }
            Stop("the program ran too long without calling the system");
        }
    } catch (...) {
        --depth_;
        uc_context_free(saved);
        throw;
    }
    --depth_;
    uc_context_restore(uc_, saved);
    uc_context_free(saved);
    pending_ = pendingBefore;
    return result;
}

uint32_t Machine::Argument(int index)
{
    static const int kArgRegs[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
    if (index < 4)
        return Reg(kArgRegs[index]);
    return Read32(Reg(UC_ARM_REG_SP) + 4 * uint32_t(index - 4));
}

std::vector<uint8_t> Machine::Read(uint32_t address, uint32_t size)
{
    // No more than the whole address space could hold, before making room.
    if (size > kMemoryTop)
        Stop("a system call was given " + Hex(size) + " bytes at " + Hex(address) + ", more than the memory");
    std::vector<uint8_t> bytes(size);
    if (size && uc_mem_read(uc_, address, bytes.data(), size) != UC_ERR_OK)
        Stop("a system call was given memory it can't read at " + Hex(address) + "+" + Hex(size));
    return bytes;
}

bool Machine::Peek(uint32_t address, std::vector<uint8_t>& bytes)
{
    return bytes.empty() || uc_mem_read(uc_, address, bytes.data(), bytes.size()) == UC_ERR_OK;
}

void Machine::Write(uint32_t address, const std::vector<uint8_t>& bytes)
{
    if (!bytes.empty() && uc_mem_write(uc_, address, bytes.data(), bytes.size()) != UC_ERR_OK)
        Stop("a system call was given memory it can't write at " + Hex(address) + "+" + Hex(bytes.size()));
}

uint32_t Machine::Read32(uint32_t address)
{
    const std::vector<uint8_t> bytes = Read(address, 4);
    return host::LeBytes(bytes.data(), bytes.size()).U32();
}

void Machine::Write32(uint32_t address, uint32_t value)
{
    Write(address, {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)});
}

std::u16string Machine::ReadString(uint32_t address)
{
    std::u16string text;
    for (;; address += 2) {
        const std::vector<uint8_t> unit = Read(address, 2);
        char16_t c = char16_t(host::LeBytes(unit.data(), unit.size()).U16());
        if (c == 0)
            return text;
        if (text.size() >= 32767)
            Stop("a string passed to the system has no end");
        text += c;
    }
}

}  // namespace armemu
