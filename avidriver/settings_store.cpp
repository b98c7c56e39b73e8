// TQRViewIO of the capture driver: the profile tables of settings/ do the registry work; this adds
// what only the driver does (the values it keeps while running, the camera's automatic values at
// a client's save request).
#include "driver_instance.h"
#include "driver_values.h"
#include "qrcamlib.h"

namespace avi {

profiles::KeepList TQRViewIO::kept() const {
  if (!driver_.initialised) return {};
  return {AVI_VALUE("Resolution"), AVI_VALUE("Format")};
}

void TQRViewIO::load() {
  profiles::loadProfile(driver_.profile, kept());
  driver_.profileIndex = driver_.profile.currentProfile;
}

void TQRViewIO::save() {
  profiles::saveProfile(driver_.profile);
  driver_.profileIndex = driver_.profile.currentProfile;
}

void TQRViewIO::loadFactoryDefaults() { profiles::loadFactoryDefaults(driver_.profile); }

LONG TQRViewIO::loadWithRevisionCheck() {
  const bool current = profiles::startUpProfile(driver_.profile, kept());
  driver_.profileIndex = driver_.profile.currentProfile;
  return current ? 1 : 0;
}

void TQRViewIO::saveWithCameraValues() {
  profiles::ProfileSettings& profile = driver_.profile;
  if (profile[AVI_VALUE("ASC Enable")]) {
    profile[AVI_VALUE("Frequency")] = QRGetScanFreq();
    profile[AVI_VALUE("Shutter Value")] = QRGetShutter();
    profile[AVI_VALUE("Video Gain")] = QRGetGain();
  }
  if (profile[AVI_VALUE("AWB Tracking")]) {
    profile[AVI_VALUE("Red Balance")] = QRGetRedBal();
    profile[AVI_VALUE("Blue Balance")] = QRGetBlueBal();
  }
  save();
}

TQRViewIO& theSettingsStore() {
  static TQRViewIO store(theDriver());
  return store;
}

}  // namespace avi
