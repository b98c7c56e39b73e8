// Resource numbers and command ids of the viewer. Every tool-bar bitmap is numbered like its
// command, except those named here.
#pragma once

#define IDM_VIEWER_MENU 454
#define IDA_VIEWER_KEYS 654
#define IDI_VIEWER 1

// Files, clipboard and printing.
#define CM_FILE_OPEN 24332
#define CM_FILE_SAVE_AS 24333
#define CM_FILE_PRINT 24337
#define CM_EXIT 24310
#define CM_UNDO 24321
#define CM_COPY 24323
#define CM_PASTE 24324
#define CM_CLIP_AREA 24325
#define CM_CLEAR_IMAGE 444

// The JPEG quality dialog.
#define IDD_JPEG_QUALITY 2170
#define IDC_JPEG_QUALITY_BAR 164
#define IDC_JPEG_QUALITY_EDIT 206

// "Printer Control" and "Print Status".
#define IDD_PRINTER_CONTROL 2171
#define IDD_PRINT_STATUS 2172
#define IDC_PRINT_PRINTER 554
#define IDC_PRINT_ORIENTATION 105
#define IDC_PRINT_COLOUR 108
#define IDC_PRINT_DEFAULT 128
#define IDC_PRINT_HALFTONE 131
#define IDC_PRINT_SCATTER 132
#define IDC_PRINT_SCALE 123
#define IDC_PRINT_CENTER 148
#define IDC_PRINT_BRIGHTEN 125
#define IDC_PRINT_LEFT_BAR 103
#define IDC_PRINT_TOP_BAR 104
#define IDC_PRINT_SIZE_BAR 101
#define IDC_PRINT_FRAME_BAR 161
#define IDC_PRINT_WIDTH 127
#define IDC_PRINT_HEIGHT 130
#define IDC_PRINT_LEFT 139
#define IDC_PRINT_TOP 124
#define IDC_PRINT_FRAME 162
#define IDC_PRINT_SETUP 136
#define IDC_PRINT_NOW 133
#define IDC_PRINT_PREVIEW 150
#define IDC_PRINT_STATUS_TEXT 139

// Colour, effect and view operations on the picture.
#define CM_ADJUST_RGB 23
#define CM_ADJUST_BRIGHTNESS 113
#define CM_HISTOBRIGHTEN 118
#define CM_COLOUR_TO_BW 111
#define CM_16M_TO_256 104
#define CM_TO_16M 105
#define CM_256_TO_16 321
#define CM_256_TO_2 108
#define CM_2_TO_256 110
#define CM_SHARPEN 106
#define CM_SMOOTH 114
#define CM_EMBOSS 115
#define CM_NEGATIVE 107
#define CM_KODALITH 109
#define CM_TRACE 116
#define CM_RESIZE 303
#define CM_FLIP 332
#define CM_MIRROR 333
#define CM_ROTATE_CW 900
#define CM_ROTATE_CCW 901

// Preview orientation.
#define CM_MIRROR_PREVIEW 11843
#define CM_INVERT_PREVIEW 11844
#define CM_NO_ROTATION 9078
#define CM_ROTATE_PLUS_90 9075
#define CM_ROTATE_MINUS_90 9076
#define CM_ROTATE_180 9077

// The camera.
#define CM_CAMERA_PANEL 555
#define CM_COLOUR_PANEL 556
#define CM_RES_FULL 801
#define CM_RES_HALF 802
#define CM_RES_QUARTER 803
#define CM_RES_CIF 51682
#define CM_RES_QCIF 51683
#define CM_RES_DOUBLE 809
#define CM_RES_SUBQUARTER 9073
#define CM_COLOUR_MODE 805
#define CM_POWER 102
#define CM_60HZ 11847
#define CM_DELAYED_TIMER 1029
#define CM_NEGATIVE_IMAGE 11846
#define CM_CAPTURE 1033
#define CM_PREVIEW 101
#define CM_REDRAW 120
#define CM_CONFIG_MANAGER 223
#define CM_LED 1021
#define CM_PREVIEW_BUTTON 24
#define CM_SOUND 11842
#define CM_QUALITY_HIGH 9070
#define CM_QUALITY_MEDIUM 9071
#define CM_QUALITY_LOW 9072
#define CM_ASK_SAVE_CONFIG 166
#define CM_ASK_SAVE_IMAGE 167
#define CM_HELP 605
#define CM_ABOUT 201
#define CM_MMX 9074

// Tool-bar bitmaps that are not numbered like their command.
#define IDB_COLOUR_PANEL 559
#define IDB_COLOUR_MODE_RGB 805
#define IDB_COLOUR_MODE_BW 806
#define IDB_POWER_ON 810
#define IDB_POWER_OFF 811
