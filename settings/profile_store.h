// A front end's settings as held in memory, and the operations on its current profile in the
// registry (through quorelreg.dll): load, save, factory defaults and the start-up revision check.
//
// "Current Profile" (0-based, 0-8) in the front end's key names the profile key
// "UserProfile<index + 1>"; every load and save reads it afresh, so a profile chosen in the profile
// dialog is the one the next load or save works on.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "profile_tables.h"

namespace profiles {

constexpr LONG kProfileSlots = 9;

// Every value of one front end's layout. Code names a value with PROFILE_VALUE, which checks the
// name when compiling: settings[PROFILE_VALUE(kTwainLayout, "Video Gain")].
class ProfileSettings {
 public:
  // Starts at the factory numbers (Text values empty; nothing is read).
  explicit ProfileSettings(const ProfileLayout& layout);

  const ProfileLayout& layout() const { return *layout_; }
  // The number of value `id`. A value of another front end's layout is found by its name; one that
  // this layout does not have (nothing a program hosting the front end could do about it) reads 0
  // and takes no writes, and is reported to the debugger.
  LONG& operator[](ValueId id);
  LONG operator[](ValueId id) const;
  // The text of a Text value (the same rules).
  std::string& text(ValueId id);
  const std::string& text(ValueId id) const;
  // The value named by text known only at run time; its position is the layout's count (which
  // names no value) when the layout has none of that name.
  ValueId find(const char* name) const { return ValueId{layout_, positionOf(*layout_, name)}; }
  bool has(const char* name) const { return find(name).position < layout_->count; }

  // The profile index of the last load or save; factory defaults make it 0.
  LONG currentProfile = 0;

 private:
  // The position of `id` in this layout, or the layout's count.
  std::size_t position(ValueId id) const;
  const ProfileLayout* layout_;
  std::vector<LONG> numbers_;       // one more than the layout has: the spare of unknown values
  std::vector<std::string> texts_;  // the same
};

// Values that a load leaves as they are (the capture driver's running "Resolution" and "Format").
using KeepList = std::vector<ValueId>;

// "Current Profile" of the front end's key; 0 when missing or outside 0-8.
LONG readCurrentProfile(const char* frontEndKey);
// Writes "Current Profile", creating the front end's key when needed.
bool writeCurrentProfile(const char* frontEndKey, LONG index);
// "UserProfile<index + 1>".
std::string profileKey(LONG index);
// "Profile Name" of the profile `index`; false when it cannot be read (the slot is free).
bool readProfileName(const char* frontEndKey, LONG index, std::string& name);
// Writes "Profile Name" into the existing key of the profile `index`.
bool writeProfileName(const char* frontEndKey, LONG index, const std::string& name);

// Reads the current profile. When its key cannot be opened, factory defaults are loaded and saved
// (which creates the profile) and the result is false; the values of the front end's own key are
// read even then, as no profile holds them. Values missing from the profile take their
// defaults; Text values keep their text; SaveOnly values are set to their defaults. Values named
// in `keep` are neither read nor reset to factory values (the capture driver keeps "Resolution"
// and "Format" while it runs).
bool loadProfile(ProfileSettings& settings, const KeepList& keep = {});

// Writes every value into the current profile, "Revision" as the front end's revision. A missing
// profile key is created: the one that "Current Profile" names (written too), with the front
// end's new-profile name, so the next start loads what was saved. False when a write failed.
bool saveProfile(ProfileSettings& settings);

// Every value to its factory number, the profile index to 0, Text values to the front end's
// factory text source (empty when it has none). Nothing is written.
void loadFactoryDefaults(ProfileSettings& settings);

// "Revision" as stored in the current profile (0 when missing).
LONG storedRevision(const ProfileLayout& layout);

// The front end's start-up: factory defaults, then the current profile; a profile stored at
// another revision (or missing) is saved back at once with the front end's revision; one stored
// at the front end's revision gets the layout's revision rule. True when the profile was stored
// at the front end's revision. Values named in `keep` stay as they are, as with loadProfile (the
// capture driver runs the check while open, with its resolution and format in use).
bool startUpProfile(ProfileSettings& settings, const KeepList& keep = {});

}  // namespace profiles
