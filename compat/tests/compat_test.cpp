#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "replace_file.h"

namespace {

std::string temporaryPath(const char* name) {
  char directory[MAX_PATH];
  GetTempPathA(sizeof directory, directory);
  return std::string(directory) + name;
}

void writeFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

std::string readFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "<missing>";
  std::string text;
  char buffer[256];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

using Replace = bool (*)(const char*, const char*);

struct ReplaceWay {
  const char* name;
  Replace replace;
};

class ReplaceFile : public ::testing::TestWithParam<ReplaceWay> {
 protected:
  void SetUp() override {
    DeleteFileA(from_.c_str());
    DeleteFileA(to_.c_str());
    DeleteFileA((to_ + ".old").c_str());
  }
  void TearDown() override { SetUp(); }
  const std::string from_ = temporaryPath("qr-compat-from.txt");
  const std::string to_ = temporaryPath("qr-compat-to.txt");
};

TEST_P(ReplaceFile, MovesOverAnExistingFileAndLeavesNothingBehind) {
  writeFile(from_, "new");
  writeFile(to_, "old");
  EXPECT_TRUE(GetParam().replace(from_.c_str(), to_.c_str()));
  EXPECT_EQ("new", readFile(to_));
  EXPECT_EQ("<missing>", readFile(from_));
  EXPECT_EQ("<missing>", readFile(to_ + ".old"));
}

TEST_P(ReplaceFile, MovesToAPlaceWhereNoFileIs) {
  writeFile(from_, "new");
  EXPECT_TRUE(GetParam().replace(from_.c_str(), to_.c_str()));
  EXPECT_EQ("new", readFile(to_));
}

TEST_P(ReplaceFile, AFailedMoveKeepsTheOldFile) {
  writeFile(to_, "old");
  EXPECT_FALSE(GetParam().replace(from_.c_str(), to_.c_str()));  // nothing to move
  EXPECT_EQ("old", readFile(to_));
  EXPECT_EQ("<missing>", readFile(to_ + ".old"));
}

INSTANTIATE_TEST_SUITE_P(BothWays, ReplaceFile,
                         ::testing::Values(ReplaceWay{"MoveFileEx", compat::replaceFile},
                                           ReplaceWay{"Renames", compat::replaceFileByRenames}),
                         [](const ::testing::TestParamInfo<ReplaceWay>& info) { return info.param.name; });

#if defined(__i386__)
// The runtime's semaphores come through the shim's import slot, which makes them with
// CreateSemaphoreA: an unnamed one works, a named one (never asked for by the runtime) is refused,
// where the system's CreateSemaphoreW would have made it.
TEST(SemaphoreShim, TakesTheRuntimesCreateSemaphoreW) {
  HANDLE unnamed = CreateSemaphoreW(nullptr, 1, 1, nullptr);
  ASSERT_NE(nullptr, unnamed);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(unnamed, 0));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(unnamed, 0));
  CloseHandle(unnamed);
  SetLastError(0);
  EXPECT_EQ(nullptr, CreateSemaphoreW(nullptr, 0, 1, L"qr-compat-named"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
}
#endif

}  // namespace
