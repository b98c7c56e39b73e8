// qrcapture: takes frames from the camera through qrcamlib.dll and saves the last one as a 24-bit
// BMP file.
//
//   qrcapture [-n FRAMES] [-r RESOLUTION] FILE.bmp
//
// FRAMES (default 30) frames are read one after another (the camera's automatic exposure and white
// balance settle meanwhile), printing progress; RESOLUTION is the library's code 0-6 (default 0,
// 640 x 480). The frames come in output format 0, whose bottom-up rows are a BMP's own order. The
// file is written beside its final name first and then moved over it, so a failed save leaves an
// existing file as it was. Exit code 0 on success, 1 when there is no camera or the file cannot be
// written, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qrcamlib.h"
#include "replace_file.h"
#include "register_map.h"

namespace {

bool parseCount(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return *text && *end == 0 && value >= low && value <= high;
}

// The BMP rows are padded to four bytes; the frame's rows are packed.
bool writeBmp(const std::string& path, const std::vector<BYTE>& bgr, int width, int height) {
  const DWORD rowBytes = static_cast<DWORD>(width) * 3;
  const DWORD stride = (rowBytes + 3) & ~3u;
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // positive: bottom-up rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + info.biSizeImage;

  const std::string temporary = path + ".part";
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1;
  const BYTE padding[3] = {0, 0, 0};
  for (int row = 0; ok && row < height; ++row) {
    ok = std::fwrite(&bgr[static_cast<size_t>(row) * rowBytes], 1, rowBytes, out) == rowBytes &&
         (stride == rowBytes || std::fwrite(padding, 1, stride - rowBytes, out) == stride - rowBytes);
  }
  ok = std::fclose(out) == 0 && ok;
  if (ok) ok = compat::replaceFile(temporary.c_str(), path.c_str());
  if (!ok) DeleteFileA(temporary.c_str());
  return ok;
}

int capture(long frames, long resolution, const std::string& path) {
  if (QRAcquireLib() == 0) {
    std::fputs("qrcapture: the camera is being used by another application\n", stderr);
    return 1;
  }
  if (QRFindQuorel() == 0) {
    std::fputs("qrcapture: no camera found\n", stderr);
    QRReleaseLib();
    return 1;
  }
  const camlib::ResolutionMode& mode = camlib::kResolutions[resolution];
  QRSetResolution(resolution);
  QRSetOutputFormat(0);
  QRSetInvertEn(1);  // after the format: with bottom-up rows this shows the picture upright
  QRSetMirrorEn(0);
  std::vector<BYTE> bgr(static_cast<size_t>(mode.outputWidth) * mode.outputHeight * 3);
  const DWORD start = GetTickCount();
  for (long i = 1; i <= frames; ++i) {
    while (QRGrabFrame() == 0) {
    }
    QRVideoFrameRead(bgr.data());
    if (i % 10 == 0 || i == frames) {
      std::printf("frame %ld/%ld\n", i, frames);
      std::fflush(stdout);
    }
  }
  const DWORD elapsed = GetTickCount() - start;
  QRReleaseLib();
  std::printf("%ld frames of %d x %d in %lu ms\n", frames, mode.outputWidth, mode.outputHeight,
              static_cast<unsigned long>(elapsed));
  if (!writeBmp(path, bgr, mode.outputWidth, mode.outputHeight)) {
    std::fprintf(stderr, "qrcapture: could not write %s\n", path.c_str());
    return 1;
  }
  std::printf("saved the last frame as %s\n", path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long frames = 30, resolution = 0;
  std::string path;
  bool usageError = false;
  for (int i = 1; i < argc && !usageError; ++i) {
    const bool hasValue = i + 1 < argc;
    if (!std::strcmp(argv[i], "-n") && hasValue && parseCount(argv[i + 1], 1, 100000, frames))
      ++i;
    else if (!std::strcmp(argv[i], "-r") && hasValue &&
             parseCount(argv[i + 1], 0, camlib::kResolutionCount - 1, resolution))
      ++i;
    else if (argv[i][0] != '-' && path.empty())
      path = argv[i];
    else
      usageError = true;
  }
  if (usageError || path.empty()) {
    std::fputs("usage: qrcapture [-n FRAMES] [-r RESOLUTION 0-6] FILE.bmp\n", stderr);
    return 2;
  }
  return capture(frames, resolution, path);
}
