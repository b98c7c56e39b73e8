// The data source as one record per process: the identities, the TWAIN state as the source sees
// it, the condition code, the camera settings of the current profile, the capability tables and
// the images. DS_Entry hands every call to TwainSource::entry, which never throws.
#pragma once
#include <windows.h>

#include "vic32.h"
#include "profile_store.h"
#include "twain.h"

namespace twain {

class TwainDialog;

// A list capability (pixel type, transfer mechanism): an item count, a current choice and room
// for four 16-bit items (8 bytes).
struct ListTable {
  TW_UINT16 count;
  TW_UINT16 current;  // the pixel type's current value; the transfer mechanism's current index
  TW_UINT16 items[4];
};

constexpr ListTable kXferMechReset = {2, 0, {TWSX_NATIVE, TWSX_MEMORY, 0, 0}};
constexpr ListTable kPixelTypeReset = {2, TWPT_RGB, {TWPT_RGB, TWPT_PALETTE, TWPT_RGB, TWPT_RGB}};

// Width and height of a size index (the "Resolution" profile value); any other index is
// 160 x 120.
struct FrameSize {
  LONG width, height;
};
FrameSize frameSize(LONG sizeIndex);

class TwainSource {
 public:
  TwainSource();

  // From the DLL entry point: keeps the module handle and, once, fills the own identity.
  void attach(HINSTANCE instance);
  // The whole of DS_Entry.
  TW_UINT16 entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

 private:
  // The control panel works on the source's settings, grabs and announcements.
  friend class TwainDialog;

  TW_UINT16 dispatch(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 control(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 image(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 processEvent(TW_MEMREF data);

  // Sets the condition code, traces the failing site and returns TWRC_FAILURE.
  TW_UINT16 fail(int site, TW_UINT16 condition);
  bool stateIn(int low, int high) const { return state_ >= low && state_ <= high; }

  // DAT_IDENTITY and the session.
  TW_UINT16 identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_MEMREF data);
  void openSource(TW_IDENTITY* origin, TW_IDENTITY* managerCopy);
  void closeSource();
  bool openPanel();
  void closePanel();
  void readConnection();
  void loadSettings();
  void applyCameraSettings();
  void notifyApplication(TW_UINT16 msg);

  // DAT_USERINTERFACE and the small control triplets.
  TW_UINT16 userInterface(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 pendingTransfers(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 status(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 transferGroup(TW_UINT16 msg, TW_MEMREF data);
  void acquireWithoutWindow();

  // Capabilities and the image description (capabilities.cpp).
  TW_UINT16 capability(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 getCapability(TW_UINT16 msg, TW_CAPABILITY& cap);
  TW_UINT16 setCapability(TW_CAPABILITY& cap);
  TW_UINT16 resetCapability(TW_CAPABILITY& cap);
  TW_UINT16 setListCapability(TW_CAPABILITY& cap, ListTable& table, bool pixelType);
  TW_UINT16 imageInfo(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 imageLayout(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 palette8(TW_UINT16 msg, TW_MEMREF data);
  void followPixelType();
  FrameSize deliveredSize() const;

  // Frame grabs and transfers (transfers.cpp).
  void grabPreviewFrame();
  void grabFullFrame();
  void handleReadResult(LONG result);
  void announceImage();
  TW_UINT16 setupMemoryTransfer(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 nativeTransfer(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 memoryTransfer(TW_UINT16 msg, TW_MEMREF data);
  void endMemoryTransfer(TW_IMAGEMEMXFER& xfer);

  TW_IDENTITY own_{};
  TW_IDENTITY application_{};
  int state_ = 3;
  TW_UINT16 condition_ = TWCC_SUCCESS;
  TW_UINT16 statusReserved_ = 0;
  BOOL showUI_ = FALSE;
  LONG libraryResult_ = 0;
  BOOL cameraFound_ = FALSE;
  BOOL windowUp_ = FALSE;
  HWND window_ = nullptr;
  TwainDialog* panel_ = nullptr;
  HINSTANCE instance_ = nullptr;
  bool identityFilled_ = false;
  const char* settingsKey_ = "Twain";
  // What the camera information shows of the connection, read at open.
  struct Connection {
    LONG busType;   // 1 parallel port, 2 USB
    LONG port[3];   // parallel port: number, address, mode
    LONG deviceId;  // USB
    char serial[128];
  } connection_{};
  profiles::ProfileSettings settings_;

  ListTable xferMech_ = kXferMechReset;
  ListTable pixelType_ = kPixelTypeReset;
  TW_UINT32 documentCounter_ = 0;

  BOOL transferFinished_ = FALSE;
  BOOL firstStrip_ = TRUE;
  TW_UINT32 rowsDelivered_ = 0;
  TW_UINT32 memoryCalls_ = 0;

  ImageDescriptor fullImage_{};
  ImageDescriptor previewImage_{};
  ImageDescriptor rotationImage_{};
};

TwainSource& theSource();

// Trace hooks: the entry point formats its lines for them, and they discard what they get.
void traceLine(const char* text);
void traceFailure(int site, TW_UINT16 condition);
// Formats one line with one number and hands it to traceLine.
void traceValue(const char* format, long value);

// Frees the image when it holds one and marks it empty.
void freeIfHeld(ImageDescriptor& image);

}  // namespace twain
