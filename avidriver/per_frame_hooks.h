// The steps of the per-frame work and of applySettings that belong to the out-of-band controls and
// to timed profiles. The frame code calls them at their fixed places; what they do lives in
// out_of_band.cpp and timed_profiles.cpp.
#pragma once
#include "driver_instance.h"

namespace avi {

// applySettings, first step: with "OOB Control Enabled" bits 0 and 1 set, the "OOB Controls"
// values replace the profile's.
void outOfBandStartUpRead(DriverInstance& driver);
// prepareFrame, before the grab (not while the button holds the picture): reads and acknowledges
// "OOB Control Enabled" and carries out a pending apply request.
void outOfBandFrameStep(DriverInstance& driver);
// readFrame, after the read: the button and camera values the out-of-band client asked for.
void outOfBandReports(DriverInstance& driver);
// The close of the last channel switches the out-of-band interface off.
void outOfBandSwitchOff();

// applySettings: whether timed profiles switch (two different start times, and enabled).
bool timedProfilesActive(const DriverInstance& driver);
// Whether `minute` (after local midnight) lies in period 1, from start1 up to start2 (across
// midnight when start1 is the later).
bool inFirstPeriod(LONG start1, LONG start2, LONG minute);
// prepareFrame, last step: loads and applies the profile of the period of the day just entered.
void timedProfileStep(DriverInstance& driver);

}  // namespace avi
