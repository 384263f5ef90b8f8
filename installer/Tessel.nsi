; Tessel's installer.
;   makensis -DVERSION=1.00 -DEXE=Tessel.exe -DREADME=ReadMe.txt -DOUTFILE=setup.exe Tessel.nsi
; -DX64 makes an installer of the x86_64 build (64-bit Program Files and
; registry view); the release itself ships the 32-bit one.
;
; Installs for the current user, without elevation, into the user's own
; programs folder (%LOCALAPPDATA%\Programs) under the maker's name, so that
; Tessel can update itself there; adds a Start-menu shortcut and an entry
; under Add/Remove Programs (HKCU). /AllUsers, for an administrator running
; it elevated, installs into Program Files for every user instead (Start
; menu and entry under HKLM). /S installs and uninstalls silently; /D=folder
; chooses the folder. Uninstalling removes the program's files, the shortcut
; and the entry; the user's settings under
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
!include "LogicLib.nsh"

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
RequestExecutionLevel user

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Tessel"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Tessel ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro ChooseRegView
!ifdef X64
    SetRegView 64
!endif
!macroend

Var AllUsers

; All users only when asked for and allowed: the machine's folders and
; entry need an administrator.
Function .onInit
    !insertmacro ChooseRegView
    StrCpy $AllUsers 0
    SetShellVarContext current
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/AllUsers" $1
    ${IfNot} ${Errors}
        ; Whether the machine's part of the registry takes a write tells an
        ; administrator without a plug-in (UserInfo would be one).
        ClearErrors
        WriteRegStr HKLM "Software\Brindle\Tessel Setup Check" "" ""
        ${If} ${Errors}
            MessageBox MB_ICONSTOP "Installing for all users needs an administrator." /SD IDOK
            Abort
        ${EndIf}
        DeleteRegKey HKLM "Software\Brindle\Tessel Setup Check"
        StrCpy $AllUsers 1
        SetShellVarContext all
    ${EndIf}
    ; /D= sets the folder before this runs.
    ${If} $INSTDIR == ""
    ${AndIf} $AllUsers == 1
!ifdef X64
        StrCpy $INSTDIR "$PROGRAMFILES64\${MAKER}\Tessel"
!else
        StrCpy $INSTDIR "$PROGRAMFILES\${MAKER}\Tessel"
!endif
    ${ElseIf} $INSTDIR == ""
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${MAKER}\Tessel"
    ${EndIf}
FunctionEnd

; The uninstaller removes an all-users installation when the machine's entry
; names its folder, and the current user's otherwise.
Function un.onInit
    !insertmacro ChooseRegView
    StrCpy $AllUsers 0
    SetShellVarContext current
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        StrCpy $AllUsers 1
        SetShellVarContext all
    ${EndIf}
FunctionEnd

Section "Tessel"
    SetOutPath "$INSTDIR"
    File "/oname=Tessel.exe" "${EXE}"
    File "/oname=ReadMe.txt" "${README}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Tessel.lnk" "$INSTDIR\Tessel.exe"

    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Tessel"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tessel.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
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
    ${If} $AllUsers == 0
        ; The user's programs folder goes only when it is empty.
        RMDir "$LOCALAPPDATA\Programs"
    ${EndIf}
    Delete "$SMPROGRAMS\Tessel.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
