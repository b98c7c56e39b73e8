// Writes the seed corpus of the decoder's fuzz target: real camera frames from the virtual camera
// and broken variants of them. Run once; its output is committed.
#include <cstdio>
#include <string>

#include "camera_streams.h"

using qrtest::Bytes;

static void save(const std::string& dir, const std::string& name, const Bytes& b) {
  std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  for (int q : {50, 150, 250}) {
    save(dir, "frame_120x96_q" + std::to_string(q), qrtest::CameraFrame(120, 96, q, static_cast<uint32_t>(q)));
  }
  // The largest capture: through the frame path, a stream far larger than most resolutions ask for.
  save(dir, "frame_640x480_q150", qrtest::CameraFrame(640, 480, 150, 5));
  const Bytes base = qrtest::CameraFrame(160, 120, 150, 11);
  save(dir, "frame_160x120_q150", base);

  qrvcam::SceneRegisters wide = qrtest::PlainRegisters(48, 32, 50, true);
  for (auto& q : wide.quant) q = static_cast<uint16_t>(q * 5);
  save(dir, "frame_48x32_16bit_tables", qrtest::CameraFrame(wide, 1));

  save(dir, "with_huffman_tables", qrtest::WithHuffmanTables(qrtest::CameraFrame(32, 16, 250, 0)));
  const long sof = qrtest::FindMarker(base, 0xFFC0), start = qrtest::EntropyStart(base);
  save(dir, "cut_in_headers", Bytes(base.begin(), base.begin() + sof + 7));
  save(dir, "cut_in_data", Bytes(base.begin(), base.begin() + start + (static_cast<long>(base.size()) - start) / 3));
  Bytes sampling = base;
  sampling[sof + 11] = 0x22;
  save(dir, "sampling_2x2", sampling);
  Bytes huge = base;
  huge[sof + 5] = 0xFF;
  huge[sof + 6] = 0xFF;
  huge[sof + 7] = 0xFF;
  huge[sof + 8] = 0xFE;
  save(dir, "huge_picture", huge);
  Bytes odd = base;
  odd[sof + 8] = 121;
  save(dir, "odd_width", odd);
  Bytes marker = base;
  marker.insert(marker.begin() + start + 40, {0xFF, 0xD3, 0xFF});
  save(dir, "markers_in_data", marker);
  Bytes junk = base;
  for (size_t i = static_cast<size_t>(start); i < junk.size(); i += 7) junk[i] = static_cast<uint8_t>(i * 131);
  save(dir, "corrupt_data", junk);
  save(dir, "soi_only", Bytes{0xFF, 0xD8});
  save(dir, "empty", Bytes{});
  return 0;
}
