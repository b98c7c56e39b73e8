// The camera information dialog's resource and field numbers.
#pragma once

#define IDD_CAMERA_INFO 203
#define IDC_INFO_PROGRAM_VERSION 876
#define IDC_INFO_LIBRARY_VERSION 889
#define IDC_INFO_DRIVER_VERSION 897
#define IDC_INFO_MMX 587
#define IDC_INFO_USER_NAME 667
#define IDC_INFO_USER_COMPANY 668
#define IDC_INFO_CONNECTION 661
#define IDC_INFO_SERIAL 102
#define IDC_INFO_DISPLAY 666
