// Resource and control ids of the NetMeeting wizard (also included by confwizard.rc).
#pragma once

#define IDD_WIZARD 601
#define IDC_COLOURS_GREY 101
#define IDC_COLOURS_RGB555 102
#define IDC_COLOURS_RGB24 103
#define IDC_COLOURS_YUV9 104
#define IDC_RESTART_NOTE 105
#define IDC_COLOUR_GROUP 106
#define IDC_CLOSE 8
