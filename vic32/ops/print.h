// Printing one image through GDI, in bands.
#pragma once
#include <windows.h>

#include <cstdint>

#include "../core/image.h"

namespace vic {

// Called before each band with the band number (1, 2, ...); a non-zero answer stops the job.
typedef int(CALLBACK* PrintAbortProc)(int band);

// Where the picture goes on the page, in thousandths of an inch from the printable area's
// top-left corner.
struct PrintArea {
  int32_t left, top, width, height;
};

enum PrintMode { kPrintAsIs = 0, kPrintHalftone = 1, kPrintScatter = 2 };

// Prints `image` into `area` of one page of `printer`: mode 0 as the picture is (colour or grey,
// scaled by the printer driver), modes 1 and 2 as black and white made at the printer's own
// resolution (clustered-dot halftone or error-diffusion scatter). `frameWidth` (0 to 20 picture
// pixels, scaled like the picture) draws a black frame around the area. Pending window messages
// are dispatched before each band, as a print abort procedure does, so that a progress box stays
// alive and its Cancel button can be pressed.
//
// Result: kOk (also when the callback stopped the job, which is then abandoned with AbortDoc),
// kPrintBusy while another print runs in this process, kBadBuffer, kBadRange (mode, area, frame),
// kNoMemory, or kPrinterError when the printer refuses a step. `outputFile` (may be null) is
// handed to StartDoc as the output file.
int printImage(HWND window, HDC printer, int mode, const ImageDescriptor* image, const PrintArea* area, int frameWidth,
               PrintAbortProc abort, const char* outputFile);

}  // namespace vic
