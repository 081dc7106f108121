// armemu: runs a handheld program (a CE 3.0 ARM .exe) on an emulated
// StrongARM, its COREDLL served by the host platform over the device folder
// ($CE_DEVICE_ROOT, as for the host programs).
//
//   armemu [--trace FILE] [--refuse-reset] PROGRAM.exe
//
// Exits with the program's result; 70 when the program can't be loaded or
// stops on a fault, with the reason on stderr; 75 (kResetStatus) when it
// stops at a restart the device carries out. --refuse-reset makes the device
// one without the restart call: the call fails and the program runs on.
#include <stdio.h>
#include <sys/prctl.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "call_lines.h"
#include "coredll.h"
#include "device/device.h"
#include "machine.h"
#include "process/programs.h"
#include "text.h"

namespace {

// The process is named after the program it runs (Linger.exe, not armemu),
// so that whoever lists what runs on the device sees the device's names.
void NameAfter(const char* program)
{
    char path[4096];
    const ssize_t length = readlink(program, path, sizeof path - 1);
    std::string name = length > 0 ? std::string(path, size_t(length)) : std::string(program);
    name = name.substr(name.rfind('/') + 1);
    if (!name.empty())
        prctl(PR_SET_NAME, name.substr(0, 15).c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const char* tracePath = nullptr;
    bool refusesReset = false;
    int i = 1;
    for (; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--trace") == 0 && i + 2 < argc)
            tracePath = argv[++i];
        else if (strcmp(argv[i], "--refuse-reset") == 0)
            refusesReset = true;
        else
            break;
    }
    if (i + 1 != argc) {
        fprintf(stderr, "usage: armemu [--trace FILE] [--refuse-reset] PROGRAM.exe\n");
        return 64;
    }
    NameAfter(argv[i]);
    std::unique_ptr<FILE, int (*)(FILE*)> trace(nullptr, fclose);
    if (tracePath) {
        trace.reset(fopen(tracePath, "w"));
        if (!trace) {
            fprintf(stderr, "armemu: cannot write %s\n", tracePath);
            return 70;
        }
    }
    // The calls the host's functions serve, as the host's observer sees them.
    host::CallTrace lines([&](const std::string& line) {
        fprintf(trace.get(), "%s\n", line.c_str());
        fflush(trace.get());
    });
    if (trace)
        host::SetObserver(&lines);
    try {
        host::PrepareDevice();
        // A handheld program the program starts runs here too, in a new
        // emulator.
        char self[4096];
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        if (length > 0)
            host::UseHostPrograms({"", "", std::string(self, size_t(length))});
        armemu::CoreDll coredll(refusesReset);
        armemu::Machine machine(argv[i], coredll.exports());
        return machine.RunEntry() & 0xFF;
    } catch (const std::bad_alloc&) {
        // A call's own shortage is that call's failure (the registry's
        // included); this one is the emulator's, outside any.
        fprintf(stderr, "armemu: out of memory running %s; stopped\n",
                host::text::Printable(argv[i]).c_str());
        return 70;
    } catch (const armemu::Reset&) {
        return armemu::kResetStatus;
    } catch (const std::exception& error) {
        // The reason may name what the program file holds (an import's name).
        fprintf(stderr, "armemu: %s\n", host::text::Printable(error.what()).c_str());
        return 70;
    }
}
