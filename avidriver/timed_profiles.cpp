// Timed profiles: two user profiles bound to two periods of the day. Period 1 runs from "Timed
// Profile 1 Start Time" up to "Timed Profile 2 Start Time" (minutes after local midnight, across
// midnight when it starts later than it ends), period 2 the rest of the day. At the first frame
// of a period the driver loads and applies that period's profile, once per entry.
//
// The time of day is the local time of GetLocalTime, which the driver imports from kernel32: that
// import is the clock that the tests set.
#include "driver_values.h"
#include "per_frame_hooks.h"
#include "qrcamlib.h"

namespace avi {

namespace {

constexpr LONG kProfileSlots = 9;

// The profile `index` becomes current, is loaded and goes to the camera.
void switchTo(DriverInstance& driver, LONG index) {
  profiles::writeCurrentProfile(kKeyName, index);
  theSettingsStore().load();
  applySettings(driver);
  driver.live = driver.profile;
  const profiles::ProfileSettings& p = driver.profile;
  QRSetLEDEn(p[AVI_VALUE("LED Enable")] ? p[AVI_VALUE("LED Mode")] : 0);
  driver.timed.refresh = true;
}

}  // namespace

bool timedProfilesActive(const DriverInstance& driver) {
  const profiles::ProfileSettings& profile = driver.profile;
  return profile[AVI_VALUE("Timed Profile 1 Start Time")] != profile[AVI_VALUE("Timed Profile 2 Start Time")] &&
         profile[AVI_VALUE("Timed Profile Enable")] != 0;
}

bool inFirstPeriod(LONG start1, LONG start2, LONG minute) {
  if (start1 <= start2) return start1 <= minute && minute < start2;
  return minute >= start1 || minute < start2;
}

void timedProfileStep(DriverInstance& driver) {
  TimedProfileState& timed = driver.timed;
  if (!timed.active) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const LONG minute = now.wHour * 60 + now.wMinute;
  const profiles::ProfileSettings& p = driver.profile;
  const bool first =
      inFirstPeriod(p[AVI_VALUE("Timed Profile 1 Start Time")], p[AVI_VALUE("Timed Profile 2 Start Time")], minute);
  bool& entered = first ? timed.inPeriod1 : timed.inPeriod2;
  (first ? timed.inPeriod2 : timed.inPeriod1) = false;
  LONG index = p[first ? AVI_VALUE("Timed Profile 1") : AVI_VALUE("Timed Profile 2")];
  if (index < 0 || index >= kProfileSlots) index = 0;  // as "Current Profile" itself is read
  driver.profileIndex = index;
  if (!entered) switchTo(driver, index);
  entered = true;
}

}  // namespace avi
