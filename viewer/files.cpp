// The viewer's format table: which image-library routine loads and saves each extension, with
// the option each save type gives it, and the lists the file dialogs offer.
#include "files.h"

#include <cstring>

namespace viewer {
namespace files {

namespace {

const char* const kTypeExtensions[kTypeCount] = {"TIF", "TIF", "TIF", "TIF", "TIF", "PCX", "GIF",
                                                 "TGA", "TGA", "BMP", "BMP", "JPG", "EPS"};

using InfoCall = LONG(WINAPI*)(const char*, VicFileInfo*);
using LoadCall = LONG(WINAPI*)(const char*, ImageDescriptor*);

// The save type a loaded file was written with.
LONG tifType(const VicFileInfo& info) {
  switch (info.compression) {
    case 2:
      return 3;
    case 4:
      return 4;
    case 5:
      return 1;
    case 32773:
      return 2;
  }
  return 0;
}
LONG pcxType(const VicFileInfo&) { return 5; }
LONG gifType(const VicFileInfo&) { return 6; }
LONG tgaType(const VicFileInfo& info) { return info.imageType == 10 ? 8 : 7; }
LONG bmpType(const VicFileInfo& info) { return info.compression == 1 ? 10 : 9; }
LONG jpgType(const VicFileInfo&) { return 11; }

enum class Saver { Tif, Pcx, Gif, Tga, Bmp, Jpg, Eps };

struct FormatRow {
  const char* extension;
  InfoCall info;  // null: the row does not load
  LoadCall load;
  LONG (*typeOf)(const VicFileInfo&);
  Saver save;
};

// Searched in order; only the rows before the last load.
const FormatRow kFormats[] = {
    {".TIF", tiffinfo, loadtif, tifType, Saver::Tif}, {".TIF", tiffinfo, loadtif, tifType, Saver::Tif},
    {".TIF", tiffinfo, loadtif, tifType, Saver::Tif}, {".TIF", tiffinfo, loadtif, tifType, Saver::Tif},
    {".TIF", tiffinfo, loadtif, tifType, Saver::Tif}, {".PCX", pcxinfo, loadpcx, pcxType, Saver::Pcx},
    {".GIF", gifinfo, loadgif, gifType, Saver::Gif},  {".TGA", tgainfo, loadtga, tgaType, Saver::Tga},
    {".TGA", tgainfo, loadtga, tgaType, Saver::Tga},  {".BMP", bmpinfo, loadbmp, bmpType, Saver::Bmp},
    {".BMP", bmpinfo, loadbmp, bmpType, Saver::Bmp},  {".JPG", jpeginfo, loadjpg, jpgType, Saver::Jpg},
    {".JPG", jpeginfo, loadjpg, jpgType, Saver::Jpg}, {".EPS", nullptr, nullptr, nullptr, Saver::Eps},
};
constexpr int kFormatRows = sizeof kFormats / sizeof kFormats[0];
constexpr int kLoadableRows = kFormatRows - 1;

const FormatRow* findRow(const std::string& extension, int rows) {
  if (extension.empty()) return nullptr;
  for (int i = 0; i < rows; ++i)
    if (lstrcmpiA(kFormats[i].extension, extension.c_str()) == 0) return &kFormats[i];
  return nullptr;
}

const BYTE kCodes1[] = {9, 5, 0, 3, 4, 2, kEndOfCodes};
const BYTE kCodes8[] = {9, 10, kEpsListCode, 6, 11, 5, 0, 1, 2, kEndOfCodes};
const BYTE kCodes24[] = {9, 11, 7, 8, 0, 1, kEndOfCodes};

}  // namespace

const char kOpenFilter[] =
    "All Importable Files |*.TIF;*.PCX;*.GIF;*.TGA;*.BMP;*.JPG|Bitmap Files (*.BMP)|*.bmp|JPEG Files "
    "(*.JPG)|*.jpg|GIF Files (*.GIF)|*.gif|PCX Files (*.PCX)|*.pcx|TGA Files (*.TGA)|*.tga|TIF Files "
    "(*.TIF)|*.tif|All Files (*.*)|*.*|";

const char* defaultExtension(LONG code) {
  if (code == kEpsListCode) return "EPS";
  return code >= 0 && code < kTypeCount ? kTypeExtensions[code] : nullptr;
}

std::string extensionOf(const std::string& name) {
  const std::size_t folder = name.find_last_of("\\/:");
  const std::size_t start = folder == std::string::npos ? 0 : folder + 1;
  const std::size_t point = name.rfind('.');
  if (point == std::string::npos || point < start) return {};
  return name.substr(point);
}

LONG loadByName(const std::string& name, ImageDescriptor& image, LONG& saveType) {
  const FormatRow* row = findRow(extensionOf(name), kLoadableRows);
  if (!row) return -11;
  VicFileInfo info = {};
  LONG code = row->info(name.c_str(), &info);
  if (code != 0) return code;
  // Loaded into an image of its own: the picture shown stays until the new one is whole.
  ImageDescriptor loaded = {};
  code = allocimage(&loaded, info.width, info.height, info.bits);
  if (code != 0) return code;
  code = row->load(name.c_str(), &loaded);
  if (code != 0) {
    freeimage(&loaded);
    return code;
  }
  if (image.bmh) freeimage(&image);
  image = loaded;
  saveType = row->typeOf(info);
  return 0;
}

LONG saveByName(const std::string& name, const ImageDescriptor& image, LONG code, const JpegWriter& jpeg) {
  const FormatRow* row = findRow(extensionOf(name), kFormatRows);
  if (!row) return -11;
  const char* file = name.c_str();
  switch (row->save) {
    case Saver::Tif:
      return savetif(file, &image, code >= 0 && code <= 4 ? code : 0);
    case Saver::Pcx:
      return savepcx(file, &image);
    case Saver::Gif:
      return savegif(file, &image);
    case Saver::Tga:
      return savetga(file, &image, code == 7 || code == 8 ? code - 7 : 0);
    case Saver::Bmp:
      return savebmp(file, &image, code == 9 || code == 10 ? code - 9 : 0);
    case Saver::Jpg:
      return jpeg(file, image);
    case Saver::Eps:
      return saveeps(file, &image);
  }
  return -11;
}

SaveList saveListFor(LONG bits) {
  if (bits == 1)
    return {"BMP |*.bmp|PCX |*.pcx|TIF |*.tif|TIF Group 3 |*.tif|TIF Group 4 |*.tif|TIF PackBits|*.tif|All Files |*.*|",
            kCodes1};
  if (bits == 8)
    return {
        "BMP |*.bmp|BMP RLE8 |*.bmp|EPS(PostScript) |*.eps|GIF |*.gif|JPEG |*.jpg|PCX |*.pcx|TIF |*.tif|TIF LZW "
        "|*.tif|TIF PackBits |*.tif|All Files |*.*|",
        kCodes8};
  return {"BMP |*.bmp|JPEG |*.jpg|TGA |*.tga|TGA RLE |*.tga|TIF |*.tif|TIF LZW |*.tif|All Files |*.*|", kCodes24};
}

DWORD filterIndexOf(const SaveList& list, LONG code) {
  for (DWORD i = 0; list.codes[i] != kEndOfCodes; ++i)
    if (list.codes[i] == code) return i + 1;
  return 1;
}

LONG codeOfFilterIndex(const SaveList& list, DWORD index) {
  for (DWORD i = 0; list.codes[i] != kEndOfCodes; ++i)
    if (i + 1 == index) return list.codes[i];
  return -1;
}

LONG packedBitmapCheck(const BYTE* data, SIZE_T size) {
  if (!data || size < sizeof(BITMAPINFOHEADER)) return -5;
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > size) return -5;
  if (header.biCompression != BI_RGB) return -12;
  const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  const WORD bits = header.biBitCount;
  if (header.biWidth <= 0 || height <= 0 || header.biWidth > 32768 || height > 32768 || header.biPlanes != 1) return -5;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return -26;
  const unsigned long long colours =
      bits > 8 ? header.biClrUsed : (header.biClrUsed ? header.biClrUsed : (1ull << bits));
  if (colours > 256 && bits <= 8) return -5;
  const unsigned long long row = ((static_cast<unsigned long long>(header.biWidth) * bits + 31) / 32) * 4;
  const unsigned long long need = header.biSize + colours * 4 + row * height;
  return need > size ? -5 : 0;
}

std::vector<char> dialogFilter(const char* filter) {
  std::vector<char> text(filter, filter + std::strlen(filter) + 1);
  for (char& c : text)
    if (c == '|') c = 0;
  text.push_back(0);
  return text;
}

}  // namespace files
}  // namespace viewer
