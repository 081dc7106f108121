// The programs' entry: WinMain with a wide command line, as the handheld
// calls it. Desktop Windows knows it as wWinMain (linked with -municode); the
// host's start-up glue calls the same function.
#pragma once

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
