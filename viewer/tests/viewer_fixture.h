// The viewer's main window in the test's process, against the virtual camera, with a clock and
// timer of the test's own: the housekeeping ticks are WM_TIMER messages the test sends, and the
// idle step runs when the test says. The test reads what a person would see: the status bar,
// the menu's check and enable states, the tool bar and the picture's pixels (WM_PRINTCLIENT).
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "main_window.h"
#include "modal_answerer.h"
#include "vcam_control.h"

namespace viewertest {

class TestEnvironment : public viewer::Environment {
 public:
  DWORD time = 100000;
  std::vector<DWORD> pauses;
  int sounds = 0;
  bool timerAvailable = true;
  DWORD advancePerRead = 0;  // how far the clock moves each time it is read
  DWORD now() override { return time += advancePerRead; }
  void pause(DWORD ms) override {
    pauses.push_back(ms);
    time += ms;
  }
  bool startTimer(HWND, UINT_PTR, UINT) override { return timerAvailable; }
  void stopTimer(HWND, UINT_PTR) override {}
  void playCaptureSound() override { ++sounds; }
  int bits = 24;  // the display's bits per pixel
  int displayBits() override { return bits; }
};

struct Pixel {
  int red, green, blue;
  bool operator==(const Pixel& other) const { return red == other.red && green == other.green && blue == other.blue; }
};

class Viewer : public qrtest::VirtualCameraTest {
 protected:
  void TearDown() override;

  void plugUsbCamera(DWORD deviceId = 0x0403, const char* serial = "SN-0001");
  // Builds the main window as the program does (hidden).
  void start(const std::string& commandLine = "");
  // Runs the idle step until it has no more work (at most `limit` steps); returns the steps run.
  int settle(int limit = 50);
  // Runs exactly `count` idle steps, each `msApart` later on the test clock.
  void steps(int count, DWORD msApart = 0);
  void ticks(int count);
  void command(int id);
  void close();  // WM_CLOSE to the frame
  bool open() const;

  std::string status() const;
  bool checked(int id);
  bool enabled(int id);
  bool toolChecked(int id) const;
  bool toolEnabled(int id) const;
  int toolBitmap(int id) const;  // the tool-bar bitmap index of a button
  Pixel pixel(int x, int y) const { return row(y).at(x); }
  std::vector<Pixel> row(int y) const;  // the client area's row y as painted

  viewer::TBmpViewWindow& window() const { return *app_->window(); }
  const viewer::ViewerState& state() const { return app_->window()->state(); }
  HWND frame() const { return app_->frame().handle(); }

  TestEnvironment environment_;
  // Every box the viewer raises is answered; one without a plan counts as unexpected and fails
  // the test.
  qrtest::ModalAnswerer answers_;
  std::unique_ptr<viewer::TBmpViewApp> app_;
};

// The status text begins with `prefix`.
::testing::AssertionResult statusBegins(const std::string& status, const std::string& prefix);

}  // namespace viewertest
