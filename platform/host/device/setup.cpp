// Where this build's stand-in control panel is: the one place that knows.
#include "device.h"

namespace host {

void PrepareDevice()
{
    SetUpDevice(ZK_CTLPNL);
}

}  // namespace host
