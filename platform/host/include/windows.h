// The subset of the Windows API that the programs use, for the Linux host.
// Names, types and constants follow the Windows headers; the implementations
// live beside this folder, one file per thing they stand in for.
#pragma once

#include "host/types.h"
#include "host/errors.h"
#include "host/registry.h"
#include "host/process.h"
#include "host/resources.h"
#include "host/user.h"
