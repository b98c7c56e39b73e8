// A PostScript printer in the test prefix: Wine's own PostScript driver with a small page
// description, whose jobs go to a file named at StartDoc.
#pragma once

namespace victest {

// Installs the printer (once per prefix) and returns its name, or null when that failed.
const char* installTestPrinter();

}  // namespace victest
