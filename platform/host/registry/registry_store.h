// The device's registry.reg as the registry functions see it. A process
// parses the file once and again only when it changed, which it checks under
// the device folder's lock; a change is saved whole before the lock is let go.
#pragma once

#include <stddef.h>

#include <functional>

#include <windows.h>

#include "device/device.h"
#include "registry/regfile.h"

namespace host {

// Runs `read` on the current document and returns its result; nothing is
// written. A registry.reg that can't be read or parsed is told once on
// stderr and left alone, and the result is ERROR_BADDB (or
// ERROR_REGISTRY_IO_FAILED when the folder itself fails). Memory running out
// anywhere in it is told in one line and gives ERROR_BADDB too. A device
// without one is given one from the default image first.
LONG ReadRegistry(const std::function<LONG(const reg::Document&)>& read);

// Runs `change`, which sets `changed` when it changed the document; a changed
// document is written once and saved before the lock is let go. A failed
// save gives ERROR_REGISTRY_IO_FAILED. A change that would make registry.reg
// larger than it may be (reg::kMostFileBytes, what the reader accepts) is not
// made: the file stays as it was, and the result is ERROR_NOT_ENOUGH_MEMORY,
// as when the handheld's object store is full; so is a change for which
// memory runs out, told in one line, the file left as it was.
LONG ChangeRegistry(const std::function<LONG(reg::Document&, bool& changed)>& change);

// Given to every write of registry.reg: it may stop a save at any of its
// steps, as a crash there would (device.h), and the change then fails. For
// tests and benchmarks; empty (none) unless they set one.
void SetSaveHook(SaveHook hook);

}  // namespace host
