// qrcapture.exe run as a separate process against the virtual camera.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "vcam_control.h"

namespace {

using Bytes = std::vector<unsigned char>;

class Capture : public qrtest::VirtualCameraTest {
 protected:
  void SetUp() override {
    VirtualCameraTest::SetUp();
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    path_ = std::string(dir) + "qrcapture-test.bmp";
    DeleteFileA(path_.c_str());
  }
  void TearDown() override {
    DeleteFileA(path_.c_str());
    VirtualCameraTest::TearDown();
  }
  long run(const std::string& options) { return qrtest::runChild("qrcapture.exe", options + " \"" + path_ + "\""); }
  Bytes file() const {
    Bytes bytes;
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (!f) return bytes;
    unsigned char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
  }
  std::string path_;
};

DWORD word32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<DWORD>(b[at + 3]) << 24;
}

TEST_F(Capture, SavesTheLastFrameAsAnUprightBmp) {
  qrtest::plug(0, qrtest::usbCamera(0x0403, "CAP"));
  ASSERT_EQ(0, run("-n 3 -r 2"));
  VCamDeviceStatus status;
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  EXPECT_EQ(3u, status.framesDelivered);

  const Bytes bmp = file();
  const int w = 160, h = 120;
  ASSERT_EQ(54u + w * h * 3, bmp.size());
  EXPECT_EQ('B', bmp[0]);
  EXPECT_EQ('M', bmp[1]);
  EXPECT_EQ(bmp.size(), word32(bmp, 2));
  EXPECT_EQ(54u, word32(bmp, 10));
  EXPECT_EQ(static_cast<DWORD>(w), word32(bmp, 18));
  EXPECT_EQ(static_cast<DWORD>(h), word32(bmp, 22));  // positive: bottom-up rows
  EXPECT_EQ(24, bmp[28]);

  // The scene's colour bars are at the top of the picture, the red one sixth from the left and the
  // blue one seventh: the file's last rows, blue-green-red bytes.
  auto shown = [&](int x, int y) { return &bmp[54 + (static_cast<size_t>(h - 1 - y) * w + x) * 3]; };
  const unsigned char* red = shown((5 * 128 + 64) * w / 1024, h / 8);
  const unsigned char* blue = shown((6 * 128 + 64) * w / 1024, h / 8);
  EXPECT_GT(red[2], red[0] + 60);
  EXPECT_GT(red[2], red[1] + 60);
  EXPECT_GT(blue[0], blue[2] + 60);
  EXPECT_GT(blue[0], blue[1] + 60);
  const unsigned char* detail = shown(w / 2, h - h / 8);  // grey lines at the bottom
  EXPECT_LT(std::abs(detail[0] - detail[2]), 30);
}

TEST_F(Capture, WithoutACameraNoFileIsWritten) {
  EXPECT_EQ(1, run("-n 1"));
  EXPECT_TRUE(file().empty());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path_ + ".part").c_str()));
}

TEST_F(Capture, BadOptionsAreAUsageError) {
  for (const char* options : {"-n 0", "-r 7", "-x", "-n"}) EXPECT_EQ(2, run(options)) << options;
  EXPECT_EQ(2, qrtest::runChild("qrcapture.exe", ""));
}

}  // namespace
