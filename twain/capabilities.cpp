// DAT_CAPABILITY and the image description: DAT_IMAGEINFO, DAT_IMAGELAYOUT, DAT_PALETTE8.
#include <cstring>

#include "twain_source.h"

namespace twain {

namespace {

size_t itemSize(TW_UINT16 itemType) {
  switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
      return 4;
    default:
      return 2;
  }
}

// The containers go to the application in movable global memory, which it then frees. A block
// that cannot be had leaves hContainer null and the call fails.
bool oneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, TW_UINT32 item) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE));
  auto* value = block ? static_cast<TW_ONEVALUE*>(GlobalLock(block)) : nullptr;
  if (!value) {
    if (block) GlobalFree(block);
    cap.hContainer = nullptr;
    return false;
  }
  value->ItemType = itemType;
  value->Item = item;
  GlobalUnlock(block);
  cap.ConType = TWON_ONEVALUE;
  cap.hContainer = block;
  return true;
}

bool enumeration(TW_CAPABILITY& cap, const ListTable& table, TW_UINT32 currentIndex) {
  cap.ConType = TWON_ENUMERATION;
  const size_t size = itemSize(TWTY_UINT16) * table.count + 16;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  auto* list = block ? static_cast<TW_ENUMERATION*>(GlobalLock(block)) : nullptr;
  if (!list) {
    if (block) GlobalFree(block);
    cap.hContainer = nullptr;
    return false;
  }
  list->ItemType = TWTY_UINT16;
  list->NumItems = table.count;
  list->CurrentIndex = currentIndex;
  list->DefaultIndex = 0;
  std::memcpy(list->ItemList, table.items, itemSize(TWTY_UINT16) * table.count);
  GlobalUnlock(block);
  cap.hContainer = block;
  return true;
}

// The position of `value` in the table's list, 0 when it is not there.
TW_UINT16 positionOf(const ListTable& table, TW_UINT16 value) {
  for (TW_UINT16 i = 0; i < table.count && i < 4; ++i) {
    if (table.items[i] == value) return i;
  }
  return 0;
}

// What an application's MSG_SET container held, read only as far as the block reaches.
struct SetRequest {
  bool valid = false;
  TW_UINT16 itemType = 0;
  TW_UINT32 item = 0;  // one value
  TW_UINT32 numItems = 0, currentIndex = 0;
  BYTE items[8] = {};
  size_t itemBytes = 0;  // bytes of the list that fit into the table, 0: the list is not taken
};

SetRequest readContainer(const TW_CAPABILITY& cap, bool asEnumeration) {
  SetRequest request;
  const SIZE_T blockSize = cap.hContainer ? GlobalSize(cap.hContainer) : 0;
  const BYTE* bytes = blockSize ? static_cast<const BYTE*>(GlobalLock(cap.hContainer)) : nullptr;
  if (!bytes) return request;
  if (!asEnumeration && blockSize >= sizeof(TW_ONEVALUE)) {
    TW_ONEVALUE value;
    std::memcpy(&value, bytes, sizeof value);
    request.itemType = value.ItemType;
    request.item = value.Item;
    request.valid = true;
  } else if (asEnumeration && blockSize >= offsetof(TW_ENUMERATION, ItemList)) {
    TW_ENUMERATION head;
    std::memcpy(&head, bytes, offsetof(TW_ENUMERATION, ItemList));
    request.itemType = head.ItemType;
    request.numItems = head.NumItems;
    request.currentIndex = head.CurrentIndex & 0xffff;
    const size_t listBytes = itemSize(head.ItemType) * head.NumItems;
    if (head.NumItems <= 8 && listBytes <= sizeof request.items &&
        blockSize >= offsetof(TW_ENUMERATION, ItemList) + listBytes) {
      std::memcpy(request.items, bytes + offsetof(TW_ENUMERATION, ItemList), listBytes);
      request.itemBytes = listBytes;
    }
    request.valid = true;
  }
  GlobalUnlock(cap.hContainer);
  return request;
}

}  // namespace

FrameSize frameSize(LONG sizeIndex) {
  static const FrameSize sizes[] = {{640, 480}, {320, 240}, {160, 120}, {352, 288}, {176, 144}, {1280, 960}};
  return sizeIndex >= 0 && sizeIndex < 6 ? sizes[sizeIndex] : FrameSize{160, 120};
}

FrameSize TwainSource::deliveredSize() const {
  FrameSize size = frameSize(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Resolution")]);
  if (settings_[PROFILE_VALUE(profiles::kTwainLayout, "Rotate Image")] != 0) return {size.height, size.width};
  return size;
}

void TwainSource::followPixelType() {
  settings_[PROFILE_VALUE(profiles::kTwainLayout, "Format")] = pixelType_.current == TWPT_RGB ? 0 : 1;
}

TW_UINT16 TwainSource::capability(TW_UINT16 msg, TW_MEMREF data) {
  auto* cap = static_cast<TW_CAPABILITY*>(data);
  const TW_UINT16 number = cap ? cap->Cap : 0;
  switch (msg) {
    case MSG_GET:
      traceValue("MSG GET Cap = %d\r\n", number);
      break;
    case MSG_GETCURRENT:
      traceValue("MSG GETCURRENT Cap = %d\r\n", number);
      break;
    case MSG_GETDEFAULT:
      traceValue("MSG GETDEFAULT Cap = %d\r\n", number);
      break;
    case MSG_SET:
      traceValue("MSG SET Cap = %d\r\n", number);
      break;
    case MSG_RESET:
      traceValue("MSG RESET Cap = %d\r\n", number);
      break;
    default:
      return fail(100, TWCC_BADPROTOCOL);
  }
  if (!cap) return fail(101, TWCC_BADVALUE);
  if (msg == MSG_SET) return setCapability(*cap);
  if (msg == MSG_RESET) return resetCapability(*cap);
  return getCapability(msg, *cap);
}

TW_UINT16 TwainSource::getCapability(TW_UINT16 msg, TW_CAPABILITY& cap) {
  bool made;
  switch (cap.Cap) {
    case CAP_XFERCOUNT:
      made = oneValue(cap, TWTY_UINT16, 1);
      break;
    case ICAP_COMPRESSION:
      made = oneValue(cap, TWTY_UINT16, TWCP_NONE);
      break;
    case ICAP_UNITS:
      made = oneValue(cap, TWTY_UINT16, TWUN_PIXELS);
      break;
    case CAP_UICONTROLLABLE:
      made = oneValue(cap, TWTY_BOOL, TRUE);
      break;
    case ICAP_PIXELFLAVOR:
      made = oneValue(cap, TWTY_UINT16, TWPF_CHOCOLATE);
      break;
    case ICAP_PIXELTYPE:
      if (msg == MSG_GET) {
        made = enumeration(cap, pixelType_, positionOf(pixelType_, pixelType_.current));
      } else {
        made = oneValue(cap, TWTY_UINT16, msg == MSG_GETCURRENT ? pixelType_.current : TWPT_RGB);
      }
      break;
    case ICAP_XFERMECH:
      if (msg == MSG_GET) {
        made = enumeration(cap, xferMech_, xferMech_.current);
      } else {
        made = oneValue(cap, TWTY_UINT16, msg == MSG_GETCURRENT ? xferMech_.items[xferMech_.current] : TWSX_NATIVE);
      }
      break;
    default:
      return fail(110, TWCC_BADCAP);
  }
  return made ? TW_UINT16(TWRC_SUCCESS) : fail(111, TWCC_LOWMEMORY);
}

TW_UINT16 TwainSource::setCapability(TW_CAPABILITY& cap) {
  switch (cap.Cap) {
    case CAP_UICONTROLLABLE:
      return fail(120, TWCC_BADCAP);
    case ICAP_PIXELTYPE:
      return setListCapability(cap, pixelType_, true);
    case ICAP_XFERMECH:
      return setListCapability(cap, xferMech_, false);
    case CAP_XFERCOUNT:
    case ICAP_COMPRESSION:
    case ICAP_UNITS:
    case ICAP_PIXELFLAVOR:
      break;
    default:
      return fail(121, TWCC_BADCAP);
  }
  const SetRequest request = readContainer(cap, false);
  if (!request.valid) return fail(122, TWCC_BADVALUE);
  bool accepted;
  switch (cap.Cap) {
    case CAP_XFERCOUNT:  // one image per acquisition whatever the application asks, but not none
      accepted = request.item != 0;
      break;
    case ICAP_UNITS:
      accepted = request.item == TWUN_PIXELS;
      break;
    default:  // compression none, chocolate pixels
      accepted = request.item == 0;
      break;
  }
  return accepted ? TW_UINT16(TWRC_SUCCESS) : fail(123, TWCC_BADVALUE);
}

TW_UINT16 TwainSource::setListCapability(TW_CAPABILITY& cap, ListTable& table, bool pixelType) {
  if (cap.ConType == TWON_ONEVALUE) {
    const SetRequest request = readContainer(cap, false);
    if (!request.valid) return fail(130, TWCC_BADVALUE);
    const auto value = static_cast<TW_UINT16>(request.item);
    table.current = pixelType ? value : positionOf(table, value);
  } else {
    // Ranges and arrays are not lists of choices; an index outside the list picks nothing.
    if (cap.ConType != TWON_ENUMERATION) return fail(131, TWCC_BADVALUE);
    const SetRequest request = readContainer(cap, true);
    if (!request.valid) return fail(132, TWCC_BADVALUE);
    if (request.currentIndex >= request.numItems || request.currentIndex >= table.count) {
      return fail(133, TWCC_BADVALUE);
    }
    if (request.itemBytes) std::memcpy(table.items, request.items, request.itemBytes);
    const auto index = static_cast<TW_UINT16>(request.currentIndex);
    table.current = pixelType ? table.items[index] : index;
  }
  if (pixelType) followPixelType();
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::resetCapability(TW_CAPABILITY& cap) {
  TW_UINT16 itemType = TWTY_UINT16;
  TW_UINT32 value;
  switch (cap.Cap) {
    case CAP_XFERCOUNT:
      value = 1;
      break;
    case ICAP_COMPRESSION:
      value = TWCP_NONE;
      break;
    case ICAP_UNITS:
      value = TWUN_PIXELS;
      break;
    case CAP_UICONTROLLABLE:
      itemType = TWTY_BOOL;
      value = TRUE;
      break;
    case ICAP_PIXELFLAVOR:
      value = TWPF_CHOCOLATE;
      break;
    case ICAP_PIXELTYPE:
      pixelType_ = kPixelTypeReset;
      followPixelType();
      value = TWPT_RGB;
      break;
    case ICAP_XFERMECH:
      xferMech_ = kXferMechReset;
      value = TWSX_NATIVE;
      break;
    default:
      return fail(140, TWCC_BADCAP);
  }
  return oneValue(cap, itemType, value) ? TW_UINT16(TWRC_SUCCESS) : fail(141, TWCC_LOWMEMORY);
}

TW_UINT16 TwainSource::imageInfo(TW_UINT16 msg, TW_MEMREF data) {
  if (state_ != 6) return fail(150, TWCC_SEQERROR);
  if (msg != MSG_GET) return fail(151, TWCC_BADPROTOCOL);
  auto* info = static_cast<TW_IMAGEINFO*>(data);
  if (!info) return fail(152, TWCC_BADVALUE);
  traceLine("got to ImageInfoMsg\r\n");
  const FrameSize size = deliveredSize();
  const LONG format = settings_[PROFILE_VALUE(profiles::kTwainLayout, "Format")];
  std::memset(info, 0, sizeof *info);
  info->XResolution.Whole = 96;
  info->YResolution.Whole = 96;
  info->ImageWidth = size.width;
  info->ImageLength = size.height;
  const bool colour = format == 0;
  info->SamplesPerPixel = colour ? 3 : 1;
  info->BitsPerSample[0] = 8;
  if (colour) info->BitsPerSample[1] = info->BitsPerSample[2] = 8;
  info->BitsPerPixel = colour ? 24 : 8;
  info->Planar = FALSE;
  info->PixelType = colour ? TWPT_RGB : TWPT_PALETTE;
  info->Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::imageLayout(TW_UINT16 msg, TW_MEMREF data) {
  auto* layout = static_cast<TW_IMAGELAYOUT*>(data);
  switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT: {
      if (!layout) return fail(160, TWCC_BADVALUE);
      const FrameSize size = deliveredSize();
      std::memset(layout, 0, sizeof *layout);
      layout->Frame.Right.Whole = static_cast<TW_INT16>(size.width);
      layout->Frame.Bottom.Whole = static_cast<TW_INT16>(size.height);
      layout->DocumentNumber = ++documentCounter_;
      layout->PageNumber = 1;
      layout->FrameNumber = 1;
      return TWRC_SUCCESS;
    }
    case MSG_SET: {
      if (!layout) return fail(161, TWCC_BADVALUE);
      // Frames are matched against the landscape sizes, largest first; anything else keeps the
      // size as it is.
      static const LONG order[] = {5, 0, 3, 1, 4, 2};
      const auto width = static_cast<TW_INT16>(layout->Frame.Right.Whole - layout->Frame.Left.Whole);
      const auto height = static_cast<TW_INT16>(layout->Frame.Bottom.Whole - layout->Frame.Top.Whole);
      for (LONG index : order) {
        const FrameSize size = frameSize(index);
        if (size.width == width && size.height == height) {
          settings_[PROFILE_VALUE(profiles::kTwainLayout, "Resolution")] = index;
          break;
        }
      }
      return TWRC_SUCCESS;
    }
    case MSG_RESET:
      documentCounter_ = 0;
      return TWRC_SUCCESS;
    default:
      return fail(162, TWCC_BADPROTOCOL);
  }
}

TW_UINT16 TwainSource::palette8(TW_UINT16 msg, TW_MEMREF data) {
  if (!stateIn(4, 6)) return fail(170, TWCC_SEQERROR);
  if (msg != MSG_GET && msg != MSG_GETDEFAULT && msg != MSG_RESET) return fail(171, TWCC_BADPROTOCOL);
  auto* palette = static_cast<TW_PALETTE8*>(data);
  if (!palette) return fail(172, TWCC_BADVALUE);
  // The grey ramp of the 8-bit images, announced as TWPT_PALETTE.
  palette->NumColors = 256;
  palette->PaletteType = TWPA_RGB;
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<TW_UINT8>(i);
    palette->Colors[i] = {level, level, level, level};
  }
  return TWRC_SUCCESS;
}

}  // namespace twain
