// The seven file formats: for each, an info call and a decoder that work on the file's bytes, an
// encoder that makes them, and the file-level calls the DLL exports.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../core/image.h"
#include "fileio.h"

namespace vic {

// What an info call tells about a file before loading it.
struct FileInfo {
  int32_t width;
  int32_t height;
  int32_t bits;         // depth of the image to allocate for loading it: 1, 8 or 24
  int32_t fileBits;     // bits per pixel as stored (a 4-bit BMP says 4 here and 8 above)
  int32_t compression;  // BMP: biCompression; TIFF: the Compression tag; PCX: 1; GIF: 1 when interlaced;
                        // JPEG: 1 when progressive; TGA: 1 for run-length; others 0
  int32_t imageType;    // TGA: the image type byte (1, 2, 3, 9, 10, 11); TIFF: photometric; else 0
  int32_t colors;       // palette entries in the file (0 for true colour)
};

using InfoDecoder = int (*)(const uint8_t* data, std::size_t size, FileInfo& info);
using PictureDecoder = int (*)(const uint8_t* data, std::size_t size, Picture& picture);

// Per format: info, decode and encode on bytes. The encoders check the picture's depth
// (kBadBits when the format or option cannot hold it) and the option (kBadRange).
int bmpInfo(const uint8_t* data, std::size_t size, FileInfo& info);
int decodeBmp(const uint8_t* data, std::size_t size, Picture& picture);
int encodeBmp(const Picture& picture, int option, std::vector<uint8_t>& out);  // 0 plain, 1 RLE8

int gifInfo(const uint8_t* data, std::size_t size, FileInfo& info);
int decodeGif(const uint8_t* data, std::size_t size, Picture& picture);
int encodeGif(const Picture& picture, std::vector<uint8_t>& out);

int pcxInfo(const uint8_t* data, std::size_t size, FileInfo& info);
int decodePcx(const uint8_t* data, std::size_t size, Picture& picture);
int encodePcx(const Picture& picture, std::vector<uint8_t>& out);

int tgaInfo(const uint8_t* data, std::size_t size, FileInfo& info);
int decodeTga(const uint8_t* data, std::size_t size, Picture& picture);
int encodeTga(const Picture& picture, int option, std::vector<uint8_t>& out);  // 0 plain, 1 RLE

int tiffInfo(const uint8_t* data, std::size_t size, FileInfo& info);
int decodeTiff(const uint8_t* data, std::size_t size, Picture& picture);
// 0 none, 1 LZW, 2 PackBits, 3 CCITT Group 3 (as Modified Huffman), 4 CCITT Group 4 (both 1-bit
// only); tiff_options.h has the tag each writes.
int encodeTiff(const Picture& picture, int option, std::vector<uint8_t>& out);

int jpegInfo(const uint8_t* data, std::size_t size, FileInfo& info);
int decodeJpeg(const uint8_t* data, std::size_t size, Picture& picture);
int encodeJpeg(const Picture& picture, int quality, std::vector<uint8_t>& out);  // quality 25..100

int encodeEps(const Picture& picture, std::vector<uint8_t>& out);

// File level: read the whole file and run the info call or decoder; load decodes into the
// descriptor's image area (see pictureToImage); save encodes the image area and writes it safely.
int fileInfo(const char* name, InfoDecoder decoder, FileInfo* info);
int loadFile(const char* name, PictureDecoder decoder, ImageDescriptor* descriptor);
template <typename Encode>
int saveFile(const char* name, const ImageDescriptor* descriptor, Encode encode);

template <typename Encode>
int saveFile(const char* name, const ImageDescriptor* descriptor, Encode encode) {
  Picture picture;
  int result = imageToPicture(descriptor, picture);
  if (result != kOk) return result;
  std::vector<uint8_t> bytes;
  try {
    result = encode(picture, bytes);
  } catch (...) {
    return kNoMemory;
  }
  if (result != kOk) return result;
  return writeFileSafely(name, bytes);
}

}  // namespace vic
