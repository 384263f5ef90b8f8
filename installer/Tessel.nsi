; Tessel's installer.
;   makensis -DVERSION=1.00 -DEXE=Tessel.exe -DREADME=ReadMe.txt -DOUTFILE=setup.exe Tessel.nsi
; -DX64 makes an installer of the x86_64 build (64-bit Program Files and
; registry view); the release itself ships the 32-bit one.
;
; Installs for all users into Program Files under the maker's name, adds a
; Start-menu shortcut and an entry under Add/Remove Programs. /S installs and
; uninstalls silently. Uninstalling removes the program's files, the
; shortcut and the entry; the user's settings under
; HKEY_CURRENT_USER\Software\Brindle\Tessel stay.

; Users start the installer from their download folder, beside whatever
; else was downloaded there. NSIS 3 installers and uninstallers restrict
; their own library search to the system folder before they load anything
; (SetDefaultDllDirectories, or system libraries preloaded by full path
; where Windows lacks it); older versions search the installer's folder
; first. This script uses no plug-ins, whose libraries would need the same
; care.
!if ${NSIS_PACKEDVERSION} < 0x03000000
!error "NSIS 3.0 or later is needed: older installers load libraries from their own folder"
!endif

Unicode true
!ifdef X64
Target amd64-unicode
!endif
SetCompressor /SOLID lzma

!include "FileFunc.nsh"

; -DSIGNER=script: a command that signs the file it is given in place; it
; signs the uninstaller before it is packed, and the finished installer.
!ifdef SIGNER
!uninstfinalize '"${SIGNER}" "%1"'
!finalize '"${SIGNER}" "%1"'
!endif

!define MAKER "Brindle"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessel"

Name "Tessel ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
!ifdef X64
InstallDir "$PROGRAMFILES64\${MAKER}\Tessel"
!else
InstallDir "$PROGRAMFILES\${MAKER}\Tessel"
!endif

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Tessel"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Tessel ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro ChooseViews
!ifdef X64
    SetRegView 64
!endif
    SetShellVarContext all
!macroend

Function .onInit
    !insertmacro ChooseViews
FunctionEnd

Function un.onInit
    !insertmacro ChooseViews
FunctionEnd

Section "Tessel"
    SetOutPath "$INSTDIR"
    File "/oname=Tessel.exe" "${EXE}"
    File "/oname=ReadMe.txt" "${README}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Tessel.lnk" "$INSTDIR\Tessel.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tessel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tessel.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\Tessel.exe"
    ; What the program's own updater leaves beside it.
    Delete "$INSTDIR\Tessel_old.exe"
    Delete "$INSTDIR\Tessel_new.exe"
    Delete "$INSTDIR\ReadMe.txt"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    ; The maker's folder goes only when nothing else of the maker's is in it.
    RMDir "$INSTDIR\.."
    Delete "$SMPROGRAMS\Tessel.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
