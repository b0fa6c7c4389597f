; Korvel's installer for Windows: per user, no administrator rights, into
; %LOCALAPPDATA%\Programs\Korvel, one Start-menu shortcut, an uninstaller listed in the
; user's "Programs and Features". The build (packaging/windows/CMakeLists.txt) runs
;   makensis -DVERSION=2.0 -DVERSION_QUAD=2.0.0.0 -DSTAGE=<folder> -DFILES=<files.nsh>
;            -DOUTFILE=<setup.exe> [-DAMD64] korvel.nsi
; STAGE holds the files to install; FILES defines the macro KorvelFiles, which applies the
; macro it is given to every file name of the package, so the installer and the uninstaller
; handle the same list as the zip. AMD64 makes a 64-bit installer of the 64-bit build (the
; one this project's tests can run under Wine); the deliverable is the 32-bit one.
Unicode true
!ifdef AMD64
  Target amd64-unicode
!endif

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel"
!define SHORTCUT "$SMPROGRAMS\Korvel.lnk"

Name "Korvel ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma
; A reinstall goes where the last install went.
InstallDir "$LOCALAPPDATA\Programs\Korvel"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=0 "ProductName" "Korvel"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "Korvel ${VERSION} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "Trevane"
VIAddVersionKey /LANG=0 "LegalCopyright" "Trevane"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartKorvel
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\readme.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the fallback; the installer picks the one of the user's interface.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString KorvelRunning ${LANG_ENGLISH} "Korvel is running. Close it, then uninstall again."
LangString KorvelRunning ${LANG_JAPANESE} "Korvel が実行中です。終了してから、もう一度アンインストールしてください。"

!macro InstallOne NAME
  File "${STAGE}/${NAME}"
!macroend
!macro DeleteOne NAME
  Delete "$INSTDIR\${NAME}"
!macroend

Section
  SetOutPath "$INSTDIR"
  !insertmacro KorvelFiles InstallOne
  WriteUninstaller "$INSTDIR\uninst.exe"

  ; The program writes its capture file (.\output.wav) into the folder it starts in: from
  ; the shortcut that is the user's documents, not the program's folder, which the
  ; uninstaller removes.
  SetOutPath "$DOCUMENTS"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\korvel.exe" "" "$INSTDIR\korvel.exe" 0
  SetOutPath "$INSTDIR"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Korvel ${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvel.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Trevane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, as "Programs and Features" shows it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function StartKorvel
  SetOutPath "$DOCUMENTS"
  Exec '"$INSTDIR\korvel.exe"'
  SetOutPath "$INSTDIR"
FunctionEnd

; Removes exactly what the installer put there. The folder goes only when nothing else is
; left in it (a capture file saved there by hand stays, and with it the folder); the
; program's settings under HKCU\Software\Trevane\Korvel are the user's and stay too.
Section "Uninstall"
  ; A running korvel.exe cannot be deleted: stop before anything is removed, so that the
  ; entry stays in "Programs and Features" and the uninstall can be run again.
  ${If} ${FileExists} "$INSTDIR\korvel.exe"
    ClearErrors
    Delete "$INSTDIR\korvel.exe"
    ${If} ${Errors}
      MessageBox MB_ICONSTOP|MB_OK "$(KorvelRunning)" /SD IDOK
      Abort
    ${EndIf}
  ${EndIf}
  !insertmacro KorvelFiles DeleteOne
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
