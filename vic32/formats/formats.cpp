#include "formats.h"

#include <new>

#include "fileio.h"

namespace vic {

int fileInfo(const char* name, InfoDecoder decoder, FileInfo* info) {
  if (!info) return kBadBuffer;
  std::vector<uint8_t> bytes;
  int result = readWholeFile(name, bytes);
  if (result != kOk) return result;
  FileInfo found{};
  result = decoder(bytes.data(), bytes.size(), found);
  if (result == kOk) *info = found;
  return result;
}

int loadFile(const char* name, PictureDecoder decoder, ImageDescriptor* descriptor) {
  ImageView view;
  if (viewOf(descriptor, view) != kOk) return kBadBuffer;
  std::vector<uint8_t> bytes;
  int result = readWholeFile(name, bytes);
  if (result != kOk) return result;
  Picture picture;
  try {
    result = decoder(bytes.data(), bytes.size(), picture);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  if (result != kOk) return result;
  return pictureToImage(picture, descriptor);
}

}  // namespace vic
