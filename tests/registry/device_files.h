// Host tests: the device folder's registry.reg as bytes, and what the
// registry says on stderr.
#pragma once

#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "device.h"

inline std::string RegistryPath()
{
    return host::DeviceRoot() + "/registry.reg";
}

inline std::string ReadRegistryFile()
{
    std::ifstream file(RegistryPath(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
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

// Every key the catalogue uses, the flag's included.
constexpr const char* kFullDevice = R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\MICROSOFT\SHELL]
"Cleartype"=dword:00000000

[HKEY_CURRENT_USER\Software\Zelkoran]
"align"=dword:00000000

[HKEY_LOCAL_MACHINE\Drivers\Display\mq120]
"Rotate"=dword:00000000

[HKEY_LOCAL_MACHINE\Drivers\Display\mq1100]
"Rotate"=dword:00000000

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings]
"ClearTypeText"=dword:00000000

[HKEY_LOCAL_MACHINE\SYSTEM\GDI\GLYPHCACHE]
"limit"=dword:00004000

[HKEY_LOCAL_MACHINE\SYSTEM\GWE]
"Animate"=dword:00000000

[HKEY_LOCAL_MACHINE\SYSTEM\GWE\Menu]
"Anitype"=dword:00000006

)";
