// The main window's file and clipboard commands: Open, Save as (with the JPEG quality dialog),
// the file named on the command line, copy to and paste from the clipboard.
#include <windows.h>
#include <commdlg.h>

#include <cstdlib>
#include <cstring>

#include "files.h"
#include "main_window.h"
#include "viewer_ids.h"

namespace viewer {

namespace {

constexpr int kNameBuffer = 512;
constexpr LONG kLowestQuality = 25, kHighestQuality = 100;

// Shows the wait cursor while it lives.
class WaitCursor {
 public:
  WaitCursor() : old_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(old_); }

 private:
  HCURSOR old_;
};

// "JPEG File Save": the quality from 25 to 100 on a scroll bar, also typed into its edit field.
class JpegQual : public ui::Dialog {
 public:
  JpegQual(HINSTANCE resources, LONG& quality) : ui::Dialog(resources, IDD_JPEG_QUALITY), quality_(quality) {}

 protected:
  bool onInit() override {
    if (quality_ < kLowestQuality) quality_ = kLowestQuality;
    if (quality_ > kHighestQuality) quality_ = kHighestQuality;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = kLowestQuality;
    info.nMax = kHighestQuality;
    info.nPage = 10;
    info.nPos = static_cast<int>(quality_);
    SetScrollInfo(item(IDC_JPEG_QUALITY_BAR), SB_CTL, &info, TRUE);
    showQuality();
    return true;
  }
  bool onCommand(int id, int code, HWND control) override {
    if (id == IDC_JPEG_QUALITY_EDIT && code == EN_CHANGE && !showing_) {
      char text[16] = "";
      GetDlgItemTextA(hwnd_, IDC_JPEG_QUALITY_EDIT, text, sizeof text);
      const long typed = std::strtol(text, nullptr, 10);
      if (typed >= kLowestQuality && typed <= kHighestQuality) {
        quality_ = typed;
        SetScrollPos(item(IDC_JPEG_QUALITY_BAR), SB_CTL, static_cast<int>(quality_), TRUE);
      }
      return true;
    }
    return ui::Dialog::onCommand(id, code, control);
  }
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) override {
    if (message != WM_HSCROLL) return 0;
    handled = true;
    LONG wanted = quality_;
    switch (LOWORD(wParam)) {
      case SB_LINELEFT:
        --wanted;
        break;
      case SB_LINERIGHT:
        ++wanted;
        break;
      case SB_PAGELEFT:
        wanted -= 10;
        break;
      case SB_PAGERIGHT:
        wanted += 10;
        break;
      case SB_THUMBPOSITION:
      case SB_THUMBTRACK:
        wanted = static_cast<short>(HIWORD(wParam));
        break;
      case SB_LEFT:
        wanted = kLowestQuality;
        break;
      case SB_RIGHT:
        wanted = kHighestQuality;
        break;
    }
    if (wanted < kLowestQuality) wanted = kLowestQuality;
    if (wanted > kHighestQuality) wanted = kHighestQuality;
    quality_ = wanted;
    SetScrollPos(item(IDC_JPEG_QUALITY_BAR), SB_CTL, static_cast<int>(quality_), TRUE);
    showQuality();
    return 0;
  }

 private:
  void showQuality() {
    showing_ = true;
    SetDlgItemInt(hwnd_, IDC_JPEG_QUALITY_EDIT, static_cast<UINT>(quality_), FALSE);
    showing_ = false;
  }
  LONG& quality_;
  bool showing_ = false;
};

std::string titleOf(const char* name) {
  char title[MAX_PATH + 1] = "";
  if (GetFileTitleA(name, title, sizeof title) != 0) return name;
  return title;
}

}  // namespace

HWND TBmpViewWindow::owner() const { return frame_ ? frame_->handle() : hwnd_; }

void TBmpViewWindow::restorePrevious() {
  // The previous picture stays in the current image until a load succeeds; what is left is to
  // say why the new one did not come.
  reportError();
}

void TBmpViewWindow::openFile() {
  ViewerState& s = state_;
  if (openDirectory_.empty()) openDirectory_ = io_.settings.text(VIEWER_VALUE("File Location"));
  keepUndoCopy();
  if (!s.imageSaved) {
    const int answer =
        messages_.show(owner(), "Save current image before opening new file?", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return;
    // A picture the user wanted kept and that was not saved is not replaced.
    if (answer == IDYES && !saveImageAs()) return;
  }
  const std::vector<char> filter = files::dialogFilter(files::kOpenFilter);
  char name[kNameBuffer] = "";
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  dialog.hwndOwner = owner();
  dialog.lpstrFilter = filter.data();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name;
  dialog.nMaxFile = sizeof name;
  dialog.lpstrInitialDir = openDirectory_.empty() ? nullptr : openDirectory_.c_str();
  dialog.lpstrTitle = "Open Image File";
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&dialog)) return;
  LONG saveType = io_[VIEWER_VALUE("File Save Type")];
  {
    WaitCursor wait;
    s.lastError = files::loadByName(name, current_, saveType);
  }
  if (s.lastError != 0) {
    restorePrevious();
    return;
  }
  io_[VIEWER_VALUE("File Save Type")] = saveType;
  s.currentFileName = titleOf(name);
  s.statusText = s.currentFileName;
  openDirectory_.assign(name, dialog.nFileOffset);
  s.imageSaved = 1;
  displayUpdate();
}

void TBmpViewWindow::openCommandLineFile() {
  ViewerState& s = state_;
  WaitCursor wait;
  LONG saveType = io_[VIEWER_VALUE("File Save Type")];
  const LONG code = files::loadByName(s.currentFileName, current_, saveType);
  if (code != 0) {
    messages_.show(owner(), "Unable to open this file type", MB_ICONEXCLAMATION);
    return;
  }
  io_[VIEWER_VALUE("File Save Type")] = saveType;
  const std::string& name = s.currentFileName;
  const std::size_t slash = name.rfind('\\');
  s.statusText = name.size() <= 80 || slash == std::string::npos ? name : name.substr(slash + 1);
  s.imageSaved = 1;
  displayUpdate();
}

bool TBmpViewWindow::saveImageAs() {
  ViewerState& s = state_;
  if (!current_.bmh) return false;
  LONG& saveType = io_[VIEWER_VALUE("File Save Type")];
  const LONG remembered = saveType;
  const files::SaveList list = files::saveListFor(current_.bmh->biBitCount);
  const std::vector<char> filter = files::dialogFilter(list.filter);
  char name[kNameBuffer] = "";
  lstrcpynA(name, s.currentFileName.c_str(), sizeof name);
  std::string& location = io_.settings.text(VIEWER_VALUE("File Location"));
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  dialog.hwndOwner = owner();
  dialog.lpstrFilter = filter.data();
  dialog.nFilterIndex = files::filterIndexOf(list, saveType);
  dialog.lpstrFile = name;
  dialog.nMaxFile = sizeof name;
  dialog.lpstrInitialDir = location.empty() ? nullptr : location.c_str();
  dialog.lpstrTitle = "Save Image File";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  dialog.lpstrDefExt = files::defaultExtension(saveType);
  if (!GetSaveFileNameA(&dialog)) return false;
  const std::string directory(name, dialog.nFileOffset);
  // "All Files" names no type: the one in use stays.
  const LONG chosen = files::codeOfFilterIndex(list, dialog.nFilterIndex);
  if (chosen >= 0) saveType = chosen;
  bool written = false;
  {
    WaitCursor wait;
    const files::JpegWriter jpeg = [this, &written](const char* file, const ImageDescriptor& image) -> LONG {
      LONG& quality = io_[VIEWER_VALUE("Jpeg Quality")];
      JpegQual quality_dialog(resources_, quality);
      const bool accepted = quality_dialog.runModal(owner()) == IDOK;
      WaitCursor wait;
      if (!accepted) {
        written = false;
        return 0;
      }
      written = true;
      return savejpg(file, &image, quality);
    };
    written = true;
    s.lastError = files::saveByName(name, current_, saveType, jpeg);
  }
  if (s.lastError != 0) {
    written = false;
    messages_.show(owner(), "Error saving image, check file extension.", MB_ICONEXCLAMATION);
  }
  if (lstrcmpiA(directory.c_str(), location.c_str()) != 0) {
    location = directory;
    s.configChanged = 1;
  }
  if (saveType != remembered) s.configChanged = 1;
  // Only a picture that reached its file counts as saved: after a failed or declined save the
  // closing question still guards it.
  if (written) s.imageSaved = 1;
  return written;
}

void TBmpViewWindow::copyToClipboard() {
  if (!current_.bmh) return;
  if (!OpenClipboard(owner())) {
    MessageBeep(0);
    MessageBoxA(owner(), "Could not open Clipboard", "", MB_OK);
    return;
  }
  if (!EmptyClipboard()) {
    CloseClipboard();
    MessageBeep(0);
    MessageBoxA(owner(), "Could not open Clipboard", "", MB_OK);
    return;
  }
  if (current_.colors > 0) {
    std::vector<BYTE> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * current_.colors);
    auto* logical = reinterpret_cast<LOGPALETTE*>(block.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(current_.colors);
    for (int i = 0; i < current_.colors; ++i)
      logical->palPalEntry[i] = {current_.palette[i].rgbRed, current_.palette[i].rgbGreen, current_.palette[i].rgbBlue,
                                 0};
    HPALETTE palette = CreatePalette(logical);
    if (palette && !SetClipboardData(CF_PALETTE, palette)) DeleteObject(palette);
  }
  BYTE* dib = nullptr;
  if (imagetodib(&current_, &dib) == 0 && dib) {
    HGLOBAL block = GlobalHandle(dib);
    GlobalUnlock(block);
    if (!SetClipboardData(CF_DIB, block)) GlobalFree(block);
  }
  CloseClipboard();
}

void TBmpViewWindow::pasteFromClipboard() {
  ViewerState& s = state_;
  WaitCursor wait;
  keepUndoCopy();
  if (!OpenClipboard(owner())) return;
  HGLOBAL block = GetClipboardData(CF_DIB);
  const BYTE* data = block ? static_cast<const BYTE*>(GlobalLock(block)) : nullptr;
  // Data another program put there is checked before it is read: short, compressed or absurd
  // bitmaps are refused and the picture stays.
  LONG code = data ? files::packedBitmapCheck(data, GlobalSize(block)) : -5;
  if (code == 0) code = dibtoimage(data, &current_);
  if (data) GlobalUnlock(block);
  CloseClipboard();
  s.lastError = code;
  if (code != 0) {
    restorePrevious();
    return;
  }
  s.statusText = "Paste from Clipboard";
  displayUpdate();
}

}  // namespace viewer
