// The DLL's exports of the pixel operations: undecorated __stdcall names that callers built
// against the header reach.
#include <gtest/gtest.h>
#include <windows.h>

#include "test_image.h"
#include "vic32ops.h"

namespace {

using vic::test::Bgr;
using vic::test::TestImage;

TEST(Vic32OpsExports, EveryCallIsExportedUndecorated) {
  HMODULE dll = GetModuleHandleA("vic32.dll");
  ASSERT_NE(nullptr, dll);
  const char* const names[] = {"resize",
                               "rotate90",
                               "flipimage",
                               "mirrorimage",
                               "convertrgbtopal",
                               "convertpaltorgb",
                               "colortogray",
                               "reduceimagecolors",
                               "convert8bitto1bit",
                               "convert1bitto8bit",
                               "rainbowpalette",
                               "matchcolorimage",
                               "colordither",
                               "changebright",
                               "histobrighten",
                               "brightenmidrange",
                               "usetable",
                               "negative",
                               "calcavglevel",
                               "kodalith",
                               "exchangelevel",
                               "sharpengentle",
                               "blur",
                               "outline",
                               "matrixconv",
                               "addimage",
                               "subimage",
                               "printimage"};
  for (const char* name : names) EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(dll, name))) << name;
}

// Calls through the import library keep the argument order: direction first, source, then
// destination; a bad stack depth would crash or garble the results here.
TEST(Vic32OpsExports, CallsThroughTheDllWork) {
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

}  // namespace
