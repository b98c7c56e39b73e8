// A second program on the clipboard, for the viewer's copy and paste tests.
//   clipboard_peer get            prints "width height bits checksum" of the CF_DIB there
//   clipboard_peer put W H BITS   puts a CF_DIB of that size and depth (a known pattern) and
//                                 prints the same line for it
// The checksum is the sum of the bytes of each row that hold pixels (no row padding), each times
// its position among them modulo 251 plus one.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned long rowBytes(LONG width, WORD bits) { return ((width * bits + 31) / 32) * 4; }

unsigned long checksum(const BYTE* rows, LONG width, LONG height, WORD bits) {
  const unsigned long stride = rowBytes(width, bits), used = (width * bits + 7) / 8;
  unsigned long sum = 0, position = 0;
  for (LONG y = 0; y < height; ++y)
    for (unsigned long x = 0; x < used; ++x, ++position) sum += rows[y * stride + x] * (position % 251 + 1);
  return sum;
}

int get() {
  if (!OpenClipboard(nullptr)) return 2;
  HGLOBAL block = GetClipboardData(CF_DIB);
  const BYTE* data = block ? static_cast<const BYTE*>(GlobalLock(block)) : nullptr;
  if (!data) {
    CloseClipboard();
    return 3;
  }
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data);
  const unsigned long colours =
      header->biBitCount <= 8 ? (header->biClrUsed ? header->biClrUsed : 1u << header->biBitCount) : 0;
  const BYTE* rows = data + header->biSize + colours * 4;
  std::printf("%ld %ld %d %lu\n", header->biWidth, header->biHeight, header->biBitCount,
              checksum(rows, header->biWidth, header->biHeight, header->biBitCount));
  GlobalUnlock(block);
  CloseClipboard();
  return 0;
}

int put(LONG width, LONG height, WORD bits) {
  const unsigned long colours = bits <= 8 ? 1u << bits : 0;
  const unsigned long row = rowBytes(width, bits), size = sizeof(BITMAPINFOHEADER) + colours * 4 + row * height;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
  BYTE* data = block ? static_cast<BYTE*>(GlobalLock(block)) : nullptr;
  if (!data) return 2;
  std::memset(data, 0, size);
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(data);
  header->biSize = sizeof *header;
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = bits;
  header->biCompression = BI_RGB;
  auto* palette = reinterpret_cast<RGBQUAD*>(data + sizeof *header);
  for (unsigned long i = 0; i < colours; ++i) {
    const BYTE level = static_cast<BYTE>(colours == 2 ? i * 255 : i);
    palette[i] = {level, level, level, 0};
  }
  BYTE* rows = data + sizeof *header + colours * 4;
  for (LONG y = 0; y < height; ++y)
    for (unsigned long x = 0; x < row; ++x) rows[y * row + x] = static_cast<BYTE>(x * 7 + y * 3);
  const unsigned long sum = checksum(rows, width, height, bits);
  GlobalUnlock(block);
  if (!OpenClipboard(nullptr) || !EmptyClipboard() || !SetClipboardData(CF_DIB, block)) return 3;
  CloseClipboard();
  std::printf("%ld %ld %d %lu\n", width, height, bits, sum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "get") == 0) return get();
  if (argc == 5 && std::strcmp(argv[1], "put") == 0)
    return put(std::atol(argv[2]), std::atol(argv[3]), static_cast<WORD>(std::atoi(argv[4])));
  std::fprintf(stderr, "usage: clipboard_peer get | put W H BITS\n");
  return 1;
}
