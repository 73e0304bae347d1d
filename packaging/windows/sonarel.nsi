; The Windows installer (make windows; scripts/package-windows passes the
; defines): puts the program under Program Files, adds a Start menu entry,
; makes song files open in the keyboard with a double-click, and registers an
; uninstaller with the system. /S installs, and uninstall.exe /S removes,
; without a question.
;   VERSION       the program's version, as in CMakeLists.txt
;   ICON          the program's icon
;   FILES         File commands for the program's folder
;   UNFILES       Delete and RMDir commands that take exactly those away
;   INSTALLED_KB  the installed size, for the system's list of programs
;   OUTFILE       the installer to write

Unicode true
; A 64-bit program: the installer is one too, so that it sees the system's
; own Program Files and registry rather than the 32-bit ones.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh

!define APP "Sonarel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define CLASSES "Software\Classes"
; The program's own file types (it takes their double-click), and the ones
; it only offers to open, beside whatever program the user has for them.
!define SONG_TYPE "Sonarel.Song"
!define JIANPU_TYPE "Sonarel.Jianpu"
!define MIDI_TYPE "Sonarel.Midi"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${APP}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${APP} ${VERSION} 安装程序"
VIAddVersionKey /LANG=0 "LegalCopyright" "The Sonarel developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one used where the system's is neither.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString SONG_NAME ${LANG_SIMPCHINESE} "Sonarel 乐曲"
LangString SONG_NAME ${LANG_ENGLISH} "Sonarel song"
LangString JIANPU_NAME ${LANG_SIMPCHINESE} "简谱文件"
LangString JIANPU_NAME ${LANG_ENGLISH} "Numbered musical notation"
LangString MIDI_NAME ${LANG_SIMPCHINESE} "MIDI 文件"
LangString MIDI_NAME ${LANG_ENGLISH} "MIDI file"

; A type the keyboard opens with a double-click: a name, the program's icon
; and the command that hands the file to the keyboard already open.
!macro FileType PROGID NAME
  WriteRegStr HKLM "${CLASSES}\${PROGID}" "" "${NAME}"
  WriteRegStr HKLM "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\sonarel.exe,0"
  WriteRegStr HKLM "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\sonarel.exe" "%1"'
!macroend

; An extension that becomes the program's own: the type another program had
; for it is kept in the uninstall key, to be given back.
!macro OwnExtension EXT PROGID
  ReadRegStr $0 HKLM "${CLASSES}\${EXT}" ""
  ${If} $0 != ""
  ${AndIf} $0 != "${PROGID}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Replaced${EXT}" $0
  ${EndIf}
  WriteRegStr HKLM "${CLASSES}\${EXT}" "" "${PROGID}"
  WriteRegStr HKLM "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}" ""
!macroend

!macro UnOwnExtension EXT PROGID
  ReadRegStr $0 HKLM "${CLASSES}\${EXT}" ""
  ${If} $0 == "${PROGID}"
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "Replaced${EXT}"
    ${If} $1 != ""
      WriteRegStr HKLM "${CLASSES}\${EXT}" "" $1
    ${Else}
      DeleteRegValue HKLM "${CLASSES}\${EXT}" ""
    ${EndIf}
  ${EndIf}
  !insertmacro UnOfferExtension "${EXT}" "${PROGID}"
!macroend

; An extension the program only offers to open ("Open with").
!macro OfferExtension EXT PROGID
  WriteRegStr HKLM "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}" ""
!macroend

!macro UnOfferExtension EXT PROGID
  DeleteRegValue HKLM "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "${CLASSES}\${EXT}\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "${CLASSES}\${EXT}"
!macroend

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section
  !include "${FILES}"
  SetOutPath "$INSTDIR"
  ; Its being there tells the program that it was installed: its songs then
  ; go to the user's documents, not into Program Files.
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\sonarel.exe" "" "$INSTDIR\sonarel.exe" 0

  ; The uninstall key first: the types the program takes over keep what
  ; they were in it.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Sonarel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sonarel.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "https://sonarel.org/"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${INSTALLED_KB}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  !insertmacro FileType "${SONG_TYPE}" "$(SONG_NAME)"
  !insertmacro FileType "${JIANPU_TYPE}" "$(JIANPU_NAME)"
  !insertmacro FileType "${MIDI_TYPE}" "$(MIDI_NAME)"
  !insertmacro OwnExtension ".hbk" "${SONG_TYPE}"
  !insertmacro OwnExtension ".jianpu" "${JIANPU_TYPE}"
  !insertmacro OfferExtension ".mid" "${MIDI_TYPE}"
  !insertmacro OfferExtension ".midi" "${MIDI_TYPE}"
  !insertmacro OfferExtension ".txt" "${JIANPU_TYPE}"
  ; "Open with" lists the program by its name, for the types it takes.
  WriteRegStr HKLM "${CLASSES}\Applications\sonarel.exe" "FriendlyAppName" "${APP}"
  WriteRegStr HKLM "${CLASSES}\Applications\sonarel.exe\shell\open\command" "" '"$INSTDIR\sonarel.exe" "%1"'
  WriteRegStr HKLM "${CLASSES}\Applications\sonarel.exe\SupportedTypes" ".hbk" ""
  WriteRegStr HKLM "${CLASSES}\Applications\sonarel.exe\SupportedTypes" ".jianpu" ""
  WriteRegStr HKLM "${CLASSES}\Applications\sonarel.exe\SupportedTypes" ".mid" ""
  WriteRegStr HKLM "${CLASSES}\Applications\sonarel.exe\SupportedTypes" ".midi" ""
  WriteRegStr HKLM "${CLASSES}\Applications\sonarel.exe\SupportedTypes" ".txt" ""
  ; Explorer shows the new icons and commands without a new login.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

; The songs in Documents\Sonarel and the choices in AppData are the user's:
; they stay.
Section "Uninstall"
  !insertmacro UnOwnExtension ".hbk" "${SONG_TYPE}"
  !insertmacro UnOwnExtension ".jianpu" "${JIANPU_TYPE}"
  !insertmacro UnOfferExtension ".mid" "${MIDI_TYPE}"
  !insertmacro UnOfferExtension ".midi" "${MIDI_TYPE}"
  !insertmacro UnOfferExtension ".txt" "${JIANPU_TYPE}"
  DeleteRegKey HKLM "${CLASSES}\${SONG_TYPE}"
  DeleteRegKey HKLM "${CLASSES}\${JIANPU_TYPE}"
  DeleteRegKey HKLM "${CLASSES}\${MIDI_TYPE}"
  DeleteRegKey HKLM "${CLASSES}\Applications\sonarel.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  Delete "$SMPROGRAMS\${APP}.lnk"
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
