// Host tests: the device folder's registry.reg as bytes, and what the
// registry says on stderr.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "device.h"
#include "facts.h"
#include "reg_text.h"
#include "regfile.h"

inline std::string RegistryPath()
{
    return host::DeviceRoot() + "/registry.reg";
}

inline std::string ReadRegistryFile()
{
    std::ifstream file(RegistryPath(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// registry.reg as the host reads it.
inline host::reg::Document RegistryDocument()
{
    return ParseReg(ReadRegistryFile());
}

inline void WriteRegistryFile(const std::string& bytes)
{
    std::ofstream(RegistryPath(), std::ios::binary | std::ios::trunc) << bytes;
}

// What the registry prints on stderr until Finish().
class StderrCapture {
public:
    StderrCapture()
    {
        fflush(stderr);
        saved_ = dup(2);
        file_ = tmpfile();
        dup2(fileno(file_), 2);
    }
    std::string Finish()
    {
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::string text;
        rewind(file_);
        for (int c; (c = fgetc(file_)) != EOF;)
            text += char(c);
        fclose(file_);
        return text;
    }

private:
    int saved_;
    FILE* file_;
};

// Every place the programs write, at the value a device ships with, as the
// registry writes it out.
inline std::string FullDeviceText()
{
    std::string text = kRegHead;
    char value[16];
    for (const facts::Place* at : facts::kPlaces) {
        snprintf(value, sizeof value, "%08lx", (unsigned long)facts::ShippedValue(*at));
        text += std::string("[") + (at->hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE") +
                "\\" + host::reg::Utf8FromWide(at->key) + "]\n\"" + host::reg::Utf8FromWide(at->value) +
                "\"=dword:" + value + "\n\n";
    }
    return host::reg::Write(ParseReg(text));
}

inline const std::string kFullDevice = FullDeviceText();
