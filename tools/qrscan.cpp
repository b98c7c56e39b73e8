// qrscan: a TWAIN application for the command line. It reaches data sources only through the
// system's source manager (TWAIN_32.DLL), as any imaging program's "Acquire" does.
//
//   qrscan list
//   qrscan acquire [-s SOURCE] [-t colour|grey] [-z WIDTHxHEIGHT] [-m native|memory] [-b BYTES] [-u|--ui]
//                  FILE.bmp
//
// "list" prints every source the manager knows. "acquire" opens SOURCE (a product name; default
// the camera's source, else the manager's default), asks for the pixel type (-t) and the image size
// (-z, through the image layout), acquires one picture, without the source's user interface unless
// -u (--ui) is given (then the person acquires with the source's panel), transfers it natively (a
// packed bitmap, the default) or in memory strips of BYTES bytes (default the source's preferred
// size) with progress, and saves it as a BMP file through
// vic32.dll. Exit code 0 on success, 1 when the manager, the source or the camera fails or the file
// cannot be written, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "twain_session.h"

namespace {

using twainapp::Session;

struct Options {
  std::string source;
  TW_UINT16 pixelType = TWPT_RGB;
  int width = 0, height = 0;  // 0: the source's current size
  bool memory = false;
  TW_UINT32 stripBytes = 0;  // 0: the source's preferred size
  bool showUi = false;
  std::string file;
};

int usage() {
  std::fprintf(stderr,
               "usage: qrscan list\n"
               "       qrscan acquire [-s SOURCE] [-t colour|grey] [-z WIDTHxHEIGHT] [-m native|memory]\n"
               "                      [-b BYTES] [-u] FILE.bmp\n");
  return 2;
}

bool parseSize(const char* text, int& width, int& height) {
  char* end = nullptr;
  width = static_cast<int>(std::strtol(text, &end, 10));
  if (end == text || (*end != 'x' && *end != 'X')) return false;
  const char* rest = end + 1;
  height = static_cast<int>(std::strtol(rest, &end, 10));
  return end != rest && *end == 0 && width > 0 && width <= 32767 && height > 0 && height <= 32767;
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-u" || arg == "--ui") {
      options.showUi = true;
    } else if (arg == "-s" && hasValue) {
      options.source = argv[++i];
    } else if (arg == "-t" && hasValue) {
      const std::string type = argv[++i];
      if (type == "colour" || type == "color") {
        options.pixelType = TWPT_RGB;
      } else if (type == "grey" || type == "gray") {
        options.pixelType = TWPT_GRAY;
      } else {
        return false;
      }
    } else if (arg == "-z" && hasValue) {
      if (!parseSize(argv[++i], options.width, options.height)) return false;
    } else if (arg == "-m" && hasValue) {
      const std::string mode = argv[++i];
      if (mode != "native" && mode != "memory") return false;
      options.memory = mode == "memory";
    } else if (arg == "-b" && hasValue) {
      char* end = nullptr;
      const long bytes = std::strtol(argv[++i], &end, 10);
      if (*end != 0 || bytes <= 0) return false;
      options.stripBytes = static_cast<TW_UINT32>(bytes);
    } else if (arg[0] != '-' && options.file.empty()) {
      options.file = arg;
    } else {
      return false;
    }
  }
  return !options.file.empty();
}

int list() {
  Session session("qrscan");
  if (!session.openManager()) return 1;
  for (const TW_IDENTITY& identity : session.sources()) {
    std::printf("%s\t%s\t%s\t%u.%u\n", identity.ProductName, identity.Manufacturer, identity.ProductFamily,
                identity.Version.MajorNum, identity.Version.MinorNum);
  }
  return 0;
}

int acquire(const Options& options) {
  Session session("qrscan");
  if (!session.openManager() || !session.openSource(options.source)) return 1;
  if (!session.setPixelType(options.pixelType) || !session.setTransferMode(options.memory)) return 1;
  if (options.width && !session.setSize(options.width, options.height)) return 1;
  TW_IMAGEINFO info{};
  if (!session.waitForImage(options.showUi) || !session.imageInfo(info)) return 1;
  const long width = info.ImageWidth, height = info.ImageLength;
  std::fprintf(stderr, "qrscan: %ld x %ld, %d bits per pixel, %s transfer\n", width, height, info.BitsPerPixel,
               options.memory ? "memory" : "native");
  ImageDescriptor image{};
  const bool got =
      options.memory ? session.memoryTransfer(info, options.stripBytes, image) : session.nativeTransfer(image);
  session.close();
  if (!got) {
    if (image.ibuff) freeimage(&image);
    return 1;
  }
  const LONG saved = savebmp(options.file.c_str(), &image, 0);
  freeimage(&image);
  if (saved != 0) {
    std::fprintf(stderr, "qrscan: cannot write %s (%ld)\n", options.file.c_str(), static_cast<long>(saved));
    return 1;
  }
  std::printf("%s: %ld x %ld, %d bits\n", options.file.c_str(), width, height, info.BitsPerPixel);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "list") == 0 && argc == 2) return list();
  Options options;
  if (argc >= 3 && std::strcmp(argv[1], "acquire") == 0 && parseOptions(argc, argv, options)) return acquire(options);
  return usage();
}
