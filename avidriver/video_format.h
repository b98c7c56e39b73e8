// The capture driver's video formats: the current BITMAPINFOHEADER built from the profile's
// "Resolution" and "Format" codes, the 36 formats a client may set, DVM_FORMAT and DVM_PALETTE,
// and what the camera library is told before every frame read. The library converts the frame
// straight into the client's buffer; the driver copies no pixels.
#pragma once
#include <windows.h>

#include "profile_store.h"

namespace avi {

constexpr DWORD kFourccI420 = 0x30323449;
constexpr DWORD kFourccYuy2 = 0x32595559;
constexpr DWORD kFourccYvu9 = 0x39555659;
constexpr DWORD kPaletteBytes = 1028;

struct FormatState {
  BITMAPINFOHEADER header{};
  WORD stride = 0;
  LONG libraryResolution = 1;  // as sent to QRSetResolution
  LONG libraryFormat = 0;      // as sent to QRSetOutputFormat
  DWORD imageSize() const { return header.biSizeImage; }
};

// The header for a resolution code and an output format code (unknown codes as the tables say).
BITMAPINFOHEADER buildHeader(LONG resolutionCode, LONG formatCode, WORD* stride = nullptr);
// One of the 36 formats the driver offers.
bool isAcceptedFormat(const BITMAPINFOHEADER& header);
// The library codes of an accepted header.
LONG libraryResolutionOf(const BITMAPINFOHEADER& header);
LONG libraryFormatOf(const BITMAPINFOHEADER& header);

// Rebuilds the header and the library codes from the profile's codes.
void rebuildFormat(FormatState& format, const profiles::ProfileSettings& profile);

// DVM_FORMAT and DVM_PALETTE on the video-input channel: flags and a VIDEOCONFIGPARMS.
DWORD formatMessage(FormatState& format, profiles::ProfileSettings& profile, DWORD flags, LPARAM configParms);
DWORD paletteMessage(DWORD flags, LPARAM configParms);

// Orientation, output format and resolution for the next frame, then the read into `buffer`.
LONG readIntoBuffer(const FormatState& format, const profiles::ProfileSettings& live, void* buffer);

}  // namespace avi
