// What the device folder's own files share.
#pragma once

#include <stddef.h>

#include <string>

namespace host {

// `what`, followed by the reason errno gives.
std::string SystemProblem(const std::string& what);

// Reads the open file `fd` to its end; `size` is what it is expected to hold.
bool ReadAll(int fd, size_t size, std::string& bytes);

// Removes the temporary files in the private area `area` that crashed
// writers left.
class DeviceFolder;
void RemoveLeftovers(const DeviceFolder& area);

// Whether this thread holds the device folder's lock (a DeviceLock lives).
bool HoldsDeviceLock();

}  // namespace host
