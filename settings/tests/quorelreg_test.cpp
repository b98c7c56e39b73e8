// quorelreg.dll against the real (Wine) registry.
#include <climits>
#include <cstring>
#include <string>

#include "quorelreg.h"
#include "registry_sandbox.h"

namespace {

using qrtest::keyExists;
using qrtest::kProductKey;
using qrtest::readRawValue;
using qrtest::writeRawValue;

const std::string kViewerKey = std::string(kProductKey) + "\\QRViewer";

class QuorelReg : public qrtest::RegistrySandbox {
 protected:
  void TearDown() override {
    CloseKey();
    RegistrySandbox::TearDown();
  }
  static std::string rawText(const std::string& key, const char* name) {
    DWORD type = 0;
    std::string data;
    EXPECT_TRUE(readRawValue(key, name, type, data)) << name;
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type) << name;
    return data;
  }
};

TEST_F(QuorelReg, NumbersAreStoredAsDecimalTextAndReadBack) {
  ASSERT_EQ(1, CreateNewKey("QRViewer", "UserProfile1"));
  const LONG numbers[] = {0, -5, 174, 6000, INT_MAX, INT_MIN};
  for (LONG n : numbers) {
    ASSERT_EQ(1, RegSaveVal("X", n));
    std::string expected = std::to_string(n);
    EXPECT_EQ(expected + '\0', rawText(kViewerKey + "\\UserProfile1", "X")) << "length includes the zero";
    EXPECT_EQ(n, RegGetVal("X", 99));
  }
  EXPECT_EQ(99, RegGetVal("Missing", 99));
  EXPECT_EQ(1, CloseKey());
  EXPECT_EQ(0, CloseKey()) << "nothing left to close";
}

TEST_F(QuorelReg, ValuesWrittenByOtherProgramsAreReadAsNumbersWhereTheyCanBe) {
  const std::string key = kViewerKey;
  const DWORD dword = 1234;
  const BYTE binary[4] = {1, 2, 3, 4};
  writeRawValue(key, "Dword", REG_DWORD, &dword, sizeof dword);
  writeRawValue(key, "Lettered", REG_SZ, "12abc", 6);
  writeRawValue(key, "Unterminated", REG_SZ, "77", 2);
  writeRawValue(key, "Binary", REG_BINARY, binary, sizeof binary);
  writeRawValue(key, "Empty", REG_SZ, "", 0);

  ASSERT_EQ(1, OpenKey("QRViewer", nullptr));
  EXPECT_EQ(1234, RegGetVal("Dword", -1));
  EXPECT_EQ(12, RegGetVal("Lettered", -1));
  EXPECT_EQ(77, RegGetVal("Unterminated", -1));
  EXPECT_EQ(-1, RegGetVal("Binary", -1)) << "a binary value reads as missing";
  EXPECT_EQ(0, RegGetVal("Empty", -1));
  char text[256] = "unchanged";
  EXPECT_EQ(0, RegGetString("Dword", text));
  EXPECT_STREQ("unchanged", text);
  EXPECT_EQ(1, CloseKey());

  EXPECT_EQ(1234, ExtRegGetVal("QRViewer", nullptr, "Dword"));
  EXPECT_EQ(12, ExtRegGetVal("QRViewer", nullptr, "Lettered"));
  EXPECT_EQ(0, ExtRegGetVal("QRViewer", nullptr, "Binary"));
}

TEST_F(QuorelReg, StringsRoundTripAndLongOnesAreCutTo255Characters) {
  ASSERT_EQ(1, CreateNewKey("Twain", nullptr));
  ASSERT_EQ(1, RegSaveString("Profile Name", "Un-Named"));
  const std::string longText(300, 'x');
  ASSERT_EQ(1, RegSaveString("Long", longText.c_str()));
  EXPECT_EQ(0, RegSaveString("Null", nullptr));

  char buffer[256 + 16];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(1, RegGetString("Profile Name", buffer));
  EXPECT_STREQ("Un-Named", buffer);

  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(1, RegGetString("Long", buffer));
  EXPECT_EQ(std::string(255, 'x'), std::string(buffer));
  for (std::size_t i = 256; i < sizeof buffer; ++i) ASSERT_EQ('#', buffer[i]) << "written past 256 bytes at " << i;

  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(1, ExtRegGetString("Twain", nullptr, "Long", buffer));
  EXPECT_EQ(255u, std::strlen(buffer));
  EXPECT_EQ('#', buffer[256]);

  EXPECT_EQ(0, RegGetString("Profile Name", nullptr)) << "a null buffer is refused";
}

TEST_F(QuorelReg, AMissingCurrentKeyFailsEveryAccess) {
  EXPECT_EQ(0, OpenKey("QRViewer", "UserProfile1"));
  EXPECT_EQ(42, RegGetVal("Video Gain", 42));
  char text[256] = "unchanged";
  EXPECT_EQ(0, RegGetString("Profile Name", text));
  EXPECT_STREQ("unchanged", text);
  EXPECT_EQ(0, RegSaveVal("Video Gain", 1));
  EXPECT_EQ(0, RegSaveString("Profile Name", "x"));
  EXPECT_EQ(0, CloseKey());
  EXPECT_FALSE(keyExists(kViewerKey)) << "opening never creates";
}

TEST_F(QuorelReg, OneShotCallsOpenAccessAndCloseWithoutCreatingKeys) {
  char text[256] = "unchanged";
  EXPECT_EQ(0, ExtRegGetVal("QRViewer", nullptr, "Current Profile")) << "missing key";
  EXPECT_EQ(0, ExtRegSaveVal("QRViewer", "UserProfile1", "Video Gain", 5));
  EXPECT_EQ(0, ExtRegSaveString("QRViewer", "UserProfile1", "Profile Name", "A"));
  EXPECT_EQ(0, ExtRegGetString("QRViewer", "UserProfile1", "Profile Name", text));
  EXPECT_STREQ("unchanged", text);
  EXPECT_FALSE(keyExists(kViewerKey));

  ASSERT_EQ(1, CreateNewKey("QRViewer", "UserProfile1"));
  ASSERT_EQ(1, CloseKey());
  EXPECT_EQ(0, ExtRegGetVal("QRViewer", "UserProfile1", "Video Gain")) << "missing value";
  EXPECT_EQ(1, ExtRegSaveVal("QRViewer", "UserProfile1", "Video Gain", -17));
  EXPECT_EQ(1, ExtRegSaveString("QRViewer", "UserProfile1", "Profile Name", "Kitchen"));
  EXPECT_EQ(-17, ExtRegGetVal("QRViewer", "UserProfile1", "Video Gain"));
  EXPECT_EQ("-17" + std::string(1, '\0'), rawText(kViewerKey + "\\UserProfile1", "Video Gain"));
  ASSERT_EQ(1, ExtRegGetString("QRViewer", "UserProfile1", "Profile Name", text));
  EXPECT_STREQ("Kitchen", text);
  EXPECT_EQ(0, ExtRegGetString("QRViewer", "UserProfile1", "Missing", text));
  EXPECT_STREQ("Kitchen", text);
}

TEST_F(QuorelReg, OneShotCallsLeaveTheCurrentKeyUsable) {
  ASSERT_EQ(1, CreateNewKey("AVI", nullptr));
  ASSERT_EQ(1, RegSaveVal("Current Profile", 2));
  EXPECT_EQ(2, ExtRegGetVal("AVI", nullptr, "Current Profile"));
  EXPECT_EQ(1, RegSaveVal("Timed Profile Enable", 1));
  EXPECT_EQ(1, RegGetVal("Timed Profile Enable", 0));
  EXPECT_EQ(1, CloseKey());
}

TEST_F(QuorelReg, CreateNewUserProfileOpensTheKeyAfterTheCurrentIndex) {
  struct Case {
    const char* stored;
    const char* expectedKey;
  };
  const Case cases[] = {{nullptr, "UserProfile1"},
                        {"0", "UserProfile1"},
                        {"3", "UserProfile4"},
                        {"8", "UserProfile9"},
                        {"9", "UserProfile10"},
                        {"2147483647", "UserProfile2147483648"},
                        {"99999999999", "UserProfile2147483648"}};  // saturated to 2147483647
  for (const Case& c : cases) {
    qrtest::deleteProductKey();
    if (c.stored)
      writeRawValue(kViewerKey, "Current Profile", REG_SZ, c.stored, static_cast<DWORD>(strlen(c.stored) + 1));
    ASSERT_EQ(1, CreateNewUserProfile("QRViewer"));
    ASSERT_EQ(1, RegSaveString("Profile Name", "Un-Named"));  // lands in the current key
    ASSERT_EQ(1, CloseKey());
    EXPECT_EQ("Un-Named" + std::string(1, '\0'), rawText(kViewerKey + "\\" + c.expectedKey, "Profile Name"))
        << "Current Profile " << (c.stored ? c.stored : "missing");
  }
}

TEST_F(QuorelReg, CreateNewKeyOpensAnExistingKeyWithItsValues) {
  ASSERT_EQ(1, CreateNewKey("QRViewer", "UserProfile1"));
  ASSERT_EQ(1, RegSaveVal("Video Gain", 174));
  ASSERT_EQ(1, CreateNewKey("QRViewer", "UserProfile1"));  // replaces the current key
  EXPECT_EQ(174, RegGetVal("Video Gain", 0));
  ASSERT_EQ(1, OpenKey("QRViewer", nullptr));
  EXPECT_EQ(0, RegGetVal("Video Gain", 0)) << "the current key is now QRViewer";
}

TEST_F(QuorelReg, DeleteRemovesOnlyKeysWithoutSubKeys) {
  ASSERT_EQ(1, CreateNewKey("QRViewer", "UserProfile2"));
  ASSERT_EQ(1, CloseKey());
  EXPECT_EQ(0, ExtRegDeleteProfile("QRViewer", nullptr)) << "has a sub-key";
  EXPECT_TRUE(keyExists(kViewerKey));
  EXPECT_EQ(1, ExtRegDeleteProfile("QRViewer", "UserProfile2"));
  EXPECT_FALSE(keyExists(kViewerKey + "\\UserProfile2"));
  EXPECT_EQ(0, ExtRegDeleteProfile("QRViewer", "UserProfile2")) << "already gone";
}

// Only a profile key can be deleted: a call that leaves out or empties a name must not reach the
// product key or a front end's key, which are deleted with their values when they have no sub-keys.
TEST_F(QuorelReg, DeleteRefusesToDeleteAnythingButAProfileKey) {
  struct Case {
    const char* key1;
    const char* key2;
  };
  const Case cases[] = {{nullptr, nullptr}, {"QRViewer", nullptr}, {nullptr, "QRViewer"},
                        {"QRViewer", ""},   {"", "QRViewer"},      {"", ""}};
  for (const Case& c : cases) {
    for (bool frontEndKey : {false, true}) {  // without it the product key holds only values
      qrtest::deleteProductKey();
      writeRawValue(kProductKey, "Camera Device Provider", REG_SZ, "USB", 4);
      if (frontEndKey) writeRawValue(kViewerKey, "Current Profile", REG_SZ, "2", 2);
      EXPECT_EQ(0, ExtRegDeleteProfile(c.key1, c.key2))
          << (c.key1 ? c.key1 : "null") << ", " << (c.key2 ? c.key2 : "null") << (frontEndKey ? " with QRViewer" : "");
      EXPECT_EQ("USB" + std::string(1, '\0'), rawText(kProductKey, "Camera Device Provider"));
      if (frontEndKey) {
        EXPECT_EQ("2" + std::string(1, '\0'), rawText(kViewerKey, "Current Profile"));
      }
    }
  }
}

TEST_F(QuorelReg, OverlongPathsTouchNothing) {
  const std::string tooLong(250, 'k');  // root + backslash + 250 = 274 characters
  char text[256] = "unchanged";
  EXPECT_EQ(0, CreateNewKey(tooLong.c_str(), nullptr));
  EXPECT_EQ(0, OpenKey("QRViewer", tooLong.c_str()));
  EXPECT_EQ(0, ExtRegSaveVal(tooLong.c_str(), nullptr, "X", 1));
  EXPECT_EQ(0, ExtRegSaveString(tooLong.c_str(), nullptr, "X", "y"));
  EXPECT_EQ(0, ExtRegGetVal(tooLong.c_str(), nullptr, "X"));
  EXPECT_EQ(0, ExtRegGetString(tooLong.c_str(), nullptr, "X", text));
  EXPECT_EQ(0, ExtRegDeleteProfile(tooLong.c_str(), "UserProfile1"));
  EXPECT_EQ(1, SetRegPathKey(tooLong.c_str(), nullptr));
  EXPECT_STREQ("unchanged", text);
  EXPECT_FALSE(keyExists(kProductKey)) << "nothing was created";

  // A long path that fits works. (The ANSI registry calls themselves take at most 260
  // characters, fewer than the 263 the buffer holds.)
  const std::string fits(259 - std::strlen(kProductKey) - 1, 'k');
  EXPECT_EQ(1, CreateNewKey(fits.c_str(), nullptr));
  EXPECT_EQ(1, CloseKey());
  EXPECT_TRUE(keyExists(std::string(kProductKey) + "\\" + fits));
}

}  // namespace
