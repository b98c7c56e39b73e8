// Image files of the viewer: the save types, the format table that loads and saves by extension,
// and the filter lists of the open and save dialogs.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "vic32.h"

namespace viewer {
namespace files {

// "File Save Type" codes 0 to 12 (the EPS entry of the 8-bit save list is 15).
constexpr LONG kTypeCount = 13;
constexpr LONG kEpsListCode = 15;
constexpr BYTE kEndOfCodes = 255;

// The extension the save dialog offers for a save type, without its point; null for a code that
// names no type.
const char* defaultExtension(LONG code);

// The extension of a file name: the text from the last point of its file part ("" when there is
// none, so a point in a folder's name never counts).
std::string extensionOf(const std::string& name);

// Loads `name` by its extension through the loadable rows of the format table into `image` (the
// picture there is replaced only when the new one loaded) and gives the save type the file was
// written with. 0 or the image library's code (-11 for an extension no row loads).
LONG loadByName(const std::string& name, ImageDescriptor& image, LONG& saveType);

// Writes JPEG files; returns the library's code, or 0 without writing when the user declined.
using JpegWriter = std::function<LONG(const char* name, const ImageDescriptor& image)>;

// Saves `image` as `name` by its extension through every row of the format table, with the
// option the type `code` gives that row's routine. -11 for an extension no row saves.
LONG saveByName(const std::string& name, const ImageDescriptor& image, LONG code, const JpegWriter& jpeg);

// The save dialog's filter for an image of `bits` bits a pixel ("|" between the entries) and the
// type code of each entry but "All Files", ending with kEndOfCodes.
struct SaveList {
  const char* filter;
  const BYTE* codes;
};
SaveList saveListFor(LONG bits);
// The 1-based filter index of `code` in a list, or 1 when the list lacks it.
DWORD filterIndexOf(const SaveList& list, LONG code);
// The code of a 1-based filter index, or -1 for "All Files" and anything beyond.
LONG codeOfFilterIndex(const SaveList& list, DWORD index);

extern const char kOpenFilter[];

// 0 when `data` of `size` bytes holds a whole uncompressed packed bitmap of 1, 4, 8 or 24 bits
// with a sensible size; else the code to report: -5 short or absurd, -12 compressed, -26 another
// depth. Clipboard data comes from any program and is checked with it before it is read.
LONG packedBitmapCheck(const BYTE* data, SIZE_T size);

// A filter text with its "|" made zero bytes, ready for OPENFILENAME (double zero at the end).
std::vector<char> dialogFilter(const char* filter);

}  // namespace files
}  // namespace viewer
