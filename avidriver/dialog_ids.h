// The driver's dialog templates and their controls. The two forms of the source dialog share the
// identifiers of the controls they both have.
#pragma once

#define IDD_SOURCE_COMPACT 1
#define IDD_SOURCE_FULL 565
#define IDD_FORMAT 472
#define IDD_TIMED_PROFILES 2

// Source dialog.
#define IDC_SRC_AGC_MODE 101
#define IDC_SRC_QUALITY 102
#define IDC_SRC_LESS 103
#define IDC_SRC_FLIP 105
#define IDC_SRC_CONFIGURATION 107
#define IDC_SRC_SHARPNESS 110
#define IDC_SRC_SHARPNESS_FIELD 111
#define IDC_SRC_60HZ 114
#define IDC_SRC_TIMED_PROFILES 122
#define IDC_SRC_LED 128
#define IDC_SRC_AWB_TRACKING 131
#define IDC_SRC_MIRROR 132
#define IDC_SRC_SHUTTER 135
#define IDC_SRC_SHUTTER_FIELD 136
#define IDC_SRC_GAIN 138
#define IDC_SRC_GAIN_FIELD 139
#define IDC_SRC_COLOR 147
#define IDC_SRC_COLOR_FIELD 150
#define IDC_SRC_MANUAL_WB 153
#define IDC_SRC_BRIGHTNESS 161
#define IDC_SRC_BRIGHTNESS_FIELD 162
#define IDC_SRC_GAMMA_FIELD 163
#define IDC_SRC_GAMMA 164
#define IDC_SRC_RED_FIELD 170
#define IDC_SRC_RED 171
#define IDC_SRC_BLUE_FIELD 172
#define IDC_SRC_BLUE 173
#define IDC_SRC_MORE 29
#define IDC_SRC_ABOUT 291
#define IDC_SRC_HELP 998
#define IDC_SRC_BACKLIGHT 1131
#define IDC_SRC_BACKLIGHT_FIELD 1141

// Format dialog.
#define IDC_FMT_SIZE 101
#define IDC_FMT_COLOR 102
#define IDC_FMT_HELP 115

// Timed-profile dialog.
#define IDC_TP_ENABLE 102
#define IDC_TP_PROFILE1 108
#define IDC_TP_PROFILE2 109
#define IDC_TP_END 110
#define IDC_TP_END_FIELD 111
#define IDC_TP_START 161
#define IDC_TP_START_FIELD 162
#define IDC_TP_HELP 998
