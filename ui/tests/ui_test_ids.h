#pragma once
#define IDD_UI_TEST 100
#define IDD_UI_CHILD 101
#define IDC_UI_EDIT 110
#define IDC_UI_CHECK 111
#define IDC_UI_LIST 112
#define IDC_UI_COMBO 113
#define IDC_UI_SCROLL 114
