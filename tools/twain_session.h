// An application's session with the TWAIN source manager (TWAIN_32.DLL) and one source: every
// call goes through DSM_Entry, as any imaging program's "Acquire" does. Errors are printed on
// stderr with the program's name. Used by qrscan and by the TWAIN benchmark.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "proc_address.h"
#include "twain.h"
#include "vic32.h"

namespace twainapp {

// The camera's own source, as the manager lists it.
constexpr char kOurSource[] = "Quorel Twain Driver 6.9.1.49";

class Session {
 public:
  // `program` names the messages; `progress` prints the rows of memory transfers as they come.
  explicit Session(const char* program, bool progress = true) : program_(program), progress_(progress) {}
  ~Session() { close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool openManager() {
    manager_ = LoadLibraryA("TWAIN_32.DLL");
    if (!manager_) return error("cannot load the TWAIN source manager (TWAIN_32.DLL)");
    entry_ = compat::procAddress<DSMENTRYPROC>(manager_, "DSM_Entry");
    if (!entry_) return error("TWAIN_32.DLL has no DSM_Entry");
    // The manager and the source post their notifications to this window's thread.
    window_ = CreateWindowExA(0, "STATIC", program_, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    application_.Version.MajorNum = 1;
    application_.Version.Language = 13;  // TWLG_ENGLISH
    application_.Version.Country = 1;    // TWCY_USA
    lstrcpyA(application_.Version.Info, "1.0");
    application_.ProtocolMajor = TWON_PROTOCOLMAJOR;
    application_.ProtocolMinor = TWON_PROTOCOLMINOR;
    application_.SupportedGroups = DG_CONTROL | DG_IMAGE;
    lstrcpyA(application_.Manufacturer, "Quorel");
    lstrcpyA(application_.ProductFamily, "Tools");
    lstrcpyA(application_.ProductName, program_);
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
    if (!known && !name.empty()) return error("no TWAIN source is called \"" + name + "\" (see the list of sources)");
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
      std::fprintf(stderr, "%s: the source has no %d x %d images (it delivers %d x %d)\n", program_, width, height,
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

  // The packed bitmap the source hands over (the caller frees it with GlobalFree), or null.
  TW_HANDLE transferNative() {
    TW_HANDLE handle = nullptr;
    if (toSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) != TWRC_XFERDONE || !handle) {
      error("the native transfer failed");
      return nullptr;
    }
    endTransfer();
    return handle;
  }

  // The same, read into a vic32 image.
  bool nativeTransfer(ImageDescriptor& image) {
    TW_HANDLE handle = transferNative();
    if (!handle) return false;
    const auto* dib = static_cast<const BYTE*>(GlobalLock(handle));
    const bool ok = dib && dibtoimage(dib, &image) == 0;
    if (dib) GlobalUnlock(handle);
    GlobalFree(handle);
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
      TW_IMAGEMEMXFER xfer;
      const TW_UINT16 rc = memoryStrip(strip.data(), stripBytes, xfer);
      if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
        return error("the memory transfer failed after " + std::to_string(rowsDone) + " rows");
      }
      if (!storeStrip(xfer, strip.data(), bits, image)) return error("the source sent a strip outside the image");
      rowsDone += xfer.Rows;
      if (progress_)
        std::fprintf(stderr, "\r%s: %lu of %lu rows", program_, static_cast<unsigned long>(rowsDone),
                     static_cast<unsigned long>(rows));
      if (rc == TWRC_XFERDONE) break;
    }
    if (progress_) std::fprintf(stderr, "\n");
    endTransfer();
    return rowsDone == rows || error("the memory transfer ended early");
  }

  // DAT_PENDINGXFERS / MSG_ENDXFER after the last strip (state 5, or 6 with more images).
  void finishTransfer() { endTransfer(); }

  // One DAT_IMAGEMEMXFER call into the caller's buffer: TWRC_SUCCESS, TWRC_XFERDONE or a failure.
  TW_UINT16 memoryStrip(void* buffer, TW_UINT32 length, TW_IMAGEMEMXFER& xfer) {
    xfer = TW_IMAGEMEMXFER{};
    xfer.Memory.Flags = 0x0001 | 0x0010;  // TWMF_APPOWNS | TWMF_POINTER
    xfer.Memory.Length = length;
    xfer.Memory.TheMem = buffer;
    return toSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
  }

  // Back to the open source (state 4), ready for another acquisition.
  void disable() {
    if (!enabled_) return;
    TW_USERINTERFACE ui{FALSE, FALSE, window_};
    toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    enabled_ = false;
  }

  void close() {
    disable();
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
  bool error(const std::string& text) const {
    std::fprintf(stderr, "%s: %s\n", program_, text.c_str());
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

  const char* program_;
  bool progress_;
  HMODULE manager_ = nullptr;
  DSMENTRYPROC entry_ = nullptr;
  HWND window_ = nullptr;
  TW_IDENTITY application_{};
  TW_IDENTITY source_{};
  bool managerOpen_ = false, sourceOpen_ = false, enabled_ = false;
};

}  // namespace twainapp
