// The viewer's application and main window.
//
// TBmpViewWindow is the client window inside the frame (tool bar at the top, status bar at the
// bottom). All camera work happens in the user-interface thread: commands and the 333 ms
// housekeeping timer only set request flags, and the message loop's idle step (`idleAction`)
// carries them out one unit at a time (camera_session.cpp).
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "camera_info.h"
#include "image_ops.h"
#include "messages.h"
#include "panels.h"
#include "profile_dialogs.h"
#include "vic32.h"
#include "view_io.h"
#include "viewer_state.h"
#include "window.h"

namespace viewer {

// What the viewer takes from the system for its timing and sound; tests give their own clock and
// timer so that time-driven behaviour runs without waiting.
class Environment {
 public:
  virtual ~Environment() = default;
  virtual DWORD now();                                         // timeGetTime
  virtual void pause(DWORD ms);                                // Sleep
  virtual bool startTimer(HWND window, UINT_PTR id, UINT ms);  // SetTimer
  virtual void stopTimer(HWND window, UINT_PTR id);            // KillTimer
  virtual void playCaptureSound();                             // camera1.wav beside the program, asynchronously
  virtual int displayBits();                                   // the screen's bits per pixel (GetDeviceCaps BITSPIXEL)
};

constexpr UINT_PTR kHousekeepingTimer = 1;
constexpr UINT kHousekeepingMs = 333;
// The grab loop's bound besides its 65,535 calls: a camera that stops answering must not hold the
// window for minutes.
constexpr DWORD kGrabTimeLimitMs = 2000;
constexpr const char kCaption[] = "QR3Viewer";

// The frame rate as the status bar shows it: an integer part and a tenth.
struct Rate {
  LONG whole = 0, tenth = 0;
};

class TBmpViewWindow;

// The frame: menu, tool bar, status bar, and the main window as its client. Commands, menu
// set-up, palette and power messages go to the main window.
class TBmpViewFrame : public ui::FrameWindow {
 public:
  TBmpViewFrame() : ui::FrameWindow(kCaption, false) {}
  void setViewer(TBmpViewWindow* viewer) { viewer_ = viewer; }
  void layout();

 protected:
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  TBmpViewWindow* viewer_ = nullptr;
};

class TBmpViewWindow : public ui::Window, public profiles::ProfileRequests {
 public:
  TBmpViewWindow(HINSTANCE resources, Environment& environment, const std::string& commandLine);
  ~TBmpViewWindow() override;

  virtual void Paint(HDC dc);
  bool idleAction() override { return IdleAction(); }
  virtual bool IdleAction();
  bool canClose() override { return CanClose(); }
  virtual bool CanClose();

  // Makes the window in `frame` with its tool bar and status bar (start-up step 6).
  bool create(TBmpViewFrame& frame);
  void layoutBars();  // after the frame's size changed
  HWND toolBar() const { return toolBar_; }
  HWND statusBar() const { return statusBar_; }

  // The frame's messages for the main window.
  void command(int id);
  void initMenu(HMENU popup);
  LRESULT powerBroadcast(WPARAM event);
  void paletteChanged(HWND changedBy);
  bool realisePalette();

  bool commandEnabled(int id) const;
  bool commandChecked(int id) const;

  const ViewerState& state() const { return state_; }
  ViewerState& state() { return state_; }
  TQRViewIO& settings() { return io_; }
  const ImageDescriptor& currentImage() const { return current_; }
  const ImageDescriptor& displayImage() const { return display_; }
  const std::string& shownStatus() const { return shownStatus_; }
  Rate currentRate() const { return current_rate_; }
  Rate peakRate() const { return peak_rate_; }
  int displayBits() const { return displayBits_; }
  const ImageDescriptor& undoImage() const { return undo_; }
  const ImageOps& imageOps() const { return ops_; }
  const camui::CameraConnection& connection() const { return connection_; }
  ViewerPanels& panels() { return panels_; }

  // ProfileRequests: the profile manager's requests, carried out by the next idle step.
  void saveProfileRequested() override { state_.profileSaveRequest = 1; }
  void loadProfileRequested() override { state_.profileLoadRequest = 1; }
  void factoryDefaultsRequested() override { state_.profileLoadRequest = 2; }

  // The housekeeping tick (WM_TIMER of kHousekeepingTimer).
  void housekeepingTick();

 protected:
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  friend class ViewerBench;  // times the display path and the picture operations alone

  // The camera session (camera_session.cpp).
  void cameraStart();
  void powerOn();
  void powerOff();
  void applySettings();
  bool pushButtonStep();
  void grab();
  void frameRead();
  void displayUpdate();
  void cameraLost();
  bool keepUndoCopy();  // false when there is a picture but no copy could be made
  void buildDisplayImage();
  void freeDisplayImage();
  void reportError();
  void playCaptureSound();
  void setStatus(const std::string& text);
  void setStatusUnlessFile(const std::string& text);
  // A camera box: the front end's caption, the beep only when sounds are on.
  int cameraMessage(const std::string& text, UINT style, bool owned = true);

  // The picture operations (image_ops.cpp).
  bool imageCommandEnabled(int id) const;
  void imageCommand(int id);
  bool imageRequestStep();  // the idle step's resize, brightness and colour requests
  void operate(LONG (TBmpViewWindow::*work)());
  LONG reallocateCurrent(LONG width, LONG height, LONG bits);
  void restoreFromUndo();
  void undo();
  void clearImage();
  void clipImage();
  void convertInto(int id);
  void inPlace(int id);
  LONG inPlaceWork();
  LONG rotateWork();
  LONG resizeWork();
  LONG colourWork();
  LONG clipWork();
  LONG flipWork();
  LONG mirrorWork();
  void leftButtonDown(int x, int y);
  void mouseMove(int x, int y);
  void leftButtonUp();
  void drawClipRectangle(HDC dc) const;
  void startDelayedTimer();
  void delayedTimerTick();
  HWND dialogOwner() const { return frame_ ? frame_->handle() : hwnd_; }

  // The window (main_window.cpp).
  void refreshCommandStates();
  void setButtonBitmap(int command, int bitmap);
  void updateScrollRange();
  bool applyScrollRange();  // false when the picture and client sizes are the ones already set
  void setScrollBar(int bar, int maximum, int position);
  void scroll(int bar, WPARAM request);
  void rightButton();
  void toggle(const char* name);
  void setLedFromSettings();
  void storeOnExit(const char* name);
  // Files and the clipboard (file_commands.cpp). saveImageAs is true once the picture is written.
  bool saveImageAs();
  void openFile();
  void openCommandLineFile();
  void copyToClipboard();
  void pasteFromClipboard();
  void printImage();  // print_commands.cpp
  void restorePrevious();
  HWND owner() const;
  void showCameraInfo();
  void refreshStatusBar();

  HINSTANCE resources_;
  Environment& environment_;
  ViewerState state_;
  struct IO : TQRViewIO {
    using TQRViewIO::TQRViewIO;
  } io_;
  ui::Messages messages_;
  TBmpViewFrame* frame_ = nullptr;
  HWND toolBar_ = nullptr;
  HWND statusBar_ = nullptr;
  std::vector<int> bitmapIndex_;  // tool-bar bitmap index of each bitmap resource (by position)
  std::vector<int> bitmapIds_;
  int powerBitmapShown_ = 811;
  LONG formatShown_ = 0;  // "Format" as the colour-mode button shows it
  bool timerRunning_ = false;
  int displayBits_ = 24;
  int screenWidth_ = 0, screenHeight_ = 0;

  ImageDescriptor current_ = {};
  ImageDescriptor undo_ = {};
  ImageDescriptor display_ = {};
  bool rebuildRequested_ = false;
  ImageOps ops_;
  int pendingOperation_ = 0;  // the command the in-place and conversion work carries out
  LONG rotation_ = 0;         // the direction of a rotation being made
  HPALETTE palette_ = nullptr;
  std::vector<DWORD> paletteColours_;  // the colours the palette was made from
  int whitenPaints_ = 0;
  SIZE lastImageSize_ = {}, lastClientSize_ = {};
  RECT scrollSizes_ = {-1, -1, -1, -1};  // picture and client size the scroll bars were set for
  std::string statusBarText_[2];
  std::vector<int> shownToolStates_;
  int scrollX_ = 0, scrollY_ = 0, scrollMaxX_ = 0, scrollMaxY_ = 0, stepX_ = 2, stepY_ = 2;
  bool updatingScrollBars_ = false;

  camui::CameraConnection connection_;
  std::string openDirectory_;  // where the open dialog starts ("File Location" at first)
  std::string shownStatus_;
  LONG frameCounter_ = 0;
  DWORD rateStart_ = 0;
  float bestFrameTime_ = 1000.0f;
  Rate current_rate_, peak_rate_;
  bool resumePreview_ = false, resumePowered_ = false;
  ViewerPanels panels_;
};

// The application: start-up in its order, the main window, the message loop.
class TBmpViewApp : public ui::Application {
 public:
  TBmpViewApp(HINSTANCE instance, Environment& environment);
  // Builds the main window; false when it could not be made. `commandLine` as WinMain has it.
  bool start(const std::string& commandLine, int show = SW_SHOWNORMAL);
  int run() { return Application::run(window_.get()); }
  TBmpViewWindow* window() const { return window_.get(); }
  TBmpViewFrame& frame() { return frame_; }

 private:
  Environment& environment_;
  TBmpViewFrame frame_;
  std::unique_ptr<TBmpViewWindow> window_;
};

// Moves packed rows of `delivered` pixels (as the camera fills a picture wider than it delivers)
// to the picture's rows, and blackens the columns beyond them.
void spreadNarrowRows(ImageDescriptor& image, LONG delivered);

// The command line as one file name: the arguments joined with single blanks, or "" when there
// are none or they need more than 260 characters with one more each.
std::string commandLineFile(const std::string& commandLine);

}  // namespace viewer
