#include "controls.h"

#include <vector>

namespace ui {

std::string windowText(HWND hwnd) {
  int length = GetWindowTextLengthA(hwnd);
  if (length <= 0) return std::string();
  std::vector<char> buffer(length + 1);
  int copied = GetWindowTextA(hwnd, buffer.data(), length + 1);
  return std::string(buffer.data(), copied > 0 ? copied : 0);
}

void ScrollBar::setRange(int minimum, int maximum, int page) const {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE;
  info.nMin = minimum;
  info.nMax = maximum;
  info.nPage = page;
  SetScrollInfo(hwnd_, SB_CTL, &info, TRUE);
}

namespace {

// A thumb request carries only the low 16 bits of the thumb's position. While the thumb is dragged
// the bar's track position holds all 32 bits, and the low 16 bits are those of that position;
// otherwise (a request a program made up) the track position is the current one. The position
// with the request's low 16 bits nearest the track position is right in both cases.
long long thumbPosition(const SCROLLINFO& info, WORD low16) {
  auto distance = static_cast<short>(static_cast<WORD>(low16 - static_cast<WORD>(info.nTrackPos)));
  return static_cast<long long>(info.nTrackPos) + distance;
}

}  // namespace

int ScrollBar::requestedPosition(WPARAM request) const {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;  // with SIF_TRACKPOS
  GetScrollInfo(hwnd_, SB_CTL, &info);
  long long position = info.nPos;
  int page = info.nPage > 0 ? static_cast<int>(info.nPage) : 1;
  switch (LOWORD(request)) {
    case SB_LINEUP:
      position -= 1;
      break;
    case SB_LINEDOWN:
      position += 1;
      break;
    case SB_PAGEUP:
      position -= page;
      break;
    case SB_PAGEDOWN:
      position += page;
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      position = thumbPosition(info, HIWORD(request));
      break;
    case SB_TOP:
      position = info.nMin;
      break;
    case SB_BOTTOM:
      position = info.nMax;
      break;
  }
  // With a page, the thumb's last position is max - page + 1.
  int last = info.nPage > 0 ? info.nMax - static_cast<int>(info.nPage) + 1 : info.nMax;
  if (position > last) position = last;
  if (position < info.nMin) position = info.nMin;
  return static_cast<int>(position);
}

int ListBox::add(const std::string& text, LPARAM data) const {
  int position = static_cast<int>(send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  if (position >= 0) send(LB_SETITEMDATA, position, data);
  return position;
}

std::string ListBox::entry(int position) const {
  LRESULT length = send(LB_GETTEXTLEN, position);
  if (length == LB_ERR) return std::string();
  std::vector<char> buffer(length + 1);
  send(LB_GETTEXT, position, reinterpret_cast<LPARAM>(buffer.data()));
  return std::string(buffer.data());
}

int ComboBox::add(const std::string& text, LPARAM data) const {
  int position = static_cast<int>(send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  if (position >= 0) send(CB_SETITEMDATA, position, data);
  return position;
}

std::string ComboBox::entry(int position) const {
  LRESULT length = send(CB_GETLBTEXTLEN, position);
  if (length == CB_ERR) return std::string();
  std::vector<char> buffer(length + 1);
  send(CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(buffer.data()));
  return std::string(buffer.data());
}

}  // namespace ui
