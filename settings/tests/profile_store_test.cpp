// Profiles of the three front ends against the (Wine) registry: missing profiles, other
// revisions, missing values, the capture driver's rules and the viewer's extra values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "profile_store.h"
#include "profile_test_support.h"
#include "registry_sandbox.h"

namespace {

using profiles::ProfileLayout;
using profiles::ProfileSettings;
using profiles::ValueKind;
using namespace profiletest;

const ProfileLayout* const kLayouts[] = {&profiles::kViewerLayout, &profiles::kCaptureDriverLayout,
                                         &profiles::kTwainLayout};

// Where a value is kept: the profile key, or the front end's own key.
std::string pathOf(const ProfileLayout& layout, const profiles::ProfileValue& value, long index) {
  return value.kind == ValueKind::FrontEndKey ? frontEndPath(layout) : profilePath(layout, index);
}

class ProfileStore : public qrtest::RegistrySandbox {};

TEST_F(ProfileStore, TablesHoldTheFrontEndsValueSets) {
  struct Case {
    const ProfileLayout* layout;
    const char* key;
    long revision;
    std::size_t numbers;
  };
  // Viewer: 48 numbers, "File Location" and "Power On Flag"; driver: 29 and 5 timed values.
  const Case cases[] = {{&profiles::kViewerLayout, "QRViewer", 79, 48},
                        {&profiles::kCaptureDriverLayout, "AVI", 80, 29},
                        {&profiles::kTwainLayout, "Twain", 49, 24}};
  for (const Case& c : cases) {
    std::size_t numbers = 0;
    for (std::size_t i = 0; i < c.layout->count; ++i) numbers += c.layout->values[i].kind == ValueKind::Number;
    EXPECT_STREQ(c.key, c.layout->key);
    EXPECT_EQ(c.revision, c.layout->revision);
    EXPECT_EQ(c.numbers, numbers) << c.key;
    EXPECT_STREQ("Revision", c.layout->values[0].name);
    if (c.layout->saveOrder) {
      ASSERT_EQ(c.layout->count, c.layout->saveOrderCount);
      for (std::size_t i = 0; i < c.layout->saveOrderCount; ++i)
        EXPECT_NE(nullptr, profiles::findValue(*c.layout, c.layout->saveOrder[i])) << c.layout->saveOrder[i];
    }
  }
  const ProfileLayout& twain = profiles::kTwainLayout;
  EXPECT_EQ(50, profiles::findValue(twain, "Image Sharpness")->missing);
  EXPECT_EQ(125, profiles::findValue(twain, "Image Sharpness")->factory);
  EXPECT_EQ(1, profiles::findValue(profiles::kCaptureDriverLayout, "ErrorMessages")->missing);
  EXPECT_EQ(0, profiles::findValue(profiles::kCaptureDriverLayout, "ErrorMessages")->factory);
}

// A value the layout does not have (another front end's, or a name made at run time) must not stop
// the program hosting the front end: it reads 0 and a write to it reaches no other value.
TEST_F(ProfileStore, ValuesOutsideTheLayoutReadZeroAndTakeNoWrites) {
  ProfileSettings settings(profiles::kTwainLayout);
  const ProfileSettings before = settings;
  struct Case {
    const char* what;
    profiles::ValueId id;
  };
  const Case cases[] = {{"viewer's Back Light", VIEWER("Back Light")},
                        {"unknown name", settings.find("Video Gian")},
                        {"position past the table", profiles::ValueId{&profiles::kTwainLayout, 99}},
                        {"no layout", profiles::ValueId{nullptr, 0}}};
  for (const Case& c : cases) {
    settings[c.id] = 1234;
    settings.text(c.id) = "written";
    EXPECT_EQ(0, settings[c.id]) << c.what;
    EXPECT_EQ(0, static_cast<const ProfileSettings&>(settings)[c.id]) << c.what;
    EXPECT_EQ("", settings.text(c.id)) << c.what;
    EXPECT_EQ("", static_cast<const ProfileSettings&>(settings).text(c.id)) << c.what;
    for (std::size_t i = 0; i < profiles::kTwainLayout.count; ++i) {
      const profiles::ValueId id{&profiles::kTwainLayout, i};
      EXPECT_EQ(before[id], settings[id]) << c.what << ": " << profiles::kTwainLayout.values[i].name;
      EXPECT_EQ("", settings.text(id)) << c.what;
    }
  }
  EXPECT_FALSE(settings.has("Video Gian"));
  // A value of another front end that this layout has too is this layout's value of that name.
  settings[VIEWER("Video Gain")] = 77;
  EXPECT_EQ(77, settings[TWAIN("Video Gain")]);
}

// Through a plain load and through the start-up revision check alike.
TEST_F(ProfileStore, MissingProfileLoadsFactoryValuesAndIsCreatedWithThem) {
  struct Case {
    const char* how;
    bool (*load)(ProfileSettings&);
  };
  const Case cases[] = {{"load", [](ProfileSettings& s) { return profiles::loadProfile(s); }},
                        {"start-up", [](ProfileSettings& s) { return profiles::startUpProfile(s); }}};
  for (const Case& c : cases) {
    for (const ProfileLayout* layout : kLayouts) {
      qrtest::deleteProductKey();
      ProfileSettings settings(*layout);
      for (std::size_t i = 0; i < layout->count; ++i) settings[entry(*layout, i)] = -77;  // not factory
      EXPECT_FALSE(c.load(settings)) << c.how << ' ' << layout->key;
      EXPECT_EQ(layout->newProfileName, storedText(profilePath(*layout, 0), "Profile Name"));
      EXPECT_EQ("0", storedText(frontEndPath(*layout), "Current Profile"));
      for (std::size_t i = 0; i < layout->count; ++i) {
        const profiles::ProfileValue& value = layout->values[i];
        if (value.kind == ValueKind::Text) continue;
        long expected = std::string(value.name) == "Revision" ? layout->revision : value.factory;
        EXPECT_EQ(expected, settings[entry(*layout, i)]) << layout->key << ' ' << value.name;
        EXPECT_EQ(std::to_string(expected), storedText(pathOf(*layout, value, 0), value.name))
            << layout->key << ' ' << value.name;
      }
    }
  }
}

TEST_F(ProfileStore, MissingValuesTakeTheirLoadingDefaults) {
  for (const ProfileLayout* layout : kLayouts) {
    qrtest::deleteProductKey();
    writeNumber(profilePath(*layout, 0), "Revision", layout->revision);
    ProfileSettings settings(*layout);  // starts at factory values, some of which differ
    EXPECT_TRUE(profiles::loadProfile(settings)) << layout->key;
    for (std::size_t i = 0; i < layout->count; ++i) {
      const profiles::ProfileValue& value = layout->values[i];
      if (value.kind == ValueKind::Text || std::string(value.name) == "Revision") continue;
      EXPECT_EQ(value.missing, settings[entry(*layout, i)]) << layout->key << ' ' << value.name;
    }
    EXPECT_EQ("<missing>", storedText(profilePath(*layout, 0), "Video Gain")) << "loading writes nothing";
  }
}

TEST_F(ProfileStore, AnotherRevisionKeepsItsValuesAndIsSavedBackWithTheFrontEndsRevision) {
  for (const ProfileLayout* layout : kLayouts) {
    qrtest::deleteProductKey();
    writeNumber(frontEndPath(*layout), "Current Profile", 2);
    const std::string path = profilePath(*layout, 2);
    writeText(path, "Profile Name", "Garden");
    writeNumber(path, "Revision", 12);
    writeNumber(path, "Video Gain", 99);
    writeNumber(path, "Frequency", 5000);
    ProfileSettings settings(*layout);
    EXPECT_FALSE(profiles::startUpProfile(settings)) << layout->key;
    EXPECT_EQ(99, settings[valueOf(*layout, "Video Gain")]);
    EXPECT_EQ(5000, settings[valueOf(*layout, "Frequency")]);
    EXPECT_EQ(2, settings.currentProfile);
    EXPECT_EQ(std::to_string(layout->revision), storedText(path, "Revision")) << layout->key;
    EXPECT_EQ("99", storedText(path, "Video Gain"));
    EXPECT_EQ("Garden", storedText(path, "Profile Name"));
    // The values the old profile lacked are written with their loading defaults.
    const profiles::ProfileValue& last = layout->values[layout->count - 1];
    if (last.kind == ValueKind::Number) {
      EXPECT_EQ(std::to_string(last.missing), storedText(path, last.name)) << layout->key;
    }
    EXPECT_FALSE(qrtest::keyExists(profilePath(*layout, 0)));
  }
}

TEST_F(ProfileStore, ProfileOfTheFrontEndsRevisionIsNotWrittenAtStartUp) {
  for (const ProfileLayout* layout : kLayouts) {
    qrtest::deleteProductKey();
    const std::string path = profilePath(*layout, 0);
    writeNumber(path, "Revision", layout->revision);
    writeNumber(path, "Video Gain", 42);
    ProfileSettings settings(*layout);
    EXPECT_TRUE(profiles::startUpProfile(settings)) << layout->key;
    EXPECT_EQ(42, settings[valueOf(*layout, "Video Gain")]);
    EXPECT_EQ("<missing>", storedText(path, "Frequency")) << layout->key;
  }
}

TEST_F(ProfileStore, CaptureDriverTurnsAscEnable1Into3OnlyInAProfileOfRevision80) {
  struct Case {
    long revision;
    long stored;
    long loaded;
    const char* storedAfter;
  };
  const Case cases[] = {
      {80, 1, 3, "1"},                                    // loaded as 3, profile not rewritten
      {80, 7, 7, "7"}, {80, 0, 0, "0"}, {79, 1, 1, "1"},  // another revision: kept as 1 and saved back with 80
      {0, 1, 1, "1"},
  };
  const ProfileLayout& layout = profiles::kCaptureDriverLayout;
  for (const Case& c : cases) {
    qrtest::deleteProductKey();
    const std::string path = profilePath(layout, 0);
    writeNumber(path, "Revision", c.revision);
    writeNumber(path, "ASC Enable", c.stored);
    ProfileSettings settings(layout);
    profiles::startUpProfile(settings);
    EXPECT_EQ(c.loaded, settings[DRIVER("ASC Enable")]) << c.revision << '/' << c.stored;
    EXPECT_EQ(c.storedAfter, storedText(path, "ASC Enable")) << c.revision << '/' << c.stored;
    EXPECT_EQ("80", storedText(path, "Revision"));
  }
}

TEST_F(ProfileStore, CaptureDriverKeepsTimedProfileValuesInItsOwnKey) {
  const ProfileLayout& layout = profiles::kCaptureDriverLayout;
  ProfileSettings settings(layout);
  settings[DRIVER("Timed Profile Enable")] = 1;
  settings[DRIVER("Timed Profile 1 Start Time")] = 480;
  settings[DRIVER("Timed Profile 2 Start Time")] = 1080;
  settings[DRIVER("Timed Profile 1")] = 2;
  settings[DRIVER("Timed Profile 2")] = 5;
  EXPECT_TRUE(profiles::saveProfile(settings));
  EXPECT_EQ("480", storedText(frontEndPath(layout), "Timed Profile 1 Start Time"));
  EXPECT_EQ("5", storedText(frontEndPath(layout), "Timed Profile 2"));
  EXPECT_EQ("<missing>", storedText(profilePath(layout, 0), "Timed Profile 1"));
  EXPECT_EQ("Name", storedText(profilePath(layout, 0), "Profile Name"));

  writeNumber(frontEndPath(layout), "Timed Profile 2 Start Time", 1200);
  ProfileSettings loaded(layout);
  EXPECT_TRUE(profiles::loadProfile(loaded));
  EXPECT_EQ(1, loaded[DRIVER("Timed Profile Enable")]);
  EXPECT_EQ(1200, loaded[DRIVER("Timed Profile 2 Start Time")]);
  EXPECT_EQ(2, loaded[DRIVER("Timed Profile 1")]);
}

// The timed-profile values live in the driver's own key, outside every profile: a profile whose key
// is missing (a timed profile chosen that was never saved) is made from factory values without
// switching timed profiles off or changing their times.
TEST_F(ProfileStore, MissingProfileLeavesTheFrontEndsOwnValues) {
  const ProfileLayout& layout = profiles::kCaptureDriverLayout;
  struct Stored {
    const char* name;
    long number;
  };
  const Stored timed[] = {{"Timed Profile Enable", 1},
                          {"Timed Profile 1 Start Time", 480},
                          {"Timed Profile 2 Start Time", 1080},
                          {"Timed Profile 1", 2},
                          {"Timed Profile 2", 5}};
  struct Case {
    const char* how;
    bool (*load)(ProfileSettings&);
  };
  const Case cases[] = {{"load", [](ProfileSettings& s) { return profiles::loadProfile(s); }},
                        {"start-up", [](ProfileSettings& s) { return profiles::startUpProfile(s); }}};
  for (const Case& c : cases) {
    qrtest::deleteProductKey();
    writeNumber(frontEndPath(layout), "Current Profile", 2);
    for (const Stored& value : timed) writeNumber(frontEndPath(layout), value.name, value.number);
    ProfileSettings settings(layout);  // the timed values at their factory 0
    EXPECT_FALSE(c.load(settings)) << c.how;
    EXPECT_EQ("127", storedText(profilePath(layout, 2), "Video Gain")) << c.how << ": made from factory values";
    EXPECT_EQ("2", storedText(frontEndPath(layout), "Current Profile")) << c.how;
    for (const Stored& value : timed) {
      EXPECT_EQ(value.number, settings[valueOf(layout, value.name)]) << c.how << ' ' << value.name;
      EXPECT_EQ(std::to_string(value.number), storedText(frontEndPath(layout), value.name))
          << c.how << ' ' << value.name;
    }
  }
}

// The capture driver keeps its running resolution and format through a profile load and through
// the revision check it runs while open, whether the profile is there (of its revision or another)
// or has to be made from factory values.
TEST_F(ProfileStore, KeptValuesAreNeitherReadNorReset) {
  const ProfileLayout& layout = profiles::kCaptureDriverLayout;
  struct Case {
    const char* how;
    bool (*load)(ProfileSettings&, const profiles::KeepList&);
    long revision;  // of the stored profile; 0: no profile stored
    bool result;
    long videoGain;
  };
  const Case cases[] = {{"load", profiles::loadProfile, 80, true, 10},
                        {"load", profiles::loadProfile, 0, false, 127},
                        {"start-up", profiles::startUpProfile, 80, true, 10},
                        {"start-up", profiles::startUpProfile, 79, false, 10},
                        {"start-up", profiles::startUpProfile, 0, false, 127}};
  for (const Case& c : cases) {
    qrtest::deleteProductKey();
    const std::string path = profilePath(layout, 0);
    if (c.revision) {
      writeNumber(path, "Revision", c.revision);
      writeNumber(path, "Resolution", 0);
      writeNumber(path, "Format", 4);
      writeNumber(path, "Video Gain", 10);
    }
    ProfileSettings settings(layout);
    settings[DRIVER("Resolution")] = 3;
    settings[DRIVER("Format")] = 2;
    settings[DRIVER("Video Gain")] = 55;
    const bool loaded = c.load(settings, {DRIVER("Resolution"), DRIVER("Format")});
    const std::string what = std::string(c.how) + " of revision " + std::to_string(c.revision);
    EXPECT_EQ(c.result, loaded) << what;
    EXPECT_EQ(3, settings[DRIVER("Resolution")]) << what;
    EXPECT_EQ(2, settings[DRIVER("Format")]) << what;
    EXPECT_EQ(c.videoGain, settings[DRIVER("Video Gain")]) << what;
    if (c.revision != 80) {
      EXPECT_EQ("2", storedText(path, "Format")) << what << ": the profile written holds the running format";
      EXPECT_EQ("80", storedText(path, "Revision")) << what;
    }
  }
}

TEST_F(ProfileStore, ViewerFileLocationAndPowerOnFlag) {
  const ProfileLayout& layout = profiles::kViewerLayout;
  writeText(frontEndPath(layout), "Default File Location", "C:\\Images");
  ProfileSettings settings(layout);
  profiles::loadFactoryDefaults(settings);
  EXPECT_EQ("C:\\Images", settings.text(VIEWER("File Location")));

  // A profile without "File Location" keeps the factory folder; "Power On Flag" is never read.
  const std::string path = profilePath(layout, 0);
  writeNumber(path, "Revision", 79);
  writeNumber(path, "Power On Flag", 0);
  settings[VIEWER("Power On Flag")] = 0;
  EXPECT_TRUE(profiles::loadProfile(settings));
  EXPECT_EQ("C:\\Images", settings.text(VIEWER("File Location")));
  EXPECT_EQ(1, settings[VIEWER("Power On Flag")]);

  settings.text(VIEWER("File Location")) = "D:\\Stills";
  settings[VIEWER("Power On Flag")] = 0;
  EXPECT_TRUE(profiles::saveProfile(settings));
  EXPECT_EQ("D:\\Stills", storedText(path, "File Location"));
  EXPECT_EQ("0", storedText(path, "Power On Flag"));
  ProfileSettings reloaded(layout);
  EXPECT_TRUE(profiles::loadProfile(reloaded));
  EXPECT_EQ("D:\\Stills", reloaded.text(VIEWER("File Location")));

  qrtest::deleteProductKey();
  ProfileSettings noDefault(layout);
  noDefault.text(VIEWER("File Location")) = "old";
  profiles::loadFactoryDefaults(noDefault);
  EXPECT_EQ("", noDefault.text(VIEWER("File Location")));
}

TEST_F(ProfileStore, FactoryDefaultsResetValuesAndIndexWithoutWriting) {
  writeNumber(profilePath(profiles::kTwainLayout, 3), "Video Gain", 7);
  writeNumber(frontEndPath(profiles::kTwainLayout), "Current Profile", 3);
  ProfileSettings settings(profiles::kTwainLayout);
  EXPECT_TRUE(profiles::loadProfile(settings));
  EXPECT_EQ(3, settings.currentProfile);
  EXPECT_EQ(50, settings[TWAIN("Image Sharpness")]);
  profiles::loadFactoryDefaults(settings);
  EXPECT_EQ(0, settings.currentProfile);
  EXPECT_EQ(125, settings[TWAIN("Image Sharpness")]);
  EXPECT_EQ(128, settings[TWAIN("Video Gain")]);
  EXPECT_EQ("7", storedText(profilePath(profiles::kTwainLayout, 3), "Video Gain"));
  EXPECT_EQ("3", storedText(frontEndPath(profiles::kTwainLayout), "Current Profile"));
}

// When a save finds no profile key, the key it creates is the one "Current Profile" names, so the
// next start loads what was saved (rather than a profile 1 that may belong to someone else).
TEST_F(ProfileStore, SaveWithoutAProfileKeyCreatesTheOneCurrentProfileNames) {
  struct Case {
    const char* stored;
    long index;
  };
  const Case cases[] = {{"4", 4}, {nullptr, 0}, {"12", 0}, {"-3", 0}, {"abc", 0}};
  for (const ProfileLayout* layout : kLayouts) {
    for (const Case& c : cases) {
      qrtest::deleteProductKey();
      if (c.index != 0) {
        writeText(profilePath(*layout, 0), "Profile Name", "Someone else's");
        writeNumber(profilePath(*layout, 0), "Video Gain", 11);
      }
      if (c.stored) writeText(frontEndPath(*layout), "Current Profile", c.stored);
      ProfileSettings settings(*layout);
      settings[valueOf(*layout, "Video Gain")] = 222;
      EXPECT_TRUE(profiles::saveProfile(settings)) << layout->key << ' ' << (c.stored ? c.stored : "none");
      EXPECT_EQ(std::to_string(c.index), storedText(frontEndPath(*layout), "Current Profile"));
      EXPECT_EQ(layout->newProfileName, storedText(profilePath(*layout, c.index), "Profile Name"));
      if (c.index != 0) {
        EXPECT_EQ("11", storedText(profilePath(*layout, 0), "Video Gain")) << "profile 1 untouched";
      }

      ProfileSettings nextStart(*layout);
      profiles::startUpProfile(nextStart);
      EXPECT_EQ(222, nextStart[valueOf(*layout, "Video Gain")]) << layout->key << ' ' << (c.stored ? c.stored : "none");
      EXPECT_EQ(c.index, nextStart.currentProfile);
    }
  }
}

}  // namespace
