// The camera library seen from several processes: exclusive hold, fresh-process IDs, discovery by
// Windows version (Wine reports the version set for a program under HKCU "Software\Wine"), and the
// device provider seam.
#include <string>

#include "camlib_fixture.h"
#include "child_process.h"

namespace {

using camlibtest::CameraLibrary;
using qrtest::ChildProcess;
using qrtest::NamedEvent;
using qrtest::plug;
using qrtest::runChild;
using qrtest::usbCamera;

constexpr char kPeer[] = "camlib_peer.exe";

class TwoProcesses : public CameraLibrary {
 protected:
  void SetUp() override {
    CameraLibrary::SetUp();
    plug(0, usbCamera(0x0403, "SHARED"));
  }
  // Starts a peer that acquires the camera and holds it until told to let go.
  void startHolder(ChildProcess*& holder, const char* how) {
    holder = new ChildProcess(kPeer, std::string("hold ") + kReady + " " + kRelease + " " + how);
    ASSERT_TRUE(holder->started());
    ASSERT_TRUE(ready_.waitFor(30000)) << "the peer did not acquire the camera";
  }
  static constexpr const char* kReady = "camlib-test-ready";
  static constexpr const char* kRelease = "camlib-test-release";
  NamedEvent ready_{kReady};
  NamedEvent release_{kRelease};
};

TEST_F(TwoProcesses, SecondProcessIsRefusedUntilTheFirstReleases) {
  ChildProcess* holder = nullptr;
  startHolder(holder, "release");
  EXPECT_EQ(0, QRAcquireLib());
  EXPECT_EQ(0, QRFindQuorel());
  release_.set();
  EXPECT_EQ(0, holder->wait());
  delete holder;
  EXPECT_EQ(1, QRAcquireLib());
  EXPECT_EQ(1, QRFindQuorel());
}

TEST_F(TwoProcesses, HoldEndsWhenTheHoldingProcessExits) {
  ChildProcess* holder = nullptr;
  startHolder(holder, "exit");
  EXPECT_EQ(0, QRAcquireLib());
  release_.set();
  EXPECT_EQ(0, holder->wait());  // ended without QRReleaseLib
  delete holder;
  EXPECT_EQ(1, QRAcquireLib());
  EXPECT_EQ(1, QRFindQuorel());
}

TEST_F(TwoProcesses, HoldEndsWhenTheHoldingProcessIsKilled) {
  ChildProcess* holder = nullptr;
  startHolder(holder, "release");
  EXPECT_EQ(0, QRAcquireLib());
  holder->terminate();
  delete holder;
  EXPECT_EQ(1, QRAcquireLib());
  EXPECT_EQ(1, QRFindQuorel());
}

TEST_F(TwoProcesses, PeerIsRefusedWhileThisProcessHoldsTheCamera) {
  ASSERT_EQ(1, QRAcquireLib());
  ASSERT_EQ(1, QRFindQuorel());
  ChildProcess peer(kPeer, std::string("hold ") + kReady + " " + kRelease + " release");
  EXPECT_EQ(2, peer.wait());
  QRReleaseLib();
}

TEST_F(CameraLibrary, FirstCameraOfAFreshProcessGetsIdOne) {
  plug(4, usbCamera(0x0403));
  EXPECT_EQ(1, runChild(kPeer, "first-id"));
  EXPECT_EQ(1, runChild(kPeer, "first-id"));  // every process counts on its own
}

// A per-program Windows version for the peer, removed afterwards.
class WindowsVersion {
 public:
  explicit WindowsVersion(const char* version) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
      RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                     static_cast<DWORD>(strlen(version) + 1));
      RegCloseKey(key);
    }
  }
  ~WindowsVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }

 private:
  static constexpr const char* kKey = "Software\\Wine\\AppDefaults\\camlib_peer.exe";
};

struct VersionCase {
  const char* version;
  DWORD platform, major, minor;
  bool interfaceClass;  // tried when the fixed paths find nothing
};
const VersionCase kVersions[] = {
    {"win95", 1, 4, 0, false},
    {"win98", 1, 4, 10, true},
    {"nt40", 2, 4, 0, false},
    {"win2k", 2, 5, 0, true},
};

DWORD classEnumerations() {
  VCamStats stats{};
  VCamGetStats(&stats);
  return stats.classEnumerations;
}

TEST_F(CameraLibrary, DiscoveryFollowsTheWindowsVersion) {
  for (const VersionCase& c : kVersions) {
    SCOPED_TRACE(c.version);
    WindowsVersion version(c.version);

    // A camera at a fixed path is found everywhere, and the interface class is never needed.
    ASSERT_EQ(1, VCamReset());
    plug(0, usbCamera(0x0403, "", VCAM_PUBLISH_FIXED_PATH));
    EXPECT_EQ(1, runChild(kPeer, "count"));
    EXPECT_EQ(0u, classEnumerations());
    VCamStats stats{};
    ASSERT_EQ(1, VCamGetStats(&stats));
    EXPECT_EQ(c.platform, stats.lastDriverQuery[0]);
    EXPECT_EQ(c.major, stats.lastDriverQuery[1]);
    EXPECT_EQ(c.minor, stats.lastDriverQuery[2]);

    // A camera published only as a device interface is found where the class is searched.
    ASSERT_EQ(1, VCamReset());
    plug(1, usbCamera(0x0404, "", VCAM_PUBLISH_INTERFACE));
    EXPECT_EQ(c.interfaceClass ? 1 : 0, runChild(kPeer, "count"));
    EXPECT_EQ(c.interfaceClass ? 1u : 0u, classEnumerations());
  }
}

TEST_F(CameraLibrary, ProviderThatCannotBeLoadedFindsNoCamera) {
  plug(0, usbCamera(0x0403));
  qrtest::writeRawValue(qrtest::kProductKey, "Camera Device Provider", REG_SZ, "C:\\missing\\nothing.dll", 23);
  EXPECT_EQ(0, runChild(kPeer, "count"));
  EXPECT_EQ(0, VCamGetLogCount());
  qrtest::installVirtualCamera();
  EXPECT_EQ(1, runChild(kPeer, "count"));
  EXPECT_LT(0, VCamGetLogCount());
}

}  // namespace
