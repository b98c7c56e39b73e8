#include "test_printer.h"

#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>

namespace victest {
namespace {

const char kPrinterName[] = "Vic32 Test Printer";
const char kDriverName[] = "Wine PostScript Driver";
const char kPpdName[] = "vic32test.ppd";

// A 300 dpi US Letter PostScript printer.
const char kPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
    "*LanguageEncoding: ISOLatin1\n*PCFileName: \"VIC32T.PPD\"\n*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n"
    "*ModelName: \"Vic32 Test\"\n*ShortNickName: \"Vic32 Test\"\n*NickName: \"Vic32 Test\"\n"
    "*PSVersion: \"(3010) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: True\n*DefaultColorSpace: RGB\n"
    "*FileSystem: False\n*Throughput: \"1\"\n*LandscapeOrientation: Plus90\n*TTRasterizer: Type42\n"
    "*DefaultResolution: 300dpi\n"
    "*OpenUI *PageSize/Page Size: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: Letter\n"
    "*PageSize Letter/Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n*CloseUI: *PageSize\n"
    "*OpenUI *PageRegion: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n*DefaultPageRegion: Letter\n"
    "*PageRegion Letter/Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n*CloseUI: *PageRegion\n"
    "*DefaultImageableArea: Letter\n*ImageableArea Letter/Letter: \"18 36 594 756\"\n"
    "*DefaultPaperDimension: Letter\n*PaperDimension Letter/Letter: \"612 792\"\n";

bool writePpd() {
  char directory[MAX_PATH];
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(directory), sizeof directory, &needed))
    return false;
  std::string path = std::string(directory) + "\\" + kPpdName;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(kPpd, 1, sizeof kPpd - 1, f) == sizeof kPpd - 1;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

const char* installTestPrinter() {
  if (!writePpd()) return nullptr;
  DRIVER_INFO_3A driver{};
  driver.cVersion = 3;
  driver.pName = const_cast<char*>(kDriverName);
  driver.pDriverPath = const_cast<char*>("wineps.drv");
  driver.pDataFile = const_cast<char*>(kPpdName);
  driver.pConfigFile = const_cast<char*>("wineps.drv");
  driver.pDefaultDataType = const_cast<char*>("RAW");
  AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&driver));  // already there on later runs
  PRINTER_INFO_2A printer{};
  printer.pPrinterName = const_cast<char*>(kPrinterName);
  printer.pDriverName = const_cast<char*>(kDriverName);
  printer.pPortName = const_cast<char*>("FILE:");
  printer.pPrintProcessor = const_cast<char*>("winprint");
  printer.pDatatype = const_cast<char*>("RAW");
  HANDLE added = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&printer));
  if (added) ClosePrinter(added);
  HDC probe = CreateDCA("WINSPOOL", kPrinterName, nullptr, nullptr);
  if (!probe) return nullptr;
  DeleteDC(probe);
  return kPrinterName;
}

}  // namespace victest
