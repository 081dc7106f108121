// An emulated StrongARM (Unicorn's SA-1110 model) running one CE executable:
// its sections mapped at the image base as CE maps them, its imports bound by
// name or ordinal to the system library the emulator serves (coredll.h), and
// calls into and out of the ARM code.
//
// As on CE 3.0, an import the library lacks doesn't stop the load: its slot
// is bound to a stub that stops the program, naming the import and its
// caller, when it is first called (the device jumps to 0 there). A call
// from the system (the entry, a dialog procedure) finds the stack aligned to
// 4 bytes but not 8, as the device's calling convention allows.
//
// A call out to the system library stops the emulator at the import's stub;
// the host function runs outside it and may call back into ARM code (a dialog
// procedure) by starting it afresh, since Unicorn can't nest. Any instruction
// the StrongARM lacks (bx, for one, or any Thumb code: entering at an address
// not divisible by 4 is refused), a halfword or word access at an address
// it doesn't divide, an access outside the mapped memory and a run that won't
// end each stop the program with an error naming what and where.
#pragma once

#include <stdint.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unicorn/unicorn.h>

#include "pe.h"
#include "status.h"

namespace armemu {

// The error that ends an emulated program.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown where the program asked for a restart that the device carries out:
// on CE that call never returns, so nothing of the program runs after it.
struct Reset {};

class Machine;

// One function of the system library, by its name and its ordinal: what it
// does with the arguments, read from the machine; its result goes back in r0.
// The library's state, if it keeps any, is bound into the call.
struct Export {
    const char* name;
    uint16_t ordinal;
    std::function<uint32_t(Machine&)> call;
};

// The handle CE passes a program's entry and GetModuleHandleW(NULL) returns:
// the process's, a number that is not an address in the program's memory.
constexpr uint32_t kProcessHandle = 0x2C1F4E06;

// The top of the program's stack, which grows down from it.
constexpr uint32_t kStackTop = 0x00800000;

class Machine {
public:
    // Loads the executable, binding its imports to `exports`.
    Machine(const std::string& path, const std::vector<Export>& exports);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Calls the program's entry as COREDLL's thread start does, (process
    // handle, 0, the arguments, SW_SHOW); returns what it gives ExitThread,
    // its result.
    int RunEntry();

    // Calls ARM code at `address` with these arguments; returns r0.
    uint32_t Call(uint32_t address, const std::vector<uint32_t>& arguments);

    // The arguments of the system call being served, by position.
    uint32_t Argument(int index);

    // Memory of the emulated program. Out-of-range accesses throw a Fault.
    std::vector<uint8_t> Read(uint32_t address, uint32_t size);
    // Fills `bytes` from `address` if all of it is mapped; says whether it was.
    bool Peek(uint32_t address, std::vector<uint8_t>& bytes);
    void Write(uint32_t address, const std::vector<uint8_t>& bytes);
    uint32_t Read32(uint32_t address);
    void Write32(uint32_t address, uint32_t value);
    // A NUL-terminated UTF-16 string (bounded).
    std::u16string ReadString(uint32_t address);

    const Image& image() const { return image_; }
    const std::string& path() const { return path_; }
    uint32_t base() const { return image_.imageBase; }
    // The stack's size: the file's reserve (at most 1 MiB) less the 2 KB CE
    // keeps at its end for overflow control.
    uint32_t stackSize() const { return stackSize_; }

private:
    explicit Machine(const std::string& path);
    static void OnCode(uc_engine*, uint64_t address, uint32_t, void* self);
    static void OnAccess(uc_engine*, uc_mem_type, uint64_t address, int size, int64_t, void* self);
    static bool OnUnmapped(uc_engine*, uc_mem_type, uint64_t address, int size, int64_t, void* self);
    void Map(uint32_t address, uint32_t size, uint32_t perms);
    [[noreturn]] void Stop(const std::string& what);
    uint32_t Reg(int reg);
    void SetReg(int reg, uint32_t value);

    std::string path_;
    Image image_;
    uc_engine* uc_ = nullptr;
    std::vector<uc_hook> hooks_;
    // By stub slot: the import's name, and the function (none when the
    // library lacks it).
    struct Bound {
        std::string name;
        std::function<uint32_t(Machine&)> call;
    };
    std::vector<Bound> bound_;
    uint32_t stackSize_ = 0;
    int pending_ = -1;           // the stub hit, while stopped there
    std::string fault_;          // what a hook found wrong
    int depth_ = 0;
};

}  // namespace armemu
