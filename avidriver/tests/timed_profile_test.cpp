// Timed profiles: at the first frame of a period of the day the driver loads and applies that
// period's profile, once per entry into the period. The time of day is the driver's own import of
// GetLocalTime, set here through its import table; nothing waits for real time.
#include <windows.h>

#include <string>
#include <vector>

#include "driver_fixture.h"
#include "import_hook.h"
#include "profile_store.h"
#include "qrcamlib.h"
#include "quorelreg.h"

namespace {

using avitest::Buffers;
using avitest::CaptureDriver;
using namespace avi;

// The clock the driver reads, and the profile loads it makes (each opens the profile's key once).
struct DriverClock {
  static SYSTEMTIME now;
  static LONG loads[10];  // by profile index
  static qrtest::ImportHook* openKey;
  static void WINAPI getLocalTime(SYSTEMTIME* time) { *time = now; }
  static LONG WINAPI countingOpenKey(LPCSTR subKey1, LPCSTR subKey2) {
    for (LONG i = 0; i < 9; ++i) {
      if (subKey2 && profiles::profileKey(i) == subKey2) ++loads[i];
    }
    return openKey->original<LONG(WINAPI*)(LPCSTR, LPCSTR)>()(subKey1, subKey2);
  }
};
SYSTEMTIME DriverClock::now{};
LONG DriverClock::loads[10]{};
qrtest::ImportHook* DriverClock::openKey = nullptr;

struct Timed {
  LONG enable, start1, start2;
};

class TimedProfiles : public CaptureDriver {
 protected:
  // Profiles 1 and 2 (0-based) tell themselves apart by their colour saturation; profile 2 has
  // its LED off. Period 1 uses profile 1, period 2 profile 2.
  void openWith(const Timed& timed) {
    for (LONG index : {0, 1, 2}) {
      profiles::ProfileSettings settings(profiles::kCaptureDriverLayout);
      settings[settings.find("Color Saturation")] = 10 + 10 * index;
      settings[settings.find("LED Enable")] = index == 2 ? 0 : 1;
      ASSERT_TRUE(profiles::writeCurrentProfile("AVI", index));
      ASSERT_TRUE(profiles::saveProfile(settings));
    }
    ASSERT_TRUE(profiles::writeCurrentProfile("AVI", 0));
    ExtRegSaveVal("AVI", nullptr, "Timed Profile Enable", timed.enable);
    ExtRegSaveVal("AVI", nullptr, "Timed Profile 1 Start Time", timed.start1);
    ExtRegSaveVal("AVI", nullptr, "Timed Profile 2 Start Time", timed.start2);
    ExtRegSaveVal("AVI", nullptr, "Timed Profile 1", 1);
    ExtRegSaveVal("AVI", nullptr, "Timed Profile 2", 2);
    video_ = openWithCamera(kVideoIn);
    ASSERT_NE(nullptr, video_);
    HMODULE driver = GetModuleHandleA("quorelavi.dll");
    clock_ = new qrtest::ImportHook(driver, "kernel32.dll", "GetLocalTime",
                                    reinterpret_cast<void*>(&DriverClock::getLocalTime));
    DriverClock::openKey = new qrtest::ImportHook(driver, "quorelreg.dll", "OpenKey",
                                                  reinterpret_cast<void*>(&DriverClock::countingOpenKey));
    ASSERT_TRUE(clock_->installed() && DriverClock::openKey->installed());
    for (LONG& n : DriverClock::loads) n = 0;
    ASSERT_EQ(0, setFormat(video_, 160, 120, BI_RGB, 24));
  }
  void TearDown() override {
    delete clock_;
    delete DriverClock::openKey;
    clock_ = nullptr;
    DriverClock::openKey = nullptr;
    CaptureDriver::TearDown();
  }
  // One frame at that local time.
  void frameAt(int hour, int minute) {
    DriverClock::now = SYSTEMTIME{};
    DriverClock::now.wYear = 2026;
    DriverClock::now.wMonth = 12;
    DriverClock::now.wDay = 11;
    DriverClock::now.wHour = static_cast<WORD>(hour);
    DriverClock::now.wMinute = static_cast<WORD>(minute);
    Buffers buffers(1, 160 * 120 * 3);
    ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
  }
  HDRVR video_ = nullptr;
  qrtest::ImportHook* clock_ = nullptr;
};

struct Step {
  int hour, minute;
  LONG profile;         // the profile in use after the frame (0: none switched to yet)
  LONG loads1, loads2;  // loads of profiles 1 and 2 so far
};

TEST_F(TimedProfiles, EachPeriodsProfileIsLoadedOnceAtItsFirstFrameAlsoAcrossMidnight) {
  struct Case {
    Timed timed;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {{1, 480, 1080},
       {{7, 59, 2, 0, 1},
        {8, 0, 1, 1, 1},
        {12, 0, 1, 1, 1},
        {17, 59, 1, 1, 1},
        {18, 0, 2, 1, 2},
        {23, 59, 2, 1, 2},
        {0, 0, 2, 1, 2},
        {8, 0, 1, 2, 2}}},
      {{1, 1320, 360},
       {{22, 0, 1, 1, 0},
        {23, 59, 1, 1, 0},
        {0, 0, 1, 1, 0},
        {5, 59, 1, 1, 0},
        {6, 0, 2, 1, 1},
        {21, 59, 2, 1, 1},
        {22, 0, 1, 2, 1}}},
      {{1, 600, 600}, {{9, 59, 0, 0, 0}, {10, 0, 0, 0, 0}, {10, 1, 0, 0, 0}}},
      {{0, 480, 1080}, {{7, 0, 0, 0, 0}, {9, 0, 0, 0, 0}, {19, 0, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("enable " + std::to_string(c.timed.enable) + ", " + std::to_string(c.timed.start1) + " to " +
                 std::to_string(c.timed.start2));
    ASSERT_NO_FATAL_FAILURE(openWith(c.timed));
    for (const Step& s : c.steps) {
      SCOPED_TRACE(std::to_string(s.hour) + ":" + std::to_string(s.minute));
      ASSERT_NO_FATAL_FAILURE(frameAt(s.hour, s.minute));
      EXPECT_EQ(10 + 10 * s.profile, QRGetChromaSat());
      EXPECT_EQ(s.profile, ExtRegGetVal("AVI", nullptr, "Current Profile"));
      EXPECT_EQ(s.loads1, DriverClock::loads[1]);
      EXPECT_EQ(s.loads2, DriverClock::loads[2]);
      EXPECT_EQ(s.profile == 2 ? 0 : 3, QRGetLEDEn()) << "the LED of the profile in use";
    }
    delete clock_;
    delete DriverClock::openKey;
    clock_ = nullptr;
    DriverClock::openKey = nullptr;
    close(video_);
  }
}

}  // namespace
