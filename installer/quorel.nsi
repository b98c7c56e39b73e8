; The Windows installer of the Quorel camera software: one setup program for the viewer, the
; capture driver, the TWAIN source, the NetMeeting wizard and, on Windows NT 4.0, the USB
; host-controller driver. Built by installer/make-installer (scripts/package) with Debian's
; makensis:
;   makensis -DQR_BIN=<folder of the built deliverables> -DQR_OUTFILE=<setup.exe>
;            [-DQR_HAVE_VIEWER] [-DQR_HAVE_USBHCD] installer/quorel.nsi
; ANSI (not Unicode), so that the same program runs on Windows 95/98/Me and on NT.
;
; What it makes, and the uninstaller removes again:
;   <system folder>   qrcamlib.dll, quorelreg.dll, vic32.dll (found there by all three front
;                     ends; counted under SharedDLLs), quorelavi.dll
;   <Windows>\twain_32\Quorel\qr3twn.ds
;   <program folder>  qr3viewer.exe, camera1.wav, confwizard.exe, the command-line tools
;                     qrsettings.exe, qrcapture.exe, qrscan.exe, and uninstall.exe
;   <system folder>\drivers\usbhcd.sys and its service key (Windows NT 4.0 only)
;   HKLM "Software\Orvane Imaging\User Info" "Name", "Company"
;   HKLM "Software\Orvane Imaging\Setup": the installation's own record (folder, version, the
;                     components installed, the capture driver's "msvideo" slot)
;   the capture driver in the first free "msvideo" slot: HKLM "Software\Microsoft\Windows NT\
;                     CurrentVersion\Drivers32" on NT, the [drivers] section of system.ini on 95/98
;   Start-menu shortcuts and the Add/Remove Programs entry.
; The front ends' profiles (the "QRViewer", "AVI" and "Twain" keys) are theirs: the installer
; never writes them, an upgrade keeps them, and the uninstaller keeps them unless told otherwise.

Unicode false
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef QR_BIN
  !error "QR_BIN must name the folder of the built deliverables"
!endif
!ifndef QR_OUTFILE
  !define QR_OUTFILE "quorel-camera-6.9.1-setup.exe"
!endif

!define PRODUCT "Quorel Digital Camera"
!define VERSION "6.9.1"
!define COMPANY "Orvane Imaging"
!define PRODUCT_KEY "Software\Orvane Imaging"
!define USER_INFO_KEY "${PRODUCT_KEY}\User Info"
!define SETUP_KEY "${PRODUCT_KEY}\Setup"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorel Digital Camera"
!define SHARED_DLLS_KEY "Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
!define DRIVERS32_KEY "Software\Microsoft\Windows NT\CurrentVersion\Drivers32"
!define DRIVERS_DESC_KEY "Software\Microsoft\Windows NT\CurrentVersion\drivers.desc"
!define CAPTURE_DRIVER "quorelavi.dll"
!define CAPTURE_DRIVER_NAME "Quorel Digital Camera AVI Driver"
!define CONFERENCING_KEY "Software\Microsoft\Conferencing\CaptureDevices\Quorel Digital Camera AVI Driver"
!define USB_SERVICE_KEY "SYSTEM\CurrentControlSet\Services\usbhcd"
!define MENU_FOLDER "$SMPROGRAMS\Quorel Digital Camera"

Name "${PRODUCT} ${VERSION}"
OutFile "${QR_OUTFILE}"
InstallDir "$PROGRAMFILES\Quorel Digital Camera"
InstallDirRegKey HKLM "${SETUP_KEY}" "Install Folder"
ShowInstDetails show
BrandingText "${COMPANY}"
ShowUninstDetails show

VIProductVersion "6.9.1.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "FileVersion" "6.9.1.0"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${COMPANY}"

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include WinVer.nsh
!include FileFunc.nsh
!include Sections.nsh

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC

Var UserName
Var UserCompany
Var NameField
Var CompanyField
Var CaptureSlot
Var InUse          ; files that are replaced or removed only when Windows restarts
Var KeepProfiles

!define MUI_LICENSEPAGE_TEXT_TOP "Please read about the software and its installation."
!insertmacro MUI_PAGE_LICENSE "readme.txt"
Page custom UserInfoPage UserInfoLeave
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------------------------
; Files

; Puts SOURCE at TARGET. A target that cannot be written (a capture program holding the driver,
; a running viewer) is replaced when Windows restarts: the new file goes beside it and the
; replacement is queued, and the user is told at the end. Never half-installed: the old file
; stays whole until then.
!macro QrPutFile SOURCE TARGET
  SetOverwrite try
  ClearErrors
  File "/oname=${TARGET}" "${SOURCE}"
  ${If} ${Errors}
    SetOverwrite on
    File "/oname=${TARGET}.new" "${SOURCE}"
    Rename /REBOOTOK "${TARGET}.new" "${TARGET}"
    DetailPrint "In use: ${TARGET} is replaced when Windows restarts"
    StrCpy $InUse "$InUse$\r$\n${TARGET}"
  ${EndIf}
  SetOverwrite on
!macroend

; Removes TARGET; one in use goes when Windows restarts.
!macro QrRemoveFile TARGET
  ClearErrors
  Delete "${TARGET}"
  ${If} ${Errors}
    Delete /REBOOTOK "${TARGET}"
    DetailPrint "In use: ${TARGET} is removed when Windows restarts"
    StrCpy $InUse "$InUse$\r$\n${TARGET}"
  ${EndIf}
!macroend

; The three shared libraries live in the system folder, where the viewer, the capture driver
; (loaded into any capture program) and the TWAIN source (loaded into any imaging program) all
; find them. Each is counted under SharedDLLs, as Windows expects of shared files: a copy that
; was there before without a count counts as one more user, so it is never taken away.
!macro QrSharedAdd NAME
  ReadRegDWORD $0 HKLM "${SHARED_DLLS_KEY}" "$SYSDIR\${NAME}"
  ${If} $0 == ""
    StrCpy $0 0
    ${If} ${FileExists} "$SYSDIR\${NAME}"
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
  IntOp $0 $0 + 1
  WriteRegDWORD HKLM "${SHARED_DLLS_KEY}" "$SYSDIR\${NAME}" $0
!macroend

!macro QrSharedRelease NAME
  ReadRegDWORD $0 HKLM "${SHARED_DLLS_KEY}" "$SYSDIR\${NAME}"
  ${If} $0 == ""
    StrCpy $0 1
  ${EndIf}
  IntOp $0 $0 - 1
  ${If} $0 <= 0
    DeleteRegValue HKLM "${SHARED_DLLS_KEY}" "$SYSDIR\${NAME}"
    !insertmacro QrRemoveFile "$SYSDIR\${NAME}"
  ${Else}
    WriteRegDWORD HKLM "${SHARED_DLLS_KEY}" "$SYSDIR\${NAME}" $0
  ${EndIf}
!macroend

; Deletes KEY when it holds neither values nor sub-keys (Windows' own keys that the installer
; may have been first to make, such as SharedDLLs; other programs' values in them stay).
!macro QrDeleteKeyIfEmpty KEY
  EnumRegKey $0 HKLM "${KEY}" 0
  EnumRegValue $1 HKLM "${KEY}" 0
  ${If} $0 == ""
  ${AndIf} $1 == ""
    DeleteRegKey /ifempty HKLM "${KEY}"
  ${EndIf}
!macroend

; ---------------------------------------------------------------------------------------------
; The capture driver's slot. Video for Windows knows ten capture drivers by the names "msvideo"
; and "msvideo1" to "msvideo9": values under Drivers32 on Windows NT, lines of system.ini's
; [drivers] section on Windows 95/98/Me. A slot that names another driver is another vendor's
; and is never written.

; $2 (0-9) -> $0, the slot's name
Function SlotName
  ${If} $2 = 0
    StrCpy $0 "msvideo"
  ${Else}
    StrCpy $0 "msvideo$2"
  ${EndIf}
FunctionEnd

; $0, a slot's name -> $1, the driver it names ("" when free)
!macro QrSlotValueFunction un
Function ${un}SlotValue
  ${If} ${IsNT}
    ReadRegStr $1 HKLM "${DRIVERS32_KEY}" $0
  ${Else}
    ReadINIStr $1 "$WINDIR\system.ini" "drivers" $0
  ${EndIf}
FunctionEnd
!macroend
!insertmacro QrSlotValueFunction ""
!insertmacro QrSlotValueFunction "un."

; -> $CaptureSlot: the slot this installation took before (if it is still ours or free), else a
; slot that already names the driver, else the first free one; "" when all ten are taken.
Function FindCaptureSlot
  StrCpy $CaptureSlot ""
  ReadRegStr $0 HKLM "${SETUP_KEY}" "Capture Driver Slot"
  ${If} $0 != ""
    Call SlotValue
    ${If} $1 == ""
    ${OrIf} $1 == "${CAPTURE_DRIVER}"
      StrCpy $CaptureSlot $0
      Return
    ${EndIf}
  ${EndIf}
  ${For} $2 0 9
    Call SlotName
    Call SlotValue
    ${If} $1 == "${CAPTURE_DRIVER}"
      StrCpy $CaptureSlot $0
      Return
    ${EndIf}
  ${Next}
  ${For} $2 0 9
    Call SlotName
    Call SlotValue
    ${If} $1 == ""
      StrCpy $CaptureSlot $0
      Return
    ${EndIf}
  ${Next}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; Removal of each component, shared by the uninstaller and by an upgrade that leaves a component
; out. Each removes only what the installer made.

!macro QrRemovalFunctions un
Function ${un}RemoveViewer
  !insertmacro QrRemoveFile "$INSTDIR\qr3viewer.exe"
  !insertmacro QrRemoveFile "$INSTDIR\camera1.wav"
  !insertmacro QrRemoveFile "$INSTDIR\QRVIEW32.HLP"
  Delete "${MENU_FOLDER}\Quorel Camera Viewer.lnk"
  DeleteRegValue HKLM "${SETUP_KEY}" "Viewer"
FunctionEnd

Function ${un}RemoveCaptureDriver
  ReadRegStr $0 HKLM "${SETUP_KEY}" "Capture Driver Slot"
  ${If} $0 != ""
    Call ${un}SlotValue
    ${If} $1 == "${CAPTURE_DRIVER}"
      ${If} ${IsNT}
        DeleteRegValue HKLM "${DRIVERS32_KEY}" $0
      ${Else}
        DeleteINIStr "$WINDIR\system.ini" "drivers" $0
      ${EndIf}
      DetailPrint "Capture driver slot $0 freed"
    ${EndIf}
  ${EndIf}
  ${If} ${IsNT}
    DeleteRegValue HKLM "${DRIVERS_DESC_KEY}" "${CAPTURE_DRIVER}"
    !insertmacro QrDeleteKeyIfEmpty "${DRIVERS_DESC_KEY}"
  ${EndIf}
  !insertmacro QrRemoveFile "$SYSDIR\${CAPTURE_DRIVER}"
  !insertmacro QrRemoveFile "$WINDIR\HELP\QUORELAVI.HLP"
  DeleteRegValue HKLM "${SETUP_KEY}" "Capture Driver Slot"
  DeleteRegValue HKLM "${SETUP_KEY}" "Capture Driver"
FunctionEnd

Function ${un}RemoveTwainSource
  !insertmacro QrRemoveFile "$WINDIR\twain_32\Quorel\qr3twn.ds"
  !insertmacro QrRemoveFile "$WINDIR\HELP\QUORELTWN.HLP"
  RMDir "$WINDIR\twain_32\Quorel"
  DeleteRegValue HKLM "${SETUP_KEY}" "TWAIN Source"
FunctionEnd

Function ${un}RemoveWizard
  !insertmacro QrRemoveFile "$INSTDIR\confwizard.exe"
  Delete "${MENU_FOLDER}\NetMeeting Wizard.lnk"
  ; The NetMeeting capture-device key the wizard writes describes this driver only.
  DeleteRegKey HKLM "${CONFERENCING_KEY}"
  DeleteRegValue HKLM "${SETUP_KEY}" "Wizard"
FunctionEnd

Function ${un}RemoveUsbDriver
  DeleteRegKey HKLM "${USB_SERVICE_KEY}"
  !insertmacro QrRemoveFile "$SYSDIR\drivers\usbhcd.sys"
  DeleteRegValue HKLM "${SETUP_KEY}" "USB Driver"
FunctionEnd

Function ${un}RemoveLibraries
  !insertmacro QrSharedRelease "qrcamlib.dll"
  !insertmacro QrSharedRelease "quorelreg.dll"
  !insertmacro QrSharedRelease "vic32.dll"
  !insertmacro QrDeleteKeyIfEmpty "${SHARED_DLLS_KEY}"
  !insertmacro QrRemoveFile "$INSTDIR\qrsettings.exe"
  !insertmacro QrRemoveFile "$INSTDIR\qrcapture.exe"
  !insertmacro QrRemoveFile "$INSTDIR\qrscan.exe"
  DeleteRegValue HKLM "${SETUP_KEY}" "Libraries"
FunctionEnd
!macroend
!insertmacro QrRemovalFunctions ""
!insertmacro QrRemovalFunctions "un."

; ---------------------------------------------------------------------------------------------
; Windows versions. Supported: Windows 95, 98 and Me, and Windows NT 4.0 and later (what the
; deliverables are built and their imports checked for). Refused: Windows NT 3.x (3.1, 3.5, 3.51:
; no Windows 95 shell for the shortcuts and Add/Remove Programs, no 32-bit TWAIN source manager)
; and Win32s on Windows 3.1 (no 32-bit drivers at all).
!macro QrRefuseUnsupportedWindows
  ${If} ${IsNT}
    ${IfNot} ${AtLeastWinNT4}
      MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} ${VERSION} needs Windows 95, Windows 98, Windows Me, or Windows NT 4.0 or later.$\r$\nThis version of Windows NT is not supported. Nothing was installed." /SD IDOK
      SetErrorLevel 1150 ; ERROR_OLD_WIN_VERSION
      Quit
    ${EndIf}
  ${ElseIfNot} ${AtLeastWin95}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} ${VERSION} needs Windows 95, Windows 98, Windows Me, or Windows NT 4.0 or later.$\r$\nThis version of Windows is not supported. Nothing was installed." /SD IDOK
    SetErrorLevel 1150
    Quit
  ${EndIf}
!macroend

; ---------------------------------------------------------------------------------------------
; Sections

Section "-Setup record"
  SetShellVarContext all
  ; An upgrade into another folder takes the program folder's files out of the old one.
  ReadRegStr $R0 HKLM "${SETUP_KEY}" "Install Folder"
  ${If} $R0 != ""
  ${AndIf} $R0 != $INSTDIR
    !insertmacro QrRemoveFile "$R0\qr3viewer.exe"
    !insertmacro QrRemoveFile "$R0\camera1.wav"
    !insertmacro QrRemoveFile "$R0\QRVIEW32.HLP"
    !insertmacro QrRemoveFile "$R0\confwizard.exe"
    !insertmacro QrRemoveFile "$R0\qrsettings.exe"
    !insertmacro QrRemoveFile "$R0\qrcapture.exe"
    !insertmacro QrRemoveFile "$R0\qrscan.exe"
    !insertmacro QrRemoveFile "$R0\uninstall.exe"
    RMDir "$R0"
  ${EndIf}
  SetOutPath "$INSTDIR"
  WriteRegStr HKLM "${USER_INFO_KEY}" "Name" "$UserName"
  WriteRegStr HKLM "${USER_INFO_KEY}" "Company" "$UserCompany"
  WriteRegStr HKLM "${SETUP_KEY}" "Install Folder" "$INSTDIR"
  WriteRegStr HKLM "${SETUP_KEY}" "Version" "${VERSION}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  CreateDirectory "${MENU_FOLDER}"
  CreateShortCut "${MENU_FOLDER}\Uninstall Quorel Digital Camera.lnk" "$INSTDIR\uninstall.exe"
SectionEnd

Section "-Libraries" SecLibraries
  ; Needed by the viewer, the capture driver and the TWAIN source; .onSelChange keeps this
  ; section selected exactly when one of them is. The command-line tools go with them.
  ReadRegStr $0 HKLM "${SETUP_KEY}" "Libraries"
  ${If} $0 != "1"
    !insertmacro QrSharedAdd "qrcamlib.dll"
    !insertmacro QrSharedAdd "quorelreg.dll"
    !insertmacro QrSharedAdd "vic32.dll"
  ${EndIf}
  !insertmacro QrPutFile "${QR_BIN}/qrcamlib.dll" "$SYSDIR\qrcamlib.dll"
  !insertmacro QrPutFile "${QR_BIN}/quorelreg.dll" "$SYSDIR\quorelreg.dll"
  !insertmacro QrPutFile "${QR_BIN}/vic32.dll" "$SYSDIR\vic32.dll"
  ; The command-line tools, which use them: profiles, a frame, a TWAIN acquisition.
  SetOutPath "$INSTDIR"
  !insertmacro QrPutFile "${QR_BIN}/qrsettings.exe" "$INSTDIR\qrsettings.exe"
  !insertmacro QrPutFile "${QR_BIN}/qrcapture.exe" "$INSTDIR\qrcapture.exe"
  !insertmacro QrPutFile "${QR_BIN}/qrscan.exe" "$INSTDIR\qrscan.exe"
  WriteRegStr HKLM "${SETUP_KEY}" "Libraries" "1"
SectionEnd

!ifdef QR_HAVE_VIEWER
Section "Viewer" SecViewer
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  !insertmacro QrPutFile "${QR_BIN}/qr3viewer.exe" "$INSTDIR\qr3viewer.exe"
  !if /FileExists "${QR_BIN}/camera1.wav"
    !insertmacro QrPutFile "${QR_BIN}/camera1.wav" "$INSTDIR\camera1.wav"
  !endif
  !if /FileExists "${QR_BIN}/QRVIEW32.HLP"
    !insertmacro QrPutFile "${QR_BIN}/QRVIEW32.HLP" "$INSTDIR\QRVIEW32.HLP"
  !endif
  CreateShortCut "${MENU_FOLDER}\Quorel Camera Viewer.lnk" "$INSTDIR\qr3viewer.exe"
  WriteRegStr HKLM "${SETUP_KEY}" "Viewer" "1"
SectionEnd
!endif

Section "Capture driver (Video for Windows)" SecCapture
  Call FindCaptureSlot
  ${If} $CaptureSlot == ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "All ten Video for Windows capture driver places (msvideo, msvideo1 to msvideo9) are taken by other drivers.$\r$\nThe capture driver was not installed; remove a capture driver you no longer use and run this setup again." /SD IDOK
    DetailPrint "Capture driver not installed: no free msvideo slot"
  ${Else}
    !insertmacro QrPutFile "${QR_BIN}/${CAPTURE_DRIVER}" "$SYSDIR\${CAPTURE_DRIVER}"
    !if /FileExists "${QR_BIN}/QUORELAVI.HLP"
      CreateDirectory "$WINDIR\HELP"
      !insertmacro QrPutFile "${QR_BIN}/QUORELAVI.HLP" "$WINDIR\HELP\QUORELAVI.HLP"
    !endif
    ${If} ${IsNT}
      WriteRegStr HKLM "${DRIVERS32_KEY}" $CaptureSlot "${CAPTURE_DRIVER}"
      WriteRegStr HKLM "${DRIVERS_DESC_KEY}" "${CAPTURE_DRIVER}" "${CAPTURE_DRIVER_NAME}"
    ${Else}
      WriteINIStr "$WINDIR\system.ini" "drivers" $CaptureSlot "${CAPTURE_DRIVER}"
    ${EndIf}
    WriteRegStr HKLM "${SETUP_KEY}" "Capture Driver Slot" $CaptureSlot
    WriteRegStr HKLM "${SETUP_KEY}" "Capture Driver" "1"
    DetailPrint "Capture driver registered as $CaptureSlot"
  ${EndIf}
SectionEnd

Section "TWAIN source" SecTwain
  CreateDirectory "$WINDIR\twain_32\Quorel"
  !insertmacro QrPutFile "${QR_BIN}/qr3twn.ds" "$WINDIR\twain_32\Quorel\qr3twn.ds"
  !if /FileExists "${QR_BIN}/QUORELTWN.HLP"
    CreateDirectory "$WINDIR\HELP"
    !insertmacro QrPutFile "${QR_BIN}/QUORELTWN.HLP" "$WINDIR\HELP\QUORELTWN.HLP"
  !endif
  WriteRegStr HKLM "${SETUP_KEY}" "TWAIN Source" "1"
SectionEnd

Section "NetMeeting wizard" SecWizard
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  !insertmacro QrPutFile "${QR_BIN}/confwizard.exe" "$INSTDIR\confwizard.exe"
  CreateShortCut "${MENU_FOLDER}\NetMeeting Wizard.lnk" "$INSTDIR\confwizard.exe"
  WriteRegStr HKLM "${SETUP_KEY}" "Wizard" "1"
SectionEnd

!ifdef QR_HAVE_USBHCD
Section "USB host-controller driver (Windows NT 4.0)" SecUsb
  ; A kernel driver (type 1) started by the I/O manager with the system drivers (start 1), in
  ; the group of bus drivers ("System Bus Extender"), so that the USB bus exists before the hub
  ; and camera drivers above it load; a failure is logged and Windows starts without USB
  ; (error control 1). It starts with the next restart.
  !insertmacro QrPutFile "${QR_BIN}/usbhcd.sys" "$SYSDIR\drivers\usbhcd.sys"
  WriteRegDWORD HKLM "${USB_SERVICE_KEY}" "Type" 1
  WriteRegDWORD HKLM "${USB_SERVICE_KEY}" "Start" 1
  WriteRegDWORD HKLM "${USB_SERVICE_KEY}" "ErrorControl" 1
  WriteRegStr HKLM "${USB_SERVICE_KEY}" "Group" "System Bus Extender"
  WriteRegExpandStr HKLM "${USB_SERVICE_KEY}" "ImagePath" "System32\drivers\usbhcd.sys"
  WriteRegStr HKLM "${USB_SERVICE_KEY}" "DisplayName" "Quorel USB Host Controller"
  WriteRegStr HKLM "${SETUP_KEY}" "USB Driver" "1"
  SetRebootFlag true
SectionEnd
!endif

Section "-Finish"
  SetShellVarContext all
  ; An upgrade that leaves a component out removes the one installed before.
  ReadRegStr $0 HKLM "${SETUP_KEY}" "Viewer"
  !ifdef QR_HAVE_VIEWER
    ${IfNot} ${SectionIsSelected} ${SecViewer}
    ${AndIf} $0 == "1"
      Call RemoveViewer
    ${EndIf}
  !else
    ${If} $0 == "1"
      Call RemoveViewer
    ${EndIf}
  !endif
  ReadRegStr $0 HKLM "${SETUP_KEY}" "Capture Driver"
  ${IfNot} ${SectionIsSelected} ${SecCapture}
  ${AndIf} $0 == "1"
    Call RemoveCaptureDriver
  ${EndIf}
  ReadRegStr $0 HKLM "${SETUP_KEY}" "TWAIN Source"
  ${IfNot} ${SectionIsSelected} ${SecTwain}
  ${AndIf} $0 == "1"
    Call RemoveTwainSource
  ${EndIf}
  ReadRegStr $0 HKLM "${SETUP_KEY}" "Wizard"
  ${IfNot} ${SectionIsSelected} ${SecWizard}
  ${AndIf} $0 == "1"
    Call RemoveWizard
  ${EndIf}
  ReadRegStr $0 HKLM "${SETUP_KEY}" "USB Driver"
  !ifdef QR_HAVE_USBHCD
    ${IfNot} ${SectionIsSelected} ${SecUsb}
    ${AndIf} $0 == "1"
      Call RemoveUsbDriver
    ${EndIf}
  !else
    ${If} $0 == "1"
      Call RemoveUsbDriver
    ${EndIf}
  !endif
  ReadRegStr $0 HKLM "${SETUP_KEY}" "Libraries"
  ${IfNot} ${SectionIsSelected} ${SecLibraries}
  ${AndIf} $0 == "1"
    Call RemoveLibraries
  ${EndIf}
  ${If} $InUse != ""
    MessageBox MB_OK|MB_ICONINFORMATION "These files are in use by a running program and are replaced when Windows restarts:$InUse$\r$\n$\r$\nRestart Windows before you use the camera." /SD IDOK
  ${EndIf}
  ${If} ${RebootFlag}
    SetErrorLevel 3010 ; ERROR_SUCCESS_REBOOT_REQUIRED, for silent installations
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !ifdef QR_HAVE_VIEWER
  !insertmacro MUI_DESCRIPTION_TEXT ${SecViewer} "QR3Viewer: live picture, stills, retouching, saving, copying and printing. A Start-menu shortcut."
  !endif
  !insertmacro MUI_DESCRIPTION_TEXT ${SecCapture} "The Video for Windows capture driver: capture, video mail and conferencing programs list the camera as a capture device."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecTwain} "The TWAIN data source: the Acquire command of imaging programs offers the camera."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecWizard} "Sets NetMeeting up to use the camera. A Start-menu shortcut."
  !ifdef QR_HAVE_USBHCD
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUsb} "USB support for Windows NT 4.0, which has none of its own. Starts with the next restart."
  !endif
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; ---------------------------------------------------------------------------------------------
; The name and company page, and start-up

Function UserInfoPage
  !insertmacro MUI_HEADER_TEXT "User Information" "Who will use the camera software?"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 24u "Your name and company are shown in the camera information of the viewer, the capture driver and the TWAIN source."
  Pop $0
  ${NSD_CreateLabel} 0 34u 22% 12u "&Name:"
  Pop $0
  ${NSD_CreateText} 24% 32u 76% 12u "$UserName"
  Pop $NameField
  ${NSD_CreateLabel} 0 54u 22% 12u "&Company:"
  Pop $0
  ${NSD_CreateText} 24% 52u 76% 12u "$UserCompany"
  Pop $CompanyField
  ${NSD_SetFocus} $NameField
  nsDialogs::Show
FunctionEnd

Function UserInfoLeave
  ${NSD_GetText} $NameField $UserName
  ${NSD_GetText} $CompanyField $UserCompany
FunctionEnd

; The libraries go with the three front ends.
Function .onSelChange
  !ifdef QR_HAVE_VIEWER
    ${If} ${SectionIsSelected} ${SecViewer}
      !insertmacro SelectSection ${SecLibraries}
      Return
    ${EndIf}
  !endif
  ${If} ${SectionIsSelected} ${SecCapture}
  ${OrIf} ${SectionIsSelected} ${SecTwain}
    !insertmacro SelectSection ${SecLibraries}
  ${Else}
    !insertmacro UnselectSection ${SecLibraries}
  ${EndIf}
FunctionEnd

Function .onInit
  !insertmacro QrRefuseUnsupportedWindows
  SetShellVarContext all
  !ifdef QR_HAVE_USBHCD
    ; Offered on Windows NT 4.0 only (later Windows has its own USB support, 95/98 run no NT
    ; drivers): elsewhere the section is hidden and not selected.
    ${IfNot} ${IsWinNT4}
      !insertmacro UnselectSection ${SecUsb}
      SectionSetText ${SecUsb} ""
    ${EndIf}
  !endif
  ; Name and company: an earlier installation's, else the ones Windows was registered to; the
  ; command line (/NAME=..., /COMPANY=...) overrides both, for silent installations.
  ReadRegStr $UserName HKLM "${USER_INFO_KEY}" "Name"
  ReadRegStr $UserCompany HKLM "${USER_INFO_KEY}" "Company"
  ${If} $UserName == ""
    ${If} ${IsNT}
      ReadRegStr $UserName HKLM "Software\Microsoft\Windows NT\CurrentVersion" "RegisteredOwner"
    ${Else}
      ReadRegStr $UserName HKLM "Software\Microsoft\Windows\CurrentVersion" "RegisteredOwner"
    ${EndIf}
  ${EndIf}
  ${If} $UserCompany == ""
    ${If} ${IsNT}
      ReadRegStr $UserCompany HKLM "Software\Microsoft\Windows NT\CurrentVersion" "RegisteredOrganization"
    ${Else}
      ReadRegStr $UserCompany HKLM "Software\Microsoft\Windows\CurrentVersion" "RegisteredOrganization"
    ${EndIf}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NAME=" $R1
  ${IfNot} ${Errors}
    StrCpy $UserName $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/COMPANY=" $R1
  ${IfNot} ${Errors}
    StrCpy $UserCompany $R1
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; The uninstaller

!macro QrRemoveIfInstalled VALUE FUNCTION
  ReadRegStr $0 HKLM "${SETUP_KEY}" "${VALUE}"
  ${If} $0 == "1"
    Call ${FUNCTION}
  ${EndIf}
!macroend

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ; The profiles are the user's: kept unless the user says otherwise (silent: /REMOVEPROFILES).
  StrCpy $KeepProfiles 1
  ${If} ${Silent}
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/REMOVEPROFILES" $R1
    ${IfNot} ${Errors}
      StrCpy $KeepProfiles 0
    ${EndIf}
  ${Else}
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON1 "Keep your camera settings profiles (viewer, capture driver and TWAIN source)?$\r$\n$\r$\nKept profiles are used again if you install the camera software again." IDYES +2
    StrCpy $KeepProfiles 0
  ${EndIf}

  ; What the installation's record says it installed.
  !insertmacro QrRemoveIfInstalled "Viewer" un.RemoveViewer
  !insertmacro QrRemoveIfInstalled "Capture Driver" un.RemoveCaptureDriver
  !insertmacro QrRemoveIfInstalled "TWAIN Source" un.RemoveTwainSource
  !insertmacro QrRemoveIfInstalled "Wizard" un.RemoveWizard
  !insertmacro QrRemoveIfInstalled "USB Driver" un.RemoveUsbDriver
  !insertmacro QrRemoveIfInstalled "Libraries" un.RemoveLibraries

  Delete "${MENU_FOLDER}\Uninstall Quorel Digital Camera.lnk"
  RMDir "${MENU_FOLDER}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${SETUP_KEY}"
  DeleteRegKey HKLM "${USER_INFO_KEY}"
  ${If} $KeepProfiles = 0
    DeleteRegKey HKLM "${PRODUCT_KEY}\QRViewer"
    DeleteRegKey HKLM "${PRODUCT_KEY}\AVI"
    DeleteRegKey HKLM "${PRODUCT_KEY}\Twain"
    DetailPrint "Profiles removed"
  ${Else}
    DetailPrint "Profiles kept"
  ${EndIf}
  ; The product key goes only when nothing at all is left in it.
  !insertmacro QrDeleteKeyIfEmpty "${PRODUCT_KEY}"
  ${If} $InUse != ""
    MessageBox MB_OK|MB_ICONINFORMATION "These files are in use by a running program and are removed when Windows restarts:$InUse" /SD IDOK
  ${EndIf}
  ${If} ${RebootFlag}
    SetErrorLevel 3010
  ${EndIf}
SectionEnd
