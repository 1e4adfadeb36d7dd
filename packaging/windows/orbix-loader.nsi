; The Windows installer: scripts/package-windows runs makensis with
;   VERSION, STAGE (the folder to install), FILES and UNFILES (the File and Delete lines for it),
;   PROGRAMS (a CloseFirst line per program in it), OUTFILE.
; Silent: orbix-loader-setup.exe /S [/ADDTOPATH] [/D=FOLDER]; the uninstaller takes /S as well.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "ORBIX Loader"
!define BENCH "ORBIX Bench"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ORBIX Loader"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "CompanyName" "Calvane"
VIAddVersionKey "LegalCopyright" "MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\orbix-loader.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro OfferOpenWith program kind extension description
  WriteRegStr HKLM "Software\Classes\OrbixLoader.${kind}" "" "${description}"
  WriteRegStr HKLM "Software\Classes\OrbixLoader.${kind}\DefaultIcon" "" "$INSTDIR\${program},0"
  WriteRegStr HKLM "Software\Classes\OrbixLoader.${kind}\shell\open\command" "" '"$INSTDIR\${program}" "%1"'
  WriteRegStr HKLM "Software\Classes\${extension}\OpenWithProgids" "OrbixLoader.${kind}" ""
!macroend

!macro ForgetOpenWith kind extension
  DeleteRegKey HKLM "Software\Classes\OrbixLoader.${kind}"
  DeleteRegValue HKLM "Software\Classes\${extension}\OpenWithProgids" "OrbixLoader.${kind}"
  DeleteRegKey /ifempty HKLM "Software\Classes\${extension}\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\${extension}"
!macroend

; A running program's file cannot be opened for writing, nor replaced or removed: asks until it is
; closed. Silent, or cancelled, the run ends here with exit code 2, nothing changed.
!macro CloseFirst program
  ${Do}
    ClearErrors
    ${IfNot} ${FileExists} "$INSTDIR\${program}"
      ${Break}
    ${EndIf}
    FileOpen $0 "$INSTDIR\${program}" a
    ${IfNot} ${Errors}
      FileClose $0
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${program} is running. Close it, then choose Retry." /SD IDCANCEL IDRETRY +3
    SetErrorLevel 2
    Quit
  ${Loop}
!macroend

; $R2: where in PATH ($R0) the first entry naming the folder $R1 starts (any case, with or without
; a trailing backslash), -1 when none does; $R3: its length. Whole entries only: a longer folder
; whose name begins the same is another entry.
!macro FindPathEntryFunction un
Function ${un}FindPathEntry
  StrCpy $R2 -1
  StrCpy $R3 0
  StrLen $R4 $R0
  StrCpy $R5 0 ; where the entry being read starts
  StrCpy $R6 0
  ${Do}
    StrCpy $R7 $R0 1 $R6
    ${If} $R6 = $R4
    ${OrIf} $R7 == ";"
      IntOp $R8 $R6 - $R5
      StrCpy $R9 $R0 $R8 $R5
      StrCpy $R7 $R9 1 -1
      ${If} $R7 == "\"
        StrCpy $R9 $R9 -1
      ${EndIf}
      ${If} $R9 == $R1 ; case-insensitive
      ${AndIf} $R2 < 0
        StrCpy $R2 $R5
        StrCpy $R3 $R8
      ${EndIf}
      IntOp $R5 $R6 + 1
    ${EndIf}
    IntOp $R6 $R6 + 1
  ${LoopUntil} $R6 > $R4
FunctionEnd
!macroend
!insertmacro FindPathEntryFunction ""
!insertmacro FindPathEntryFunction "un."

Section "ORBIX Loader" SecProgram
  SectionIn RO
  SetShellVarContext all
  !include "${PROGRAMS}"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\orbix-loader.exe"
  CreateShortCut "$SMPROGRAMS\${BENCH}.lnk" "$INSTDIR\orbix-bench.exe"

  ; "Open with" for firmware (.s) and screens (.bin) files, without taking either type over.
  WriteRegStr HKLM "Software\Classes\Applications\orbix-loader.exe" "FriendlyAppName" "${PRODUCT}"
  WriteRegStr HKLM "Software\Classes\Applications\orbix-loader.exe\SupportedTypes" ".s" ""
  WriteRegStr HKLM "Software\Classes\Applications\orbix-loader.exe\SupportedTypes" ".bin" ""
  WriteRegStr HKLM "Software\Classes\Applications\orbix-loader.exe\shell\open\command" "" '"$INSTDIR\orbix-loader.exe" "%1"'
  !insertmacro OfferOpenWith "orbix-loader.exe" "Firmware" ".s" "ORBIX keypad firmware"
  !insertmacro OfferOpenWith "orbix-loader.exe" "Screens" ".bin" "ORBIX keypad screens"
  ; Bench profiles are the bench's own type: a double click opens them in it.
  WriteRegStr HKLM "Software\Classes\Applications\orbix-bench.exe" "FriendlyAppName" "${BENCH}"
  WriteRegStr HKLM "Software\Classes\Applications\orbix-bench.exe\SupportedTypes" ".orbix-bench" ""
  WriteRegStr HKLM "Software\Classes\Applications\orbix-bench.exe\shell\open\command" "" '"$INSTDIR\orbix-bench.exe" "%1"'
  !insertmacro OfferOpenWith "orbix-bench.exe" "BenchProfile" ".orbix-bench" "ORBIX bench profile"
  WriteRegStr HKLM "Software\Classes\.orbix-bench" "" "OrbixLoader.BenchProfile"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Calvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orbix-loader.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Command line in PATH" SecPath
  ; makensis' strings hold NSIS_MAX_STRLEN characters: a longer PATH would come back cut
  ; short (or empty), and writing it back would lose the rest of it. Leave such a PATH alone.
  ClearErrors
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrLen $1 "$0;$INSTDIR"
  ${If} ${Errors}
  ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
    MessageBox MB_OK|MB_ICONEXCLAMATION "PATH is too long to change safely here. Add $INSTDIR to PATH by hand to run orbix-flash from any folder." /SD IDOK
  ${Else}
    StrCpy $R0 $0
    StrCpy $R1 $INSTDIR
    Call FindPathEntry
    ; Already there (from an earlier install, or put there by hand): left as it is.
    ${If} $R2 < 0
      ${If} $0 != ""
        StrCpy $0 "$0;"
      ${EndIf}
      WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0$INSTDIR"
      WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}
SectionEnd

LangString DESC_SecProgram ${LANG_ENGLISH} "The ORBIX Loader window, the ORBIX Bench production window, the orbix-flash command line, and the Qt libraries they use."
LangString DESC_SecPath ${LANG_ENGLISH} "Adds the installation folder to PATH, so orbix-flash runs from any command prompt."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_SecProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} $(DESC_SecPath)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ; /ADDTOPATH chooses the PATH section for a silent install.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ADDTOPATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  !include "${PROGRAMS}"
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 = 1
    ClearErrors
    ReadRegStr $R0 HKLM "${ENVIRONMENT_KEY}" "Path"
    StrCpy $R1 $INSTDIR
    Call un.FindPathEntry
    ${IfNot} ${Errors}
    ${AndIf} $R2 >= 0
      ; The one entry and one of the semicolons beside it.
      ${If} $R2 > 0
        IntOp $R4 $R2 - 1
        StrCpy $R5 $R0 $R4
      ${Else}
        StrCpy $R5 ""
        IntOp $R3 $R3 + 1
      ${EndIf}
      IntOp $R4 $R2 + $R3
      StrCpy $R6 $R0 "" $R4
      WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$R5$R6"
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${BENCH}.lnk"
  DeleteRegKey HKLM "Software\Classes\Applications\orbix-loader.exe"
  DeleteRegKey HKLM "Software\Classes\Applications\orbix-bench.exe"
  !insertmacro ForgetOpenWith "Firmware" ".s"
  !insertmacro ForgetOpenWith "Screens" ".bin"
  ReadRegStr $0 HKLM "Software\Classes\.orbix-bench" ""
  ${If} $0 == "OrbixLoader.BenchProfile"
    DeleteRegValue HKLM "Software\Classes\.orbix-bench" ""
  ${EndIf}
  !insertmacro ForgetOpenWith "BenchProfile" ".orbix-bench"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
