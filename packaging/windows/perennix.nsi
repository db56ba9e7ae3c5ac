; The Windows setup program: a per-user install of Perennix.exe (no administrator needed) into
; %LOCALAPPDATA%\Programs\Perennix, a folder the user may write, so that config.ini and log.txt
; stay beside the program as in a portable copy.
;
; makensis -DVERSION=1.0.0 -DEXE=Perennix.exe -DREADME=README.txt -DOUTFILE=setup.exe perennix.nsi
;
; Switches: /S silent; /D=FOLDER another folder (last, unquoted); /AUTOSTART start at login
; (the same HKCU Run value "Perennix" the program's 高级设置 writes). The uninstaller: /S silent,
; /REMOVECONFIG also removes config.ini and log.txt (kept otherwise).
; Exit codes: 0 done, 1 cancelled by the user, 2 aborted, 3 refused: Perennix runs from the
; install folder.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef VERSION | EXE | README | OUTFILE
  !error "define VERSION, EXE, README and OUTFILE"
!endif

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Perennix"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The message-only window each running Perennix.exe keeps for its one-copy-per-folder claim.
!define INSTANCE_CLASS "PerennixInstance"
!define EXIT_REFUSED 3

Name "Perennix"
Caption "Perennix ${VERSION} 安装"
UninstallCaption "Perennix ${VERSION} 卸载"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Perennix"
; An upgrade goes where the last install went.
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "Perennix ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "Perennix"
VIAddVersionKey /LANG=2052 "FileDescription" "Perennix 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Perennix"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define MUI_ICON "${__FILEDIR__}/../../resources/perennix.ico"
!define MUI_UNICON "${__FILEDIR__}/../../resources/perennix.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\Perennix.exe"
!define MUI_FINISHPAGE_RUN_TEXT "运行 Perennix"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; RunningHere: $0 is 1 when a Perennix.exe of the install folder runs (one of the claim windows
; belongs to a process of that file), else 0. Defined for the setup and the uninstaller alike.
!macro RUNNING_HERE un
Function ${un}RunningHere
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $0 0
  StrCpy $1 0
  ${Do}
    ; HWND_MESSAGE (-3): the claim windows are message-only.
    System::Call 'user32::FindWindowExW(p -3, p r1, w "${INSTANCE_CLASS}", p 0) p .r1'
    ${If} $1 P= 0
      ${Break}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r1, *i .r2)'
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r2) p .r3'
    ${If} $3 P<> 0
      System::Call 'kernel32::QueryFullProcessImageNameW(p r3, i 0, w .r4, *i ${NSIS_MAX_STRLEN}) i'
      System::Call 'kernel32::CloseHandle(p r3)'
      ${If} $4 == "$INSTDIR\Perennix.exe"
        StrCpy $0 1
        ${Break}
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Refuses while Perennix runs from the install folder: its files cannot be replaced then. The
; user may end it and retry; a silent run ends with exit code 3.
Function ${un}RefuseWhileRunning
  ${Do}
    Call ${un}RunningHere
    ${If} $0 == 0
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Perennix 正在从 $INSTDIR 运行，无法替换或删除它的文件。$\r$\n$\r$\n请先退出 Perennix（托盘菜单“退出程序”，或窗口的“关闭”），然后点“重试”。" \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_REFUSED}
    Quit
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro RUNNING_HERE ""
!insertmacro RUNNING_HERE "un."

; $0: 1 when the Run value "Perennix" starts the exe of the install folder (quoted or not).
!macro RUN_VALUE_IS_OURS
  ReadRegStr $0 HKCU "${RUN_KEY}" "Perennix"
  ${If} $0 == '"$INSTDIR\Perennix.exe"'
  ${OrIf} $0 == "$INSTDIR\Perennix.exe"
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
!macroend

Section "Perennix" SecMain
  SectionIn RO
  Call RefuseWhileRunning
  SetOutPath "$INSTDIR"
  ; config.ini and log.txt are the user's: an upgrade leaves them as they are.
  File "/oname=Perennix.exe" "${EXE}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext current
  CreateShortcut "$SMPROGRAMS\Perennix.lnk" "$INSTDIR\Perennix.exe" "" "$INSTDIR\Perennix.exe" 0

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "Perennix"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" '"$INSTDIR\Perennix.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "Perennix"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; Checked when the program of this folder already starts at login, so that an upgrade keeps
; the setting; unchecked, a value that starts this folder's program is removed.
Section /o "登录时自动启动 Perennix" SecLogin
  WriteRegStr HKCU "${RUN_KEY}" "Perennix" '"$INSTDIR\Perennix.exe"'
SectionEnd

Section "-LoginOff"
  ${IfNot} ${SectionIsSelected} ${SecLogin}
    !insertmacro RUN_VALUE_IS_OURS
    ${If} $0 == 1
      DeleteRegValue HKCU "${RUN_KEY}" "Perennix"
    ${EndIf}
  ${EndIf}
SectionEnd

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AUTOSTART" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecLogin}
  ${Else}
    !insertmacro RUN_VALUE_IS_OURS
    ${If} $0 == 1
      !insertmacro SelectSection ${SecLogin}
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "un.Perennix" SecUnMain
  SectionIn RO
  Call un.RefuseWhileRunning
  Delete "$INSTDIR\Perennix.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Perennix.lnk"
  !insertmacro RUN_VALUE_IS_OURS
  ${If} $0 == 1
    DeleteRegValue HKCU "${RUN_KEY}" "Perennix"
  ${EndIf}
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd

Section /o "un.删除设置和运行日志（config.ini、log.txt）" SecUnConfig
  Delete "$INSTDIR\config.ini"
  Delete "$INSTDIR\log.txt"
  ; what a save cut short left beside config.ini
  Delete "$INSTDIR\.config.ini.*.tmp"
SectionEnd

; The folder goes only when nothing is left in it: kept settings keep it.
Section "-un.Folder"
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVECONFIG" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecUnConfig}
  ${EndIf}
FunctionEnd
