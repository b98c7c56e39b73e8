// Registry helpers of the profile tests: profile values written and read as the settings store
// keeps them (decimal text), bypassing the code under test.
#pragma once
#include <string>

#include "profile_store.h"
#include "registry_sandbox.h"

namespace profiletest {

// Values of one front end, their names checked when compiling.
#define VIEWER(name) PROFILE_VALUE(profiles::kViewerLayout, name)
#define DRIVER(name) PROFILE_VALUE(profiles::kCaptureDriverLayout, name)
#define TWAIN(name) PROFILE_VALUE(profiles::kTwainLayout, name)

// The value at `position` of the layout's load order.
inline profiles::ValueId entry(const profiles::ProfileLayout& layout, std::size_t position) {
  return profiles::ValueId{&layout, position};
}

// The value `name` of a layout chosen at run time (tests that run over every front end).
inline profiles::ValueId valueOf(const profiles::ProfileLayout& layout, const char* name) {
  profiles::ValueId id{&layout, profiles::positionOf(layout, name)};
  EXPECT_LT(id.position, layout.count) << '"' << name << "\" is not one of " << layout.key;
  return id;
}

inline std::string frontEndPath(const profiles::ProfileLayout& layout) {
  return std::string(qrtest::kProductKey) + "\\" + layout.key;
}

inline std::string profilePath(const profiles::ProfileLayout& layout, long index) {
  return frontEndPath(layout) + "\\" + profiles::profileKey(index);
}

inline void writeText(const std::string& path, const char* name, const std::string& text) {
  qrtest::writeRawValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

inline void writeNumber(const std::string& path, const char* name, long number) {
  writeText(path, name, std::to_string(number));
}

// The text stored as `name`, or "<missing>".
inline std::string storedText(const std::string& path, const char* name) {
  DWORD type = 0;
  std::string data;
  if (!qrtest::readRawValue(path, name, type, data)) return "<missing>";
  if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
  return data.c_str();
}

}  // namespace profiletest
