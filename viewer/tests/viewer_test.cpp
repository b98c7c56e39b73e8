// The viewer's main window against the virtual camera: start-up, the camera session, preview and
// stills, the frame-rate readout, closing, suspend and resume, and a camera that goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "child_process.h"
#include "import_hook.h"
#include "qrcamlib.h"
#include "registry_sandbox.h"
#include "viewer_fixture.h"
#include "viewer_ids.h"

namespace {

using viewertest::statusBegins;
using viewertest::Viewer;

const std::string kProfileKey = std::string(qrtest::kProductKey) + "\\QRViewer\\UserProfile1";

std::string storedText(const std::string& key, const char* name) {
  DWORD type = 0;
  std::string data;
  if (!qrtest::readRawValue(key, name, type, data)) return "(missing)";
  return std::string(data.c_str());
}

void storeNumber(const char* name, LONG value) {
  const std::string text = std::to_string(value);
  qrtest::writeRawValue(kProfileKey, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// Start-up.

TEST_F(Viewer, StartUpWithNoProfileWritesTheProfileWithRevision79AndPowersTheCameraOn) {
  plugUsbCamera();
  start();
  EXPECT_EQ("79", storedText(kProfileKey, "Revision"));
  EXPECT_EQ("1", storedText(kProfileKey, "Power On Flag"));
  char caption[64] = "";
  GetWindowTextA(frame(), caption, sizeof caption);
  EXPECT_STREQ("QR3Viewer", caption);
  EXPECT_FALSE(checked(CM_PREVIEW));
  EXPECT_FALSE(enabled(CM_CAPTURE));
  settle();
  EXPECT_TRUE(state().cameraFound);
  EXPECT_EQ("Digital Camera Powered On", status());
  EXPECT_TRUE(checked(CM_POWER));
  EXPECT_TRUE(enabled(CM_CAPTURE));
  EXPECT_TRUE(toolEnabled(CM_CAPTURE));
  EXPECT_TRUE(checked(CM_RES_QUARTER));  // "Resolution" 2
  EXPECT_TRUE(toolChecked(CM_RES_QUARTER));
  EXPECT_EQ(1, QRGetPowerEn());
}

TEST_F(Viewer, AProfileOfAnotherRevisionIsWrittenBackWith79) {
  storeNumber("Revision", 77);
  storeNumber("Video Gain", 99);
  qrtest::writeRawValue(std::string(qrtest::kProductKey) + "\\QRViewer", "Current Profile", REG_SZ, "0", 2);
  plugUsbCamera();
  start();
  EXPECT_EQ("79", storedText(kProfileKey, "Revision"));
  EXPECT_EQ("99", storedText(kProfileKey, "Video Gain"));
}

TEST_F(Viewer, ThePlacementIsClampedToTheScreen) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  storeNumber("Revision", 79);
  storeNumber("Main Window Left", screenWidth - 300);
  storeNumber("Main Window Top", screenHeight - 200);
  storeNumber("Main Window Width", 652);
  storeNumber("Main Window Height", 590);
  start();
  RECT placed;
  GetWindowRect(frame(), &placed);
  EXPECT_EQ(screenWidth - 300, placed.left);
  EXPECT_EQ(300, placed.right - placed.left);
  EXPECT_EQ(200, placed.bottom - placed.top);
  EXPECT_EQ(300, window().settings()[VIEWER_VALUE("Main Window Width")]);
  answers_.plan(IDCANCEL);  // no camera
  settle();
}

TEST_F(Viewer, WithoutATimerTheViewerSaysSoAndNeverStartsPreviewByItself) {
  environment_.timerAvailable = false;
  plugUsbCamera();
  answers_.plan(IDOK);
  start();
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("Out of Timers, SnapShot button may be inoperative", answers_.seen()[0].text);
  EXPECT_EQ("QR3Viewer", answers_.seen()[0].caption);
  settle();
  ticks(8);
  settle();
  EXPECT_FALSE(checked(CM_PREVIEW));
}

TEST_F(Viewer, ACommandLineFileIsShownAndKeepsTheAutomaticPreviewOff) {
  plugUsbCamera();
  answers_.plan(IDOK);  // there is no such file
  start("C:\\pictures\\holiday.bmp");
  settle();
  ticks(5);
  settle();
  EXPECT_FALSE(checked(CM_PREVIEW));
  EXPECT_EQ("C:\\pictures\\holiday.bmp", state().currentFileName);
}

TEST(ViewerCommandLine, TheArgumentsAreOneFileNameOfAtMost260Characters) {
  struct Case {
    std::string line, file;
  } cases[] = {
      {"", ""},
      {"a.bmp", "a.bmp"},
      {"my  holiday.bmp", "my holiday.bmp"},
      {"\"C:\\My Pictures\\a.bmp\"", "C:\\My Pictures\\a.bmp"},
      {std::string(259, 'x'), std::string(259, 'x')},
      {std::string(260, 'x'), ""},
      {std::string(129, 'x') + " " + std::string(129, 'y'), std::string(129, 'x') + " " + std::string(129, 'y')},
      {std::string(129, 'x') + " " + std::string(130, 'y'), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.file, viewer::commandLineFile(c.line)) << c.line.size();
}

// The camera start's messages.

TEST_F(Viewer, ACameraHeldByAnotherProcessIsReportedAndThePowerFlagCleared) {
  plugUsbCamera();
  qrtest::NamedEvent ready("ViewerTestPeerReady"), release("ViewerTestPeerRelease");
  qrtest::ChildProcess peer("camlib_peer.exe", "hold ViewerTestPeerReady ViewerTestPeerRelease release");
  ASSERT_TRUE(peer.started());
  ASSERT_TRUE(ready.waitFor(30000));
  answers_.plan(IDOK);
  start();
  settle();
  release.set();
  EXPECT_EQ(0, peer.wait());
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("Camera is being used by another application, image capture not possible.", answers_.seen()[0].text);
  EXPECT_TRUE(answers_.seen()[0].hasIcon);
  EXPECT_FALSE(checked(CM_POWER));
  EXPECT_FALSE(state().cameraFound);
  EXPECT_EQ("Digital Camera Powered Off", status());
}

TEST_F(Viewer, NoCameraAsksToRetryAndRetryTriesAgainUntilCancel) {
  answers_.plan(IDRETRY);
  answers_.plan(IDCANCEL);
  start();
  settle();
  ASSERT_EQ(2u, answers_.seen().size());
  for (const qrtest::SeenModal& box : answers_.seen()) {
    EXPECT_EQ("Could not detect camera on any Port, check power and I/O connections and Retry", box.text);
    EXPECT_EQ((std::vector<int>{IDCANCEL, IDRETRY}), box.buttons);
  }
  EXPECT_FALSE(checked(CM_POWER));
  EXPECT_EQ("Digital Camera Powered Off", status());
  // The camera plugged in and the power command: it starts.
  plugUsbCamera();
  command(CM_POWER);
  settle();
  EXPECT_TRUE(checked(CM_POWER));
  EXPECT_EQ("Digital Camera Powered On", status());
}

TEST_F(Viewer, ASlowParallelPortIsPointedOutAndTheCameraStillStarts) {
  for (DWORD mode : {0u, 1u, 3u}) {
    qrtest::plug(0, qrtest::parallelCamera(0x0403, 1, 0x378, mode));
    if (mode < 2) answers_.plan(IDOK);
    start();
    settle();
    EXPECT_TRUE(checked(CM_POWER)) << mode;
    if (mode < 2) {
      ASSERT_EQ(1u, answers_.seen().size()) << mode;
      EXPECT_EQ(
          "Printer port is not in high performance EPP or ECP mode! Check System BIOS Setup and change for increased "
          "Camera performance.",
          answers_.seen()[0].text);
    } else {
      EXPECT_TRUE(answers_.seen().empty());
    }
    answers_.clear();
    window().state().imageSaved = 1;
    close();
    app_.reset();
  }
}

// Preview and stills.

TEST_F(Viewer, PreviewStartsByItselfAboutASecondAfterPowerOn) {
  plugUsbCamera();
  start();
  settle();
  ticks(3);
  settle();
  EXPECT_FALSE(checked(CM_PREVIEW));
  ticks(1);  // the fourth tick: 1.3 s
  EXPECT_TRUE(checked(CM_PREVIEW));
  EXPECT_TRUE(toolChecked(CM_PREVIEW));
  steps(3);
  EXPECT_TRUE(statusBegins(status(), "Preview Mode (160 x 120 x 24)     Current FPS = "));
  EXPECT_EQ(1, QRGetFastGrabEn());
  EXPECT_FALSE(enabled(CM_REDRAW));
}

TEST_F(Viewer, AStillFromTheMenuIsTakenAtQuality255AndShown) {
  VCamSetScene(VCAM_SCENE_FLAT_RED);
  plugUsbCamera();
  start();
  settle();
  const viewertest::Pixel empty = pixel(80, 60);  // no picture yet: white
  EXPECT_EQ(3 * 255, empty.red + empty.green + empty.blue);
  command(CM_CAPTURE);
  settle();
  EXPECT_TRUE(statusBegins(status(), "Captured Frame (160 x 120 x 24)"));
  EXPECT_EQ(255, QRGetQuality());
  EXPECT_EQ(0, QRGetFastGrabEn());
  EXPECT_EQ(1, environment_.sounds);
  const viewertest::Pixel p = pixel(80, 60);
  EXPECT_GT(p.red, p.green + 100);  // the red field, brightened by the viewer's gain
  EXPECT_GT(p.red, p.blue + 100);
  EXPECT_FALSE(state().imageSaved);
  EXPECT_TRUE(enabled(CM_REDRAW));
  command(CM_REDRAW);
  settle();
  EXPECT_TRUE(statusBegins(status(), "Image Redraw (160 x 120 x 24)"));
}

TEST_F(Viewer, TheRightButtonStartsPreviewAndEndsItWithAFullQualityCapture) {
  plugUsbCamera();
  start();
  settle();
  command(CM_QUALITY_LOW);
  SendMessageA(window().handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  EXPECT_TRUE(checked(CM_PREVIEW));
  steps(3);
  EXPECT_EQ(0, QRGetQuality());
  EXPECT_EQ(1, QRGetFastGrabEn());
  SendMessageA(window().handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  settle();
  EXPECT_FALSE(checked(CM_PREVIEW));
  EXPECT_TRUE(statusBegins(status(), "Captured Frame (160 x 120 x 24)"));
  EXPECT_EQ(255, QRGetQuality());
  EXPECT_EQ(0, QRGetFastGrabEn());
  EXPECT_EQ(1, environment_.sounds);
}

TEST_F(Viewer, TheCaptureCommandEndsARunningPreviewWithOneCaptureAtQuality255) {
  plugUsbCamera();
  start();
  settle();
  command(CM_QUALITY_MEDIUM);
  command(CM_PREVIEW);
  steps(4);
  EXPECT_EQ(128, QRGetQuality());
  command(CM_CAPTURE);
  EXPECT_FALSE(checked(CM_PREVIEW));
  settle();
  EXPECT_TRUE(statusBegins(status(), "Captured Frame"));
  EXPECT_EQ(255, QRGetQuality());
  EXPECT_EQ(0, QRGetFastGrabEn());
}

TEST_F(Viewer, TheCameraButtonIsIgnoredForTwoSecondsThenEndsPreviewWithASnapShot) {
  plugUsbCamera();
  start();
  settle();
  ticks(2);
  VCamSetButton(0, 1);  // pressed in the first two seconds
  steps(2);
  VCamSetButton(0, 0);
  settle();
  EXPECT_EQ(0, environment_.sounds);
  EXPECT_EQ("Digital Camera Powered On", status());
  ticks(5);  // preview has started by itself
  steps(3);
  EXPECT_TRUE(checked(CM_PREVIEW));
  VCamSetButton(0, 1);
  steps(1);
  VCamSetButton(0, 0);
  settle();
  EXPECT_FALSE(checked(CM_PREVIEW));
  EXPECT_TRUE(statusBegins(status(), "Snap Shot (160 x 120 x 24)"));
  EXPECT_EQ(255, QRGetQuality());
  EXPECT_EQ(1, environment_.sounds);
  // After a press the button is read again only after a 200 ms rest.
  EXPECT_NE(environment_.pauses.end(), std::find(environment_.pauses.begin(), environment_.pauses.end(), 200u));
}

TEST_F(Viewer, TheCameraButtonTakesAStillOrStartsPreviewAsTheButtonModeSays) {
  plugUsbCamera();
  answers_.plan(IDOK);   // there is no such file
  start("picture.bmp");  // no automatic preview
  settle();
  ticks(7);
  struct Case {
    bool previewButton;
    bool previewAfter;
  } cases[] = {{true, true}, {false, false}};
  for (const Case& c : cases) {
    if (checked(CM_PREVIEW_BUTTON) != c.previewButton) command(CM_PREVIEW_BUTTON);
    if (checked(CM_PREVIEW)) {
      command(CM_PREVIEW);
      settle();
    }
    const int sounds = environment_.sounds;
    VCamSetButton(0, 1);
    steps(1);
    VCamSetButton(0, 0);
    steps(2);
    EXPECT_EQ(c.previewAfter, checked(CM_PREVIEW)) << c.previewButton;
    if (!c.previewAfter) {
      EXPECT_TRUE(statusBegins(status(), "Snap Shot (160 x 120 x 24)"));
      EXPECT_EQ(sounds + 1, environment_.sounds);
    }
  }
}

TEST_F(Viewer, FormatAndResolutionChangesTakeEffectAtTheNextFrame) {
  plugUsbCamera();
  start();
  settle();
  command(CM_PREVIEW);
  steps(2);
  EXPECT_TRUE(statusBegins(status(), "Preview Mode (160 x 120 x 24)"));
  command(CM_RES_FULL);
  EXPECT_TRUE(checked(CM_RES_FULL));
  EXPECT_FALSE(checked(CM_RES_QUARTER));
  EXPECT_EQ(160, window().currentImage().bmh->biWidth);
  steps(1);
  EXPECT_TRUE(statusBegins(status(), "Preview Mode (640 x 480 x 24)"));
  EXPECT_EQ(640, window().currentImage().bmh->biWidth);
  command(CM_COLOUR_MODE);
  steps(2);  // the colour-mode button's picture first, then the frame
  EXPECT_TRUE(statusBegins(status(), "Preview Mode (640 x 480 x 8)"));
  EXPECT_EQ(256, window().currentImage().colors);
  const viewertest::Pixel grey = pixel(300, 200);
  EXPECT_EQ(grey.red, grey.green);
  EXPECT_EQ(grey.green, grey.blue);
  command(CM_RES_SUBQUARTER);
  steps(1);
  EXPECT_TRUE(statusBegins(status(), "Preview Mode (128 x 96 x 8)"));
  EXPECT_TRUE(window().settings()[VIEWER_VALUE("Format")] == 1);
  EXPECT_TRUE(state().configChanged);
}

TEST_F(Viewer, EachFrameIsReadTurnedAsThePreviewOrientationSaysAndNegativeWhenAskedFor) {
  VCamSetScene(VCAM_SCENE_FLAT_RED);
  plugUsbCamera();
  start();
  settle();
  // The camera delivers pictures bottom-up as the bitmap stores them unless its flip is set: the
  // viewer sets the flip for upright pictures, and turns it off for a half turn, which mirroring
  // completes.
  struct Case {
    int rotation;
    bool mirror, invert;
    LONG flipSent, mirrorSent;
  } cases[] = {{CM_NO_ROTATION, false, false, 1, 0}, {CM_NO_ROTATION, true, false, 1, 1},
               {CM_NO_ROTATION, false, true, 0, 0},  {CM_ROTATE_PLUS_90, false, false, 1, 0},
               {CM_ROTATE_180, false, false, 0, 1},  {CM_ROTATE_180, true, true, 1, 0}};
  for (const Case& c : cases) {
    command(c.rotation);
    if (checked(CM_MIRROR_PREVIEW) != c.mirror) command(CM_MIRROR_PREVIEW);
    if (checked(CM_INVERT_PREVIEW) != c.invert) command(CM_INVERT_PREVIEW);
    command(CM_CAPTURE);
    settle();
    EXPECT_EQ(c.flipSent, QRGetInvertEn()) << c.rotation << c.mirror << c.invert;
    EXPECT_EQ(c.mirrorSent, QRGetMirrorEn()) << c.rotation << c.mirror << c.invert;
  }
  const viewertest::Pixel red = pixel(80, 60);
  command(CM_NEGATIVE_IMAGE);
  command(CM_CAPTURE);
  settle();
  const viewertest::Pixel negative = pixel(80, 60);
  EXPECT_NEAR(255 - red.red, negative.red, 12);
  EXPECT_NEAR(255 - red.green, negative.green, 12);
  EXPECT_NEAR(255 - red.blue, negative.blue, 12);
}

TEST_F(Viewer, APictureLargerThanTheWindowScrollsInStepsOfATenthOfTheExcess) {
  plugUsbCamera();
  start();
  settle();
  SetWindowPos(frame(), nullptr, 0, 0, 400, 320, SWP_NOMOVE | SWP_NOZORDER);
  command(CM_RES_FULL);
  command(CM_CAPTURE);
  settle();
  RECT client;
  GetClientRect(window().handle(), &client);
  int low = 0, high = 0;
  GetScrollRange(window().handle(), SB_HORZ, &low, &high);
  EXPECT_EQ(640 - client.right, high);
  GetScrollRange(window().handle(), SB_VERT, &low, &high);
  EXPECT_EQ(480 - client.bottom, high);
  const LONG style = GetWindowLongA(window().handle(), GWL_STYLE);
  EXPECT_TRUE((style & WS_HSCROLL) && (style & WS_VSCROLL));
  const int step = (640 - client.right - 16) / 10;
  ASSERT_GT(step, 2);
  const std::vector<viewertest::Pixel> before = row(100);
  SendMessageA(window().handle(), WM_HSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(step, GetScrollPos(window().handle(), SB_HORZ));
  const std::vector<viewertest::Pixel> after = row(100);
  // The row moved left by the step, and the test pattern tells the two apart.
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 200, before.begin() + step));
  EXPECT_FALSE(std::equal(after.begin(), after.begin() + 200, before.begin()));
  SendMessageA(window().handle(), WM_HSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(640 - client.right, GetScrollPos(window().handle(), SB_HORZ));
  // A small picture needs no scrolling.
  command(CM_RES_QUARTER);
  command(CM_CAPTURE);
  settle();
  GetScrollRange(window().handle(), SB_HORZ, &low, &high);
  EXPECT_EQ(0, high);
  EXPECT_EQ(0, GetWindowLongA(window().handle(), GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL));
}

TEST_F(Viewer, AQuarterTurnDuringPreviewTurnsTheCurrentPicture) {
  VCamSetScene(VCAM_SCENE_LANDSCAPE);  // still: every frame alike
  plugUsbCamera();
  start();
  settle();
  command(CM_CAPTURE);
  settle();
  const int height = 120;
  std::vector<std::vector<viewertest::Pixel>> upright;
  for (int y = 0; y < height; ++y) upright.push_back(row(y));
  struct Case {
    int command;
    bool clockwise;
  } cases[] = {{CM_ROTATE_PLUS_90, true}, {CM_ROTATE_MINUS_90, false}};
  for (const Case& c : cases) {
    command(c.command);
    command(CM_CAPTURE);
    settle();
    EXPECT_TRUE(statusBegins(status(), "Captured Frame (120 x 160 x 24)")) << c.command;
    // Turned clockwise, the picture's left column is the upright picture's bottom row. The
    // camera's automatic exposure moves a little between frames: the mean difference of the
    // right turn is small, that of the other turn large.
    double right = 0, wrong = 0;
    int count = 0;
    auto distance = [](const viewertest::Pixel& a, const viewertest::Pixel& b) {
      return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
    };
    for (int y = 0; y < 160; y += 4) {
      const std::vector<viewertest::Pixel> turned = row(y);
      for (int x = 0; x < 120; x += 4) {
        const viewertest::Pixel& clockwise = upright[height - 1 - x][y];
        const viewertest::Pixel& counterClockwise = upright[x][159 - y];
        right += distance(turned[x], c.clockwise ? clockwise : counterClockwise);
        wrong += distance(turned[x], c.clockwise ? counterClockwise : clockwise);
        ++count;
      }
    }
    EXPECT_LT(right / count, 12.0) << c.command;
    EXPECT_GT(wrong / count, 3 * right / count) << c.command;
  }
}

TEST_F(Viewer, DisplaysOf8BitsOrFewerShowAnEightBitCopyWithAFixedPaletteDuringPreview) {
  VCamSetScene(VCAM_SCENE_LANDSCAPE);
  plugUsbCamera();
  environment_.bits = 8;
  start();
  settle();
  command(CM_CAPTURE);
  settle();
  ASSERT_NE(nullptr, window().displayImage().bmh);
  EXPECT_EQ(8, window().displayImage().bmh->biBitCount);
  EXPECT_EQ(24, window().currentImage().bmh->biBitCount);
  // During preview: the colour cube of levels 0, 51 ... 255 and its greys.
  command(CM_PREVIEW);
  steps(3);
  ASSERT_NE(nullptr, window().displayImage().bmh);
  int outside = 0;
  const std::vector<viewertest::Pixel> shown = row(60);
  for (int x = 0; x < 160; ++x) {
    const viewertest::Pixel& p = shown[x];
    const bool grey = p.red == p.green && p.green == p.blue;
    if (!grey && (p.red % 51 || p.green % 51 || p.blue % 51)) ++outside;
  }
  EXPECT_EQ(0, outside);
  // Colour mode off: the grey picture is shown as it is.
  command(CM_COLOUR_MODE);
  steps(3);
  EXPECT_EQ(nullptr, window().displayImage().bmh);
}

TEST_F(Viewer, AFourBitDisplayShowsTheSixteenColours) {
  VCamSetScene(VCAM_SCENE_LANDSCAPE);
  plugUsbCamera();
  environment_.bits = 4;
  start();
  settle();
  command(CM_CAPTURE);
  settle();
  ASSERT_NE(nullptr, window().displayImage().bmh);
  int outside = 0;
  for (const viewertest::Pixel& p : row(60)) {
    for (int level : {p.red, p.green, p.blue})
      if (level != 0 && level != 128 && level != 192 && level != 255) ++outside;
  }
  EXPECT_EQ(0, outside);
}

TEST_F(Viewer, TheSubQuarterPictureStandsUprightWithItsLastEightColumnsBlack) {
  plugUsbCamera();  // the test pattern: eight colour bars across the top third
  start();
  settle();
  for (int colourMode = 0; colourMode < 2; ++colourMode) {
    command(CM_RES_SUBQUARTER);
    command(CM_CAPTURE);
    settle();
    ASSERT_EQ(128, window().currentImage().bmh->biWidth);
    // Each bar's middle is the same colour near the top and lower down (the ball may hide two).
    const std::vector<viewertest::Pixel> high = row(4), low = row(24);
    int alike = 0;
    for (int bar = 0; bar < 8; ++bar) {
      const int x = 7 + 15 * bar;
      if (std::abs(high[x].red - low[x].red) + std::abs(high[x].green - low[x].green) +
              std::abs(high[x].blue - low[x].blue) <
          30)
        ++alike;
    }
    EXPECT_GE(alike, 6) << colourMode;
    for (int x = 120; x < 128; ++x) EXPECT_EQ(0, low[x].red + low[x].green + low[x].blue) << x;
    command(CM_COLOUR_MODE);
    settle();
  }
}

TEST(ViewerRows, NarrowRowsAreSpreadToThePicturesRowsInEveryDepth) {
  for (LONG bits : {8L, 24L}) {
    ImageDescriptor image = {};
    ASSERT_EQ(0, allocimage(&image, 8, 3, bits));
    const LONG bytes = bits / 8;
    // Rows of 6 pixels, packed: pixel p of row r holds 10 * r + p + 1 in each byte.
    for (LONG r = 0; r < 3; ++r)
      for (LONG p = 0; p < 6 * bytes; ++p) image.ibuff[r * 6 * bytes + p] = static_cast<BYTE>(10 * r + p / bytes + 1);
    viewer::spreadNarrowRows(image, 6);
    for (LONG r = 0; r < 3; ++r) {
      for (LONG p = 0; p < 8 * bytes; ++p) {
        const BYTE want = p / bytes < 6 ? static_cast<BYTE>(10 * r + p / bytes + 1) : 0;
        EXPECT_EQ(want, image.ibuff[r * image.buffwidth + p]) << bits << " " << r << " " << p;
      }
    }
    freeimage(&image);
  }
}

TEST_F(Viewer, TheQualityChoicesFollowFormatAndResolution) {
  plugUsbCamera();
  start();
  settle();
  struct Case {
    int resolutionCommand;
    bool grey;
    bool lowerQualities;
  } cases[] = {{CM_RES_QUARTER, false, true},    {CM_RES_QUARTER, true, false}, {CM_RES_QCIF, true, false},
               {CM_RES_SUBQUARTER, true, false}, {CM_RES_HALF, true, true},     {CM_RES_CIF, true, true}};
  for (const Case& c : cases) {
    command(c.resolutionCommand);
    if ((window().settings()[VIEWER_VALUE("Format")] == 1) != c.grey) command(CM_COLOUR_MODE);
    EXPECT_EQ(c.lowerQualities, enabled(CM_QUALITY_MEDIUM)) << c.resolutionCommand;
    EXPECT_EQ(c.lowerQualities, enabled(CM_QUALITY_LOW)) << c.resolutionCommand;
    EXPECT_TRUE(enabled(CM_QUALITY_HIGH));
  }
  settle();
  EXPECT_NE(toolBitmap(CM_COLOUR_MODE), -1);
}

TEST_F(Viewer, TenPreviewFramesIn500MillisecondsShow20FramesASecond) {
  plugUsbCamera();
  start();
  settle();
  command(CM_PREVIEW);
  // The first group: the start frame and nine more, 50 ms apart (450 ms).
  steps(10, 50);
  EXPECT_TRUE(statusBegins(status(), "Preview Mode (160 x 120 x 24)     Current FPS = 22.2, Peak FPS = 22.2"));
  // Then ten frames in 500 ms.
  steps(10, 50);
  EXPECT_EQ("Preview Mode (160 x 120 x 24)     Current FPS = 20.0, Peak FPS = 22.2", status());
  // Ten in a second: 10.0, the peak stays.
  steps(10, 100);
  EXPECT_EQ("Preview Mode (160 x 120 x 24)     Current FPS = 10.0, Peak FPS = 22.2", status());
}

TEST_F(Viewer, ToggledSettingsReachTheMenuAndTheCamera) {
  plugUsbCamera();
  start();
  settle();
  struct Case {
    int id;
    const char* value;
  } cases[] = {{CM_MIRROR_PREVIEW, "Mirror Durning Preview"},
               {CM_INVERT_PREVIEW, "Invert Durning Preview"},
               {CM_60HZ, "60Hz Power System"},
               {CM_NEGATIVE_IMAGE, "Negative Image"},
               {CM_LED, "LED Enable"},
               {CM_PREVIEW_BUTTON, "Preview Button Control Mode"},
               {CM_SOUND, "Sound Enable"}};
  for (const Case& c : cases) {
    const bool before = checked(c.id);
    command(c.id);
    EXPECT_NE(before, checked(c.id)) << c.value;
    EXPECT_EQ(before ? 0 : 1, window().settings().settings[window().settings().settings.find(c.value)]) << c.value;
  }
  EXPECT_EQ(0, QRGetLEDEn());  // "LED Enable" now 0
  EXPECT_EQ(0, QRGet60HzEn());
  for (int id : {CM_NO_ROTATION, CM_ROTATE_PLUS_90, CM_ROTATE_MINUS_90, CM_ROTATE_180}) {
    command(id);
    for (int other : {CM_NO_ROTATION, CM_ROTATE_PLUS_90, CM_ROTATE_MINUS_90, CM_ROTATE_180})
      EXPECT_EQ(other == id, checked(other)) << id << " " << other;
  }
  // The two exit questions are stored in the profile at once.
  command(CM_ASK_SAVE_CONFIG);
  EXPECT_FALSE(checked(CM_ASK_SAVE_CONFIG));
  EXPECT_EQ("0", storedText(kProfileKey, "Save CFG on Exit"));
  command(CM_ASK_SAVE_IMAGE);
  EXPECT_EQ("0", storedText(kProfileKey, "Save Image on Exit"));
}

TEST_F(Viewer, CommandsThatNeedAPictureStartDisabled) {
  plugUsbCamera();
  start();
  settle();
  for (int id : {CM_FILE_PRINT,    CM_UNDO,         CM_CLIP_AREA,  CM_CLEAR_IMAGE, CM_ADJUST_RGB,
                 CM_ADJUST_BRIGHTNESS, CM_HISTOBRIGHTEN, CM_COLOUR_TO_BW, CM_16M_TO_256, CM_TO_16M,
                 CM_256_TO_16,     CM_256_TO_2,     CM_2_TO_256,   CM_SHARPEN,     CM_SMOOTH,
                 CM_EMBOSS,        CM_NEGATIVE,     CM_KODALITH,   CM_TRACE,       CM_RESIZE,
                 CM_FLIP,          CM_MIRROR,       CM_ROTATE_CW,  CM_ROTATE_CCW})
    EXPECT_FALSE(enabled(id)) << id;
  for (int id : {CM_EXIT, CM_CONFIG_MANAGER, CM_HELP, CM_ABOUT, CM_POWER, CM_RES_FULL, CM_COLOUR_MODE, CM_DELAYED_TIMER,
                 CM_CAMERA_PANEL, CM_COLOUR_PANEL})
    EXPECT_TRUE(enabled(id)) << id;
  char text[128] = "";
  GetMenuStringA(GetMenu(frame()), CM_UNDO, text, sizeof text, MF_BYCOMMAND);
  EXPECT_STREQ("&Undo\tAlt+BkSp", text);
  GetMenuStringA(GetMenu(frame()), CM_RES_SUBQUARTER, text, sizeof text, MF_BYCOMMAND);
  EXPECT_STREQ("&SubQtr Resolution (128 by 96)", text);
}

TEST_F(Viewer, ThePowerCommandSwitchesTheCameraOffAndOnWithItsButtonPicture) {
  plugUsbCamera();
  start();
  const int off = toolBitmap(CM_POWER);
  settle();
  const int on = toolBitmap(CM_POWER);
  EXPECT_NE(off, on);
  command(CM_POWER);
  EXPECT_EQ(off, toolBitmap(CM_POWER));
  EXPECT_FALSE(checked(CM_POWER));
  EXPECT_EQ("Digital Camera Powered Off", status());
  VCamDeviceStatus device = {};
  VCamGetDeviceStatus(0, &device);
  EXPECT_EQ(0u, device.open);  // released
  EXPECT_FALSE(enabled(CM_CAPTURE));
  command(CM_POWER);
  settle();
  EXPECT_EQ(on, toolBitmap(CM_POWER));
  EXPECT_EQ("Digital Camera Powered On", status());
}

// Closing.

TEST_F(Viewer, ClosingAsksAboutTheConfigurationFirstAndCancelAtEitherQuestionKeepsTheProgram) {
  plugUsbCamera();
  start();
  settle();
  command(CM_CAPTURE);
  settle();
  command(CM_MIRROR_PREVIEW);
  const std::string config = "Configuration has changed, save before closing?";
  const std::string image = "Save Image before closing?";
  answers_.plan(IDCANCEL);
  close();
  EXPECT_TRUE(open());
  answers_.plan(IDNO);
  answers_.plan(IDCANCEL);
  close();
  EXPECT_TRUE(open());
  ASSERT_EQ(3u, answers_.seen().size());
  EXPECT_EQ(config, answers_.seen()[0].text);
  EXPECT_EQ(config, answers_.seen()[1].text);
  EXPECT_EQ(image, answers_.seen()[2].text);
  EXPECT_EQ((std::vector<int>{IDCANCEL, IDYES, IDNO}), answers_.seen()[0].buttons);
  EXPECT_EQ("0", storedText(kProfileKey, "Mirror Durning Preview"));
  // Yes to the picture, then Cancel in the save dialog: nothing saved, the viewer stays open.
  answers_.plan(IDNO);
  answers_.plan(IDYES);
  answers_.plan(IDCANCEL);
  close();
  EXPECT_TRUE(open());
  // Yes saves the configuration; No to the picture closes.
  answers_.plan(IDYES);
  answers_.plan(IDNO);
  close();
  EXPECT_FALSE(open());
  EXPECT_EQ("1", storedText(kProfileKey, "Mirror Durning Preview"));
  EXPECT_EQ(8u, answers_.seen().size());
  VCamDeviceStatus device = {};
  VCamGetDeviceStatus(0, &device);
  EXPECT_EQ(0u, device.open);
}

TEST_F(Viewer, ClosingWithoutChangesAsksNothingAndStoresThePlacement) {
  plugUsbCamera();
  start();
  settle();
  SetWindowPos(frame(), nullptr, 40, 30, 500, 400, SWP_NOZORDER);
  command(CM_EXIT);
  settle();
  EXPECT_FALSE(open());
  EXPECT_EQ(40, window().settings()[VIEWER_VALUE("Main Window Left")]);
  EXPECT_EQ(400, window().settings()[VIEWER_VALUE("Main Window Height")]);
  EXPECT_TRUE(answers_.seen().empty());
}

// Suspend, resume, and a camera that goes away.

TEST_F(Viewer, SuspendPowersOffAndResumeBringsThePreviewBack) {
  plugUsbCamera();
  start();
  settle();
  command(CM_PREVIEW);
  steps(3);
  EXPECT_EQ(TRUE, SendMessageA(frame(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0));
  EXPECT_EQ("Digital Camera Powered Off", status());
  EXPECT_FALSE(checked(CM_PREVIEW));
  VCamDeviceStatus device = {};
  VCamGetDeviceStatus(0, &device);
  EXPECT_EQ(0u, device.open);
  EXPECT_EQ(TRUE, SendMessageA(frame(), WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0));
  steps(3);
  EXPECT_TRUE(checked(CM_PREVIEW));
  EXPECT_TRUE(statusBegins(status(), "Preview Mode (160 x 120 x 24)"));
}

TEST_F(Viewer, ACameraLostDuringPreviewIsReportedAndPoweredOffAndComesBackWithThePowerCommand) {
  struct Case {
    const char* how;
    bool unplug;
  } cases[] = {{"marked gone", false}, {"unplugged", true}};
  for (const Case& c : cases) {
    plugUsbCamera();
    start();
    settle();
    command(CM_PREVIEW);
    steps(3);
    answers_.plan(IDOK);
    if (c.unplug)
      VCamUnplug(0);
    else
      VCamSetGone(0, 1);
    settle(20);
    ASSERT_EQ(1u, answers_.seen().size()) << c.how;
    EXPECT_EQ("Camera communication lost, check I/O connections and restart application", answers_.seen()[0].text);
    EXPECT_EQ("QR3Viewer", answers_.seen()[0].caption);
    EXPECT_FALSE(checked(CM_POWER)) << c.how;
    EXPECT_FALSE(checked(CM_PREVIEW)) << c.how;
    EXPECT_EQ("Digital Camera Powered Off", status()) << c.how;
    // Back, and the power command: the picture again.
    if (c.unplug)
      plugUsbCamera();
    else
      VCamSetGone(0, 0);
    command(CM_POWER);
    settle();
    command(CM_CAPTURE);
    settle();
    EXPECT_TRUE(statusBegins(status(), "Captured Frame (160 x 120 x 24)")) << c.how;
    answers_.clear();
    window().state().imageSaved = 1;
    close();
    app_.reset();
  }
}

TEST_F(Viewer, TheProfileManagersRequestsAreCarriedOutByTheNextIdleStep) {
  plugUsbCamera();
  start();
  settle();
  answers_.plan(IDOK);
  command(CM_CONFIG_MANAGER);
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("Configuration Manager", answers_.seen()[0].caption);
  // Load: the stored profile reaches the camera.
  storeNumber("Video Gain", 99);
  storeNumber("Resolution", 1);
  window().loadProfileRequested();
  settle();
  EXPECT_EQ(99, QRGetGain());
  EXPECT_TRUE(checked(CM_RES_HALF));
  // Factory values, nothing written.
  window().factoryDefaultsRequested();
  settle();
  EXPECT_EQ(174, QRGetGain());
  EXPECT_TRUE(checked(CM_RES_QUARTER));
  EXPECT_EQ("99", storedText(kProfileKey, "Video Gain"));
  // Save: the camera's own gain and the settings are written.
  command(CM_MIRROR_PREVIEW);
  window().saveProfileRequested();
  settle();
  EXPECT_EQ(std::to_string(QRGetGain()), storedText(kProfileKey, "Video Gain"));
  EXPECT_EQ("1", storedText(kProfileKey, "Mirror Durning Preview"));
  EXPECT_EQ("2", storedText(kProfileKey, "Resolution"));
  EXPECT_FALSE(state().configChanged);
}

TEST_F(Viewer, TheAboutCommandShowsTheCameraInformationDialog) {
  plugUsbCamera();
  start();
  settle();
  answers_.plan(IDOK);
  command(CM_ABOUT);
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("SentrioV2 Camera Information", answers_.seen()[0].caption);
  EXPECT_TRUE(window().connection().found);
  EXPECT_FALSE(window().connection().parallel);
  EXPECT_EQ("SN-0001", window().connection().serial);
}

LONG grabCalls = 0;
LONG WINAPI grabThatNeverSucceeds() {
  ++grabCalls;
  return 0;
}

TEST_F(Viewer, AGrabThatNeverSucceedsGivesUpWithinItsTimeBoundAndTheCameraStartsAgain) {
  plugUsbCamera();
  start();
  settle();
  {
    qrtest::ImportHook hook(GetModuleHandleA(nullptr), "qrcamlib.dll", "QRGrabFrame",
                            reinterpret_cast<void*>(&grabThatNeverSucceeds));
    ASSERT_TRUE(hook.installed());
    grabCalls = 0;
    command(CM_CAPTURE);
    environment_.advancePerRead = 100;
    const DWORD before = environment_.time;
    steps(1);
    environment_.advancePerRead = 0;
    EXPECT_GT(grabCalls, 0);
    EXPECT_LT(grabCalls, 65535);  // the time bound ended it, not the count
    EXPECT_LE(environment_.time - before, viewer::kGrabTimeLimitMs + 200);
    EXPECT_TRUE(state().initRequested);
    EXPECT_FALSE(state().cameraFound);
    VCamDeviceStatus device = {};
    VCamGetDeviceStatus(0, &device);
    EXPECT_EQ(0u, device.open);  // released
  }
  settle();
  EXPECT_TRUE(state().cameraFound);
  EXPECT_TRUE(checked(CM_POWER));
  command(CM_CAPTURE);
  settle();
  EXPECT_TRUE(statusBegins(status(), "Captured Frame (160 x 120 x 24)"));
}

}  // namespace
