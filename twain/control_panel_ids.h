// The control panel's dialog template and its controls (control_panel.rc and the code share them).
#pragma once

#define IDD_TWAIN_PANEL 565

#define IDC_IMAGE_SIZE 101
#define IDC_ACQUIRE 102
#define IDC_REDRAW 103
#define IDC_PREVIEW 104
#define IDC_COLOR_FORMAT 105
#define IDC_AGC_MODE 106
#define IDC_SHUTTER_SPEED 107
#define IDC_ROTATE_LEFT 108
#define IDC_SHARPNESS 109
#define IDC_SHARPNESS_EDIT 110
#define IDC_ABOUT 112
#define IDC_60HZ 115
#define IDC_HELP_BUTTON 119
#define IDC_CLOSE 120
#define IDC_CONFIGURATION 121
#define IDC_AWB_TRACKING 122
#define IDC_LED_ENABLE 124
#define IDC_ROTATE_OFF 125
#define IDC_MIRROR 126
#define IDC_ROTATE_RIGHT 127
#define IDC_FLIP 128
#define IDC_BUTTON_ACQ 129
#define IDC_SHUTTER 135
#define IDC_SHUTTER_EDIT 136
#define IDC_GAIN 138
#define IDC_GAIN_EDIT 139
#define IDC_COLOR_LEVEL 147
#define IDC_COLOR_LEVEL_EDIT 150
#define IDC_MANUAL_WB 153
#define IDC_AGC_BIAS 161
#define IDC_AGC_BIAS_EDIT 162
#define IDC_GAMMA_EDIT 163
#define IDC_GAMMA 164
#define IDC_RED_EDIT 170
#define IDC_RED 171
#define IDC_BLUE_EDIT 172
#define IDC_BLUE 173
#define IDC_PREVIEW_IMAGE 1589

// The window class of the preview control (control 1589).
#define PREVIEW_CONTROL_CLASS "QuorelTwainPreview"
