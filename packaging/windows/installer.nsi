; The Windows installer, vantor-radio-config-VERSION-setup.exe. `make windows-package` runs
;   makensis /DVERSION=<version> /DWINDOW_EXE=... /DVANTORCTL_EXE=... /DOUTFILE=... installer.nsi
; with the version of the CMake project and the two programs of the Windows build, stripped.
;
; It installs the window and vantorctl.exe, a Start menu shortcut to the window and an uninstaller that
; Apps & features lists. By default for the current user alone, into the user's programs folder
; (%LOCALAPPDATA%\Programs), which needs no administrator; an administrator may choose all users
; (Program Files) on the first page. Silent: `setup.exe /S` (current user), `setup.exe /S /AllUsers`,
; `setup.exe /S /CurrentUser`, `/D=C:\some\folder` last to choose the folder. The uninstaller removes what
; the installer put there and nothing else; Apps & features runs it with the mode it was installed in.

!ifndef VERSION
  !error "VERSION is not defined: pass the CMake project version, /DVERSION=1.2.4.5"
!endif
!ifndef WINDOW_EXE
  !error "WINDOW_EXE is not defined: pass the path of vantor-radio-config.exe, /DWINDOW_EXE=..."
!endif
!if ! /FileExists "${WINDOW_EXE}"
  !error "WINDOW_EXE: no file ${WINDOW_EXE} (the window, vantor-radio-config.exe, is not built)"
!endif
!ifndef VANTORCTL_EXE
  !error "VANTORCTL_EXE is not defined: pass the path of vantorctl.exe, /DVANTORCTL_EXE=..."
!endif
!if ! /FileExists "${VANTORCTL_EXE}"
  !error "VANTORCTL_EXE: no file ${VANTORCTL_EXE} (run make windows)"
!endif
!ifndef OUTFILE
  !define OUTFILE "vantor-radio-config-${VERSION}-setup.exe"
!endif

; The programs are 64-bit, so is the installer: it then sees the 64-bit registry and Program Files.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!define PRODUCT "Vantor Radio Config"
!define PUBLISHER "Vantor"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

; VIProductVersion takes four numbers and nothing else, so a version of another form stops the build here.
VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

; Per user unless asked otherwise. "Highest" runs an administrator's installer elevated, so that the
; first page can offer all users; a user who is no administrator is never asked for one.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_USE_PROGRAMFILES64
; An installation already there (its InstallLocation) gives the folder and, failing the current user's,
; the mode: installing again replaces it rather than putting a second copy beside it.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_MUI
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh

!define MUI_ABORTWARNING
; The program's own icon, for the installer and the uninstaller (makensis works in this script's folder).
!define MUI_ICON "../../ui-win32/vantor.ico"
!define MUI_UNICON "../../ui-win32/vantor.ico"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  ; The build links the C and C++ runtimes in (cmake/mingw-w64-x86_64.cmake): both programs need no DLL
  ; beyond Windows' own.
  File "/oname=vantor-radio-config.exe" "${WINDOW_EXE}"
  File "/oname=vantorctl.exe" "${VANTORCTL_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\vantor-radio-config.exe" "" "$INSTDIR\vantor-radio-config.exe" 0 \
    SW_SHOWNORMAL "" "${PRODUCT}"

  ; SHCTX is HKCU or HKLM, as the mode is. The uninstaller is told its mode, so that it removes this
  ; installation even when the other mode's is there too.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantor-radio-config.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ; Everything in the folder, the uninstaller included, in KiB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  ; Only what the installer put there, by name; the folder goes only if nothing else is left in it.
  Delete "$INSTDIR\vantor-radio-config.exe"
  Delete "$INSTDIR\vantorctl.exe"
  Delete "${SHORTCUT}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
