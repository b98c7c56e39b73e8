// The viewer's preview loop against a bare frame-read loop on the same unpaced virtual camera and
// the same acquired library, in one run: frames a second of each and the viewer's share of the bare rate, at 640 x 480
// and 320 x 240 in 24-bit colour and 8-bit grey. The viewer runs as the program does: its window, its idle step, and
// the message loop's painting after every frame. scripts/bench viewer sets up the camera (plugged in at position 0) and
// the device provider before running it.
#include <windows.h>

#include <cstdio>

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
  return failures ? 1 : 0;
}
