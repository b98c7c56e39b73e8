// Resource and control ids of the shared profile dialogs (also included by profile_dialogs.rc).
#pragma once

#define IDD_CFGSAVE 4    // the profile manager, CFGSaveDialog
#define IDD_ENTERNAME 6  // the profile name entry, EnterNameDlg

#define IDC_PROFILE_LIST 401
#define IDC_PROFILE_SAVE 402
#define IDC_PROFILE_LOAD 403
#define IDC_PROFILE_RENAME 404
#define IDC_PROFILE_REMOVE 405
#define IDC_PROFILE_DEFAULTS 406
#define IDC_PROFILE_NEW 407

#define IDC_PROFILE_NAME 601
