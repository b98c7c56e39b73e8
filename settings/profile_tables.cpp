// Checks of the front ends' tables, made when compiling.
#include "profile_tables.h"

namespace profiles {

namespace {

constexpr bool namesAreUnique(const ProfileLayout& layout) {
  for (std::size_t i = 0; i < layout.count; ++i) {
    if (positionOf(layout, layout.values[i].name) != i) return false;
  }
  return true;
}

// A save order names every value of the layout once.
constexpr bool saveOrderIsComplete(const ProfileLayout& layout) {
  if (!layout.saveOrder) return true;
  if (layout.saveOrderCount != layout.count) return false;
  for (std::size_t i = 0; i < layout.saveOrderCount; ++i) {
    if (!findValue(layout, layout.saveOrder[i])) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (sameName(layout.saveOrder[i], layout.saveOrder[j])) return false;
    }
  }
  return true;
}

constexpr bool isSound(const ProfileLayout& layout) {
  return namesAreUnique(layout) && saveOrderIsComplete(layout) && sameName(layout.values[0].name, "Revision") &&
         (!layout.currentRevisionRule.name || findValue(layout, layout.currentRevisionRule.name));
}

static_assert(isSound(kViewerLayout), "viewer profile table");
static_assert(isSound(kCaptureDriverLayout), "capture driver profile table");
static_assert(isSound(kTwainLayout), "TWAIN source profile table");

}  // namespace

}  // namespace profiles
