; The Windows setup of the Scourline Configuration Wizard. make-setup.sh
; stages the program folder and gives this script:
;   VERSION   the project's version (2.69)
;   STAGE     the staged program folder
;   FILES     the include file that installs the staged files
;   UNFILES   the include file that deletes exactly those files
;   ART       the artwork folder
;   OUTFILE   the setup to write
Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "Scourline Configuration Wizard"
!define PUBLISHER "Valdane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Scourline"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Valdane\Scourline"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0.0"
VIFileVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright ${PUBLISHER}"

; What the finish page says, decided once the files are in place.
Var FinishText

!define MUI_ICON "${ART}/scourline.ico"
!define MUI_UNICON "${ART}/scourline.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${ART}/watermark.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${ART}/watermark.bmp"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT} ${VERSION}"
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_TEXT_LARGE
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_ICONSTOP "Please run the setup of ${PRODUCT} as Administrator." /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

; The highest folder of the installation path that the setup itself makes:
; the uninstaller removes up to it, and never a folder that was there before.
Function FirstMissingFolder
    Exch $0
    Push $1
    StrCpy $1 ""
    ${Do}
        ${If} ${FileExists} "$0\*.*"
            ${ExitDo}
        ${EndIf}
        StrCpy $1 $0
        ${GetParent} $0 $0
    ${LoopUntil} $0 == ""
    StrCpy $0 $1
    Pop $1
    Exch $0
FunctionEnd

Section "Install"
    SetShellVarContext all
    ClearErrors
    ReadRegStr $R9 HKLM "${UNINSTALL_KEY}" "CreatedFolder"
    ${If} ${Errors}
        Push $INSTDIR
        Call FirstMissingFolder
        Pop $R9
    ${EndIf}

    !include "${FILES}"

    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\scourline-wizard.exe" "" "$INSTDIR\scourline-wizard.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\scourline-wizard.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "CreatedFolder" "$R9"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; The wizard refuses to start without its image maker and boot loader
    ; installer, which this setup may not carry: say so rather than claim
    ; it is ready.
    StrCpy $FinishText "The wizard is installed in $INSTDIR and ready to start from the Start Menu."
    StrCpy $0 ""
    ${IfNot} ${FileExists} "$INSTDIR\mkisofs.exe"
        StrCpy $0 "$0$\r$\n    mkisofs.exe (an mkisofs-compatible image maker)"
    ${EndIf}
    ${IfNot} ${FileExists} "$INSTDIR\flash\syslinux.exe"
        StrCpy $0 "$0$\r$\n    flash\syslinux.exe (syslinux 6.04 for Windows)"
    ${EndIf}
    ${If} $0 != ""
        StrCpy $FinishText "The wizard is installed, but it will not start until you copy into$\r$\n$INSTDIR:$\r$\n$0$\r$\n$\r$\nThis setup cannot carry these programs."
        DetailPrint "Before the wizard will start, copy into $INSTDIR:$0"
    ${EndIf}
SectionEnd

Section "Uninstall"
    ReadRegStr $R9 HKLM "${UNINSTALL_KEY}" "CreatedFolder"
    Delete "${SHORTCUT}"
    !include "${UNFILES}"
    Delete "$INSTDIR\uninstall.exe"
    ; Only empty folders that the setup made go: files the user added (such
    ; as mkisofs.exe) and folders that were there before stay.
    ${If} $R9 != ""
        StrCpy $0 "$INSTDIR"
        ${Do}
            RMDir "$0"
            ${If} $0 == $R9
                ${ExitDo}
            ${EndIf}
            ${GetParent} $0 $0
        ${LoopUntil} $0 == ""
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; The stored options under HKCU\SOFTWARE\Valdane\Scourline stay, as
    ; they do when any Windows program is removed.
SectionEnd
