// Capabilities, and the image's description: DAT_IMAGEINFO, DAT_IMAGELAYOUT, DAT_PALETTE8.
#include <cstring>
#include <vector>

#include "import_hook.h"
#include "source_fixture.h"

namespace twaintest {
namespace {

// A capability container as the application reads it, freed after reading.
struct Container {
  TW_UINT16 conType = 0;
  TW_UINT16 itemType = 0;
  TW_UINT32 item = 0;  // one value
  TW_UINT32 numItems = 0, currentIndex = 0, defaultIndex = 0;
  std::vector<TW_UINT16> items;
};

Container readAndFree(const TW_CAPABILITY& cap) {
  Container c;
  c.conType = cap.ConType;
  EXPECT_NE(nullptr, cap.hContainer);
  if (!cap.hContainer) return c;
  const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(cap.hContainer));
  EXPECT_NE(nullptr, bytes);  // a movable block: locking gives its address
  if (cap.ConType == TWON_ONEVALUE) {
    EXPECT_EQ(sizeof(TW_ONEVALUE), GlobalSize(cap.hContainer));
    TW_ONEVALUE value;
    std::memcpy(&value, bytes, sizeof value);
    c.itemType = value.ItemType;
    c.item = value.Item;
  } else if (cap.ConType == TWON_ENUMERATION) {
    TW_ENUMERATION head;
    std::memcpy(&head, bytes, offsetof(TW_ENUMERATION, ItemList));
    c.itemType = head.ItemType;
    c.numItems = head.NumItems;
    c.currentIndex = head.CurrentIndex;
    c.defaultIndex = head.DefaultIndex;
    EXPECT_EQ(2 * head.NumItems + 16, GlobalSize(cap.hContainer));
    c.items.resize(head.NumItems);
    std::memcpy(c.items.data(), bytes + offsetof(TW_ENUMERATION, ItemList), 2 * head.NumItems);
  }
  GlobalUnlock(cap.hContainer);
  GlobalFree(cap.hContainer);
  return c;
}

HGLOBAL oneValueBlock(TW_UINT16 itemType, TW_UINT32 item) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE));
  auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(block));
  value->ItemType = itemType;
  value->Item = item;
  GlobalUnlock(block);
  return block;
}

HGLOBAL enumerationBlock(TW_UINT32 current, const std::vector<TW_UINT16>& items) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16 + 2 * items.size());
  auto* list = static_cast<TW_ENUMERATION*>(GlobalLock(block));
  list->ItemType = TWTY_UINT16;
  list->NumItems = static_cast<TW_UINT32>(items.size());
  list->CurrentIndex = current;
  list->DefaultIndex = 0;
  std::memcpy(list->ItemList, items.data(), 2 * items.size());
  GlobalUnlock(block);
  return block;
}

class Capabilities : public Source {
 protected:
  Capabilities() : Source(Route::kManager) {}
  Container get(TW_UINT16 capNumber, TW_UINT16 msg) {
    TW_CAPABILITY cap{capNumber, 0, nullptr};
    EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_CAPABILITY, msg, &cap)) << capNumber << " " << msg;
    return readAndFree(cap);
  }
  TW_UINT16 setOne(TW_UINT16 capNumber, TW_UINT32 item, TW_UINT16 itemType = TWTY_UINT16) {
    TW_CAPABILITY cap{capNumber, TWON_ONEVALUE, oneValueBlock(itemType, item)};
    const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    GlobalFree(cap.hContainer);
    return rc;
  }
  TW_UINT16 setList(TW_UINT16 capNumber, TW_UINT32 current, const std::vector<TW_UINT16>& items) {
    TW_CAPABILITY cap{capNumber, TWON_ENUMERATION, enumerationBlock(current, items)};
    const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    GlobalFree(cap.hContainer);
    return rc;
  }
  TW_IMAGEINFO imageInfo() {
    TW_IMAGEINFO info;
    std::memset(&info, 0x5a, sizeof info);
    EXPECT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    return info;
  }
  TW_IMAGELAYOUT layout(TW_UINT16 msg = MSG_GET) {
    TW_IMAGELAYOUT l;
    std::memset(&l, 0x5a, sizeof l);
    EXPECT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_IMAGELAYOUT, msg, &l));
    return l;
  }
  TW_UINT16 setLayout(TW_INT16 left, TW_INT16 top, TW_INT16 right, TW_INT16 bottom) {
    TW_IMAGELAYOUT l{};
    l.Frame = {{left, 0}, {top, 0}, {right, 0x8000}, {bottom, 0x8000}};
    return call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &l);
  }
};

struct OneValueCase {
  TW_UINT16 cap;
  TW_UINT16 itemType;
  TW_UINT32 value;
};

TEST_F(Capabilities, FixedCapabilitiesAnswerOneValueUnderEveryGetAndReset) {
  openWithCamera();
  const OneValueCase cases[] = {
      {CAP_XFERCOUNT, TWTY_UINT16, 1},
      {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE},
      {ICAP_UNITS, TWTY_UINT16, TWUN_PIXELS},
      {CAP_UICONTROLLABLE, TWTY_BOOL, TRUE},
      {ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE},
  };
  for (const OneValueCase& c : cases) {
    for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET}) {
      const Container got = get(c.cap, msg);
      EXPECT_EQ(TWON_ONEVALUE, got.conType) << c.cap << " " << msg;
      EXPECT_EQ(c.itemType, got.itemType) << c.cap << " " << msg;
      EXPECT_EQ(c.value, got.item) << c.cap << " " << msg;
    }
  }
}

TEST_F(Capabilities, FixedCapabilitiesAcceptOnlyTheirValue) {
  openWithCamera();
  struct SetCase {
    TW_UINT16 cap;
    TW_UINT32 item;
    TW_UINT16 condition;  // TWCC_SUCCESS: accepted
  };
  const SetCase cases[] = {
      {CAP_XFERCOUNT, 0xffffffffUL, TWCC_SUCCESS}, {CAP_XFERCOUNT, 0xffff, TWCC_SUCCESS},
      {CAP_XFERCOUNT, 0, TWCC_BADVALUE},           {ICAP_COMPRESSION, 0, TWCC_SUCCESS},
      {ICAP_COMPRESSION, 1, TWCC_BADVALUE},        {ICAP_COMPRESSION, 0x10000, TWCC_BADVALUE},
      {ICAP_UNITS, TWUN_PIXELS, TWCC_SUCCESS},     {ICAP_UNITS, 0, TWCC_BADVALUE},
      {ICAP_PIXELFLAVOR, 0, TWCC_SUCCESS},         {ICAP_PIXELFLAVOR, 1, TWCC_BADVALUE},
      {CAP_UICONTROLLABLE, TRUE, TWCC_BADCAP},     {0x1234, 0, TWCC_BADCAP},
  };
  for (const SetCase& c : cases) {
    const TW_UINT16 rc = setOne(c.cap, c.item);
    EXPECT_EQ(c.condition == TWCC_SUCCESS ? TWRC_SUCCESS : TWRC_FAILURE, rc) << c.cap << " " << c.item;
    EXPECT_EQ(c.condition, conditionCode()) << c.cap << " " << c.item;
  }
  EXPECT_EQ(1u, get(CAP_XFERCOUNT, MSG_GET).item);
  EXPECT_EQ(TW_UINT32(TRUE), get(CAP_UICONTROLLABLE, MSG_GET).item);
}

HGLOBAL WINAPI noGlobalMemory(UINT, SIZE_T) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST_F(Capabilities, AContainerThatCannotBeAllocatedIsLowMemoryNotANullHandle) {
  openWithCamera();
  qrtest::ImportHook hook(module_, "kernel32.dll", "GlobalAlloc", reinterpret_cast<void*>(&noGlobalMemory));
  ASSERT_TRUE(hook.installed());
  for (TW_UINT16 capNumber : {ICAP_PIXELTYPE, ICAP_XFERMECH, CAP_XFERCOUNT}) {
    for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
      TW_CAPABILITY cap{capNumber, 0, nullptr};
      expectFailure(TWCC_LOWMEMORY, DG_CONTROL, DAT_CAPABILITY, msg, &cap);
      EXPECT_EQ(nullptr, cap.hContainer) << capNumber << " " << msg;
    }
  }
}

TEST_F(Capabilities, AnUnknownCapabilityIsRefusedUnderEveryMessage) {
  openWithCamera();
  for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET}) {
    TW_CAPABILITY cap{0x1234, 0, nullptr};
    expectFailure(TWCC_BADCAP, DG_CONTROL, DAT_CAPABILITY, msg, &cap);
    EXPECT_EQ(nullptr, cap.hContainer);
  }
}

TEST_F(Capabilities, TransferMechanismListsNativeAndMemory) {
  openWithCamera();
  const Container list = get(ICAP_XFERMECH, MSG_GET);
  EXPECT_EQ(TWON_ENUMERATION, list.conType);
  EXPECT_EQ(TWTY_UINT16, list.itemType);
  EXPECT_EQ((std::vector<TW_UINT16>{TWSX_NATIVE, TWSX_MEMORY}), list.items);
  EXPECT_EQ(0u, list.currentIndex);
  EXPECT_EQ(0u, list.defaultIndex);

  ASSERT_EQ(TWRC_SUCCESS, setOne(ICAP_XFERMECH, TWSX_MEMORY));
  EXPECT_EQ(1u, get(ICAP_XFERMECH, MSG_GET).currentIndex);
  EXPECT_EQ(unsigned(TWSX_MEMORY), get(ICAP_XFERMECH, MSG_GETCURRENT).item);
  EXPECT_EQ(unsigned(TWSX_NATIVE), get(ICAP_XFERMECH, MSG_GETDEFAULT).item);
  // File transfer is not in the list: it selects the first entry, native.
  ASSERT_EQ(TWRC_SUCCESS, setOne(ICAP_XFERMECH, TWSX_FILE));
  EXPECT_EQ(unsigned(TWSX_NATIVE), get(ICAP_XFERMECH, MSG_GETCURRENT).item);

  ASSERT_EQ(TWRC_SUCCESS, setList(ICAP_XFERMECH, 1, {TWSX_NATIVE, TWSX_MEMORY}));
  EXPECT_EQ(unsigned(TWSX_MEMORY), get(ICAP_XFERMECH, MSG_GETCURRENT).item);
  const Container reset = get(ICAP_XFERMECH, MSG_RESET);
  EXPECT_EQ(unsigned(TWSX_NATIVE), reset.item);
  EXPECT_EQ(0u, get(ICAP_XFERMECH, MSG_GET).currentIndex);
}

TEST_F(Capabilities, PixelTypeSelectsColourOrGreyImages) {
  acquire();
  Container list = get(ICAP_PIXELTYPE, MSG_GET);
  EXPECT_EQ(TWON_ENUMERATION, list.conType);
  EXPECT_EQ((std::vector<TW_UINT16>{TWPT_RGB, TWPT_PALETTE}), list.items);
  EXPECT_EQ(0u, list.currentIndex);
  EXPECT_EQ(24, imageInfo().BitsPerPixel);

  ASSERT_EQ(TWRC_SUCCESS, setOne(ICAP_PIXELTYPE, TWPT_GRAY));
  EXPECT_EQ(unsigned(TWPT_GRAY), get(ICAP_PIXELTYPE, MSG_GETCURRENT).item);
  EXPECT_EQ(0u, get(ICAP_PIXELTYPE, MSG_GET).currentIndex);  // grey is not in the list
  EXPECT_EQ(unsigned(TWPT_RGB), get(ICAP_PIXELTYPE, MSG_GETDEFAULT).item);
  TW_IMAGEINFO info = imageInfo();
  EXPECT_EQ(8, info.BitsPerPixel);
  EXPECT_EQ(TWPT_PALETTE, info.PixelType);
  EXPECT_EQ(1, info.SamplesPerPixel);

  ASSERT_EQ(TWRC_SUCCESS, setOne(ICAP_PIXELTYPE, TWPT_RGB));
  EXPECT_EQ(24, imageInfo().BitsPerPixel);

  ASSERT_EQ(TWRC_SUCCESS, setList(ICAP_PIXELTYPE, 1, {TWPT_RGB, TWPT_PALETTE}));
  EXPECT_EQ(unsigned(TWPT_PALETTE), get(ICAP_PIXELTYPE, MSG_GETCURRENT).item);
  EXPECT_EQ(1u, get(ICAP_PIXELTYPE, MSG_GET).currentIndex);
  EXPECT_EQ(8, imageInfo().BitsPerPixel);

  EXPECT_EQ(unsigned(TWPT_RGB), get(ICAP_PIXELTYPE, MSG_RESET).item);
  EXPECT_EQ(24, imageInfo().BitsPerPixel);
}

TEST_F(Capabilities, ListSetsThatCannotBeReadAreRefusedAndChangeNothing) {
  openWithCamera();
  ASSERT_EQ(TWRC_SUCCESS, setOne(ICAP_XFERMECH, TWSX_MEMORY));
  // An index beyond the list's items.
  EXPECT_EQ(TWRC_FAILURE, setList(ICAP_XFERMECH, 2, {TWSX_NATIVE, TWSX_MEMORY}));
  EXPECT_EQ(TWCC_BADVALUE, conditionCode());
  EXPECT_EQ(TWRC_FAILURE, setList(ICAP_PIXELTYPE, 5, {TWPT_GRAY, TWPT_RGB}));
  EXPECT_EQ(TWCC_BADVALUE, conditionCode());
  // A range is not a list of choices.
  TW_CAPABILITY range{ICAP_XFERMECH, TWON_RANGE, enumerationBlock(0, {0, 0})};
  expectFailure(TWCC_BADVALUE, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &range);
  GlobalFree(range.hContainer);
  // A block too small for its container, and no block at all.
  TW_CAPABILITY small{ICAP_XFERMECH, TWON_ENUMERATION, GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 6)};
  expectFailure(TWCC_BADVALUE, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &small);
  GlobalFree(small.hContainer);
  TW_CAPABILITY tiny{CAP_XFERCOUNT, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2)};
  expectFailure(TWCC_BADVALUE, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &tiny);
  GlobalFree(tiny.hContainer);
  TW_CAPABILITY none{ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr};
  expectFailure(TWCC_BADVALUE, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &none);

  EXPECT_EQ(unsigned(TWSX_MEMORY), get(ICAP_XFERMECH, MSG_GETCURRENT).item);
  EXPECT_EQ(unsigned(TWPT_RGB), get(ICAP_PIXELTYPE, MSG_GETCURRENT).item);
  // A list longer than the table's 8 bytes is not copied; its index is still taken.
  ASSERT_EQ(TWRC_SUCCESS, setList(ICAP_PIXELTYPE, 1, {TWPT_GRAY, TWPT_BW, 9, 9, 9}));
  EXPECT_EQ(unsigned(TWPT_PALETTE), get(ICAP_PIXELTYPE, MSG_GETCURRENT).item);
}

TEST_F(Capabilities, LayoutCountsDocumentsAndResetStartsAgain) {
  openWithCamera();
  EXPECT_EQ(1u, layout().DocumentNumber);
  EXPECT_EQ(2u, layout(MSG_GETCURRENT).DocumentNumber);
  const TW_IMAGELAYOUT third = layout(MSG_GETDEFAULT);
  EXPECT_EQ(3u, third.DocumentNumber);
  EXPECT_EQ(1u, third.PageNumber);
  EXPECT_EQ(1u, third.FrameNumber);
  EXPECT_EQ(0, third.Frame.Left.Whole);
  EXPECT_EQ(0, third.Frame.Top.Whole);
  EXPECT_EQ(640, third.Frame.Right.Whole);
  EXPECT_EQ(480, third.Frame.Bottom.Whole);
  EXPECT_EQ(0, third.Frame.Right.Frac);
  ASSERT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, nullptr));
  EXPECT_EQ(1u, layout().DocumentNumber);
}

TEST_F(Capabilities, LayoutSetPicksAnExactlyMatchingSize) {
  openWithCamera();
  struct LayoutCase {
    TW_INT16 left, top, right, bottom;
    TW_INT16 width, height;  // the size afterwards
  };
  const LayoutCase cases[] = {
      {0, 0, 352, 288, 352, 288},   {0, 0, 300, 200, 352, 288}, {10, 20, 1290, 980, 1280, 960},
      {0, 0, 160, 120, 160, 120},   {0, 0, 176, 144, 176, 144}, {0, 0, 320, 240, 320, 240},
      {-5, -5, 635, 475, 640, 480}, {0, 0, 480, 640, 640, 480},
  };
  for (const LayoutCase& c : cases) {
    EXPECT_EQ(TWRC_SUCCESS, setLayout(c.left, c.top, c.right, c.bottom));
    const TW_IMAGELAYOUT now = layout();
    EXPECT_EQ(c.width, now.Frame.Right.Whole) << c.right << " x " << c.bottom;
    EXPECT_EQ(c.height, now.Frame.Bottom.Whole) << c.right << " x " << c.bottom;
  }
}

TEST_F(Capabilities, RotatedImagesAreDescribedUprightAndSetAgainstLandscapeSizes) {
  storeProfile(0, 0, 1);
  acquire();
  TW_IMAGEINFO info = imageInfo();
  EXPECT_EQ(480, info.ImageWidth);
  EXPECT_EQ(640, info.ImageLength);
  EXPECT_EQ(480, layout().Frame.Right.Whole);
  // A portrait frame matches nothing; the landscape one picks the size.
  EXPECT_EQ(TWRC_SUCCESS, setLayout(0, 0, 480, 640));
  EXPECT_EQ(640, layout().Frame.Bottom.Whole);
  EXPECT_EQ(TWRC_SUCCESS, setLayout(0, 0, 320, 240));
  info = imageInfo();
  EXPECT_EQ(240, info.ImageWidth);
  EXPECT_EQ(320, info.ImageLength);
}

TEST_F(Capabilities, ImageInfoDescribesColourAndGrey) {
  storeProfile(2, 1, 0);
  acquire();
  TW_IMAGEINFO info = imageInfo();
  EXPECT_EQ(96, info.XResolution.Whole);
  EXPECT_EQ(0, info.XResolution.Frac);
  EXPECT_EQ(96, info.YResolution.Whole);
  EXPECT_EQ(160, info.ImageWidth);
  EXPECT_EQ(120, info.ImageLength);
  EXPECT_EQ(1, info.SamplesPerPixel);
  const TW_INT16 grey[8] = {8, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(grey, info.BitsPerSample, sizeof grey));
  EXPECT_EQ(8, info.BitsPerPixel);
  EXPECT_EQ(FALSE, info.Planar);
  EXPECT_EQ(TWPT_PALETTE, info.PixelType);
  EXPECT_EQ(TWCP_NONE, info.Compression);

  ASSERT_EQ(TWRC_SUCCESS, setOne(ICAP_PIXELTYPE, TWPT_RGB));
  info = imageInfo();
  const TW_INT16 colour[8] = {8, 8, 8, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(colour, info.BitsPerSample, sizeof colour));
  EXPECT_EQ(3, info.SamplesPerPixel);
  EXPECT_EQ(24, info.BitsPerPixel);
  EXPECT_EQ(TWPT_RGB, info.PixelType);
}

TEST_F(Capabilities, PaletteIsAGreyRamp) {
  openWithCamera();
  for (TW_UINT16 msg : {MSG_GET, MSG_GETDEFAULT, MSG_RESET}) {
    TW_PALETTE8 palette;
    std::memset(&palette, 0x5a, sizeof palette);
    ASSERT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_PALETTE8, msg, &palette));
    EXPECT_EQ(256, palette.NumColors);
    EXPECT_EQ(TWPA_RGB, palette.PaletteType);
    for (int i = 0; i < 256; ++i) {
      const TW_ELEMENT8& e = palette.Colors[i];
      ASSERT_TRUE(e.Index == i && e.Channel1 == i && e.Channel2 == i && e.Channel3 == i) << i;
    }
  }
}

}  // namespace
}  // namespace twaintest
