; The Windows installer: the two programs, the guide and the Contact ID page beside them, the
; licence and notices, a Start-menu entry, the "*.stg" file type and an uninstaller.
; makensis -DVERSION=1.2.0 -DSTAGE=<folder with the files> -DOUT=<installer.exe> installer.nsi
; A 64-bit installer for a 64-bit program (and it runs where only 64-bit Windows code runs).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"

!define APP "torvik7-setup"
!define TITLE "Утилита настройки ТОРВИК-7"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define FILE_TYPE "Torvik7.Settings"

Name "${TITLE}"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "Software\${APP}" "InstallDir"
BrandingText "${APP} ${VERSION}"

!define MUI_ICON "${STAGE}\app.ico"
!define MUI_UNICON "${STAGE}\app.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\torvik7-setup.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Запустить утилиту"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductName" "${TITLE}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileDescription" "Установка: ${TITLE}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "LegalCopyright" "GPL-3.0-or-later"

Section "install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\torvik7-setup.exe"
  File "${STAGE}\torvik7ctl.exe"
  File "${STAGE}\help.html"
  File "${STAGE}\ContactIDEventCodes.html"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\THIRD-PARTY.md"
  File "${STAGE}\README-windows.txt"
  File "${STAGE}\app.ico"
  SetOutPath "$INSTDIR\licenses"
  File "${STAGE}\licenses\*.*"
  SetOutPath "$INSTDIR"

  CreateDirectory "$SMPROGRAMS\${TITLE}"
  CreateShortcut "$SMPROGRAMS\${TITLE}\${TITLE}.lnk" "$INSTDIR\torvik7-setup.exe"
  CreateShortcut "$SMPROGRAMS\${TITLE}\Руководство монтажника.lnk" "$INSTDIR\help.html"
  CreateShortcut "$SMPROGRAMS\${TITLE}\Удалить.lnk" "$INSTDIR\uninstall.exe"

  ; Settings files open in the utility.
  WriteRegStr HKCR ".stg" "" "${FILE_TYPE}"
  WriteRegStr HKCR "${FILE_TYPE}" "" "Настройки ТОРВИК-7"
  WriteRegStr HKCR "${FILE_TYPE}\DefaultIcon" "" "$INSTDIR\torvik7-setup.exe,0"
  WriteRegStr HKCR "${FILE_TYPE}\shell\open\command" "" '"$INSTDIR\torvik7-setup.exe" "%1"'

  WriteRegStr HKLM "Software\${APP}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\torvik7-setup.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\torvik7-setup.exe"
  Delete "$INSTDIR\torvik7ctl.exe"
  Delete "$INSTDIR\help.html"
  Delete "$INSTDIR\ContactIDEventCodes.html"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY.md"
  Delete "$INSTDIR\README-windows.txt"
  Delete "$INSTDIR\app.ico"
  ; The byte dump every read writes where the utility was started (the shortcut starts it here).
  Delete "$INSTDIR\data.txt"
  RMDir /r "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir /r "$SMPROGRAMS\${TITLE}"
  ; The file type goes only while it is still ours.
  ReadRegStr $0 HKCR ".stg" ""
  StrCmp $0 "${FILE_TYPE}" 0 +2
  DeleteRegKey HKCR ".stg"
  DeleteRegKey HKCR "${FILE_TYPE}"
  DeleteRegKey HKLM "Software\${APP}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
