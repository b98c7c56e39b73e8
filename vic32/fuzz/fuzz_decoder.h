// The body shared by the decoder fuzz targets: decode the input; when it decodes, write the
// picture again with the same format's encoder and check that it reads back identically (the
// encoders are exercised on every shape of picture the decoders can make).
#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../formats/formats.h"

namespace vicfuzz {

// Pictures larger than this are only parsed, not decoded, to keep each run fast.
constexpr int64_t kMaxFuzzPixels = 1 << 18;

template <typename Encode>
int fuzzDecoder(const uint8_t* data, size_t size, vic::InfoDecoder info, vic::PictureDecoder decode, Encode encode,
                bool lossless) {
  vic::FileInfo fileInfo{};
  if (info(data, size, fileInfo) == vic::kOk &&
      static_cast<int64_t>(fileInfo.width) * fileInfo.height > kMaxFuzzPixels) {
    return 0;
  }
  vic::Picture picture;
  if (decode(data, size, picture) != vic::kOk) return 0;
  if (static_cast<int64_t>(picture.width) * picture.height > kMaxFuzzPixels) return 0;
  std::vector<uint8_t> written;
  if (encode(picture, written) != vic::kOk) return 0;
  vic::Picture again;
  if (decode(written.data(), written.size(), again) != vic::kOk) std::abort();
  if (again.width != picture.width || again.height != picture.height) std::abort();
  if (lossless && (again.bits != picture.bits || again.pixels != picture.pixels)) std::abort();
  return 0;
}

}  // namespace vicfuzz
