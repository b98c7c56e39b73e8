// The source's own window (`TwainDialog`, dialog 565): a live preview, the camera's controls, an
// acquire button, and the camera's snapshot button, all driven by a one-shot multimedia timer
// whose ticks arrive as WM_TIMER on the panel's thread. Made modeless without an owner when an
// application enables the source with its user interface; destroyed at MSG_DISABLEDS (or
// MSG_CLOSEDS when the application skips that).
#pragma once
#include <windows.h>

#include "dialog.h"
#include "messages.h"
#include "one_shot_timer.h"
#include "preview_control.h"
#include "profile_dialogs.h"
#include "profile_tables.h"

namespace twain {

class TwainSource;

class TwainDialog : public ui::Dialog, private profiles::ProfileRequests {
 public:
  // The set-up's first timer, the preview's, and the one after an acquisition.
  static constexpr UINT kSetUpMs = 333, kPreviewMs = 50, kAfterAcquireMs = 1000;

  explicit TwainDialog(TwainSource& source);
  ~TwainDialog() override;

  // Creates the panel without an owner and shows it; null when it could not be made.
  HWND open();

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  // The profile manager's requests: loads wait for the next tick, saves happen at once.
  void saveProfileRequested() override;
  void loadProfileRequested() override { reloadRequest_ = 1; }
  void factoryDefaultsRequested() override { reloadRequest_ = 2; }

  LONG& setting(profiles::ValueId id);
  void placeWindow();
  // Arms the next tick; on failure the no-timer mode starts and the box says so.
  bool armTimer(UINT milliseconds, HWND boxOwner);

  void tick();
  void readCameraButton();
  void acquire();
  void previewButton();
  void showPreviewFrame();
  // A new preview frame from the camera, shown.
  void grabPreview();
  void repaintPreview();
  void manualWhiteBalance();
  void showCameraInformation();

  void fillLists();
  void refreshAll();
  void refreshShutterDisplay();
  void showBalances();
  void showGainAndShutter();

  void scrolled(int id, WPARAM request);
  void listChosen(int id);
  void toggled(int id);
  void rotationChosen(LONG rotate);

  TwainSource& source_;
  ui::Messages messages_;
  camui::OneShotTimer timer_;
  TBitmapControl preview_;
  bool previewRunning_ = false;
  bool noTimer_ = false;
  LONG latch_ = 0;
  int reloadRequest_ = 0;
};

}  // namespace twain
