// Key paths, profile key names and decimal parsing of the settings store. Win32-free, so they are
// also built natively, where the sanitizers watch them.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "regpath.h"

namespace {

TEST(RegistryPath, ComposesRootAndUpToTwoSubKeys) {
  struct Case {
    const char* key1;
    const char* key2;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, "Software\\Orvane Imaging"},
      {"QRViewer", nullptr, "Software\\Orvane Imaging\\QRViewer"},
      {nullptr, "Twain", "Software\\Orvane Imaging\\Twain"},
      {"AVI", "UserProfile2", "Software\\Orvane Imaging\\AVI\\UserProfile2"},
  };
  for (const Case& c : cases) {
    char path[quorelreg::kPathBufferSize];
    ASSERT_TRUE(quorelreg::composePath(c.key1, c.key2, path));
    EXPECT_STREQ(c.expected, path);
  }
}

TEST(RegistryPath, RefusesPathsLongerThan263Characters) {
  char path[quorelreg::kPathBufferSize];
  const std::size_t room = 263 - std::strlen(quorelreg::kRootPath) - 1;  // after root and backslash
  EXPECT_TRUE(quorelreg::composePath(std::string(room, 'a').c_str(), nullptr, path));
  EXPECT_EQ(263u, std::strlen(path));
  EXPECT_FALSE(quorelreg::composePath(std::string(room + 1, 'a').c_str(), nullptr, path));
  EXPECT_FALSE(quorelreg::composePath("QRViewer", std::string(300, 'b').c_str(), path));
  EXPECT_STREQ("", path);
}

TEST(RegistryPath, ProfileKeyNamesAreIndexPlusOne) {
  struct Case {
    std::int32_t index;
    const char* expected;
  };
  // "Current Profile" is whatever number the registry holds, up to the limits parsing saturates at.
  const Case cases[] = {{0, "UserProfile1"},
                        {8, "UserProfile9"},
                        {9, "UserProfile10"},
                        {-1, "UserProfile0"},
                        {INT32_MAX, "UserProfile2147483648"},
                        {INT32_MIN, "UserProfile-2147483647"}};
  for (const Case& c : cases) EXPECT_EQ(c.expected, quorelreg::profileKeyName(c.index)) << c.index;
}

TEST(RegistryPath, ParsesDecimalTextLikeTheStoreReadsIt) {
  struct Case {
    const char* text;
    long expected;
  };
  const Case cases[] = {
      {"12", 12},
      {"-5", -5},
      {"  +7", 7},
      {"\t-0042", -42},
      {"12abc", 12},
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"99999999999999999999", INT_MAX},
      {"-99999999999999999999", INT_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, quorelreg::parseDecimal(c.text)) << '"' << c.text << '"';
}

}  // namespace
