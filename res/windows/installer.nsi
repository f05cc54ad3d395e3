; The Windows installer: QuavixServer-<version>-setup.exe, made by the "installer" target of the
; cross-build (cmake/WindowsInstaller.cmake), which passes VERSION, EXE (the program to ship)
; and OUTFILE.
;
; Installs QuavixServer.exe into Program Files with a Start-menu shortcut for all users and,
; unless left out, a Run value that starts it at the installing user's logon. Silent:
;   QuavixServer-1.0-setup.exe /S [/AUTOSTART=0|1] [/D=C:\path]
; The uninstaller removes the program, the shortcut, the Run value and its own registry entry,
; and leaves the user's port setting (HKCU\Software\Marrowick\Quavix) alone.

; A 64-bit installer for the 64-bit program: Program Files and the registry without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Quavix Server"
!define PROGRAM "QuavixServer.exe"
!define WINDOW_CLASS "QUAVIXSERVER"  ; IDS_WINDOW_CLASS in res/QuavixServer.rc
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuavixServer"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Quavix Server"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"  ; a reinstall goes to the same place
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "Marrowick"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Marrowick"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running copy holds its file open: ask it to quit (the window's close message is its Quit)
; and wait up to 10 s for its window to go.
!macro CLOSE_RUNNING_SERVER prefix
Function ${prefix}CloseRunningServer
  FindWindow $0 "${WINDOW_CLASS}"
  ${If} $0 == 0
    Return
  ${EndIf}
  DetailPrint "Closing the running ${PRODUCT}"
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
  ${For} $1 1 50
    Sleep 200
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
      ${Break}
    ${EndIf}
  ${Next}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_SERVER ""
!insertmacro CLOSE_RUNNING_SERVER "un."

; Deletes a file, retrying for up to 5 s while the process that had it open ends.
!macro DELETE_WITH_RETRY path
  ${For} $1 1 20
    ClearErrors
    Delete "${path}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    Sleep 250
  ${Next}
!macroend

Section "${PRODUCT}" SecProgram
  SectionIn RO
  Call CloseRunningServer
  SetOutPath "$INSTDIR"
  File "/oname=${PROGRAM}" "${EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Marrowick"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start ${PRODUCT} when I log on" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${PROGRAM}"'
SectionEnd

; Left out of a reinstall: the value of an earlier install goes.
Section "-Autostart off"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Function .onInit
  ; /AUTOSTART=0 leaves the logon start out, /AUTOSTART=1 (the default) keeps it.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART=" $1
  ${IfNot} ${Errors}
    ${If} $1 == "0"
      !insertmacro UnselectSection ${SecAutostart}
    ${ElseIf} $1 == "1"
      !insertmacro SelectSection ${SecAutostart}
    ${Else}
      MessageBox MB_ICONSTOP "Usage: /AUTOSTART=0 or /AUTOSTART=1" /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningServer
  !insertmacro DELETE_WITH_RETRY "$INSTDIR\${PROGRAM}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
