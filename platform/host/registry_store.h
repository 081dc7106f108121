// The device's registry.reg as the registry functions see it: each call reads
// the file, works on it, and writes it back when it changed, all under the
// device folder's lock.
#pragma once

#include <functional>

#include <windows.h>

#include "regfile.h"

namespace host {

// Runs `work` on the current document and returns its result. A document that
// `work` changed is saved before the lock is let go. A registry.reg that can't
// be read or parsed is reported once on stderr and left alone, and the result
// is ERROR_BADDB; a failed save gives ERROR_REGISTRY_IO_FAILED.
LONG WithRegistry(const std::function<LONG(reg::Document&)>& work);

}  // namespace host
