// Dialog resources and control ids of the viewer's camera and colour control panels.
#pragma once

#define IDD_CAMERA_PANEL_COMPACT 2
#define IDD_CAMERA_PANEL_FULL 565
#define IDD_COLOUR_PANEL 556

// Both camera panels.
#define IDC_STILL_IMAGE 152
#define IDC_PREVIEW_BUTTON 946
#define IDC_REDRAW_BUTTON 167
#define IDC_IMAGE_SIZE 103
#define IDC_COLOR_FORMAT 108
#define IDC_QUALITY 174
#define IDC_SHARPNESS 1011
#define IDC_SHARPNESS_EDIT 102

// The compact panel.
#define IDC_MORE 105
#define IDC_COMPACT_CLOSE 1
#define IDC_HELP_BUTTON 998
#define IDC_BRIGHTNESS 106
#define IDC_BRIGHTNESS_EDIT 107

// The compact panel's COLOR bar and the colour panel's "Color Level".
#define IDC_COLOR_LEVEL 147
#define IDC_COLOR_LEVEL_EDIT 150

// The full panel.
#define IDC_LESS 111
#define IDC_FULL_CLOSE 120
#define IDC_COLOR_BUTTON 121
#define IDC_SHUTTER_PRESETS 110
#define IDC_AGC_MODE 176
#define IDC_BACK_LIGHT 114
#define IDC_BACK_LIGHT_EDIT 116
#define IDC_SHUTTER 135
#define IDC_SHUTTER_EDIT 136
#define IDC_AGC_BIAS 161
#define IDC_AGC_BIAS_EDIT 162
#define IDC_GAIN 138
#define IDC_GAIN_EDIT 139
#define IDC_GAMMA 164
#define IDC_GAMMA_EDIT 163

// The colour panel.
#define IDC_AWB_TRACKING 101
#define IDC_MANUAL_WB 153
#define IDC_RED_BALANCE 171
#define IDC_RED_BALANCE_EDIT 170
#define IDC_BLUE_BALANCE 173
#define IDC_BLUE_BALANCE_EDIT 172
