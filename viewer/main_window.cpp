// The viewer's application, frame and main window: start-up, the command set with its enabling
// and check rules, painting, scrolling and closing.
#include "main_window.h"

#include <commctrl.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstring>

#include "qrcamlib.h"
#include "quorelreg.h"
#include "viewer_ids.h"

namespace viewer {

namespace {

constexpr int kGap = 0;  // a gap in the tool-bar layout
constexpr int kStatusParts = 2;

struct ToolButton {
  int command;
  int bitmap;
  bool toggle;
};

// The tool bar, left to right.
const ToolButton kToolButtons[] = {
    {CM_FILE_OPEN, CM_FILE_OPEN, false},
    {CM_FILE_SAVE_AS, CM_FILE_SAVE_AS, false},
    {CM_FILE_PRINT, CM_FILE_PRINT, false},
    {kGap, 0, false},
    {CM_COPY, CM_COPY, false},
    {CM_PASTE, CM_PASTE, false},
    {CM_CLIP_AREA, CM_CLIP_AREA, false},
    {CM_UNDO, CM_UNDO, false},
    {kGap, 0, false},
    {CM_RES_DOUBLE, CM_RES_DOUBLE, true},
    {CM_RES_FULL, CM_RES_FULL, true},
    {CM_RES_HALF, CM_RES_HALF, true},
    {CM_RES_QUARTER, CM_RES_QUARTER, true},
    {kGap, 0, false},
    {CM_DELAYED_TIMER, CM_DELAYED_TIMER, false},
    {kGap, 0, false},
    {CM_COLOUR_MODE, IDB_COLOUR_MODE_RGB, false},
    {kGap, 0, false},
    {CM_PREVIEW, CM_PREVIEW, true},
    {CM_CAPTURE, CM_CAPTURE, false},
    {CM_REDRAW, CM_REDRAW, false},
    {kGap, 0, false},
    {CM_CAMERA_PANEL, CM_CAMERA_PANEL, false},
    {CM_COLOUR_PANEL, IDB_COLOUR_PANEL, false},
    {kGap, 0, false},
    {CM_POWER, IDB_POWER_OFF, false},
    {kGap, 0, false},
    {CM_HELP, CM_HELP, false},
};

// Every bitmap resource of the tool bar.
const int kToolBitmaps[] = {CM_FILE_OPEN,
                            CM_FILE_SAVE_AS,
                            CM_FILE_PRINT,
                            CM_COPY,
                            CM_PASTE,
                            CM_CLIP_AREA,
                            CM_UNDO,
                            CM_RES_DOUBLE,
                            CM_RES_FULL,
                            CM_RES_HALF,
                            CM_RES_QUARTER,
                            CM_DELAYED_TIMER,
                            IDB_COLOUR_MODE_RGB,
                            IDB_COLOUR_MODE_BW,
                            CM_PREVIEW,
                            CM_CAPTURE,
                            CM_REDRAW,
                            CM_CAMERA_PANEL,
                            IDB_COLOUR_PANEL,
                            IDB_POWER_ON,
                            IDB_POWER_OFF,
                            CM_HELP};


int resolutionOfCommand(int id) {
  for (int index = 0; index < kResolutionCount; ++index)
    if (kResolutionCommands[index] == id) return index;
  return -1;
}

// The preview rotation commands and their "Preview Rotate Flag" values.
struct RotationCommand {
  int command;
  LONG flag;
};
const RotationCommand kRotations[] = {
    {CM_NO_ROTATION, 0}, {CM_ROTATE_PLUS_90, 1}, {CM_ROTATE_MINUS_90, 2}, {CM_ROTATE_180, 4}};

// Commands that toggle a setting and mark the configuration changed.
struct ToggleCommand {
  int command;
  const char* value;
};
const ToggleCommand kToggles[] = {{CM_MIRROR_PREVIEW, "Mirror Durning Preview"},
                                  {CM_INVERT_PREVIEW, "Invert Durning Preview"},
                                  {CM_60HZ, "60Hz Power System"},
                                  {CM_NEGATIVE_IMAGE, "Negative Image"},
                                  {CM_LED, "LED Enable"},
                                  {CM_PREVIEW_BUTTON, "Preview Button Control Mode"},
                                  {CM_SOUND, "Sound Enable"},
                                  {CM_ASK_SAVE_CONFIG, "Save CFG on Exit"},
                                  {CM_ASK_SAVE_IMAGE, "Save Image on Exit"}};

const char* toggleValue(int id) {
  for (const ToggleCommand& toggle : kToggles)
    if (toggle.command == id) return toggle.value;
  return nullptr;
}

struct QualityCommand {
  int command;
  LONG quality;
};
const QualityCommand kQualities[] = {{CM_QUALITY_HIGH, 255}, {CM_QUALITY_MEDIUM, 128}, {CM_QUALITY_LOW, 0}};

std::string programDirectory() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  char* slash = std::strrchr(path, '\\');
  if (slash) slash[1] = 0;
  return path;
}

}  // namespace

DWORD Environment::now() { return timeGetTime(); }
int Environment::displayBits() {
  HDC screen = GetDC(nullptr);
  const int bits = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  return bits;
}
void Environment::pause(DWORD ms) { Sleep(ms); }
bool Environment::startTimer(HWND window, UINT_PTR id, UINT ms) { return SetTimer(window, id, ms, nullptr) != 0; }
void Environment::stopTimer(HWND window, UINT_PTR id) { KillTimer(window, id); }
void Environment::playCaptureSound() {
  static const std::string sound = programDirectory() + "camera1.wav";
  sndPlaySoundA(nullptr, 0);
  sndPlaySoundA(sound.c_str(), SND_ASYNC | SND_NODEFAULT);
}

std::string commandLineFile(const std::string& commandLine) {
  std::vector<std::string> arguments;
  std::string argument;
  bool quoted = false, inArgument = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) arguments.push_back(argument);
      argument.clear();
      inArgument = false;
    } else {
      argument += c;
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(argument);
  std::size_t length = 0;
  for (const std::string& a : arguments) length += a.size() + 1;
  if (arguments.empty() || length > 260) return {};
  std::string joined;
  for (const std::string& a : arguments) joined += (joined.empty() ? "" : " ") + a;
  return joined;
}

// The frame.

void TBmpViewFrame::layout() {
  if (viewer_) viewer_->layoutBars();
}

LRESULT TBmpViewFrame::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (viewer_ && viewer_->handle()) {
    switch (message) {
      case WM_SIZE:
        viewer_->layoutBars();
        return 0;
      case WM_COMMAND:
        viewer_->command(LOWORD(wParam));
        return 0;
      case WM_INITMENUPOPUP:
        viewer_->initMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
      case WM_POWERBROADCAST:
        return viewer_->powerBroadcast(wParam);
      case WM_PALETTECHANGED:
        viewer_->paletteChanged(reinterpret_cast<HWND>(wParam));
        return 0;
      case WM_QUERYNEWPALETTE:
        return viewer_->realisePalette();
    }
  }
  return FrameWindow::handleMessage(message, wParam, lParam);
}

// The main window.

TBmpViewWindow::TBmpViewWindow(HINSTANCE resources, Environment& environment, const std::string& commandLine)
    : resources_(resources),
      environment_(environment),
      io_(state_),
      messages_(
          kCaption, [this] { return io_[VIEWER_VALUE("Sound Enable")] != 0; },
          [](UINT) { MessageBeep(MB_ICONEXCLAMATION); }),
      panels_(resources, {io_, state_, messages_}) {
  // Start-up steps 2 to 4: the state, the factory values, the profile check.
  state_ = ViewerState();
  io_[VIEWER_VALUE("LED Enable")] = 1;
  io_[VIEWER_VALUE("LED Mode")] = 3;
  io_.settings.currentProfile = profiles::readCurrentProfile(profiles::kViewerLayout.key);
  io_.loadFactoryDefaults();
  io_.profileCheck();
  // The display and the screen.
  displayBits_ = environment_.displayBits();
  screenWidth_ = GetSystemMetrics(SM_CXSCREEN);
  screenHeight_ = GetSystemMetrics(SM_CYSCREEN);
  state_.statusText.clear();
  // The default printer: "name,driver,port", all three given.
  char device[80] = "";
  GetProfileStringA("windows", "device", "", device, sizeof device);
  std::string entry = device;
  int parts = 0;
  bool complete = true;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = entry.find(',', begin);
    const std::string part = entry.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
    if (part.empty()) complete = false;
    ++parts;
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  state_.defaultPrinterPresent = complete && parts == 3;
  state_.currentFileName = commandLineFile(commandLine);
  state_.fileFromCommandLine = !state_.currentFileName.empty();
}

TBmpViewWindow::~TBmpViewWindow() {
  if (timerRunning_ && hwnd_) environment_.stopTimer(hwnd_, kHousekeepingTimer);
  for (ImageDescriptor* image : {&current_, &undo_, &display_}) {
    if (image->bmh) freeimage(image);
    *image = {};
  }
  if (palette_) DeleteObject(palette_);
}

bool TBmpViewWindow::create(TBmpViewFrame& frame) {
  frame_ = &frame;
  if (!Window::create("QR3ViewerWindow", "", WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | WS_CLIPSIBLINGS, 0, 0, 0,
                      0, 0, frame.handle()))
    return false;
  // The housekeeping timer; without it there is no push button, delayed timer or automatic preview.
  timerRunning_ = environment_.startTimer(hwnd_, kHousekeepingTimer, kHousekeepingMs);
  if (!timerRunning_) {
    messages_.show(frame.handle(), "Out of Timers, SnapShot button may be inoperative", MB_ICONEXCLAMATION);
  } else {
    state_.autoPreviewPending = 1;
  }
  // The tool bar and the status bar.
  toolBar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0,
                             frame.handle(), nullptr, resources_, nullptr);
  if (toolBar_) {
    SendMessageA(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(toolBar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
    for (int bitmap : kToolBitmaps) {
      TBADDBITMAP add = {resources_, static_cast<UINT_PTR>(bitmap)};
      bitmapIds_.push_back(bitmap);
      bitmapIndex_.push_back(static_cast<int>(SendMessageA(toolBar_, TB_ADDBITMAP, 1, reinterpret_cast<LPARAM>(&add))));
    }
    std::vector<TBBUTTON> buttons;
    for (const ToolButton& tool : kToolButtons) {
      TBBUTTON button = {};
      if (tool.command == kGap) {
        button.fsStyle = TBSTYLE_SEP;
      } else {
        for (std::size_t i = 0; i < bitmapIds_.size(); ++i)
          if (bitmapIds_[i] == tool.bitmap) button.iBitmap = bitmapIndex_[i];
        button.idCommand = tool.command;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = tool.toggle ? TBSTYLE_CHECK : TBSTYLE_BUTTON;
      }
      buttons.push_back(button);
    }
    SendMessageA(toolBar_, TB_ADDBUTTONS, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageA(toolBar_, TB_AUTOSIZE, 0, 0);
  }
  statusBar_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                               frame.handle(), nullptr, resources_, nullptr);
  frame.setViewer(this);
  panels_.setOwner(frame.handle());
  layoutBars();
  refreshCommandStates();
  refreshStatusBar();
  return true;
}

void TBmpViewWindow::layoutBars() {
  if (!frame_ || !hwnd_) return;
  RECT area;
  GetClientRect(frame_->handle(), &area);
  int top = 0, bottom = area.bottom;
  if (toolBar_) {
    SendMessageA(toolBar_, TB_AUTOSIZE, 0, 0);
    RECT bar;
    GetWindowRect(toolBar_, &bar);
    top = bar.bottom - bar.top;
  }
  if (statusBar_) {
    SendMessageA(statusBar_, WM_SIZE, 0, 0);
    RECT bar;
    GetWindowRect(statusBar_, &bar);
    bottom -= bar.bottom - bar.top;
    const int widths[kStatusParts] = {area.right > 120 ? area.right - 120 : area.right / 2, -1};
    SendMessageA(statusBar_, SB_SETPARTS, kStatusParts, reinterpret_cast<LPARAM>(widths));
  }
  MoveWindow(hwnd_, 0, top, area.right, bottom > top ? bottom - top : 0, TRUE);
  updateScrollRange();
}

void TBmpViewWindow::refreshStatusBar() {
  if (!statusBar_) return;
  // Only what changed is sent: during preview the text changes once every ten frames.
  if (shownStatus_ != statusBarText_[0]) {
    statusBarText_[0] = shownStatus_;
    SendMessageA(statusBar_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(shownStatus_.c_str()));
  }
  std::string size;
  if (current_.bmh)
    size = ui::format("%d x %d", static_cast<int>(current_.bmh->biWidth), static_cast<int>(current_.bmh->biHeight));
  if (size != statusBarText_[1]) {
    statusBarText_[1] = size;
    SendMessageA(statusBar_, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(size.c_str()));
  }
}

void TBmpViewWindow::setButtonBitmap(int command, int bitmap) {
  if (command == CM_POWER) powerBitmapShown_ = bitmap;
  if (!toolBar_) return;
  int index = -1;
  for (std::size_t i = 0; i < bitmapIds_.size(); ++i)
    if (bitmapIds_[i] == bitmap) index = bitmapIndex_[i];
  const LRESULT position = SendMessageA(toolBar_, TB_COMMANDTOINDEX, command, 0);
  TBBUTTON button = {};
  if (index < 0 || position < 0 || !SendMessageA(toolBar_, TB_GETBUTTON, position, reinterpret_cast<LPARAM>(&button)))
    return;
  if (button.iBitmap == index) return;
  // Comctl32 4.00 has no TB_CHANGEBITMAP: the button is made again with the other picture.
  button.iBitmap = index;
  SendMessageA(toolBar_, TB_DELETEBUTTON, position, 0);
  SendMessageA(toolBar_, TB_INSERTBUTTON, position, reinterpret_cast<LPARAM>(&button));
}

bool TBmpViewWindow::commandEnabled(int id) const {
  const ViewerState& s = state_;
  if (isImageCommand(id)) return imageCommandEnabled(id);
  if (resolutionOfCommand(id) >= 0) return s.cameraPowered != 0;
  switch (id) {
    case CM_COLOUR_MODE:
    case CM_CAMERA_PANEL:
    case CM_COLOUR_PANEL:
    case CM_NEGATIVE_IMAGE:
    case CM_CAPTURE:
    case CM_PREVIEW:
      return s.cameraPowered != 0;
    case CM_REDRAW:
      return !s.previewOn && s.frameReady;
    case CM_FILE_OPEN:
      return !s.previewOn;
    case CM_FILE_SAVE_AS:
    case CM_COPY:
      return !s.previewOn && current_.bmh;
    case CM_PASTE:
      return !s.previewOn && IsClipboardFormatAvailable(CF_DIB);
    case CM_FILE_PRINT:
      return !s.previewOn && current_.bmh && s.defaultPrinterPresent;
    case CM_QUALITY_MEDIUM:
    case CM_QUALITY_LOW: {
      const LONG resolution = io_[VIEWER_VALUE("Resolution")];
      return !(io_[VIEWER_VALUE("Format")] == 1 && (resolution == 2 || resolution == 4 || resolution == 6));
    }
  }
  return true;
}

bool TBmpViewWindow::commandChecked(int id) const {
  const ViewerState& s = state_;
  const int resolution = resolutionOfCommand(id);
  if (resolution >= 0) return io_[VIEWER_VALUE("Resolution")] == resolution;
  for (const RotationCommand& rotation : kRotations)
    if (rotation.command == id) return io_[VIEWER_VALUE("Preview Rotate Flag")] == rotation.flag;
  for (const QualityCommand& quality : kQualities)
    if (quality.command == id) return io_[VIEWER_VALUE("Image Quality")] == quality.quality;
  if (const char* value = toggleValue(id)) return io_.settings[io_.settings.find(value)] != 0;
  if (id == CM_POWER) return s.powerOnFlag != 0;
  if (id == CM_PREVIEW) return s.cameraPowered && s.previewOn;
  return false;
}

void TBmpViewWindow::initMenu(HMENU popup) {
  const int count = GetMenuItemCount(popup);
  for (int position = 0; position < count; ++position) {
    const UINT id = GetMenuItemID(popup, position);
    if (id == 0 || id == static_cast<UINT>(-1)) continue;  // separator or sub-menu
    EnableMenuItem(popup, position, MF_BYPOSITION | (commandEnabled(id) ? MF_ENABLED : MF_GRAYED));
    CheckMenuItem(popup, position, MF_BYPOSITION | (commandChecked(id) ? MF_CHECKED : MF_UNCHECKED));
  }
}

void TBmpViewWindow::refreshCommandStates() {
  if (!toolBar_) return;
  // The rules are worked out every time; the tool bar is told only of a change.
  const std::size_t count = sizeof kToolButtons / sizeof kToolButtons[0];
  shownToolStates_.resize(count, -1);
  for (std::size_t i = 0; i < count; ++i) {
    const ToolButton& tool = kToolButtons[i];
    if (tool.command == kGap) continue;
    int wanted = 0;
    if (commandEnabled(tool.command)) wanted |= TBSTATE_ENABLED;
    if (tool.toggle && commandChecked(tool.command)) wanted |= TBSTATE_CHECKED;
    if (wanted == shownToolStates_[i]) continue;
    const LRESULT state = SendMessageA(toolBar_, TB_GETSTATE, tool.command, 0);
    if (state < 0) continue;
    shownToolStates_[i] = wanted;
    const LRESULT next = (state & ~(TBSTATE_ENABLED | TBSTATE_CHECKED)) | wanted;
    if (next != state) SendMessageA(toolBar_, TB_SETSTATE, tool.command, MAKELPARAM(next, 0));
  }
}

void TBmpViewWindow::toggle(const char* name) {
  LONG& value = io_.settings[io_.settings.find(name)];
  value = value ? 0 : 1;
}

void TBmpViewWindow::storeOnExit(const char* name) {
  toggle(name);
  const LONG profile = profiles::readCurrentProfile(profiles::kViewerLayout.key);
  ExtRegSaveVal(profiles::kViewerLayout.key, profiles::profileKey(profile).c_str(), name,
                io_.settings[io_.settings.find(name)]);
}

void TBmpViewWindow::command(int id) {
  ViewerState& s = state_;
  if (!commandEnabled(id)) return;
  if (isImageCommand(id)) {
    imageCommand(id);
    refreshCommandStates();
    return;
  }
  const int resolution = resolutionOfCommand(id);
  if (resolution >= 0) {
    io_[VIEWER_VALUE("Resolution")] = resolution;
    s.configChanged = 1;
    panels_.requestRefresh(kRefreshResolution);
  }
  for (const RotationCommand& rotation : kRotations) {
    if (rotation.command == id) {
      io_[VIEWER_VALUE("Preview Rotate Flag")] = rotation.flag;
      s.configChanged = 1;
    }
  }
  for (const QualityCommand& quality : kQualities) {
    if (quality.command == id) {
      io_[VIEWER_VALUE("Image Quality")] = quality.quality;
      QRSetQuality(quality.quality);
      s.configChanged = 1;
      panels_.requestRefresh(kRefreshQuality);
    }
  }
  switch (id) {
    case CM_EXIT:
      if (frame_) PostMessageA(frame_->handle(), WM_CLOSE, 0, 0);
      break;
    case CM_MIRROR_PREVIEW:
    case CM_INVERT_PREVIEW:
      toggle(toggleValue(id));
      s.configChanged = 1;
      break;
    case CM_COLOUR_MODE:
      io_[VIEWER_VALUE("Format")] = 1 - io_[VIEWER_VALUE("Format")];
      s.configChanged = 1;
      panels_.requestRefresh(kRefreshFormat);
      break;
    case CM_CAMERA_PANEL:
      panels_.toggleCameraPanel();
      break;
    case CM_COLOUR_PANEL:
      panels_.toggleColourPanel();
      break;
    case CM_POWER:
      if (s.powerOnFlag) {
        s.powerOnFlag = 0;
        powerOff();
      } else {
        s.powerOnFlag = 1;
        s.initRequested = 1;
      }
      break;
    case CM_60HZ:
      toggle("60Hz Power System");
      QRSet60HzEn(io_[VIEWER_VALUE("60Hz Power System")]);
      io_[VIEWER_VALUE("Frequency")] = QRGetScanFreq();
      QRSetScanFreq(io_[VIEWER_VALUE("Frequency")]);
      s.configChanged = 1;
      break;
    case CM_NEGATIVE_IMAGE:
      toggle("Negative Image");
      QRSetNegativeEn(io_[VIEWER_VALUE("Negative Image")]);
      break;
    case CM_CAPTURE:
      if (s.previewOn)
        s.previewOn = 0;  // the running preview ends with a capture
      else
        s.snapshotRequested = 1;
      break;
    case CM_PREVIEW:
      s.previewOn = !s.previewOn;
      break;
    case CM_REDRAW:
      s.redrawRequested = 1;
      break;
    case CM_CONFIG_MANAGER: {
      profiles::CFGSaveDialog dialog(resources_, profiles::kViewerLayout.key, messages_, kCaption, *this);
      dialog.runModal(frame_ ? frame_->handle() : hwnd_);
      break;
    }
    case CM_LED:
      toggle("LED Enable");
      setLedFromSettings();
      s.configChanged = 1;
      break;
    case CM_PREVIEW_BUTTON:
    case CM_SOUND:
      toggle(toggleValue(id));
      break;
    case CM_ASK_SAVE_CONFIG:
    case CM_ASK_SAVE_IMAGE:
      storeOnExit(toggleValue(id));
      break;
    case CM_HELP:
      ui::showHelp(frame_ ? frame_->handle() : hwnd_, "QRVIEW32.HLP", HELP_FINDER, 0);
      break;
    case CM_ABOUT:
      showCameraInfo();
      break;
    case CM_FILE_OPEN:
      openFile();
      break;
    case CM_FILE_SAVE_AS:
      saveImageAs();
      break;
    case CM_COPY:
      copyToClipboard();
      break;
    case CM_PASTE:
      pasteFromClipboard();
      break;
    case CM_FILE_PRINT:
      printImage();
      break;
    case CM_MMX:
      QRSetMMXEn(QRGetMMXEn() ? 0 : 1);
      s.mmxFlag = QRGetMMXEn();
      break;
  }
  refreshCommandStates();
}

void TBmpViewWindow::showCameraInfo() {
  camui::CameraInfoContent content;
  content.caption = "SentrioV2 Camera Information";
  content.versionLine = ui::format("QR3Viewer Version %d.%d.%d.%d", 6, 9, 1, 79);
  content.connection = connection_;
  content.connection.found = state_.cameraFound != 0;
  content.mmxCapable = state_.mmxFlag != 0;
  camui::AboutDlg dialog(resources_, content);
  dialog.runModal(frame_ ? frame_->handle() : hwnd_);
}

LRESULT TBmpViewWindow::powerBroadcast(WPARAM event) {
  if (event == PBT_APMSUSPEND) {
    resumePreview_ = state_.previewOn != 0;
    resumePowered_ = state_.cameraPowered != 0;
    powerOff();
    refreshCommandStates();
  } else if (event == PBT_APMRESUMESUSPEND) {
    if (resumePowered_) state_.initRequested = 1;
    state_.previewOn = resumePreview_;
  }
  return TRUE;
}

bool TBmpViewWindow::realisePalette() {
  if (!palette_ || !hwnd_) return false;
  HDC dc = GetDC(hwnd_);
  HPALETTE old = SelectPalette(dc, palette_, FALSE);
  const UINT changed = RealizePalette(dc);
  SelectPalette(dc, old, TRUE);
  ReleaseDC(hwnd_, dc);
  if (changed) InvalidateRect(hwnd_, nullptr, FALSE);
  return changed != 0;
}

void TBmpViewWindow::paletteChanged(HWND changedBy) {
  if (frame_ && changedBy != frame_->handle() && changedBy != hwnd_) realisePalette();
}

void TBmpViewWindow::Paint(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  const ImageDescriptor& image = display_.bmh ? display_ : current_;
  if (!image.bmh) {
    PatBlt(dc, 0, 0, client.right, client.bottom, WHITENESS);
    return;
  }
  const int width = image.bmh->biWidth, height = image.bmh->biHeight;
  HPALETTE old = nullptr;
  if (image.colors > 0) {
    // A new palette only when the colours changed (a preview frame on an 8-bit display keeps them).
    const DWORD* colours = reinterpret_cast<const DWORD*>(image.palette);
    if (!palette_ || paletteColours_.size() != static_cast<std::size_t>(image.colors) ||
        !std::equal(paletteColours_.begin(), paletteColours_.end(), colours)) {
      if (palette_) DeleteObject(palette_);
      paletteColours_.assign(colours, colours + image.colors);
      std::vector<BYTE> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * image.colors);
      auto* logical = reinterpret_cast<LOGPALETTE*>(block.data());
      logical->palVersion = 0x300;
      logical->palNumEntries = static_cast<WORD>(image.colors);
      for (int i = 0; i < image.colors; ++i) {
        logical->palPalEntry[i] = {image.palette[i].rgbRed, image.palette[i].rgbGreen, image.palette[i].rgbBlue, 0};
      }
      palette_ = CreatePalette(logical);
    }
    if (palette_) {
      old = SelectPalette(dc, palette_, FALSE);
      RealizePalette(dc);
    }
  }
  SetDIBitsToDevice(dc, -scrollX_, -scrollY_, width, height, 0, 0, 0, height, image.ibuff,
                    reinterpret_cast<const BITMAPINFO*>(image.bmh), DIB_RGB_COLORS);
  if (old) SelectPalette(dc, old, TRUE);
  if (ops_.clipShown) drawClipRectangle(dc);
  const SIZE imageSize = {width, height}, clientSize = {client.right, client.bottom};
  if (imageSize.cx != lastImageSize_.cx || imageSize.cy != lastImageSize_.cy || clientSize.cx != lastClientSize_.cx ||
      clientSize.cy != lastClientSize_.cy) {
    whitenPaints_ = 2;
    lastImageSize_ = imageSize;
    lastClientSize_ = clientSize;
  }
  if (whitenPaints_ > 0) {
    --whitenPaints_;
    const int right = width - scrollX_, bottom = height - scrollY_;
    if (right < client.right) PatBlt(dc, right, 0, client.right - right, client.bottom, WHITENESS);
    if (bottom < client.bottom) PatBlt(dc, 0, bottom, client.right, client.bottom - bottom, WHITENESS);
  }
}

// A bar that appears or goes changes the client area, and its WM_SIZE comes back here at once: the
// nested pass is skipped and the outer one goes round again on the new client area instead, so
// each bar is set once per change (a frame change costs a window-system round trip) and drawn once.
void TBmpViewWindow::updateScrollRange() {
  if (!hwnd_ || updatingScrollBars_) return;
  updatingScrollBars_ = true;
  int passes = 0;
  while (passes < 3 && applyScrollRange()) ++passes;
  updatingScrollBars_ = false;
  // The bars were set without drawing them: the frame is painted once, with the client area.
  if (passes > 0) RedrawWindow(hwnd_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

bool TBmpViewWindow::applyScrollRange() {
  const ImageDescriptor& image = display_.bmh ? display_ : current_;
  RECT client;
  GetClientRect(hwnd_, &client);
  const int width = image.bmh ? image.bmh->biWidth : 0, height = image.bmh ? image.bmh->biHeight : 0;
  // Every frame comes here: the scroll bars change only with the picture's or the window's size.
  const RECT sizes = {width, height, client.right, client.bottom};
  if (sizes.left == scrollSizes_.left && sizes.top == scrollSizes_.top && sizes.right == scrollSizes_.right &&
      sizes.bottom == scrollSizes_.bottom)
    return false;
  scrollSizes_ = sizes;
  // 16 pixels are allowed for each scroll bar.
  const int excessX = width > client.right + 16 ? width - client.right - 16 : 0;
  const int excessY = height > client.bottom + 16 ? height - client.bottom - 16 : 0;
  const int wholeX = width > client.right ? width - client.right : 0;
  const int wholeY = height > client.bottom ? height - client.bottom : 0;
  scrollMaxX_ = excessX ? wholeX : 0;
  scrollMaxY_ = excessY ? wholeY : 0;
  stepX_ = excessX / 10 > 2 ? excessX / 10 : 2;
  stepY_ = excessY / 10 > 2 ? excessY / 10 : 2;
  if (scrollX_ > scrollMaxX_) scrollX_ = scrollMaxX_;
  if (scrollY_ > scrollMaxY_) scrollY_ = scrollMaxY_;
  // Bars that appear or go together do so in one frame change.
  const LONG style = GetWindowLongA(hwnd_, GWL_STYLE);
  const bool showX = scrollMaxX_ > 0, showY = scrollMaxY_ > 0;
  const bool shownX = (style & WS_HSCROLL) != 0, shownY = (style & WS_VSCROLL) != 0;
  if (showX != shownX && showY != shownY && showX == showY) {
    ShowScrollBar(hwnd_, SB_BOTH, showX);
  } else {
    if (showX != shownX) ShowScrollBar(hwnd_, SB_HORZ, showX);
    if (showY != shownY) ShowScrollBar(hwnd_, SB_VERT, showY);
  }
  setScrollBar(SB_HORZ, scrollMaxX_, scrollX_);
  setScrollBar(SB_VERT, scrollMaxY_, scrollY_);
  return true;
}

void TBmpViewWindow::setScrollBar(int bar, int maximum, int position) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_POS;
  info.nMax = maximum;
  info.nPos = position;
  SetScrollInfo(hwnd_, bar, &info, FALSE);
}

void TBmpViewWindow::scroll(int bar, WPARAM request) {
  int& position = bar == SB_HORZ ? scrollX_ : scrollY_;
  const int maximum = bar == SB_HORZ ? scrollMaxX_ : scrollMaxY_;
  const int step = bar == SB_HORZ ? stepX_ : stepY_;
  int wanted = position;
  switch (LOWORD(request)) {
    case SB_LINEUP:
      wanted -= step;
      break;
    case SB_LINEDOWN:
      wanted += step;
      break;
    case SB_PAGEUP:
      wanted -= step * 5;
      break;
    case SB_PAGEDOWN:
      wanted += step * 5;
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      wanted = static_cast<short>(HIWORD(request));
      break;
    case SB_TOP:
      wanted = 0;
      break;
    case SB_BOTTOM:
      wanted = maximum;
      break;
  }
  if (wanted < 0) wanted = 0;
  if (wanted > maximum) wanted = maximum;
  if (wanted == position) return;
  position = wanted;
  SetScrollPos(hwnd_, bar, position, TRUE);
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void TBmpViewWindow::rightButton() {
  if (ops_.clipShown && !state_.previewOn && current_.bmh)
    clipImage();
  else if (state_.cameraPowered && state_.settingsApplied)
    state_.previewOn = !state_.previewOn;
  refreshCommandStates();
}

bool TBmpViewWindow::CanClose() {
  ViewerState& s = state_;
  panels_.storePositions();
  if (frame_) {
    RECT frame;
    GetWindowRect(frame_->handle(), &frame);
    io_[VIEWER_VALUE("Main Window Left")] = frame.left;
    io_[VIEWER_VALUE("Main Window Top")] = frame.top;
    io_[VIEWER_VALUE("Main Window Width")] = frame.right - frame.left;
    io_[VIEWER_VALUE("Main Window Height")] = frame.bottom - frame.top;
  }
  HWND owner = frame_ ? frame_->handle() : hwnd_;
  if (s.configChanged && io_[VIEWER_VALUE("Save CFG on Exit")]) {
    const int answer =
        messages_.show(owner, "Configuration has changed, save before closing?", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) io_.save();
  }
  if (!s.imageSaved && io_[VIEWER_VALUE("Save Image on Exit")]) {
    const int answer = messages_.show(owner, "Save Image before closing?", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES && !saveImageAs()) return false;
  }
  if (s.cameraFound) {
    QRSetLEDEn(0);
    QRSetPowerEn(0);
    if (s.libraryAcquired) {
      s.libraryAcquired = 0;
      QRReleaseLib();
    }
  }
  return true;
}

LRESULT TBmpViewWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd_, &paint);
      Paint(dc);
      EndPaint(hwnd_, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER:
      if (wParam == kHousekeepingTimer) housekeepingTick();
      return 0;
    case WM_SIZE:
      updateScrollRange();
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_HSCROLL:
      scroll(SB_HORZ, wParam);
      return 0;
    case WM_VSCROLL:
      scroll(SB_VERT, wParam);
      return 0;
    case WM_RBUTTONDOWN:
      rightButton();
      return 0;
    case WM_LBUTTONDOWN:
      leftButtonDown(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_MOUSEMOVE:
      mouseMove(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_LBUTTONUP:
      leftButtonUp();
      return 0;
    case WM_SETFOCUS:
      realisePalette();
      return 0;
    case WM_COMMAND:
      command(LOWORD(wParam));
      return 0;
    case WM_POWERBROADCAST:
      return powerBroadcast(wParam);
  }
  return Window::handleMessage(message, wParam, lParam);
}

// The application.

TBmpViewApp::TBmpViewApp(HINSTANCE instance, Environment& environment)
    : ui::Application(instance, kCaption, "QRVIEW32.HLP"), environment_(environment) {}

bool TBmpViewApp::start(const std::string& commandLine, int show) {
  window_.reset(new TBmpViewWindow(instance(), environment_, commandLine));
  TQRViewIO& io = window_->settings();
  LONG& left = io[VIEWER_VALUE("Main Window Left")];
  LONG& top = io[VIEWER_VALUE("Main Window Top")];
  LONG& width = io[VIEWER_VALUE("Main Window Width")];
  LONG& height = io[VIEWER_VALUE("Main Window Height")];
  const LONG screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (left + width > screenWidth) width = screenWidth - left;
  if (top + height > screenHeight) height = screenHeight - top;
  if (!frame_.create(WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, left, top, width, height)) return false;
  SendMessageA(frame_.handle(), WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadIconA(instance(), MAKEINTRESOURCEA(IDI_VIEWER))));
  SetMenu(frame_.handle(), LoadMenuA(instance(), MAKEINTRESOURCEA(IDM_VIEWER_MENU)));
  setAccelerators(frame_.handle(), LoadAcceleratorsA(instance(), MAKEINTRESOURCEA(IDA_VIEWER_KEYS)));
  if (!window_->create(frame_)) return false;
  frame_.setClient(*window_);
  frame_.layout();
  ShowWindow(frame_.handle(), show);
  UpdateWindow(frame_.handle());
  return true;
}

}  // namespace viewer
