// The data source through Wine's own source manager, as an application reaches it. Wine's
// twain_32.dll looks for sources only at fixed paths, the first being "<Windows>\twain_32\sane.ds"
// ("twain_64" in its 64-bit build): the tests install our source there (as scripts/twain-install
// does for the prefix).
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "child_process.h"
#include "proc_address.h"
#include "qrcamlib.h"
#include "twain.h"
#include "vcam_control.h"

namespace {

std::string fileBytes(const std::string& name) {
  std::string bytes;
  HANDLE file =
      CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

// Copies the built source to where Wine's manager looks (unless it is there already: the manager
// keeps a source loaded after closing it); its DLLs are found beside the program.
void installSource() {
  char windows[MAX_PATH];
  ASSERT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
  const std::string folder = std::string(windows) + (sizeof(void*) == 8 ? "\\twain_64" : "\\twain_32");
  const std::string built = qrtest::programDirectory() + "qr3twn.ds", installed = folder + "\\sane.ds";
  if (fileBytes(installed) == fileBytes(built)) return;
  CreateDirectoryA(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(built.c_str(), installed.c_str(), FALSE));
}

class SourceManager : public qrtest::VirtualCameraTest {
 protected:
  void SetUp() override {
    VirtualCameraTest::SetUp();
    QRReleaseLib();
    installSource();
    manager_ = LoadLibraryA("TWAIN_32.DLL");
    ASSERT_NE(nullptr, manager_);
    dsm_ = compat::procAddress<DSMENTRYPROC>(manager_, "DSM_Entry");
    ASSERT_NE(nullptr, dsm_);
    application_.Id = 0;
    application_.ProtocolMajor = TWON_PROTOCOLMAJOR;
    application_.ProtocolMinor = TWON_PROTOCOLMINOR;
    application_.SupportedGroups = DG_CONTROL | DG_IMAGE;
    lstrcpyA(application_.ProductName, "manager test");
    HWND parent = nullptr;
    ASSERT_EQ(TWRC_SUCCESS, dsm_(&application_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent));
  }
  void TearDown() override {
    HWND parent = nullptr;
    if (dsm_) dsm_(&application_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    QRReleaseLib();
    VirtualCameraTest::TearDown();
  }
  TW_UINT16 toSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return dsm_(&application_, &source_, dg, dat, msg, data);
  }
  // Finds our source among those the manager lists.
  bool findSource() {
    TW_IDENTITY found{};
    TW_UINT16 rc = dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found);
    while (rc == TWRC_SUCCESS) {
      if (std::strcmp(found.ProductName, "Quorel Twain Driver 6.9.1.49") == 0) {
        source_ = found;
        return true;
      }
      rc = dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found);
    }
    return false;
  }
  // The notification the manager holds for us, as an application's message loop gets it.
  TW_UINT16 nextNotification() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TW_EVENT event{&message, MSG_NULL};
      if (toSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT && event.TWMessage != MSG_NULL) {
        return event.TWMessage;
      }
    }
    return MSG_NULL;
  }

  HMODULE manager_ = nullptr;
  DSMENTRYPROC dsm_ = nullptr;
  TW_IDENTITY application_{};
  TW_IDENTITY source_{};
};

TEST_F(SourceManager, AnApplicationAcquiresAPictureThroughTheManager) {
  qrtest::plug(0, qrtest::usbCamera(0x0403, "SN-DSM"));
  ASSERT_TRUE(findSource());
  ASSERT_EQ(TWRC_SUCCESS, dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_));
  EXPECT_NE(0u, source_.Id);

  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  ASSERT_EQ(TWRC_SUCCESS, toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  EXPECT_EQ(MSG_XFERREADY, nextNotification());

  TW_IMAGEINFO info{};
  ASSERT_EQ(TWRC_SUCCESS, toSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
  EXPECT_EQ(640, info.ImageWidth);
  EXPECT_EQ(480, info.ImageLength);
  HGLOBAL dib = nullptr;
  ASSERT_EQ(TWRC_XFERDONE, toSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
  ASSERT_NE(nullptr, header);
  EXPECT_EQ(640, header->biWidth);
  EXPECT_EQ(480, header->biHeight);
  EXPECT_EQ(24, header->biBitCount);
  GlobalUnlock(dib);
  GlobalFree(dib);

  TW_PENDINGXFERS pending{1, 0};
  EXPECT_EQ(TWRC_SUCCESS, toSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
  EXPECT_EQ(0, pending.Count);
  EXPECT_EQ(TWRC_SUCCESS, toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
  EXPECT_EQ(TWRC_SUCCESS, dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_));
}

TEST_F(SourceManager, WithoutACameraTheOpenSucceedsWithAFailureCodeAndTheSourceCloses) {
  ASSERT_TRUE(findSource());
  ASSERT_EQ(TWRC_SUCCESS, dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_));
  TW_STATUS status{0xffff, 0};
  ASSERT_EQ(TWRC_SUCCESS, toSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
  EXPECT_EQ(TWCC_BUMMER, status.ConditionCode);
  // The source asks to be closed while it is being opened, before Wine's manager has entered it
  // in its list of open sources, so this manager drops the request ("No source associated");
  // the recording manager of the other tests sees it sent.
  EXPECT_EQ(MSG_NULL, nextNotification());
  EXPECT_EQ(TWRC_SUCCESS, dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_));
}

}  // namespace
