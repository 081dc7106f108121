// Tests under Wine: the build's files, by their host paths, through Wine's
// drive Z:, and the build's programs started from there.
#pragma once

#include <string>

#include <windows.h>

inline std::wstring FromHost(const char* path)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, NULL, 0);
    std::wstring wide(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, &wide[0], size);
    wide.resize(size_t(size - 1));
    for (WCHAR& c : wide)
        if (c == L'/')
            c = L'\\';
    return L"Z:" + wide;
}

// The program at `path` as its own process, with its working directory on
// drive C:.
inline BOOL StartFromHost(const char* path, PROCESS_INFORMATION& process)
{
    std::wstring program = FromHost(path);
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, L"C:\\",
                          &startup, &process);
}
