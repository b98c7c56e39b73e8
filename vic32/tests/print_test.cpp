#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../ops/print.h"
#include "test_image.h"
#include "test_printer.h"

namespace vic {
namespace {

using victest::Bgr;
using victest::TestImage;

std::vector<int> g_bands;
int g_stopAt = 0;  // the band whose callback answers "stop"; 0 never
int g_nestedResult = 1;

int CALLBACK recordBand(int band) {
  g_bands.push_back(band);
  return band == g_stopAt ? 1 : 0;
}

class Printing : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = victest::installTestPrinter();
    ASSERT_NE(nullptr, name) << "no PostScript printer in the test prefix";
    printer_ = CreateDCA("WINSPOOL", name, nullptr, nullptr);
    ASSERT_NE(nullptr, printer_);
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    output_ = std::string(directory) + "vic32_print_test.ps";
    DeleteFileA(output_.c_str());
    g_bands.clear();
    g_stopAt = 0;
  }
  void TearDown() override {
    if (printer_) DeleteDC(printer_);
    if (!getenv("VIC32_KEEP_PS")) DeleteFileA(output_.c_str());
  }
  int print(int mode, TestImage& image, PrintArea area, int frame) {
    return printImage(nullptr, printer_, mode, &image.d, &area, frame, recordBand, output_.c_str());
  }
  std::string output() const {
    std::ifstream in(output_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  HDC printer_ = nullptr;
  std::string output_;
};

// What the PostScript driver made of the page: each band is an image (a mask for one bit a pixel)
// placed by "x y translate" and "w h scale"; each frame side a black filled rectangle
// "x y moveto  w 0 rlineto  0 h rlineto ...".
struct Placed {
  int x, y, width, height;
};

std::vector<Placed> bandsIn(const std::string& ps) {
  std::vector<Placed> bands;
  std::regex pattern(R"((-?\d+) (-?\d+) translate\n(\d+) (\d+) scale\n)");
  for (auto it = std::sregex_iterator(ps.begin(), ps.end(), pattern); it != std::sregex_iterator(); ++it)
    bands.push_back(Placed{std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoi((*it)[4])});
  return bands;
}

std::vector<Placed> blackRectanglesIn(const std::string& ps) {
  std::vector<Placed> rectangles;
  std::regex pattern(
      R"((-?\d+) (-?\d+) moveto\n(-?\d+) 0 rlineto\n0 (-?\d+) rlineto\n-?\d+ 0 rlineto\nclosepath\ngsave\n)"
      R"(0.00 0.00 0.00 setrgbcolor\nfill\n)");
  for (auto it = std::sregex_iterator(ps.begin(), ps.end(), pattern); it != std::sregex_iterator(); ++it)
    rectangles.push_back(Placed{std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoi((*it)[4])});
  return rectangles;
}

int countOf(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// The test printer has 300 pixels an inch: an area at (0.5", 0.5") of 6" x 4.5" is 150, 150,
// 1800 x 1350 printer pixels.
const PrintArea kArea{500, 500, 6000, 4500};

// Every mode and depth: one callback per band, numbered from 1, and bands that tile the area
// exactly.
TEST_F(Printing, BandsTileTheAreaAndEachIsAnnouncedToTheCallback) {
  const int cases[][2] = {{0, 24}, {0, 8}, {0, 1}, {1, 8}, {2, 8}, {2, 24}};  // mode, bits
  for (auto [mode, bits] : cases) {
    TestImage image(640, 480, bits);
    if (bits == 24)
      image.fill([](int x, int y) { return Bgr{uint8_t(x), uint8_t(y), 99}; });
    else
      image.fill([mask = bits == 8 ? 255 : 1](int x, int y) { return (x + y) & mask; });
    g_bands.clear();
    DeleteFileA(output_.c_str());
    ASSERT_EQ(kOk, print(mode, image, kArea, 0)) << "mode " << mode << ", " << bits << " bits";
    std::string ps = output();
    std::vector<Placed> bands = bandsIn(ps);
    ASSERT_GE(bands.size(), bits == 1 ? 1u : 2u) << "mode " << mode << ", " << bits << " bits";
    ASSERT_EQ(bands.size(), g_bands.size()) << "mode " << mode << ", " << bits << " bits";
    for (size_t i = 0; i < g_bands.size(); ++i) EXPECT_EQ(static_cast<int>(i + 1), g_bands[i]);
    int y = 150;
    for (const Placed& band : bands) {
      EXPECT_EQ(150, band.x);
      EXPECT_EQ(1800, band.width);
      EXPECT_EQ(y, band.y) << "mode " << mode << ", " << bits << " bits";
      y += band.height;
    }
    EXPECT_EQ(150 + 1350, y) << "mode " << mode << ", " << bits << " bits";
    // Black-and-white modes send one bit a pixel (a mask), made at the printer's resolution.
    int images = countOf(ps, "\nimage\n"), masks = countOf(ps, "\nimagemask\n");
    EXPECT_EQ(static_cast<int>(bands.size()), images + masks);
    if (mode != 0) {
      EXPECT_EQ(0, images) << "mode " << mode;
    }
    EXPECT_TRUE(blackRectanglesIn(ps).empty()) << "no frame asked for";
    EXPECT_EQ(1, countOf(ps, "showpage")) << "mode " << mode;
  }
}

TEST_F(Printing, FrameSurroundsTheArea) {
  TestImage image(640, 480, 24);
  ASSERT_EQ(kOk, print(0, image, kArea, 3));  // 3 picture pixels are 8 printer pixels here
  std::vector<Placed> sides = blackRectanglesIn(output());
  ASSERT_EQ(4u, sides.size());
  const Placed want[4] = {{142, 142, 1816, 8}, {142, 1500, 1816, 8}, {142, 150, 8, 1350}, {1950, 150, 8, 1350}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(want[i].x, sides[i].x) << i;
    EXPECT_EQ(want[i].y, sides[i].y) << i;
    EXPECT_EQ(want[i].width, sides[i].width) << i;
    EXPECT_EQ(want[i].height, sides[i].height) << i;
  }
}

// The callback answers "stop" at band 2: nothing more is asked or drawn and the page is never
// finished.
TEST_F(Printing, CallbackStopsTheJob) {
  TestImage image(640, 480, 24);
  g_stopAt = 2;
  EXPECT_EQ(kOk, print(0, image, kArea, 5));
  EXPECT_EQ((std::vector<int>{1, 2}), g_bands);
  std::string ps = output();
  EXPECT_LE(bandsIn(ps).size(), 1u);
  EXPECT_EQ(0, countOf(ps, "showpage"));
  EXPECT_TRUE(blackRectanglesIn(ps).empty());
}

// A progress box must stay alive while the job runs: messages waiting before a band are
// dispatched before its callback runs.
int g_messagesSeen = 0;
int g_messagesSeenAtFirstBand = -1;
LRESULT CALLBACK countingWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_USER + 7) ++g_messagesSeen;
  return DefWindowProcA(window, message, w, l);
}
int CALLBACK noteMessages(int band) {
  if (band == 1) g_messagesSeenAtFirstBand = g_messagesSeen;
  return 0;
}

TEST_F(Printing, PendingMessagesAreDispatchedBeforeEachBand) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = countingWindow;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "Vic32PrintTestWindow";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("Vic32PrintTestWindow", "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, window);
  PostMessageA(window, WM_USER + 7, 0, 0);
  TestImage image(64, 48, 24);
  PrintArea area = kArea;
  EXPECT_EQ(kOk, printImage(window, printer_, 0, &image.d, &area, 0, noteMessages, output_.c_str()));
  EXPECT_EQ(1, g_messagesSeenAtFirstBand);
  DestroyWindow(window);
}

HDC g_printer = nullptr;
int CALLBACK printAgain(int band) {
  TestImage image(8, 8, 24);
  PrintArea area{0, 0, 1000, 1000};
  g_nestedResult = printImage(nullptr, g_printer, 0, &image.d, &area, 0, nullptr, nullptr);
  g_bands.push_back(band);
  return 1;
}

TEST_F(Printing, ASecondPrintWhileOneRunsIsRefusedAsBusy) {
  TestImage image(64, 48, 24);
  g_printer = printer_;
  PrintArea area = kArea;
  EXPECT_EQ(kOk, printImage(nullptr, printer_, 0, &image.d, &area, 0, printAgain, output_.c_str()));
  EXPECT_EQ(kPrintBusy, g_nestedResult);
  // Once it is over, printing works again (on a new device context: Wine's PostScript driver
  // does not start a second document on one whose first was abandoned).
  DeleteDC(printer_);
  printer_ = CreateDCA("WINSPOOL", victest::installTestPrinter(), nullptr, nullptr);
  EXPECT_EQ(kOk, print(0, image, kArea, 0));
}

TEST_F(Printing, BadArgumentsAreRefusedBeforeAnythingIsPrinted) {
  TestImage image(64, 48, 24);
  ImageDescriptor empty{};
  PrintArea area = kArea;
  struct Case {
    const char* name;
    int result;
  };
  const Case cases[] = {
      {"mode 3", printImage(nullptr, printer_, 3, &image.d, &area, 0, recordBand, output_.c_str()) == kBadRange},
      {"no area", printImage(nullptr, printer_, 0, &image.d, nullptr, 0, recordBand, output_.c_str()) == kBadRange},
      {"frame 21", print(0, image, kArea, 21) == kBadRange},
      {"empty area", print(0, image, PrintArea{0, 0, 0, 1000}, 0) == kBadRange},
      {"no image", printImage(nullptr, printer_, 0, &empty, &area, 0, recordBand, output_.c_str()) == kBadBuffer},
      {"no printer", printImage(nullptr, nullptr, 0, &image.d, &area, 0, recordBand, output_.c_str()) == kPrinterError},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.result) << c.name;
  EXPECT_TRUE(g_bands.empty());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(output_.c_str()));
}

}  // namespace
}  // namespace vic
