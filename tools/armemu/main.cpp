// armemu: runs a handheld program (a CE 3.0 ARM .exe) on an emulated
// StrongARM, its COREDLL served by the host platform over the device folder
// ($CE_DEVICE_ROOT, as for the host programs).
//
//   armemu [--trace FILE] PROGRAM.exe
//
// Exits with the program's result; 70 when the program can't be loaded or
// stops on a fault, with the reason on stderr.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>

#include "call_lines.h"
#include "coredll.h"
#include "device.h"
#include "machine.h"
#include "programs.h"
#include "text.h"

int main(int argc, char** argv)
{
    const char* tracePath = nullptr;
    int i = 1;
    if (i + 1 < argc && strcmp(argv[i], "--trace") == 0) {
        tracePath = argv[i + 1];
        i += 2;
    }
    if (i + 1 != argc) {
        fprintf(stderr, "usage: armemu [--trace FILE] PROGRAM.exe\n");
        return 64;
    }
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
        armemu::CoreDll coredll;
        armemu::Machine machine(argv[i], coredll.exports());
        return machine.RunEntry() & 0xFF;
    } catch (const std::exception& error) {
        // The reason may name what the program file holds (an import's name).
        fprintf(stderr, "armemu: %s\n", host::text::Printable(error.what()).c_str());
        return 70;
    }
}
