// Timed profiles: two user profiles bound to two periods of the day. The switch itself comes with
// the timed-profile dialog; the driver already keeps and saves the five values with its profile.
#include "driver_values.h"
#include "per_frame_hooks.h"

namespace avi {

bool timedProfilesActive(const DriverInstance& driver) {
  const profiles::ProfileSettings& profile = driver.profile;
  return profile[AVI_VALUE("Timed Profile 1 Start Time")] != profile[AVI_VALUE("Timed Profile 2 Start Time")] &&
         profile[AVI_VALUE("Timed Profile Enable")] != 0;
}

void timedProfileStep(DriverInstance&) {}

}  // namespace avi
