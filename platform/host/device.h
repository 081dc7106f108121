// The emulated device: one folder on the host, holding registry.reg and the
// device's files (\Windows\ctlpnl.exe is <root>/Windows/ctlpnl.exe).
#pragma once

#include <string>

namespace host {

// $CE_DEVICE_ROOT when set, else $XDG_DATA_HOME/ce-device, else
// ~/.local/share/ce-device.
std::string DeviceRoot();

// Creates the folder and its registry.reg from the default image when they are
// missing. Safe to call from several processes at once.
void PrepareDevice();

}  // namespace host
