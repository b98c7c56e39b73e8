// Compiled, never linked, by value_names.cmake: code naming a profile value, VALUE_NAME, that must
// be one of the TWAIN source's values for this to build.
#include "profile_store.h"

void setValue(profiles::ProfileSettings& settings) { settings[PROFILE_VALUE(profiles::kTwainLayout, VALUE_NAME)] = 1; }
