// What the device folder's own files share.
#pragma once

#include <stddef.h>

#include <string>

namespace host {

// `what`, followed by the reason errno gives.
std::string SystemProblem(const std::string& what);

// Reads the open file `fd` to its end; `size` is what it is expected to hold.
bool ReadAll(int fd, size_t size, std::string& bytes);

}  // namespace host
