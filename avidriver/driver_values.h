// The capture driver names its settings by their registry value names, checked when compiling.
#pragma once
#include "profile_tables.h"

#define AVI_VALUE(name) PROFILE_VALUE(::profiles::kCaptureDriverLayout, name)
