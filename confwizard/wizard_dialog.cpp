#include "wizard_dialog.h"

#include "capture_device_key.h"
#include "controls.h"
#include "wizard_ids.h"

namespace confwizard {

namespace {

struct ColourChoice {
  int controlId;
  LONG numColors;
};

const ColourChoice kColourChoices[] = {
    {IDC_COLOURS_GREY, 2},    // "Black and White (256 Grey Scale)"
    {IDC_COLOURS_RGB555, 4},  // "16bit RGB555 (64K Color)"
    {IDC_COLOURS_RGB24, 8},   // "24bit RGB (16M True Color)"
    {IDC_COLOURS_YUV9, 16},   // "YUV9 (Common Codex Format)"
};

// The initial value's bits are tested in this order; the first one set is ticked.
const LONG kTickPrecedence[] = {8, 16, 2, 4};

const ColourChoice* choiceFor(int controlId) {
  for (const ColourChoice& choice : kColourChoices) {
    if (choice.controlId == controlId) return &choice;
  }
  return nullptr;
}

}  // namespace

TWizardDlgClient::TWizardDlgClient(HINSTANCE resources) : Dialog(resources, IDD_WIZARD) {
  initial_ = readInitialColours();
  removeStaleDeviceKeys();
}

bool TWizardDlgClient::onInit() {
  for (LONG bit : kTickPrecedence) {
    if (!(initial_ & bit)) continue;
    for (const ColourChoice& choice : kColourChoices) {
      if (choice.numColors == bit) choose(choice.controlId);
    }
    break;
  }
  return true;
}

bool TWizardDlgClient::onCommand(int id, int code, HWND control) {
  if (choiceFor(id)) {
    if (code == BN_CLICKED) choose(id);
    return true;
  }
  switch (id) {
    case IDOK:
      writeAndClose(IDOK);
      return true;
    case IDC_CLOSE:
    case IDCANCEL:  // Escape
      chosen_ = initial_;
      writeAndClose(IDC_CLOSE);
      return true;
  }
  return Dialog::onCommand(id, code, control);
}

// The four boxes act as one set of options: the clicked one is checked, the others cleared.
void TWizardDlgClient::choose(int controlId) {
  for (const ColourChoice& choice : kColourChoices) {
    ui::CheckBox(hwnd_, choice.controlId).setChecked(choice.controlId == controlId);
  }
  chosen_ = choiceFor(controlId)->numColors;
}

// Registry failures are not reported: NetMeeting simply keeps what it had.
void TWizardDlgClient::writeAndClose(int result) {
  writeDeviceKey(chosen_);
  written_ = true;
  end(result);
}

bool TWizardDlgClient::canClose() {
  if (!written_) {
    chosen_ = initial_;
    writeDeviceKey(chosen_);
    written_ = true;
  }
  return true;
}

bool openWizard(ui::FrameWindow& frame, TWizardDlgClient& dialog) {
  int x = (GetSystemMetrics(SM_CXSCREEN) - 300) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - 240) / 2;
  if (!frame.create(WS_POPUP | WS_CLIPCHILDREN, 0, x, y, 300, 240)) return false;
  if (!dialog.createModeless(frame.handle())) return false;
  frame.setClient(dialog);
  ShowWindow(frame.handle(), SW_SHOW);
  UpdateWindow(frame.handle());
  return true;
}

}  // namespace confwizard
