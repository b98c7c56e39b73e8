// The profile value sets of the three front ends, as data: for every value its registry name, the
// default that loading uses when the value is missing, and the factory value. One table per front
// end drives loading, saving and factory defaults (profile_store.h).
#pragma once
#include <windows.h>

#include <cstddef>

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

extern const ProfileLayout kViewerLayout;         // "QRViewer", revision 79
extern const ProfileLayout kCaptureDriverLayout;  // "AVI", revision 80
extern const ProfileLayout kTwainLayout;          // "Twain", revision 49

// The value named `name` in `layout`, or null.
const ProfileValue* findValue(const ProfileLayout& layout, const char* name);

}  // namespace profiles
