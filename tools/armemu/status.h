// What the emulator's exit status says beyond the program's own result, for
// whoever runs it (the device session).
#pragma once

namespace armemu {

// The program stopped at a restart the device carries out.
constexpr int kResetStatus = 75;

}  // namespace armemu
