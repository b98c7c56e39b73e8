#include "profile_store.h"

#include <cstdio>
#include <cstdlib>

#include "quorelreg.h"
#include "regpath.h"

namespace profiles {

namespace {

const char kCurrentProfile[] = "Current Profile";
const char kProfileName[] = "Profile Name";
const char kRevision[] = "Revision";

// The layout's values in the order a save writes them.
std::vector<const ProfileValue*> valuesInSaveOrder(const ProfileLayout& layout) {
  std::vector<const ProfileValue*> values;
  if (!layout.saveOrder) {
    for (std::size_t i = 0; i < layout.count; ++i) values.push_back(&layout.values[i]);
  } else {
    for (std::size_t i = 0; i < layout.saveOrderCount; ++i) {
      values.push_back(findValue(layout, layout.saveOrder[i]));
    }
  }
  return values;
}

bool isKept(const std::vector<std::string>& keep, const char* name) {
  for (const std::string& kept : keep) {
    if (kept == name) return true;
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

bool saveValue(const ProfileSettings& settings, const ProfileValue& value) {
  switch (value.kind) {
    case ValueKind::Number:
    case ValueKind::SaveOnly:
      return RegSaveVal(value.name, settings[value.name]) != 0;
    case ValueKind::Text:
      return RegSaveString(value.name, settings.text(value.name).c_str()) != 0;
    case ValueKind::FrontEndKey:
      return true;  // written after the profile key is closed
  }
  return false;
}

// The values kept in the front end's own key rather than in the profile, read with one opening of
// that key (a key that cannot be opened gives the defaults).
void readFrontEndKeyValues(ProfileSettings& settings, const std::vector<std::string>& keep) {
  const ProfileLayout& layout = settings.layout();
  bool open = false;
  for (std::size_t i = 0; i < layout.count; ++i) {
    const ProfileValue& value = layout.values[i];
    if (value.kind != ValueKind::FrontEndKey || isKept(keep, value.name)) continue;
    if (!open) open = OpenKey(layout.key, nullptr) != 0;
    settings[value.name] = RegGetVal(value.name, value.missing);
  }
  if (open) CloseKey();
}

// Factory values for all but the kept values: a value the front end must not have changed under it
// (the capture driver's running resolution and format) stays as it is when no profile is found.
void loadFactoryDefaultsKeeping(ProfileSettings& settings, const std::vector<std::string>& keep) {
  const ProfileSettings before = settings;
  loadFactoryDefaults(settings);
  for (const std::string& name : keep) {
    if (!settings.has(name.c_str())) continue;
    settings[name.c_str()] = before[name.c_str()];
    settings.text(name.c_str()) = before.text(name.c_str());
  }
}

}  // namespace

ProfileSettings::ProfileSettings(const ProfileLayout& layout)
    : layout_(&layout), numbers_(layout.count), texts_(layout.count) {
  for (std::size_t i = 0; i < layout.count; ++i) numbers_[i] = layout.values[i].factory;
}

std::size_t ProfileSettings::position(const char* name) const {
  const ProfileValue* value = findValue(*layout_, name);
  if (!value) {
    std::fprintf(stderr, "profile value \"%s\" is not one of \"%s\"\n", name, layout_->key);
    std::abort();
  }
  return static_cast<std::size_t>(value - layout_->values);
}

LONG& ProfileSettings::operator[](const char* name) { return numbers_[position(name)]; }
LONG ProfileSettings::operator[](const char* name) const { return numbers_[position(name)]; }
std::string& ProfileSettings::text(const char* name) { return texts_[position(name)]; }
const std::string& ProfileSettings::text(const char* name) const { return texts_[position(name)]; }

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

bool loadProfile(ProfileSettings& settings, const std::vector<std::string>& keep) {
  const ProfileLayout& layout = settings.layout();
  LONG index = readCurrentProfile(layout.key);
  if (!OpenKey(layout.key, profileKey(index).c_str())) {
    loadFactoryDefaultsKeeping(settings, keep);
    saveProfile(settings);
    return false;
  }
  settings.currentProfile = index;
  for (std::size_t i = 0; i < layout.count; ++i) {
    const ProfileValue& value = layout.values[i];
    if (isKept(keep, value.name)) continue;
    if (value.kind == ValueKind::Number) {
      settings[value.name] = RegGetVal(value.name, value.missing);
    } else if (value.kind == ValueKind::Text) {
      char text[QUORELREG_MAX_STRING + 1];
      if (RegGetString(value.name, text)) settings.text(value.name) = text;
    } else if (value.kind == ValueKind::SaveOnly) {
      settings[value.name] = value.missing;
    }
  }
  CloseKey();
  readFrontEndKeyValues(settings, keep);
  return true;
}

bool saveProfile(ProfileSettings& settings) {
  const ProfileLayout& layout = settings.layout();
  LONG index = readCurrentProfile(layout.key);
  if (settings.has(kRevision)) settings[kRevision] = layout.revision;
  if (!openOrCreateProfile(layout, index)) {
    CloseKey();
    return false;
  }
  settings.currentProfile = index;
  const std::vector<const ProfileValue*> order = valuesInSaveOrder(layout);
  bool ok = true;
  for (const ProfileValue* value : order) ok = saveValue(settings, *value) && ok;
  CloseKey();
  for (const ProfileValue* value : order) {
    if (value->kind != ValueKind::FrontEndKey) continue;
    ok = ExtRegSaveVal(layout.key, nullptr, value->name, settings[value->name]) && ok;
  }
  return ok;
}

void loadFactoryDefaults(ProfileSettings& settings) {
  const ProfileLayout& layout = settings.layout();
  for (std::size_t i = 0; i < layout.count; ++i) {
    const ProfileValue& value = layout.values[i];
    if (value.kind != ValueKind::Text) {
      settings[value.name] = value.factory;
      continue;
    }
    char text[QUORELREG_MAX_STRING + 1] = "";
    if (layout.factoryTextSource) ExtRegGetString(layout.key, nullptr, layout.factoryTextSource, text);
    settings.text(value.name) = text;
  }
  settings.currentProfile = 0;
}

LONG storedRevision(const ProfileLayout& layout) {
  return ExtRegGetVal(layout.key, profileKey(readCurrentProfile(layout.key)).c_str(), kRevision);
}

bool startUpProfile(ProfileSettings& settings) {
  const ProfileLayout& layout = settings.layout();
  loadFactoryDefaults(settings);
  LONG stored = storedRevision(layout);
  // A missing profile is created by the load itself, already with the front end's revision.
  if (!loadProfile(settings)) return false;
  if (stored != layout.revision) {
    saveProfile(settings);
    return false;
  }
  const RevisionRule& rule = layout.currentRevisionRule;
  if (rule.name && settings[rule.name] == rule.from) settings[rule.name] = rule.to;
  return true;
}

}  // namespace profiles
