; The Morvenit installer: per user, no administrator rights. Built by CMake (target "installer"):
;   makensis -DSOURCE_DIR=<repo> -DPROGRAM=<morvenit.exe> -DOUTFILE=<setup.exe> morvenit.nsi
; It puts morvenit.exe under the user's local programs folder, a "Morvenit" shortcut on the desktop
; (files dropped on it are processed), in Send To and in the Start menu, the right-click verb
; "Shred with Morvenit", and an entry in the installed-programs list. /S installs silently,
; /D=FOLDER (last) chooses the folder. The uninstaller removes exactly those and nothing else; it
; too takes /S.

Unicode true
; Debian's default stubs are 32-bit; the 64-bit ones run wherever the 64-bit program does.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "FileFunc.nsh"
!include "LogicLib.nsh"

; The version and the notice come from the header the program itself is built with.
!searchparse /file "${SOURCE_DIR}/windows/version.h" `#define MORVENIT_VERSION "` VERSION `"`
!searchparse /file "${SOURCE_DIR}/windows/version.h" `#define MORVENIT_VERSION_DOTTED "` VERSION_DOTTED `"`
!searchparse /file "${SOURCE_DIR}/windows/version.h" `#define MORVENIT_COMPANY "` COMPANY `"`
!searchparse /file "${SOURCE_DIR}/windows/version.h" `#define MORVENIT_COPYRIGHT_NOTICE L"Copyright \x00A9 ` COPYRIGHT_REST `"`
!define COPYRIGHT "Copyright ${U+00A9} ${COPYRIGHT_REST}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvenit"
!define UNINSTALLER "uninstall.exe"

; The verb is served by the program itself, as a local COM server of this class; COM starts it
; with this switch (and its own after it). Both are the program's, read from its sources.
!searchparse /file "${SOURCE_DIR}/windows/verb_server.h" `kVerbClassId[] = L"` VERB_CLASS `"`
!searchparse /file "${SOURCE_DIR}/startup/startup.h" `kServerSwitch[] = L"` SERVER_SWITCH `"`
!define CLASS_KEY "Software\Classes\CLSID\${VERB_CLASS}"
; On files, folders and any mix of them: one key, so a selection is one invocation.
!define VERB_PARENT "Software\Classes\AllFilesystemObjects"
!define VERB_KEY "${VERB_PARENT}\shell\Morvenit"
; A drop on the program's icon or Send To entry goes to the same server (Windows 7 and later).
!define APP_PATHS "Software\Microsoft\Windows\CurrentVersion\App Paths"
!define APP_PATH_KEY "${APP_PATHS}\morvenit.exe"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "Morvenit"
Caption "Morvenit ${VERSION} Setup"
UninstallCaption "Morvenit ${VERSION} Uninstall"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Morvenit"
; An upgrade goes where the first installation went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
Icon "${SOURCE_DIR}/assets/morvenit.ico"
UninstallIcon "${SOURCE_DIR}/assets/morvenit.ico"
BrandingText "Morvenit ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_DOTTED}"
VIFileVersion "${VERSION_DOTTED}"
VIAddVersionKey /LANG=1033 "ProductName" "Morvenit"
VIAddVersionKey /LANG=1033 "FileDescription" "Morvenit ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

; Two plain pages: where to, then the copying. No welcome, no licence.
Page directory
Page instfiles
UninstPage instfiles

Section "Morvenit"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  ; Over an earlier installation: the files are replaced in place.
  SetOverwrite on
  File "/oname=morvenit.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The working folder stays the system default: the program never needs one.
  SetOutPath ""
  CreateShortCut "$DESKTOP\Morvenit.lnk" "$INSTDIR\morvenit.exe" "" "$INSTDIR\morvenit.exe" 0
  CreateShortCut "$SENDTO\Morvenit.lnk" "$INSTDIR\morvenit.exe" "" "$INSTDIR\morvenit.exe" 0
  CreateShortCut "$SMPROGRAMS\Morvenit.lnk" "$INSTDIR\morvenit.exe" "" "$INSTDIR\morvenit.exe" 0

  ; Written afresh, so that an upgrade leaves one set and nothing of an older one.
  DeleteRegKey HKCU "${CLASS_KEY}"
  DeleteRegKey HKCU "${VERB_KEY}"
  DeleteRegKey HKCU "${APP_PATH_KEY}"
  WriteRegStr HKCU "${CLASS_KEY}" "" "Morvenit"
  WriteRegStr HKCU "${CLASS_KEY}\LocalServer32" "" '"$INSTDIR\morvenit.exe" ${SERVER_SWITCH}'
  WriteRegStr HKCU "${VERB_KEY}" "" "Shred with Morvenit"
  WriteRegStr HKCU "${VERB_KEY}" "Icon" "$INSTDIR\morvenit.exe,0"
  ; The whole selection in one drop, however large.
  WriteRegStr HKCU "${VERB_KEY}" "MultiSelectModel" "Player"
  ; A double click opens a file; it never shreds it.
  WriteRegStr HKCU "${VERB_KEY}" "NeverDefault" ""
  WriteRegStr HKCU "${VERB_KEY}\DropTarget" "CLSID" "${VERB_CLASS}"
  WriteRegStr HKCU "${APP_PATH_KEY}" "" "$INSTDIR\morvenit.exe"
  WriteRegStr HKCU "${APP_PATH_KEY}" "DropTarget" "${VERB_CLASS}"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Morvenit"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\morvenit.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, as the installed-programs list expects: the two files just written.
  ${GetSize} "$INSTDIR" "/M=morvenit.exe /S=0K /G=0" $0 $1 $2
  ${GetSize} "$INSTDIR" "/M=${UNINSTALLER} /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; Only what the installer wrote, by name. The folder goes only when nothing else is left in it,
  ; so a file of the user's kept there survives, and with it the folder.
  Delete "$DESKTOP\Morvenit.lnk"
  Delete "$SENDTO\Morvenit.lnk"
  Delete "$SMPROGRAMS\Morvenit.lnk"
  Delete "$INSTDIR\morvenit.exe"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ; The default folder's parent, which the installer may have made, if nothing else uses it.
  RMDir "$LOCALAPPDATA\Programs"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${CLASS_KEY}"
  DeleteRegKey HKCU "${VERB_KEY}"
  DeleteRegKey HKCU "${APP_PATH_KEY}"
  ; The keys above them, if the setup made them and nothing else uses them.
  DeleteRegKey /ifempty HKCU "${VERB_PARENT}\shell"
  DeleteRegKey /ifempty HKCU "${VERB_PARENT}"
  DeleteRegKey /ifempty HKCU "${APP_PATHS}"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
SectionEnd
