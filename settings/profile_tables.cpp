#include "profile_tables.h"

#include <cstring>

namespace profiles {

namespace {

constexpr ValueKind Number = ValueKind::Number;
constexpr ValueKind Text = ValueKind::Text;
constexpr ValueKind SaveOnly = ValueKind::SaveOnly;
constexpr ValueKind FrontEndKey = ValueKind::FrontEndKey;

template <std::size_t N>
constexpr std::size_t countOf(const ProfileValue (&)[N]) {
  return N;
}
template <std::size_t N>
constexpr std::size_t countOf(const char* const (&)[N]) {
  return N;
}

// The viewer: factory values are the loading defaults. "File Location" takes its factory text
// from "Default File Location"; "Power On Flag" is written but never read.
const ProfileValue kViewerValues[] = {
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
const ProfileValue kCaptureDriverValues[] = {
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
const char* const kCaptureDriverSaveOrder[] = {
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
const ProfileValue kTwainValues[] = {
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

}  // namespace

const ProfileLayout kViewerLayout = {
    "QRViewer", 79,         kViewerValues,           countOf(kViewerValues), nullptr,
    0,          "Un-Named", "Default File Location", {nullptr, 0, 0},
};

const ProfileLayout kCaptureDriverLayout = {
    "AVI",
    80,
    kCaptureDriverValues,
    countOf(kCaptureDriverValues),
    kCaptureDriverSaveOrder,
    countOf(kCaptureDriverSaveOrder),
    "Name",
    nullptr,
    {"ASC Enable", 1, 3},
};

const ProfileLayout kTwainLayout = {
    "Twain", 49, kTwainValues, countOf(kTwainValues), nullptr, 0, "Un-Named", nullptr, {nullptr, 0, 0},
};

const ProfileValue* findValue(const ProfileLayout& layout, const char* name) {
  for (std::size_t i = 0; i < layout.count; ++i) {
    if (std::strcmp(layout.values[i].name, name) == 0) return &layout.values[i];
  }
  return nullptr;
}

}  // namespace profiles
