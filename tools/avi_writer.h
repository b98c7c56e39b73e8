// A standard AVI file of one video stream of uncompressed frames (RGB, grey with its palette, or a
// YUV four-character code), written as frames arrive: the headers are written first with room for
// the counts and filled in by finish(), when the frame count is known.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

class AviWriter {
 public:
  // `format` is the frames' BITMAPINFOHEADER; `palette` (256 entries, or empty) follows it for
  // 8-bit frames. The headers give `framesPerSecond` exactly (scale 1, rate framesPerSecond).
  bool open(const std::string& path, const BITMAPINFOHEADER& format, const std::vector<RGBQUAD>& palette,
            DWORD framesPerSecond);
  bool addFrame(const void* data, DWORD size);
  // Index, sizes and counts; false when a write failed.
  bool finish();
  DWORD frames() const { return static_cast<DWORD>(index_.size()); }

 private:
  struct IndexEntry {
    DWORD chunkId, flags, offset, size;
  };
  void put32(DWORD value);
  void putFourcc(const char* code);
  void patch32(long at, DWORD value);

  std::FILE* file_ = nullptr;
  BITMAPINFOHEADER format_{};
  DWORD chunkId_ = 0;
  long riffSizeAt_ = 0, totalFramesAt_ = 0, lengthAt_ = 0, moviSizeAt_ = 0, moviStart_ = 0;
  std::vector<IndexEntry> index_;
  bool ok_ = true;
};
