// The viewer's modeless panels: the camera control panel in a compact (`GpioLessDialog`) and a
// full (`GpioDialog`) variant, only one of them open at a time, and the colour control panel
// (`ColorDialog`). Every change goes to the camera at once, into the viewer's settings, and marks
// the configuration changed. `ViewerPanels` owns them for the main window: it opens and closes
// them, carries out their requests at the idle step and keeps their live readouts up to date.
#pragma once
#include <windows.h>

#include "dialog.h"
#include "messages.h"
#include "sliders.h"
#include "view_io.h"
#include "viewer_state.h"

namespace viewer {

// What the panels work on: the main window's settings and state, its boxes, and the owner window.
struct PanelContext {
  TQRViewIO& io;
  ViewerState& state;
  const ui::Messages& messages;
  HWND owner = nullptr;
};

// What a panel's refresh updates (none: the whole first set-up).
enum PanelRefresh : unsigned {
  kRefreshResolution = 1,
  kRefreshFormat = 2,
  kRefreshQuality = 4,
  kRefreshGainShutter = 8,
  kRefreshBalance = 16,
  kRefreshSaturation = 32,
  kRefreshAll = 63,
};

class ViewerPanels;

// The controls both camera panels have: stills, preview and redraw, the three lists, sharpness,
// the stored position.
class CameraPanel : public ui::Dialog {
 public:
  CameraPanel(HINSTANCE resources, int templateId, ViewerPanels& panels);
  // Runs the set-up again for `reasons` only.
  void refresh(unsigned reasons);
  // Keeps the panel's top and left in "Dialog Top"/"Dialog Left" and destroys it.
  void close();
  bool isOpen() const { return hwnd_ != nullptr; }

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
  virtual void setUp(unsigned reasons) = 0;
  virtual void scrolled(int id, WPARAM request) = 0;
  virtual bool variantCommand(int id, int code) = 0;

  LONG& value(profiles::ValueId id);
  void showSlider(const camui::Slider& slider);
  // The slider's bar moved as `request` asks: the setting, the field and the camera follow.
  void moveSlider(const camui::Slider& slider, WPARAM request);
  void fillSizesAndFormats();
  void showSizeAndFormat(unsigned reasons);
  void fillQuality();

  ViewerPanels& panels_;
  PanelContext& context_;
};

class GpioLessDialog : public CameraPanel {
 public:
  GpioLessDialog(HINSTANCE resources, ViewerPanels& panels);

 protected:
  void setUp(unsigned reasons) override;
  void scrolled(int id, WPARAM request) override;
  bool variantCommand(int id, int code) override;

 private:
  const camui::Slider& brightness();
};

class GpioDialog : public CameraPanel {
 public:
  GpioDialog(HINSTANCE resources, ViewerPanels& panels);
  // The automatic gain's gain and shutter, as the camera has them now.
  void showLiveGainAndShutter(LONG gain, LONG shutter);

 protected:
  void setUp(unsigned reasons) override;
  void scrolled(int id, WPARAM request) override;
  bool variantCommand(int id, int code) override;

 private:
  void updateShutterDisplay();
};

class ColorDialog : public ui::Dialog {
 public:
  ColorDialog(HINSTANCE resources, ViewerPanels& panels);
  void refresh(unsigned reasons);
  bool isOpen() const { return hwnd_ != nullptr; }
  // Keeps the position in "Color Dialog Top"/"Color Dialog Left" and destroys the panel.
  void close();

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  LONG& value(profiles::ValueId id);
  void showBalances();
  void manualWhiteBalance();

  ViewerPanels& panels_;
  PanelContext& context_;
  LONG keptRed_ = 0, keptBlue_ = 0, keptSaturation_ = 0;
};

class ViewerPanels {
 public:
  ViewerPanels(HINSTANCE resources, PanelContext context);
  ~ViewerPanels();
  void setOwner(HWND owner) { context_.owner = owner; }
  PanelContext& context() { return context_; }

  // Commands 555 and 556: open or close the chosen camera panel variant, the colour panel.
  void toggleCameraPanel();
  void toggleColourPanel();
  // Asks the open panels to refresh for `reasons` at the next idle step.
  void requestRefresh(unsigned reasons) {
    if (openCameraPanel() || colour_.isOpen()) refreshRequest_ |= reasons;
  }
  // The idle step's panel work: variant switches, colour-panel toggles, refreshes. True when
  // something was done.
  bool idleStep();
  // After every display update: the automatic gain's live values, the white-balance tracking.
  void displayUpdated();
  // Keeps the open panels' positions in the settings.
  void storePositions();
  // Closes every panel, keeping its position (power off).
  void closeAll();

  bool compactChosen() const { return compactChosen_; }
  GpioLessDialog& compact() { return compact_; }
  GpioDialog& full() { return full_; }
  ColorDialog& colour() { return colour_; }
  CameraPanel* openCameraPanel();

  // The panels' own requests, carried out by the idle step.
  void requestVariantSwitch() { switchRequest_ = true; }
  void requestColourToggle() { colourToggleRequest_ = true; }
  void colourSaturationChanged();   // the compact panel changed "Saturation"
  void compactSaturationChanged();  // the colour panel changed "Saturation"

  // The position a panel of `width` x `height` is moved to for a stored `left`, `top`: pulled
  // into [`least`, screen - size]; false when both are 0 (the template's position is kept).
  static bool placement(LONG& left, LONG& top, LONG width, LONG height, LONG least);
  // Stores `panel`'s top-left into the two values, marking the configuration changed on a move.
  void keepPosition(HWND panel, profiles::ValueId left, profiles::ValueId top);

 private:
  void openCameraVariant();

  PanelContext context_;
  GpioLessDialog compact_;
  GpioDialog full_;
  ColorDialog colour_;
  bool compactChosen_ = true;
  bool switchRequest_ = false;
  bool colourToggleRequest_ = false;
  unsigned refreshRequest_ = 0;
  LONG shownGain_ = -1, shownShutter_ = -1;
};

}  // namespace viewer
