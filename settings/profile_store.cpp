#include "profile_store.h"

#include <cstdio>

#include "quorelreg.h"
#include "regpath.h"

namespace profiles {

namespace {

const char kCurrentProfile[] = "Current Profile";
const char kProfileName[] = "Profile Name";
const char kRevision[] = "Revision";

ValueId idAt(const ProfileLayout& layout, std::size_t position) { return ValueId{&layout, position}; }

// The layout's values in the order a save writes them (a save order names each value once).
std::vector<ValueId> valuesInSaveOrder(const ProfileLayout& layout) {
  std::vector<ValueId> values;
  for (std::size_t i = 0; i < layout.count; ++i) {
    values.push_back(idAt(layout, layout.saveOrder ? positionOf(layout, layout.saveOrder[i]) : i));
  }
  return values;
}

bool isKept(const ProfileLayout& layout, const KeepList& keep, std::size_t position) {
  for (ValueId kept : keep) {
    if (positionIn(layout, kept) == position) return true;
  }
  return false;
}

// Opens the current profile for writing; a missing one is created as the profile that
// "Current Profile" names.
bool openOrCreateProfile(const ProfileLayout& layout, LONG index) {
  if (OpenKey(layout.key, profileKey(index).c_str())) return true;
  if (!writeCurrentProfile(layout.key, index)) return false;
  if (!CreateNewUserProfile(layout.key)) return false;
  return RegSaveString(kProfileName, layout.newProfileName) != 0;
}

bool saveValue(const ProfileSettings& settings, ValueId id) {
  const ProfileValue& value = settings.layout().values[id.position];
  switch (value.kind) {
    case ValueKind::Number:
    case ValueKind::SaveOnly:
      return RegSaveVal(value.name, settings[id]) != 0;
    case ValueKind::Text:
      return RegSaveString(value.name, settings.text(id).c_str()) != 0;
    case ValueKind::FrontEndKey:
      return true;  // written after the profile key is closed
  }
  return false;
}

// The values kept in the front end's own key rather than in the profile, read with one opening of
// that key (a key that cannot be opened gives the defaults).
void readFrontEndKeyValues(ProfileSettings& settings, const KeepList& keep) {
  const ProfileLayout& layout = settings.layout();
  bool open = false;
  for (std::size_t i = 0; i < layout.count; ++i) {
    const ProfileValue& value = layout.values[i];
    if (value.kind != ValueKind::FrontEndKey || isKept(layout, keep, i)) continue;
    if (!open) open = OpenKey(layout.key, nullptr) != 0;
    settings[idAt(layout, i)] = RegGetVal(value.name, value.missing);
  }
  if (open) CloseKey();
}

// Factory values for all but the kept values: a value the front end must not have changed under it
// (the capture driver's running resolution and format) stays as it is when no profile is found.
void loadFactoryDefaultsKeeping(ProfileSettings& settings, const KeepList& keep) {
  const ProfileSettings before = settings;
  loadFactoryDefaults(settings);
  for (ValueId kept : keep) {
    settings[kept] = before[kept];
    settings.text(kept) = before.text(kept);
  }
}

}  // namespace

ProfileSettings::ProfileSettings(const ProfileLayout& layout)
    : layout_(&layout), numbers_(layout.count + 1), texts_(layout.count + 1) {
  for (std::size_t i = 0; i < layout.count; ++i) numbers_[i] = layout.values[i].factory;
}

std::size_t ProfileSettings::position(ValueId id) const {
  std::size_t position = positionIn(*layout_, id);
  if (position == layout_->count) {
    char message[160];
    const char* name = id.layout && id.position < id.layout->count ? id.layout->values[id.position].name : "?";
    std::snprintf(message, sizeof message, "profile value \"%s\" is not one of \"%s\"\n", name, layout_->key);
    OutputDebugStringA(message);
  }
  return position;
}

// The spare slot after the layout's values stands for a value the layout does not have: it is
// cleared whenever it is handed out, so nothing written to it is ever read back.
LONG& ProfileSettings::operator[](ValueId id) {
  std::size_t at = position(id);
  if (at == layout_->count) numbers_[at] = 0;
  return numbers_[at];
}

LONG ProfileSettings::operator[](ValueId id) const {
  std::size_t at = position(id);
  return at < layout_->count ? numbers_[at] : 0;
}

std::string& ProfileSettings::text(ValueId id) {
  std::size_t at = position(id);
  if (at == layout_->count) texts_[at].clear();
  return texts_[at];
}

const std::string& ProfileSettings::text(ValueId id) const {
  static const std::string none;
  std::size_t at = position(id);
  return at < layout_->count ? texts_[at] : none;
}

LONG readCurrentProfile(const char* frontEndKey) {
  LONG index = ExtRegGetVal(frontEndKey, nullptr, kCurrentProfile);
  return index >= 0 && index < kProfileSlots ? index : 0;
}

bool writeCurrentProfile(const char* frontEndKey, LONG index) {
  bool ok = CreateNewKey(frontEndKey, nullptr) && RegSaveVal(kCurrentProfile, index);
  CloseKey();
  return ok;
}

std::string profileKey(LONG index) { return quorelreg::profileKeyName(index); }

bool readProfileName(const char* frontEndKey, LONG index, std::string& name) {
  char text[QUORELREG_MAX_STRING + 1];
  if (!ExtRegGetString(frontEndKey, profileKey(index).c_str(), kProfileName, text)) return false;
  name = text;
  return true;
}

bool writeProfileName(const char* frontEndKey, LONG index, const std::string& name) {
  return ExtRegSaveString(frontEndKey, profileKey(index).c_str(), kProfileName, name.c_str()) != 0;
}

bool loadProfile(ProfileSettings& settings, const KeepList& keep) {
  const ProfileLayout& layout = settings.layout();
  LONG index = readCurrentProfile(layout.key);
  if (!OpenKey(layout.key, profileKey(index).c_str())) {
    loadFactoryDefaultsKeeping(settings, keep);
    // The values of the front end's own key belong to no profile (the capture driver's timed
    // profiles): a missing profile must not reset them, and the save below writes them back.
    readFrontEndKeyValues(settings, keep);
    saveProfile(settings);
    return false;
  }
  settings.currentProfile = index;
  for (std::size_t i = 0; i < layout.count; ++i) {
    const ProfileValue& value = layout.values[i];
    if (isKept(layout, keep, i)) continue;
    if (value.kind == ValueKind::Number) {
      settings[idAt(layout, i)] = RegGetVal(value.name, value.missing);
    } else if (value.kind == ValueKind::Text) {
      char text[QUORELREG_MAX_STRING + 1];
      if (RegGetString(value.name, text)) settings.text(idAt(layout, i)) = text;
    } else if (value.kind == ValueKind::SaveOnly) {
      settings[idAt(layout, i)] = value.missing;
    }
  }
  CloseKey();
  readFrontEndKeyValues(settings, keep);
  return true;
}

bool saveProfile(ProfileSettings& settings) {
  const ProfileLayout& layout = settings.layout();
  LONG index = readCurrentProfile(layout.key);
  if (settings.has(kRevision)) settings[settings.find(kRevision)] = layout.revision;
  if (!openOrCreateProfile(layout, index)) {
    CloseKey();
    return false;
  }
  settings.currentProfile = index;
  const std::vector<ValueId> order = valuesInSaveOrder(layout);
  bool ok = true;
  for (ValueId id : order) ok = saveValue(settings, id) && ok;
  CloseKey();
  for (ValueId id : order) {
    const ProfileValue& value = layout.values[id.position];
    if (value.kind != ValueKind::FrontEndKey) continue;
    ok = ExtRegSaveVal(layout.key, nullptr, value.name, settings[id]) && ok;
  }
  return ok;
}

void loadFactoryDefaults(ProfileSettings& settings) {
  const ProfileLayout& layout = settings.layout();
  for (std::size_t i = 0; i < layout.count; ++i) {
    const ProfileValue& value = layout.values[i];
    if (value.kind != ValueKind::Text) {
      settings[idAt(layout, i)] = value.factory;
      continue;
    }
    char text[QUORELREG_MAX_STRING + 1] = "";
    if (layout.factoryTextSource) ExtRegGetString(layout.key, nullptr, layout.factoryTextSource, text);
    settings.text(idAt(layout, i)) = text;
  }
  settings.currentProfile = 0;
}

LONG storedRevision(const ProfileLayout& layout) {
  return ExtRegGetVal(layout.key, profileKey(readCurrentProfile(layout.key)).c_str(), kRevision);
}

bool startUpProfile(ProfileSettings& settings, const KeepList& keep) {
  const ProfileLayout& layout = settings.layout();
  loadFactoryDefaultsKeeping(settings, keep);
  LONG stored = storedRevision(layout);
  // A missing profile is created by the load itself, already with the front end's revision.
  if (!loadProfile(settings, keep)) return false;
  if (stored != layout.revision) {
    saveProfile(settings);
    return false;
  }
  const RevisionRule& rule = layout.currentRevisionRule;
  if (rule.name) {
    LONG& value = settings[settings.find(rule.name)];
    if (value == rule.from) value = rule.to;
  }
  return true;
}

}  // namespace profiles
