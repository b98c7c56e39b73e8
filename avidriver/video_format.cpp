#include "video_format.h"

#include "driver_abi.h"
#include "driver_values.h"
#include "qrcamlib.h"

namespace avi {

namespace {

struct Size {
  LONG code;
  LONG width, height;
};
// The resolution codes the driver offers; any other code gives a 160 x 120 header. The smallest is
// the camera library's 120 x 96 (code 6), the size of the rows it writes: a 128 x 96 header over
// them would make every client read the picture sheared, with 2,304 bytes it never gets.
constexpr Size kSizes[] = {{0, 640, 480}, {1, 320, 240}, {2, 160, 120}, {3, 352, 288}, {4, 176, 144}, {6, 120, 96}};

struct Layout {
  LONG code;
  DWORD compression;
  WORD bitCount;
};
// The output format codes; any other code is laid out as 1 (grey).
constexpr Layout kLayouts[] = {{0, BI_RGB, 24},      {1, BI_RGB, 8},       {2, BI_RGB, 16},
                               {3, kFourccI420, 12}, {4, kFourccYuy2, 16}, {5, kFourccYvu9, 9}};

const Size& sizeOf(LONG code) {
  for (const Size& size : kSizes) {
    if (size.code == code) return size;
  }
  return kSizes[2];
}

const Layout& layoutOf(LONG code) {
  for (const Layout& layout : kLayouts) {
    if (layout.code == code) return layout;
  }
  return kLayouts[1];
}

bool isYuv(LONG formatCode) { return formatCode >= 3 && formatCode <= 5; }

// Format set: a client's header becomes the current format, or nothing changes.
DWORD setFormat(FormatState& format, profiles::ProfileSettings& profile, const VideoConfigParms& parms) {
  if (LOWORD(parms.dwSize1) < sizeof(BITMAPINFOHEADER)) return DV_ERR_SIZEFIELD;
  if (!parms.lpData1) return DV_ERR_PARAM1;
  const BITMAPINFOHEADER& wanted = *static_cast<const BITMAPINFOHEADER*>(parms.lpData1);
  if (wanted.biSize != sizeof(BITMAPINFOHEADER)) return DV_ERR_PARAM2;
  if (!isAcceptedFormat(wanted)) return DV_ERR_BADFORMAT;
  profile[AVI_VALUE("Resolution")] = libraryResolutionOf(wanted);
  profile[AVI_VALUE("Format")] = libraryFormatOf(wanted);
  rebuildFormat(format, profile);
  return DV_ERR_OK;
}

// Format get: the current header, which then goes through the set so that the codes follow it.
DWORD getFormat(FormatState& format, profiles::ProfileSettings& profile, const VideoConfigParms& parms) {
  if (LOWORD(parms.dwSize1) < sizeof(BITMAPINFOHEADER)) return DV_ERR_SIZEFIELD;
  if (!parms.lpData1) return DV_ERR_PARAM1;
  rebuildFormat(format, profile);
  CopyMemory(parms.lpData1, &format.header, sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER copy = format.header;
  VideoConfigParms again = parms;
  again.lpData1 = &copy;
  again.dwSize1 = sizeof copy;
  setFormat(format, profile, again);
  return DV_ERR_OK;
}

DWORD answerSize(const VideoConfigParms& parms, DWORD size) {
  if (!parms.lpdwReturn) return DV_ERR_PARAM2;
  *parms.lpdwReturn = size;
  return DV_ERR_OK;
}

}  // namespace

BITMAPINFOHEADER buildHeader(LONG resolutionCode, LONG formatCode, WORD* stride) {
  const Size& size = sizeOf(resolutionCode);
  const Layout& layout = layoutOf(formatCode);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = size.width;
  header.biHeight = size.height;
  header.biPlanes = 1;
  header.biBitCount = layout.bitCount;
  header.biCompression = layout.compression;
  const WORD rowBytes = static_cast<WORD>(((layout.bitCount * size.width + 31) & ~31) / 8);
  header.biSizeImage = static_cast<DWORD>(rowBytes) * static_cast<DWORD>(size.height);
  if (stride) *stride = rowBytes;
  return header;
}

bool isAcceptedFormat(const BITMAPINFOHEADER& header) {
  if (header.biPlanes != 1) return false;
  bool sizeOk = false;
  for (const Size& size : kSizes) sizeOk = sizeOk || (size.width == header.biWidth && size.height == header.biHeight);
  bool layoutOk = false;
  for (const Layout& layout : kLayouts) {
    layoutOk = layoutOk || (layout.compression == header.biCompression && layout.bitCount == header.biBitCount);
  }
  return sizeOk && layoutOk;
}

LONG libraryResolutionOf(const BITMAPINFOHEADER& header) {
  switch (header.biWidth) {
    case 640:
      return 0;
    case 320:
      return 1;
    case 352:
      return 3;
    case 176:
      return 4;
    case 120:
      return 6;
    default:
      return 2;
  }
}

LONG libraryFormatOf(const BITMAPINFOHEADER& header) {
  switch (header.biCompression) {
    case kFourccYuy2:
      return 4;
    case kFourccYvu9:
      return 5;
    case kFourccI420:
      return 3;
    case BI_RGB:
      if (header.biBitCount == 24) return 0;
      if (header.biBitCount == 16) return 2;
      return 1;
    default:
      return 1;
  }
}

void rebuildFormat(FormatState& format, const profiles::ProfileSettings& profile) {
  format.header = buildHeader(profile[AVI_VALUE("Resolution")], profile[AVI_VALUE("Format")], &format.stride);
  format.libraryResolution = libraryResolutionOf(format.header);
  format.libraryFormat = libraryFormatOf(format.header);
}

DWORD formatMessage(FormatState& format, profiles::ProfileSettings& profile, DWORD flags, LPARAM configParms) {
  const VideoConfigParms* parms = reinterpret_cast<const VideoConfigParms*>(configParms);
  if (!parms) return DV_ERR_PARAM2;
  switch (flags) {
    case VIDEO_CONFIGURE_QUERYSIZE:
    case VIDEO_CONFIGURE_QUERYSIZE | VIDEO_CONFIGURE_GET:
      return answerSize(*parms, sizeof(BITMAPINFOHEADER));
    case VIDEO_CONFIGURE_SET:
    case VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT:
      return setFormat(format, profile, *parms);
    case VIDEO_CONFIGURE_GET:
    case VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT:
      return getFormat(format, profile, *parms);
    case VIDEO_CONFIGURE_QUERY | VIDEO_CONFIGURE_SET:
    case VIDEO_CONFIGURE_QUERY | VIDEO_CONFIGURE_GET:
      return DV_ERR_OK;
    default:
      return DV_ERR_NOTSUPPORTED;
  }
}

DWORD paletteMessage(DWORD flags, LPARAM configParms) {
  const VideoConfigParms* parms = reinterpret_cast<const VideoConfigParms*>(configParms);
  if (!parms) return DV_ERR_PARAM2;
  switch (flags) {
    case VIDEO_CONFIGURE_QUERYSIZE:
    case VIDEO_CONFIGURE_QUERYSIZE | VIDEO_CONFIGURE_GET:
      return answerSize(*parms, kPaletteBytes);
    case VIDEO_CONFIGURE_SET:
    case VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT:
      return parms->lpData1 ? DV_ERR_NOTSUPPORTED : DV_ERR_PARAM1;
    case VIDEO_CONFIGURE_GET:
    case VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT: {
      if (LOWORD(parms->dwSize1) < kPaletteBytes) return DV_ERR_SIZEFIELD;
      if (!parms->lpData1) return DV_ERR_PARAM1;
      BYTE* out = static_cast<BYTE*>(parms->lpData1);
      out[0] = 0x00;  // palVersion 0x300, palNumEntries 256, little-endian
      out[1] = 0x03;
      out[2] = 0x00;
      out[3] = 0x01;
      for (int i = 0; i < 256; ++i) {
        BYTE* entry = out + 4 + 4 * i;
        entry[0] = entry[1] = entry[2] = static_cast<BYTE>(i);
        entry[3] = 0;
      }
      return DV_ERR_OK;
    }
    case VIDEO_CONFIGURE_QUERY | VIDEO_CONFIGURE_GET:
      return DV_ERR_OK;
    default:
      return DV_ERR_NOTSUPPORTED;
  }
}

LONG readIntoBuffer(const FormatState& format, const profiles::ProfileSettings& live, void* buffer) {
  QRSetOutputFormat(format.libraryFormat);
  QRSetResolution(format.libraryResolution);
  QRSetMirrorEn(live[AVI_VALUE("Mirror Preview")] ? 1 : 0);
  // The RGB and grey layouts are bottom-up and the YUV ones top-down: the camera is turned over
  // for the former unless the picture is to be flipped.
  const LONG flip = live[AVI_VALUE("Flip Preview")] ? 1 : 0;
  QRSetInvertEn(isYuv(format.libraryFormat) ? flip : 1 - flip);
  return QRVideoFrameRead(buffer);
}

}  // namespace avi
