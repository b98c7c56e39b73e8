// Control ids of the picture dialogs (Resize, Brighten, Adjcolor, DlydTmr).
#pragma once

#define IDC_FIRST_BAR 164   // width, brightness, blue, delay
#define IDC_FIRST_EDIT 206  // width, brightness, blue
#define IDC_CHECK 165       // aspect kept, preview during the delay
#define IDC_HEIGHT_EDIT 166
#define IDC_HEIGHT_BAR 167
#define IDC_GREEN_BAR 166
#define IDC_GREEN_EDIT 165
#define IDC_RED_BAR 168
#define IDC_RED_EDIT 167
#define IDC_DELAY_EDIT 169
#define IDC_TIMER_GAUGE 208
