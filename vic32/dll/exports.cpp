// The DLL's exported calls: thin __stdcall wrappers over the Win32-free record and codec code.
#include "vic32.h"

#include "../formats/formats.h"

static_assert(sizeof(VicFileInfo) == sizeof(vic::FileInfo), "info record layout");
static_assert(sizeof(RECT) == sizeof(vic::Rect), "RECT layout");

namespace {

vic::FileInfo* asInfo(VicFileInfo* info) { return reinterpret_cast<vic::FileInfo*>(info); }

// An encoder with its option or quality bound, as saveFile calls encoders.
auto withOption(int (*encode)(const vic::Picture&, int, std::vector<uint8_t>&), LONG option) {
  return
      [encode, option](const vic::Picture& picture, std::vector<uint8_t>& out) { return encode(picture, option, out); };
}

}  // namespace

extern "C" {

LONG WINAPI allocimage(ImageDescriptor* image, LONG width, LONG height, LONG bits) {
  return vic::allocImage(image, width, height, bits);
}
void WINAPI freeimage(ImageDescriptor* image) { vic::freeImage(image); }
LONG WINAPI copyimage(const ImageDescriptor* source, ImageDescriptor* destination) {
  return vic::copyImage(source, destination);
}
LONG WINAPI copyimagepalette(const ImageDescriptor* source, ImageDescriptor* destination) {
  return vic::copyImagePalette(source, destination);
}
LONG WINAPI copyimgdes(const ImageDescriptor* source, ImageDescriptor* destination) {
  return vic::copyImgDes(source, destination);
}
LONG WINAPI recttoimagearea(const RECT* rect, ImageDescriptor* image) {
  return vic::rectToImageArea(reinterpret_cast<const vic::Rect*>(rect), image);
}
LONG WINAPI imageareatorect(const ImageDescriptor* image, RECT* rect) {
  return vic::imageAreaToRect(image, reinterpret_cast<vic::Rect*>(rect));
}
LONG WINAPI dibtoimage(const BYTE* dib, ImageDescriptor* image) { return vic::dibToImage(dib, 0, image); }
LONG WINAPI imagetodib(const ImageDescriptor* image, BYTE** dib) { return vic::imageToDib(image, dib); }

LONG WINAPI bmpinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::bmpInfo, asInfo(info)); }
LONG WINAPI loadbmp(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeBmp, image); }
LONG WINAPI savebmp(const char* name, const ImageDescriptor* image, LONG option) {
  return vic::saveFile(name, image, withOption(vic::encodeBmp, option));
}

LONG WINAPI gifinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::gifInfo, asInfo(info)); }
LONG WINAPI loadgif(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeGif, image); }
LONG WINAPI savegif(const char* name, const ImageDescriptor* image) {
  return vic::saveFile(name, image, vic::encodeGif);
}

LONG WINAPI jpeginfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::jpegInfo, asInfo(info)); }
LONG WINAPI loadjpg(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeJpeg, image); }
LONG WINAPI savejpg(const char* name, const ImageDescriptor* image, LONG quality) {
  return vic::saveFile(name, image, withOption(vic::encodeJpeg, quality));
}

LONG WINAPI pcxinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::pcxInfo, asInfo(info)); }
LONG WINAPI loadpcx(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodePcx, image); }
LONG WINAPI savepcx(const char* name, const ImageDescriptor* image) {
  return vic::saveFile(name, image, vic::encodePcx);
}

LONG WINAPI tgainfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::tgaInfo, asInfo(info)); }
LONG WINAPI loadtga(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeTga, image); }
LONG WINAPI savetga(const char* name, const ImageDescriptor* image, LONG option) {
  return vic::saveFile(name, image, withOption(vic::encodeTga, option));
}

LONG WINAPI tiffinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::tiffInfo, asInfo(info)); }
LONG WINAPI loadtif(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeTiff, image); }
LONG WINAPI savetif(const char* name, const ImageDescriptor* image, LONG option) {
  return vic::saveFile(name, image, withOption(vic::encodeTiff, option));
}

LONG WINAPI saveeps(const char* name, const ImageDescriptor* image) {
  return vic::saveFile(name, image, vic::encodeEps);
}

}  // extern "C"
