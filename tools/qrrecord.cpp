// qrrecord: records video from the capture driver into an AVI file, as any Video for Windows
// capture application does: the driver is opened by its registered name through winmm's
// installable-driver layer (OpenDriver "msvideo", the external-input and video-input channels),
// the format is set with DVM_FORMAT, and frames are streamed into a few buffers that go back to
// the driver as soon as they are written.
//
//   qrrecord [-s WIDTHxHEIGHT] [-f FORMAT] [-r FPS] [-t SECONDS | -n FRAMES] [-b BUFFERS] FILE.avi
//
// FORMAT is rgb24 (default), rgb555, grey, yuy2, i420 or yvu9; the size one of 120x96, 160x120,
// 176x144, 320x240 (default), 352x288, 640x480; FPS 1-60 (default 15); 5 seconds by default; 4
// buffers. The file is uncompressed RGB (grey with its palette) or the YUV four-character code,
// with the requested rate and the number of frames recorded in its headers. It is written beside
// its final name and then moved over it. Exit code 0 on success, 1 when the driver or the camera
// cannot be opened or the file cannot be written, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "critical_section.h"
#include "driver_abi.h"
#include "replace_file.h"

namespace {

struct FormatName {
  const char* name;
  DWORD compression;
  WORD bitCount;
};
const FormatName kFormats[] = {{"rgb24", BI_RGB, 24},    {"rgb555", BI_RGB, 16},   {"grey", BI_RGB, 8},
                               {"yuy2", 0x32595559, 16}, {"i420", 0x30323449, 12}, {"yvu9", 0x39555659, 9}};

struct Options {
  LONG width = 320, height = 240;
  const FormatName* format = &kFormats[0];
  DWORD fps = 15;
  DWORD frames = 0;
  DWORD seconds = 5;
  DWORD buffers = 4;
  std::string path;
};

bool parseNumber(const char* text, DWORD low, DWORD high, DWORD& value) {
  char* end = nullptr;
  const unsigned long n = std::strtoul(text, &end, 10);
  if (!*text || *end || n < low || n > high) return false;
  value = static_cast<DWORD>(n);
  return true;
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-s" && hasValue) {
      if (std::sscanf(argv[++i], "%ldx%ld", &options.width, &options.height) != 2) return false;
    } else if (arg == "-f" && hasValue) {
      options.format = nullptr;
      for (const FormatName& f : kFormats) {
        if (std::strcmp(f.name, argv[i + 1]) == 0) options.format = &f;
      }
      ++i;
      if (!options.format) return false;
    } else if (arg == "-r" && hasValue) {
      if (!parseNumber(argv[++i], 1, 60, options.fps)) return false;
    } else if (arg == "-t" && hasValue) {
      if (!parseNumber(argv[++i], 1, 3600, options.seconds)) return false;
    } else if (arg == "-n" && hasValue) {
      if (!parseNumber(argv[++i], 1, 1000000, options.frames)) return false;
    } else if (arg == "-b" && hasValue) {
      if (!parseNumber(argv[++i], 1, 64, options.buffers)) return false;
    } else if (options.path.empty() && arg[0] != '-') {
      options.path = arg;
    } else {
      return false;
    }
  }
  if (!options.frames) options.frames = options.seconds * options.fps;
  return !options.path.empty();
}

// The driver's completed buffers, handed from its callback to the recording loop.
struct Completed {
  compat::CriticalSection lock;
  std::deque<VIDEOHDR*> headers;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  volatile LONG skipped = 0;
};

void CALLBACK onDriverCallback(HDRVR, UINT message, DWORD_PTR user, DWORD_PTR param, DWORD_PTR) {
  Completed& completed = *reinterpret_cast<Completed*>(user);
  if (message == MM_DRVM_DATA) {
    compat::Locked hold(completed.lock);
    completed.headers.push_back(reinterpret_cast<VIDEOHDR*>(param));
  } else if (message == MM_DRVM_ERROR) {
    InterlockedExchange(&completed.skipped, static_cast<LONG>(param));
  }
  SetEvent(completed.event);
}

VIDEOHDR* nextCompleted(Completed& completed, DWORD timeoutMs) {
  for (;;) {
    {
      compat::Locked hold(completed.lock);
      if (!completed.headers.empty()) {
        VIDEOHDR* header = completed.headers.front();
        completed.headers.pop_front();
        return header;
      }
    }
    if (WaitForSingleObject(completed.event, timeoutMs) != WAIT_OBJECT_0) return nullptr;
  }
}

HDRVR openChannel(DWORD channel, DWORD& error) {
  avi::VideoOpenParms parms{};
  parms.dwSize = sizeof parms;
  parms.fccType = avi::kFccVcap;
  parms.dwVersion = 0x00030000;
  parms.dwFlags = channel;
  HDRVR driver = OpenDriver(L"msvideo", L"Drivers32", reinterpret_cast<LPARAM>(&parms));
  error = parms.dwError;
  return driver;
}

LRESULT configure(HDRVR video, UINT message, DWORD flags, void* data, DWORD size) {
  DWORD answer = 0;
  avi::VideoConfigParms parms{&answer, data, size, nullptr, 0};
  return SendDriverMessage(video, message, flags, reinterpret_cast<LPARAM>(&parms));
}

int record(const Options& options) {
  DWORD error = 0;
  HDRVR external = openChannel(avi::kVideoExternalIn, error);
  HDRVR video = openChannel(avi::kVideoIn, error);
  if (!video) {
    std::fprintf(stderr, "qrrecord: the capture driver did not open (DV_ERR %lu)\n", error);
    if (external) CloseDriver(external, 0, 0);
    return 1;
  }
  int result = 1;
  BITMAPINFOHEADER format{};
  format.biSize = sizeof format;
  format.biWidth = options.width;
  format.biHeight = options.height;
  format.biPlanes = 1;
  format.biBitCount = options.format->bitCount;
  format.biCompression = options.format->compression;
  std::vector<RGBQUAD> palette;
  const std::string temporary = options.path + ".part";
  AviWriter writer;
  Completed completed;
  std::vector<std::vector<BYTE>> data(options.buffers);
  std::vector<VIDEOHDR> headers(options.buffers);
  DWORD written = 0, queued = 0, started = 0, elapsed = 0;  // queued: buffers handed over at the start
  bool streaming = false;

  if (configure(video, DVM_FORMAT, VIDEO_CONFIGURE_SET, &format, sizeof format) != 0 ||
      configure(video, DVM_FORMAT, VIDEO_CONFIGURE_GET, &format, sizeof format) != 0) {
    std::fprintf(stderr, "qrrecord: the driver does not offer %ldx%ld %s\n", options.width, options.height,
                 options.format->name);
    goto done;
  }
  if (format.biBitCount == 8) {
    BYTE logPalette[1028];
    if (configure(video, DVM_PALETTE, VIDEO_CONFIGURE_GET, logPalette, sizeof logPalette) == 0) {
      for (int i = 0; i < 256; ++i) {
        const BYTE* e = logPalette + 4 + 4 * i;
        palette.push_back(RGBQUAD{e[2], e[1], e[0], 0});
      }
    }
  }
  if (!writer.open(temporary, format, palette, options.fps)) {
    std::fprintf(stderr, "qrrecord: cannot write %s\n", temporary.c_str());
    goto done;
  }
  {
    avi::VideoStreamInitParms init{};
    init.dwMicroSecPerFrame = (1000000 + options.fps / 2) / options.fps;
    init.dwCallback = reinterpret_cast<DWORD_PTR>(&onDriverCallback);
    init.dwCallbackInst = reinterpret_cast<DWORD_PTR>(&completed);
    init.dwFlags = CALLBACK_FUNCTION;
    init.hVideo = reinterpret_cast<DWORD_PTR>(video);
    if (SendDriverMessage(video, avi::kDvmStreamInit, reinterpret_cast<LPARAM>(&init), sizeof init) != 0) {
      std::fprintf(stderr, "qrrecord: the driver refused to stream\n");
      goto done;
    }
  }
  for (DWORD i = 0; i < options.buffers && queued < options.frames; ++i, ++queued) {
    data[i].resize(format.biSizeImage);
    headers[i] = VIDEOHDR{};
    headers[i].lpData = data[i].data();
    headers[i].dwBufferLength = format.biSizeImage;
    headers[i].dwFlags = VHDR_PREPARED;
    SendDriverMessage(video, avi::kDvmStreamAddBuffer, reinterpret_cast<LPARAM>(&headers[i]), sizeof(VIDEOHDR));
  }
  started = GetTickCount();
  streaming = SendDriverMessage(video, avi::kDvmStreamStart, 0, 0) == 0;
  while (streaming && written < options.frames) {
    VIDEOHDR* header = nextCompleted(completed, 5000);
    if (!header) {
      std::fprintf(stderr, "\nqrrecord: no frame for 5 s\n");
      break;
    }
    if (!writer.addFrame(header->lpData, header->dwBytesUsed)) {
      std::fprintf(stderr, "\nqrrecord: cannot write %s\n", temporary.c_str());
      break;
    }
    ++written;
    // Every buffer goes back until the last frame is in: the driver fills a queued buffer only when
    // another one is added, and the stop hands back what is left over.
    if (written < options.frames) {
      header->dwFlags &= ~VHDR_DONE;
      SendDriverMessage(video, avi::kDvmStreamAddBuffer, reinterpret_cast<LPARAM>(header), sizeof(VIDEOHDR));
    }
    if (written % options.fps == 0 || written == options.frames) {
      std::printf("\rrecording %s: frame %lu of %lu", options.path.c_str(), written, options.frames);
      std::fflush(stdout);
    }
  }
  elapsed = GetTickCount() - started;
  SendDriverMessage(video, avi::kDvmStreamStop, 0, 0);
  SendDriverMessage(video, avi::kDvmStreamReset, 0, 0);
  SendDriverMessage(video, avi::kDvmStreamFini, 0, 0);
  std::printf("\n");
  if (writer.finish() && written == options.frames && compat::replaceFile(temporary.c_str(), options.path.c_str())) {
    std::printf("%s: %lu frames of %ldx%ld %s at %lu frames a second (%.2f measured, %ld skipped)\n",
                options.path.c_str(), written, format.biWidth, format.biHeight, options.format->name, options.fps,
                elapsed ? written * 1000.0 / elapsed : 0.0, static_cast<long>(completed.skipped));
    result = 0;
  } else {
    DeleteFileA(temporary.c_str());
  }
done:
  CloseDriver(video, 0, 0);
  if (external) CloseDriver(external, 0, 0);
  CloseHandle(completed.event);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: qrrecord [-s WIDTHxHEIGHT] [-f rgb24|rgb555|grey|yuy2|i420|yvu9] [-r FPS] [-t SECONDS | -n "
                 "FRAMES] [-b BUFFERS] FILE.avi\n");
    return 2;
  }
  return record(options);
}
