#include "frame_path.h"

#include <cstring>

#include "jpeg_decoder.h"

namespace camlib {

static_assert(kFrameBufferBytes == qrjpeg::kFrameBufferBytes, "one frame buffer size");

namespace {

constexpr int kDoubledResolution = 5;
// A sample of a picture with no detail: what the decoder gives where no input bits arrived.
constexpr std::uint8_t kFlatSample = 128;

std::uint32_t atMost(std::uint32_t value, std::uint32_t limit) { return value < limit ? value : limit; }

// Format 4 is the frame itself: exactly the captured frame length (at resolution 5 the top quarter
// of the doubled picture), which is the capture size's packed frame.
void convertInto(const FrameStore& store, const FrameRead& read, std::uint8_t* destination) {
  int width = read.outputWidth, height = read.outputHeight;
  if (read.format == qrjpeg::kFormatPacked422 && read.resolution == kDoubledResolution) {
    width = read.outputWidth / 2;
    height = read.outputHeight / 2;
  }
  qrjpeg::ConvertFrame(read.format, store.frame, kFrameBufferBytes, width, height, destination,
                       qrjpeg::OutputBytes(read.format, width, height));
}

}  // namespace

// Through the decoder, a failed fetch returns no bytes: the decoder then runs on its previous
// layout with no input and leaves a flat picture, unless it refuses the header outright. A raw
// fetch that stored nothing leaves the previous picture; one that stored less than the capture
// has the rest made flat, so that no part of the previous picture (doubled, maybe) is taken for
// part of the new one.
bool fetchFrame(FrameSource& source, const FrameStore& store, const FrameRead& read) {
  const std::uint32_t length = read.frameLength > 0 ? static_cast<std::uint32_t>(read.frameLength) : 0;
  if (store.decoder && store.compressed) {
    const std::uint32_t received = source.fetch(store.compressed, atMost(length, kCompressedBufferBytes));
    store.decoder->DecodeHeader(store.compressed, received, nullptr, nullptr);
    return store.decoder->DecodeScan(store.frame, kFrameBufferBytes);
  }
  const std::uint32_t wanted = atMost(length, kFrameBufferBytes);
  const std::uint32_t received = atMost(source.fetch(store.frame, wanted), wanted);
  if (received == 0) return false;
  std::memset(store.frame + received, kFlatSample, wanted - received);
  return true;
}

void readFrame(FrameSource* source, const FrameStore& store, const FrameRead& read, std::uint8_t* destination) {
  if (!store.frame) return;
  const bool newPicture = source && fetchFrame(*source, store, read);
  // Only a new 640 x 480 picture is doubled: doubling the previous, already doubled one again would
  // blow its top quarter up to the whole frame.
  if (newPicture && read.resolution == kDoubledResolution) qrjpeg::DoubleFrame(store.frame, kFrameBufferBytes);
  if (destination) convertInto(store, read, destination);
}

}  // namespace camlib
