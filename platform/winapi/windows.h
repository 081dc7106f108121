// The subset of the Windows API that the programs use, named and laid out as
// the Windows headers are, shared by the Linux host and the handheld. Each
// target supplies the functions: the host its library (platform/host), the
// handheld COREDLL.dll (platform/wince/coredll.def). Desktop Windows uses
// mingw-w64's own headers, and of these only pkfuncs.h, which it lacks.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winreg.h"
#include "winuser.h"
