// The viewer's files and clipboard: the save lists by depth, saving a camera still in every offered
// type through the real save dialog and opening each file again, the JPEG quality dialog and its
// Cancel, the folder kept in "File Location", the questions that lead to saving, damaged files,
// the command-line file, and copy and paste with a second program.
#include <gtest/gtest.h>

#include <dlgs.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "child_process.h"
#include "files.h"
#include "printing.h"
#include "test_printer.h"
#include <winspool.h>
#include "viewer_fixture.h"
#include "viewer_ids.h"

namespace {

using viewertest::Viewer;
namespace files = viewer::files;

// The file-name field of the common open and save dialogs.
constexpr int kFileNameField = cmb13;

std::vector<LONG> codesOf(LONG bits) {
  std::vector<LONG> codes;
  const files::SaveList list = files::saveListFor(bits);
  for (int i = 0; list.codes[i] != files::kEndOfCodes; ++i) codes.push_back(list.codes[i]);
  return codes;
}

bool contains(const std::vector<LONG>& codes, LONG code) {
  for (LONG c : codes)
    if (c == code) return true;
  return false;
}

TEST(ViewerFileLists, EachDepthIsOfferedOnlyTheTypesThatCanHoldIt) {
  // 24-bit: no GIF (6), PCX (5) or EPS (15); 8-bit: no TGA (7, 8); 1-bit: no JPEG (11) or GIF.
  struct Case {
    LONG bits;
    std::vector<LONG> absent;
    std::size_t entries;
  } cases[] = {{24, {5, 6, 12, 15}, 6}, {8, {7, 8}, 9}, {1, {11, 6, 7, 8, 15}, 6}};
  for (const Case& c : cases) {
    const std::vector<LONG> codes = codesOf(c.bits);
    EXPECT_EQ(c.entries, codes.size()) << c.bits;
    for (LONG code : c.absent) EXPECT_FALSE(contains(codes, code)) << c.bits << " offers " << code;
    // Every entry but "All Files" has its code: one more filter pair than codes.
    const std::string filter = files::saveListFor(c.bits).filter;
    EXPECT_EQ(2 * (codes.size() + 1), static_cast<std::size_t>(std::count(filter.begin(), filter.end(), '|')));
    EXPECT_NE(std::string::npos, filter.find("All Files |*.*|"));
    // The filter index of each code and back; a code not offered selects the first entry.
    for (std::size_t i = 0; i < codes.size(); ++i) {
      EXPECT_EQ(i + 1, files::filterIndexOf(files::saveListFor(c.bits), codes[i]));
      EXPECT_EQ(codes[i], files::codeOfFilterIndex(files::saveListFor(c.bits), static_cast<DWORD>(i + 1)));
    }
    EXPECT_EQ(1u, files::filterIndexOf(files::saveListFor(c.bits), c.absent[0]));
    EXPECT_EQ(-1, files::codeOfFilterIndex(files::saveListFor(c.bits), static_cast<DWORD>(codes.size() + 1)));
  }
  EXPECT_STREQ("JPG", files::defaultExtension(11));
  EXPECT_STREQ("EPS", files::defaultExtension(files::kEpsListCode));
  EXPECT_EQ(nullptr, files::defaultExtension(13));
  EXPECT_EQ(nullptr, files::defaultExtension(-1));
}

TEST(ViewerFileLists, TheExtensionIsTakenFromTheFileNameOnly) {
  struct Case {
    const char* name;
    const char* extension;
  } cases[] = {{"C:\\a.b\\picture.bmp", ".bmp"},
               {"C:\\pictures.tif\\picture", ""},
               {"picture", ""},
               {"a.b.JPG", ".JPG"},
               {"C:/x.y/z.Tga", ".Tga"}};
  for (const Case& c : cases) EXPECT_EQ(c.extension, files::extensionOf(c.name)) << c.name;
}

TEST(ViewerFileLists, OnlyAWholeUncompressedPackedBitmapIsTakenFromTheClipboard) {
  struct Case {
    const char* what;
    SIZE_T size;
    LONG width, height;
    WORD bits;
    DWORD compression, colours;
    LONG code;
  } cases[] = {
      {"whole 24-bit", 40 + 16 * 48, 16, 16, 24, BI_RGB, 0, 0},
      {"whole 8-bit, 256 colours", 40 + 1024 + 16 * 16, 16, 16, 8, BI_RGB, 0, 0},
      {"whole 8-bit, 2 colours used", 40 + 8 + 16 * 16, 16, 16, 8, BI_RGB, 2, 0},
      {"whole 1-bit, top-down", 40 + 8 + 4 * 16, 16, -16, 1, BI_RGB, 0, 0},
      {"shorter than a header", 20, 16, 16, 24, BI_RGB, 0, -5},
      {"rows missing", 40 + 100, 16, 16, 24, BI_RGB, 0, -5},
      {"palette missing", 40 + 200, 16, 16, 8, BI_RGB, 0, -5},
      {"run-length coded", 40 + 1024 + 256, 16, 16, 8, BI_RLE8, 0, -12},
      {"absurd size", 40 + 4096, 0x7fffffff, 0x7fffffff, 24, BI_RGB, 0, -5},
      {"no width", 40 + 4096, 0, 16, 24, BI_RGB, 0, -5},
      {"too many colours", 40 + 8192, 4, 4, 8, BI_RGB, 2000, -5},
      {"16 bits", 40 + 4096, 16, 16, 16, BI_RGB, 0, -26},
  };
  for (const Case& c : cases) {
    std::vector<BYTE> data(c.size < 40 ? 40 : c.size);
    BITMAPINFOHEADER header = {};
    header.biSize = 40;
    header.biWidth = c.width;
    header.biHeight = c.height;
    header.biPlanes = 1;
    header.biBitCount = c.bits;
    header.biCompression = c.compression;
    header.biClrUsed = c.colours;
    std::memcpy(data.data(), &header, sizeof header);
    EXPECT_EQ(c.code, files::packedBitmapCheck(data.data(), c.size)) << c.what;
  }
}

// Files in a folder of the test's own, removed afterwards unless QR_VIEWER_FILES names a folder
// to keep them in (the peer-tool script reads them there).
class ViewerFiles : public Viewer {
 protected:
  void SetUp() override {
    Viewer::SetUp();
    const char* keep = std::getenv("QR_VIEWER_FILES");
    if (keep && *keep) {
      folder_ = keep;
      keep_ = true;
    } else {
      char temp[MAX_PATH];
      GetTempPathA(MAX_PATH, temp);
      folder_ = std::string(temp) + "qr3viewer_files_" + std::to_string(GetCurrentProcessId());
    }
    if (folder_.back() != '\\') folder_ += '\\';
    CreateDirectoryA(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    Viewer::TearDown();
    if (!keep_) removeTree(folder_);
  }
  static void removeTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          removeTree(folder + name + "\\");
        else
          DeleteFileA((folder + name).c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
  }

  // A still from the camera at 160 x 120, in colour or grey.
  void takeStill(bool grey) {
    plugUsbCamera();
    start();
    settle();
    if (grey) command(CM_COLOUR_MODE);
    command(CM_CAPTURE);
    settle();
    ASSERT_TRUE(window().currentImage().bmh);
  }
  LONG& setting(const char* name) {
    viewer::TQRViewIO& io = window().settings();
    return io.settings[io.settings.find(name)];
  }
  // Save as, the dialog answered with `name` (and, for JPEG files, the quality dialog with
  // `quality`, or Cancel when it is empty).
  void saveAs(const std::string& name, const std::string& quality = "90") {
    answers_.planText(kFileNameField, name, IDOK);
    if (files::extensionOf(name) == ".jpg") {
      if (quality.empty())
        answers_.plan(IDCANCEL);
      else
        answers_.planText(IDC_JPEG_QUALITY_EDIT, quality, IDOK);
    }
    command(CM_FILE_SAVE_AS);
  }
  // Closes with nothing left to ask about.
  void closeQuietly() {
    window().state().configChanged = 0;
    window().state().imageSaved = 1;
    close();
    app_.reset();
  }
  void openFile(const std::string& name) {
    answers_.planText(kFileNameField, name, IDOK);
    command(CM_FILE_OPEN);
  }
  static bool exists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }
  static std::string head(const std::string& name, std::size_t count) {
    std::ifstream in(name, std::ios::binary);
    std::string bytes(count, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
  }

  std::string folder_;
  bool keep_ = false;
};

const char* extensionOfCode(LONG code) {
  static const char* const names[] = {"tif", "tif", "tif", "tif", "tif", "pcx", "gif",
                                      "tga", "tga", "bmp", "bmp", "jpg", "eps"};
  return code == files::kEpsListCode ? "eps" : names[code];
}

// Every type each depth is offered, chosen by the filter index the dialog starts at, saved and
// opened again: same size and depth, and the save type the file was written with.
TEST_F(ViewerFiles, EveryOfferedTypeOfA24And8And1BitPictureIsSavedAndOpensAgain) {
  std::ofstream manifest(folder_ + "manifest.txt", std::ios::binary);
  takeStill(false);
  for (LONG bits : {24L, 8L, 1L}) {
    SCOPED_TRACE(bits);
    if (bits == 8) {
      command(CM_COLOUR_MODE);
      command(CM_CAPTURE);
      settle();
    } else if (bits == 1) {
      // A one-bit picture comes through the clipboard from another program.
      std::string output;
      ASSERT_EQ(0, qrtest::runChild("qr3viewer_clipboard_peer.exe", "put 160 120 1", output));
      command(CM_PASTE);
    }
    ASSERT_TRUE(window().currentImage().bmh);
    ASSERT_EQ(bits, window().currentImage().bmh->biBitCount);
    const LONG width = window().currentImage().bmh->biWidth, height = window().currentImage().bmh->biHeight;
    for (LONG code : codesOf(bits)) {
      SCOPED_TRACE(code);
      const std::string name =
          folder_ + "still" + std::to_string(bits) + "_" + std::to_string(code) + "." + extensionOfCode(code);
      setting("File Save Type") = code;
      saveAs(name);
      ASSERT_EQ(0, state().lastError);
      ASSERT_TRUE(exists(name));
      EXPECT_EQ(1, state().imageSaved);
      EXPECT_EQ(code, setting("File Save Type"));
      manifest << "still" << bits << "_" << code << "." << extensionOfCode(code) << " " << width << " " << height << " "
               << bits << " " << code << "\n";
      if (code == files::kEpsListCode) continue;  // no row loads EPS
      setting("File Save Type") = -1;
      openFile(name);
      ASSERT_EQ(0, state().lastError);
      ASSERT_TRUE(window().currentImage().bmh);
      EXPECT_EQ(width, window().currentImage().bmh->biWidth);
      EXPECT_EQ(height, window().currentImage().bmh->biHeight);
      EXPECT_EQ(bits, window().currentImage().bmh->biBitCount);
      EXPECT_EQ(code, setting("File Save Type"));
      const std::string title = name.substr(name.rfind('\\') + 1);
      EXPECT_EQ(title, state().currentFileName);
      EXPECT_EQ(0u, status().find(title)) << status();
    }
  }
}

TEST_F(ViewerFiles, CancellingTheJpegQualityWritesNothingAndReportsNothing) {
  takeStill(false);
  setting("File Save Type") = 11;
  const std::string name = folder_ + "cancelled.jpg";
  saveAs(name, "");
  EXPECT_FALSE(exists(name));
  EXPECT_EQ(0, state().lastError);
  EXPECT_EQ(0, state().imageSaved);  // nothing was written: the picture is still unsaved
  ASSERT_EQ(2u, answers_.seen().size());
  EXPECT_EQ("JPEG File Save", answers_.seen()[1].caption);
  // The quality typed in the dialog is kept.
  saveAs(name, "40");
  EXPECT_TRUE(exists(name));
  EXPECT_EQ(40, setting("Jpeg Quality"));
}

TEST_F(ViewerFiles, TheFolderIsKeptInFileLocationAndAChangeOfFolderOrTypeMarksTheConfiguration) {
  takeStill(false);
  const std::string other = folder_ + "other.d\\";
  CreateDirectoryA(other.c_str(), nullptr);
  viewer::TQRViewIO& io = window().settings();
  std::string& location = io.settings.text(io.settings.find("File Location"));
  setting("File Save Type") = 9;
  saveAs(folder_ + "a.bmp");
  EXPECT_EQ(folder_, location);
  EXPECT_EQ(1, state().configChanged);
  window().state().configChanged = 0;
  saveAs(folder_ + "b.bmp");  // the same folder and type
  EXPECT_EQ(0, state().configChanged);
  saveAs(other + "b.bmp");  // only the folder changes
  EXPECT_EQ(other, location);
  EXPECT_EQ(1, state().configChanged);
  window().state().configChanged = 0;
  // Only the type: a GIF type is not offered for 24 bits, so the dialog starts at its first entry
  // (BMP), and that is the type saved.
  setting("File Save Type") = 6;
  saveAs(other + "c.bmp");
  EXPECT_EQ(9, setting("File Save Type"));
  EXPECT_EQ(1, state().configChanged);
  // A point in the folder's name does not make the type: the name's own extension does.
  const std::string dotted = folder_ + "pictures.tif\\";
  CreateDirectoryA(dotted.c_str(), nullptr);
  setting("File Save Type") = 9;
  saveAs(dotted + "d.bmp");
  EXPECT_EQ(0, state().lastError);
  EXPECT_EQ("BM", head(dotted + "d.bmp", 2));
}

TEST_F(ViewerFiles, AFailedSaveIsReportedAndLeavesThePictureUnsaved) {
  takeStill(false);
  const std::string name = folder_ + "picture.xyz";  // no format has this extension
  answers_.planText(kFileNameField, name, IDOK);
  answers_.plan(IDOK);
  command(CM_FILE_SAVE_AS);
  ASSERT_EQ(2u, answers_.seen().size());
  EXPECT_EQ("Error saving image, check file extension.", answers_.seen()[1].text);
  EXPECT_EQ("QR3Viewer", answers_.seen()[1].caption);
  EXPECT_EQ(-11, state().lastError);
  EXPECT_FALSE(exists(name));
  // Not written, so the closing question still guards the picture.
  EXPECT_EQ(0, state().imageSaved);
}

TEST_F(ViewerFiles, OpensQuestionSavesFirstOnYesAndEndsOnCancel) {
  takeStill(false);
  const std::string kept = folder_ + "kept.bmp";
  setting("File Save Type") = 9;
  saveAs(kept);
  command(CM_CAPTURE);
  settle();
  ASSERT_EQ(0, state().imageSaved);
  const std::string question = "Save current image before opening new file?";
  answers_.plan(IDCANCEL);
  command(CM_FILE_OPEN);
  ASSERT_EQ(1u + 1u, answers_.seen().size());
  EXPECT_EQ(question, answers_.seen().back().text);
  EXPECT_EQ((std::vector<int>{IDCANCEL, IDYES, IDNO}), answers_.seen().back().buttons);
  EXPECT_EQ(0, state().imageSaved);
  // Yes: the save dialog, then the open dialog.
  const std::string fresh = folder_ + "fresh.bmp";
  answers_.plan(IDYES);
  answers_.planText(kFileNameField, fresh, IDOK);
  answers_.planText(kFileNameField, kept, IDOK);
  command(CM_FILE_OPEN);
  EXPECT_TRUE(exists(fresh));
  EXPECT_EQ("kept.bmp", state().currentFileName);
  EXPECT_EQ(1, state().imageSaved);
}

TEST_F(ViewerFiles, AnswerYesToSaveTheImageOnClosingRunsTheSaveDialogAndClosesOnceWritten) {
  takeStill(false);
  setting("Save Image on Exit") = 1;
  setting("File Save Type") = 9;
  window().state().configChanged = 0;
  answers_.plan(IDYES);
  answers_.plan(IDCANCEL);  // the save dialog: nothing written, the viewer stays
  close();
  EXPECT_TRUE(open());
  const std::string name = folder_ + "closing.bmp";
  answers_.plan(IDYES);
  answers_.planText(kFileNameField, name, IDOK);
  close();
  EXPECT_FALSE(open());
  EXPECT_TRUE(exists(name));
}

TEST_F(ViewerFiles, AFileThatIsDamagedOrOfAnUnknownTypeIsReportedAndThePictureStays) {
  takeStill(false);
  struct Case {
    const char* name;
    const char* content;
    const char* message;
  } cases[] = {{"damaged.bmp", "BM this is no bitmap", nullptr},
               {"text.jpg", "plain text, not a JPEG file", nullptr},
               {"unknown.xyz", "anything", "Unreadable filetype"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = folder_ + c.name;
    std::ofstream(name, std::ios::binary) << c.content;
    window().state().imageSaved = 1;
    const std::size_t before = answers_.seen().size();
    answers_.planText(kFileNameField, name, IDOK);
    answers_.plan(IDOK);  // the library's message
    command(CM_FILE_OPEN);
    ASSERT_EQ(before + 2, answers_.seen().size());
    EXPECT_EQ("Camera Error", answers_.seen().back().caption);
    EXPECT_FALSE(answers_.seen().back().text.empty());
    if (c.message) {
      EXPECT_EQ(c.message, answers_.seen().back().text);
    }
    EXPECT_NE(0, state().lastError);
    ASSERT_TRUE(window().currentImage().bmh);
    EXPECT_EQ(160, window().currentImage().bmh->biWidth);
    EXPECT_EQ(24, window().currentImage().bmh->biBitCount);
  }
}

TEST_F(ViewerFiles, TheCommandLineFileIsOpenedByTheIdleStep) {
  // A picture to open, written by the viewer itself first.
  takeStill(true);
  setting("File Save Type") = 6;
  const std::string name = folder_ + "from the command line.gif";
  saveAs(name);
  closeQuietly();
  start("\"" + name + "\"");
  settle();
  ASSERT_TRUE(window().currentImage().bmh);
  EXPECT_EQ(8, window().currentImage().bmh->biBitCount);
  EXPECT_EQ(name, state().statusText);  // at most 80 characters: the whole name
  EXPECT_EQ(1, state().imageSaved);
  EXPECT_EQ(6, setting("File Save Type"));
  closeQuietly();
  // A file that cannot be opened.
  answers_.plan(IDOK);
  start(folder_ + "missing.xyz");
  settle();
  ASSERT_EQ(2u, answers_.seen().size());
  EXPECT_EQ("Unable to open this file type", answers_.seen().back().text);
  EXPECT_EQ("QR3Viewer", answers_.seen().back().caption);
}

// The clipboard.

struct PeerImage {
  long width = 0, height = 0;
  int bits = 0;
  unsigned long sum = 0;
};

PeerImage parsePeer(const std::string& line) {
  PeerImage image;
  std::istringstream(line) >> image.width >> image.height >> image.bits >> image.sum;
  return image;
}

// As the peer program sums a bitmap: the bytes of each row that hold pixels, in order.
unsigned long checksumOf(const ImageDescriptor& image) {
  const unsigned long used = (image.bmh->biWidth * image.bmh->biBitCount + 7) / 8;
  unsigned long sum = 0, position = 0;
  for (LONG y = 0; y < image.bmh->biHeight; ++y)
    for (unsigned long x = 0; x < used; ++x, ++position)
      sum += image.ibuff[y * image.buffwidth + x] * (position % 251 + 1);
  return sum;
}

TEST_F(ViewerFiles, APictureCopiedIsReadByAnotherProgramAndOneItPutsThereIsPasted) {
  takeStill(false);
  command(CM_COPY);
  std::string output;
  ASSERT_EQ(0, qrtest::runChild("qr3viewer_clipboard_peer.exe", "get", output));
  const PeerImage copied = parsePeer(output);
  EXPECT_EQ(160, copied.width);
  EXPECT_EQ(120, copied.height);
  EXPECT_EQ(24, copied.bits);
  EXPECT_EQ(checksumOf(window().currentImage()), copied.sum);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_PALETTE));  // true colour has no palette
  for (const char* size : {"64 48 8", "33 17 24", "40 30 1"}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(0, qrtest::runChild("qr3viewer_clipboard_peer.exe", std::string("put ") + size, output));
    const PeerImage put = parsePeer(output);
    EXPECT_TRUE(enabled(CM_PASTE));
    command(CM_PASTE);
    ASSERT_EQ(0, state().lastError);
    const ImageDescriptor& image = window().currentImage();
    EXPECT_EQ(put.width, image.bmh->biWidth);
    EXPECT_EQ(put.height, image.bmh->biHeight);
    EXPECT_EQ(put.bits, image.bmh->biBitCount);
    EXPECT_EQ(put.sum, checksumOf(image));
    EXPECT_EQ(0u, status().find("Paste from Clipboard")) << status();
  }
  // A picture with a palette goes with it (the last one pasted has two colours).
  command(CM_COPY);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_PALETTE));
  ASSERT_EQ(0, qrtest::runChild("qr3viewer_clipboard_peer.exe", "get", output));
  EXPECT_EQ(1, parsePeer(output).bits);
}

TEST_F(ViewerFiles, ClipboardDataThatIsNoWholePackedBitmapIsRefusedAndThePictureStays) {
  takeStill(false);
  struct Case {
    const char* what;
    SIZE_T size;
    LONG width, height;
    WORD bits;
    DWORD compression;
  } cases[] = {{"shorter than a header", 20, 16, 16, 24, BI_RGB},
               {"rows missing", sizeof(BITMAPINFOHEADER) + 100, 16, 16, 24, BI_RGB},
               {"run-length coded", sizeof(BITMAPINFOHEADER) + 1024 + 256, 16, 16, 8, BI_RLE8},
               {"absurd size", sizeof(BITMAPINFOHEADER) + 4096, 0x7fffffff, 0x7fffffff, 24, BI_RGB},
               {"no width", sizeof(BITMAPINFOHEADER) + 4096, 0, 16, 24, BI_RGB}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE,
                                c.size < sizeof(BITMAPINFOHEADER) ? sizeof(BITMAPINFOHEADER) : c.size);
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    std::memset(header, 0, GlobalSize(block));
    header->biSize = sizeof *header;
    header->biWidth = c.width;
    header->biHeight = c.height;
    header->biPlanes = 1;
    header->biBitCount = c.bits;
    header->biCompression = c.compression;
    GlobalUnlock(block);
    if (c.size < sizeof(BITMAPINFOHEADER)) block = GlobalReAlloc(block, c.size, GMEM_MOVEABLE);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    SetClipboardData(CF_DIB, block);
    CloseClipboard();
    const std::size_t before = answers_.seen().size();
    answers_.plan(IDOK);
    command(CM_PASTE);
    ASSERT_EQ(before + 1, answers_.seen().size());
    EXPECT_EQ("Camera Error", answers_.seen().back().caption);
    EXPECT_NE(0, state().lastError);
    ASSERT_TRUE(window().currentImage().bmh);
    EXPECT_EQ(160, window().currentImage().bmh->biWidth);
    EXPECT_EQ(120, window().currentImage().bmh->biHeight);
  }
}

// Printing.

TEST(ViewerPrintLayout, FitCentreAndMarginsFollowTheSettings) {
  namespace printing = viewer::printing;
  const printing::Page page = {8000, 10500};
  // "Auto Scale": 640 x 480 fills the width and is centred from top to bottom.
  printing::PrintSettings s = {0, 0, 6000, 4000, 0, 1, 0, 0, 0};
  printing::applyRules(s, 640, 480, page);
  EXPECT_EQ(8000, s.width);
  EXPECT_EQ(6000, s.height);
  EXPECT_EQ(0, s.left);
  EXPECT_EQ(2250, s.top);
  // A tall picture is height-limited.
  s = {0, 0, 6000, 4000, 0, 1, 0, 0, 0};
  printing::applyRules(s, 100, 400, page);
  EXPECT_EQ(10500, s.height);
  EXPECT_EQ(2625, s.width);
  EXPECT_EQ((8000 - 2625) / 2, s.left);
  // Margins are kept on the page (a negative one counts as too large), and centred on request.
  s = {7000, -5, 4000, 3000, 0, 0, 0, 0, 0};
  printing::applyRules(s, 640, 480, page);
  EXPECT_EQ(4000, s.left);
  EXPECT_EQ(7500, s.top);
  s.autoCenter = 1;
  printing::applyRules(s, 640, 480, page);
  EXPECT_EQ(2000, s.left);
  EXPECT_EQ(3750, s.top);
  // A size beyond the page fits the picture even without "Auto Scale".
  s = {0, 0, 9000, 3000, 0, 0, 0, 0, 0};
  printing::applyRules(s, 640, 480, page);
  EXPECT_EQ(8000, s.width);
  // The size bar keeps the aspect.
  printing::setSize(s, 4000, 640, 480, page);
  EXPECT_EQ(3000, s.height);
  struct Inch {
    LONG value;
    const char* text;
  } inches[] = {{6000, "6\""}, {1500, "1.5\""}, {8333, "8.33\""}, {2259, "2.25\""}, {0, "0\""}, {123456, "123.45\""}};
  for (const Inch& inch : inches) EXPECT_EQ(inch.text, printing::inchText(inch.value)) << inch.value;
}

// The PostScript test printer of the image library's tests (Wine's PostScript driver), here as
// the default printer with a port that is a file: each job is written there.
class ViewerPrinting : public ViewerFiles {
 protected:
  void SetUp() override {
    ViewerFiles::SetUp();
    ASSERT_NE(nullptr, victest::installTestPrinter());
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    port_ = std::string(temp) + "qr3viewer_printer.ps";
    PRINTER_INFO_2A info{};
    info.pPrinterName = const_cast<char*>(kPrinter);
    info.pDriverName = const_cast<char*>("Wine PostScript Driver");
    info.pPortName = const_cast<char*>(port_.c_str());
    info.pPrintProcessor = const_cast<char*>("winprint");
    info.pDatatype = const_cast<char*>("RAW");
    HANDLE added = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (added) ClosePrinter(added);
    char device[256] = "";
    GetProfileStringA("windows", "device", "", device, sizeof device);
    oldDevice_ = device;
    WriteProfileStringA("windows", "device", (std::string(kPrinter) + ",winspool," + port_).c_str());
    DeleteFileA(port_.c_str());
  }
  void TearDown() override {
    WriteProfileStringA("windows", "device", oldDevice_.empty() ? nullptr : oldDevice_.c_str());
    DeleteFileA(port_.c_str());
    ViewerFiles::TearDown();
  }
  void settings(LONG left, LONG top, LONG width, LONG height, LONG mode) {
    setting("Auto Scale") = 0;
    setting("Auto Center") = 0;
    setting("Frame Width") = 0;
    setting("Raise for Print") = 0;
    setting("Position from Left") = left;
    setting("Position from Top") = top;
    setting("Print Width") = width;
    setting("Print Height") = height;
    setting("Print Mode") = mode;
  }
  // Print from the dialog; the job's file is kept as `name` in the test's folder.
  std::string print(const std::string& name, int progressAnswer = IDC_PRINT_STATUS_TEXT) {
    answers_.plan(IDC_PRINT_NOW);
    answers_.plan(progressAnswer);  // no button: the box stays while the job runs
    command(CM_FILE_PRINT);
    settle();
    const std::string kept = folder_ + name;
    CopyFileA(port_.c_str(), kept.c_str(), FALSE);
    DeleteFileA(port_.c_str());
    std::ifstream in(kept, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static constexpr const char* kPrinter = "QR3Viewer Test Printer";
  std::string port_, oldDevice_;
};

TEST_F(ViewerPrinting, ThePictureIsPrintedWhereTheSettingsPutItAndHalftoneGivesBlackAndWhite) {
  VCamSetScene(VCAM_SCENE_FLAT_RED);
  takeStill(false);
  ASSERT_TRUE(state().defaultPrinterPresent);
  EXPECT_TRUE(enabled(CM_FILE_PRINT));
  // One inch from the left, two from the top, 4 x 3 inches.
  settings(1000, 2000, 4000, 3000, 1);
  const std::string placed = print("placed.ps");
  ASSERT_EQ(0u, placed.find("%!PS")) << "no job was written";
  EXPECT_EQ("Printer Control", answers_.seen()[0].caption);
  EXPECT_EQ("Print Status", answers_.seen()[1].caption);
  EXPECT_EQ(0, state().lastError);
  EXPECT_EQ(0, setting("Print Mode"));  // a colour picture prints in the default mode
  EXPECT_TRUE(IsWindowEnabled(frame()));
  // A grey picture in "B/W Halftone".
  command(CM_COLOUR_MODE);
  command(CM_CAPTURE);
  settle();
  ASSERT_NE(0, window().currentImage().imgtype);
  settings(1000, 2000, 4000, 3000, 1);
  const std::string halftone = print("halftone.ps");
  ASSERT_EQ(0u, halftone.find("%!PS"));
  EXPECT_EQ(1, setting("Print Mode"));
  // Cancel in the progress box stops the job: no picture reaches the page.
  const std::string cancelled = print("cancelled.ps", IDCANCEL);
  EXPECT_EQ(std::string::npos, cancelled.find(" scale\n")) << cancelled.size();
  // Cancel in the dialog puts the settings back.
  setting("Print Width") = 4000;
  answers_.plan(IDCANCEL);
  command(CM_FILE_PRINT);
  EXPECT_EQ(4000, setting("Print Width"));
}

TEST_F(ViewerPrinting, APrintErrorIsReportedByTheNextIdleStep) {
  takeStill(false);
  window().state().pendingPrintError = -18;
  answers_.plan(IDOK);
  settle();
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("Printer error", answers_.seen()[0].text);
  EXPECT_EQ("Camera Error", answers_.seen()[0].caption);
  EXPECT_EQ(0, state().pendingPrintError);
}

}  // namespace
