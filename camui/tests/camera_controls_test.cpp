// The shared camera-control rules: the shutter bar's table, speeds and frequencies, the nearest
// preset, and the texts and list entries the panels show.
#include "camera_controls.h"

#include <gtest/gtest.h>

namespace {

TEST(ShutterTable, FineBelow150AndCoarseAbove) {
  const struct {
    int position, shutter;
  } kCases[] = {{0, 0}, {1, 1}, {149, 149}, {150, 151}, {151, 152}, {152, 154}, {153, 156}, {248, 3120}, {249, 3900}};
  for (const auto& c : kCases) EXPECT_EQ(camui::shutterAtPosition(c.position), c.shutter) << c.position;
}

TEST(ShutterTable, EveryPositionIsFoundAgainFromItsShutter) {
  for (int position = 0; position < camui::kShutterPositions; ++position) {
    EXPECT_EQ(camui::positionForShutter(camui::shutterAtPosition(position)), position);
  }
  // Between two entries the bar stands at the slower one; beyond the table at the end.
  EXPECT_EQ(camui::positionForShutter(153), 152);
  EXPECT_EQ(camui::positionForShutter(3121), 249);
  EXPECT_EQ(camui::positionForShutter(5000), 249);
}

TEST(Shutter, SpeedsAndFrequencies) {
  const struct {
    int shutter, speed, frequency;
  } kCases[] = {{0, 31500, 6000}, {260, 60, 6000}, {265, 59, 5886}, {300, 52, 5200}, {3900, 4, 400}};
  for (const auto& c : kCases) {
    EXPECT_EQ(camui::shutterSpeed(c.shutter), c.speed) << c.shutter;
    EXPECT_EQ(camui::scanFrequencyForShutter(c.shutter), c.frequency) << c.shutter;
  }
}

TEST(ShutterPresets, NearestByTheirSpeeds) {
  const struct {
    int shutter;
    const char* preset;
  } kCases[] = {
      {0, "Fastest"},      {1, "1/10,000th Sec"}, {265, "1/60th Sec"}, {300, "1/50th Sec"},
      {400, "1/30th Sec"}, {3000, "1/6th Sec"},   {3300, "1/4th Sec"}, {5000, "1/4th Sec"},
  };
  for (const auto& c : kCases) {
    EXPECT_STREQ(camui::kViewerShutterPresets[camui::nearestPreset(c.shutter, camui::kViewerShutterPresets)].text,
                 c.preset)
        << c.shutter;
  }
  for (const camui::ShutterPresets* presets : {&camui::kViewerShutterPresets, &camui::kTwainShutterPresets}) {
    for (int item = 0; item < camui::kShutterPresetCount; ++item) {
      EXPECT_EQ(camui::nearestPreset((*presets)[item].shutter, *presets), item);
    }
  }
}

TEST(ShutterPresets, TheTwainSourceHasItsOwnSlowFrequencies) {
  const int kViewer[] = {1250, 750, 625}, kTwain[] = {1200, 700, 600};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(camui::kViewerShutterPresets[12 + i].frequency, kViewer[i]);
    EXPECT_EQ(camui::kTwainShutterPresets[12 + i].frequency, kTwain[i]);
    EXPECT_STREQ(camui::kViewerShutterPresets[12 + i].text, camui::kTwainShutterPresets[12 + i].text);
  }
}

TEST(PanelTexts, PercentAndGamma) {
  EXPECT_EQ(camui::percentOf250(250), 100);
  EXPECT_EQ(camui::percentOf250(124), 49);
  EXPECT_EQ(camui::gammaText(120), "2.20");
  EXPECT_EQ(camui::gammaText(0), "1.00");
  EXPECT_EQ(camui::gammaText(255), "3.55");
}

TEST(PanelLists, AutomaticGainEntries) {
  EXPECT_EQ(camui::agcItem(0, 0), 0);
  EXPECT_EQ(camui::agcItem(7, 0), 2);
  EXPECT_EQ(camui::agcItem(15, 0), 3);
  EXPECT_EQ(camui::agcItem(5, 0), 0);
  EXPECT_EQ(camui::agcItem(5, 3), 3);
}

TEST(PanelLists, QualityHasOneEntryForSmallBlackAndWhite) {
  for (int resolution : {2, 4, 6}) {
    EXPECT_TRUE(camui::onlyHighQuality(resolution, 1));
    EXPECT_FALSE(camui::onlyHighQuality(resolution, 0));
    EXPECT_EQ(camui::qualityOfItem(0, resolution, 1), 255);
    EXPECT_EQ(camui::itemOfQuality(128, resolution, 1), 0);
  }
  for (int resolution : {0, 1, 3, 5}) EXPECT_FALSE(camui::onlyHighQuality(resolution, 1));
  EXPECT_EQ(camui::qualityOfItem(1, 0, 0), 128);
  EXPECT_EQ(camui::itemOfQuality(255, 0, 0), 2);
  EXPECT_EQ(camui::itemOfQuality(7, 0, 0), 0);
}

}  // namespace
