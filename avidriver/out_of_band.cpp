// The out-of-band controls: another process sets values under "OOB Controls" of the "AVI" key and
// flags in "OOB Control Enabled"; the driver polls them once per frame. The registry protocol's
// requests (apply, report, button) are carried out by the out-of-band control service, which is
// not part of this build yet: until then the driver reads nothing per frame and reports nothing,
// and only the close of the last channel switches the interface off, as it always does.
#include "per_frame_hooks.h"
#include "quorelreg.h"

namespace avi {

namespace {
const char kFlags[] = "OOB Control Enabled";
}

void outOfBandStartUpRead(DriverInstance&) {}

void outOfBandFrameStep(DriverInstance& driver) {
  driver.outOfBand.reportCameraValues = false;
  driver.outOfBand.reportButton = false;
}

void outOfBandReports(DriverInstance&) {}

void outOfBandSwitchOff() {
  if (ExtRegGetVal(kKeyName, nullptr, kFlags) != 0) ExtRegSaveVal(kKeyName, nullptr, kFlags, 0);
}

}  // namespace avi
