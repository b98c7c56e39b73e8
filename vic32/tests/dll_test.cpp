// vic32.dll through its exports under Wine: every call of the header is exported undecorated from
// the one table, image blocks are locked movable global memory that GDI and the clipboard accept,
// packed bitmaps go out and come back, files saved through each format's call load back with the
// same pixels, and the pixel operations keep their arguments' order.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>

#include "test_image.h"
#include "vic32.h"

namespace {

using victest::Bgr;
using victest::TestImage;

// Every call vic32.h declares, with the address its import gives (a name that does not match its
// function fails the test below).
struct Call {
  const char* name;
  const void* address;
};
template <class Function>
Call call(const char* name, Function* function) {
  return Call{name, reinterpret_cast<const void*>(function)};
}
const Call kDeclaredCalls[] = {
    call("allocimage", allocimage),
    call("freeimage", freeimage),
    call("copyimage", copyimage),
    call("copyimagepalette", copyimagepalette),
    call("copyimgdes", copyimgdes),
    call("recttoimagearea", recttoimagearea),
    call("imageareatorect", imageareatorect),
    call("dibtoimage", dibtoimage),
    call("imagetodib", imagetodib),
    call("bmpinfo", bmpinfo),
    call("loadbmp", loadbmp),
    call("savebmp", savebmp),
    call("gifinfo", gifinfo),
    call("loadgif", loadgif),
    call("savegif", savegif),
    call("jpeginfo", jpeginfo),
    call("loadjpg", loadjpg),
    call("savejpg", savejpg),
    call("pcxinfo", pcxinfo),
    call("loadpcx", loadpcx),
    call("savepcx", savepcx),
    call("tgainfo", tgainfo),
    call("loadtga", loadtga),
    call("savetga", savetga),
    call("tiffinfo", tiffinfo),
    call("loadtif", loadtif),
    call("savetif", savetif),
    call("saveeps", saveeps),
    call("resize", resize),
    call("rotate90", rotate90),
    call("flipimage", flipimage),
    call("mirrorimage", mirrorimage),
    call("convertrgbtopal", convertrgbtopal),
    call("convertpaltorgb", convertpaltorgb),
    call("colortogray", colortogray),
    call("reduceimagecolors", reduceimagecolors),
    call("convert8bitto1bit", convert8bitto1bit),
    call("convert1bitto8bit", convert1bitto8bit),
    call("rainbowpalette", rainbowpalette),
    call("matchcolorimage", matchcolorimage),
    call("colordither", colordither),
    call("changebright", changebright),
    call("histobrighten", histobrighten),
    call("brightenmidrange", brightenmidrange),
    call("usetable", usetable),
    call("negative", negative),
    call("calcavglevel", calcavglevel),
    call("kodalith", kodalith),
    call("exchangelevel", exchangelevel),
    call("sharpengentle", sharpengentle),
    call("blur", blur),
    call("outline", outline),
    call("matrixconv", matrixconv),
    call("addimage", addimage),
    call("subimage", subimage),
    call("printimage", printimage),
};

// The names of vic32.def, as the build read them.
const char* const kExportTable[] = {
#include "def_exports.inc"
};

// The header and the export table name the same calls, and each is found by its undecorated
// name at the address that callers built against the header reach (a mismatched declaration
// would not link).
TEST(Vic32Dll, EveryDeclaredCallIsExportedUndecoratedFromTheOneTable) {
  HMODULE dll = GetModuleHandleA("vic32.dll");
  ASSERT_NE(nullptr, dll);
  std::set<std::string> declared, exported(std::begin(kExportTable), std::end(kExportTable));
  for (const Call& call : kDeclaredCalls) {
    declared.insert(call.name);
    EXPECT_EQ(call.address, reinterpret_cast<const void*>(GetProcAddress(dll, call.name))) << call.name;
  }
  EXPECT_EQ(exported, declared);
  EXPECT_EQ(nullptr, reinterpret_cast<const void*>(GetProcAddress(dll, "allocimage@16")));
}

// Calls through the import library keep the argument order: direction first, source, then
// destination; a bad stack depth would crash or garble the results here.
TEST(Vic32Dll, PixelOperationsKeepTheirArgumentOrder) {
  TestImage in(3, 2, 24), out(2, 3, 24), grey(2, 3, 8);
  in.setBgr(0, 0, Bgr{9, 8, 7});
  ASSERT_EQ(0, rotate90(0, &in.d, &out.d));
  EXPECT_EQ((Bgr{9, 8, 7}), out.bgr(1, 0));
  ASSERT_EQ(0, colortogray(&out.d, &grey.d));
  LONG average = -1, dark = -1, light = -1;
  ASSERT_EQ(0, calcavglevel(&grey.d, &average, &dark, &light));
  EXPECT_EQ(1, average);
  const signed char identity[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  EXPECT_EQ(0, matrixconv(identity, &out.d, &out.d));
  EXPECT_EQ(-42, resize(nullptr, &out.d));
  EXPECT_EQ(-1, printimage(nullptr, nullptr, 5, &in.d, nullptr, 0, nullptr));
}

struct Image {
  ImageDescriptor d{};
  ~Image() {
    if (d.bmh) freeimage(&d);
  }
};

void fillPattern(const ImageDescriptor& d) {
  const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(d.bmh);
  for (int y = 0; y < h->biHeight; ++y) {
    for (int x = 0; x < d.buffwidth; ++x) d.ibuff[y * d.buffwidth + x] = static_cast<BYTE>((x * 7 + y * 13) % 251);
  }
  if (h->biBitCount == 8) {  // a colour palette, so files must keep it
    for (int i = 0; i < 256; ++i) d.palette[i] = vic::RgbQuad{BYTE(i), BYTE(255 - i), BYTE(i * 3), 0};
  }
}

// Pixels only: the padding at the end of each row is not part of the picture.
bool samePixels(const ImageDescriptor& a, const ImageDescriptor& b) {
  const auto* ha = reinterpret_cast<const BITMAPINFOHEADER*>(a.bmh);
  const auto* hb = reinterpret_cast<const BITMAPINFOHEADER*>(b.bmh);
  if (ha->biWidth != hb->biWidth || ha->biHeight != hb->biHeight || ha->biBitCount != hb->biBitCount) return false;
  int usedBits = ha->biWidth * ha->biBitCount;
  for (int y = 0; y < ha->biHeight; ++y) {
    const BYTE* ra = a.ibuff + y * a.buffwidth;
    const BYTE* rb = b.ibuff + y * b.buffwidth;
    if (std::memcmp(ra, rb, usedBits / 8) != 0) return false;
    if (usedBits % 8) {
      BYTE mask = static_cast<BYTE>(0xFF00 >> (usedBits % 8));
      if ((ra[usedBits / 8] & mask) != (rb[usedBits / 8] & mask)) return false;
    }
  }
  for (int i = 0; i < a.colors; ++i) {
    if (std::memcmp(&a.palette[i], &b.palette[i], 3) != 0) return false;
  }
  return true;
}

std::string tempPath(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "vic32_dll_test_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

// A new temporary file holding `text`; returns its path.
std::string tempFileWith(const char* name, const char* text) {
  std::string path = tempPath(name);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(handle, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  CloseHandle(handle);
  return path;
}

TEST(Vic32Dll, ImagesAreLockedMovableGlobalBlocks) {
  for (LONG bits : {1L, 8L, 24L}) {
    Image image;
    ASSERT_EQ(0, allocimage(&image.d, 100, 50, bits));
    HGLOBAL handle = GlobalHandle(image.d.bmh);
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(1u, GlobalFlags(handle) & GMEM_LOCKCOUNT);
    EXPECT_GE(GlobalSize(handle), sizeof(BITMAPINFOHEADER) + 4u * image.d.colors + 50u * image.d.buffwidth);
    freeimage(&image.d);
    EXPECT_EQ(nullptr, image.d.bmh);
  }
  Image bad;
  EXPECT_EQ(-26, allocimage(&bad.d, 10, 10, 4));
}

TEST(Vic32Dll, GdiPaintsFromHeaderAndBuffer) {
  Image image;
  ASSERT_EQ(0, allocimage(&image.d, 16, 8, 24));
  BYTE* topRowFirstPixel = image.d.ibuff + 7 * image.d.buffwidth;  // rows are bottom-up
  topRowFirstPixel[0] = 0x30, topRowFirstPixel[1] = 0x20, topRowFirstPixel[2] = 0x10;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = *reinterpret_cast<BITMAPINFOHEADER*>(image.d.bmh);
  void* bits = nullptr;
  HBITMAP target = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(nullptr, target);
  HGDIOBJ old = SelectObject(memory, target);
  EXPECT_EQ(8, SetDIBitsToDevice(memory, 0, 0, 16, 8, 0, 0, 0, 8, image.d.ibuff,
                                 reinterpret_cast<BITMAPINFO*>(image.d.bmh), DIB_RGB_COLORS));
  EXPECT_EQ(RGB(0x10, 0x20, 0x30), GetPixel(memory, 0, 0));
  SelectObject(memory, old);
  DeleteObject(target);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

TEST(Vic32Dll, ImageToDibGoesThroughTheClipboardAndBack) {
  Image image, pasted;
  ASSERT_EQ(0, allocimage(&image.d, 31, 9, 8));
  fillPattern(image.d);
  BYTE* dib = nullptr;
  ASSERT_EQ(0, imagetodib(&image.d, &dib));
  HGLOBAL handle = GlobalHandle(dib);
  ASSERT_NE(nullptr, handle);
  GlobalUnlock(handle);  // as the TWAIN source hands it over
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  ASSERT_NE(nullptr, SetClipboardData(CF_DIB, handle));  // the clipboard owns it now
  CloseClipboard();

  ASSERT_TRUE(IsClipboardFormatAvailable(CF_DIB));
  ASSERT_TRUE(OpenClipboard(nullptr));
  HGLOBAL data = GetClipboardData(CF_DIB);
  ASSERT_NE(nullptr, data);
  auto* packed = static_cast<BYTE*>(GlobalLock(data));
  ASSERT_EQ(0, allocimage(&pasted.d, 2, 2, 24));  // paste replaces whatever was there
  EXPECT_EQ(0, dibtoimage(packed, &pasted.d));
  GlobalUnlock(data);
  CloseClipboard();
  EXPECT_TRUE(samePixels(image.d, pasted.d));
}

// A packed bitmap as another program puts it on the clipboard: movable global memory holding a
// header of `height` rows of `width` 24-bit pixels, of which the block holds only `rowsHeld`.
HGLOBAL clipboardBitmap(LONG width, LONG height, int rowsHeld) {
  LONG stride = (width * 3 + 3) & ~3;
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BITMAPINFOHEADER) + stride * rowsHeld);
  auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(handle));
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = 24;
  GlobalUnlock(handle);
  return handle;
}

// The paste path bounds its reading by the global block the bitmap lies in: a header that claims
// more rows than the block holds is refused (and the image kept), memory that is no global block
// is not read at all.
TEST(Vic32Dll, PastedBitmapsAreReadNoFurtherThanTheirBlock) {
  struct Case {
    const char* name;
    LONG height;
    int rowsHeld;
    LONG result;
  };
  const Case cases[] = {
      {"64 rows over 4", 64, 4, -5},
      {"64 top-down rows over 4", -64, 4, -5},
      {"4 rows over 4", 4, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HGLOBAL handle = clipboardBitmap(16, c.height, c.rowsHeld);
    ASSERT_NE(nullptr, handle);
    Image pasted;
    ASSERT_EQ(0, allocimage(&pasted.d, 3, 3, 8));
    EXPECT_EQ(c.result, dibtoimage(static_cast<BYTE*>(GlobalLock(handle)), &pasted.d));
    GlobalUnlock(handle);
    GlobalFree(handle);
    EXPECT_EQ(c.result == 0 ? 16 : 3, reinterpret_cast<BITMAPINFOHEADER*>(pasted.d.bmh)->biWidth);
  }
  BYTE notGlobal[sizeof(BITMAPINFOHEADER) + 4] = {};  // a whole bitmap of one pixel
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(notGlobal);
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = header->biHeight = 1;
  header->biPlanes = 1;
  header->biBitCount = 24;
  Image pasted;
  EXPECT_EQ(-42, dibtoimage(notGlobal, &pasted.d));
  EXPECT_EQ(nullptr, pasted.d.bmh);
}

LONG WINAPI saveGif(const char* name, const ImageDescriptor* image, LONG) { return savegif(name, image); }
LONG WINAPI savePcx(const char* name, const ImageDescriptor* image, LONG) { return savepcx(name, image); }

TEST(Vic32Dll, SavedFilesLoadBackThroughEveryFormat) {
  using Save = LONG(WINAPI*)(const char*, const ImageDescriptor*, LONG);
  using Info = LONG(WINAPI*)(const char*, VicFileInfo*);
  using Load = LONG(WINAPI*)(const char*, ImageDescriptor*);
  struct Case {
    const char* name;
    LONG bits, option;
    Save save;
    Info info;
    Load load;
  };
  const Case cases[] = {
      // clang-format off
      {"a.bmp", 24, 0, savebmp, bmpinfo, loadbmp},  {"b.bmp", 8, 1, savebmp, bmpinfo, loadbmp},
      {"c.gif", 8, 0, saveGif, gifinfo, loadgif},   {"d.pcx", 1, 0, savePcx, pcxinfo, loadpcx},
      {"e.tga", 24, 1, savetga, tgainfo, loadtga},  {"f.tif", 24, 1, savetif, tiffinfo, loadtif},
      {"g.tif", 8, 2, savetif, tiffinfo, loadtif},  {"h.tif", 1, 3, savetif, tiffinfo, loadtif},
      // clang-format on
      {"i.tif", 1, 4, savetif, tiffinfo, loadtif},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = tempPath(c.name);
    Image image, loaded;
    ASSERT_EQ(0, allocimage(&image.d, 45, 17, c.bits));
    fillPattern(image.d);
    ASSERT_EQ(0, c.save(file.c_str(), &image.d, c.option));
    VicFileInfo info{};
    ASSERT_EQ(0, c.info(file.c_str(), &info));
    EXPECT_EQ(45, info.width);
    EXPECT_EQ(17, info.height);
    if (c.save == savetif) {
      EXPECT_EQ(c.option, vic::tiffOptionOf(info.compression));  // saved again the way it came
    }
    ASSERT_EQ(0, allocimage(&loaded.d, info.width, info.height, info.bits));
    ASSERT_EQ(0, c.load(file.c_str(), &loaded.d));
    EXPECT_TRUE(samePixels(image.d, loaded.d));
    DeleteFileA(file.c_str());
  }
}

TEST(Vic32Dll, JpegAndEpsAreWritten) {
  Image image, loaded;
  ASSERT_EQ(0, allocimage(&image.d, 40, 30, 24));
  std::string jpeg = tempPath("j.jpg"), eps = tempPath("k.eps");
  ASSERT_EQ(0, savejpg(jpeg.c_str(), &image.d, 90));  // all black
  EXPECT_EQ(-1, savejpg(jpeg.c_str(), &image.d, 10));
  VicFileInfo info{};
  ASSERT_EQ(0, jpeginfo(jpeg.c_str(), &info));
  EXPECT_EQ(24, info.bits);
  ASSERT_EQ(0, allocimage(&loaded.d, 40, 30, 24));
  ASSERT_EQ(0, loadjpg(jpeg.c_str(), &loaded.d));
  EXPECT_LE(loaded.d.ibuff[0], 2);
  ASSERT_EQ(0, saveeps(eps.c_str(), &image.d));
  char head[24] = {};
  HANDLE file = CreateFileA(eps.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD read = 0;
  ReadFile(file, head, 23, &read, nullptr);
  CloseHandle(file);
  EXPECT_STREQ("%!PS-Adobe-3.0 EPSF-3.0", head);
  DeleteFileA(jpeg.c_str());
  DeleteFileA(eps.c_str());
}

TEST(Vic32Dll, SavingReplacesAnExistingFileOnlyWhenItSucceeds) {
  std::string file = tempFileWith("existing.bmp", "old");
  Image colour;
  ASSERT_EQ(0, allocimage(&colour.d, 8, 8, 24));
  EXPECT_EQ(-26, savebmp(file.c_str(), &colour.d, 1));  // RLE8 of a colour image
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  ASSERT_TRUE(GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &attributes));
  EXPECT_EQ(3u, attributes.nFileSizeLow);
  ASSERT_EQ(0, savebmp(file.c_str(), &colour.d, 0));  // replaces the existing file
  ASSERT_TRUE(GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &attributes));
  EXPECT_EQ(54u + 8 * 24, attributes.nFileSizeLow);
  DeleteFileA(file.c_str());
}

TEST(Vic32Dll, BadFilesAndRecordsGiveTheirCodes) {
  std::string file = tempFileWith("garbage.bmp", "not a picture");
  VicFileInfo info{};
  EXPECT_EQ(-27, bmpinfo(file.c_str(), &info));
  EXPECT_EQ(-6, tiffinfo(file.c_str(), &info));
  EXPECT_EQ(-43, jpeginfo(file.c_str(), &info));
  EXPECT_EQ(-17, gifinfo(file.c_str(), &info));
  EXPECT_EQ(-4, bmpinfo(tempPath("missing.bmp").c_str(), &info));
  ImageDescriptor empty{};
  EXPECT_EQ(-42, savebmp(file.c_str(), &empty, 0));
  EXPECT_EQ(-42, loadbmp(file.c_str(), &empty));
  BYTE* dib = nullptr;
  EXPECT_EQ(-42, imagetodib(&empty, &dib));
  DeleteFileA(file.c_str());
}

TEST(Vic32Dll, AreasCopiesAndRecords) {
  Image source, destination;
  ASSERT_EQ(0, allocimage(&source.d, 20, 20, 8));
  fillPattern(source.d);
  ASSERT_EQ(0, allocimage(&destination.d, 5, 5, 8));
  RECT clip{10, 2, 15, 7};
  ASSERT_EQ(0, recttoimagearea(&clip, &source.d));
  RECT back{};
  ASSERT_EQ(0, imageareatorect(&source.d, &back));
  EXPECT_TRUE(EqualRect(&clip, &back));
  ASSERT_EQ(0, copyimage(&source.d, &destination.d));
  // Top row of the area: image row 2 from the top is buffer row 17 from the bottom.
  EXPECT_EQ(source.d.ibuff[17 * source.d.buffwidth + 10], destination.d.ibuff[4 * destination.d.buffwidth]);
  EXPECT_EQ(0, copyimagepalette(&source.d, &destination.d));
  EXPECT_EQ(source.d.palette[9].rgbGreen, destination.d.palette[9].rgbGreen);
  ImageDescriptor alias{};
  EXPECT_EQ(0, copyimgdes(&source.d, &alias));
  EXPECT_EQ(source.d.ibuff, alias.ibuff);
}

}  // namespace
