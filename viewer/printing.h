// Where the viewer prints the picture: the page from the printer, the fit, centring and margin
// rules of the print settings (thousandths of an inch), and the inch texts the dialog shows.
#pragma once
#include <windows.h>

#include <string>

namespace viewer {
namespace printing {

// The nine print settings, as the profile holds them.
struct PrintSettings {
  LONG left, top, width, height;  // "Position from Left", "Position from Top", "Print Width", "Print Height"
  LONG frameWidth;                // "Frame Width", pixels 0 to 20
  LONG autoScale, autoCenter, raise, mode;
};

struct Page {
  LONG width, height;  // thousandths of an inch
};

// The printable page of a printer device context.
Page pageOf(HDC printer);

// The picture fills the page's width when its width / height is at least the page's.
bool widthLimited(LONG imageWidth, LONG imageHeight, const Page& page);

// Scales the picture to the page on its limiting side and centres it.
void fit(PrintSettings& settings, LONG imageWidth, LONG imageHeight, const Page& page);

// The option rules: a size beyond the page, or "Auto Scale", fits the picture; then the margins
// are kept on the page and, with "Auto Center", centred.
void applyRules(PrintSettings& settings, LONG imageWidth, LONG imageHeight, const Page& page);

// The size bar: a new width (width-limited) or height, the other side from the picture's aspect.
void setSize(PrintSettings& settings, LONG value, LONG imageWidth, LONG imageHeight, const Page& page);

// "1.5"" for 1500: tenths of the value, in hundredths of an inch, up to five significant digits,
// and an inch mark.
std::string inchText(LONG thousandths);

}  // namespace printing
}  // namespace viewer
