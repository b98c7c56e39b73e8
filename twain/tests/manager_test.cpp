// An application's whole session through Wine's own source manager, from the manager's list to
// the picture, and the open without a camera as that manager shows it.
#include "qrcamlib.h"
#include "source_fixture.h"

namespace twaintest {
namespace {

class SourceManager : public Source {
 protected:
  SourceManager() : Source(Route::kManager) {}
};

TEST_F(SourceManager, AnApplicationAcquiresAPictureThroughTheManager) {
  qrtest::plug(0, qrtest::usbCamera(0x0403, "SN-DSM"));
  ASSERT_EQ(TWRC_SUCCESS, openSource());
  EXPECT_NE(0u, managerCopy_.Id);

  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  EXPECT_EQ(MSG_XFERREADY, nextNotification());

  TW_IMAGEINFO info{};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
  EXPECT_EQ(640, info.ImageWidth);
  EXPECT_EQ(480, info.ImageLength);
  HGLOBAL dib = nullptr;
  ASSERT_EQ(TWRC_XFERDONE, call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
  ASSERT_NE(nullptr, header);
  EXPECT_EQ(640, header->biWidth);
  EXPECT_EQ(480, header->biHeight);
  EXPECT_EQ(24, header->biBitCount);
  GlobalUnlock(dib);
  GlobalFree(dib);

  TW_PENDINGXFERS pending{1, 0};
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
  EXPECT_EQ(0, pending.Count);
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
}

TEST_F(SourceManager, WithoutACameraTheOpenSucceedsWithAFailureCodeAndTheSourceCloses) {
  ASSERT_EQ(TWRC_SUCCESS, openSource());
  EXPECT_EQ(TWCC_BUMMER, conditionCode());
  // The source asks to be closed while it is being opened, before Wine's manager has entered it
  // in its list of open sources, so this manager drops the request ("No source associated");
  // the recording manager of the direct tests sees it sent.
  EXPECT_EQ(MSG_NULL, nextNotification());
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
}

}  // namespace
}  // namespace twaintest
