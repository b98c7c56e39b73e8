#include "result_text.h"

#include "image.h"

namespace vic {

namespace {

struct CodeText {
  int code;
  const char* text;
};

const CodeText kTexts[] = {
    {kNoPrinter, "No default system printer detected"},
    {kG4TooManyChanges, "Group 4 image has too many color changes in a row"},
    {kBadJpeg, "Unreadable JPG format"},
    {kBadBuffer, "Invalid image buffer address"},
    {kPrintBusy, "Print function is busy"},
    {kLockFailed, "Error in locking memory"},
    {kTimedOut, "Function timed out"},
    {kBadBmp, "Unreadable BMP format"},
    {kBadBits, "Image bits per pixel not supported by function"},
    {kBadTga, "Unreadable Targa format"},
    {kPrinterError, "Printer error"},
    {kBadGif, "Unreadable GIF format"},
    {kBadPcx, "Unreadable PCX format"},
    {kBadPiw, "Unreadable PIW format"},
    {kNoMemory, "Insufficient memory"},
    {kCompressedDib, "DIB is compressed and can not be processed"},
    {kBadFileType, "Unreadable filetype"},
    {kCannotCreate, "Cannot create"},
    {kBadCompression, "Unsupported compression scheme"},
    {kBadTifBits, "Unsupported TIF bits per sample"},
    {kBadTif, "Unreadable TIF format"},
    {kBadData, "Invalid Data"},
    {kCannotOpen, "Cannot open file"},
    {kDiskFull, "Disk full, file not written"},
    {kBadRange, "Value(s) out of range"},
};

}  // namespace

const char* resultText(int code) {
  for (const CodeText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return "Camera Application Error";
}

}  // namespace vic
