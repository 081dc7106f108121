// Host tests: the device folder's registry.reg as bytes.
#pragma once

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
