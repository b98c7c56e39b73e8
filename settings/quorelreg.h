// quorelreg.dll: the settings store's registry access under HKLM "Software\Orvane Imaging".
//
// Two styles of access:
//   - one current key: OpenKey / CreateNewKey / CreateNewUserProfile, then RegGet... / RegSave...,
//     then CloseKey;
//   - one-shot calls (ExtReg...) that open, access and close a key of their own.
// Every number is stored as decimal text (REG_SZ). Results are 1 for success and 0 for failure
// unless a function says otherwise. Sub-key arguments may be null, which leaves that level out,
// except for ExtRegDeleteProfile: it deletes only a profile key, front end \ profile, and refuses
// a null or empty name (it would otherwise delete the product key or a front end's key).
#pragma once
#include <windows.h>

#ifdef QUORELREG_BUILD
#define QUORELREG_API WINAPI
#else
#define QUORELREG_API DECLSPEC_IMPORT WINAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

LONG QUORELREG_API SetRegPathKey(LPCSTR subKey1, LPCSTR subKey2);
LONG QUORELREG_API OpenKey(LPCSTR subKey1, LPCSTR subKey2);
LONG QUORELREG_API CloseKey(void);
LONG QUORELREG_API RegGetVal(LPCSTR valueName, LONG defaultValue);
LONG QUORELREG_API RegGetString(LPCSTR valueName, LPSTR output);
LONG QUORELREG_API RegSaveVal(LPCSTR valueName, LONG value);
LONG QUORELREG_API RegSaveString(LPCSTR valueName, LPCSTR text);
LONG QUORELREG_API ExtRegGetVal(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName);
LONG QUORELREG_API ExtRegGetString(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName, LPSTR output);
LONG QUORELREG_API ExtRegSaveVal(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName, LONG value);
LONG QUORELREG_API ExtRegSaveString(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName, LPCSTR text);
LONG QUORELREG_API CreateNewKey(LPCSTR subKey1, LPCSTR subKey2);
LONG QUORELREG_API CreateNewUserProfile(LPCSTR subKey1);
LONG QUORELREG_API ExtRegDeleteProfile(LPCSTR subKey1, LPCSTR subKey2);

#ifdef __cplusplus
}
#endif

// Sizes the callers rely on.
#define QUORELREG_MAX_STRING 255  // characters of a string value; buffers hold 256 bytes
#define QUORELREG_MAX_PATH 263    // characters of a composed key path
