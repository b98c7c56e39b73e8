// The frame path below the device and the mutex, fed by a frame source of the test's own: raw
// frames (no decoder) and compressed ones, fetches that fail, fall short or were never made, and
// streams whose size is not the resolution's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camera_streams.h"
#include "frame_path.h"
#include "jpeg_decoder.h"
#include "register_map.h"
#include "scene.h"

namespace {

using camlib::FrameRead;
using camlib::FrameStore;
using qrtest::Bytes;

constexpr std::size_t kGuardBytes = 4096;
constexpr std::uint8_t kGuard = 0xA5;

// Stores the bytes it was given, cut to the length asked; or fails, storing nothing.
class TestSource : public camlib::FrameSource {
 public:
  explicit TestSource(Bytes frame = Bytes(), bool fails = false) : frame_(std::move(frame)), fails_(fails) {}
  std::uint32_t fetch(void* buffer, std::uint32_t length) override {
    lastLength = length;
    if (fails_) return 0;
    const std::size_t stored = frame_.size() < length ? frame_.size() : length;
    if (stored) std::memcpy(buffer, frame_.data(), stored);
    return static_cast<std::uint32_t>(stored);
  }
  std::uint32_t lastLength = 0;

 private:
  Bytes frame_;
  bool fails_;
};

FrameRead readFor(int resolution, int format) {
  const camlib::ResolutionMode& m = camlib::kResolutions[resolution];
  return {m.captureWidth * m.captureHeight * 2, resolution, format, m.outputWidth, m.outputHeight};
}

// The bytes a read at this resolution and format fills (format 4: the capture, not the output).
std::size_t destinationBytes(int resolution, int format) {
  const camlib::ResolutionMode& m = camlib::kResolutions[resolution];
  return format == qrjpeg::kFormatPacked422 ? qrjpeg::OutputBytes(format, m.captureWidth, m.captureHeight)
                                            : qrjpeg::OutputBytes(format, m.outputWidth, m.outputHeight);
}

// A camera's frame buffers, with or without its decoder.
class Camera {
 public:
  explicit Camera(bool withDecoder)
      : frame_(camlib::kFrameBufferBytes, 0), compressed_(camlib::kCompressedBufferBytes, 0) {
    if (withDecoder) decoder_.reset(new qrjpeg::JpegDecoder(camlib::kFrameBufferBytes));
  }
  FrameStore store() { return {frame_.data(), decoder_ ? compressed_.data() : nullptr, decoder_.get()}; }
  const Bytes& frameBuffer() const { return frame_; }

  // One read into a buffer of exactly the bytes it needs, followed by guard bytes that must survive.
  Bytes read(camlib::FrameSource* source, const FrameRead& read) {
    const std::size_t bytes = destinationBytes(read.resolution, read.format);
    Bytes out(bytes + kGuardBytes, kGuard);
    camlib::readFrame(source, store(), read, out.data());
    std::size_t damaged = 0;
    for (std::size_t i = bytes; i < out.size(); ++i) damaged += out[i] != kGuard;
    EXPECT_EQ(0u, damaged) << "bytes written past the " << bytes << "-byte destination";
    out.resize(bytes);
    return out;
  }

 private:
  Bytes frame_, compressed_;
  std::unique_ptr<qrjpeg::JpegDecoder> decoder_;
};

// The scene as raw packed Y0 U Y1 V rows, as the camera sends them when register 10 is 0.
Bytes rawPicture(int width, int height, std::uint32_t frameNumber) {
  Bytes picture(static_cast<std::size_t>(width) * height * 2);
  EXPECT_TRUE(
      qrvcam::renderPicture(qrtest::PlainRegisters(width, height, 250, false), frameNumber, picture.data(), nullptr));
  return picture;
}

// The picture a read of `picture` (a 640 x 480 capture) gives at resolution 5 in format 0.
Bytes doubledBgr(const Bytes& picture) {
  Bytes frame(camlib::kFrameBufferBytes, 0);
  std::copy(picture.begin(), picture.end(), frame.begin());
  EXPECT_TRUE(qrjpeg::DoubleFrame(frame.data(), frame.size()));
  Bytes out(qrjpeg::OutputBytes(0, 1280, 960));
  EXPECT_TRUE(qrjpeg::ConvertFrame(0, frame.data(), frame.size(), 1280, 960, out.data(), out.size()));
  return out;
}

TEST(RawFramePath, AskForTheCaptureAndDoubleEachNewPictureOnce) {
  Camera camera(false);
  const Bytes picture = rawPicture(640, 480, 4);
  TestSource source(picture);
  const Bytes got = camera.read(&source, readFor(5, 0));
  EXPECT_EQ(640u * 480 * 2, source.lastLength) << "the captured frame length";
  EXPECT_TRUE(got == doubledBgr(picture));
}

// A read that fetches no new picture converts the previous one again as it stands: the raw path
// as the decoder's, for a fetch that failed and for one never made (the mutex was not had).
TEST(RawFramePath, NoNewPictureConvertsThePreviousOneAgain) {
  struct Case {
    const char* name;
    bool withDecoder, fetchFails;
  };
  const Case cases[] = {
      {"raw, failed fetch", false, true}, {"raw, no fetch", false, false}, {"compressed, no fetch", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Camera camera(c.withDecoder);
    TestSource good(c.withDecoder ? qrtest::CameraFrame(640, 480, 250, 4) : rawPicture(640, 480, 4));
    const Bytes first = camera.read(&good, readFor(5, 0));
    TestSource failing(Bytes(), true);
    const Bytes second = camera.read(c.fetchFails ? &failing : nullptr, readFor(5, 0));
    EXPECT_TRUE(first == second) << "the previous picture, not its top quarter doubled again";
  }
}

TEST(RawFramePath, AShortFrameKeepsWhatArrivedAndTheRestIsFlat) {
  Camera camera(false);
  TestSource full(rawPicture(640, 480, 1));
  camera.read(&full, readFor(5, 0));  // the frame buffer now holds a doubled picture
  const Bytes picture = rawPicture(320, 240, 2);
  const std::size_t arrived = picture.size() / 3;
  TestSource partial(Bytes(picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(arrived)));
  const Bytes got = camera.read(&partial, readFor(1, 4));
  ASSERT_EQ(picture.size(), got.size());
  EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(arrived), got.begin()));
  std::size_t notFlat = 0;
  for (std::size_t i = arrived; i < got.size(); ++i) notFlat += got[i] != 128;
  EXPECT_EQ(0u, notFlat);
}

// Whatever size the stream has, a read fills exactly the bytes of the resolution and format it
// was made for: streams of another size than the capture, larger and smaller, raw and compressed.
TEST(FramePath, AStreamOfAnotherSizeNeverWritesPastTheDestination) {
  struct Stream {
    const char* name;
    bool compressed;
    int width, height;
  };
  const Stream streams[] = {{"compressed 640 x 480", true, 640, 480},
                            {"compressed 120 x 96", true, 120, 96},
                            {"raw 640 x 480", false, 640, 480},
                            {"raw 176 x 144", false, 176, 144}};
  for (const Stream& s : streams) {
    Camera camera(s.compressed);
    TestSource source(s.compressed ? qrtest::CameraFrame(s.width, s.height, 250, 0) : rawPicture(s.width, s.height, 0));
    for (int resolution = 0; resolution < camlib::kResolutionCount; ++resolution) {
      for (int format = 0; format < camlib::kOutputFormatCount; ++format) {
        SCOPED_TRACE(std::string(s.name) + ", resolution " + std::to_string(resolution) + " format " +
                     std::to_string(format));
        camera.read(&source, readFor(resolution, format));
      }
    }
  }
}

TEST(FramePath, ACompressedFrameIsDecodedIntoTheFrameBuffer) {
  Camera camera(true);
  TestSource source(qrtest::CameraFrame(160, 120, 250, 0));
  const Bytes got = camera.read(&source, readFor(2, 4));
  EXPECT_EQ(160u * 120 * 2, source.lastLength);
  const Bytes picture = rawPicture(160, 120, 0);
  std::size_t distant = 0;
  for (std::size_t i = 0; i < got.size(); ++i) distant += std::abs(got[i] - picture[i]) > 24;
  EXPECT_LT(distant, got.size() / 100) << "the scene, within the JPEG error";
  EXPECT_TRUE(std::equal(got.begin(), got.end(), camera.frameBuffer().begin()));
}

}  // namespace
