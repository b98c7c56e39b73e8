#include "avi_writer.h"

namespace {

constexpr DWORD kAvifHasIndex = 0x10;
constexpr DWORD kAviifKeyframe = 0x10;

DWORD fourcc(const char* code) {
  return static_cast<DWORD>(static_cast<unsigned char>(code[0])) | static_cast<DWORD>(code[1]) << 8 |
         static_cast<DWORD>(code[2]) << 16 | static_cast<DWORD>(code[3]) << 24;
}

}  // namespace

void AviWriter::put32(DWORD value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  ok_ = std::fwrite(bytes, 1, 4, file_) == 4 && ok_;
}

void AviWriter::putFourcc(const char* code) { put32(fourcc(code)); }

void AviWriter::patch32(long at, DWORD value) {
  const long here = std::ftell(file_);
  ok_ = std::fseek(file_, at, SEEK_SET) == 0 && ok_;
  put32(value);
  ok_ = std::fseek(file_, here, SEEK_SET) == 0 && ok_;
}

bool AviWriter::open(const std::string& path, const BITMAPINFOHEADER& format, const std::vector<RGBQUAD>& palette,
                     DWORD framesPerSecond) {
  const DWORD microSecPerFrame = (1000000 + framesPerSecond / 2) / framesPerSecond;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  format_ = format;
  // Uncompressed DIB frames are "db" chunks; frames with a four-character code, "dc".
  chunkId_ = fourcc(format.biCompression == BI_RGB ? "00db" : "00dc");
  const DWORD strfSize = sizeof(BITMAPINFOHEADER) + static_cast<DWORD>(palette.size() * sizeof(RGBQUAD));
  const DWORD strlSize = 4 + (8 + 56) + (8 + strfSize);
  const DWORD hdrlSize = 4 + (8 + 56) + (8 + strlSize);

  putFourcc("RIFF");
  riffSizeAt_ = std::ftell(file_);
  put32(0);
  putFourcc("AVI ");
  putFourcc("LIST");
  put32(hdrlSize);
  putFourcc("hdrl");
  putFourcc("avih");
  put32(56);
  put32(microSecPerFrame);
  put32(format.biSizeImage * framesPerSecond);
  put32(0);  // padding granularity
  put32(kAvifHasIndex);
  totalFramesAt_ = std::ftell(file_);
  put32(0);  // total frames
  put32(0);  // initial frames
  put32(1);  // streams
  put32(format.biSizeImage);
  put32(static_cast<DWORD>(format.biWidth));
  put32(static_cast<DWORD>(format.biHeight));
  for (int i = 0; i < 4; ++i) put32(0);

  putFourcc("LIST");
  put32(strlSize);
  putFourcc("strl");
  putFourcc("strh");
  put32(56);
  putFourcc("vids");
  put32(format.biCompression == BI_RGB ? 0 : format.biCompression);
  put32(0);  // flags
  put32(0);  // priority and language
  put32(0);  // initial frames
  put32(1);  // scale / rate = seconds per frame
  put32(framesPerSecond);
  put32(0);  // start
  lengthAt_ = std::ftell(file_);
  put32(0);  // length in frames
  put32(format.biSizeImage);
  put32(0xFFFFFFFF);  // quality: default
  put32(0);           // sample size: frames vary in nothing, but are counted one by one
  put32(0);           // frame rectangle: left, top
  put32(static_cast<DWORD>(format.biWidth) | static_cast<DWORD>(format.biHeight) << 16);

  putFourcc("strf");
  put32(strfSize);
  BITMAPINFOHEADER stored = format;
  stored.biClrUsed = static_cast<DWORD>(palette.size());
  ok_ = std::fwrite(&stored, sizeof stored, 1, file_) == 1 && ok_;
  if (!palette.empty())
    ok_ = std::fwrite(palette.data(), sizeof(RGBQUAD), palette.size(), file_) == palette.size() && ok_;

  putFourcc("LIST");
  moviSizeAt_ = std::ftell(file_);
  put32(0);
  moviStart_ = std::ftell(file_);
  putFourcc("movi");
  return ok_;
}

bool AviWriter::addFrame(const void* data, DWORD size) {
  const long at = std::ftell(file_);
  put32(chunkId_);
  put32(size);
  ok_ = std::fwrite(data, 1, size, file_) == size && ok_;
  if (size & 1) ok_ = std::fputc(0, file_) != EOF && ok_;
  index_.push_back({chunkId_, kAviifKeyframe, static_cast<DWORD>(at - moviStart_), size});
  return ok_;
}

bool AviWriter::finish() {
  if (!file_) return false;
  const long moviEnd = std::ftell(file_);
  putFourcc("idx1");
  put32(static_cast<DWORD>(index_.size() * 16));
  for (const IndexEntry& e : index_) {
    put32(e.chunkId);
    put32(e.flags);
    put32(e.offset);
    put32(e.size);
  }
  const long end = std::ftell(file_);
  patch32(moviSizeAt_, static_cast<DWORD>(moviEnd - moviStart_));
  patch32(riffSizeAt_, static_cast<DWORD>(end - 8));
  patch32(totalFramesAt_, frames());
  patch32(lengthAt_, frames());
  ok_ = std::fclose(file_) == 0 && ok_;
  file_ = nullptr;
  return ok_;
}
