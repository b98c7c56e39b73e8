// The viewer's picture operations, driven through the real main window: conversions and effects
// with their depth, colours and type word, undo, clear, rotation, flip and mirror, the clip
// rectangle by mouse messages, the four dialogs and the delayed timer on the test's clock.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

#include "controls.h"
#include "image_dialogs.h"
#include "import_hook.h"
#include "qrcamlib.h"
#include "viewer_fixture.h"
#include "viewer_ids.h"

namespace {

using viewertest::statusBegins;

std::vector<BYTE> pixelsOf(const ImageDescriptor& image) {
  std::vector<BYTE> bytes;
  if (!image.bmh) return bytes;
  const int rowBytes = (image.bmh->biWidth * image.bmh->biBitCount + 7) / 8;
  for (int y = 0; y < image.bmh->biHeight; ++y)
    bytes.insert(bytes.end(), image.ibuff + y * image.buffwidth, image.ibuff + y * image.buffwidth + rowBytes);
  return bytes;
}

bool greyPalette(const ImageDescriptor& image) {
  for (int i = 0; i < image.colors; ++i)
    if (image.palette[i].rgbRed != image.palette[i].rgbGreen || image.palette[i].rgbGreen != image.palette[i].rgbBlue)
      return false;
  return true;
}

// The image library's picture memory with every block above `limit` bytes refused, as on a
// machine without the memory for it.
struct LargeBlocksFail {
  static SIZE_T limit;
  static qrtest::ImportHook* hook;
  static HGLOBAL WINAPI alloc(UINT flags, SIZE_T bytes) {
    if (bytes > limit) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return hook->original<HGLOBAL(WINAPI*)(UINT, SIZE_T)>()(flags, bytes);
  }
};
SIZE_T LargeBlocksFail::limit = 0;
qrtest::ImportHook* LargeBlocksFail::hook = nullptr;

class ImageOps : public viewertest::Viewer {
 protected:
  // The viewer powered on with one 160 x 120 colour still of the landscape.
  void startWithStill() {
    VCamSetScene(VCAM_SCENE_LANDSCAPE);
    plugUsbCamera();
    start();
    settle();
    capture();
  }
  void capture() {
    command(CM_CAPTURE);
    settle();
    ASSERT_NE(nullptr, image().bmh);
  }
  const ImageDescriptor& image() const { return window().currentImage(); }
  int bits() const { return image().bmh ? image().bmh->biBitCount : 0; }
  int width() const { return image().bmh ? image().bmh->biWidth : 0; }
  int height() const { return image().bmh ? image().bmh->biHeight : 0; }
  void run(int id) {
    command(id);
    settle();
  }
  void mouse(UINT message, int x, int y) {
    SendMessageA(window().handle(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
  }
};

TEST_F(ImageOps, ConversionsGiveTheirDepthAndColoursAndUndoWorksOncePerCopy) {
  startWithStill();
  struct Case {
    std::vector<int> before;  // commands that make the picture to convert
    int command;
    int bits, colours;
    bool grey;  // the type word afterwards
  } cases[] = {
      {{}, CM_16M_TO_256, 8, 256, false},
      {{CM_16M_TO_256}, CM_TO_16M, 24, 0, false},
      {{CM_16M_TO_256}, CM_256_TO_16, 8, 16, false},
      {{CM_16M_TO_256}, CM_256_TO_2, 1, 2, false},
      {{CM_16M_TO_256, CM_256_TO_2}, CM_2_TO_256, 8, 256, true},  // black and white: grey levels
      {{}, CM_COLOUR_TO_BW, 8, 256, true},
      {{CM_COLOUR_TO_BW}, CM_TO_16M, 24, 0, true},  // the type word is kept
      {{CM_COLOUR_TO_BW, CM_TO_16M}, CM_16M_TO_256, 8, 256, true},
      {{CM_COLOUR_TO_BW}, CM_256_TO_2, 1, 2, true},
  };
  for (const Case& c : cases) {
    capture();
    for (int id : c.before) {
      ASSERT_TRUE(enabled(id)) << id << " before " << c.command << " on " << bits() << " bits";
      run(id);
    }
    const int bitsBefore = bits();
    const std::vector<BYTE> before = pixelsOf(image());
    ASSERT_TRUE(enabled(c.command)) << c.command << " on " << bits() << " bits, " << image().colors << " colours";
    run(c.command);
    EXPECT_EQ(c.bits, bits()) << c.command;
    EXPECT_EQ(c.colours, image().colors) << c.command;
    EXPECT_EQ(c.grey, image().imgtype != 0) << c.command;
    EXPECT_EQ(160, width());
    EXPECT_FALSE(state().imageSaved);
    // Undo brings the picture back, once.
    ASSERT_TRUE(enabled(CM_UNDO));
    run(CM_UNDO);
    EXPECT_EQ(bitsBefore, bits()) << c.command;
    EXPECT_EQ(before, pixelsOf(image())) << c.command;
    EXPECT_FALSE(enabled(CM_UNDO));
    run(CM_UNDO);
    EXPECT_EQ(before, pixelsOf(image())) << c.command;
  }
}

TEST_F(ImageOps, CommandsAreEnabledByThePicturesDepthAndColours) {
  startWithStill();
  struct Case {
    std::vector<int> before;
    std::vector<int> on, off;
  } cases[] = {
      {{},
       {CM_16M_TO_256, CM_COLOUR_TO_BW, CM_SHARPEN, CM_NEGATIVE, CM_RESIZE},
       {CM_TO_16M, CM_256_TO_16, CM_2_TO_256}},
      {{CM_16M_TO_256}, {CM_TO_16M, CM_256_TO_16, CM_256_TO_2, CM_EMBOSS}, {CM_16M_TO_256, CM_2_TO_256}},
      {{CM_16M_TO_256, CM_256_TO_16}, {CM_FLIP, CM_RESIZE}, {CM_SHARPEN, CM_KODALITH, CM_256_TO_2, CM_NEGATIVE}},
      {{CM_16M_TO_256, CM_256_TO_2}, {CM_2_TO_256, CM_NEGATIVE}, {CM_SHARPEN, CM_TRACE, CM_TO_16M}},
      {{CM_COLOUR_TO_BW}, {CM_TO_16M}, {CM_COLOUR_TO_BW}},
  };
  for (const Case& c : cases) {
    capture();
    for (int id : c.before) run(id);
    for (int id : c.on) EXPECT_TRUE(enabled(id)) << id;
    for (int id : c.off) EXPECT_FALSE(enabled(id)) << id;
  }
  // During preview nothing works on the picture.
  command(CM_PREVIEW);
  steps(2);
  for (int id : {CM_UNDO, CM_FLIP, CM_RESIZE, CM_CLEAR_IMAGE, CM_ADJUST_RGB}) EXPECT_FALSE(enabled(id)) << id;
}

TEST_F(ImageOps, EffectsOnAColourPaletteComeBackAsAPaletteAndOnGreyWorkDirectly) {
  startWithStill();
  for (int id : {CM_KODALITH, CM_TRACE, CM_EMBOSS, CM_SHARPEN, CM_SMOOTH, CM_NEGATIVE, CM_HISTOBRIGHTEN}) {
    for (int palette : {CM_16M_TO_256, CM_COLOUR_TO_BW}) {
      capture();
      run(palette);
      const std::vector<BYTE> before = pixelsOf(image());
      const bool grey = palette == CM_COLOUR_TO_BW;
      run(id);
      EXPECT_EQ(8, bits()) << id;
      EXPECT_EQ(256, image().colors) << id;
      if (grey) {
        EXPECT_TRUE(greyPalette(image())) << id;
      }
      EXPECT_EQ(grey, image().imgtype != 0) << id;
      if (grey) {
        EXPECT_NE(before, pixelsOf(image())) << id;  // the same palette, other levels
      }
    }
    capture();
    const std::vector<BYTE> before = pixelsOf(image());
    run(id);
    EXPECT_EQ(24, bits()) << id;
    EXPECT_NE(before, pixelsOf(image())) << id;
  }
  // Kodalith leaves two levels.
  capture();
  run(CM_COLOUR_TO_BW);
  run(CM_KODALITH);
  for (BYTE level : pixelsOf(image())) {
    const auto& entry = image().palette[level];
    ASSERT_TRUE(entry.rgbRed == 0 || entry.rgbRed == 255) << int(entry.rgbRed);
  }
}

TEST_F(ImageOps, ClearAsksAndOnlyYesEmptiesTheWindow) {
  startWithStill();
  answers_.plan(IDNO);
  run(CM_CLEAR_IMAGE);
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("Clear screen of current image?", answers_.seen()[0].text);
  EXPECT_EQ("QR3Viewer", answers_.seen()[0].caption);
  EXPECT_EQ((std::vector<int>{IDYES, IDNO}), answers_.seen()[0].buttons);
  EXPECT_NE(nullptr, image().bmh);
  answers_.plan(IDYES);
  run(CM_CLEAR_IMAGE);
  EXPECT_EQ(nullptr, image().bmh);
  EXPECT_EQ("", status());
  EXPECT_TRUE(state().imageSaved);
  EXPECT_FALSE(enabled(CM_CLEAR_IMAGE));
  run(CM_UNDO);  // the cleared picture comes back
  EXPECT_EQ(160, width());
}

TEST_F(ImageOps, TurningClockwiseThenBackAndFlippingTwiceGiveTheOriginal) {
  startWithStill();
  const std::vector<BYTE> original = pixelsOf(image());
  run(CM_ROTATE_CW);
  EXPECT_EQ(120, width());
  EXPECT_EQ(160, height());
  EXPECT_NE(original, pixelsOf(image()));
  run(CM_ROTATE_CCW);
  EXPECT_EQ(160, width());
  EXPECT_EQ(original, pixelsOf(image()));
  for (int id : {CM_FLIP, CM_MIRROR}) {
    run(id);
    EXPECT_NE(original, pixelsOf(image())) << id;
    run(id);
    EXPECT_EQ(original, pixelsOf(image())) << id;
  }
  // With a quarter turn during preview, the hand-made turn is not turned again.
  command(CM_ROTATE_PLUS_90);
  capture();
  EXPECT_EQ(120, width());
  run(CM_ROTATE_CW);
  EXPECT_EQ(160, width());
  EXPECT_EQ(120, height());
  // Nor is a picture worked on, or brought back by undo.
  capture();
  const std::vector<BYTE> turned = pixelsOf(image());
  run(CM_FLIP);
  EXPECT_EQ(120, width());
  run(CM_UNDO);
  EXPECT_EQ(120, width());
  EXPECT_EQ(turned, pixelsOf(image()));
}

TEST_F(ImageOps, ResizeRangesFollowTheAspect) {
  struct Case {
    LONG width, height;
    bool keep;
    viewer::ResizeRanges expected;
  } cases[] = {
      {640, 480, true, {16, 2560, 12, 1920, 0}}, {160, 120, true, {16, 2560, 12, 1920, 0}},
      {100, 50, true, {24, 2560, 12, 1280, 0}},  {50, 100, true, {16, 960, 32, 1920, 0}},
      {100, 50, false, {16, 2560, 12, 1920, 0}},
  };
  for (const Case& c : cases) {
    const viewer::ResizeRanges r = viewer::resizeRanges(c.width, c.height, c.keep);
    EXPECT_EQ(c.expected.minWidth, r.minWidth) << c.width << "x" << c.height;
    EXPECT_EQ(c.expected.maxWidth, r.maxWidth) << c.width << "x" << c.height;
    EXPECT_EQ(c.expected.minHeight, r.minHeight) << c.width << "x" << c.height;
    EXPECT_EQ(c.expected.maxHeight, r.maxHeight) << c.width << "x" << c.height;
  }
}

// The dialogs alone, modeless, driven by their messages.
TEST(PictureDialogs, TheResizeDialogKeepsTheAspectAndTheCheckBoxFreesTheHeight) {
  viewer::Resize dialog(GetModuleHandleA(nullptr), 160, 120, true);
  HWND hwnd = dialog.createModeless(nullptr);
  ASSERT_NE(nullptr, hwnd);
  int low = 0, high = 0;
  GetScrollRange(GetDlgItem(hwnd, IDC_FIRST_BAR), SB_CTL, &low, &high);
  EXPECT_EQ(16, low);
  EXPECT_EQ(2560, high);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_HEIGHT_BAR)));
  EXPECT_EQ(160, static_cast<int>(GetDlgItemInt(hwnd, IDC_FIRST_EDIT, nullptr, FALSE)));
  SendMessageA(hwnd, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 800),
               reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDC_FIRST_BAR)));
  EXPECT_EQ(800, static_cast<int>(GetDlgItemInt(hwnd, IDC_FIRST_EDIT, nullptr, FALSE)));
  EXPECT_EQ(600, static_cast<int>(GetDlgItemInt(hwnd, IDC_HEIGHT_EDIT, nullptr, FALSE)));
  SendMessageA(GetDlgItem(hwnd, IDC_CHECK), BM_CLICK, 0, 0);
  EXPECT_FALSE(dialog.keepAspect);
  EXPECT_TRUE(dialog.aspectToggled);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_HEIGHT_BAR)));
  SendMessageA(hwnd, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 100),
               reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDC_HEIGHT_BAR)));
  EXPECT_EQ(800, static_cast<int>(GetDlgItemInt(hwnd, IDC_FIRST_EDIT, nullptr, FALSE)));
  SendMessageA(hwnd, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(800, dialog.width);
  EXPECT_EQ(100, dialog.height);
}

TEST_F(ImageOps, ResizeFromTheDialogGivesTheNewSizeWithTheAspectKept) {
  startWithStill();
  answers_.plan(IDOK);  // no change: nothing to do
  run(CM_RESIZE);
  EXPECT_FALSE(enabled(CM_UNDO));
  answers_.planText(IDC_FIRST_EDIT, "320", IDOK);
  run(CM_RESIZE);
  ASSERT_EQ(2u, answers_.seen().size());
  EXPECT_EQ("Resize Image", answers_.seen()[0].caption);
  EXPECT_EQ(320, width());
  EXPECT_EQ(240, height());
  EXPECT_TRUE(statusBegins(status(), "Captured Frame (320 x 240 x 24)"));
  // The largest size works too.
  answers_.planText(IDC_FIRST_EDIT, "9999", IDOK);
  run(CM_RESIZE);
  EXPECT_EQ(2560, width());
  EXPECT_EQ(1920, height());
  run(CM_ROTATE_CW);
  EXPECT_EQ(1920, width());
  // Standing, its width may go only up to 1920 x 0.75: OK clamps it there.
  answers_.plan(IDOK);
  run(CM_RESIZE);
  EXPECT_EQ(1440, width());
  EXPECT_EQ(1920, height());
}

TEST_F(ImageOps, AnOperationWithoutMemoryReportsItAndLeavesThePictureAsItWas) {
  startWithStill();
  const std::vector<BYTE> before = pixelsOf(image());
  qrtest::ImportHook hook(GetModuleHandleA("vic32.dll"), "kernel32.dll", "GlobalAlloc",
                          reinterpret_cast<void*>(&LargeBlocksFail::alloc));
  ASSERT_TRUE(hook.installed());
  LargeBlocksFail::hook = &hook;
  LargeBlocksFail::limit = 1 << 20;  // the still and its undo copy fit, 2560 x 1920 does not
  answers_.planText(IDC_FIRST_EDIT, "9999", IDOK);
  answers_.plan(IDOK);
  run(CM_RESIZE);
  ASSERT_EQ(2u, answers_.seen().size());
  EXPECT_EQ("Camera Error", answers_.seen()[1].caption);
  EXPECT_FALSE(answers_.seen()[1].text.empty());
  EXPECT_EQ(160, width());
  EXPECT_EQ(120, height());
  EXPECT_EQ(before, pixelsOf(image()));
  // With the memory back, the same resize works.
  LargeBlocksFail::limit = ~SIZE_T(0);
  answers_.planText(IDC_FIRST_EDIT, "9999", IDOK);
  run(CM_RESIZE);
  EXPECT_EQ(2560, width());
  EXPECT_EQ(1920, height());
}

TEST(PictureDialogs, TheBrightnessBarRunsFromMinus100To100) {
  viewer::Brighten dialog(GetModuleHandleA(nullptr));
  HWND hwnd = dialog.createModeless(nullptr);
  ASSERT_NE(nullptr, hwnd);
  HWND bar = GetDlgItem(hwnd, IDC_FIRST_BAR);
  int low = 0, high = 0;
  GetScrollRange(bar, SB_CTL, &low, &high);
  EXPECT_EQ(0, low);
  EXPECT_EQ(200, high);
  EXPECT_EQ(100, GetScrollPos(bar, SB_CTL));
  EXPECT_EQ(0, static_cast<int>(GetDlgItemInt(hwnd, IDC_FIRST_EDIT, nullptr, TRUE)));
  SendMessageA(hwnd, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 30), reinterpret_cast<LPARAM>(bar));
  EXPECT_EQ(-70, static_cast<int>(GetDlgItemInt(hwnd, IDC_FIRST_EDIT, nullptr, TRUE)));
  SendMessageA(hwnd, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(-70, dialog.value);
}

TEST_F(ImageOps, BrightnessFromTheDialogBrightensAndCancelDoesNothing) {
  startWithStill();
  const std::vector<BYTE> before = pixelsOf(image());
  answers_.plan(IDCANCEL);
  run(CM_ADJUST_BRIGHTNESS);
  EXPECT_EQ(before, pixelsOf(image()));
  EXPECT_FALSE(enabled(CM_UNDO));  // Cancel asks for nothing
  answers_.planText(IDC_FIRST_EDIT, "50", IDOK);
  run(CM_ADJUST_BRIGHTNESS);
  long sumBefore = 0, sumAfter = 0;
  const std::vector<BYTE> after = pixelsOf(image());
  for (std::size_t i = 0; i < before.size(); ++i) {
    sumBefore += before[i];
    sumAfter += after[i];
  }
  EXPECT_GT(sumAfter, sumBefore + static_cast<long>(before.size()) * 20);
  EXPECT_TRUE(enabled(CM_UNDO));
}

TEST_F(ImageOps, TheColourDialogScalesChannelsAndCancelStillMakesAnUndoCopy) {
  startWithStill();
  const std::vector<BYTE> before = pixelsOf(image());
  // Cancel: 100 % on every channel, no visible change, but a new undo copy and an unsaved picture.
  answers_.plan(IDCANCEL);
  run(CM_ADJUST_RGB);
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("RGB Adjust", answers_.seen()[0].caption);
  EXPECT_EQ(before, pixelsOf(image()));
  EXPECT_TRUE(enabled(CM_UNDO));
  EXPECT_FALSE(state().imageSaved);
  // Red to 0 %.
  answers_.planText(IDC_RED_EDIT, "-100", IDOK);
  run(CM_ADJUST_RGB);
  const std::vector<BYTE> after = pixelsOf(image());
  int red = 0, green = 0;
  for (std::size_t i = 0; i + 2 < after.size(); i += 3) {
    red += after[i + 2];
    green += after[i + 1] != before[i + 1];
  }
  EXPECT_EQ(0, red);
  EXPECT_EQ(0, green);
  // On a palette picture the palette is scaled.
  run(CM_UNDO);
  run(CM_16M_TO_256);
  answers_.planText(IDC_FIRST_EDIT, "-100", IDOK);  // blue
  run(CM_ADJUST_RGB);
  for (int i = 0; i < image().colors; ++i) ASSERT_EQ(0, image().palette[i].rgbBlue);
}

TEST_F(ImageOps, TheClipRectangleIsDrawnWithTheMouseAndClipsThePicture) {
  startWithStill();
  const std::vector<viewertest::Pixel> plain = row(20);
  const std::vector<BYTE> whole = pixelsOf(image());
  EXPECT_FALSE(enabled(CM_CLIP_AREA));
  mouse(WM_LBUTTONDOWN, 10, 20);
  EXPECT_TRUE(statusBegins(status(), "Captured Frame (160 x 120 x 24)"));
  mouse(WM_MOUSEMOVE, 40, 40);
  mouse(WM_MOUSEMOVE, 60, 50);
  EXPECT_EQ("Clip Area (50 x 30)", status());
  mouse(WM_LBUTTONUP, 60, 50);
  EXPECT_TRUE(enabled(CM_CLIP_AREA));
  // The rectangle's top edge is drawn over the picture.
  const std::vector<viewertest::Pixel> drawn = row(20);
  int changed = 0;
  for (int x = 10; x < 60; ++x) changed += !(drawn[x] == plain[x]);
  EXPECT_GT(changed, 10);
  EXPECT_EQ(plain[100], drawn[100]);
  run(CM_CLIP_AREA);
  EXPECT_EQ(50, width());
  EXPECT_EQ(30, height());
  EXPECT_TRUE(statusBegins(status(), "Clip Area (50 x 30 x 24)"));
  // The clipped picture's top-left pixel is the whole picture's (10, 20); rows lie bottom up.
  const std::vector<BYTE> clipped = pixelsOf(image());
  const std::size_t top = static_cast<std::size_t>(119 - 20) * 160 * 3 + 10 * 3;
  const std::size_t clippedTop = static_cast<std::size_t>(29) * 50 * 3;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(whole[top + i], clipped[clippedTop + i]);
  // The right button clips a shown rectangle too.
  mouse(WM_LBUTTONDOWN, 0, 0);
  mouse(WM_MOUSEMOVE, 20, 10);
  mouse(WM_LBUTTONUP, 20, 10);
  SendMessageA(window().handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(20, width());
  EXPECT_EQ(10, height());
}

TEST_F(ImageOps, DraggingBeyondTheWindowScrollsThePicture) {
  VCamSetScene(VCAM_SCENE_LANDSCAPE);
  plugUsbCamera();
  start();
  settle();
  command(CM_RES_DOUBLE);
  capture();
  RECT client;
  GetClientRect(window().handle(), &client);
  ASSERT_LT(client.bottom, 960);
  mouse(WM_LBUTTONDOWN, 10, 10);
  mouse(WM_MOUSEMOVE, 50, client.bottom + 20);
  const int scrolled = GetScrollPos(window().handle(), SB_VERT);
  EXPECT_GE(scrolled, 2);
  mouse(WM_MOUSEMOVE, 50, client.bottom + 21);
  EXPECT_GT(GetScrollPos(window().handle(), SB_VERT), scrolled);
  mouse(WM_LBUTTONUP, 50, client.bottom);
  run(CM_CLIP_AREA);
  EXPECT_EQ(40, width());
  EXPECT_GT(height(), client.bottom - 1 - 10);  // the anchor stayed on its picture point
}

TEST(PictureDialogs, TheDelayRunsFrom5To100SecondsAndPreviewIsChosenOnlyBelowFullSize) {
  viewer::DlydTmr dialog(GetModuleHandleA(nullptr), 5, true, false);
  HWND hwnd = dialog.createModeless(nullptr);
  ASSERT_NE(nullptr, hwnd);
  int low = 0, high = 0;
  GetScrollRange(GetDlgItem(hwnd, IDC_FIRST_BAR), SB_CTL, &low, &high);
  EXPECT_EQ(5, low);
  EXPECT_EQ(100, high);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_CHECK)));
  EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(hwnd, IDC_CHECK), BM_GETCHECK, 0, 0));
  SendMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(ImageOps, TheDelayedTimerCountsItsTicksBlinksAndCaptures) {
  EXPECT_EQ(12, viewer::delayTicks(5));
  EXPECT_EQ(16, viewer::delayTicks(7));
  startWithStill();
  command(CM_LED);  // the LED off, so that its blinking shows
  ASSERT_EQ(0, QRGetLEDEn());
  answers_.planText(IDC_DELAY_EDIT, "7", IDOK);
  command(CM_DELAYED_TIMER);
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("Delayed Timer Setup", answers_.seen()[0].caption);
  EXPECT_EQ(16, window().imageOps().timerTicks);
  EXPECT_TRUE(state().previewOn);  // 160 x 120
  EXPECT_FALSE(enabled(CM_DELAYED_TIMER));
  HWND gauge = GetDlgItem(window().handle(), IDC_TIMER_GAUGE);
  ASSERT_NE(nullptr, gauge);
  RECT box, client;
  GetWindowRect(gauge, &box);
  GetClientRect(window().handle(), &client);
  EXPECT_EQ(240, box.right - box.left);
  EXPECT_EQ(34, box.bottom - box.top);
  steps(2);  // the preview runs
  ticks(13);
  EXPECT_EQ(0, QRGetLEDEn());
  EXPECT_EQ(81, SendMessageA(gauge, PBM_GETPOS, 0, 0));
  ticks(1);  // two ticks left
  EXPECT_EQ(3, QRGetLEDEn());
  ticks(2);
  EXPECT_EQ("100%", ui::windowText(gauge));
  EXPECT_TRUE(state().previewOn);
  ticks(1);  // the count passes the length: the capture
  EXPECT_FALSE(IsWindow(gauge));
  EXPECT_EQ(0, QRGetLEDEn());
  EXPECT_FALSE(state().previewOn);
  settle();
  EXPECT_TRUE(statusBegins(status(), "Captured Frame (160 x 120 x 24)"));
  // At full resolution there is no preview and the default length is the last one.
  command(CM_RES_FULL);
  answers_.plan(IDOK);
  command(CM_DELAYED_TIMER);
  EXPECT_EQ(16, window().imageOps().timerTicks);
  EXPECT_FALSE(state().previewOn);
  ticks(17);
  EXPECT_TRUE(state().snapshotRequested);
}

}  // namespace
