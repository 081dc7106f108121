// Windows and dialogs (USER), built from dialog templates and shown on the
// terminal.
#pragma once

#include "types.h"
