// qrscan: a TWAIN application for the command line. It reaches data sources only through the
// system's source manager (TWAIN_32.DLL), as any imaging program's "Acquire" does.
//
//   qrscan list
//   qrscan acquire [-s SOURCE] [-t colour|grey] [-z WIDTHxHEIGHT] [-m native|memory] [-b BYTES] [-u]
//                  FILE.bmp
//
// "list" prints every source the manager knows. "acquire" opens SOURCE (a product name; default
// the camera's source, else the manager's default), asks for the pixel type (-t) and the image size
// (-z, through the image layout), acquires one picture, without the source's user interface unless
// -u is given, transfers it natively (a packed bitmap, the default) or in memory strips of BYTES
// bytes (default the source's preferred size) with progress, and saves it as a BMP file through
// vic32.dll. Exit code 0 on success, 1 when the manager, the source or the camera fails or the file
// cannot be written, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "proc_address.h"
#include "twain.h"
#include "vic32.h"

namespace {

const char kOurSource[] = "Quorel Twain Driver 6.9.1.49";

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
    if (arg == "-u") {
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

// The source manager and, once opened, one source: every call goes through DSM_Entry.
class Session {
 public:
  ~Session() { close(); }

  bool openManager() {
    manager_ = LoadLibraryA("TWAIN_32.DLL");
    if (!manager_) return error("cannot load the TWAIN source manager (TWAIN_32.DLL)");
    entry_ = compat::procAddress<DSMENTRYPROC>(manager_, "DSM_Entry");
    if (!entry_) return error("TWAIN_32.DLL has no DSM_Entry");
    // The manager and the source post their notifications to this window's thread.
    window_ = CreateWindowExA(0, "STATIC", "qrscan", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    application_.Version.MajorNum = 1;
    application_.Version.Language = 13;  // TWLG_ENGLISH
    application_.Version.Country = 1;    // TWCY_USA
    lstrcpyA(application_.Version.Info, "qrscan 1.0");
    application_.ProtocolMajor = TWON_PROTOCOLMAJOR;
    application_.ProtocolMinor = TWON_PROTOCOLMINOR;
    application_.SupportedGroups = DG_CONTROL | DG_IMAGE;
    lstrcpyA(application_.Manufacturer, "Quorel");
    lstrcpyA(application_.ProductFamily, "Tools");
    lstrcpyA(application_.ProductName, "qrscan");
    if (toManager(DAT_PARENT, MSG_OPENDSM, &window_) != TWRC_SUCCESS) return error("the source manager did not open");
    managerOpen_ = true;
    return true;
  }

  std::vector<TW_IDENTITY> sources() {
    std::vector<TW_IDENTITY> found;
    TW_IDENTITY identity{};
    for (TW_UINT16 rc = toManager(DAT_IDENTITY, MSG_GETFIRST, &identity); rc == TWRC_SUCCESS;
         rc = toManager(DAT_IDENTITY, MSG_GETNEXT, &identity)) {
      found.push_back(identity);
    }
    return found;
  }

  // Opens the source of that product name; with no name, the camera's source if the manager knows
  // it, else the manager's default.
  bool openSource(const std::string& name) {
    const std::string wanted = name.empty() ? kOurSource : name;
    bool known = false;
    for (const TW_IDENTITY& identity : sources()) {
      if (wanted == identity.ProductName) {
        source_ = identity;
        known = true;
      }
    }
    if (!known && !name.empty()) return error("no TWAIN source is called \"" + name + "\" (see qrscan list)");
    if (!known && toManager(DAT_IDENTITY, MSG_GETDEFAULT, &source_) != TWRC_SUCCESS) {
      return error("the source manager knows no TWAIN source");
    }
    if (toManager(DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) {
      return error(std::string("the source \"") + source_.ProductName + "\" did not open");
    }
    sourceOpen_ = true;
    // A source may open and still report that its device is missing.
    if (sourceCondition() != TWCC_SUCCESS) return error(std::string(source_.ProductName) + " found no camera");
    return true;
  }

  bool setPixelType(TW_UINT16 type) { return setOneValue(ICAP_PIXELTYPE, type) || error("the pixel type was refused"); }
  bool setTransferMode(bool memory) {
    return setOneValue(ICAP_XFERMECH, memory ? TWSX_MEMORY : TWSX_NATIVE) || error("the transfer mode was refused");
  }

  // Sizes are asked for through the layout frame; the source answers with the size it will deliver.
  bool setSize(int width, int height) {
    TW_IMAGELAYOUT layout{};
    layout.Frame.Right.Whole = static_cast<TW_INT16>(width);
    layout.Frame.Bottom.Whole = static_cast<TW_INT16>(height);
    if (toSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout) != TWRC_SUCCESS)
      return error("the image size was refused");
    TW_IMAGELAYOUT now{};
    if (toSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &now) != TWRC_SUCCESS) return error("the image size is unknown");
    if (now.Frame.Right.Whole - now.Frame.Left.Whole != width ||
        now.Frame.Bottom.Whole - now.Frame.Top.Whole != height) {
      std::fprintf(stderr, "qrscan: the source has no %d x %d images (it delivers %d x %d)\n", width, height,
                   now.Frame.Right.Whole - now.Frame.Left.Whole, now.Frame.Bottom.Whole - now.Frame.Top.Whole);
      return false;
    }
    return true;
  }

  // Enables the source and waits, through the message loop, for the image it announces.
  bool waitForImage(bool showUi) {
    TW_USERINTERFACE ui{static_cast<TW_BOOL>(showUi), FALSE, window_};
    if (toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
      return error(showUi ? "the source cannot show its user interface" : "the source could not be enabled");
    }
    enabled_ = true;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TW_EVENT event{&message, MSG_NULL};
      if (toSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_DSEVENT) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        continue;
      }
      if (event.TWMessage == MSG_XFERREADY) return true;
      if (event.TWMessage == MSG_CLOSEDSREQ) return error("the source closed without an image");
    }
    return error("the message loop ended");
  }

  bool imageInfo(TW_IMAGEINFO& info) {
    return toSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) == TWRC_SUCCESS || error("no image information");
  }

  // The packed bitmap the source hands over, read into a vic32 image.
  bool nativeTransfer(ImageDescriptor& image) {
    TW_HANDLE handle = nullptr;
    if (toSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) != TWRC_XFERDONE || !handle) {
      return error("the native transfer failed");
    }
    const auto* dib = static_cast<const BYTE*>(GlobalLock(handle));
    const bool ok = dib && dibtoimage(dib, &image) == 0;
    if (dib) GlobalUnlock(handle);
    GlobalFree(handle);
    endTransfer();
    return ok || error("the transferred bitmap is not readable");
  }

  // Strips of whole rows, top row first with red first, into a bottom-up vic32 image.
  bool memoryTransfer(const TW_IMAGEINFO& info, TW_UINT32 stripBytes, ImageDescriptor& image) {
    TW_SETUPMEMXFER setup{};
    if (toSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) return error("no memory set-up");
    if (stripBytes == 0) stripBytes = setup.Preferred;
    const int bits = info.BitsPerPixel;
    // An 8-bit image starts with the grey ramp, the palette the source announces.
    if (allocimage(&image, info.ImageWidth, info.ImageLength, bits) != 0) return error("not enough memory");
    std::vector<BYTE> strip(stripBytes);
    TW_UINT32 rowsDone = 0;
    const TW_UINT32 rows = static_cast<TW_UINT32>(info.ImageLength);
    for (;;) {
      TW_IMAGEMEMXFER xfer{};
      xfer.Memory.Flags = 0x0001 | 0x0010;  // TWMF_APPOWNS | TWMF_POINTER
      xfer.Memory.Length = stripBytes;
      xfer.Memory.TheMem = strip.data();
      const TW_UINT16 rc = toSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
      if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
        return error("the memory transfer failed after " + std::to_string(rowsDone) + " rows");
      }
      if (!storeStrip(xfer, strip.data(), bits, image)) return error("the source sent a strip outside the image");
      rowsDone += xfer.Rows;
      std::fprintf(stderr, "\rqrscan: %lu of %lu rows", static_cast<unsigned long>(rowsDone),
                   static_cast<unsigned long>(rows));
      if (rc == TWRC_XFERDONE) break;
    }
    std::fprintf(stderr, "\n");
    endTransfer();
    return rowsDone == rows || error("the memory transfer ended early");
  }

  void close() {
    if (enabled_) {
      TW_USERINTERFACE ui{FALSE, FALSE, window_};
      toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      enabled_ = false;
    }
    if (sourceOpen_) toManager(DAT_IDENTITY, MSG_CLOSEDS, &source_);
    sourceOpen_ = false;
    if (managerOpen_) toManager(DAT_PARENT, MSG_CLOSEDSM, &window_);
    managerOpen_ = false;
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    if (manager_) FreeLibrary(manager_);
    manager_ = nullptr;
  }

 private:
  static bool error(const std::string& text) {
    std::fprintf(stderr, "qrscan: %s\n", text.c_str());
    return false;
  }

  TW_UINT16 toManager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return entry_(&application_, nullptr, DG_CONTROL, dat, msg, data);
  }
  TW_UINT16 toSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return entry_(&application_, &source_, dg, dat, msg, data);
  }
  TW_UINT16 sourceCondition() {
    TW_STATUS status{};
    return toSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS ? status.ConditionCode : TWCC_BUMMER;
  }

  bool setOneValue(TW_UINT16 cap, TW_UINT16 value) {
    HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    if (!container) return false;
    auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(container));
    one->ItemType = TWTY_UINT16;
    one->Item = value;
    GlobalUnlock(container);
    TW_CAPABILITY capability{cap, TWON_ONEVALUE, container};
    const bool ok = toSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability) == TWRC_SUCCESS;
    GlobalFree(container);
    return ok;
  }

  void endTransfer() {
    TW_PENDINGXFERS pending{};
    toSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  }

  static bool storeStrip(const TW_IMAGEMEMXFER& xfer, const BYTE* strip, int bits, ImageDescriptor& image) {
    const TW_UINT32 width = static_cast<TW_UINT32>(image.endx - image.stx + 1);
    const TW_UINT32 height = static_cast<TW_UINT32>(image.endy - image.sty + 1);
    const TW_UINT32 pixelBytes = static_cast<TW_UINT32>(bits / 8);
    if (xfer.Rows == 0) return true;
    if (xfer.Columns != width || xfer.BytesPerRow < width * pixelBytes || xfer.YOffset + xfer.Rows > height ||
        static_cast<unsigned long long>(xfer.Rows) * xfer.BytesPerRow > xfer.Memory.Length) {
      return false;
    }
    for (TW_UINT32 r = 0; r < xfer.Rows; ++r) {
      const BYTE* in = strip + static_cast<size_t>(r) * xfer.BytesPerRow;
      BYTE* out = image.ibuff + static_cast<size_t>(height - 1 - (xfer.YOffset + r)) * image.buffwidth;
      if (pixelBytes == 3) {
        for (TW_UINT32 x = 0; x < width; ++x) {
          out[3 * x] = in[3 * x + 2];
          out[3 * x + 1] = in[3 * x + 1];
          out[3 * x + 2] = in[3 * x];
        }
      } else {
        std::memcpy(out, in, width * pixelBytes);
      }
    }
    return true;
  }

  HMODULE manager_ = nullptr;
  DSMENTRYPROC entry_ = nullptr;
  HWND window_ = nullptr;
  TW_IDENTITY application_{};
  TW_IDENTITY source_{};
  bool managerOpen_ = false, sourceOpen_ = false, enabled_ = false;
};

int list() {
  Session session;
  if (!session.openManager()) return 1;
  for (const TW_IDENTITY& identity : session.sources()) {
    std::printf("%s\t%s\t%s\t%u.%u\n", identity.ProductName, identity.Manufacturer, identity.ProductFamily,
                identity.Version.MajorNum, identity.Version.MinorNum);
  }
  return 0;
}

int acquire(const Options& options) {
  Session session;
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
