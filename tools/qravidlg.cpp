// qravidlg: the "Video Source" and "Video Format" buttons of a capture application. Opens the
// capture driver through winmm (OpenDriver "msvideo", both channels) and shows its source dialog
// (external-input channel) or its format dialog (video-input channel) until it is closed.
//   qravidlg source|format
// Exits 0 when the dialog was shown and closed, 1 when the driver cannot be opened or has no such
// dialog, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "driver_abi.h"

namespace {

HDRVR openChannel(DWORD channel, DWORD& error) {
  avi::VideoOpenParms parms{};
  parms.dwSize = sizeof parms;
  parms.fccType = avi::kFccVcap;
  parms.dwFlags = channel;
  HDRVR driver = OpenDriver(L"msvideo", L"Drivers32", reinterpret_cast<LPARAM>(&parms));
  error = parms.dwError;
  return driver;
}

}  // namespace

int main(int argc, char** argv) {
  const bool source = argc == 2 && std::strcmp(argv[1], "source") == 0;
  if (argc != 2 || (!source && std::strcmp(argv[1], "format") != 0)) {
    std::fprintf(stderr, "usage: qravidlg source|format\n");
    return 2;
  }
  DWORD error = 0;
  HDRVR external = openChannel(avi::kVideoExternalIn, error);
  HDRVR video = external ? openChannel(avi::kVideoIn, error) : nullptr;
  int status = 1;
  if (!external || !video) {
    std::fprintf(stderr, "qravidlg: the capture driver did not open (error %lu)\n", static_cast<unsigned long>(error));
  } else if (SendDriverMessage(source ? external : video, avi::kDvmDialog, 0, 0) != 0) {
    std::fprintf(stderr, "qravidlg: the driver has no %s dialog\n", argv[1]);
  } else {
    status = 0;
  }
  if (video) CloseDriver(video, 0, 0);
  if (external) CloseDriver(external, 0, 0);
  return status;
}
