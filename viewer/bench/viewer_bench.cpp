// The viewer's preview loop against a bare frame-read loop on the same unpaced virtual camera and
// the same acquired library, in one run: frames a second of each and the viewer's share of the bare rate, at 640 x 480
// and 320 x 240 in 24-bit colour and 8-bit grey. The viewer runs as the program does: its window, its idle step, and
// the message loop's painting after every frame. scripts/bench viewer sets up the camera (plugged in at position 0) and
// the device provider before running it. Beside those rates, on a 640 x 480 24-bit camera frame: the display
// image an 8-bit screen shows during preview, and every picture operation, each through the viewer's own code.
#include <windows.h>

#include <cstdio>
#include <functional>

#include "main_window.h"
#include "qrcamlib.h"
#include "viewer_ids.h"

namespace {

constexpr int kFrames = 40;  // a round
constexpr int kRounds = 10;  // of each, taken in turns; the best round of each counts

struct Mode {
  const char* name;
  LONG resolution;
  LONG format;
  int resolutionCommand;
};

struct Rates {
  double bare = 0, shown = 0;
};

double seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// One round of the bare loop: QRVideoFrameRead alone into a buffer of the right size, on the
// camera the viewer has acquired, with the settings its preview uses.
double bareRound(const Mode& mode, void* buffer) {
  QRSetOutputFormat(mode.format);
  QRSetResolution(mode.resolution);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kFrames; ++i) QRVideoFrameRead(buffer);
  QueryPerformanceCounter(&end);
  return kFrames / seconds(start, end);
}

// One round of the viewer's preview: each idle step reads one frame and updates the display, and
// the loop then paints it, as Application::run does.
double viewerRound(viewer::TBmpViewWindow& window) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kFrames; ++i) {
    window.idleAction();
    pump();
  }
  QueryPerformanceCounter(&end);
  return kFrames / seconds(start, end);
}

// Both rates for one mode, in turns, so that whatever else the machine does weighs on both alike.
Rates measure(const Mode& mode) {
  Rates best;
  viewer::Environment environment;
  viewer::TBmpViewApp app(GetModuleHandleA(nullptr), environment);
  app.frame().setQuitOnDestroy(false);
  if (!app.start("", SW_SHOWNORMAL)) return best;
  viewer::TBmpViewWindow& window = *app.window();
  for (int i = 0; i < 20 && window.idleAction(); ++i) pump();
  if (!window.state().cameraPowered) return best;
  SendMessageA(app.frame().handle(), WM_COMMAND, mode.resolutionCommand, 0);
  if ((window.settings()[VIEWER_VALUE("Format")] == 1) != (mode.format == 1))
    SendMessageA(app.frame().handle(), WM_COMMAND, CM_COLOUR_MODE, 0);
  if (!window.state().previewOn) SendMessageA(app.frame().handle(), WM_COMMAND, CM_PREVIEW, 0);
  for (int i = 0; i < 5; ++i) {  // the preview under way at the chosen size
    window.idleAction();
    pump();
  }
  const viewer::FrameSize size = viewer::kResolutionSizes[mode.resolution];
  void* buffer = GlobalAlloc(GMEM_FIXED, size.width * size.height * 3);
  for (int round = 0; round < kRounds; ++round) {
    const double bare = bareRound(mode, buffer);
    const double shown = viewerRound(window);
    if (bare > best.bare) best.bare = bare;
    if (shown > best.shown) best.shown = shown;
  }
  GlobalFree(buffer);
  window.state().configChanged = 0;
  window.state().imageSaved = 1;
  SendMessageA(app.frame().handle(), WM_CLOSE, 0, 0);
  pump();
  return best;
}

}  // namespace

namespace viewer {

// The viewer's own display path and picture operations, each timed alone on the window's picture.
class ViewerBench {
 public:
  explicit ViewerBench(TBmpViewWindow& window) : w_(window) {}

  // Milliseconds, best of `repeats`, of `step`; the picture goes back to its undo copy after each
  // run but the last, and after the last too when `restore`.
  double time(const std::function<void()>& step, int repeats, bool restore) {
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
      LARGE_INTEGER start, end;
      QueryPerformanceCounter(&start);
      step();
      QueryPerformanceCounter(&end);
      const double ms = 1000.0 * seconds(start, end);
      if (ms < best) best = ms;
      if (w_.state_.lastError != 0) return -1;
      if (i + 1 < repeats || restore) w_.imageCommand(CM_UNDO);
    }
    return best;
  }

  // The 8-bit display image of a 24-bit preview frame: the fixed palette and nearest-colour matching.
  double displayPath(int repeats) {
    const int bits = w_.displayBits_;
    const bool preview = w_.state_.previewOn != 0;
    w_.displayBits_ = 8;
    w_.state_.previewOn = 1;
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
      LARGE_INTEGER start, end;
      QueryPerformanceCounter(&start);
      w_.buildDisplayImage();
      QueryPerformanceCounter(&end);
      const double ms = 1000.0 * seconds(start, end);
      if (ms < best) best = ms;
    }
    const bool built = w_.display_.bmh && w_.display_.bmh->biBitCount == 8;
    w_.displayBits_ = bits;
    w_.state_.previewOn = preview ? 1 : 0;
    w_.buildDisplayImage();
    return built ? best : -1;
  }

  void command(int id) { w_.command(id); }
  void brightness(LONG percent) {
    w_.ops_.brightnessRequest = percent;
    w_.imageRequestStep();
  }
  void colour(LONG red, LONG green, LONG blue) {
    w_.ops_.colourRequested = true;
    w_.ops_.red = red;
    w_.ops_.green = green;
    w_.ops_.blue = blue;
    w_.imageRequestStep();
  }
  void resize(LONG width, LONG height) {
    w_.ops_.resizeRequested = true;
    w_.ops_.resizeWidth = width;
    w_.ops_.resizeHeight = height;
    w_.imageRequestStep();
  }
  LONG bits() const { return w_.current_.bmh ? w_.current_.bmh->biBitCount : 0; }
  LONG width() const { return w_.current_.bmh ? w_.current_.bmh->biWidth : 0; }
  LONG height() const { return w_.current_.bmh ? w_.current_.bmh->biHeight : 0; }

 private:
  TBmpViewWindow& w_;
};

}  // namespace viewer

namespace {

constexpr int kRepeats = 5;
constexpr double kDisplayGoalMs = 2, kOperationGoalMs = 20;

void row(const char* name, double ms, double goal, int& failures) {
  if (ms < 0) {
    std::printf("  %-34s failed\n", name);
    ++failures;
    return;
  }
  std::printf("  %-34s %8.2f ms   goal < %2.0f ms   %s\n", name, ms, goal, ms < goal ? "met" : "MISSED");
}

// On the 640 x 480 24-bit frame the preview left in the window: the display path during preview,
// then, with the preview stopped, every picture operation.
int pictureTimes() {
  int failures = 0;
  viewer::Environment environment;
  viewer::TBmpViewApp app(GetModuleHandleA(nullptr), environment);
  app.frame().setQuitOnDestroy(false);
  if (!app.start("", SW_SHOWNORMAL)) return 1;
  viewer::TBmpViewWindow& window = *app.window();
  for (int i = 0; i < 20 && window.idleAction(); ++i) pump();
  if (!window.state().cameraPowered) return 1;
  const HWND frame = app.frame().handle();
  SendMessageA(frame, WM_COMMAND, CM_RES_FULL, 0);
  if (window.settings()[VIEWER_VALUE("Format")] == 1) SendMessageA(frame, WM_COMMAND, CM_COLOUR_MODE, 0);
  if (!window.state().previewOn) SendMessageA(frame, WM_COMMAND, CM_PREVIEW, 0);
  for (int i = 0; i < 5; ++i) {
    window.idleAction();
    pump();
  }
  viewer::ViewerBench bench(window);
  std::printf("\nms, best of %d, on a %ld x %ld %ld-bit camera frame\n", kRepeats, bench.width(), bench.height(),
              bench.bits());
  if (bench.width() != 640 || bench.height() != 480 || bench.bits() != 24) return 1;
  row("8-bit display during preview", bench.displayPath(kRepeats * 4), kDisplayGoalMs, failures);

  SendMessageA(frame, WM_COMMAND, CM_PREVIEW, 0);  // the preview stops; the last frame stays
  pump();
  struct Operation {
    const char* name;
    std::function<void()> step;
  };
  const Operation operations[] = {
      {"sharpen", [&] { bench.command(CM_SHARPEN); }},
      {"smooth", [&] { bench.command(CM_SMOOTH); }},
      {"emboss", [&] { bench.command(CM_EMBOSS); }},
      {"kodalith", [&] { bench.command(CM_KODALITH); }},
      {"trace", [&] { bench.command(CM_TRACE); }},
      {"negative", [&] { bench.command(CM_NEGATIVE); }},
      {"histobrighten", [&] { bench.command(CM_HISTOBRIGHTEN); }},
      {"brightness +20%", [&] { bench.brightness(20); }},
      {"colour adjust 120/100/80%", [&] { bench.colour(120, 100, 80); }},
      {"flip", [&] { bench.command(CM_FLIP); }},
      {"mirror", [&] { bench.command(CM_MIRROR); }},
      {"rotate clockwise", [&] { bench.command(CM_ROTATE_CW); }},
      {"rotate anticlockwise", [&] { bench.command(CM_ROTATE_CCW); }},
      {"resize to 800 x 600", [&] { bench.resize(800, 600); }},
      {"resize to 320 x 240", [&] { bench.resize(320, 240); }},
      {"colour to black and white", [&] { bench.command(CM_COLOUR_TO_BW); }},
  };
  for (const Operation& operation : operations)
    row(operation.name, bench.time(operation.step, kRepeats, true), kOperationGoalMs, failures);
  // The palette conversions in a chain, each from the picture the one before left.
  row("16M colours to 256 (from 24-bit)", bench.time([&] { bench.command(CM_16M_TO_256); }, kRepeats, false),
      kOperationGoalMs, failures);
  row("256 colours to 16", bench.time([&] { bench.command(CM_256_TO_16); }, kRepeats, true), kOperationGoalMs,
      failures);
  row("256 colours to 16M", bench.time([&] { bench.command(CM_TO_16M); }, kRepeats, true), kOperationGoalMs, failures);
  row("256 colours to 2", bench.time([&] { bench.command(CM_256_TO_2); }, kRepeats, false), kOperationGoalMs, failures);
  row("2 colours to 256", bench.time([&] { bench.command(CM_2_TO_256); }, kRepeats, false), kOperationGoalMs, failures);

  window.state().configChanged = 0;
  window.state().imageSaved = 1;
  SendMessageA(frame, WM_CLOSE, 0, 0);
  pump();
  return failures;
}

}  // namespace

int main() {
  const Mode modes[] = {{"640 x 480, 24-bit colour", 0, 0, CM_RES_FULL},
                        {"640 x 480, 8-bit grey", 0, 1, CM_RES_FULL},
                        {"320 x 240, 24-bit colour", 1, 0, CM_RES_HALF},
                        {"320 x 240, 8-bit grey", 1, 1, CM_RES_HALF}};
  std::printf("frames a second, best of %d rounds of %d frames each, taken in turns\n", kRounds, kFrames);
  std::printf("%-26s %12s %16s %8s\n", "mode", "bare read", "viewer preview", "ratio");
  int failures = 0;
  for (const Mode& mode : modes) {
    const Rates rates = measure(mode);
    if (rates.bare <= 0 || rates.shown <= 0) {
      std::printf("%-26s no camera\n", mode.name);
      ++failures;
      continue;
    }
    std::printf("%-26s %12.1f %16.1f %7.0f%%\n", mode.name, rates.bare, rates.shown, 100.0 * rates.shown / rates.bare);
  }
  failures += pictureTimes();
  return failures ? 1 : 0;
}
