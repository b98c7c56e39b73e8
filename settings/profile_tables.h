// The profile value sets of the three front ends, as data: for every value its registry name, the
// default that loading uses when the value is missing, and the factory value. One table per front
// end drives loading, saving and factory defaults (profile_store.h). The tables are visible to the
// compiler, so that a value named in code is looked up when compiling (PROFILE_VALUE below).
#pragma once
#include <windows.h>

#include <cstddef>
#include <iterator>

namespace profiles {

enum class ValueKind {
  Number,       // a number in the profile key
  Text,         // a string in the profile key; its factory text is read from the front end's key
  SaveOnly,     // a number written with the profile but never read back (loading sets the default)
  FrontEndKey,  // a number kept in the front end's own key, loaded and saved with the profile
};

struct ProfileValue {
  const char* name;
  LONG missing;  // loading's default when the value cannot be read
  LONG factory;  // what factory defaults set
  ValueKind kind;
};

// A value that start-up changes when the stored profile is of the front end's own revision.
struct RevisionRule {
  const char* name;  // null: no rule
  LONG from;
  LONG to;
};

struct ProfileLayout {
  const char* key;             // the front end's sub-key under the product root
  LONG revision;               // written as "Revision" with every save
  const ProfileValue* values;  // in load order
  std::size_t count;
  const char* const* saveOrder;  // names in save order; null: the load order
  std::size_t saveOrderCount;
  const char* newProfileName;     // "Profile Name" of a profile key that a save has to create
  const char* factoryTextSource;  // value of the front end's key that Text values take at factory defaults
  RevisionRule currentRevisionRule;
};

constexpr bool sameName(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// The position of the value named `name` in the layout's load order; `count` when there is none.
constexpr std::size_t positionOf(const ProfileLayout& layout, const char* name) {
  std::size_t position = 0;
  while (position < layout.count && !sameName(layout.values[position].name, name)) ++position;
  return position;
}

// The value named `name` in `layout`, or null.
constexpr const ProfileValue* findValue(const ProfileLayout& layout, const char* name) {
  std::size_t position = positionOf(layout, name);
  return position < layout.count ? &layout.values[position] : nullptr;
}

namespace tables {

constexpr ValueKind Number = ValueKind::Number;
constexpr ValueKind Text = ValueKind::Text;
constexpr ValueKind SaveOnly = ValueKind::SaveOnly;
constexpr ValueKind FrontEndKey = ValueKind::FrontEndKey;

// The viewer: factory values are the loading defaults. "File Location" takes its factory text
// from "Default File Location"; "Power On Flag" is written but never read.
inline constexpr ProfileValue kViewerValues[] = {
    // clang-format off
    // value                          missing  factory
    {"Revision",                         79,     79, Number},
    {"Back Light",                        0,      0, Number},
    {"LED Enable",                        3,      3, Number},
    {"LED Mode",                          3,      3, Number},
    {"Sound Enable",                      1,      1, Number},
    {"Video Gain",                      174,    174, Number},
    {"Resolution",                        2,      2, Number},
    {"Frequency",                      6000,   6000, Number},
    {"Shutter Value",                   260,    260, Number},
    {"Red Balance",                     125,    125, Number},
    {"Blue Balance",                    125,    125, Number},
    {"Saturation",                      125,    125, Number},
    {"Format",                            0,      0, Number},
    {"Gamma Value",                     120,    120, Number},
    {"AGC Bias",                         30,     30, Number},
    {"ASC Enable",                        1,      1, Number},
    {"Resize AutoAspect",                 1,      1, Number},
    {"Save CFG on Exit",                  1,      1, Number},
    {"Save Image on Exit",                1,      1, Number},
    {"Preview Button Control Mode",       1,      1, Number},
    {"Jpeg Quality",                     75,     75, Number},
    {"Image Quality",                   255,    255, Number},
    {"Image Sharpness",                 125,    125, Number},
    {"AWB Tracking",                      1,      1, Number},
    {"60Hz Power System",                 1,      1, Number},
    {"File Save Type",                   11,     11, Number},
    {"Preview Rotate Flag",               0,      0, Number},
    {"Negative Image",                    0,      0, Number},
    {"Noise Filter",                      0,      0, Number},
    {"Invert Durning Preview",            0,      0, Number},
    {"Mirror Durning Preview",            0,      0, Number},
    {"File Location",                     0,      0, Text},
    {"Auto Scale",                        1,      1, Number},
    {"Print Mode",                        0,      0, Number},
    {"Position from Left",                0,      0, Number},
    {"Position from Top",                 0,      0, Number},
    {"Print Width",                    6000,   6000, Number},
    {"Print Height",                   4000,   4000, Number},
    {"Frame Width",                       2,      2, Number},
    {"Raise for Print",                   0,      0, Number},
    {"Auto Center",                       1,      1, Number},
    {"Dialog Top",                        9,      9, Number},
    {"Dialog Left",                     667,    667, Number},
    {"Color Dialog Top",                419,    419, Number},
    {"Color Dialog Left",               667,    667, Number},
    {"Main Window Top",                   5,      5, Number},
    {"Main Window Left",                  5,      5, Number},
    {"Main Window Width",               652,    652, Number},
    {"Main Window Height",              590,    590, Number},
    {"Power On Flag",                     1,      1, SaveOnly},
    // clang-format on
};

// The capture driver, in load order. The five timed-profile values live in the "AVI" key itself.
inline constexpr ProfileValue kCaptureDriverValues[] = {
    // clang-format off
    // value                          missing  factory
    {"Revision",                          0,     80, Number},
    {"BLC Value",                         0,      0, Number},
    {"Video Gain",                      127,    127, Number},
    {"Frequency",                      6000,   6000, Number},
    {"Shutter Value",                   260,    260, Number},
    {"Red Balance",                     127,    127, Number},
    {"Blue Balance",                    127,    127, Number},
    {"Color Saturation",                127,    127, Number},
    {"Gamma Value",                     120,    120, Number},
    {"AGC Bias",                         50,     50, Number},
    {"ASC Enable",                        3,      3, Number},
    {"LED Enable",                        1,      1, Number},
    {"LED Mode",                          3,      3, Number},
    {"AWB Tracking",                      1,      1, Number},
    {"Image Quality",                   255,    255, Number},
    {"Image Sharpness",                 125,    125, Number},
    {"60Hz Power System",                 1,      1, Number},
    {"Src Dialog Top",                  100,     50, Number},
    {"Src Dialog Left",                 100,    600, Number},
    {"Format Dialog Top",               100,    100, Number},
    {"Format Dialog Left",              100,    100, Number},
    {"Mirror Preview",                    0,      0, Number},
    {"Flip Preview",                      0,      0, Number},
    {"Negative Enable",                   0,      0, Number},
    {"Stream Enable",                     1,      1, Number},
    {"Grab Button",                       0,      0, Number},
    {"ErrorMessages",                     1,      0, Number},
    {"Resolution",                        1,      1, Number},
    {"Format",                            0,      0, Number},
    {"Timed Profile Enable",              0,      0, FrontEndKey},
    {"Timed Profile 1 Start Time",        0,      0, FrontEndKey},
    {"Timed Profile 2 Start Time",        0,      0, FrontEndKey},
    {"Timed Profile 1",                   0,      0, FrontEndKey},
    {"Timed Profile 2",                   0,      0, FrontEndKey},
    // clang-format on
};

// The driver writes its profile in an order of its own.
inline constexpr const char* kCaptureDriverSaveOrder[] = {
    "Revision",
    "BLC Value",
    "Video Gain",
    "Frequency",
    "Shutter Value",
    "Red Balance",
    "Blue Balance",
    "Color Saturation",
    "Gamma Value",
    "AGC Bias",
    "ASC Enable",
    "LED Enable",
    "LED Mode",
    "AWB Tracking",
    "Image Quality",
    "Image Sharpness",
    "60Hz Power System",
    "Src Dialog Top",
    "Src Dialog Left",
    "Format Dialog Top",
    "Format Dialog Left",
    "Mirror Preview",
    "Flip Preview",
    "Stream Enable",
    "Grab Button",
    "Negative Enable",
    "Resolution",
    "Format",
    "ErrorMessages",
    "Timed Profile Enable",
    "Timed Profile 1 Start Time",
    "Timed Profile 2 Start Time",
    "Timed Profile 1",
    "Timed Profile 2",
};

// The TWAIN source: loading defaults and factory values differ only in "Image Sharpness".
inline constexpr ProfileValue kTwainValues[] = {
    // clang-format off
    // value                          missing  factory
    {"Revision",                          0,      0, Number},
    {"Video Gain",                      128,    128, Number},
    {"Resolution",                        0,      0, Number},
    {"Frequency",                      6000,   6000, Number},
    {"Shutter Value",                   260,    260, Number},
    {"Red Balance",                     127,    127, Number},
    {"Blue Balance",                    127,    127, Number},
    {"Color Saturation",                127,    127, Number},
    {"Format",                            0,      0, Number},
    {"Gamma Value",                     120,    120, Number},
    {"AGC Mode",                          3,      3, Number},
    {"AGC Bias",                         50,     50, Number},
    {"AWB Tracking",                      1,      1, Number},
    {"Image Quality",                   255,    255, Number},
    {"Image Sharpness",                  50,    125, Number},
    {"LED Mode",                          3,      3, Number},
    {"LED Enable",                        1,      1, Number},
    {"60Hz Power System",                 1,      1, Number},
    {"Src Dialog Top",                  100,    100, Number},
    {"Src Dialog Left",                 100,    100, Number},
    {"Mirror",                            0,      0, Number},
    {"Flip",                              0,      0, Number},
    {"Button Mode",                       0,      0, Number},
    {"Rotate Image",                      0,      0, Number},
    // clang-format on
};

}  // namespace tables

inline constexpr ProfileLayout kViewerLayout = {
    "QRViewer",
    79,
    tables::kViewerValues,
    std::size(tables::kViewerValues),
    nullptr,
    0,
    "Un-Named",
    "Default File Location",
    {nullptr, 0, 0},
};

inline constexpr ProfileLayout kCaptureDriverLayout = {
    "AVI",
    80,
    tables::kCaptureDriverValues,
    std::size(tables::kCaptureDriverValues),
    tables::kCaptureDriverSaveOrder,
    std::size(tables::kCaptureDriverSaveOrder),
    "Name",
    nullptr,
    {"ASC Enable", 1, 3},
};

inline constexpr ProfileLayout kTwainLayout = {
    "Twain",    49,      tables::kTwainValues, std::size(tables::kTwainValues), nullptr, 0,
    "Un-Named", nullptr, {nullptr, 0, 0},
};

// One value of one front end's layout: its position in the layout's load order. PROFILE_VALUE
// makes one with the name checked when compiling; code that walks a layout makes its own.
struct ValueId {
  const ProfileLayout* layout;
  std::size_t position;
};

// The position in `layout` of value `id`, found by its name when `id` is of another layout; the
// layout's count when it has no such value.
constexpr std::size_t positionIn(const ProfileLayout& layout, ValueId id) {
  if (id.layout == &layout) return id.position < layout.count ? id.position : layout.count;
  if (!id.layout || id.position >= id.layout->count) return layout.count;
  return positionOf(layout, id.layout->values[id.position].name);
}

template <std::size_t Position, std::size_t Count>
struct CheckedPosition {
  static_assert(Position < Count, "PROFILE_VALUE: the front end's profile has no value of that name");
  static constexpr std::size_t value = Position;
};

}  // namespace profiles

// PROFILE_VALUE(profiles::kViewerLayout, "Video Gain"): the value "Video Gain" of the viewer's
// profile. The name is looked up in the table when compiling, so a misspelt name does not build.
#define PROFILE_VALUE(layout, name) \
  (::profiles::ValueId{&(layout),   \
                       ::profiles::CheckedPosition<::profiles::positionOf(layout, name), (layout).count>::value})
